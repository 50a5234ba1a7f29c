#include "system/shared_memory.h"

#include <new>

#include "core/catalogue.h"
#include "core/error.h"
#include "platform/win32/windows.h"
#include "system/security.h"

namespace Common {
namespace {

class SharedMemoryImpl : public SharedMemory {
 public:
  SharedMemoryImpl(HANDLE mapping, void* view, std::size_t size) : mapping_(mapping), view_(view), size_(size) {}
  ~SharedMemoryImpl() override {
    UnmapViewOfFile(view_);
    CloseHandle(mapping_);
  }
  void* data() override { return view_; }
  std::size_t size() override { return size_; }

 private:
  HANDLE mapping_;
  void* view_;
  std::size_t size_;
};

[[noreturn]] void fail(std::uint64_t site, std::uint32_t code, std::uint32_t slot, const char16_t* builtIn,
                       const char* name, DWORD win32Error) {
  Error e(site, code, catalogueText(slot, builtIn), name);
  if (win32Error) e.setWin32Cause(win32Error);
  throw e;
}

SharedMemory* mapSharedMemory(HANDLE mapping, std::size_t size, const char* name) {
  if (!mapping) fail(KV_SITE, 6, 465, u"Creation has failed.", name, GetLastError());
  void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
  if (!view) {
    DWORD e = GetLastError();
    CloseHandle(mapping);
    fail(KV_SITE, 6, 465, u"Creation has failed.", name, e);
  }
  SharedMemory* m = new (std::nothrow) SharedMemoryImpl(mapping, view, size);
  if (!m) {
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    fail(KV_SITE, 2, 470, u"Not enough memory.", name, 0);
  }
  return m;
}

}  // namespace

std::string globalObjectName(const char* name) { return std::string("Global\\") + (name ? name : ""); }

SharedMemory* SharedMemory::create(std::size_t size, const char* name, bool allowExisting, bool* existed) {
  bool local = false;
  if (!existed) existed = &local;
  *existed = false;
  Windows::SecurityAttributes security(u"S-1-1-0", DWORD{0xF001F}, DWORD{0}, static_cast<const WCHAR*>(nullptr));
  if (security.error) fail(KV_SITE, 5, 462, u"Access denied.", name, security.error);
  std::string full = globalObjectName(name);
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0,
                                      static_cast<DWORD>(size), full.c_str());
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (!allowExisting) {
      CloseHandle(mapping);
      fail(KV_SITE, 3, 463, u"The named resource already exists.", name, ERROR_ALREADY_EXISTS);
    }
    *existed = true;
  }
  return mapSharedMemory(mapping, size, name);
}

}  // namespace Common
