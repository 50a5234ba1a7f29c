#include "platform/win32/kernel32/mapping.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/paths.h"

namespace win32 {
namespace {

constexpr ULONGLONG kGranularity = 65536;

struct MappingObject : KernelObject {
  ObjectKind kind() const override { return ObjectKind::FileMapping; }
  ~MappingObject() override;
  int fd = -1;
  ULONGLONG size = 0;
  bool writable = true;
  std::string path;  // empty for unnamed mappings
};

std::string mappings_folder() { return world_root() + "/run/mappings"; }

// Serialises create, open and the last close between processes of the world.
class FolderLock {
 public:
  FolderLock() {
    std::string folder = mappings_folder();
    ::mkdir((world_root() + "/run").c_str(), 0777);
    ::mkdir(folder.c_str(), 0777);
    fd_ = ::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

MappingObject::~MappingObject() {
  if (fd < 0) return;
  if (!path.empty()) {
    FolderLock lock;
    // The last holder anywhere removes the name.
    if (lock.ok() && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(path.c_str());
  }
  ::close(fd);
}

// The file name of an object name: prefix dropped, unsafe bytes escaped.
std::string file_of(const std::u16string& name) {
  std::u16string n = name;
  for (const char16_t* prefix : {u"Global\\", u"Local\\"}) {
    std::u16string p = prefix;
    if (n.compare(0, p.size(), p) == 0) {
      n = n.substr(p.size());
      break;
    }
  }
  std::string utf8 = utf16_to_utf8(n), out;
  static const char hex[] = "0123456789ABCDEF";
  for (unsigned char c : utf8) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c >= 0x80) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (out.empty() || out[0] == '.') out = "%" + out;
  return mappings_folder() + "/" + out;
}

struct View {
  SIZE_T length;
  std::shared_ptr<MappingObject> mapping;
};
std::mutex viewsLock;
std::map<const void*, View> views;

HANDLE create(HANDLE file, DWORD protect, ULONGLONG size, const char16_t* name, bool openOnly, DWORD access) {
  if (!openOnly && file != INVALID_HANDLE_VALUE) {
    SetLastError(handle_lookup(file) ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto m = std::make_shared<MappingObject>();
  m->writable = openOnly ? (access & FILE_MAP_WRITE) != 0 : (protect & 0xFF) == PAGE_READWRITE;
  if (!openOnly && (protect & 0xFF) != PAGE_READWRITE && (protect & 0xFF) != PAGE_READONLY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!name || !*name) {
    if (openOnly || size == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    m->fd = ::memfd_create("mapping", MFD_CLOEXEC);
    if (m->fd < 0 || ::ftruncate(m->fd, static_cast<off_t>(size)) != 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    m->size = size;
    SetLastError(ERROR_SUCCESS);
    return handle_insert(m);
  }
  if (!valid_object_name(name)) return nullptr;
  FolderLock lock;
  if (!lock.ok()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  std::string path = file_of(name);
  int fd = ::open(path.c_str(), (m->writable || !openOnly ? O_RDWR : O_RDONLY) | O_CLOEXEC | (openOnly ? 0 : O_CREAT),
                  0666);
  if (fd < 0) {
    SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  m->fd = fd;
  m->path = path;
  bool exists = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  if (!exists) {
    // Nobody holds it: new, or left behind by a dead process.
    if (openOnly) {
      ::unlink(path.c_str());
      m->path.clear();
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    if (size == 0) {
      m->path.clear();
      ::unlink(path.c_str());
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      m->path.clear();
      ::unlink(path.c_str());
      SetLastError(ERROR_DISK_FULL);
      return nullptr;
    }
  }
  ::flock(fd, LOCK_SH);
  struct stat st{};
  ::fstat(fd, &st);
  m->size = static_cast<ULONGLONG>(st.st_size);
  HANDLE h = handle_insert(m);
  SetLastError(exists && !openOnly ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

std::u16string from_ansi(LPCSTR s) {
  std::u16string r;
  if (!s) return r;
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  if (n <= 0) return r;
  r.resize(static_cast<std::size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, s, -1, r.data(), n);
  r.resize(static_cast<std::size_t>(n - 1));
  return r;
}

}  // namespace
}  // namespace win32

HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCWSTR name) {
  ULONGLONG size = (static_cast<ULONGLONG>(maximumSizeHigh) << 32) | maximumSizeLow;
  return win32::create(hFile, protect, size, name, false, 0);
}

HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name) {
  std::u16string w = win32::from_ansi(name);
  return CreateFileMappingW(hFile, attributes, protect, maximumSizeHigh, maximumSizeLow, name ? w.c_str() : nullptr);
}

HANDLE OpenFileMappingW(DWORD access, BOOL, LPCWSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return win32::create(INVALID_HANDLE_VALUE, 0, 0, name, true, access);
}

HANDLE OpenFileMappingA(DWORD access, BOOL inheritHandle, LPCSTR name) {
  std::u16string w = win32::from_ansi(name);
  return OpenFileMappingW(access, inheritHandle, name ? w.c_str() : nullptr);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
  auto m = win32::handle_lookup_as<win32::MappingObject>(mapping);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ULONGLONG offset = (static_cast<ULONGLONG>(offsetHigh) << 32) | offsetLow;
  if (offset % win32::kGranularity) {
    SetLastError(ERROR_MAPPED_ALIGNMENT);
    return nullptr;
  }
  bool write = (access & FILE_MAP_WRITE) != 0;
  if (write && !m->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (offset > m->size || (bytes && bytes > m->size - offset)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  SIZE_T length = bytes ? bytes : static_cast<SIZE_T>(m->size - offset);
  if (!length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  int prot = PROT_READ | (write ? PROT_WRITE : 0);
  int flags = (access & FILE_MAP_COPY) ? MAP_PRIVATE : MAP_SHARED;
  if (access & FILE_MAP_COPY) prot |= PROT_WRITE;
  void* p = ::mmap(nullptr, length, prot, flags, m->fd, static_cast<off_t>(offset));
  if (p == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> g(win32::viewsLock);
  win32::views[p] = win32::View{length, m};
  return p;
}

BOOL UnmapViewOfFile(LPCVOID address) {
  std::shared_ptr<win32::MappingObject> keep;  // released after the lock
  std::lock_guard<std::mutex> g(win32::viewsLock);
  auto it = win32::views.find(address);
  if (it == win32::views.end()) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  ::munmap(const_cast<void*>(address), it->second.length);
  keep = std::move(it->second.mapping);
  win32::views.erase(it);
  return TRUE;
}
