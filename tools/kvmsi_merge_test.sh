#!/usr/bin/env bash
# kvmsi merge: a merge module made with msibuild and gcab merges into a wixl
# package under a feature; msiextract and the layer's engine yield its file,
# the module stays as it was; a conflicting module is refused with the merge
# object's error records on standard output.
#   kvmsi_merge_test.sh KVMSI KVINSTALL
set -uo pipefail
kvmsi=$(realpath "$1")
kvinstall=$(realpath "$2")

. "$(dirname "$0")/test_setup.sh" kvmsi-merge
unset KV_MSI_FORCED_RESULT KV_MSI_ENGINE_VERSION
mkdir -p "$root/c/pkg" "$root/c/mod/stage" "$root/src"

cat >src/demo.wxs <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="3C2B1A09-8F7E-4D6C-9B5A-0F1E2D3C4B5A" Name="Demo" Language="1033" Version="1.0.0"
           Manufacturer="Korvane" UpgradeCode="9A8B7C6D-5E4F-4A3B-8C2D-1E0F9A8B7C6D">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="demo.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder">
      <Directory Id="INSTALLDIR" Name="Demo">
        <Component Id="Main" Guid="1B2C3D4E-5F60-4718-9A0B-C1D2E3F4A5B6">
          <File Id="Readme" Name="readme.txt" Source="readme.txt" KeyPath="yes"/>
        </Component>
      </Directory>
    </Directory></Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
WXS
echo "Read me." >src/readme.txt
(cd src && wixl -o ../c/pkg/demo.msi demo.wxs) || { echo "wixl failed"; exit 1; }

# The module: ModuleSignature, ModuleComponents, Component, Directory, File
# and the MergeModule.CABinet stream, the file inside named by its key.
guid=11111111_2222_3333_4444_555555555555
module() {  # module FILE COMPONENT-ID
  local msm=$1 id=$2
  rm -f "$msm"
  printf 'module file\n' >"c/mod/stage/ModFile.$guid"
  (cd c/mod/stage && gcab -c -z ../module.cab "ModFile.$guid") || fail "gcab"
  mkdir -p idt
  printf 'ModuleID\tLanguage\tVersion\ns72\ti2\ts32\nModuleSignature\tModuleID\nMod.%s\t1033\t1.0\n' "$guid" >idt/ModuleSignature.idt
  printf 'Component\tModuleID\tLanguage\ns72\ts72\ti2\nModuleComponents\tComponent\tModuleID\tLanguage\nModComp.%s\tMod.%s\t1033\n' "$guid" "$guid" >idt/ModuleComponents.idt
  printf 'Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\ns72\tS38\ts72\ti2\tS255\tS72\nComponent\tComponent\nModComp.%s\t%s\tModDir.%s\t0\t\tModFile.%s\n' "$guid" "$id" "$guid" "$guid" >idt/Component.idt
  printf 'Directory\tDirectory_Parent\tDefaultDir\ns72\tS72\tl255\nDirectory\tDirectory\nTARGETDIR\t\tSourceDir\nModDir.%s\tTARGETDIR\tmodfiles\n' "$guid" >idt/Directory.idt
  printf 'File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\ns72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\nFile\tFile\nModFile.%s\tModComp.%s\tmod.txt\t12\t\t\t16384\t1\n' "$guid" "$guid" >idt/File.idt
  msibuild "$msm" -s Module Korvane 'Intel;1033' '{12345678-1234-1234-1234-123456789ABC}' || fail "msibuild"
  for t in ModuleSignature ModuleComponents Component Directory File; do msibuild "$msm" -i "idt/$t.idt" || fail "import $t"; done
  msibuild "$msm" -a MergeModule.CABinet c/mod/module.cab || fail "stream"
}
module c/mod/m.msm '{AAAAAAAA-2222-3333-4444-555555555555}'
before=$(md5sum <c/mod/m.msm)

"$kvmsi" merge 'C:\pkg\demo.msi' 'C:\mod\m.msm' All INSTALLDIR >out.txt 2>&1 || fail "merge: $(cat out.txt)"
[ "$(md5sum <c/mod/m.msm)" = "$before" ] || fail "the module changed"
msiinfo export c/pkg/demo.msi File | grep -q "^ModFile.$guid	ModComp.$guid	mod.txt" || fail "no File row"
msiinfo export c/pkg/demo.msi FeatureComponents | tr -d '\r' | grep -qx "All	ModComp.$guid" || fail "no link"
msiextract -C out c/pkg/demo.msi >/dev/null || fail "msiextract"
[ "$(cat "out/Program Files/Demo/modfiles/mod.txt" 2>/dev/null)" = "module file" ] || fail "extracted: $(find out -type f)"
[ -f "out/Program Files/Demo/readme.txt" ] || fail "the package's own file is gone"
(cd c && "$kvinstall" 'C:\pkg\demo.msi' >../install.txt 2>&1) || fail "install: $(cat install.txt)"
[ "$(cat "c/Program Files/Demo/modfiles/mod.txt" 2>/dev/null)" = "module file" ] || fail "the engine's files: $(find c -type f)"

# The same keys with another component code: refused, described from " Type = ".
module c/mod/other.msm '{BBBBBBBB-2222-3333-4444-555555555555}'
"$kvmsi" merge 'C:\pkg\demo.msi' 'C:\mod\other.msm' All INSTALLDIR >out.txt 2>&1; rc=$?
[ $rc -eq 1 ] || fail "conflict merged: $rc $(cat out.txt)"
grep -q '^MSI Merge Module error: Type = TABLE_MERGE$' out.txt && grep -q '^ DatabaseTable = Component$' out.txt ||
  fail "conflict report: $(cat out.txt)"
msiinfo export c/pkg/demo.msi Component | grep -q 'AAAAAAAA' || fail "the merged component changed"

# Refusals: no such directory, no such module, a short command line.
"$kvmsi" merge 'C:\pkg\demo.msi' 'C:\mod\m.msm' All NODIR >out.txt 2>&1; rc=$?
[ $rc -eq 1 ] && grep -q 'no such directory' out.txt || fail "missing directory: $rc $(cat out.txt)"
"$kvmsi" merge 'C:\pkg\demo.msi' 'C:\mod\none.msm' All INSTALLDIR >out.txt 2>&1; rc=$?
[ $rc -eq 1 ] && grep -q 'no such module' out.txt || fail "missing module: $rc $(cat out.txt)"
"$kvmsi" merge 'C:\pkg\demo.msi' 'C:\mod\m.msm' All >/dev/null 2>&1; [ $? -eq 2 ] || fail "short merge taken"

[ $failures -eq 0 ] && echo "kvmsi merge: all passed"
exit $((failures != 0))
