#include "platform/win32/version/verinfo.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/paths.h"

namespace win32 {
namespace {

constexpr WORD kRtVersion = 16;

// The sizes of the blocks GetFileVersionInfoW filled, newest first: the only
// way VerQueryValueA can know how much room the caller gave it.
std::mutex blocksLock;
std::vector<std::pair<const void*, DWORD>> filledBlocks;

void remember_block(const void* block, DWORD size) {
  std::lock_guard<std::mutex> hold(blocksLock);
  std::erase_if(filledBlocks, [&](const auto& e) { return e.first == block; });
  filledBlocks.insert(filledBlocks.begin(), {block, size});
  if (filledBlocks.size() > 64) filledBlocks.pop_back();
}

DWORD block_size(const void* block) {
  std::lock_guard<std::mutex> hold(blocksLock);
  for (const auto& e : filledBlocks)
    if (e.first == block) return e.second;
  return 0;
}

std::uint32_t u32(const std::vector<BYTE>& f, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, &f[at], 4);
  return v;
}
std::uint16_t u16at(const std::vector<BYTE>& f, std::size_t at) {
  std::uint16_t v;
  std::memcpy(&v, &f[at], 2);
  return v;
}

// The version resource's bytes, or an error code.
DWORD read_version_resource(LPCWSTR name, std::vector<BYTE>& out) {
  if (!name) return ERROR_INVALID_PARAMETER;
  std::string path = to_unix_path(name);
  if (path.empty()) return GetLastError();
  std::ifstream in(path, std::ios::binary);
  if (!in) return ERROR_FILE_NOT_FOUND;
  std::vector<BYTE> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto has = [&](std::size_t at, std::size_t n) { return at <= f.size() && n <= f.size() - at; };
  if (!has(0, 0x40) || f[0] != 'M' || f[1] != 'Z') return ERROR_RESOURCE_DATA_NOT_FOUND;
  std::size_t pe = u32(f, 0x3C);
  if (!has(pe, 24) || std::memcmp(&f[pe], "PE\0\0", 4) != 0) return ERROR_RESOURCE_DATA_NOT_FOUND;
  std::size_t sections = u16at(f, pe + 6);
  std::size_t optSize = u16at(f, pe + 20);
  std::size_t opt = pe + 24;
  if (!has(opt, 2)) return ERROR_RESOURCE_DATA_NOT_FOUND;
  WORD magic = u16at(f, opt);
  std::size_t dirs = opt + (magic == 0x20B ? 112 : 96);
  if (dirs + 24 > opt + optSize || !has(dirs, 24)) return ERROR_RESOURCE_DATA_NOT_FOUND;
  std::uint32_t resRva = u32(f, dirs + 16), resSize = u32(f, dirs + 20);
  if (!resRva || !resSize) return ERROR_RESOURCE_DATA_NOT_FOUND;
  // An RVA to a file offset through the section table.
  std::size_t table = opt + optSize;
  auto offsetOf = [&](std::uint32_t rva, std::size_t n, std::size_t& at) {
    for (std::size_t i = 0; i < sections; ++i) {
      std::size_t s = table + 40 * i;
      if (!has(s, 40)) return false;
      std::uint32_t va = u32(f, s + 12), raw = u32(f, s + 16), ptr = u32(f, s + 20);
      if (rva >= va && rva - va < raw) {
        at = ptr + (rva - va);
        return n <= raw - (rva - va) && has(at, n);
      }
    }
    return false;
  };
  std::size_t root;
  if (!offsetOf(resRva, 16, root)) return ERROR_RESOURCE_DATA_NOT_FOUND;
  // Three levels: type, name, language; the first entry below RT_VERSION.
  auto entryOf = [&](std::size_t dir, bool byId, WORD id, std::uint32_t& offset) {
    if (!has(dir, 16)) return false;
    std::size_t named = u16at(f, dir + 12), ids = u16at(f, dir + 14);
    for (std::size_t i = 0; i < named + ids; ++i) {
      std::size_t e = dir + 16 + 8 * i;
      if (!has(e, 8)) return false;
      std::uint32_t nameField = u32(f, e);
      if (byId && ((nameField & 0x80000000u) || nameField != id)) continue;
      offset = u32(f, e + 4);
      return true;
    }
    return false;
  };
  std::uint32_t off;
  if (!entryOf(root, true, kRtVersion, off)) return ERROR_RESOURCE_TYPE_NOT_FOUND;
  for (int level = 0; level < 2; ++level) {
    if (!(off & 0x80000000u)) return ERROR_RESOURCE_DATA_NOT_FOUND;
    if (!entryOf(root + (off & 0x7FFFFFFFu), false, 0, off)) return ERROR_RESOURCE_NAME_NOT_FOUND;
  }
  if (off & 0x80000000u) return ERROR_RESOURCE_DATA_NOT_FOUND;
  std::size_t data = root + off;
  if (!has(data, 16)) return ERROR_RESOURCE_DATA_NOT_FOUND;
  std::uint32_t dataRva = u32(f, data), dataSize = u32(f, data + 4);
  std::size_t at;
  if (dataSize < 6 || !offsetOf(dataRva, dataSize, at)) return ERROR_RESOURCE_DATA_NOT_FOUND;
  out.assign(f.begin() + static_cast<std::ptrdiff_t>(at), f.begin() + static_cast<std::ptrdiff_t>(at + dataSize));
  return ERROR_SUCCESS;
}

std::size_t align4(std::size_t v) { return (v + 3) & ~std::size_t{3}; }

struct Node {
  std::size_t start, length, key, value, valueLength, children;
  WORD type;
};

// The node at `at` within [at, end), or false when malformed.
bool node_at(const BYTE* b, std::size_t at, std::size_t end, Node& n) {
  if (at + 6 > end) return false;
  WORD len, vlen, type;
  std::memcpy(&len, b + at, 2);
  std::memcpy(&vlen, b + at + 2, 2);
  std::memcpy(&type, b + at + 4, 2);
  if (len < 6 || at + len > end) return false;
  n.start = at;
  n.length = len;
  n.type = type;
  n.key = at + 6;
  std::size_t p = n.key;
  while (true) {
    if (p + 2 > at + len) return false;
    char16_t c;
    std::memcpy(&c, b + p, 2);
    p += 2;
    if (!c) break;
  }
  n.value = align4(p);
  n.valueLength = type == 1 ? 2u * vlen : vlen;
  if (n.value + n.valueLength > at + len) n.valueLength = n.value > at + len ? 0 : at + len - n.value;
  n.children = align4(n.value + n.valueLength);
  return true;
}

bool key_equals(const BYTE* b, std::size_t key, const std::u16string& want) {
  for (std::size_t i = 0;; ++i) {
    char16_t c;
    std::memcpy(&c, b + key + 2 * i, 2);
    char16_t w = i < want.size() ? want[i] : 0;
    auto lower = [](char16_t x) { return x >= 'A' && x <= 'Z' ? static_cast<char16_t>(x + 32) : x; };
    if (lower(c) != lower(w)) return false;
    if (!c) return true;
  }
}

// Walks the path's components down from the root node.
bool find(const BYTE* block, const std::u16string& path, Node& out) {
  WORD total;
  std::memcpy(&total, block, 2);
  Node n;
  if (!node_at(block, 0, total, n)) return false;
  std::size_t i = 0;
  while (true) {
    while (i < path.size() && (path[i] == u'\\' || path[i] == u'/')) ++i;
    if (i >= path.size()) break;
    std::size_t j = i;
    while (j < path.size() && path[j] != u'\\' && path[j] != u'/') ++j;
    std::u16string part = path.substr(i, j - i);
    i = j;
    std::size_t end = n.start + n.length, at = n.children;
    bool found = false;
    while (at + 6 <= end) {
      Node child;
      if (!node_at(block, at, end, child)) return false;
      if (key_equals(block, child.key, part)) {
        n = child;
        found = true;
        break;
      }
      at = align4(child.start + child.length);
    }
    if (!found) return false;
  }
  out = n;
  return true;
}

}  // namespace
}  // namespace win32

