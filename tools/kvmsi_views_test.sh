#!/usr/bin/env bash
# kvmsi's tables, export, summary and registry views against msitools on
# packages made by wixl and msibuild.
#   kvmsi_views_test.sh KVMSI
set -uo pipefail
kvmsi=$(realpath "$1")

. "$(dirname "$0")/test_setup.sh" kvmsi-views
cat >w.wxs <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="12345678-1234-1234-1234-123456789ABC" Name="View Demo" Language="1033" Version="1.2.3.4"
           Manufacturer="Korvane" UpgradeCode="87654321-4321-4321-4321-CBA987654321">
    <Package InstallerVersion="200" Compressed="yes" Keywords="alpha;beta" Comments="Made for the views"/>
    <Media Id="1" Cabinet="v.cab" EmbedCab="yes"/>
    <Binary Id="Blob" SourceFile="tool.exe"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="View Demo">
          <Component Id="Main" Guid="11111111-2222-3333-4444-555555555555">
            <File Id="ToolExe" Name="tool.exe" Source="tool.exe" KeyPath="yes"/>
            <File Id="Readme" Name="read me.txt" Source="read me.txt"/>
          </Component>
          <Component Id="Reg" Guid="11111111-2222-3333-4444-555555555557">
            <RegistryValue Root="HKLM" Key="Software\[Manufacturer]\View" Name="Count" Type="integer" Value="42"
                           KeyPath="yes"/>
            <RegistryValue Root="HKCU" Key="Software\Korvane" Name="Text" Type="string" Value="[ProductName] here"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Title="Views" Level="1">
      <ComponentRef Id="Main"/>
      <ComponentRef Id="Reg"/>
    </Feature>
  </Product>
</Wix>
WXS
printf 'MZ tool' >tool.exe
printf 'hello\n' >'read me.txt'
wixl -o w.msi w.wxs || exit 1

# What wixl cannot write: typed registry values, a table of two keys.
mkdir idt
printf 'Property\tValue\ns72\tl0\nProperty\tProperty\nProductName\tIdt Demo\nDIR\tC:\\Data\n' >idt/Property.idt
printf 'Registry\tRoot\tKey\tName\tValue\tComponent_\ns72\ti2\tl255\tL255\tL0\ts72\nRegistry\tRegistry\n%s\n%s\n%s\n%s\n%s\n' \
  'R1	2	Software\[ProductName]	Bin	#x0A0B	C1' \
  'R2	1	Software\Korvane	Multi	a[~]b	C1' \
  'R3	-1	Software\Korvane	Expand	#%[DIR]\bin	C1' \
  'R4	0	Korvane.Doc	Hash	##text	C1' \
  'R5	3	Korvane	Dword	#7	C1' >idt/Registry.idt
printf 'Feature_\tComponent_\ns38\ts72\nFeatureComponents\tFeature_\tComponent_\nF1\tC1\nF1\tC2\nF2\tC1\n' \
  >idt/FeatureComponents.idt
for t in Property Registry FeatureComponents; do msibuild i.msi -i "idt/$t.idt" || exit 1; done
msibuild i.msi -s 'Idt Subject' 'Korvane' 'Intel;1033' '{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}' || exit 1

for pkg in w.msi i.msi; do
  [ "$("$kvmsi" "$root/$pkg" tables)" = "$(msiinfo tables "$pkg")" ] || fail "$pkg tables: $("$kvmsi" "$root/$pkg" tables)"
  for table in $(msiinfo tables "$pkg" | grep -v '^_'); do
    msiinfo export "$pkg" "$table" >expected.idt || fail "msiinfo export $pkg $table"
    "$kvmsi" "$root/$pkg" export "$table" >ours.idt || fail "kvmsi export $pkg $table"
    cmp -s expected.idt ours.idt || fail "$pkg export $table differs: $(diff expected.idt ours.idt | head -5)"
  done
  # Every line msiinfo suminfo shows, in its order; then the code page.
  summary=$("$kvmsi" "$root/$pkg" summary) || fail "$pkg summary failed"
  [ "$(grep -v '^Code page: ' <<<"$summary")" = "$(msiinfo suminfo "$pkg")" ] ||
    fail "$pkg summary: $summary // $(msiinfo suminfo "$pkg")"
done
# wixl sets the code page; msibuild leaves it out, and so does the view.
grep -qx 'Code page: 1252 (4e4)' <<<"$("$kvmsi" "$root/w.msi" summary)" || fail "w.msi code page"
grep -q '^Code page' <<<"$("$kvmsi" "$root/i.msi" summary)" && fail "i.msi code page" 
grep -q '^Keywords: alpha;beta$' <<<"$("$kvmsi" "$root/w.msi" summary)" || fail "keywords"

"$kvmsi" "$root/w.msi" export NoSuchTable >/dev/null 2>&1 && fail "a missing table exported"

# Packages without a Property table, one without any table: the views show
# what the file holds, not the Property table the package object adds while
# it has the file open.
msibuild n.msi -i idt/FeatureComponents.idt || exit 1
for pkg in n.msi e.msi; do
  msibuild "$pkg" -s 'No Properties' 'Korvane' 'Intel;1033' '{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}' || exit 1
  [ "$("$kvmsi" "$root/$pkg" tables)" = "$(msiinfo tables "$pkg")" ] || fail "$pkg tables: $("$kvmsi" "$root/$pkg" tables)"
  msiinfo export "$pkg" Property >/dev/null 2>&1 && fail "msiinfo exports a Property table of $pkg"
  "$kvmsi" "$root/$pkg" export Property >/dev/null 2>&1 && fail "$pkg: a Property table exported"
done

expected=$(printf '%s\n' \
  'R1	HKLM	Software\Idt Demo	Bin	binary	0A0B' \
  'R2	HKCU	Software\Korvane	Multi	multi-string	a[~]b' \
  'R3	HKMU	Software\Korvane	Expand	string	C:\Data\bin' \
  'R4	HKCR	Korvane.Doc	Hash	string	#text' \
  'R5	HKU	Korvane	Dword	integer	7')
registry=$("$kvmsi" "$root/i.msi" registry) || fail "registry view failed"
[ "$registry" = "$expected" ] || fail "registry:
$registry"
registry=$("$kvmsi" "$root/w.msi" registry | cut -f2-) || fail "registry view failed"
[ "$registry" = "$(printf '%s\n' 'HKLM	Software\Korvane\View	Count	integer	42' 'HKCU	Software\Korvane	Text	string	View Demo here')" ] ||
  fail "wixl registry: $registry"

[ "$failures" -eq 0 ] || exit 1
echo "kvmsi views: all cases passed"
