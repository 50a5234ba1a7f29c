#!/usr/bin/env bash
# The main job end to end, as a user sees it, on the test's X display: the
# menu window appears; "install" on the hotfix item hides it, shows the
# progress window while the package is copied out of its bundle, applies a
# real patch (made with msibuild over a product made with wixl) through the
# layer's installer engine, says "Installation complete" and brings the menu
# back; closing it ends the program with 0. Then: a forced 3010 asks for the
# restart (answered No); a forced 1603 on a database shows the error box whose
# "View log" opens the log (recorded); without the product the hotfix says
# what is missing; a second start ends with 1 and raises the first window.
# The verb runs through the test seam (KV_INSTALLMENU_TEST_VERB and _ITEM);
# windows are found with xdotool and checked at known pixels of screenshots;
# map_watch.py records every window mapped, brief ones included.
#   menu_e2e_test.sh PROGRAM KVINSTALL KVTOOL KVREG
set -uo pipefail
program=$(realpath "$1") kvinstall=$(realpath "$2") kvtool=$(realpath "$3") kvreg=$(realpath "$4")
here=$(cd "$(dirname "$0")" && pwd)
[ -n "${DISPLAY:-}" ] || { echo "no X display: skipped"; exit 0; }
for tool in xdotool import convert wixl msibuild zip python3; do
  command -v "$tool" > /dev/null || { echo "FAIL: $tool is missing"; exit 1; }
done

base=${KV_TEST_TMP:-${TMPDIR:-/tmp}}
mkdir -p "$base"
root=$(mktemp -d "$base/menu-e2e-XXXXXX")
pid= watcher=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2> /dev/null
  [ -n "$watcher" ] && kill "$watcher" 2> /dev/null
  rm -rf "$root"
}
trap cleanup EXIT
unset KV_INSTALLMENU_CONSOLE_REPORT KV_MSI_FORCED_RESULT KV_MSI_ENGINE_VERSION KV_INSTALLMENU_TEST_VERB \
  KV_INSTALLMENU_TEST_ITEM TMP TEMP

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
title=$("$kvtool" config "$program" main_title)
[ -n "$title" ] || { echo "FAIL: no main_title in the configuration"; exit 1; }

# ---- packages: the product the hotfix updates, the hotfix patch, its bundle
mkdir -p "$root/src/idt" "$root/pkg" "$root/bin"
cat > "$root/src/product.wxs" << 'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="5A1F0C3B-7E24-4D9A-8B61-2C9E4F7A0D13" Name="Dovecrest" Language="1033" Version="16.0.5555"
           Manufacturer="Korvane" UpgradeCode="6D2B7A4E-91C3-4F58-A0E7-3B5C8D19F264">
    <Package Id="11111111-AAAA-4BBB-8CCC-000000000001" InstallerVersion="200" Compressed="yes" Description="Dovecrest"/>
    <Media Id="1" Cabinet="dovecrest.cab" EmbedCab="yes"/>
    <Property Id="MsigenProductEdition" Value="1"/>
    <Property Id="MsigenProductLanguage" Value="1"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Dovecrest">
          <Component Id="Main" Guid="21111111-2222-3333-4444-555555555555">
            <File Id="MainExe" Name="dovecrest.exe" Source="dovecrest.exe" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Core" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
WXS
echo "MZ dovecrest" > "$root/src/dovecrest.exe"
(cd "$root/src" && wixl -o "$root/pkg/product.msi" product.wxs) || { echo "FAIL: wixl"; exit 1; }
# The hotfix in the menu's own database form, for the error road.
sed -e 's/5A1F0C3B-7E24-4D9A-8B61-2C9E4F7A0D13/7B2E4C6A-1D3F-4E5A-9B8C-0D1E2F3A4B5C/' \
    -e 's/11111111-AAAA-4BBB-8CCC-000000000001/22222222-AAAA-4BBB-8CCC-000000000002/' \
    "$root/src/product.wxs" > "$root/src/hotfix.wxs"
(cd "$root/src" && wixl -o "$root/bin/Hotfix.msi" hotfix.wxs) || { echo "FAIL: wixl"; exit 1; }
patch=VDHM_Vazedi_english.msp
printf 'Property\tValue\ns72\tl0\nProperty\tProperty\nPatchName\tVazedi hotfix\n' > "$root/src/idt/Property.idt"
msibuild "$root/src/$patch" -i "$root/src/idt/Property.idt" &&
  msibuild "$root/src/$patch" -s "Vazedi hotfix" Korvane "{5A1F0C3B-7E24-4D9A-8B61-2C9E4F7A0D13}" \
    "{C0FFEE00-1234-4ABC-9DEF-00112233AABB}" || { echo "FAIL: msibuild"; exit 1; }