DWORD GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle) {
  if (handle) *handle = 0;
  std::vector<BYTE> res;
  DWORD e = win32::read_version_resource(name, res);
  if (e) {
    SetLastError(e);
    return 0;
  }
  return static_cast<DWORD>(2 * res.size());
}

BOOL GetFileVersionInfoW(LPCWSTR name, DWORD, DWORD size, LPVOID data) {
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<BYTE> res;
  DWORD e = win32::read_version_resource(name, res);
  if (e) {
    SetLastError(e);
    return FALSE;
  }
  // The resource's own length word bounds every walk, so a short copy stays safe.
  std::size_t n = res.size() < size ? res.size() : size;
  std::memcpy(data, res.data(), n);
  if (n >= 2) {
    WORD len = static_cast<WORD>(n < res.size() ? n : res.size());
    WORD stored;
    std::memcpy(&stored, data, 2);
    if (stored > len) std::memcpy(data, &len, 2);
  }
  if (size > n) std::memset(static_cast<BYTE*>(data) + n, 0, size - n);
  win32::remember_block(data, size);
  return TRUE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) {
  if (!block || !subBlock || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto b = static_cast<const BYTE*>(block);
  win32::Node n;
  if (!win32::find(b, subBlock, n) || !n.valueLength) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  *buffer = const_cast<BYTE*>(b + n.value);
  if (length) *length = static_cast<UINT>(n.type == 1 ? n.valueLength / 2 : n.valueLength);
  return TRUE;
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
  if (!block || !subBlock || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string path;
  for (const char* p = subBlock; *p; ++p) path += static_cast<char16_t>(static_cast<unsigned char>(*p));
  auto b = static_cast<const BYTE*>(block);
  win32::Node n;
  if (!win32::find(b, path, n) || !n.valueLength) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  if (n.type != 1) {
    *buffer = const_cast<BYTE*>(b + n.value);
    if (length) *length = static_cast<UINT>(n.valueLength);
    return TRUE;
  }
  // Texts go to the scratch half, at the same distance from its start, and
  // never past its end; a block without the whole half has no room for them.
  WORD total;
  std::memcpy(&total, b, 2);
  const std::size_t given = win32::block_size(block);
  if (given <= static_cast<std::size_t>(total) + n.value) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  BYTE* out = const_cast<BYTE*>(b) + total + n.value;
  int room = static_cast<int>(std::min<std::size_t>(n.valueLength, given - total - n.value));
  int made = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(b + n.value),
                                 static_cast<int>(n.valueLength / 2), reinterpret_cast<LPSTR>(out), room, nullptr,
                                 nullptr);
  if (made <= 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  out[made - 1] = 0;
  *buffer = out;
  if (length) *length = static_cast<UINT>(made);
  return TRUE;
}
