#include "files/security_info.h"

#include <cstring>
#include <mutex>

#include "files/win32_calls.h"
#include "system/tls.h"

std::int64_t time_zone_bias_ms() { return static_cast<std::int64_t>(win32_calls::time_zone_bias()) * 60000; }

namespace {

Common::ThreadLocal<void> g_network_token;

using GetFileSecurityFn = BOOL (*)(LPCWSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
using SetFileSecurityFn = BOOL (*)(LPCWSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
GetFileSecurityFn g_get = nullptr;
SetFileSecurityFn g_set = nullptr;
std::once_flag g_looked_up;

void look_up() {
  g_get = entry_as<GetFileSecurityFn>(win32_calls::entry(u"advapi32.dll", "GetFileSecurityW"));
  g_set = entry_as<SetFileSecurityFn>(win32_calls::entry(u"advapi32.dll", "SetFileSecurityW"));
}

}  // namespace

HANDLE network_impersonation_token() { return g_network_token.get(); }

HANDLE set_network_impersonation_token(HANDLE token, bool process_wide) {
  return g_network_token.set(token, process_wide);
}

NetworkImpersonationScope::NetworkImpersonationScope(bool enable) {
  if (!enable) return;
  HANDLE token = network_impersonation_token();
  if (!token) return;
  HANDLE own = nullptr;
  if (OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY, TRUE, &own))
    saved_ = own;
  else
    saved_ = INVALID_HANDLE_VALUE;
  RevertToSelf();
  ImpersonateLoggedOnUser(token);
}

NetworkImpersonationScope::~NetworkImpersonationScope() {
  if (!saved_) return;
  // The operation's own failure is what its caller reads afterwards.
  const DWORD last = GetLastError();
  RevertToSelf();
  if (saved_ != INVALID_HANDLE_VALUE) {
    ImpersonateLoggedOnUser(saved_);
    CloseHandle(saved_);
  }
  SetLastError(last);
}

SecurityInfoHolder::SecurityInfoHolder() { std::call_once(g_looked_up, look_up); }

void SecurityInfoHolder::look_up_entry_points() {
  std::call_once(g_looked_up, [] {});
  look_up();
}

bool SecurityInfoHolder::read(const char16_t* path) {
  if (!g_get) return false;
  for (int i = 0; i < 4; ++i) {
    Piece& p = pieces_[i];
    p.bytes.clear();
    DWORD needed = 0;
    if (g_get(path, kind(i), nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) continue;
    p.bytes.assign(needed, 0);
    if (!g_get(path, kind(i), p.bytes.data(), needed, &needed)) p.bytes.clear();
  }
  return true;
}

bool SecurityInfoHolder::write(const char16_t* path) {
  if (!g_set) return false;
  DWORD first_failure = ERROR_SUCCESS;
  for (int i = 0; i < 4; ++i) {
    Piece& p = pieces_[i];
    if (p.bytes.empty()) continue;
    if (!g_set(path, kind(i), p.bytes.data()) && first_failure == ERROR_SUCCESS) {
      first_failure = GetLastError();
      if (first_failure == ERROR_SUCCESS) first_failure = ERROR_ACCESS_DENIED;
    }
  }
  SetLastError(first_failure);
  return first_failure == ERROR_SUCCESS;
}

std::uint32_t SecurityInfoHolder::save(std::vector<std::uint8_t>& out) const {
  out.clear();
  for (const Piece& p : pieces_) {
    std::uint32_t n = static_cast<std::uint32_t>(p.bytes.size());
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(n >> (8 * b)));
    out.insert(out.end(), p.bytes.begin(), p.bytes.end());
  }
  return static_cast<std::uint32_t>(out.size());
}

bool SecurityInfoHolder::load(const void* data, std::size_t size) {
  for (Piece& p : pieces_) p.bytes.clear();
  auto bytes = static_cast<const std::uint8_t*>(data);
  std::size_t at = 0;
  for (Piece& p : pieces_) {
    if (!bytes || size - at < 4) {
      for (Piece& q : pieces_) q.bytes.clear();
      return false;
    }
    std::uint32_t n = static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
                      static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
                      static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    at += 4;
    if (n > size - at) {
      for (Piece& q : pieces_) q.bytes.clear();
      return false;
    }
    p.bytes.assign(bytes + at, bytes + at + n);
    at += n;
  }
  return true;
}

NativeObjectName::NativeObjectName(const char16_t* path) {
  std::u16string p = path ? path : u"";
  if (p.rfind(u"\\Device\\", 0) == 0)
    text_ = p;
  else if (p.rfind(u"\\\\", 0) != 0)
    text_ = u"\\??\\" + p;
  else if (p.rfind(u"\\\\?\\", 0) == 0)
    text_ = u"\\??\\" + p.substr(4);
  else
    text_ = u"\\??\\UNC\\" + p.substr(2);
  name_.Length = static_cast<USHORT>(text_.size() * 2);
  name_.MaximumLength = name_.Length;
  name_.Buffer = text_.data();
  attributes_.Length = sizeof(OBJECT_ATTRIBUTES);
  attributes_.RootDirectory = nullptr;
  attributes_.ObjectName = &name_;
  attributes_.Attributes = OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE;
  attributes_.SecurityDescriptor = nullptr;
  attributes_.SecurityQualityOfService = nullptr;
}
