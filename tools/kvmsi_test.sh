#!/usr/bin/env bash
# Runs kvmsi on packages made by msibuild and checks them with msiinfo: what
# cannot be stored is refused in words and leaves the file as it was.
#   kvmsi_test.sh KVMSI
set -uo pipefail
kvmsi=$(realpath "$1")

. "$(dirname "$0")/test_setup.sh" kvmsi
printf 'Property\tValue\ns72\tl0\nProperty\tProperty\nProductName\tDemo\n' >Property.idt
msibuild pkg.msi -i Property.idt -s "Demo" "Acme" "Intel;1033" "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}" || exit 1
cp pkg.msi before.msi

# Each refusal: arguments, a text the message must hold; the package unchanged.
while IFS='|' read -r name value want; do
  out=$("$kvmsi" "$root/pkg.msi" set "$name" "$value" 2>&1) && fail "set $name=$value succeeded"
  grep -qF -- "$want" <<<"$out" || fail "set $name=$value: no '$want' in: $out"
  cmp -s pkg.msi before.msi || fail "set $name=$value changed the package"
done <<'CASES'
Greeting|Привет|"Привет" has characters outside the database's code page 0 (1252)
Greeting|café 漢字|code page 0 (1252)
ProductName||the column Property.Value takes no empty value
|value|error 17
CASES

"$kvmsi" "$root/pkg.msi" set Greeting 'café' || fail "set café"
msiinfo export pkg.msi Property | grep -qF "Greeting	café" || fail "café not stored: $(msiinfo export pkg.msi Property)"

cp pkg.msi before.msi
chmod 0444 pkg.msi
out=$("$kvmsi" "$root/pkg.msi" set Other x 2>&1) && fail "a read-only package was written"
grep -qF "read-only" <<<"$out" || fail "read-only: $out"
cmp -s pkg.msi before.msi || fail "the read-only package changed"
[ "$("$kvmsi" "$root/pkg.msi" get Greeting)" = "café" ] || fail "reading a read-only package"

head -c 2000 before.msi >cut.msi
out=$("$kvmsi" "$root/cut.msi" 2>&1) && fail "a damaged package opened"
grep -qF "damaged package" <<<"$out" || fail "damaged: $out"

[ "$failures" -eq 0 ] || exit 1
echo "kvmsi: all cases passed"
