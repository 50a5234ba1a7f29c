#include "files/guarded_calls.h"

#include <cxxabi.h>

#include "platform/win32/windows.h"

namespace {

// The code C++ exceptions carry as structured exceptions.
constexpr DWORD kCppException = 0xE06D7363;

template <class Call>
HRESULT guarded(Call&& call) {
  try {
    return call();
  } catch (const win32::structured_exception& e) {
    return static_cast<HRESULT>(e.code);
  } catch (const win32::ThreadExit&) {
    // Ending the thread is no fault of the extension; it must go on out.
    throw;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    return static_cast<HRESULT>(kCppException);
  }
}

}  // namespace

HRESULT guarded_QueryInterface(IUnknown* object, REFIID riid, void** out) {
  return guarded([&] { return object->QueryInterface(riid, out); });
}

HRESULT guarded_Release(IUnknown* object) {
  return guarded([&] { return static_cast<HRESULT>(object->Release()); });
}

HRESULT guarded_ParseDisplayName(IShellFolder* folder, HWND owner, IBindCtx* bind, LPWSTR name, ULONG* eaten,
                                 LPITEMIDLIST* list, ULONG* attributes) {
  return guarded([&] { return folder->ParseDisplayName(owner, bind, name, eaten, list, attributes); });
}

HRESULT guarded_EnumObjects(IShellFolder* folder, HWND owner, SHCONTF flags, IEnumIDList** enumerator) {
  return guarded([&] { return folder->EnumObjects(owner, flags, enumerator); });
}

HRESULT guarded_BindToObject(IShellFolder* folder, LPCITEMIDLIST list, IBindCtx* bind, REFIID riid, void** out) {
  return guarded([&] { return folder->BindToObject(list, bind, riid, out); });
}

HRESULT guarded_CompareIDs(IShellFolder* folder, LPARAM param, LPCITEMIDLIST a, LPCITEMIDLIST b) {
  return guarded([&] { return folder->CompareIDs(param, a, b); });
}

HRESULT guarded_GetAttributesOf(IShellFolder* folder, UINT count, LPCITEMIDLIST* lists, SFGAOF* in_out) {
  return guarded([&] { return folder->GetAttributesOf(count, lists, in_out); });
}

HRESULT guarded_GetUIObjectOf(IShellFolder* folder, HWND owner, UINT count, LPCITEMIDLIST* lists, REFIID riid,
                              UINT* reserved, void** out) {
  return guarded([&] { return folder->GetUIObjectOf(owner, count, lists, riid, reserved, out); });
}

HRESULT guarded_GetDisplayNameOf(IShellFolder* folder, LPCITEMIDLIST list, SHGDNF flags, STRRET* name) {
  return guarded([&] { return folder->GetDisplayNameOf(list, flags, name); });
}

HRESULT guarded_Next(IEnumIDList* enumerator, ULONG count, LPITEMIDLIST* items, ULONG* fetched) {
  return guarded([&] { return enumerator->Next(count, items, fetched); });
}
