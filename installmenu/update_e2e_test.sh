#!/usr/bin/env bash
# The update road end to end, as a user sees it, against a loopback update
# service (kvupdated) named by the registry's "ServerUrl": the menu's update
# item in state 0, then checking (1) while the service stays silent, then
# each end of a check: nothing newer (3), the service refusing (6), and a
# newer hotfix (2), which is downloaded behind the progress window, checked,
# applied to the installed product through the layer's installer engine
# ("Installation complete"), after which the menu comes back in state 2.
# Each state is a screenshot, checked by the icons of its items at their
# shipped colours (data/images): the update icon blue, the error icon red,
# the hotfix icon green.
#   update_e2e_test.sh PROGRAM KVINSTALL KVREG KVUPDATED
set -uo pipefail
program=$(realpath "$1") kvinstall=$(realpath "$2") kvreg=$(realpath "$3") kvupdated=$(realpath "$4")
here=$(cd "$(dirname "$0")" && pwd)
[ -n "${DISPLAY:-}" ] || { echo "no X display: skipped"; exit 0; }
for tool in xdotool import convert wixl msibuild zip python3; do
  command -v "$tool" > /dev/null || { echo "FAIL: $tool is missing"; exit 1; }
done

base=${KV_TEST_TMP:-${TMPDIR:-/tmp}}
mkdir -p "$base"
root=$(mktemp -d "$base/update-e2e-XXXXXX")
pid= watcher= service=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2> /dev/null
  [ -n "$service" ] && kill "$service" 2> /dev/null
  [ -n "$watcher" ] && kill "$watcher" 2> /dev/null
  rm -rf "$root"
}
trap cleanup EXIT
unset KV_INSTALLMENU_CONSOLE_REPORT KV_MSI_FORCED_RESULT KV_INSTALLMENU_TEST_VERB KV_INSTALLMENU_TEST_ITEM \
  KV_INSTALLMENU_TEST_TAKE_UPDATE TMP TEMP
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
shots=${KV_E2E_SHOTS:-$root/shots}
mkdir -p "$shots"

# ---- the product on the machine and the newer hotfix the service offers
mkdir -p "$root/src/idt" "$root/pkg" "$root/updates"
cat > "$root/src/product.wxs" << 'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="5A1F0C3B-7E24-4D9A-8B61-2C9E4F7A0D13" Name="Dovecrest" Language="1033" Version="16.0.5555"
           Manufacturer="Korvane" UpgradeCode="6D2B7A4E-91C3-4F58-A0E7-3B5C8D19F264">
    <Package Id="11111111-AAAA-4BBB-8CCC-000000000001" InstallerVersion="200" Compressed="yes" Description="Dovecrest"/>
    <Property Id="MsigenProductLanguage" Value="1"/>
    <Media Id="1" Cabinet="dovecrest.cab" EmbedCab="yes"/>
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
printf 'Property\tValue\ns72\tl0\nProperty\tProperty\nPatchName\tVazedi hotfix\n' > "$root/src/idt/Property.idt"
patch=VDHM_Vazedi_english.msp
msibuild "$root/src/$patch" -i "$root/src/idt/Property.idt" &&
  msibuild "$root/src/$patch" -s "Vazedi hotfix" Korvane "{5A1F0C3B-7E24-4D9A-8B61-2C9E4F7A0D13}" \
    "{D0FFEE00-1234-4ABC-9DEF-00112233AABB}" || { echo "FAIL: msibuild"; exit 1; }
# The service offers the hotfix as the menu ships it: a bundle holding the
# patch under the name of the product's language.
(cd "$root/src" && zip -q -0 "$root/updates/hotfix.exe" "$patch") || { echo "FAIL: zip"; exit 1; }
size=$(stat -c %s "$root/updates/hotfix.exe")
offer() {  # VERSION: the one full package the service offers
  printf '<update version="%s" description="A newer Vazedi hotfix"><file name="hotfix.exe" size="%s"/></update>' \
    "$1" "$size" > "$root/updates/catalogue.xml"
}
serve() {  # [MISBEHAVIOUR...]: (re)starts the service and points the machine at it
  [ -n "$service" ] && kill "$service" 2> /dev/null && wait "$service" 2> /dev/null
  coproc KVUPDATED { exec "$kvupdated" --root "$root/updates" --log "$root/requests.txt" "$@"; }
  service=$KVUPDATED_PID
  local line
  read -r line <&"${KVUPDATED[0]}"
  "$kvreg" add 'HKLM\SOFTWARE\Korvane\Update\Debug' /v ServerUrl /d "http://127.0.0.1:${line#http }/service" /f \
    > /dev/null || fail "kvreg add ServerUrl"
}

python3 "$here/map_watch.py" "$root/maps.txt" &
watcher=$!
for _ in $(seq 50); do grep -q watching "$root/maps.txt" 2> /dev/null && break; sleep 0.1; done

rm -rf "$root/world" "$root/c"
mkdir -p "$root/c/pkg"
export KV_WORLD_ROOT=$root/world KV_DRIVE_C=$root/c
cp "$root/pkg/product.msi" "$root/c/pkg/"
(cd "$root/c" && "$kvinstall" 'C:\pkg\product.msi') > "$root/kvinstall.out" 2>&1 ||
  { fail "the product did not install"; cat "$root/kvinstall.out"; }

