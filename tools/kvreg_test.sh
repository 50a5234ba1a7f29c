#!/usr/bin/env bash
# Runs kvreg on a private world and checks what it wrote with SQLite's own
# shell, reading the store file directly.
#   kvreg_test.sh KVREG
set -uo pipefail
kvreg=$(realpath "$1")

. "$(dirname "$0")/test_setup.sh" kvreg
store=$KV_WORLD_ROOT/registry.db
# TYPE|HEX of a value, by the names of its key's path below the 64-bit HKLM.
stored() {
  local key=$1 name=$2 sql parent=1 id
  IFS='\' read -ra parts <<< "$key"
  for p in "${parts[@]}"; do
    id=$(sqlite3 "$store" "SELECT id FROM keys WHERE parent=$parent AND name='$p'")
    [ -n "$id" ] || { echo "no key $p"; return; }
    parent=$id
  done
  sqlite3 "$store" "SELECT type || '|' || hex(data) FROM vals WHERE key=$parent AND name='$name'"
}

[ "$("$kvreg" where)" = "$store" ] || fail "where: $("$kvreg" where)"

# Each type as reg add stores it (UTF-16LE strings with their terminators).
while IFS=' ' read -r type data want; do
  "$kvreg" add 'HKLM\Software\Kv' /v "$type" /t "$type" /d "$data" || fail "add $type"
  got=$(stored 'Software\Kv' "$type")
  [ "$got" = "$want" ] || fail "$type stored as $got, not $want"
done <<'CASES'
REG_SZ hé 1|6800E9000000
REG_EXPAND_SZ %X% 2|2500580025000000
REG_MULTI_SZ a\0b 7|61000000620000000000
REG_DWORD 0x12345678 4|78563412
REG_QWORD 10 11|0A00000000000000
REG_BINARY 00ff10 3|00FF10
CASES
"$kvreg" add 'HKLM\Software\Kv' /ve /d default || fail "add default"
[ "$(stored 'Software\Kv' '')" = "1|640065006600610075006C0074000000" ] || fail "default value"

# query lists the values as reg does, and the subkeys.
"$kvreg" add 'HKLM\Software\Kv\Sub' || fail "add key"
out=$("$kvreg" query 'hklm\software\kv')
for line in 'HKEY_LOCAL_MACHINE\software\kv' '    REG_SZ    REG_SZ    hé' '    REG_MULTI_SZ    REG_MULTI_SZ    a\0b' \
            '    REG_DWORD    REG_DWORD    0x12345678' '    REG_QWORD    REG_QWORD    0xa' \
            '    REG_BINARY    REG_BINARY    00FF10' '    (Default)    REG_SZ    default' \
            'HKEY_LOCAL_MACHINE\software\kv\Sub'; do
  grep -qxF -- "$line" <<< "$out" || fail "query lacks '$line': $out"
done
[ "$("$kvreg" query 'HKLM\Software\Kv' /v REG_DWORD | tail -1)" = '    REG_DWORD    REG_DWORD    0x12345678' ] ||
  fail "query /v"
"$kvreg" query 'HKLM\Software\Kv' /s | grep -qx 'HKEY_LOCAL_MACHINE\\Software\\Kv\\Sub' || fail "query /s"
"$kvreg" query 'HKLM\Software\Kv' /v missing 2> /dev/null && fail "a missing value was found"
"$kvreg" query 'HKLM\Software\Nowhere' 2> /dev/null && fail "a missing key was found"

# Views: the 32-bit machine view is its own; the user's hive has one.
"$kvreg" add 'HKLM\Software\Wow' /reg:32 /v v /t REG_DWORD /d 32 || fail "add 32"
"$kvreg" query 'HKLM\Software\Wow' /reg:64 2> /dev/null && fail "the 64-bit view sees a 32-bit key"
"$kvreg" query 'HKLM\Software\Wow' /reg:32 /v v > /dev/null || fail "the 32-bit view lost its key"
"$kvreg" add 'HKCU\Software\U' /reg:32 /v v /d x || fail "add user"
"$kvreg" query 'HKCU\Software\U' /reg:64 /v v > /dev/null || fail "the user's hive has two views"

