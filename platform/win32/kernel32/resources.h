// Resources of the layer's system modules: a small fixed table of what the
// system's code reads from them. Only numeric types and names exist; the
// program module and modules the table lacks have no resources
// (ERROR_RESOURCE_DATA_NOT_FOUND), a known module without the type answers
// ERROR_RESOURCE_TYPE_NOT_FOUND, without the name
// ERROR_RESOURCE_NAME_NOT_FOUND, without the language 1815.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_VERSION MAKEINTRESOURCEW(16)
#define ERROR_RESOURCE_ENUM_USER_STOP 15106L

struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = HANDLE;

using ENUMRESNAMEPROCW = BOOL (*)(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param);
using ENUMRESLANGPROCW = BOOL (*)(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param);

// Language 0 (neutral) takes the first language the resource has.
HRSRC FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage);
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
LPVOID LockResource(HGLOBAL hResData);
DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
// A callback that answers FALSE stops the walk: FALSE with
// ERROR_RESOURCE_ENUM_USER_STOP.
BOOL EnumResourceNamesW(HMODULE hModule, LPCWSTR lpType, ENUMRESNAMEPROCW lpEnumFunc, LONG_PTR lParam);
BOOL EnumResourceLanguagesW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, ENUMRESLANGPROCW lpEnumFunc,
                            LONG_PTR lParam);

namespace win32 {
// Tests only: makes a module (name without ".dll", any case) answer as one
// without resources, or (hidden false) have its resources again.
void hide_resources_for_tests(const char* module, bool hidden);
}  // namespace win32