title=$(awk -F'[<>]' '/name="main_title"/ { print $3; exit }' "$here/../data/configuration.xml")
start() {  # [ENV=VALUE...]: the menu, the test verb on the update item when given
  mark=$(wc -l < "$root/maps.txt")
  (cd "$root/c" && exec env "$@" "$program") > "$root/out" 2>&1 &
  pid=$!
}
since_start() { tail -n +"$((mark + 1))" "$root/maps.txt"; }
wait_window() {  # TITLE: the id of the first window of that title mapped since the start
  local id
  for _ in $(seq 200); do
    id=$(since_start | awk -v t="$1" '$1 == "map" { n = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ /, "", n);
           if (n == t && !id) id = $2 } END { print id }')
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  return 1
}
count() {  # PNG R,G,B: pixels of exactly that colour in the item list (right of the left pane, under the gradient)
  local w h
  read -r w h < <(identify -format '%w %h' "$1" 2> /dev/null)
  [ -n "$w" ] && [ "$w" -gt 200 ] && [ "$h" -gt 100 ] || { echo 0; return; }
  convert "$1" -crop "$((w - 200))x$((h - 100))+200+100" +repage -alpha off -fill black +opaque "rgb($2)" -fill white -opaque "rgb($2)" \
    -format '%[fx:round(mean*w*h)]' info: 2> /dev/null
}
# The icons of the item list in a screenshot of the menu: "U E H", the number
# of update icons and of error icons (676 and 760 pixels of their colour
# each), and whether a hotfix icon shows (its green, dimmed while disabled).
icons() {  # PNG
  local h
  h=$(count "$1" 40,150,70)
  echo "$(($(count "$1" 51,119,204) / 600)) $(($(count "$1" 200,48,40) / 700)) $((h > 0 ? 1 : 0))"
}
# Waits until the menu's screenshot shows the icons expected, keeps it as NAME.
expect_state() {  # NAME MENU_ID "U E H"
  local got
  for _ in $(seq 50); do
    import -window "$(($2))" "$shots/$1.png" 2> /dev/null
    got=$(icons "$shots/$1.png")
    [ "$got" = "$3" ] && return 0
    sleep 0.2
  done
  fail "$1: the menu shows icons \"$got\", expected \"$3\""
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
check_from() {  # NAME "U E H": a start that checks at once, ending in that state
  start KV_INSTALLMENU_TEST_VERB=install KV_INSTALLMENU_TEST_ITEM=update_proposal
  local menu
  menu=$(wait_window "$title") || { fail "$1: the menu never showed"; cat "$root/out"; return; }
  expect_state "$1" "$menu" "$2"
  close_and_expect_zero "$1" "$menu"
}

# ---- state 0: no check yet
offer 16.0.6000.0
serve
start
menu=$(wait_window "$title") || { fail "state 0: the menu never showed"; cat "$root/out"; exit 1; }
expect_state state0 "$menu" "1 0 1"
close_and_expect_zero "state 0" "$menu"

# ---- state 1: checking, while the service is silent; the menu stays live
serve --stall
check_from state1 "1 0 1"
[ "$(cmp -s "$shots/state0.png" "$shots/state1.png" && echo same)" = same ] && fail "state 1 looks like state 0"

# ---- state 3: nothing newer
offer 16.0.5555.0
serve
check_from state3 "1 0 1"
cmp -s "$shots/state0.png" "$shots/state3.png" && fail "state 3 looks like state 0"
cmp -s "$shots/state1.png" "$shots/state3.png" && fail "state 3 looks like state 1"

# ---- state 6: the service refuses
serve --error-root
check_from state6 "0 1 1"

# ---- state 2: a newer hotfix, downloaded, checked and applied
offer 16.0.6000.0
serve
start KV_INSTALLMENU_TEST_VERB=install KV_INSTALLMENU_TEST_ITEM=update_proposal KV_INSTALLMENU_TEST_TAKE_UPDATE=1
menu=$(wait_window "$title") || { fail "state 2: the menu never showed"; cat "$root/out"; exit 1; }
box=$(wait_window "Installation complete") || { fail "state 2: no \"Installation complete\""; since_start; cat "$root/out"; }
grep -q "^GET /files/hotfix.exe" "$root/requests.txt" || fail "state 2: the hotfix was not fetched"
# The busy window came (and went) before the install's own windows.
# The busy window has the menu's title: a second window of that title.
[ "$(since_start | awk -v t=" $title" '$1 == "map" && substr($0, length($0) - length(t) + 1) == t { print $2 }' |
  sort -u | wc -l)" -ge 2 ] || fail "state 2: no progress window"
if [ -n "${box:-}" ]; then
  xdotool key --window "$((box))" Return
  "$kvreg" query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\Patches\{D0FFEE00-1234-4ABC-9DEF-00112233AABB}' \
    2> /dev/null | grep -q 'ProductCode={5A1F0C3B-7E24-4D9A-8B61-2C9E4F7A0D13}' ||
    fail "state 2: the engine has no record of the downloaded hotfix"
fi
# "update_available" and "update_proposal" (update icons) with the downloaded
# hotfix's item in place of the local one.
expect_state state2 "$menu" "2 0 1"
close_and_expect_zero "state 2" "$menu"

[ "$failures" -eq 0 ] && echo "all update-road checks passed"
exit "$failures"
