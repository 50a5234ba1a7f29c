// Calls into shell folders and their enumerators that a fault inside a shell
// extension cannot escape: a structured exception raised during the method
// comes back as its code (for example 0xC0000005), any other exception as
// 0xE06D7363, and the caller handles it like any failing HRESULT.
#pragma once

#include "platform/win32/windows.h"

HRESULT guarded_QueryInterface(IUnknown* object, REFIID riid, void** out);
// The new reference count on success.
HRESULT guarded_Release(IUnknown* object);
HRESULT guarded_ParseDisplayName(IShellFolder* folder, HWND owner, IBindCtx* bind, LPWSTR name, ULONG* eaten,
                                 LPITEMIDLIST* list, ULONG* attributes);
HRESULT guarded_EnumObjects(IShellFolder* folder, HWND owner, SHCONTF flags, IEnumIDList** enumerator);
HRESULT guarded_BindToObject(IShellFolder* folder, LPCITEMIDLIST list, IBindCtx* bind, REFIID riid, void** out);
HRESULT guarded_CompareIDs(IShellFolder* folder, LPARAM param, LPCITEMIDLIST a, LPCITEMIDLIST b);
HRESULT guarded_GetAttributesOf(IShellFolder* folder, UINT count, LPCITEMIDLIST* lists, SFGAOF* in_out);
HRESULT guarded_GetUIObjectOf(IShellFolder* folder, HWND owner, UINT count, LPCITEMIDLIST* lists, REFIID riid,
                              UINT* reserved, void** out);
HRESULT guarded_GetDisplayNameOf(IShellFolder* folder, LPCITEMIDLIST list, SHGDNF flags, STRRET* name);
HRESULT guarded_Next(IEnumIDList* enumerator, ULONG count, LPITEMIDLIST* items, ULONG* fetched);
