#!/usr/bin/env bash
# kvmsi's COM registration and dialog views against msiinfo export, on
# packages that msibuild makes from IDT texts.
#   kvmsi_periphery_test.sh KVMSI
set -uo pipefail
kvmsi=$(realpath "$1")

. "$(dirname "$0")/test_setup.sh" kvmsi-periphery
# table NAME HEADER TYPES KEYS ROW...: one IDT file (rows given with | for tabs).
table() {
  local name=$1 header=$2 types=$3 keys=$4
  shift 4
  {
    printf '%s\n%s\n%s\n' "$header" "$types" "$keys"
    for row in "$@"; do printf '%s\n' "$row"; done
  } | tr '|' '\t' >"idt/$name.idt"
}
# The rows of msiinfo export, without its three heading lines.
rows() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r'; }

mkdir idt
table Property 'Property|Value' 's72|l0' 'Property|Property' 'ProductName|Com Demo' 'MODE|Typical'
table Component 'Component|ComponentId|Directory_|Attributes|Condition|KeyPath' 's72|S38|s72|i2|S255|S72' \
  'Component|Component' 'C1|{11111111-2222-3333-4444-555555555555}|TARGETDIR|0||' \
  'C2|{11111111-2222-3333-4444-555555555556}|TARGETDIR|0||'
table TypeLib 'LibID|Language|Component_|Version|Description|Directory_|Feature_|Cost' \
  's38|i2|s72|I2|L128|S72|s32|I4' 'TypeLib|LibID|Language|Component_' \
  '{AAAAAAAA-0000-0000-0000-000000000001}|1033|C1|1|Demo types||F1|' \
  '{AAAAAAAA-0000-0000-0000-000000000002}|1|2K|2|One||F1|' '{AAAAAAAA-0000-0000-0000-000000000002}|12|K|2|Two||F1|7'
table AppId 'AppId|RemoteServerName|LocalService|ServiceParameters|DllSurrogate|ActivateAtStorage|RunAsInteractiveUser' \
  's38|S255|S255|S255|S255|I2|I2' 'AppId|AppId' '{BBBBBBBB-0000-0000-0000-000000000001}|[SERVER]||||1|' \
  '{BBBBBBBB-0000-0000-0000-000000000002}||Svc||||0'
table Class 'CLSID|Context|Component_|ProgId_Default|Description|AppId_|FileTypeMask|Icon_|IconIndex|DefInprocHandler|Argument|Feature_|Attributes' \
  's38|s32|s72|S255|L255|S38|S255|S72|I2|S32|S255|s38|I2' 'Class|CLSID|Context|Component_' \
  '{CCCCCCCC-0000-0000-0000-000000000001}|LocalServer32|C1|Demo.Doc.1|Demo document|{BBBBBBBB-0000-0000-0000-000000000001}||||||F1|' \
  '{CCCCCCCC-0000-0000-0000-000000000001}|InprocServer32|C2|Demo.Doc.1|Demo document|||||2||F1|1'
table ProgId 'ProgId|ProgId_Parent|Class_|Description|Icon_|IconIndex' 's255|S255|S38|L255|S72|I2' 'ProgId|ProgId' \
  'Demo.Doc.1||{CCCCCCCC-0000-0000-0000-000000000001}|Demo Document||' \
  'Demo.Doc|Demo.Doc.1||Any version||' 'Lone.1||{CCCCCCCC-0000-0000-0000-000000000009}|Lone||'
table Extension 'Extension|Component_|ProgId_|MIME_|Feature_' 's255|s72|S255|S64|s38' 'Extension|Extension|Component_' \
  'dmo|C1|Demo.Doc.1|application/x-demo|F1' 'dmo|C2|Demo.Doc.1|application/x-demo|F1' 'dmx|C1|Demo.Doc||F1' \
  'raw|C1|||F1'
table Verb 'Extension_|Verb|Sequence|Command|Argument' 's255|s32|I2|L255|S255' 'Verb|Extension_|Verb' \
  'dmo|open|1|&Open|"%1"' 'dmo|print||&Print|/p "%1"' 'raw|edit|3|Edit|'
table MIME 'ContentType|Extension_|CLSID' 's64|s255|S38' 'MIME|ContentType' \
  'application/x-demo|dmo|{CCCCCCCC-0000-0000-0000-000000000001}'
for t in Property Component TypeLib AppId Class ProgId Extension Verb MIME; do
  msibuild com.msi -i "idt/$t.idt" || fail "msibuild $t"
done

