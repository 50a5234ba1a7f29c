#!/usr/bin/env bash
# Runs the program as a new user would on a machine without a display: it
# must say in words that there is no display and how to run it anyway, end
# with 1, and not crash.
#   no_display_test.sh PROGRAM
set -uo pipefail
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
base=${KV_TEST_TMP:-${TMPDIR:-/tmp}}
mkdir -p "$base"
root=$(mktemp -d "$base/nodisplay-XXXXXX")
trap 'rm -rf "$root"' EXIT
export KV_WORLD_ROOT=$root/world
unset KV_INSTALLMENU_CONSOLE_REPORT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

check() {  # CASE EXPECTED-LINE [ENV...]
  local name=$1 line=$2
  shift 2
  (cd "$root" && env "$@" "$program") > "$root/out" 2>&1
  status=$?
  [ "$status" -eq 1 ] || fail "$name: exit status $status, expected 1"
  for text in "there is no display to show its window on" "$line" "xvfb-run -a $program" \
              "xvfb-run -a scripts/run.sh" "KV_INSTALLMENU_CONSOLE_REPORT=1 $program"; do
    grep -qF -- "$text" "$root/out" || fail "$name: no \"$text\""
  done
  if grep -q "unable to open display" "$root/out"; then fail "$name: FOX's own line is all it says"; fi
  [ "$failures" -eq 0 ] || sed 's/^/    /' "$root/out"
}

check "DISPLAY unset" 'DISPLAY is not set, and there is no X display at ":0.0".' -u DISPLAY
check "DISPLAY names no server" 'The X display ":97" (from DISPLAY) could not be opened.' DISPLAY=:97

[ "$failures" -eq 0 ] && echo "all no-display checks passed"
exit "$failures"
