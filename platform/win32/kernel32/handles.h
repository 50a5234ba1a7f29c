// The process's handle table. A HANDLE names a kernel object of the layer; the
// object lives while any handle (or internal reference) holds it.
#pragma once

#include <memory>

#include "platform/win32/kernel32/lasterror.h"
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

// The access a handle grants when its maker asks for nothing narrower: every
// right, as a creating call gives its caller.
constexpr DWORD kAllAccess = 0xFFFFFFFFu;

// Returns a fresh handle value (never null, never INVALID_HANDLE_VALUE). The
// handle grants `access`; `flags` are its HANDLE_FLAG_* bits.
HANDLE handle_insert(std::shared_ptr<KernelObject> object, DWORD access = kAllAccess, DWORD flags = 0);
// The object a handle names, or null (last error untouched) when it names none.
std::shared_ptr<KernelObject> handle_lookup(HANDLE h);
// The same, with the access the handle grants.
std::shared_ptr<KernelObject> handle_lookup(HANDLE h, DWORD& access);
// Removes the handle; false when it named nothing.
bool handle_remove(HANDLE h);
// Number of open handles, for tests that look for leaks.
std::size_t handle_count();

template <class T>
std::shared_ptr<T> handle_lookup_as(HANDLE h) {
  return std::dynamic_pointer_cast<T>(handle_lookup(h));
}

// The object when the handle names one of type T; `needed` rights missing from
// the handle's grant leave it null with ERROR_ACCESS_DENIED, a handle naming
// no T with ERROR_INVALID_HANDLE.
template <class T>
std::shared_ptr<T> handle_lookup_for(HANDLE h, DWORD needed) {
  DWORD access = 0;
  auto object = std::dynamic_pointer_cast<T>(handle_lookup(h, access));
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((access & needed) != needed) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return object;
}

// Checks a named object's name as Windows does: after an optional "Global\"
// or "Local\" prefix a backslash in front is ERROR_BAD_PATHNAME, one further
// in ERROR_PATH_NOT_FOUND, more than MAX_PATH characters
// ERROR_FILENAME_EXCED_RANGE. False with the last error set.
bool valid_object_name(const char16_t* name);

// Maps GENERIC_* and MAXIMUM_ALLOWED bits of a requested access onto an
// object kind's specific rights (`read`, `write`, `execute`, `all`).
DWORD map_generic_access(DWORD access, DWORD read, DWORD write, DWORD execute, DWORD all);

}  // namespace win32

BOOL CloseHandle(HANDLE hObject);

// A handle protected from close stays open: CloseHandle answers FALSE with
// ERROR_INVALID_HANDLE, as Windows does outside a debugger.
#define HANDLE_FLAG_INHERIT 0x00000001
#define HANDLE_FLAG_PROTECT_FROM_CLOSE 0x00000002
BOOL SetHandleInformation(HANDLE hObject, DWORD dwMask, DWORD dwFlags);
BOOL GetHandleInformation(HANDLE hObject, LPDWORD lpdwFlags);

// Without DUPLICATE_SAME_ACCESS the duplicate grants dwDesiredAccess only (its
// generic bits mapped for events, mutexes and semaphores); bInheritHandle
// becomes its HANDLE_FLAG_INHERIT.
#define DUPLICATE_CLOSE_SOURCE 0x00000001
#define DUPLICATE_SAME_ACCESS 0x00000002
BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                     LPHANDLE lpTargetHandle, DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);
HANDLE GetCurrentProcess();
