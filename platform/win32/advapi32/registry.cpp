#include "platform/win32/advapi32/registry.h"

#include <sqlite3.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/process.h"
#include "platform/win32/kernel32/thread.h"

namespace {

// An open key is an entry of the process's handle table, so a forged or
// closed handle is refused instead of followed.
struct KeyObject : win32::KernelObject {
  KeyObject(sqlite3_int64 i, REGSAM a) : id(i), access(a) {}
  win32::ObjectKind kind() const override { return win32::ObjectKind::RegistryKey; }
  sqlite3_int64 id;
  REGSAM access;
};

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x00010000 /* DELETE */;

struct Store {
  sqlite3* db = nullptr;
  pid_t pid = 0;
  std::string path;
  // Keyed by the statement literal's address: every caller passes a literal.
  std::map<const char*, sqlite3_stmt*> stmts;
};

std::recursive_mutex g_mu;
Store g_store;

// Every acknowledged write is in the WAL and synced before the call returns, so
// neither a killed writer nor a power cut loses it; FULL costs one fsync a commit.
const char* kSchema =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=FULL;"
    "BEGIN IMMEDIATE;"  // a new store is made in one commit (one sync), not one per statement
    "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, lname TEXT NOT NULL,"
    " name TEXT NOT NULL, protected INTEGER NOT NULL DEFAULT 0, UNIQUE(parent, lname));"
    "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, lname TEXT NOT NULL, name TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB, PRIMARY KEY(key, lname)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO keys(id, parent, lname, name) VALUES"
    " (1,0,'hklm64','HKEY_LOCAL_MACHINE'),(2,0,'hklm32','HKEY_LOCAL_MACHINE'),"
    " (3,0,'hkcu','HKEY_CURRENT_USER'),(4,0,'hkcr64','HKEY_CLASSES_ROOT'),(5,0,'hkcr32','HKEY_CLASSES_ROOT');"
    "COMMIT;";

// The variables that name the world: while they read as when the store was
// opened, its path is the same, and no path need be built.
struct WorldNames {
  std::string values[3];
  bool same() const {
    static const char* const names[] = {"KV_WORLD_ROOT", "XDG_DATA_HOME", "HOME"};
    for (int i = 0; i < 3; ++i) {
      const char* v = std::getenv(names[i]);
      if (values[i] != (v ? v : "")) return false;
    }
    return true;
  }
  void take() {
    static const char* const names[] = {"KV_WORLD_ROOT", "XDG_DATA_HOME", "HOME"};
    for (int i = 0; i < 3; ++i) {
      const char* v = std::getenv(names[i]);
      values[i] = v ? v : "";
    }
  }
};
WorldNames g_names;

// Set in a forked child, whose connection is its parent's: asking for the
// process id on every call would cost a system call.
std::atomic<bool> g_forked{false};
void note_fork() { g_forked = true; }
const bool g_fork_hook = (pthread_atfork(nullptr, nullptr, note_fork), true);

// Values enumerate in the order they were made, as on Windows: each keeps its
// place in a column that older stores lack and gain here. Rows written
// without it (by an older layer) have none and come first, by name.
bool add_value_order(sqlite3* db) {
  auto has_column = [&] { return sqlite3_exec(db, "SELECT seq FROM vals LIMIT 0", nullptr, nullptr, nullptr) == SQLITE_OK; };
  if (has_column()) return true;
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  // Another process may have added it meanwhile.
  bool ok = has_column() || sqlite3_exec(db, "ALTER TABLE vals ADD COLUMN seq INTEGER", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

Store* store() {
  if (g_store.db && !g_forked.load(std::memory_order_relaxed) && g_names.same()) return &g_store;
  g_forked = false;
  if (g_store.db && g_store.pid == ::getpid() && g_store.path == win32::registry_path()) {
    g_names.take();
    return &g_store;
  }
  if (g_store.db && g_store.pid == ::getpid()) {
    for (auto& [k, s] : g_store.stmts) sqlite3_finalize(s);
    sqlite3_close(g_store.db);
  }
  // A forked child leaves its parent's connection alone: closing it would
  // release the parent's locks.
  g_store = Store{};
  std::string path = win32::registry_path();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 30000);
  if (sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK || !add_value_order(db)) {
    sqlite3_close(db);
    return nullptr;
  }
  g_store.db = db;
  g_store.pid = ::getpid();
  g_store.path = path;
  g_names.take();
  return &g_store;
}

sqlite3_stmt* stmt(Store* s, const char* sql) {
  auto it = s->stmts.find(sql);
  sqlite3_stmt* st = nullptr;
  if (it != s->stmts.end()) {
    st = it->second;
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return st;
  }
  if (sqlite3_prepare_v3(s->db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) return nullptr;
  s->stmts.emplace(sql, st);
  return st;
}

std::u16string fold(std::u16string_view s) {
  std::u16string out(s.size() * 3 + 1, u'\0');
  UErrorCode ec = U_ZERO_ERROR;
  int32_t n = u_strFoldCase(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                            reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()),
                            U_FOLD_CASE_DEFAULT, &ec);
  if (U_FAILURE(ec)) return std::u16string(s);
  out.resize(n);
  return out;
}

// Names go to the store as UTF-8 made here, not by the store's UTF-16
// binding, which turns U+FFFE, U+FFFF and lone surrogates into U+FFFD and
// takes a leading U+FEFF for a byte-order mark. A lone surrogate is written in
// three bytes as if it were a character; everything else is plain UTF-8, the
// bytes the binding wrote, so older stores read and match as before.
std::string name_bytes(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The reverse; bytes that are no such sequence (a damaged store) read as U+FFFD each.
std::u16string name_text(const unsigned char* p, std::size_t n) {
  std::u16string out;
  out.reserve(n);
  std::size_t i = 0;
  auto cont = [&](std::size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
  while (i < n) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      i += 1;
    } else if (b >= 0xC2 && b < 0xE0 && cont(1)) {
      out += static_cast<char16_t>((b & 0x1F) << 6 | (p[i + 1] & 0x3F));
      i += 2;
    } else if (b >= 0xE0 && b < 0xF0 && cont(1) && cont(2) && (b != 0xE0 || p[i + 1] >= 0xA0)) {
      out += static_cast<char16_t>((b & 0x0F) << 12 | (p[i + 1] & 0x3F) << 6 | (p[i + 2] & 0x3F));
      i += 3;
    } else if (b >= 0xF0 && b < 0xF5 && cont(1) && cont(2) && cont(3) && (b != 0xF0 || p[i + 1] >= 0x90) &&
               (b != 0xF4 || p[i + 1] < 0x90)) {
      const char32_t c = static_cast<char32_t>(b & 0x07) << 18 | static_cast<char32_t>(p[i + 1] & 0x3F) << 12 |
                         static_cast<char32_t>(p[i + 2] & 0x3F) << 6 | (p[i + 3] & 0x3F);
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      i += 4;
    } else {
      out += u'\uFFFD';
      i += 1;
    }
  }
  return out;
}

void bind16(sqlite3_stmt* st, int i, const std::u16string& s) {
  const std::string bytes = name_bytes(s);
  sqlite3_bind_text(st, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

std::u16string col16(sqlite3_stmt* st, int i) {
  auto p = sqlite3_column_text(st, i);
  int n = sqlite3_column_bytes(st, i);
  return p ? name_text(p, static_cast<std::size_t>(n)) : std::u16string();
}

// The longest name among the rows of `st`, in UTF-16 units.
DWORD longest_name(sqlite3_stmt* st) {
  std::size_t longest = 0;
  while (sqlite3_step(st) == SQLITE_ROW) longest = std::max(longest, col16(st, 0).size());
  sqlite3_reset(st);
  return static_cast<DWORD>(longest);
}

bool predefined(HKEY k) {
  auto v = reinterpret_cast<std::uintptr_t>(k);
  return v >= 0x80000000u && v <= 0x80000002u;
}

std::shared_ptr<KeyObject> open_key(HKEY k) {
  return win32::handle_lookup_as<KeyObject>(reinterpret_cast<HANDLE>(k));
}

// The key's row id and the access it was opened with, or id 0 for an invalid handle.
sqlite3_int64 key_id(HKEY k, REGSAM view, REGSAM* access = nullptr) {
  if (access) *access = KEY_ALL_ACCESS;
  if (!k) return 0;
  if (k == HKEY_CURRENT_USER) return 3;
  bool w32 = (view & KEY_WOW64_32KEY) && !(view & KEY_WOW64_64KEY);
  if (k == HKEY_LOCAL_MACHINE) return w32 ? 2 : 1;
  if (k == HKEY_CLASSES_ROOT) return w32 ? 5 : 4;
  auto o = open_key(k);
  if (!o) return 0;
  if (access) *access = o->access;
  return o->id;
}

// The store and the row of an open key, or the error a call returns without them.
LONG store_and_key(HKEY key, REGSAM view, Store*& s, sqlite3_int64& id, REGSAM* access = nullptr) {
  id = key_id(key, view, access);
  if (!id) return ERROR_INVALID_HANDLE;
  s = store();
  if (!s) return ERROR_CANTWRITE;
  return id ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

std::u16string_view view16(LPCWSTR s) { return s ? std::u16string_view(s) : std::u16string_view(); }

// A key path is relative: a leading backslash is refused as Windows does.
bool bad_path(std::u16string_view path) { return !path.empty() && path.front() == u'\\'; }

// A key name has at most 255 characters.
bool name_too_long(std::u16string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end - start > 255) return true;
    start = end + 1;
  }
  return false;
}

bool string_type(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

template <class F>
void components(std::u16string_view path, F f) {
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find(u'\\', i);
    if (j == std::u16string_view::npos) j = path.size();
    if (j > i) f(std::u16string(path.substr(i, j - i)));
    i = j + 1;
  }
}

sqlite3_int64 child(Store* s, sqlite3_int64 parent, const std::u16string& name) {
  sqlite3_stmt* st = stmt(s, "SELECT id FROM keys WHERE parent=?1 AND lname=?2");
  sqlite3_bind_int64(st, 1, parent);
  bind16(st, 2, fold(name));
  sqlite3_int64 id = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
  sqlite3_reset(st);
  return id;
}

int guard_of(Store* s, sqlite3_int64 id) {
  sqlite3_stmt* st = stmt(s, "SELECT protected FROM keys WHERE id=?1");
  sqlite3_bind_int64(st, 1, id);
  int g = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
  sqlite3_reset(st);
  return g;
}

bool is_protected(Store* s, sqlite3_int64 id) { return guard_of(s, id) != win32::kRegistryOpen; }

// Whether a guarded key refuses an open with `access`.
bool refused(Store* s, sqlite3_int64 id, REGSAM access) {
  if (!(access & (kWriteRights | WRITE_DAC | WRITE_OWNER))) return false;  // reading is never refused
  int g = guard_of(s, id);
  if (g == win32::kRegistryOpen) return false;
  if (access & kWriteRights) return true;
  return g == win32::kRegistrySealed && (access & (WRITE_DAC | WRITE_OWNER));
}

LONG set_guard(Store* s, sqlite3_int64 id, int guard) {
  sqlite3_stmt* st = stmt(s, "UPDATE keys SET protected=?2 WHERE id=?1");
  sqlite3_bind_int64(st, 1, id);
  sqlite3_bind_int(st, 2, guard);
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  return rc == SQLITE_DONE ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

// The calling thread's token, else the process's.
std::shared_ptr<win32::TokenData> caller_token() {
  HANDLE h = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &h) && !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &h))
    return nullptr;
  auto t = win32::handle_lookup_as<win32::TokenObject>(h);
  CloseHandle(h);
  return t ? t->data : nullptr;
}

// Does the DACL let the caller set values? Deny entries before the grant win.
bool dacl_grants_write(const ACL* acl) {
  auto token = caller_token();
  if (!token) return false;
  std::lock_guard<std::mutex> lock(win32::token_mutex());
  auto mine = [&](const BYTE* sid, std::size_t room) {
    auto same = [&](const win32::SidBytes& b) { return b.size() <= room && std::memcmp(b.data(), sid, b.size()) == 0; };
    if (same(token->user)) return true;
    for (auto& [g, attrs] : token->groups)
      if (same(g)) return true;
    return false;
  };
  const BYTE* p = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
  const BYTE* end = reinterpret_cast<const BYTE*>(acl) + acl->AclSize;
  for (WORD i = 0; i < acl->AceCount && p + sizeof(ACCESS_ALLOWED_ACE) <= end; ++i) {
    auto ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(p);
    if (ace->Header.AceSize < sizeof(ACCESS_ALLOWED_ACE) || p + ace->Header.AceSize > end) break;
    const BYTE* sid = p + offsetof(ACCESS_ALLOWED_ACE, SidStart);
    std::size_t room = static_cast<std::size_t>(p + ace->Header.AceSize - sid);
    if (!(ace->Header.AceFlags & INHERIT_ONLY_ACE) && (ace->Mask & KEY_SET_VALUE) && mine(sid, room)) {
      if (ace->Header.AceType == ACCESS_DENIED_ACE_TYPE) return false;
      if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE) return true;
    }
    p += ace->Header.AceSize;
  }
  return false;
}

