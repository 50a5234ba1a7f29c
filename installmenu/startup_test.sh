#!/usr/bin/env bash
# Runs a copy of the program in private folders and checks where it takes its
# message catalogue and archive from, and that a wrong catalogue ends it at
# start-up.
#   startup_test.sh PROGRAM KVTOOL CATALOGUE_SOURCE PROGRAM_ARCHIVE
set -uo pipefail
program=$1 kvtool=$2 source=$3 archive=$4
name=DovecrestVazediInstallMenu

base=${KV_TEST_TMP:-${TMPDIR:-/tmp}}
mkdir -p "$base"
root=$(mktemp -d "$base/startup-XXXXXX")
trap 'rm -rf "$root"' EXIT
export KV_WORLD_ROOT=$root/world
ulimit -c 0  # the aborts below are expected: no core files

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A catalogue whose slot 439 tells where it lies.
catalogue() {  # OUT TEXT [--count N]
  local out=$1 text=$2
  shift 2
  printf '439\t%s\n480\tInstallation complete\n' "$text" > "$root/src.txt"
  "$kvtool" catalogue build "$@" "$root/src.txt" "$out" > /dev/null || fail "cannot build $out"
}

# Runs the program in a fresh layout. Each case sets up bin/ (the program's
# folder) and work/ (the current folder) after `fresh`.
fresh() {
  rm -rf "$root/bin" "$root/work"
  mkdir -p "$root/bin" "$root/work"
  cp "$program" "$root/bin/$name"
}
run() {
  # The subshell's own report of an abort goes nowhere; the program's output
  # goes to out.
  (cd "$root/work" && "$root/bin/$name" > "$root/out" 2>&1) 2> /dev/null
  status=$?
}
expect_text() {  # CASE TEXT
  run
  if [ "$status" -ne 0 ]; then
    fail "$1: exit status $status"; sed 's/^/    /' "$root/out"; return
  fi
  grep -qF "  439  $2" "$root/out" || { fail "$1: slot 439 is not \"$2\""; sed 's/^/    /' "$root/out"; }
}
expect_line() {  # CASE TEXT
  grep -qF -- "$2" "$root/out" || { fail "$1: no \"$2\" in the report"; sed 's/^/    /' "$root/out"; }
}
expect_abort() {  # CASE
  run
  # SIGABRT: the shell reports 128 + 6. A crash would be another signal.
  [ "$status" -eq 134 ] || { fail "$1: exit status $status, expected an abort (134)"; sed 's/^/    /' "$root/out"; }
  [ -s "$root/out" ] && { fail "$1: printed before ending"; sed 's/^/    /' "$root/out"; }
}

shipped="To start, click a task"
catalogue "$root/cwd.msg" "from the current folder"
catalogue "$root/beside.msg" "from beside the program"
catalogue "$root/dat.msg" "from the dat file"
"$kvtool" build "$root/dat.zip" "$name.msg=$root/dat.msg" > /dev/null || fail "cannot build dat.zip"

# The program file with its archive appended, alone in an empty folder.
fresh
expect_text "appended archive" "$shipped"
expect_line "appended archive" "appended to the program at offset"
expect_line "appended archive" "from the program archive"
expect_line "appended archive" "$name.msg"
expect_line "appended archive" 'main_title                     "Vazedi for Dovecrest 2013"'

# The ".dat" file beside the program is preferred to the appended archive.
fresh
cp "$root/dat.zip" "$root/bin/$name.dat"
expect_text ".dat beside the program" "from the dat file"
expect_line ".dat beside the program" "$name.dat"
# That .dat holds no configuration: the one appended to the program is not used.
expect_line ".dat beside the program" "configuration: none"

# A configuration in the .dat is the one read.
fresh
printf '<resource><string name="main_title">from the dat file</string></resource>\n' > "$root/cfg.xml"
"$kvtool" xml2bxml "$root/cfg.xml" "$root/cfg.bxml" > /dev/null || fail "cannot compile cfg.xml"
"$kvtool" build "$root/bin/$name.dat" "$name.msg=$root/dat.msg" "$name.xml=$root/cfg.bxml" > /dev/null
expect_text ".dat with a configuration" "from the dat file"
expect_line ".dat with a configuration" 'main_title                     "from the dat file"'
expect_line ".dat with a configuration" 'main_url                       (absent)'

# The shipped ".dat" (the same archive) works on its own too.
fresh
cp "$archive" "$root/bin/$name.dat"
expect_text "shipped .dat" "$shipped"

# A ".dat" that is not a ZIP does not hide the appended archive.
fresh
echo "not an archive" > "$root/bin/$name.dat"
expect_text "non-ZIP .dat" "$shipped"
expect_line "non-ZIP .dat" "appended to the program at offset"

# A catalogue beside the program wins over the archive...
fresh
cp "$root/dat.zip" "$root/bin/$name.dat"
cp "$root/beside.msg" "$root/bin/$name.msg"
expect_text "catalogue beside the program" "from beside the program"
expect_line "catalogue beside the program" "from the program's folder"

# ...and one in the current folder over both.
cp "$root/cwd.msg" "$root/work/$name.msg"
expect_text "catalogue in the current folder" "from the current folder"
expect_line "catalogue in the current folder" "from the current folder ("

# A catalogue of the wrong size ends the program, even with a good archive.
for count in 2540 2542; do
  fresh
  catalogue "$root/work/$name.msg" "wrong size" --count "$count"
  expect_abort "$count texts"
done

# Crafted offsets: refused (an abort), never read through (a crash).
for at in 0 1000 2540; do
  fresh
  cp "$root/cwd.msg" "$root/work/$name.msg"
  printf '\xf0\xff\xff\x7f' | dd of="$root/work/$name.msg" bs=1 seek=$((8 + 4 * at)) conv=notrunc status=none
  expect_abort "offset of slot $at outside the block"
done
fresh
cp "$root/cwd.msg" "$root/work/$name.msg"
printf '\xff\xff\xff\xff' | dd of="$root/work/$name.msg" bs=1 seek=4 conv=notrunc status=none
expect_abort "text block size beyond the file"

# No catalogue anywhere: the program without its archive ends at start-up.
fresh
offset=$("$kvtool" list "$program" | sed -n 's/^archive at offset \([0-9]*\),.*/\1/p')
if [ -n "$offset" ] && [ "$offset" -gt 0 ]; then
  head -c "$offset" "$program" > "$root/bin/$name"
  expect_abort "no catalogue at all"
  # The same bare program runs with a catalogue beside it and reports no archive.
  cp "$root/beside.msg" "$root/bin/$name.msg"
  expect_text "bare program, catalogue beside it" "from beside the program"
  expect_line "bare program, catalogue beside it" "archive:   unreadable"
else
  fail "the built program carries no appended archive"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all start-up cases passed"
