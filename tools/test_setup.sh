# Sourced by the tools' test scripts, before they change folder:
#   . "$(dirname "$0")/test_setup.sh" NAME
# Makes `root`, a new folder NAME-XXXXXX under KV_TEST_TMP (else TMPDIR, else
# /tmp) holding the platform layer's private world and drive C:, removed at
# exit unless KEEP is set; enters it; `fail` prints a failed check and counts
# it in `failures`.
base=${KV_TEST_TMP:-${TMPDIR:-/tmp}}
mkdir -p "$base"
root=$(mktemp -d "$base/$1-XXXXXX")
# Folders a test made read-only must not keep it from being removed.
trap '[ -n "${KEEP:-}" ] || { chmod -R u+w "$root" 2>/dev/null; rm -rf "$root"; }' EXIT
export KV_WORLD_ROOT=$root/world
export KV_DRIVE_C=$root/c
cd "$root" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