// A handle may outlive its key; writing through it would give the values to
// no key, or (in a store whose ids get reused) to a later key.
bool deleted(Store* s, HKEY key, sqlite3_int64 id) {
  if (predefined(key)) return false;
  sqlite3_stmt* st = stmt(s, "SELECT 1 FROM keys WHERE id=?1");
  sqlite3_bind_int64(st, 1, id);
  bool gone = sqlite3_step(st) != SQLITE_ROW;
  sqlite3_reset(st);
  return gone;
}

// Walks `path` below `id`; 0 when a component is missing.
sqlite3_int64 walk(Store* s, sqlite3_int64 id, std::u16string_view path) {
  components(path, [&](const std::u16string& c) {
    if (id) id = child(s, id, c);
  });
  return id;
}

bool exec(Store* s, const char* sql) {
  sqlite3_stmt* st = stmt(s, sql);
  int rc = st ? sqlite3_step(st) : SQLITE_ERROR;
  if (st) sqlite3_reset(st);
  return rc == SQLITE_DONE;
}

struct Tx {
  Store* s;
  bool ok;
  explicit Tx(Store* st) : s(st), ok(exec(st, "BEGIN IMMEDIATE")) {}
  LONG commit() {
    if (!exec(s, "COMMIT")) {
      exec(s, "ROLLBACK");
      return ERROR_CANTWRITE;
    }
    s = nullptr;
    return ERROR_SUCCESS;
  }
  ~Tx() {
    if (s && ok) exec(s, "ROLLBACK");
  }
};

