#!/usr/bin/env bash
# Runs the program on an X display of its own (1024x768, 24 bits, the fonts
# the build installs) and checks the menu window at known pixels: maximised
# and borderless, the gradient band, the close glyph, the configuration's
# items in state 0 (hotfix, update proposal, support, help); a second start
# hands over and ends with 1; a click on the close button ends it with 0.
#   window_test.sh PROGRAM KVTOOL IMAGES
set -uo pipefail
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") kvtool=$2 images=$3
here=$(cd "$(dirname "$0")" && pwd)

# The pixels below are for this screen: run on a private server of that size.
if [ -z "${KV_WINDOW_TEST_SCREEN:-}" ]; then
  command -v xvfb-run > /dev/null || { echo "no xvfb-run: skipped"; exit 0; }
  export KV_WINDOW_TEST_SCREEN=1
  exec xvfb-run -a -s '-screen 0 1024x768x24' "$0" "$@"
fi

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
sleep 0.5  # the first paint

# Maximised over the whole screen; no window manager decorates it.
geometry=$(xdotool getwindowgeometry "$window" | tr -d ' ' | tr '\n' ' ')
case "$geometry" in
  *Position:0,0*Geometry:1024x768*) ;;
  *) fail "window geometry: $geometry, expected the whole 1024x768 screen" ;;
esac

import -window root "$root/shot.png" 2>/dev/null || fail "cannot take a screenshot"
pixel() { convert "$1" -format "%[pixel:p{$2}]" info: 2>/dev/null | sed 's/^srgba\?(\([0-9]*,[0-9]*,[0-9]*\).*/\1/'; }
expect() {  # WHAT X,Y RGB
  local got
  got=$(pixel "$root/shot.png" "$2")
  [ "$got" = "$3" ] || fail "$1: pixel ($2) is $got, expected $3"
}
# The same point of a picture the program ships, as the witness.
expect_picture() {  # WHAT X,Y PICTURE PX,PY
  expect "$1" "$2" "$(pixel "$images/$3" "$4")"
}

expect_picture "gradient band at the top-left corner" 4,4 top_gradient.png 4,4
expect_picture "gradient band under the top area" 300,20 top_gradient.png 300,20
expect "close glyph" 1001,16 "128,129,132"
expect "shell background right of the gradient" 900,200 "245,252,255"
# The items of state 0, their icons at their places in the category view:
# the rows are centred, the separator takes a row of its own.
expect_picture "update proposal icon" 442,246 item_update_48.png 24,24
expect_picture "update proposal icon" 442,232 item_update_48.png 24,10
expect_picture "support icon" 230,362 item_support_48.png 24,24
expect_picture "help icon" 442,369 item_support_48.png 24,24
expect_picture "help icon" 430,369 item_support_48.png 12,24
expect "separator between the rows" 300,322 "128,129,132"
# Nothing is chosen yet: the hotfix item, the list's current entry, shows its
# icon as it is, not in the selection's tint.
expect_picture "hotfix icon untinted" 230,251 item_hotfix_48.png 24,8
# Clear corners of an icon show the list's background, not black.
expect "support icon's clear corner" 207,339 "245,252,255"
# The left pane lets the gradient through; the top right keeps it too (no
# separator there); nothing to scroll, so no scroll bar.
expect_picture "gradient behind the left pane" 100,60 top_gradient.png 100,60
expect_picture "gradient behind the left pane" 20,90 top_gradient.png 20,90
expect_picture "gradient at the top right of the list" 700,53 top_gradient.png 700,53
expect "no scroll bar" 1012,300 "245,252,255"
expect "no scroll bar" 1012,60 "245,252,255"
# The left pane's logo carries the product's name (the picture is the witness).
expect_picture "logo panel" 95,344 bootmenu_logo_win.png 90,20
expect_picture "logo lettering" 42,360 bootmenu_logo_win.png 37,36
# No state item but the proposal: the place below the items is empty.
expect "nothing below the help item" 442,450 "245,252,255"

# A second start ends with 1 and leaves one window.
(cd "$root" && exec "$program" /package_file=second.msi) > "$root/out2" 2>&1
status=$?
[ "$status" -eq 1 ] || { fail "second start ended with $status, expected 1"; cat "$root/out2"; }
count=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | wc -l)
[ "$count" -eq 1 ] || fail "$count windows after the second start"

# A click on the close button ends the program with 0.
xdotool mousemove 1001 16 click 1
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  fail "the program still runs after its close button was clicked"
  # The window manager's way still works.
  python3 "$here/close_window.py" "$window"
else
  wait "$pid"
  status=$?
  pid=
  [ "$status" -eq 0 ] || { fail "the program ended with $status"; cat "$root/out"; }
fi

[ "$failures" -eq 0 ] && echo "all window checks passed"
exit "$failures"
