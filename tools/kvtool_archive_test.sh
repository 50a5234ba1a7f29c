#!/usr/bin/env bash
# Runs kvtool's archive commands on crafted archives: extraction into a
# folder, names that would land outside it, damaged members that must not
# cost an existing file, escaped names in listings, progress on a terminal.
#   kvtool_archive_test.sh KVTOOL
set -uo pipefail
export LC_ALL=C  # names are counted in bytes
kvtool=$1

base=${KV_TEST_TMP:-${TMPDIR:-/tmp}}
mkdir -p "$base"
root=$(mktemp -d "$base/kvtool-XXXXXX")
trap 'rm -rf "$root"' EXIT
cd "$root" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

printf 'alpha\n' > a.txt
printf 'beta %.0s' $(seq 1 500) > b.txt
perl -e 'srand(7); print map { chr(int(rand(256))) } 1..4096' > c.txt  # stays stored

# An archive whose member names are QQQ... placeholders of the lengths of the
# names wanted, which are then written over them byte for byte.
#   craft OUT NAME...     (each member holds "data of NAME-index")
craft() {
  local out=$1 i=0 items=() ph
  shift
  for name in "$@"; do
    ph=$(printf 'Q%.0s' $(seq 1 ${#name}))
    ph="${ph:0:$((${#name} - 1))}$i"
    printf 'data %d' "$i" > "member$i"
    items+=("$ph=member$i")
    i=$((i + 1))
  done
  "$kvtool" build "$out" "${items[@]}" > /dev/null || { fail "cannot build $out"; return 1; }
  i=0
  for name in "$@"; do
    ph=$(printf 'Q%.0s' $(seq 1 ${#name}))
    ph="${ph:0:$((${#name} - 1))}$i"
    PH=$ph NAME=$name perl -0777 -pi -e 's/\Q$ENV{PH}\E/$ENV{NAME}/g' "$out"
    i=$((i + 1))
  done
}

# Every member into a folder, subfolders made, an existing file replaced.
"$kvtool" build good.zip a.txt sub/deeper/b.txt=b.txt c.txt > /dev/null || fail "cannot build good.zip"
mkdir -p out && printf 'old' > out/a.txt
"$kvtool" extract good.zip out > log 2>&1 || fail "extract into a folder: $(cat log)"
cmp -s a.txt out/a.txt || fail "a.txt not replaced"
cmp -s b.txt out/sub/deeper/b.txt || fail "sub/deeper/b.txt differs"
cmp -s c.txt out/c.txt || fail "c.txt differs"
[ -z "$(find out -name '*.kvtool-part*')" ] || fail "a file beside a target stayed"
"$kvtool" extract good.zip fresh/new > /dev/null 2>&1 && [ -f fresh/new/a.txt ] || fail "missing folder not made"

# The one-member form, to a file and to standard output.
"$kvtool" extract good.zip SUB\\DEEPER\\B.TXT one.txt && cmp -s b.txt one.txt || fail "extract MEMBER OUT"
[ "$("$kvtool" extract good.zip a.txt -)" = "alpha" ] || fail "extract MEMBER -"

# Names that would land outside the folder: the archive is refused and
# nothing is written, inside or outside.
mkdir -p jail/inside
i=0
for bad in "../escaped" "in/../../escaped" "$root/escaped" "\\escaped" "..\\escaped" "a\\..\\..\\e" \
           "C:escaped" "c:/escaped" "D:\\escaped" ".." "in/.."; do
  craft "bad$i.zip" "ok.txt" "$bad" || continue
  if "$kvtool" extract "bad$i.zip" jail/inside > log 2>&1; then
    fail "'$bad' was extracted"
  fi
  grep -q "refused" log || fail "'$bad': no refusal named: $(cat log)"
  [ -z "$(ls -A jail/inside)" ] || fail "'$bad': something was written: $(ls -A jail/inside)"
  [ "$(ls -A jail)" = "inside" ] || fail "'$bad': something landed beside the folder"
  i=$((i + 1))
done
[ -e "$root/escaped" ] && fail "an absolute name was written"

# A link inside the folder is not followed out of it.
mkdir -p outside linked
ln -s "$root/outside" linked/door
craft link.zip "door/x.txt"
"$kvtool" extract link.zip linked > log 2>&1 && fail "extract through a link succeeded"
[ -z "$(ls -A outside)" ] || fail "a file was written through the link"

# A damaged member (its bytes no longer match the CRC) leaves the file that
# was there as it was, in both forms, and nothing beside it.
"$kvtool" build damaged.zip c.txt > /dev/null
perl -e 'open(my $f, "+<", $ARGV[0]) or die; seek($f, 1000, 0); read($f, my $b, 1);
           seek($f, 1000, 0); print $f chr(ord($b) ^ 1)' damaged.zip
mkdir -p keep && printf 'precious' > keep/c.txt
"$kvtool" extract damaged.zip keep > log 2>&1 && fail "a damaged member was extracted"
[ "$(cat keep/c.txt)" = "precious" ] || fail "the existing file was lost (folder form)"
"$kvtool" extract damaged.zip c.txt keep/c.txt > log 2>&1 && fail "a damaged member was extracted (one member)"
[ "$(cat keep/c.txt)" = "precious" ] || fail "the existing file was lost (one-member form)"
[ "$(ls -A keep)" = "c.txt" ] || fail "files stayed beside: $(ls -A keep)"

# Listings show control characters escaped.
craft control.zip "$(printf 'a\033[2Jb')" "$(printf 'tab\there')" "$(printf 'c1\302\233x')" "caf$(printf '\303\251')"
"$kvtool" list control.zip > list.txt || fail "list failed"
grep -q "$(printf '\033')" list.txt && fail "an escape character reached the listing"
grep -qF 'a\x1B[2Jb' list.txt || fail "ESC not shown escaped: $(cat list.txt)"
grep -qF 'tab\x09here' list.txt || fail "tab not shown escaped"
grep -qF 'c1\xC2\x9Bx' list.txt || fail "C1 control not shown escaped"
grep -qF "caf$(printf '\303\251')" list.txt || fail "UTF-8 letters were escaped"

# Progress only on a terminal.
"$kvtool" extract good.zip quiet > out.txt 2> err.txt || fail "extract to files failed"
grep -q $'\r' err.txt out.txt && fail "progress written to files"
if command -v script > /dev/null; then
  script -qec "'$kvtool' extract good.zip tty" /dev/null > tty.txt 2>&1 < /dev/null
  grep -qF '[3/3]' tty.txt || fail "no progress on a terminal: $(cat -v tty.txt)"
fi

# Alone it prints its usage and succeeds; a bad command line exits 2.
out=$("$kvtool") && grep -q '^usage: kvtool COMMAND' <<< "$out" || fail "kvtool alone: $out"
"$kvtool" list > /dev/null 2>&1; [ $? -eq 2 ] || fail "list without an archive is no usage error"
"$kvtool" frobnicate > /dev/null 2>&1; [ $? -eq 2 ] || fail "unknown command is no usage error"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "kvtool archive checks passed"
