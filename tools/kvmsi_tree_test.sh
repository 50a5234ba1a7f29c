#!/usr/bin/env bash
# kvmsi's tree and files views on a package made by wixl: every file's target
# path ends where msiextract puts it, and each feature lists what it holds.
#   kvmsi_tree_test.sh KVMSI
set -uo pipefail
kvmsi=$(realpath "$1")

. "$(dirname "$0")/test_setup.sh" kvmsi-tree
cat >t.wxs <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="12345678-1234-1234-1234-123456789ABC" Name="Tree Demo" Language="1033" Version="1.2.3.4"
           Manufacturer="Korvane" UpgradeCode="87654321-4321-4321-4321-CBA987654321">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="t.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Tree Demo">
          <Component Id="Main" Guid="11111111-2222-3333-4444-555555555555">
            <File Id="ToolExe" Name="tool.exe" Source="tool.exe" KeyPath="yes"/>
            <File Id="Readme" Name="read me.txt" Source="read me.txt"/>
          </Component>
          <Directory Id="BINDIR" Name="bin">
            <Component Id="Lib" Guid="11111111-2222-3333-4444-555555555556">
              <File Id="LibDll" Name="library.dll" Source="library.dll" KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Title="Tree" Level="1">
      <ComponentRef Id="Main"/>
      <Feature Id="Extras" Title="Extras" Level="1">
        <ComponentRef Id="Lib"/>
        <ComponentRef Id="Main"/>
      </Feature>
    </Feature>
  </Product>
</Wix>
WXS
printf 'MZ tool' >tool.exe
printf 'hello\n' >'read me.txt'
printf 'MZ lib' >library.dll
wixl -o t.msi t.wxs || exit 1
msiextract -C out t.msi >extracted.txt || exit 1

files=$("$kvmsi" "$root/t.msi" files) || fail "files view failed"
[ "$(wc -l <<<"$files")" -eq "$(wc -l <extracted.txt)" ] || fail "file count: $files"
while IFS=$'\t' read -r key path; do
  unix=${path//\\//}
  grep -qF -- "$unix" extracted.txt && [ "$(grep -F -- "$unix" extracted.txt | head -1 | tail -c $((${#unix} + 1)))" = "$unix" ] ||
    fail "$key: $unix is not where msiextract put it: $(cat extracted.txt)"
done <<<"$files"

expected=$(printf '%s\n' 'Complete: Tree' '  Main [file] \Tree Demo' '    ToolExe \Tree Demo\tool.exe' \
  '    Readme \Tree Demo\read me.txt' '  Extras: Extras' '    Main [file] \Tree Demo' \
  '      ToolExe \Tree Demo\tool.exe' '      Readme \Tree Demo\read me.txt' '    Lib [file] \Tree Demo\bin' \
  '      LibDll \Tree Demo\bin\library.dll')
tree=$("$kvmsi" "$root/t.msi" tree) || fail "tree view failed"
[ "$tree" = "$expected" ] || fail "tree:
$tree"

[ "$failures" -eq 0 ] || exit 1
echo "kvmsi tree: all cases passed"