# Padding in the bundle makes the copy out of it long enough to be seen.
head -c 20000000 /dev/urandom > "$root/src/padding.bin"
(cd "$root/src" && zip -q -0 "$root/pkg/bundle.exe" "$patch" padding.bin) || { echo "FAIL: zip"; exit 1; }

# The desktop's opener, recorded: "View log" must reach it with the log.
mkdir -p "$root/opener"
cat > "$root/opener/xdg-open" << 'SH'
#!/bin/sh
printf '%s\n' "$*" >> "$KV_E2E_OPENED"
SH
chmod +x "$root/opener/xdg-open"
export PATH="$root/opener:$PATH" KV_E2E_OPENED="$root/opened.txt"

python3 "$here/map_watch.py" "$root/maps.txt" &
watcher=$!
for _ in $(seq 50); do grep -q watching "$root/maps.txt" 2> /dev/null && break; sleep 0.1; done

# ---- helpers
fresh_world() {  # a machine of its own for each case; with "installed", the product is on it
  rm -rf "$root/world" "$root/c"
  mkdir -p "$root/c/pkg"
  export KV_WORLD_ROOT=$root/world KV_DRIVE_C=$root/c
  cp "$root/pkg/bundle.exe" "$root/c/pkg/"
  if [ "${1:-}" = installed ]; then
    cp "$root/pkg/product.msi" "$root/c/pkg/"
    (cd "$root/c" && "$kvinstall" 'C:\pkg\product.msi') > "$root/kvinstall.out" 2>&1 ||
      { fail "the product did not install"; cat "$root/kvinstall.out"; }
  fi
}
start() {  # PROGRAM [ENV=VALUE...]: the menu with the hotfix bundle, the test verb on the hotfix item
  local exe=$1
  shift
  : > "$root/maps.txt.mark"
  mark=$(wc -l < "$root/maps.txt")
  (cd "$root/c" && exec env "$@" "$exe" '/package_file=C:\pkg\bundle.exe') > "$root/out" 2>&1 &
  pid=$!
}
since_start() { tail -n +"$((mark + 1))" "$root/maps.txt"; }
# The id of the newest window titled TITLE mapped since the start, other than
# EXCEPT (it may have gone again: the menu hides at once); "*" takes any
# title; with "first", the first such window; waits up to 20 s.
wait_menu() { wait_window "$title" none first; }
wait_window() {  # TITLE [EXCEPT [first]]
  local id
  for _ in $(seq 200); do
    id=$(since_start | awk -v t="$1" -v x="${2:-none}" -v first="${3:-}" '$1 == "map" { n = $0;
           sub(/^[^ ]+ [^ ]+ [^ ]+ /, "", n);
           if ((n == t || t == "*") && $2 != x && !(first && id)) id = $2 } END { print id }')
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  return 1
}
pixel() {  # WINDOW X Y: "R,G,B" of a screenshot
  import -window "$1" "$root/shot.png" 2> /dev/null || { echo "none"; return; }
  convert "$root/shot.png" -format '%[pixel:p{'"$2,$3"'}]' info: 2> /dev/null | sed -e 's/^s\?rgba\?(//' -e 's/)$//'
}
expect_pixel() {  # WHAT WINDOW X Y R,G,B
  local got
  for _ in $(seq 20); do
    got=$(pixel "$2" "$3" "$4")
    [ "$got" = "$5" ] && return 0
    sleep 0.1
  done
  fail "$1: pixel ($3,$4) is $got, expected $5"
}
# Waits until the menu is mapped again after its last unmap.
menu_back() {  # MENU_ID
  for _ in $(seq 100); do
    [ "$(since_start | awk -v w="$1" '$2 == w { last = $1 } END { print last }')" = map ] && return 0
    sleep 0.1
  done
  return 1
}
close_and_expect_zero() {  # WHAT MENU_ID
  python3 "$here/close_window.py" "$2" || fail "$1: cannot ask the menu to close"
  for _ in $(seq 100); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2> /dev/null; then
    fail "$1: the program still runs after its window closed"
    kill "$pid"
  else
    wait "$pid"
    local status=$?
    [ "$status" -eq 0 ] || { fail "$1: the program ended with $status"; cat "$root/out"; }
  fi
  pid=
}
# A background of the menu away from its pictures: the shell background.
menu_pixel() {  # WHAT MENU_ID
  local w
  w=$(xdotool getwindowgeometry "$(($2))" | awk '/Geometry/ { split($2, g, "x"); print g[1] }')
  expect_pixel "$1: the menu" "$2" "$((w - 40))" 300 "245,252,255"
}

