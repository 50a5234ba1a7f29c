#include "platform/win32/kernel32/handles.h"

#include <mutex>
#include <vector>

#include "platform/win32/kernel32/lasterror.h"

namespace win32 {
namespace {

// Handle values are multiples of four as on Windows; slot i is value (i + 1) * 4.
struct Table {
  std::mutex lock;
  std::vector<std::shared_ptr<KernelObject>> slots;
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

}  // namespace

HANDLE handle_insert(std::shared_ptr<KernelObject> object) {
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
  t.slots[i] = std::move(object);
  ++t.used;
  return reinterpret_cast<HANDLE>((i + 1) * 4);
}

std::shared_ptr<KernelObject> handle_lookup(HANDLE h) {
  std::size_t i;
  if (!slot_of(h, i)) return nullptr;
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  if (i >= t.slots.size()) return nullptr;
  return t.slots[i];
}

bool handle_remove(HANDLE h) {
  std::size_t i;
  if (!slot_of(h, i)) return false;
  std::shared_ptr<KernelObject> dying;  // destroyed outside the lock
  Table& t = table();
  {
    std::lock_guard<std::mutex> g(t.lock);
    if (i >= t.slots.size() || !t.slots[i]) return false;
    dying = std::move(t.slots[i]);
    t.free.push_back(i);
    --t.used;
  }
  return true;
}

std::size_t handle_count() {
  Table& t = table();
  std::lock_guard<std::mutex> g(t.lock);
  return t.used;
}

}  // namespace win32

BOOL CloseHandle(HANDLE hObject) {
  if (!win32::handle_remove(hObject)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

BOOL DuplicateHandle(HANDLE, HANDLE hSourceHandle, HANDLE, LPHANDLE lpTargetHandle, DWORD, BOOL,
                     DWORD dwOptions) {
  auto object = win32::handle_lookup(hSourceHandle);
  if (!object || !lpTargetHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *lpTargetHandle = win32::handle_insert(object);
  if (dwOptions & DUPLICATE_CLOSE_SOURCE) win32::handle_remove(hSourceHandle);
  return TRUE;
}
