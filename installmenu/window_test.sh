#!/usr/bin/env bash
# Runs the program on the test's X display: its window carries the title from
# the configuration and the theme's background colour, a second start hands
# over and ends with 1, and closing the window ends the program with 0.
#   window_test.sh PROGRAM KVTOOL
set -uo pipefail
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") kvtool=$2
here=$(cd "$(dirname "$0")" && pwd)
[ -n "${DISPLAY:-}" ] || { echo "no X display: skipped"; exit 0; }

base=${KV_TEST_TMP:-${TMPDIR:-/tmp}}
mkdir -p "$base"
root=$(mktemp -d "$base/window-XXXXXX")
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$root"' EXIT
export KV_WORLD_ROOT=$root/world
unset KV_INSTALLMENU_CONSOLE_REPORT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

title=$("$kvtool" config "$program" main_title)
[ -n "$title" ] || { echo "FAIL: no main_title in the configuration"; exit 1; }

(cd "$root" && exec "$program") > "$root/out" 2>&1 &
pid=$!
window=
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -1)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "FAIL: no window titled \"$title\""; cat "$root/out"; exit 1; }
sleep 0.3  # the first paint

# The background at a known pixel: the theme's shell background.
import -window "$window" "$root/shot.png" 2>/dev/null || fail "cannot take a screenshot"
pixel=$(convert "$root/shot.png" -format '%[pixel:p{4,4}]' info: 2>/dev/null)
case "$pixel" in
  "srgb(245,252,255)"|"rgb(245,252,255)") ;;
  *) fail "pixel (4,4) is $pixel, expected 245,252,255" ;;
esac

# A second start ends with 1 and leaves one window.
(cd "$root" && exec "$program" /package_file=second.msi) > "$root/out2" 2>&1
status=$?
[ "$status" -eq 1 ] || { fail "second start ended with $status, expected 1"; cat "$root/out2"; }
count=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | wc -l)
[ "$count" -eq 1 ] || fail "$count windows after the second start"

# Closing the window ends the program with 0.
python3 "$here/close_window.py" "$window" || fail "cannot ask the window to close"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  fail "the program still runs after its window closed"
else
  wait "$pid"
  status=$?
  pid=
  [ "$status" -eq 0 ] || { fail "the program ended with $status"; cat "$root/out"; }
fi

[ "$failures" -eq 0 ] && echo "all window checks passed"
exit "$failures"