# ---- the main road
fresh_world installed
# Where the hotfix's uninstall entry finds the update installer (the 32-bit
# view, as the program is 32-bit on Windows).
"$kvreg" add 'HKLM\SOFTWARE\Korvane\Dovecrest\Settings' /v KorvaneUpdateInstaller /d 'C:\Korvane\update.exe' /reg:32 \
  > /dev/null || fail "install: kvreg add"
start "$program" KV_INSTALLMENU_TEST_VERB=install KV_INSTALLMENU_TEST_ITEM=locale
menu=$(wait_menu) || { fail "install: the menu never showed"; cat "$root/out"; exit 1; }
box=$(wait_window "Installation complete") || { fail "install: no \"Installation complete\""; since_start; }
if [ -n "${box:-}" ]; then
  expect_pixel "install: the box's information sign" "$box" 28 40 "0,0,255"
  expect_pixel "install: the box's background" "$box" 10 10 "255,255,255"
  # In order: the menu went, the progress window came and went, then the box.
  # The progress window takes the first report's text as its title; a
  # window gone before the watcher could ask for its title shows as "-".
  order=$(since_start | awk -v m="$menu" -v p="Preparing to install..." '
    { n = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ /, "", n) }
    $2 == m && $1 == "unmap" && !hidden { hidden = NR }
    (n == p || n == "-") && $2 != m && $1 == "map" && !progress { progress = NR }
    (n == p || n == "-") && $2 != m && $1 == "unmap" && !progressGone { progressGone = NR }
    n == "Installation complete" && $1 == "map" && !done { done = NR }
    END { print (hidden && progress > hidden && progressGone > progress && done > progressGone) ? "ok" : "bad" }')
  [ "$order" = ok ] || { fail "install: the windows came in the wrong order"; since_start; }
  xdotool key --window "$((box))" Return
  menu_back "$menu" || fail "install: the menu did not come back"
  menu_pixel install "$menu"
  # The engine holds the patch against the product, and the hotfix's entry
  # in the list of programs names both.
  "$kvreg" query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\Patches\{C0FFEE00-1234-4ABC-9DEF-00112233AABB}' \
    2> /dev/null | grep -q 'ProductCode={5A1F0C3B-7E24-4D9A-8B61-2C9E4F7A0D13}' ||
    fail "install: the engine has no record of the patch"
  "$kvreg" query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{C0FFEE00-1234-4ABC-9DEF-00112233AABB}' \
    /v UninstallString /reg:32 2> /dev/null |
    grep -qF 'C:\Korvane\update.exe {C0FFEE00-1234-4ABC-9DEF-00112233AABB} {5A1F0C3B-7E24-4D9A-8B61-2C9E4F7A0D13}' ||
    fail "install: no uninstall entry for the hotfix"
fi
close_and_expect_zero install "$menu"

# ---- a restart is needed: the question, answered No; the menu returns
fresh_world installed
start "$program" KV_INSTALLMENU_TEST_VERB=install KV_INSTALLMENU_TEST_ITEM=locale KV_MSI_FORCED_RESULT="$patch=3010"
menu=$(wait_menu) || { fail "3010: the menu never showed"; exit 1; }
question=$(wait_window "Confirmation") || { fail "3010: no restart question"; since_start; cat "$root/out"; }
if [ -n "${question:-}" ]; then
  since_start | grep -q " Installation complete$" && fail "3010: \"Installation complete\" was shown"
  xdotool key --window "$((question))" alt+n
  menu_back "$menu" || fail "3010: the menu did not come back after No"
  [ -s "$root/world/run/shutdown-requests" ] && fail "3010: a restart was requested"
  menu_pixel 3010 "$menu"
fi
close_and_expect_zero 3010 "$menu"

# ---- a database that fails: the error box; "View log" opens the log
fresh_world
cp "$program" "$root/bin/DovecrestVazediInstallMenu"
archive="$(dirname "$program")/DovecrestVazediInstallMenu.dat"
cp "$archive" "$root/bin/DovecrestVazediInstallMenu.dat"
mkdir -p "$root/conf"
"$kvtool" extract "$archive" DovecrestVazediInstallMenu.xml "$root/conf/shipped.xml" > /dev/null &&
  "$kvtool" bxml2xml --exact "$root/conf/shipped.xml" "$root/conf/menu.xml" > /dev/null || fail "1603: cannot read the configuration"
# The hotfix item names the database lying beside the program.
python3 - "$root/conf/menu.xml" << 'PY'
import re, sys
p = sys.argv[1]
s = open(p, encoding="utf-8").read()
s = re.sub(r'(name="locale" verb="locale".*?)<file dynamic_href="[^"]*" name="locale_imager" */>',
           r'\1<file href="Hotfix.msi" name="locale_imager" />', s, count=1, flags=re.S)
