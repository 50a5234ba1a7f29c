#include "platform/win32/advapi32/cryptrandom.h"

#include <sys/random.h>

#include <cerrno>

namespace {
// The one provider there is: a verify context needs no state of its own.
constexpr HCRYPTPROV kProvider = 0x5EED;
}  // namespace

BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR, DWORD dwProvType, DWORD dwFlags) {
  if (!phProv) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (dwProvType != PROV_RSA_FULL && dwProvType != PROV_RSA_AES) {
    SetLastError(static_cast<DWORD>(NTE_BAD_PROV_TYPE));
    return FALSE;
  }
  if (!(dwFlags & CRYPT_VERIFYCONTEXT) || (szContainer && *szContainer)) {
    SetLastError(static_cast<DWORD>(NTE_BAD_KEYSET));
    return FALSE;
  }
  *phProv = kProvider;
  return TRUE;
}

BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR, DWORD dwProvType, DWORD dwFlags) {
  static const WCHAR some[] = u"x";
  return CryptAcquireContextW(phProv, szContainer && *szContainer ? some : nullptr, nullptr, dwProvType, dwFlags);
}

BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
  if (hProv != kProvider) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!pbBuffer && dwLen) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD done = 0;
  while (done < dwLen) {
    ssize_t n = getrandom(pbBuffer + done, dwLen - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD) {
  if (hProv != kProvider) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
