// Layer-internal links between the COM runtime and the shell's objects.
#pragma once

#include <atomic>
#include <initializer_list>

#include "platform/win32/ole32/com.h"

namespace win32 {

// The shell-link class (CLSID_ShellLink), a row of the class table.
HRESULT make_shell_link(REFIID riid, void** object);
// The process's task allocator (never released).
IMalloc* task_malloc();

// The reference count of a layer object; the last release deletes it.
class com_refs {
 public:
  ULONG add() noexcept { return ++refs_; }
  template <class Object>
  ULONG drop(Object* self) noexcept {
    const ULONG left = --refs_;
    if (!left) delete self;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// QueryInterface of an object with one face: `face` (with a reference added)
// for IUnknown and each of `ids`, else E_NOINTERFACE.
inline HRESULT answer_query(REFIID riid, void** object, IUnknown* face, std::initializer_list<const IID*> ids) {
  if (!object) return E_POINTER;
  bool known = IsEqualIID(riid, IID_IUnknown);
  for (const IID* id : ids) known = known || IsEqualIID(riid, *id);
  if (!known) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = face;
  face->AddRef();
  return S_OK;
}

}  // namespace win32