HKEY new_handle(sqlite3_int64 id, REGSAM access) {
  return reinterpret_cast<HKEY>(win32::handle_insert(std::make_shared<KeyObject>(id, access)));
}

LONG fail(LONG rc) { return rc; }

LONG delete_tree_rows(Store* s, sqlite3_int64 id) {
  sqlite3_stmt* st = stmt(s,
      "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent=t.id)"
      " SELECT id FROM t");
  sqlite3_bind_int64(st, 1, id);
  std::string ids;
  while (sqlite3_step(st) == SQLITE_ROW) ids += std::to_string(sqlite3_column_int64(st, 0)) + ",";
  sqlite3_reset(st);
  ids.pop_back();
  std::string sql = "DELETE FROM vals WHERE key IN (" + ids + "); DELETE FROM keys WHERE id IN (" + ids + ");";
  return sqlite3_exec(s->db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LONG name_out(const std::u16string& n, LPWSTR buf, LPDWORD size) {
  if (!size) return ERROR_INVALID_PARAMETER;
  if (!buf || *size < n.size() + 1) {
    *size = static_cast<DWORD>(n.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(buf, n.data(), n.size() * 2);
  buf[n.size()] = 0;
  *size = static_cast<DWORD>(n.size());
  return ERROR_SUCCESS;
}

LONG data_out(sqlite3_stmt* st, int col, LPBYTE data, LPDWORD size) {
  DWORD n = static_cast<DWORD>(sqlite3_column_bytes(st, col));
  if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  if (data) {
    if (*size < n) {
      *size = n;
      return ERROR_MORE_DATA;
    }
    if (n) std::memcpy(data, sqlite3_column_blob(st, col), n);
  }
  *size = n;
  return ERROR_SUCCESS;
}

}  // namespace

namespace win32 {
std::string registry_path() { return world_root() + "/registry.db"; }

LONG registry_protect(HKEY key, LPCWSTR subKey, REGSAM view, int guard) {
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = store();
  if (!s) return ERROR_CANTWRITE;
  sqlite3_int64 id = walk(s, key_id(key, view), view16(subKey));
  if (!id) return ERROR_FILE_NOT_FOUND;
  return set_guard(s, id, guard);
}
}  // namespace win32

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 id = 0;
  if (LONG rc = store_and_key(key, access, s, id)) return rc;
  if (bad_path(view16(subKey))) return ERROR_BAD_PATHNAME;
  id = walk(s, id, view16(subKey));
  if (!id) return ERROR_FILE_NOT_FOUND;
  if (refused(s, id, access)) return ERROR_ACCESS_DENIED;
  *result = new_handle(id, access);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 id = 0;
  if (LONG rc = store_and_key(key, access, s, id)) return rc;
  if (bad_path(view16(subKey))) return ERROR_BAD_PATHNAME;
  if (name_too_long(view16(subKey))) return ERROR_INVALID_PARAMETER;
  Tx tx(s);
  if (!tx.ok) return ERROR_CANTWRITE;
  if (deleted(s, key, id)) return ERROR_KEY_DELETED;
  bool created = false;
  LONG rc = ERROR_SUCCESS;
  components(view16(subKey), [&](const std::u16string& c) {
    if (rc != ERROR_SUCCESS) return;
    sqlite3_int64 next = child(s, id, c);
    if (!next) {
      if (is_protected(s, id)) {
        rc = ERROR_ACCESS_DENIED;
        return;
      }
      sqlite3_stmt* st = stmt(s, "INSERT INTO keys(parent, lname, name) VALUES(?1, ?2, ?3)");
      sqlite3_bind_int64(st, 1, id);
      bind16(st, 2, fold(c));
      bind16(st, 3, c);
      if (sqlite3_step(st) != SQLITE_DONE) rc = ERROR_CANTWRITE;
      sqlite3_reset(st);
      next = sqlite3_last_insert_rowid(s->db);
      created = true;
    }
    id = next;
  });
  if (rc != ERROR_SUCCESS) return fail(rc);
  if (!created && refused(s, id, access)) return ERROR_ACCESS_DENIED;
  if (created && (rc = tx.commit()) != ERROR_SUCCESS) return rc;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = new_handle(id, access);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (predefined(key)) return ERROR_SUCCESS;
  if (!open_key(key) || !win32::handle_remove(reinterpret_cast<HANDLE>(key))) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 id = 0;
  if (LONG rc = store_and_key(key, 0, s, id)) return rc;
  sqlite3_stmt* st = stmt(s, "SELECT type, data FROM vals WHERE key=?1 AND lname=?2");
  sqlite3_bind_int64(st, 1, id);
  bind16(st, 2, fold(view16(name)));
  if (sqlite3_step(st) != SQLITE_ROW) {
    sqlite3_reset(st);
    return ERROR_FILE_NOT_FOUND;
  }
  if (type) *type = static_cast<DWORD>(sqlite3_column_int64(st, 0));
  LONG rc = data_out(st, 1, data, dataSize);
  sqlite3_reset(st);
  return rc;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  if (!data && dataSize) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 id = 0;
  REGSAM access = 0;
  if (LONG rc = store_and_key(key, 0, s, id, &access)) return rc;
  if (deleted(s, key, id)) return ERROR_KEY_DELETED;
  if (!(access & KEY_SET_VALUE) || is_protected(s, id)) return ERROR_ACCESS_DENIED;
  // A value set again keeps its spelling and its place among the key's values.
  sqlite3_stmt* st = stmt(s,
      "INSERT INTO vals(key, lname, name, type, data, seq) VALUES(?1, ?2, ?3, ?4, ?5,"
      " (SELECT coalesce(max(seq), 0) + 1 FROM vals WHERE key=?1))"
      " ON CONFLICT(key, lname) DO UPDATE SET type=excluded.type, data=excluded.data");
  std::u16string n(view16(name));
  sqlite3_bind_int64(st, 1, id);
  bind16(st, 2, fold(n));
  bind16(st, 3, n);
  sqlite3_bind_int64(st, 4, type);
  // Text given without its terminator is stored with one, as Windows does.
  std::vector<BYTE> text;
  if (string_type(type) && dataSize >= 2 && dataSize % 2 == 0 && (data[dataSize - 1] || data[dataSize - 2])) {
    text.assign(data, data + dataSize);
    text.insert(text.end(), 2, 0);
    data = text.data();
    dataSize += 2;
  }
  sqlite3_bind_blob(st, 5, data ? data : reinterpret_cast<const BYTE*>(""), static_cast<int>(dataSize),
                    SQLITE_TRANSIENT);
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  return rc == SQLITE_DONE ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 id = 0;
  REGSAM access = 0;
  if (LONG rc = store_and_key(key, 0, s, id, &access)) return rc;
  if (deleted(s, key, id)) return ERROR_KEY_DELETED;
  if (!(access & KEY_SET_VALUE) || is_protected(s, id)) return ERROR_ACCESS_DENIED;
  sqlite3_stmt* st = stmt(s, "DELETE FROM vals WHERE key=?1 AND lname=?2");
  sqlite3_bind_int64(st, 1, id);
  bind16(st, 2, fold(view16(name)));
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return ERROR_CANTWRITE;
  return sqlite3_changes(s->db) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM access, DWORD) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 parent = 0;
  if (LONG rc = store_and_key(key, access, s, parent)) return rc;
  Tx tx(s);
  if (!tx.ok) return ERROR_CANTWRITE;
  sqlite3_int64 id = walk(s, parent, subKey);
  if (!id) return ERROR_FILE_NOT_FOUND;
  if (id == parent || id <= 5) return ERROR_ACCESS_DENIED;
  if (is_protected(s, id)) return ERROR_ACCESS_DENIED;
  sqlite3_stmt* st = stmt(s, "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1");
  sqlite3_bind_int64(st, 1, id);
  bool has_children = sqlite3_step(st) == SQLITE_ROW;
  sqlite3_reset(st);
  if (has_children) return ERROR_ACCESS_DENIED;
  LONG rc = delete_tree_rows(s, id);
  if (rc != ERROR_SUCCESS) return rc;
  return tx.commit();
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) { return RegDeleteKeyExW(key, subKey, 0, 0); }

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD, LPWSTR keyClass, LPDWORD classSize,
                   PFILETIME lastWrite) {
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 id = 0;
  if (LONG rc = store_and_key(key, 0, s, id)) return rc;
  sqlite3_stmt* st = stmt(s, "SELECT name FROM keys WHERE parent=?1 ORDER BY lname LIMIT 1 OFFSET ?2");
  sqlite3_bind_int64(st, 1, id);
  sqlite3_bind_int64(st, 2, index);
  if (sqlite3_step(st) != SQLITE_ROW) {
    sqlite3_reset(st);
    return ERROR_NO_MORE_ITEMS;
  }
  std::u16string n = col16(st, 0);
  sqlite3_reset(st);
  if (keyClass && classSize && *classSize) keyClass[0] = 0;
  if (classSize) *classSize = 0;
  if (lastWrite) *lastWrite = FILETIME{};
  return name_out(n, name, nameSize);
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize) {
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 id = 0;
  if (LONG rc = store_and_key(key, 0, s, id)) return rc;
  sqlite3_stmt* st = stmt(s, "SELECT name, type, data FROM vals WHERE key=?1 ORDER BY coalesce(seq, 0), lname LIMIT 1 OFFSET ?2");
  sqlite3_bind_int64(st, 1, id);
  sqlite3_bind_int64(st, 2, index);
  if (sqlite3_step(st) != SQLITE_ROW) {
    sqlite3_reset(st);
    return ERROR_NO_MORE_ITEMS;
  }
  std::u16string n = col16(st, 0);
  if (type) *type = static_cast<DWORD>(sqlite3_column_int64(st, 1));
  LONG rc = data_out(st, 2, data, dataSize);
  sqlite3_reset(st);
  LONG nrc = name_out(n, name, nameSize);
  return nrc != ERROR_SUCCESS ? nrc : rc;
}

LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classSize, LPDWORD, LPDWORD subKeys, LPDWORD maxSubKeyLen,
                      LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen, LPDWORD maxValueLen,
                      LPDWORD securityDescriptor, PFILETIME lastWrite) {
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 id = 0;
  if (LONG rc = store_and_key(key, 0, s, id)) return rc;
  sqlite3_stmt* st = stmt(s, "SELECT count(*) FROM keys WHERE parent=?1");
  sqlite3_bind_int64(st, 1, id);
  sqlite3_step(st);
  if (subKeys) *subKeys = static_cast<DWORD>(sqlite3_column_int64(st, 0));
  sqlite3_reset(st);
  // Name lengths in UTF-16 units, as the callers size their buffers: the
  // store's length() counts a character outside the BMP once.
  if (maxSubKeyLen) {
    st = stmt(s, "SELECT name FROM keys WHERE parent=?1");
    sqlite3_bind_int64(st, 1, id);
    *maxSubKeyLen = longest_name(st);
  }
  st = stmt(s, "SELECT count(*), coalesce(max(length(data)),0) FROM vals WHERE key=?1");
  sqlite3_bind_int64(st, 1, id);
  sqlite3_step(st);
  if (values) *values = static_cast<DWORD>(sqlite3_column_int64(st, 0));
  if (maxValueLen) *maxValueLen = static_cast<DWORD>(sqlite3_column_int64(st, 1));
  sqlite3_reset(st);
  if (maxValueNameLen) {
    st = stmt(s, "SELECT name FROM vals WHERE key=?1");
    sqlite3_bind_int64(st, 1, id);
    *maxValueNameLen = longest_name(st);
  }
  if (keyClass && classSize && *classSize) keyClass[0] = 0;
  if (classSize) *classSize = 0;
  if (maxClassLen) *maxClassLen = 0;
  if (securityDescriptor) *securityDescriptor = 0;
  if (lastWrite) *lastWrite = FILETIME{};
  return ERROR_SUCCESS;
}

