#include "platform/win32/advapi32/filesecurity.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/files.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/paths.h"

namespace win32 {

namespace {

using Bytes = std::vector<BYTE>;

constexpr const char* kSecurityName = "user.kv.security";

// The parts of a descriptor, each as its own bytes.
struct Parts {
  std::optional<Bytes> owner, group;
  bool sacl_present = false, dacl_present = false;
  Bytes sacl, dacl;  // empty with the present flag: a null ACL
  WORD control = 0;  // the defaulted bits
};

Bytes sid_bytes(const BYTE* sid) { return Bytes(sid, sid + GetLengthSid(const_cast<BYTE*>(sid))); }

Bytes acl_bytes(const BYTE* acl) {
  WORD size;
  std::memcpy(&size, acl + 2, 2);
  return Bytes(acl, acl + size);
}

// Either form; false for a malformed descriptor.
bool parse(const void* sd, std::size_t limit, Parts& out) {
  auto p = static_cast<const BYTE*>(sd);
  if (!p || p[0] != SECURITY_DESCRIPTOR_REVISION) return false;
  WORD control;
  std::memcpy(&control, p + 2, 2);
  out.control = control & (SE_OWNER_DEFAULTED | SE_GROUP_DEFAULTED | SE_DACL_DEFAULTED | SE_SACL_DEFAULTED);
  out.dacl_present = (control & SE_DACL_PRESENT) != 0;
  out.sacl_present = (control & SE_SACL_PRESENT) != 0;
  const BYTE *owner = nullptr, *group = nullptr, *sacl = nullptr, *dacl = nullptr;
  if (control & SE_SELF_RELATIVE) {
    if (limit < sizeof(SECURITY_DESCRIPTOR_RELATIVE)) return false;
    SECURITY_DESCRIPTOR_RELATIVE r;
    std::memcpy(&r, p, sizeof r);
    auto at = [&](DWORD offset, std::size_t least) -> const BYTE* {
      if (!offset) return nullptr;
      if (offset < sizeof r || offset + least > limit) return reinterpret_cast<const BYTE*>(-1);
      return p + offset;
    };
    owner = at(r.Owner, 8);
    group = at(r.Group, 8);
    sacl = out.sacl_present ? at(r.Sacl, sizeof(ACL)) : nullptr;
    dacl = out.dacl_present ? at(r.Dacl, sizeof(ACL)) : nullptr;
    for (const BYTE* q : {owner, group, sacl, dacl})
      if (q == reinterpret_cast<const BYTE*>(-1)) return false;
    // A part must end inside the blob.
    if (owner && (owner - p) + 8 + 4 * static_cast<std::size_t>(owner[1]) > limit) return false;
    if (group && (group - p) + 8 + 4 * static_cast<std::size_t>(group[1]) > limit) return false;
    for (const BYTE* acl : {sacl, dacl}) {
      if (!acl) continue;
      WORD size;
      std::memcpy(&size, acl + 2, 2);
      if ((acl - p) + static_cast<std::size_t>(size) > limit) return false;
    }
  } else {
    auto d = static_cast<const SECURITY_DESCRIPTOR*>(sd);
    owner = static_cast<const BYTE*>(d->Owner);
    group = static_cast<const BYTE*>(d->Group);
    sacl = out.sacl_present ? reinterpret_cast<const BYTE*>(d->Sacl) : nullptr;
    dacl = out.dacl_present ? reinterpret_cast<const BYTE*>(d->Dacl) : nullptr;
  }
  if (owner) {
    if (!IsValidSid(const_cast<BYTE*>(owner))) return false;
    out.owner = sid_bytes(owner);
  }
  if (group) {
    if (!IsValidSid(const_cast<BYTE*>(group))) return false;
    out.group = sid_bytes(group);
  }
  if (sacl) {
    if (!IsValidAcl(reinterpret_cast<PACL>(const_cast<BYTE*>(sacl)))) return false;
    out.sacl = acl_bytes(sacl);
  }
  if (dacl) {
    if (!IsValidAcl(reinterpret_cast<PACL>(const_cast<BYTE*>(dacl)))) return false;
    out.dacl = acl_bytes(dacl);
  }
  return true;
}

// The self-relative blob of the parts that `what` asks for.
Bytes serialise(const Parts& parts, SECURITY_INFORMATION what) {
  Bytes out(sizeof(SECURITY_DESCRIPTOR_RELATIVE), 0);
  SECURITY_DESCRIPTOR_RELATIVE r{};
  r.Revision = SECURITY_DESCRIPTOR_REVISION;
  r.Control = SE_SELF_RELATIVE;
  auto append = [&](const Bytes& b) {
    DWORD at = static_cast<DWORD>(out.size());
    out.insert(out.end(), b.begin(), b.end());
    return at;
  };
  if ((what & OWNER_SECURITY_INFORMATION) && parts.owner) {
    r.Owner = append(*parts.owner);
    r.Control |= parts.control & SE_OWNER_DEFAULTED;
  }
  if ((what & GROUP_SECURITY_INFORMATION) && parts.group) {
    r.Group = append(*parts.group);
    r.Control |= parts.control & SE_GROUP_DEFAULTED;
  }
  if ((what & SACL_SECURITY_INFORMATION) && parts.sacl_present) {
    r.Control |= SE_SACL_PRESENT | (parts.control & SE_SACL_DEFAULTED);
    if (!parts.sacl.empty()) r.Sacl = append(parts.sacl);
  }
  if ((what & DACL_SECURITY_INFORMATION) && parts.dacl_present) {
    r.Control |= SE_DACL_PRESENT | (parts.control & SE_DACL_DEFAULTED);
    if (!parts.dacl.empty()) r.Dacl = append(parts.dacl);
  }
  std::memcpy(out.data(), &r, sizeof r);
  return out;
}

Bytes make_sid(BYTE authority, std::initializer_list<DWORD> subs) {
  Bytes s(8 + 4 * subs.size(), 0);
  s[0] = SID_REVISION;
  s[1] = static_cast<BYTE>(subs.size());
  s[7] = authority;
  std::size_t at = 8;
  for (DWORD v : subs) {
    std::memcpy(&s[at], &v, 4);
    at += 4;
  }
  return s;
}

Bytes uid_sid(uid_t uid) { return make_sid(5, {21, 1000, 2000, 3000, 1000 + static_cast<DWORD>(uid)}); }

// The Unix user a SID of the layer stands for.
std::optional<uid_t> sid_uid(const Bytes& sid) {
  Bytes prefix = make_sid(5, {21, 1000, 2000, 3000, 0});
  if (sid.size() != prefix.size() || !std::equal(sid.begin() + 1, sid.begin() + 24, prefix.begin() + 1)) return {};
  DWORD rid;
  std::memcpy(&rid, &sid[24], 4);
  if (rid < 1000) return {};
  return static_cast<uid_t>(rid - 1000);
}

Bytes make_acl(const std::vector<std::pair<DWORD, Bytes>>& allowed) {
  Bytes acl(sizeof(ACL), 0);
  for (const auto& [mask, sid] : allowed) {
    WORD size = static_cast<WORD>(8 + sid.size());
    ACE_HEADER h{ACCESS_ALLOWED_ACE_TYPE, 0, size};
    std::size_t at = acl.size();
    acl.resize(at + size);
    std::memcpy(&acl[at], &h, 4);
    std::memcpy(&acl[at + 4], &mask, 4);
    std::memcpy(&acl[at + 8], sid.data(), sid.size());
  }
  ACL header{ACL_REVISION, 0, static_cast<WORD>(acl.size()), static_cast<WORD>(allowed.size()), 0};
  std::memcpy(acl.data(), &header, sizeof header);
  return acl;
}

bool is_member(const Bytes& sid) {
  BOOL member = FALSE;
  return CheckTokenMembership(nullptr, const_cast<BYTE*>(sid.data()), &member) && member;
}

DWORD generic_map(DWORD mask) {
  if (mask & GENERIC_READ) mask |= FILE_GENERIC_READ;
  if (mask & GENERIC_WRITE) mask |= FILE_GENERIC_WRITE;
  if (mask & GENERIC_EXECUTE) mask |= FILE_GENERIC_EXECUTE;
  if (mask & GENERIC_ALL) mask |= FILE_ALL_ACCESS;
  return mask & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

// Does the DACL grant the caller all of `want`? Denials met first win.
bool grants(const Parts& parts, DWORD want) {
  if (!parts.dacl_present || parts.dacl.empty()) return true;  // no DACL, or a null one
  WORD count;
  std::memcpy(&count, &parts.dacl[4], 2);
  std::size_t at = sizeof(ACL);
  DWORD remaining = want;
  for (WORD i = 0; i < count && at + 8 <= parts.dacl.size(); ++i) {
    BYTE type = parts.dacl[at];
    BYTE flags = parts.dacl[at + 1];
    WORD size;
    std::memcpy(&size, &parts.dacl[at + 2], 2);
    if (size < 8 || at + size > parts.dacl.size()) break;
    DWORD mask;
    std::memcpy(&mask, &parts.dacl[at + 4], 4);
    mask = generic_map(mask);
    Bytes sid(parts.dacl.begin() + static_cast<std::ptrdiff_t>(at + 8),
              parts.dacl.begin() + static_cast<std::ptrdiff_t>(at + size));
    if (!(flags & INHERIT_ONLY_ACE) && IsValidSid(sid.data()) && is_member(sid)) {
      if (type == ACCESS_DENIED_ACE_TYPE && (mask & remaining)) return false;
      if (type == ACCESS_ALLOWED_ACE_TYPE) remaining &= ~mask;
      if (!remaining) return true;
    }
    at += size;
  }
  return false;
}

std::string side_store_path(const struct stat& st) {
  return world_root() + "/run/security/" + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino);
}

std::optional<Bytes> load_blob(const std::string& path, const struct stat& st) {
  ssize_t n = ::getxattr(path.c_str(), kSecurityName, nullptr, 0);
  if (n > 0) {
    Bytes b(static_cast<std::size_t>(n));
    n = ::getxattr(path.c_str(), kSecurityName, b.data(), b.size());
    if (n > 0) {
      b.resize(static_cast<std::size_t>(n));
      return b;
    }
  }
  if (n < 0 && errno != ENOTSUP) return {};
  std::ifstream in(side_store_path(st), std::ios::binary);
  if (!in) return {};
  Bytes b((std::istreambuf_iterator<char>(in)), {});
  if (b.empty()) return {};
  return b;
}

bool save_blob(const std::string& path, const struct stat& st, const Bytes& blob) {
  if (set_user_xattr(path, kSecurityName, blob.data(), blob.size(), true)) return true;
  if (errno != ENOTSUP) return false;
  std::error_code ec;
  std::filesystem::create_directories(world_root() + "/run/security", ec);
  std::string side = side_store_path(st);
  std::ofstream out(side + ".new", std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(blob.data()), static_cast<std::streamsize>(blob.size()));
  out.close();
  return out && std::rename((side + ".new").c_str(), side.c_str()) == 0;
}

// What the file says now: the stored parts with the owner from Unix and a
// DACL from the mode bits where none is stored.
Parts current(const std::string& path, const struct stat& st) {
  Parts parts;
  if (auto blob = load_blob(path, st)) {
    if (!parse(blob->data(), blob->size(), parts)) parts = Parts{};
  }
  if (!parts.owner || sid_uid(*parts.owner)) parts.owner = uid_sid(st.st_uid);
  if (!parts.group) parts.group = make_sid(5, {32, 545});
  if (!parts.dacl_present) {
    bool writable = (st.st_mode & 0222) != 0;
    DWORD owner_access = writable ? FILE_ALL_ACCESS
                                  : FILE_GENERIC_READ | FILE_GENERIC_EXECUTE | DELETE | WRITE_DAC | WRITE_OWNER;
    std::vector<std::pair<DWORD, Bytes>> aces{{owner_access, *parts.owner}};
    if (st.st_mode & S_IROTH) aces.push_back({FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, make_sid(1, {0})});
    parts.dacl_present = true;
    parts.dacl = make_acl(aces);
  }
  return parts;
}

bool open_entry(LPCWSTR name, std::string& path, struct stat& st) {
  MappedPath m;
  if (!map_path(name, m)) return false;
  if (m.state != PathState::Exists) {
    SetLastError(m.state == PathState::LastMissing ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (::stat(m.unix_path.c_str(), &st) != 0) {
    set_last_error_from_errno(errno);
    return false;
  }
  path = m.unix_path;
  return true;
}

BOOL fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

}  // namespace

}  // namespace win32

BOOL GetFileSecurityW(LPCWSTR lpFileName, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR sd, DWORD nLength,
                      LPDWORD lpnLengthNeeded) {
  using namespace win32;
  if (!lpnLengthNeeded) return fail(ERROR_INVALID_PARAMETER);
  std::string path;
  struct stat st;
  if (!open_entry(lpFileName, path, st)) return FALSE;
  if ((what & SACL_SECURITY_INFORMATION) && !privilege_enabled("SeSecurityPrivilege"))
    return fail(ERROR_PRIVILEGE_NOT_HELD);
  Parts parts = current(path, st);
  if ((what & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION)) &&
      !is_member(*parts.owner) && !grants(parts, READ_CONTROL))
    return fail(ERROR_ACCESS_DENIED);
  Bytes blob = serialise(parts, what);
  *lpnLengthNeeded = static_cast<DWORD>(blob.size());
  if (!sd || nLength < blob.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(sd, blob.data(), blob.size());
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL SetFileSecurityW(LPCWSTR lpFileName, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR sd) {
  using namespace win32;
  Parts given;
  if (!sd) return fail(ERROR_INVALID_PARAMETER);
  if (!parse(sd, ~std::size_t{0} >> 1, given)) return fail(ERROR_INVALID_SECURITY_DESCR);
  std::string path;
  struct stat st;
  if (!open_entry(lpFileName, path, st)) return FALSE;
  if ((what & SACL_SECURITY_INFORMATION) && !privilege_enabled("SeSecurityPrivilege"))
    return fail(ERROR_PRIVILEGE_NOT_HELD);
  Parts parts = current(path, st);
  const bool owner = is_member(*parts.owner);
  if ((what & DACL_SECURITY_INFORMATION) && !owner && !grants(parts, WRITE_DAC)) return fail(ERROR_ACCESS_DENIED);
  if ((what & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) && !owner && !grants(parts, WRITE_OWNER))
    return fail(ERROR_ACCESS_DENIED);

  if ((what & OWNER_SECURITY_INFORMATION) && given.owner) {
    if (!is_member(*given.owner) && !privilege_enabled("SeRestorePrivilege")) return fail(ERROR_INVALID_OWNER);
    if (auto uid = sid_uid(*given.owner); uid && *uid != st.st_uid) {
      if (::chown(path.c_str(), *uid, static_cast<gid_t>(-1)) != 0) return fail(ERROR_INVALID_OWNER);
    }
    parts.owner = given.owner;
    parts.control = (parts.control & ~SE_OWNER_DEFAULTED) | (given.control & SE_OWNER_DEFAULTED);
  }
  if ((what & GROUP_SECURITY_INFORMATION) && given.group) {
    parts.group = given.group;
    parts.control = (parts.control & ~SE_GROUP_DEFAULTED) | (given.control & SE_GROUP_DEFAULTED);
  }
  if (what & SACL_SECURITY_INFORMATION) {
    parts.sacl_present = given.sacl_present;
    parts.sacl = given.sacl;
  }
  if (what & DACL_SECURITY_INFORMATION) {
    parts.dacl_present = given.dacl_present;
    parts.dacl = given.dacl;
  }
  if (!save_blob(path, st, serialise(parts, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                SACL_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION)))
    return fail(ERROR_ACCESS_DENIED);
  if ((what & DACL_SECURITY_INFORMATION) && S_ISREG(st.st_mode)) {
    // The read-only part: a DACL that keeps the caller from writing leaves no
    // write bit; one that lets it write gives the owner's back.
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = grants(parts, FILE_WRITE_DATA) ? ((mode & 0222) ? mode : mode | S_IWUSR) : mode & ~0222;
    if (wanted != mode && ::chmod(path.c_str(), wanted) != 0) return fail(ERROR_ACCESS_DENIED);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

namespace {

SECURITY_DESCRIPTOR* absolute_form(PSECURITY_DESCRIPTOR sd) {
  auto d = static_cast<SECURITY_DESCRIPTOR*>(sd);
  if (!d || d->Revision != SECURITY_DESCRIPTOR_REVISION || (d->Control & SE_SELF_RELATIVE)) {
    SetLastError(d ? ERROR_INVALID_SECURITY_DESCR : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return d;
}

}  // namespace

BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd, PSID owner, BOOL defaulted) {
  auto d = absolute_form(sd);
  if (!d) return FALSE;
  d->Owner = owner;
  d->Control = static_cast<WORD>((d->Control & ~SE_OWNER_DEFAULTED) | (defaulted ? SE_OWNER_DEFAULTED : 0));
  return TRUE;
}

BOOL SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR sd, PSID group, BOOL defaulted) {
  auto d = absolute_form(sd);
  if (!d) return FALSE;
  d->Group = group;
  d->Control = static_cast<WORD>((d->Control & ~SE_GROUP_DEFAULTED) | (defaulted ? SE_GROUP_DEFAULTED : 0));
  return TRUE;
}

BOOL SetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL sacl, BOOL defaulted) {
  auto d = absolute_form(sd);
  if (!d) return FALSE;
  d->Control &= static_cast<WORD>(~(SE_SACL_PRESENT | SE_SACL_DEFAULTED));
  d->Sacl = nullptr;
  if (present) {
    d->Control |= SE_SACL_PRESENT;
    d->Sacl = sacl;
    if (defaulted) d->Control |= SE_SACL_DEFAULTED;
  }
  return TRUE;
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd, PSID* owner, LPBOOL defaulted) {
  auto p = static_cast<BYTE*>(sd);
  if (!p || !owner || !defaulted || p[0] != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WORD control;
  std::memcpy(&control, p + 2, 2);
  if (control & SE_SELF_RELATIVE) {
    SECURITY_DESCRIPTOR_RELATIVE r;
    std::memcpy(&r, p, sizeof r);
    *owner = r.Owner ? p + r.Owner : nullptr;
  } else {
    *owner = static_cast<SECURITY_DESCRIPTOR*>(sd)->Owner;
  }
  *defaulted = (control & SE_OWNER_DEFAULTED) != 0;
  return TRUE;
}

DWORD GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR sd) {
  if (!sd) return 0;
  auto p = static_cast<const BYTE*>(sd);
  WORD control;
  std::memcpy(&control, p + 2, 2);
  if (control & SE_SELF_RELATIVE) {
    // The end of the furthest part.
    SECURITY_DESCRIPTOR_RELATIVE r;
    std::memcpy(&r, p, sizeof r);
    std::size_t end = sizeof r;
    for (DWORD at : {r.Owner, r.Group}) {
      if (at) end = std::max<std::size_t>(end, at + GetLengthSid(const_cast<BYTE*>(p + at)));
    }
    for (DWORD at : {r.Sacl, r.Dacl}) {
      if (!at) continue;
      WORD size;
      std::memcpy(&size, p + at + 2, 2);
      end = std::max<std::size_t>(end, at + size);
    }
    return static_cast<DWORD>(end);
  }
  return static_cast<DWORD>(sizeof(SECURITY_DESCRIPTOR));
}