# Refused data, unknown types and roots.
"$kvreg" add 'HKLM\Software\Kv' /v d /t REG_DWORD /d 0x100000000 2> /dev/null && fail "DWORD overflow taken"
"$kvreg" add 'HKLM\Software\Kv' /v d /t REG_BINARY /d 0g 2> /dev/null && fail "bad hex taken"
"$kvreg" add 'HKLM\Software\Kv' /v d /t REG_FOO /d 1 2> /dev/null && fail "unknown type taken"
"$kvreg" query 'HKXX\Software' 2> /dev/null && fail "unknown root taken"

# A read-only key refuses writes; /f takes a read-only tree over and
# deletes it; a sealed subkey stays, with its parent, and the walk ends.
"$kvreg" add 'HKLM\Software\Ro\Inner' || fail "add Ro"
"$kvreg" protect 'HKLM\Software\Ro' readonly || fail "protect"
"$kvreg" add 'HKLM\Software\Ro' /v v /d x 2> log && fail "a read-only key took a value"
grep -q "error 5" log || fail "no access denied: $(cat log)"
"$kvreg" delete 'HKLM\Software\Ro' 2> /dev/null && fail "a read-only tree went without /f"
"$kvreg" delete 'HKLM\Software\Ro' /f || fail "delete /f"
"$kvreg" query 'HKLM\Software\Ro' 2> /dev/null && fail "the read-only tree stayed"
"$kvreg" add 'HKLM\Software\T\a' && "$kvreg" add 'HKLM\Software\T\b' && "$kvreg" add 'HKLM\Software\T\c' ||
  fail "add T"
"$kvreg" protect 'HKLM\Software\T\b' sealed || fail "seal"
timeout 20 "$kvreg" delete 'HKLM\Software\T' /f 2> log
rc=$?
[ $rc -eq 124 ] && fail "forced deletion did not end"
[ $rc -eq 1 ] && grep -q "error 5" log || fail "forced deletion past a sealed key: rc $rc $(cat log)"
[ "$("$kvreg" query 'HKLM\Software\T' | grep -c '^HKEY')" = 2 ] || fail "not only T and T\\b stay"

# Deleting a value, then the tree.
"$kvreg" delete 'HKLM\Software\Kv' /v REG_SZ || fail "delete value"
[ -z "$(stored 'Software\Kv' REG_SZ)" ] || fail "the value stayed in the store"
"$kvreg" delete 'HKLM\Software\Kv' || fail "delete tree"
[ "$(sqlite3 "$store" "SELECT count(*) FROM keys WHERE name IN ('Kv','Sub')")" = 0 ] || fail "keys stayed"
[ "$(sqlite3 "$store" "PRAGMA journal_mode")" = wal ] || fail "the store is not in WAL mode"

# As a new user tries it: alone it prints its usage and succeeds; a bad
# command line exits 2; what is missing is said in words, the code after.
out=$("$kvreg") && grep -q '^usage: kvreg query' <<< "$out" || fail "kvreg alone: $out"
"$kvreg" query > /dev/null 2>&1; [ $? -eq 2 ] || fail "query without a key is no usage error"
"$kvreg" frobnicate 'HKLM\Software' > /dev/null 2>&1; [ $? -eq 2 ] || fail "unknown command is no usage error"
"$kvreg" query 'HKLM\Software\Nowhere' 2> log; rc=$?
[ $rc -eq 1 ] && grep -qxF 'kvreg: the key HKEY_LOCAL_MACHINE\Software\Nowhere does not exist (Win32 error 2)' log ||
  fail "missing key: rc $rc $(cat log)"
"$kvreg" add 'HKLM\Software\Here' || fail "add Here"
"$kvreg" query 'HKLM\Software\Here' /v gone 2> log
grep -qxF 'kvreg: the value gone of HKEY_LOCAL_MACHINE\Software\Here does not exist (Win32 error 2)' log ||
  fail "missing value: $(cat log)"

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "kvreg: all checks passed"
