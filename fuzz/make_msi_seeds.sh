#!/bin/sh
# Seeds of the installer fuzz targets: real packages made by wixl and msibuild,
# and statement texts of every kind the layer passes on.
# Usage: make_msi_seeds.sh OUTDIR
set -eu
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out/msi_package" "$out/msi_sql"

cat >"$work/demo.wxs" <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="12345678-1234-1234-1234-123456789ABC" Name="Demo Product" Language="1033" Version="1.2.3.4"
           Manufacturer="Acme Corp" UpgradeCode="87654321-4321-4321-4321-CBA987654321">
    <Package InstallerVersion="200" Compressed="yes" Comments="Demo package" Description="Demo Product Installer"/>
    <Media Id="1" Cabinet="demo.cab" EmbedCab="yes"/>
    <Property Id="ProductShortName" Value="Demo"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Demo">
          <Component Id="MainExe" Guid="11111111-2222-3333-4444-555555555555">
            <File Id="ToolExe" Name="tool.exe" Source="tool.exe" KeyPath="yes"/>
            <RegistryValue Root="HKLM" Key="Software\Acme\Demo" Name="Version" Type="string" Value="1.2.3.4"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Title="Demo" Level="1">
      <ComponentRef Id="MainExe"/>
    </Feature>
  </Product>
</Wix>
WXS
printf 'MZ demo tool' >"$work/tool.exe"
(cd "$work" && wixl -o "$out/msi_package/wixl.msi" demo.wxs)

printf 'Property\tValue\ns72\tl0\nProperty\tProperty\nProductName\tDemo\nProductVersion\t1.0\n' >"$work/Property.idt"
printf 'DiskId\tLastSequence\tCabinet\ni2\ti4\tS255\nMedia\tDiskId\n1\t5\ta.cab\n2\t9\t\n' >"$work/Media.idt"
printf '\r\n\r\n65001\t_ForceCodepage\r\n' >"$work/cp.idt"
msibuild "$out/msi_package/msibuild.msi" -i "$work/Property.idt" -i "$work/Media.idt" \
  -s "Demo Product" "Acme Corp" "Intel;1033" "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}"
msibuild "$out/msi_package/utf8.msi" -i "$work/cp.idt" -i "$work/Property.idt"

i=0
while IFS= read -r line; do
  printf '%s' "$line" >"$out/msi_sql/s$i"
  i=$((i + 1))
done <<'SQL'
SELECT * FROM `Property` WHERE `Property` = ?
SELECT `Value`, `Media`.`Cabinet` FROM `Property`, `Media` WHERE `Property` = ? AND `DiskId` = ?
SELECT DISTINCT `Cabinet` FROM `Media` WHERE `DiskId` >= -1 AND `Cabinet` IS NOT NULL ORDER BY `DiskId`
INSERT INTO `Property` (`Property`, `Value`) VALUES (?, 'x')
INSERT INTO `Media` (`DiskId`, `LastSequence`) VALUES (7, 8) TEMPORARY
UPDATE `Media` SET `Cabinet` = 'b.cab', `LastSequence` = ? WHERE `DiskId` = 1
DELETE FROM `Property` WHERE `Value` <> 'Demo'
CREATE TABLE `T` (`A` SHORT NOT NULL, `B` CHAR(20) LOCALIZABLE PRIMARY KEY `A`)
ALTER TABLE `Media` ADD `X` SHORT
DROP TABLE `Media`
SELECT * FROM [Property] WHERE `Value` != 'it''s'
SQL

mkdir -p "$out/msi_format"
i=0
while IFS= read -r line; do
  printf '%s' "$line" >"$out/msi_format/f$i"
  i=$((i + 1))
done <<'FMT'
x[A]y [[R]] [L] [~] [\[] [\]] [\x]
{[A] and [R]} {[A]} x {[R]} {11111111-2222-3333-4444-555555555555}
[#F] [!F] [$C] [D] [TARGETDIR] [%PATH] [%KV_NO_SUCH_VARIABLE]
[[[[A]]]] {[A] [#F]} [#[A]] [ { ] } [\]
FMT

mkdir -p "$out/msi_rows"
printf 'TARGETDIR\nSourceDir\nC\n{11111111-2222-3333-4444-555555555555}\nTARGETDIR\nF\nC\nA.TXT|a.txt\n[ProductName] x\n+Grp[~]Svc[~]Ext[~][~]' >"$out/msi_rows/r0"
printf "x'y\n?\n[#F]\n\n[~]\n{[A]}\n[%%PATH]\n\\\\\n|\n1.0\n" >"$out/msi_rows/r1"
mkdir -p "$out/msi_periphery"
printf 'MODE\nTypical\nMain\nNext\nPushButton\nMODE\nRadioButtonGroup\nNext\n{CCCCCCCC-0000-0000-0000-000000000001}\nLocalServer32\nC1\nDemo.Doc.1\ndmo\nopen\n[MODE] x\nDemoDSN\nServer\n1\n' >"$out/msi_periphery/p0"
printf "Main\nMain\nP\nQR\nPQ\nR\nx'y\n?\n\n[~]\nComboBox\nText\n0\n-1\n" >"$out/msi_periphery/p1"
