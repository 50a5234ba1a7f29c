#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "platform/msi/msi.h"
#include "platform/win32/kernel32/files.h"
#include "platform/win32/kernel32/handles.h"

UINT MsiGetFileHashW(LPCWSTR szFilePath, DWORD dwOptions, PMSIFILEHASHINFO pHash) {
  if (!szFilePath || !*szFilePath || !pHash || dwOptions != 0 || pHash->dwFileHashInfoSize != sizeof(MSIFILEHASHINFO))
    return ERROR_INVALID_PARAMETER;
  HANDLE h = CreateFileW(szFilePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    return e ? e : ERROR_FILE_NOT_FOUND;
  }
  std::unique_ptr<void, BOOL (*)(HANDLE)> guard(h, CloseHandle);
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!md || !EVP_DigestInit_ex(md.get(), EVP_md5(), nullptr)) return ERROR_OUTOFMEMORY;
  std::vector<unsigned char> buffer(64 * 1024);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      DWORD e = GetLastError();
      return e ? e : ERROR_READ_FAULT;
    }
    if (got == 0) break;
    EVP_DigestUpdate(md.get(), buffer.data(), got);
  }
  unsigned char digest[16];
  unsigned int length = 0;
  if (!EVP_DigestFinal_ex(md.get(), digest, &length) || length != 16) return ERROR_OUTOFMEMORY;
  for (int i = 0; i < 4; ++i)
    pHash->dwData[i] = static_cast<ULONG>(digest[4 * i]) | static_cast<ULONG>(digest[4 * i + 1]) << 8 |
                       static_cast<ULONG>(digest[4 * i + 2]) << 16 | static_cast<ULONG>(digest[4 * i + 3]) << 24;
  return ERROR_SUCCESS;
}