open(p, "w", encoding="utf-8").write(s)
PY
grep -q 'href="Hotfix.msi"' "$root/conf/menu.xml" || fail "1603: the configuration was not changed"
"$kvtool" xml2bxml "$root/conf/menu.xml" "$root/conf/DovecrestVazediInstallMenu.xml" > /dev/null ||
  fail "1603: xml2bxml"
(cd "$root/conf" && zip -q "$root/bin/DovecrestVazediInstallMenu.dat" DovecrestVazediInstallMenu.xml) ||
  fail "1603: cannot replace the configuration"
: > "$root/opened.txt"
start "$root/bin/DovecrestVazediInstallMenu" KV_INSTALLMENU_TEST_VERB=install KV_INSTALLMENU_TEST_ITEM=locale \
  KV_MSI_FORCED_RESULT=Hotfix.msi=1603
menu=$(wait_menu) || { fail "1603: the menu never showed"; cat "$root/out"; exit 1; }
errorbox=$(wait_window "*" "$menu") || { fail "1603: no error box"; since_start; cat "$root/out"; }
if [ -n "${errorbox:-}" ]; then
  import -window "$((errorbox))" "$root/error.png" 2> /dev/null
  # "View log" stands left of OK; the focus starts on OK.
  xdotool key --window "$((errorbox))" shift+Tab space
  for _ in $(seq 50); do [ -s "$root/opened.txt" ] && break; sleep 0.1; done
  grep -q 'install_log.txt' "$root/opened.txt" || fail "1603: \"View log\" opened $(cat "$root/opened.txt")"
  menu_back "$menu" || { fail "1603: the menu did not come back"; since_start; }
fi
close_and_expect_zero 1603 "$menu"

# ---- the product is not installed: the hotfix says so, the menu returns
fresh_world
start "$program" KV_INSTALLMENU_TEST_VERB=install KV_INSTALLMENU_TEST_ITEM=locale
menu=$(wait_menu) || { fail "not installed: the menu never showed"; exit 1; }
missing=$(wait_window "*" "$menu") || { fail "not installed: no message"; since_start; cat "$root/out"; }
if [ -n "${missing:-}" ]; then
  import -window "$((missing))" "$root/missing.png" 2> /dev/null
  xdotool key --window "$((missing))" Return
  menu_back "$menu" || fail "not installed: the menu did not come back"
fi
close_and_expect_zero "not installed" "$menu"

# ---- a second start while the first runs: exit 1, the first raised
fresh_world
start "$program"
menu=$(wait_menu) || { fail "second start: the menu never showed"; exit 1; }
# A window laid over the menu, which the second start must put beneath it.
python3 - "$root/cover.pid" << 'PY' &
import ctypes, os, sys, time
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XCreateSimpleWindow.restype = ctypes.c_ulong
x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
x.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]
x.XMapRaised.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XFlush.argtypes = [ctypes.c_void_p]
d = x.XOpenDisplay(None)
w = x.XCreateSimpleWindow(d, x.XDefaultRootWindow(d), 0, 0, 400, 300, 0, 0, 0)
x.XStoreName(d, w, b"cover")
x.XMapRaised(d, w)
x.XFlush(d)
open(sys.argv[1], "w").write(str(os.getpid()))
time.sleep(60)
PY
cover=$!
cover_id=$(wait_window cover) || fail "second start: no cover window"
topmost() { xwininfo -root -children 2> /dev/null | awk '/^ +0x/ { print $1 }' | while read -r w; do
    xwininfo -id "$w" 2> /dev/null | grep -q "Map State: IsViewable" && { echo "$w"; break; }
  done; }
[ "$(topmost)" = "${cover_id:-x}" ] || fail "second start: the cover is not on top ($(topmost))"
(cd "$root/c" && exec "$program" '/package_file=C:\pkg\other.exe') > "$root/out2" 2>&1
status=$?
[ "$status" -eq 1 ] || { fail "second start ended with $status, expected 1"; cat "$root/out2"; }
for _ in $(seq 30); do [ "$(topmost)" = "$menu" ] && break; sleep 0.1; done
[ "$(topmost)" = "$menu" ] || fail "second start: the first window was not raised (top: $(topmost), menu: $menu)"
count=$(xdotool search --onlyvisible --name "^${title}\$" 2> /dev/null | wc -l)
[ "$count" -eq 1 ] || fail "second start: $count menu windows"
kill "$cover" 2> /dev/null
close_and_expect_zero "second start" "$menu"

[ "$failures" -eq 0 ] && echo "all end-to-end checks passed"
exit "$failures"