com=$("$kvmsi" "$root/com.msi" com) || fail "kvmsi com failed"
# Every row of every table, as msiinfo exports it, under its kind.
for pair in class:Class progid:ProgId extension:Extension verb:Verb mime:MIME typelib:TypeLib appid:AppId; do
  kind=${pair%%:*}
  name=${pair#*:}
  ours=$(sed 's/^ *//' <<<"$com" | grep "^$kind	" | cut -f2- | sort -u)
  [ "$ours" = "$(rows com.msi "$name" | sort -u)" ] || fail "com $name: $ours // $(rows com.msi "$name")"
done
# Class -> ProgId -> extension -> verb, the version-independent ProgId below its parent.
skeleton=$(sed 's/\t.*//' <<<"$com" | tr '\n' ',')
expected='class,  progid,    extension,      verb,      verb,      mime,    extension,      verb,      verb,      mime,'
expected+='    progid,      extension,class,progid,extension,  verb,typelib,typelib,typelib,appid,appid,'
[ "$skeleton" = "$expected" ] || fail "com order: $skeleton"
grep -q "^  progid	Demo.Doc.1	" <<<"$com" || fail "first ProgId under its class"
grep -q "^    progid	Demo.Doc	Demo.Doc.1	" <<<"$com" || fail "version-independent ProgId under its parent"

dialog_head='Dialog|HCentering|VCentering|Width|Height|Attributes|Title|Control_First|Control_Default|Control_Cancel'
table Dialog "$dialog_head" 's72|i2|i2|i2|i2|I4|L128|s50|S50|S50' 'Dialog|Dialog' \
  'Main|50|50|370|270||[ProductName] Setup|Next|Next|Cancel' "It's|0|0|10|10|0|Quoted|Ok||"
table Control 'Dialog_|Control|Type|X|Y|Width|Height|Attributes|Property|Text|Control_Next|Help' \
  's72|s50|s20|i2|i2|i2|i2|I4|S50|L0|S50|L50' 'Control|Dialog_|Control' \
  'Main|Title|Text|15|6|200|15|196611||Welcome||' 'Main|Cancel|PushButton|304|243|56|17|3||Cancel|Next|' \
  'Main|Langs|ComboBox|20|120|200|16||LANGS||Cancel|' 'Main|Mode|RadioButtonGroup|20|60|330|50|3|MODE||Langs|Pick' \
  'Main|Next|PushButton|236|243|56|17|3||&Next|Mode|' "It's|Ok|PushButton|3|3|5|5|0||ok||"
table RadioButton 'Property|Order|Value|X|Y|Width|Height|Text|Help' 's72|i2|s64|i2|i2|i2|i2|L64|L50' \
  'RadioButton|Property|Order' 'MODE|3|Custom|0|40|100|15|&Custom|' 'MODE|1|Typical|0|0|100|15|&Typical|' \
  'OTHER|1|x|0|0|1|1||'
table ComboBox 'Property|Order|Value|Text' 's72|i2|s64|L64' 'ComboBox|Property|Order' 'LANGS|1|en|English' \
  'LANGS|2|de|German'
table ControlEvent 'Dialog_|Control_|Event|Argument|Condition|Ordering' 's72|s50|s50|s255|S255|I2' \
  'ControlEvent|Dialog_|Control_|Event|Argument|Condition' 'Main|Next|EndDialog|Return|1|1'
for t in Property Dialog Control RadioButton ComboBox ControlEvent; do
  msibuild ui.msi -i "idt/$t.idt" || fail "msibuild $t"
done

shown=$("$kvmsi" "$root/ui.msi" dialog Main) || fail "kvmsi dialog failed"
# What msiinfo export gives: the dialog's row, then its controls from
# Control_First along Control_Next until one repeats, with the rows of a
# group's or combo box's property after it.
expected=$(
  printf 'dialog\t%s\n' "$(rows ui.msi Dialog | grep '^Main	')"
  controls=$(rows ui.msi Control | grep '^Main	')
  at=$(rows ui.msi Dialog | grep '^Main	' | cut -f8)
  seen=,
  while [ -n "$at" ] && [ "${seen#*,$at,}" = "$seen" ]; do
    row=$(awk -F'\t' -v c="$at" '$2 == c' <<<"$controls")
    [ -n "$row" ] || break
    seen+="$at,"
    printf '  control\t%s\n' "$row"
    property=$(cut -f9 <<<"$row")
    case $(cut -f3 <<<"$row") in
      RadioButtonGroup) rows ui.msi RadioButton | awk -F'\t' -v p="$property" '$1 == p { print "    button\t" $0 }' ;;
      ComboBox) rows ui.msi ComboBox | awk -F'\t' -v p="$property" '$1 == p { print "    value\t" $0 }' ;;
    esac
    at=$(cut -f11 <<<"$row")
  done
)
[ "$shown" = "$expected" ] || fail "dialog Main:
$shown
// expected
$expected"
grep -c '^  control' <<<"$shown" | grep -qx 4 || fail "tab chain length"
[ "$("$kvmsi" "$root/ui.msi" dialog "It's" | cut -f1-3 | tail -n 1)" = "  control	It's	Ok" ] || fail "quoted dialog"
"$kvmsi" "$root/ui.msi" dialog Nope >/dev/null 2>err.txt && fail "a missing dialog shown"
grep -q 'Nope: no such dialog' err.txt || fail "missing dialog message: $(cat err.txt)"

[ "$failures" -eq 0 ] || exit 1
echo "kvmsi periphery: all cases passed"
