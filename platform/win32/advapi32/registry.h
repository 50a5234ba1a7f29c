// The registry: one SQLite store per world (world root, "registry.db"), shared
// by processes of the layer. HKLM and HKCR keep separate 64- and 32-bit views;
// HKCU has one. Sizes and error codes follow Win32: a key path may not start
// with a backslash (ERROR_BAD_PATHNAME), a key name holds at most 255
// characters (ERROR_INVALID_PARAMETER); text set without its terminator is
// stored with one; setting a value again keeps its name's spelling; values
// enumerate in the order they were made.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32/advapi32/token.h"
#include "platform/win32/layer/types.h"

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#ifndef ERROR_KEY_DELETED
#define ERROR_KEY_DELETED 1018L
#endif

#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#ifndef DELETE
#define DELETE 0x00010000L
#endif
#ifndef WRITE_DAC
#define WRITE_DAC 0x00040000L
#endif
#ifndef WRITE_OWNER
#define WRITE_OWNER 0x00080000L
#endif
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LONG RegCloseKey(HKEY key);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LONG RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM access, DWORD reserved);
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPWSTR keyClass,
                   LPDWORD classSize, PFILETIME lastWrite);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize);
LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classSize, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                      LPDWORD maxValueLen, LPDWORD securityDescriptor, PFILETIME lastWrite);

// Deletes the subkey and everything below it; without a subkey, the key's
// values and subkeys while the key itself stays. A guarded key in the tree
// refuses the whole deletion with ERROR_ACCESS_DENIED.
LONG RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);

#define RRF_RT_REG_NONE 0x00000001
#define RRF_RT_REG_SZ 0x00000002
#define RRF_RT_REG_EXPAND_SZ 0x00000004
#define RRF_RT_REG_BINARY 0x00000008
#define RRF_RT_REG_DWORD 0x00000010
#define RRF_RT_REG_MULTI_SZ 0x00000020
#define RRF_RT_REG_QWORD 0x00000040
#define RRF_RT_DWORD (RRF_RT_REG_BINARY | RRF_RT_REG_DWORD)
#define RRF_RT_QWORD (RRF_RT_REG_BINARY | RRF_RT_REG_QWORD)
#define RRF_RT_ANY 0x0000FFFF
#define RRF_SUBKEY_WOW6464KEY 0x00010000
#define RRF_SUBKEY_WOW6432KEY 0x00020000
#define RRF_NOEXPAND 0x10000000
#define RRF_ZEROONFAILURE 0x20000000
#ifndef ERROR_UNSUPPORTED_TYPE
#define ERROR_UNSUPPORTED_TYPE 1630L
#endif
#ifndef ERROR_DATA_NOT_ACCEPTED
#define ERROR_DATA_NOT_ACCEPTED 1592L
#endif
// A value of `lpSubKey` (may be null) filtered by type: a type outside the
// RRF_RT_* bits gives ERROR_UNSUPPORTED_TYPE; REG_EXPAND_SZ is expanded and
// reported as REG_SZ unless RRF_NOEXPAND (asking for RRF_RT_REG_EXPAND_SZ
// without it is ERROR_INVALID_PARAMETER); texts always end with their
// terminators; a DWORD or QWORD of another size gives ERROR_DATA_NOT_ACCEPTED;
// a short buffer ERROR_MORE_DATA with the size needed.
LONG RegGetValueW(HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue, DWORD dwFlags, LPDWORD pdwType, PVOID pvData,
                  LPDWORD pcbData);
// The default value of a key or subkey as text (sizes in bytes, with the
// terminator); a key without one answers an empty text, a value of another
// type ERROR_INVALID_DATA.
LONG RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData);

#ifndef OWNER_SECURITY_INFORMATION
#define OWNER_SECURITY_INFORMATION 0x00000001L
#define GROUP_SECURITY_INFORMATION 0x00000002L
#define DACL_SECURITY_INFORMATION 0x00000004L
#define SACL_SECURITY_INFORMATION 0x00000008L
#endif
using SECURITY_INFORMATION = DWORD;
enum SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE, SE_FILE_OBJECT, SE_SERVICE, SE_PRINTER, SE_REGISTRY_KEY };

// Needs a handle opened with WRITE_DAC. A DACL that grants a SID of the
// caller's token the right to set values makes the key writable again;
// any other DACL leaves it read-only for the caller.
LONG RegSetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor);
// Registry keys only: the owner may be set on a handle opened with
// WRITE_OWNER (the store keeps no owner); other kinds give
// ERROR_CALL_NOT_IMPLEMENTED.
DWORD SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                      PACL dacl, PACL sacl);

// The ANSI forms: names and the data of the three string types in the ANSI
// code page (1252); sizes of that data are bytes of the ANSI text, name sizes
// are characters, which are bytes here.
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LONG RegDeleteValueA(HKEY key, LPCSTR name);
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
LONG RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM access, DWORD reserved);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR keyClass,
                   LPDWORD classSize, PFILETIME lastWrite);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize);
LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                      LPDWORD maxValueLen, LPDWORD securityDescriptor, PFILETIME lastWrite);

namespace win32 {
// How far a key refuses the current user, as a stored security descriptor
// would: not at all; writes (the user, as owner, may still rewrite its DACL);
// everything but reading (owned by another: no new DACL, no new owner).
enum RegistryGuard { kRegistryOpen = 0, kRegistryReadOnly = 1, kRegistrySealed = 2 };
// Sets a key's guard (below an open key); tests and the registry tool use it.
LONG registry_protect(HKEY key, LPCWSTR subKey, REGSAM view, int guard);
// The store's file for the current world.
std::string registry_path();
}  // namespace win32
