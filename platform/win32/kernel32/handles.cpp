#include "platform/win32/kernel32/handles.h"

#include <mutex>
#include <vector>

#include "platform/win32/kernel32/lasterror.h"

namespace win32 {
namespace {

struct Slot {
  std::shared_ptr<KernelObject> object;
  DWORD access = 0;
  DWORD flags = 0;
};

// Handle values are multiples of four as on Windows; slot i is value (i + 1) * 4.
struct Table {
  std::mutex lock;
  std::vector<Slot> slots;
  std::vector<std::size_t> free;
  std::size_t used = 0;
};

Table& table() {
  static Table* t = new Table;  // never destroyed: handles may be closed during exit
  return *t;
}

bool slot_of(HANDLE h, std::size_t& index) {
  auto v = reinterpret_cast<std::uintptr_t>(h);
  if (v == 0 || (v & 3) != 0 || h == INVALID_HANDLE_VALUE) return false;
  index = v / 4 - 1;
  return true;
}

constexpr DWORD kFlagBits = HANDLE_FLAG_INHERIT | HANDLE_FLAG_PROTECT_FROM_CLOSE;

enum class Removal { Removed, NoHandle, Protected };

Removal remove(HANDLE h) {
  std::size_t i;
  if (!slot_of(h, i)) return Removal::NoHandle;
  std::shared_ptr<KernelObject> dying;  // destroyed outside the lock
  Table& t = table();
  {
    std::lock_guard<std::mutex> g(t.lock);
    if (i >= t.slots.size() || !t.slots[i].object) return Removal::NoHandle;
    if (t.slots[i].flags & HANDLE_FLAG_PROTECT_FROM_CLOSE) return Removal::Protected;
    dying = std::move(t.slots[i].object);
    t.slots[i] = Slot{};
    t.free.push_back(i);
    --t.used;
  }
  return Removal::Removed;
}

}  // namespace

HANDLE handle_insert(std::shared_ptr<KernelObject> object, DWORD access, DWORD flags) {
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  std::size_t i;
  if (!t.free.empty()) {
    i = t.free.back();
    t.free.pop_back();
  } else {
    i = t.slots.size();
    t.slots.emplace_back();
  }
  t.slots[i] = Slot{std::move(object), access, flags & kFlagBits};
  ++t.used;
  return reinterpret_cast<HANDLE>((i + 1) * 4);
}

std::shared_ptr<KernelObject> handle_lookup(HANDLE h, DWORD& access) {
  access = 0;
  std::size_t i;
  if (!slot_of(h, i)) return nullptr;
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  if (i >= t.slots.size()) return nullptr;
  access = t.slots[i].access;
  return t.slots[i].object;
}

std::shared_ptr<KernelObject> handle_lookup(HANDLE h) {
  DWORD access;
  return handle_lookup(h, access);
}

bool handle_remove(HANDLE h) { return remove(h) == Removal::Removed; }

std::size_t handle_count() {
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  return t.used;
}

DWORD map_generic_access(DWORD access, DWORD read, DWORD write, DWORD execute, DWORD all) {
  constexpr DWORD kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u, kGenericExecute = 0x20000000u,
                  kGenericAll = 0x10000000u, kMaximumAllowed = 0x02000000u;
  DWORD out = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll | kMaximumAllowed);
  if (access & kGenericRead) out |= read;
  if (access & kGenericWrite) out |= write;
  if (access & kGenericExecute) out |= execute;
  if (access & (kGenericAll | kMaximumAllowed)) out |= all;
  return out;
}

}  // namespace win32

BOOL CloseHandle(HANDLE hObject) {
  if (win32::remove(hObject) != win32::Removal::Removed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL SetHandleInformation(HANDLE hObject, DWORD dwMask, DWORD dwFlags) {
  std::size_t i;
  win32::Table& t = win32::table();
  std::lock_guard<std::mutex> g(t.lock);
  if (!win32::slot_of(hObject, i) || i >= t.slots.size() || !t.slots[i].object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  dwMask &= win32::kFlagBits;
  t.slots[i].flags = (t.slots[i].flags & ~dwMask) | (dwFlags & dwMask);
  return TRUE;
}

BOOL GetHandleInformation(HANDLE hObject, LPDWORD lpdwFlags) {
  std::size_t i;
  win32::Table& t = win32::table();
  std::lock_guard<std::mutex> g(t.lock);
  if (!win32::slot_of(hObject, i) || i >= t.slots.size() || !t.slots[i].object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!lpdwFlags) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpdwFlags = t.slots[i].flags;
  return TRUE;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

namespace {

// Events, mutexes and semaphores map generic rights to their own; other kinds
// keep the bits as asked.
DWORD duplicate_access(const win32::KernelObject& object, DWORD asked) {
  constexpr DWORD kSync = 0x00100000u, kReadControl = 0x00020000u;
  switch (object.kind()) {
    case win32::ObjectKind::Event:
      return win32::map_generic_access(asked, kReadControl | 0x0001, kReadControl | 0x0002, kReadControl | kSync,
                                       0x1F0003);
    case win32::ObjectKind::Mutex:
      return win32::map_generic_access(asked, kReadControl | 0x0001, kReadControl, kReadControl | kSync, 0x1F0001);
    case win32::ObjectKind::Semaphore:
      return win32::map_generic_access(asked, kReadControl | 0x0001, kReadControl | 0x0002, kReadControl | kSync,
                                       0x1F0003);
    default:
      return asked;
  }
}

}  // namespace

BOOL DuplicateHandle(HANDLE, HANDLE hSourceHandle, HANDLE, LPHANDLE lpTargetHandle, DWORD dwDesiredAccess,
                     BOOL bInheritHandle, DWORD dwOptions) {
  DWORD access = 0;
  auto object = win32::handle_lookup(hSourceHandle, access);
  if (!object || !lpTargetHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(dwOptions & DUPLICATE_SAME_ACCESS)) access = duplicate_access(*object, dwDesiredAccess);
  *lpTargetHandle = win32::handle_insert(object, access, bInheritHandle ? HANDLE_FLAG_INHERIT : 0);
  if (dwOptions & DUPLICATE_CLOSE_SOURCE) win32::handle_remove(hSourceHandle);
  return TRUE;
}
