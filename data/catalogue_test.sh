#!/usr/bin/env bash
# Checks the shipped catalogue as built, and that the catalogue builder turns
# down a source it would otherwise compile wrongly.
#   catalogue_test.sh KVTOOL CATALOGUE_SOURCE BUILT_CATALOGUE PROGRAM_ARCHIVE
set -uo pipefail
kvtool=$1 source=$2 built=$3 archive=$4

base=${KV_TEST_TMP:-${TMPDIR:-/tmp}}
mkdir -p "$base"
root=$(mktemp -d "$base/catalogue-XXXXXX")
trap 'rm -rf "$root"' EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The shipped catalogue: 2541 slots; quoted texts, escapes and placeholders as
# the source gives them; the archive carries the same file.
"$kvtool" catalogue dump "$built" > "$root/dump.txt" || fail "cannot dump $built"
head -1 "$root/dump.txt" | grep -q ": 2541 texts," || fail "the built catalogue does not hold 2541 texts"
[ "$(grep -vc '^#' "$root/dump.txt")" -eq 2541 ] || fail "the dump does not list 2541 slots"
while IFS= read -r expected; do
  grep -qxF -- "$expected" "$root/dump.txt" || fail "slot line missing: $expected"
done <<'EOF'
0	#0
439	To start, click a task
480	Installation complete
475	Propert⎂ies\t\tDisplay the properties of the selected item.
2258	Software\\Korvane\\DovecrestHome\\Settings
2540	#2540
EOF
# Slot 1153 holds the narrow bytes "22", a NUL and a padding NUL.
offset=$(od -An -tu4 -j $((8 + 4 * 1153)) -N4 "$built" | tr -d ' ')
bytes=$(od -An -tx1 -j $((8 + 4 * 2541 + offset)) -N4 "$built" | tr -d ' ')
[ "$bytes" = "32320000" ] || fail "slot 1153 holds $bytes, expected 32320000"
"$kvtool" extract "$archive" DovecrestVazediInstallMenu.msg "$root/member.msg" &&
  cmp -s "$built" "$root/member.msg" || fail "the archive's catalogue differs from the built one"

# A dump reads back as a source that builds the same file.
"$kvtool" catalogue build "$root/dump.txt" "$root/again.msg" > /dev/null &&
  cmp -s "$built" "$root/again.msg" || fail "dump and build do not round-trip"

# Sources the builder turns down, leaving no output behind.
refuse() {  # WHAT SOURCE-TEXT
  printf '%b' "$2" > "$root/bad.txt"
  if "$kvtool" catalogue build "$root/bad.txt" "$root/bad.msg" > /dev/null 2> "$root/err"; then
    fail "$1: accepted"
  fi
  [ -e "$root/bad.msg" ] && fail "$1: left an output file"
  [ -n "${VERBOSE:-}" ] && sed "s/^/    $1: /" "$root/err"
  rm -f "$root/bad.msg"
}
refuse "slot listed twice" '5\tone\n5\ttwo\n'
refuse "slot beyond the catalogue" '2541\tone too far\n'
refuse "unknown escape" '5\ta \\q escape\n'
refuse "backslash at the end" '5\ttrailing \\\n'
refuse "no tab" '5 text\n'
refuse "no slot number" 'five\ttext\n'
refuse "malformed UTF-8" '5\t\xc3\x28\n'
refuse "encoded surrogate" '5\t\xed\xa0\x80\n'

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "catalogue checks passed"
