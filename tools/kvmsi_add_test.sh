#!/usr/bin/env bash
# kvmsi add on a package that wixl made empty: the folder's files come out of
# msiextract and out of the layer's installer engine as they went in, and
# cabextract lists every File key in the embedded cabinet.
#   kvmsi_add_test.sh KVMSI KVINSTALL
set -uo pipefail
kvmsi=$(realpath "$1")
kvinstall=$(realpath "$2")

. "$(dirname "$0")/test_setup.sh" kvmsi-add
unset KV_MSI_FORCED_RESULT KV_MSI_ENGINE_VERSION
mkdir -p "$root/c/pkg" "$root/src/App/sub dir" "$root/src/More"

cat >skel.wxs <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="3C2B1A09-8F7E-4D6C-9B5A-0F1E2D3C4B5A" Name="Skeleton" Language="1033" Version="1.0.0"
           Manufacturer="Korvane" UpgradeCode="9A8B7C6D-5E4F-4A3B-8C2D-1E0F9A8B7C6D">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir"/>
  </Product>
</Wix>
WXS
wixl -o c/pkg/s.msi skel.wxs || { echo "wixl failed"; exit 1; }
printf 'hello\n' >src/App/a.txt
printf 'with a blank\n' >"src/App/b c.txt"
head -c 70000 /dev/urandom >"src/App/sub dir/random.bin"
printf 'more\n' >src/More/m.txt

"$kvmsi" add 'C:\pkg\s.msi' Main "$root/src/App" >out.txt 2>&1 || fail "add: $(cat out.txt)"

# The cabinet is a stream of the package, holding every File key.
msiinfo streams c/pkg/s.msi | grep -qx 'kvmsi1.cab' || fail "no stream: $(msiinfo streams c/pkg/s.msi)"
msiinfo export c/pkg/s.msi Media | tail -n +4 | tr -d '\r' >media.txt
[ "$(cat media.txt)" = "$(printf '1\t3\t\t#kvmsi1.cab\t\t')" ] || fail "Media: $(cat media.txt)"
msiinfo export c/pkg/s.msi File | tail -n +4 | tr -d '\r' | cut -f1,8 | sort -t$'\t' -k2n >files.txt
[ "$(cut -f2 files.txt | tr '\n' ' ')" = "1 2 3 " ] || fail "sequences: $(cat files.txt)"
msiinfo export c/pkg/s.msi File | tail -n +4 | tr -d '\r' | cut -f6 | sort -u >languages.txt
[ "$(cat languages.txt)" = "1033" ] || fail "file languages: $(cat languages.txt)"
msiinfo extract c/pkg/s.msi kvmsi1.cab >one.cab
cabextract -l one.cab >listing.txt || fail "cabextract: $(cat listing.txt)"
while read -r key _; do
  grep -qF "$key" listing.txt || fail "$key not in the cabinet: $(cat listing.txt)"
done <files.txt

# msiextract and the engine put the same files where the folder had them.
msiextract -C out c/pkg/s.msi >/dev/null || fail "msiextract"
diff -r src/App "out/Program Files/App" >/dev/null || fail "msiextract differs: $(find out -type f)"
(cd c && "$kvinstall" 'C:\pkg\s.msi' >../install.txt 2>&1) || fail "install: $(cat install.txt)"
diff -r src/App "c/Program Files/App" >/dev/null || fail "the engine's files differ: $(find c -type f)"

# A second folder: its own cabinet and disk, numbered after the first.
"$kvmsi" add 'C:\pkg\s.msi' Extra "$root/src/More" >out.txt 2>&1 || fail "second add: $(cat out.txt)"
msiinfo export c/pkg/s.msi Media | tail -n +4 | tr -d '\r' | sort >media.txt
[ "$(sed -n 2p media.txt)" = "$(printf '2\t4\t\t#kvmsi2.cab\t\t')" ] || fail "second Media: $(cat media.txt)"
rm -rf out && msiextract -C out c/pkg/s.msi >/dev/null || fail "msiextract after the second add"
diff -r src/More "out/Program Files/More" >/dev/null && diff -r src/App "out/Program Files/App" >/dev/null ||
  fail "after the second add: $(find out -type f)"

# Refusals: a folder that is not there, a command line that is not whole.
"$kvmsi" add 'C:\pkg\s.msi' Main "$root/nowhere" >out.txt 2>&1; rc=$?
[ $rc -eq 1 ] && grep -q 'no such folder' out.txt || fail "missing folder: $rc $(cat out.txt)"
"$kvmsi" add 'C:\pkg\s.msi' Main >/dev/null 2>&1; [ $? -eq 2 ] || fail "short add taken"

[ $failures -eq 0 ] && echo "kvmsi add: all passed"
exit $((failures != 0))