LONG RegSetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor) {
  if (!descriptor) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 id = 0;
  REGSAM access = 0;
  if (LONG rc = store_and_key(key, 0, s, id, &access)) return rc;
  if (!(info & DACL_SECURITY_INFORMATION)) return ERROR_SUCCESS;
  if (!predefined(key) && !(access & WRITE_DAC)) return ERROR_ACCESS_DENIED;
  if (id <= 5 || guard_of(s, id) == win32::kRegistrySealed) return ERROR_ACCESS_DENIED;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return ERROR_INVALID_PARAMETER;
  bool writable = !present || !dacl || dacl_grants_write(dacl);  // a null DACL grants everyone everything
  return set_guard(s, id, writable ? win32::kRegistryOpen : win32::kRegistryReadOnly);
}

DWORD SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID, PSID, PACL dacl, PACL) {
  if (type != SE_REGISTRY_KEY) return ERROR_CALL_NOT_IMPLEMENTED;
  auto key = reinterpret_cast<HKEY>(handle);
  REGSAM access = 0;
  {
    std::lock_guard<std::recursive_mutex> lock(g_mu);
    if (!key_id(key, 0, &access)) return ERROR_INVALID_HANDLE;
  }
  if ((info & OWNER_SECURITY_INFORMATION) && !predefined(key) && !(access & WRITE_OWNER)) return ERROR_ACCESS_DENIED;
  if (info & DACL_SECURITY_INFORMATION) {
    SECURITY_DESCRIPTOR sd{};
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, dacl, FALSE);
    return static_cast<DWORD>(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd));
  }
  return ERROR_SUCCESS;
}

LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
  std::lock_guard<std::recursive_mutex> lock(g_mu);
  Store* s = nullptr;
  sqlite3_int64 top = 0;
  REGSAM access = 0;
  if (LONG rc = store_and_key(key, 0, s, top, &access)) return rc;
  Tx tx(s);
  if (!tx.ok) return ERROR_CANTWRITE;
  if (deleted(s, key, top)) return ERROR_KEY_DELETED;
  const bool whole = subKey && *subKey;
  sqlite3_int64 id = whole ? walk(s, top, subKey) : top;
  if (!id) return ERROR_FILE_NOT_FOUND;
  if (whole && (id == top || id <= 5)) return ERROR_ACCESS_DENIED;
  // A guarded key anywhere in the tree keeps the whole tree.
  sqlite3_stmt* st = stmt(s,
      "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent=t.id)"
      " SELECT 1 FROM keys WHERE id IN (SELECT id FROM t) AND protected != 0 LIMIT 1");
  sqlite3_bind_int64(st, 1, id);
  const bool guarded = sqlite3_step(st) == SQLITE_ROW;
  sqlite3_reset(st);
  if (guarded) return ERROR_ACCESS_DENIED;
  if (whole) {
    if (LONG rc = delete_tree_rows(s, id)) return rc;
    return tx.commit();
  }
  // No subkey: the key itself stays, emptied of its values and subkeys.
  if (!predefined(key) && !(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  st = stmt(s, "SELECT id FROM keys WHERE parent=?1");
  sqlite3_bind_int64(st, 1, id);
  std::vector<sqlite3_int64> children;
  while (sqlite3_step(st) == SQLITE_ROW) children.push_back(sqlite3_column_int64(st, 0));
  sqlite3_reset(st);
  for (sqlite3_int64 c : children)
    if (LONG rc = delete_tree_rows(s, c)) return rc;
  st = stmt(s, "DELETE FROM vals WHERE key=?1");
  sqlite3_bind_int64(st, 1, id);
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return ERROR_CANTWRITE;
  return tx.commit();
}

namespace {

// One value read whole: its type and bytes.
LONG read_value(HKEY key, LPCWSTR subKey, LPCWSTR name, REGSAM view, DWORD& type, std::vector<BYTE>& bytes) {
  HKEY from = key;
  HKEY opened = nullptr;
  if (subKey && *subKey) {
    if (LONG rc = RegOpenKeyExW(key, subKey, 0, KEY_QUERY_VALUE | view, &opened)) return rc;
    from = opened;
  }
  DWORD size = 0;
  LONG rc = RegQueryValueExW(from, name, nullptr, &type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    bytes.resize(size);
    rc = RegQueryValueExW(from, name, nullptr, &type, bytes.data(), &size);
    bytes.resize(size);
  }
  if (opened) RegCloseKey(opened);
  return rc;
}

// Ends string data with its terminator (two for a list), as a reader may rely on.
void terminate_text(DWORD type, std::vector<BYTE>& bytes) {
  if (bytes.size() % 2) bytes.push_back(0);
  const std::size_t nuls = type == REG_MULTI_SZ ? 2 : 1;
  auto unit = [&](std::size_t back) {
    return bytes.size() >= 2 * back && (bytes[bytes.size() - 2 * back] || bytes[bytes.size() - 2 * back + 1]);
  };
  std::size_t have = 0;
  while (have < nuls && bytes.size() >= 2 * (have + 1) && !unit(have + 1)) ++have;
  if (type == REG_MULTI_SZ && have == 1 && bytes.size() == 2) have = 2;  // an empty list
  for (; have < nuls; ++have) bytes.insert(bytes.end(), 2, 0);
}

}  // namespace

LONG RegGetValueW(HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue, DWORD dwFlags, LPDWORD pdwType, PVOID pvData,
                  LPDWORD pcbData) {
  const DWORD wanted = dwFlags & RRF_RT_ANY;
  // REG_EXPAND_SZ asked for by name needs RRF_NOEXPAND: expanded it is REG_SZ.
  if (!wanted || (pvData && !pcbData) ||
      ((dwFlags & RRF_RT_REG_EXPAND_SZ) && !(dwFlags & RRF_NOEXPAND) && wanted != RRF_RT_ANY))
    return ERROR_INVALID_PARAMETER;
  const DWORD given = pcbData ? *pcbData : 0;
  auto zero_buffer = [&] {
    if ((dwFlags & RRF_ZEROONFAILURE) && pvData && given) std::memset(pvData, 0, given);
  };
  REGSAM view = 0;
  if (dwFlags & RRF_SUBKEY_WOW6464KEY) view = KEY_WOW64_64KEY;
  if (dwFlags & RRF_SUBKEY_WOW6432KEY) view = KEY_WOW64_32KEY;
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
  if (LONG rc = read_value(hkey, lpSubKey, lpValue, view, type, bytes)) {
    zero_buffer();
    return rc;
  }
  if (type == REG_EXPAND_SZ && !(dwFlags & RRF_NOEXPAND)) {
    terminate_text(type, bytes);
    auto text = reinterpret_cast<LPCWSTR>(bytes.data());
    const DWORD units = ExpandEnvironmentStringsW(text, nullptr, 0);
    std::vector<BYTE> expanded(static_cast<std::size_t>(units) * 2);
    if (units) ExpandEnvironmentStringsW(text, reinterpret_cast<LPWSTR>(expanded.data()), units);
    bytes = std::move(expanded);
    type = REG_SZ;
  }
  // The type filter: one bit per type; REG_BINARY under RRF_RT_DWORD or
  // RRF_RT_QWORD alone must hold exactly 4 or 8 bytes.
  DWORD bit = 0;
  switch (type) {
    case REG_NONE: bit = RRF_RT_REG_NONE; break;
    case REG_SZ: bit = RRF_RT_REG_SZ; break;
    case REG_EXPAND_SZ: bit = RRF_RT_REG_EXPAND_SZ; break;
    case REG_BINARY: bit = RRF_RT_REG_BINARY; break;
    case REG_DWORD: bit = RRF_RT_REG_DWORD; break;
    case REG_MULTI_SZ: bit = RRF_RT_REG_MULTI_SZ; break;
    case REG_QWORD: bit = RRF_RT_REG_QWORD; break;
    default: break;
  }
  if (!(wanted & bit)) {
    zero_buffer();
    return ERROR_UNSUPPORTED_TYPE;
  }
  std::size_t exact = 0;
  if (type == REG_DWORD) exact = 4;
  if (type == REG_QWORD) exact = 8;
  if (type == REG_BINARY && wanted == RRF_RT_DWORD) exact = 4;
  if (type == REG_BINARY && wanted == RRF_RT_QWORD) exact = 8;
  if (exact && bytes.size() != exact) {
    zero_buffer();
    return ERROR_DATA_NOT_ACCEPTED;
  }
  if (string_type(type)) terminate_text(type, bytes);
  if (pdwType) *pdwType = type;
  if (!pcbData) return ERROR_SUCCESS;
  const DWORD needed = static_cast<DWORD>(bytes.size());
  *pcbData = needed;
  if (!pvData) return ERROR_SUCCESS;
  if (given < needed) {
    zero_buffer();
    return ERROR_MORE_DATA;
  }
  if (needed) std::memcpy(pvData, bytes.data(), needed);
  return ERROR_SUCCESS;
}

LONG RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData) {
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
  LONG rc = read_value(hKey, lpSubKey, nullptr, 0, type, bytes);
  if (rc == ERROR_FILE_NOT_FOUND && lpSubKey && *lpSubKey) {
    // The key exists without a default value: an empty text.
    HKEY probe = nullptr;
    if (RegOpenKeyExW(hKey, lpSubKey, 0, KEY_QUERY_VALUE, &probe) == ERROR_SUCCESS) {
      RegCloseKey(probe);
      rc = ERROR_SUCCESS;
      type = REG_SZ;
    }
  } else if (rc == ERROR_FILE_NOT_FOUND) {
    rc = ERROR_SUCCESS;
    type = REG_SZ;
  }
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  terminate_text(REG_SZ, bytes);
  if (!lpcbData) return ERROR_SUCCESS;
  const LONG needed = static_cast<LONG>(bytes.size());
  const LONG given = *lpcbData;
  *lpcbData = needed;
  if (!lpData) return ERROR_SUCCESS;
  if (given < needed) return ERROR_MORE_DATA;
  std::memcpy(lpData, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}
