// The process's handle table. A HANDLE names a kernel object of the layer; the
// object lives while any handle (or internal reference) holds it.
#pragma once

#include <memory>

#include "platform/win32/layer/types.h"

namespace win32 {

enum class ObjectKind {
  File,
  Event,
  Mutex,
  Semaphore,
  Thread,
  Process,
  FileMapping,
  Find,
  ChangeNotification,
  Token,
  RegistryKey,
  Other
};

struct KernelObject {
  virtual ~KernelObject() = default;
  virtual ObjectKind kind() const = 0;
};

// Returns a fresh handle value (never null, never INVALID_HANDLE_VALUE).
HANDLE handle_insert(std::shared_ptr<KernelObject> object);
// The object a handle names, or null (last error untouched) when it names none.
std::shared_ptr<KernelObject> handle_lookup(HANDLE h);
// Removes the handle; false when it named nothing.
bool handle_remove(HANDLE h);
// Number of open handles, for tests that look for leaks.
std::size_t handle_count();

template <class T>
std::shared_ptr<T> handle_lookup_as(HANDLE h) {
  return std::dynamic_pointer_cast<T>(handle_lookup(h));
}

}  // namespace win32

BOOL CloseHandle(HANDLE hObject);

#define DUPLICATE_CLOSE_SOURCE 0x00000001
#define DUPLICATE_SAME_ACCESS 0x00000002
BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                     LPHANDLE lpTargetHandle, DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);
HANDLE GetCurrentProcess();
