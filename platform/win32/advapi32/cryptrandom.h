// The CryptoAPI provider calls that random bytes need. The provider is a
// verify-context handle; CryptGenRandom reads the kernel's random source.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

using HCRYPTPROV = ULONG_PTR;

#define PROV_RSA_FULL 1
#define PROV_RSA_AES 24
#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008
#define CRYPT_SILENT 0x00000040

// Only verify contexts (no key container) exist here; asking for a container
// fails with NTE_BAD_KEYSET.
#define NTE_BAD_KEYSET ((HRESULT)0x80090016L)
#define NTE_BAD_PROV_TYPE ((HRESULT)0x80090014L)
#define NTE_BAD_FLAGS ((HRESULT)0x80090009L)

BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider, DWORD dwProvType,
                          DWORD dwFlags);
BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider, DWORD dwProvType,
                          DWORD dwFlags);
BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer);
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
