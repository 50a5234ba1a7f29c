#!/usr/bin/env bash
# The install tools as a new user tries them: kvinstall's usage, exit status
# and messages on a wixl package in a private world, and kvmsi on a package
# that is not there.
#   kvinstall_test.sh KVINSTALL KVMSI
set -uo pipefail
kvinstall=$(realpath "$1")
kvmsi=$(realpath "$2")

. "$(dirname "$0")/test_setup.sh" kvinstall
unset KV_MSI_FORCED_RESULT KV_MSI_ENGINE_VERSION
mkdir -p "$root/c/pkg" "$root/src"
cd "$root/c" || exit 1

cat > "$root/src/demo.wxs" <<'WXS'
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
echo "Read me." > "$root/src/readme.txt"
(cd "$root/src" && wixl -o "$root/c/pkg/demo.msi" demo.wxs) || { echo "wixl failed"; exit 1; }

# Alone: the usage on standard output, success. A bad command line: 2.
out=$("$kvinstall") && grep -q '^usage: kvinstall' <<< "$out" || fail "kvinstall alone: $out"
"$kvinstall" --frobnicate 'C:\pkg\demo.msi' > /dev/null 2> log; rc=$?
[ $rc -eq 2 ] && grep -q '^usage: kvinstall' log || fail "unknown option: rc $rc"
"$kvinstall" 'C:\pkg\demo.msi' 'C:\pkg\other.msi' > /dev/null 2>&1; [ $? -eq 2 ] || fail "two packages taken"

# A package that is not there says so, and the job fails.
"$kvinstall" 'C:\pkg\missing.msi' > out.txt 2>&1; rc=$?
[ $rc -eq 1 ] || fail "missing package: exit $rc"
grep -qF 'C:\pkg\missing.msi: The system cannot find the file specified.' out.txt || fail "missing package: $(cat out.txt)"
grep -q 'different language' out.txt && fail "missing package blamed on the language"
grep -qx 'result: 1603 (.*)' out.txt || fail "no result line: $(cat out.txt)"
"$kvinstall" 'C:\nowhere\missing.msi' > out.txt 2>&1; rc=$?
[ $rc -eq 1 ] && grep -qx 'result: 3 (The system cannot find the path specified.)' out.txt ||
  fail "missing folder: exit $rc $(cat out.txt)"

# A failing installation exits 1; a good one 0, with the files in place.
KV_MSI_FORCED_RESULT=demo.msi=1603 "$kvinstall" 'C:\pkg\demo.msi' > out.txt 2>&1; rc=$?
[ $rc -eq 1 ] && grep -qx 'result: 1603 (Fatal error during installation.)' out.txt || fail "forced 1603: exit $rc"
[ -e "$root/c/Program Files/Demo/readme.txt" ] && fail "a failed installation left its file"
"$kvinstall" 'C:\pkg\demo.msi' > out.txt 2>&1; rc=$?
[ $rc -eq 0 ] && grep -qx 'result: 0' out.txt || fail "installation: exit $rc $(cat out.txt)"
cmp -s "$root/src/readme.txt" "$root/c/Program Files/Demo/readme.txt" || fail "the file is not in place"

# kvmsi: the missing file in words first, the codes after.
"$kvmsi" /missing.msi 2> log; rc=$?
[ $rc -eq 1 ] && [ "$(head -1 log)" = "kvmsi: /missing.msi: no such file" ] || fail "kvmsi missing: rc $rc $(cat log)"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "kvinstall checks passed"
