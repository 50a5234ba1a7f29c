#include "platform/win32/rpcrt4/rpc.h"

#include "platform/win32/advapi32/cryptrandom.h"

namespace {

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at `s`; false on any other character.
template <class Char>
bool readHex(const Char* s, int digits, unsigned long long& out) {
  out = 0;
  for (int i = 0; i < digits; ++i) {
    if (s[i] > 0x7F) return false;
    int v = hexValue(static_cast<unsigned char>(s[i]));
    if (v < 0) return false;
    out = (out << 4) | static_cast<unsigned>(v);
  }
  return true;
}

template <class Char>
RPC_STATUS parse(const Char* s, UUID* uuid) {
  if (!uuid) return RPC_S_INVALID_STRING_UUID;
  if (!s) {
    *uuid = UUID{};
    return RPC_S_OK;
  }
  for (int i = 0; i < 36; ++i)
    if (s[i] == 0) return RPC_S_INVALID_STRING_UUID;
  if (s[36] != 0 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return RPC_S_INVALID_STRING_UUID;
  unsigned long long d1, d2, d3, b;
  UUID u{};
  if (!readHex(s, 8, d1) || !readHex(s + 9, 4, d2) || !readHex(s + 14, 4, d3)) return RPC_S_INVALID_STRING_UUID;
  static const int kByteAt[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (int i = 0; i < 8; ++i) {
    if (!readHex(s + kByteAt[i], 2, b)) return RPC_S_INVALID_STRING_UUID;
    u.Data4[i] = static_cast<BYTE>(b);
  }
  u.Data1 = static_cast<DWORD>(d1);
  u.Data2 = static_cast<WORD>(d2);
  u.Data3 = static_cast<WORD>(d3);
  *uuid = u;
  return RPC_S_OK;
}

}  // namespace

RPC_STATUS UuidCreate(UUID* Uuid) {
  if (!Uuid) return RPC_S_INVALID_STRING_UUID;
  HCRYPTPROV prov = 0;
  BYTE bytes[16];
  if (!CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return RPC_S_UUID_NO_ADDRESS;
  BOOL ok = CryptGenRandom(prov, sizeof bytes, bytes);
  CryptReleaseContext(prov, 0);
  if (!ok) return RPC_S_UUID_NO_ADDRESS;
  bytes[6] = static_cast<BYTE>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<BYTE>((bytes[8] & 0x3F) | 0x80);  // variant 10
  Uuid->Data1 = static_cast<DWORD>(bytes[0]) << 24 | static_cast<DWORD>(bytes[1]) << 16 |
                static_cast<DWORD>(bytes[2]) << 8 | bytes[3];
  Uuid->Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
  Uuid->Data3 = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) Uuid->Data4[i] = bytes[8 + i];
  return RPC_S_OK;
}

RPC_STATUS UuidFromStringA(const unsigned char* StringUuid, UUID* Uuid) { return parse(StringUuid, Uuid); }
RPC_STATUS UuidFromStringW(const WCHAR* StringUuid, UUID* Uuid) { return parse(StringUuid, Uuid); }
