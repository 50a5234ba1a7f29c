// msi.dll's database functions over libmsi. libmsi works in UTF-8 and reports
// GError values; this file converts to UTF-16 and Windows Installer's result
// numbers, keeps its own 32-bit handle table, and stands between the caller and
// the engine's known faults (see sql_bridge.h and the notes below).
#include "platform/msi/msi.h"

#include <fcntl.h>
#include <iconv.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libmsi.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "platform/msi/child_refs.h"
#include "platform/msi/compound.h"
#include "platform/msi/sql_bridge.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/files.h"
#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/layer/leak_suppressions.h"

namespace {

using win32::utf16_to_utf8;
using win32::utf8_to_utf16;

// ---------------------------------------------------------------------------
// Last error, per thread

struct LastError {
  bool set = false;
  UINT code = 0;
  std::u16string message;
};
thread_local LastError tLastError;

UINT fail(UINT code, const std::string& message) {
  tLastError.set = true;
  tLastError.code = code;
  tLastError.message = utf8_to_utf16(message);
  return code;
}

UINT resultFromGError(const GError* e, UINT fallback) {
  if (!e) return fallback;
  if (e->domain == LIBMSI_RESULT_ERROR) {
    switch (e->code) {
      case LIBMSI_RESULT_SUCCESS: return fallback;
      case LIBMSI_RESULT_ACCESS_DENIED: return ERROR_ACCESS_DENIED;
      case LIBMSI_RESULT_INVALID_HANDLE: return ERROR_INVALID_HANDLE;
      case LIBMSI_RESULT_NOT_ENOUGH_MEMORY: return ERROR_NOT_ENOUGH_MEMORY;
      case LIBMSI_RESULT_INVALID_DATA: return ERROR_INVALID_DATA;
      case LIBMSI_RESULT_OUTOFMEMORY: return ERROR_OUTOFMEMORY;
      case LIBMSI_RESULT_INVALID_PARAMETER: return ERROR_INVALID_PARAMETER;
      case LIBMSI_RESULT_OPEN_FAILED: return ERROR_OPEN_FAILED;
      case LIBMSI_RESULT_CALL_NOT_IMPLEMENTED: return ERROR_CALL_NOT_IMPLEMENTED;
      case LIBMSI_RESULT_MORE_DATA: return ERROR_MORE_DATA;
      case LIBMSI_RESULT_NOT_FOUND: return ERROR_NOT_FOUND;
      case LIBMSI_RESULT_CONTINUE: return 1246;
      case LIBMSI_RESULT_UNKNOWN_PROPERTY: return ERROR_UNKNOWN_PROPERTY;
      case LIBMSI_RESULT_BAD_QUERY_SYNTAX: return ERROR_BAD_QUERY_SYNTAX;
      case LIBMSI_RESULT_INVALID_FIELD: return ERROR_INVALID_FIELD;
      case LIBMSI_RESULT_FUNCTION_FAILED: return ERROR_FUNCTION_FAILED;
      case LIBMSI_RESULT_INVALID_TABLE: return ERROR_INVALID_TABLE;
      case LIBMSI_RESULT_DATATYPE_MISMATCH: return ERROR_DATATYPE_MISMATCH;
      case LIBMSI_RESULT_INVALID_DATATYPE: return 1804;
      default: return fallback;
    }
  }
  return fallback;
}

// Records the failure of `what` and returns its result number.
UINT failFrom(GError*& e, UINT fallback, const char* what) {
  UINT code = resultFromGError(e, fallback);
  std::string message = what;
  if (e && e->message && *e->message) message += std::string(": ") + e->message;
  g_clear_error(&e);
  return fail(code, message);
}

template <class T>
struct GObjectRef {
  T* p = nullptr;
  GObjectRef() = default;
  explicit GObjectRef(T* adopt) : p(adopt) {}
  GObjectRef(const GObjectRef&) = delete;
  GObjectRef& operator=(const GObjectRef&) = delete;
  GObjectRef(GObjectRef&& o) noexcept : p(o.p) { o.p = nullptr; }
  GObjectRef& operator=(GObjectRef&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  ~GObjectRef() { reset(); }
  T* release() {
    T* r = p;
    p = nullptr;
    return r;
  }
  void reset(T* adopt = nullptr) {
    if (p) g_object_unref(p);
    p = adopt;
  }
  T* get() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// Copies a text by the size protocol of every text getter.
UINT copyOut(const std::u16string& text, LPWSTR buf, DWORD* pcch) {
  if (!pcch) return buf ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  DWORD len = static_cast<DWORD>(text.size());
  if (!buf) {
    *pcch = len;
    return ERROR_SUCCESS;
  }
  DWORD room = *pcch;
  *pcch = len;
  if (room > len) {
    std::copy(text.begin(), text.end(), buf);
    buf[len] = 0;
    return ERROR_SUCCESS;
  }
  if (room > 0) {
    std::copy(text.begin(), text.begin() + (room - 1), buf);
    buf[room - 1] = 0;
  }
  return ERROR_MORE_DATA;
}

std::u16string wide(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

// ---------------------------------------------------------------------------
// Objects behind handles

struct Object {
  virtual ~Object() = default;
};

// Whether every character of a UTF-8 text has a place in a code page (0 is
// taken as 1252, as the engine takes it here).
bool fitsCodePage(const std::string& text, std::uint32_t codePage) {
  if (codePage == CP_UTF8) return true;
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return true;
  if (codePage == 0) codePage = 1252;
  std::string name = "CP" + std::to_string(codePage);
  iconv_t cd = iconv_open(name.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = text;
  char* inp = in.data();
  std::size_t inLeft = in.size();
  std::string out(in.size() * 4 + 16, '\0');
  char* outp = out.data();
  std::size_t outLeft = out.size();
  bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
  iconv_close(cd);
  return ok;
}

std::string codePageName(std::uint32_t codePage) {
  return codePage == 0 ? "0 (1252)" : std::to_string(codePage);
}

struct Record;

struct Database : Object {
  GObjectRef<LibmsiDatabase> db;
  bool readOnly = false;
  std::uint32_t codePage = 0;
  // Writable databases: the engine writes into `temp`, a file of our own beside
  // `target`, and a commit renames it over `target` (the package itself, links
  // followed, or the output path).
  std::string target;
  std::string temp;
  bool targetExisted = false;
  mode_t mode = 0;
  HANDLE hold = INVALID_HANDLE_VALUE;  // keeps other writers out

  ~Database() override {
    {
      msi_layer::ForgottenChildren guard;
      db.reset();
    }
    if (!temp.empty()) {
      ::unlink(temp.c_str());
      ::unlink((temp + ".tmp").c_str());
    }
    if (hold != INVALID_HANDLE_VALUE) CloseHandle(hold);
  }
  // Column types of tables ("s72", "i2", ...), read on demand; dropped whenever a
  // statement may have changed a table's shape.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> shapes;
  // Records fetched with stream fields not read yet: the engine's streams do
  // not survive a commit, so a commit reads them first.
  std::vector<std::weak_ptr<Record>> unreadStreams;

  const std::vector<std::pair<std::string, std::string>>* shape(const std::string& table) {
    auto it = shapes.find(table);
    if (it != shapes.end()) return &it->second;
    GError* e = nullptr;
    std::string sql = "SELECT * FROM `" + table + "`";
    GObjectRef<LibmsiQuery> q(libmsi_query_new(db.get(), sql.c_str(), &e));
    if (!q) {
      g_clear_error(&e);
      return nullptr;
    }
    GObjectRef<LibmsiRecord> names(libmsi_query_get_column_info(q.get(), LIBMSI_COL_INFO_NAMES, &e));
    g_clear_error(&e);
    GObjectRef<LibmsiRecord> types(libmsi_query_get_column_info(q.get(), LIBMSI_COL_INFO_TYPES, &e));
    g_clear_error(&e);
    if (!names || !types) return nullptr;
    std::vector<std::pair<std::string, std::string>> cols;
    guint n = libmsi_record_get_field_count(names.get());
    for (guint i = 1; i <= n; ++i) {
      gchar* nm = libmsi_record_get_string(names.get(), i);
      gchar* ty = libmsi_record_get_string(types.get(), i);
      cols.emplace_back(nm ? nm : "", ty ? ty : "");
      g_free(nm);
      g_free(ty);
    }
    return &(shapes[table] = std::move(cols));
  }
  char typeOf(const std::string& table, const std::string& column) {
    const auto* cols = shape(table);
    if (!cols) return 0;
    for (const auto& c : *cols)
      if (c.first == column) return c.second.empty() ? 0 : c.second[0];
    return 0;
  }
};

struct Field {
  enum Kind { Null, Int, Text, Stream } kind = Null;
  int i = 0;
  std::u16string text;
  std::string bytes;       // stream content, once read
  std::size_t readPos = 0;
  GObjectRef<LibmsiRecord> origin;  // stream not read yet: the engine's record
  guint originField = 0;
};

struct Record : Object {
  std::vector<Field> fields;  // 0 .. count
  explicit Record(UINT count) : fields(count + 1) {}
  UINT count() const { return static_cast<UINT>(fields.size() - 1); }
};

struct View : Object {
  std::shared_ptr<Database> database;
  msi_layer::Statement statement;
  std::string text;  // the caller's statement, for error texts
  GObjectRef<LibmsiQuery> query;
  std::vector<std::string> names, types;  // column info as the layer reports it
  bool executed = false;
};

struct Summary : Object {
  std::shared_ptr<Database> database;  // the caller's, or one opened for a path
  bool ownDatabase = false;
  GObjectRef<LibmsiSummaryInfo> si;
  UINT updateCount = 0;
};

class HandleTable {
 public:
  MSIHANDLE add(std::shared_ptr<Object> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    do {
      if (++next_ == 0) next_ = 1;
    } while (objects_.count(next_));
    objects_[next_] = std::move(object);
    return next_;
  }
  template <class T>
  std::shared_ptr<T> get(MSIHANDLE h) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(h);
    if (it == objects_.end()) return nullptr;
    return std::dynamic_pointer_cast<T>(it->second);
  }
  bool remove(MSIHANDLE h) {
    std::shared_ptr<Object> doomed;  // destroyed outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(h);
    if (it == objects_.end()) return false;
    doomed = std::move(it->second);
    objects_.erase(it);
    return true;
  }
  UINT clear() {
    std::unordered_map<MSIHANDLE, std::shared_ptr<Object>> doomed;
    std::lock_guard<std::mutex> lock(mutex_);
    doomed.swap(objects_);
    return static_cast<UINT>(doomed.size());
  }

 private:
  std::mutex mutex_;
  MSIHANDLE next_ = 0;
  std::unordered_map<MSIHANDLE, std::shared_ptr<Object>> objects_;
};

HandleTable& handles() {
  static HandleTable* table = new HandleTable;  // outlives every static user
  return *table;
}

bool isIntegerType(const std::string& type) {
  return !type.empty() && (type[0] == 'i' || type[0] == 'I' || type[0] == 'j' || type[0] == 'J');
}
bool isStreamType(const std::string& type) { return !type.empty() && (type[0] == 'v' || type[0] == 'V'); }

bool parseInt(const std::u16string& text, int& out) {
  if (text.empty() || text.size() > 11) return false;
  std::size_t i = text[0] == u'-' ? 1 : 0;
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    v = v * 10 + (text[i] - u'0');
  }
  if (text[0] == u'-') v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

std::u16string fieldText(const Field& f) {
  switch (f.kind) {
    case Field::Int: return utf8_to_utf16(std::to_string(f.i));
    case Field::Text: return f.text;
    default: return {};
  }
}

bool loadStream(Field& f) {
  if (!f.origin) return true;
  GObjectRef<GInputStream> in(libmsi_record_get_stream(f.origin.get(), f.originField));
  f.origin.reset();
  if (!in) return false;
  char buf[65536];
  for (;;) {
    gssize n = g_input_stream_read(in.get(), buf, sizeof buf, nullptr, nullptr);
    if (n < 0) return false;
    if (n == 0) break;
    f.bytes.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

// Writes one of our fields into an engine record, typed for the column it meets.
bool putField(LibmsiRecord* rec, guint index, Field& f, char columnType, GError** e) {
  char t = static_cast<char>(std::tolower(static_cast<unsigned char>(columnType)));
  switch (f.kind) {
    case Field::Null: return true;
    case Field::Int:
      if (t == 's' || t == 'l' || t == 'g') return libmsi_record_set_string(rec, index, std::to_string(f.i).c_str());
      return libmsi_record_set_int(rec, index, f.i);
    case Field::Text: {
      int v;
      if ((t == 'i' || t == 'j') && parseInt(f.text, v)) return libmsi_record_set_int(rec, index, v);
      return libmsi_record_set_string(rec, index, utf16_to_utf8(f.text).c_str());
    }
    case Field::Stream: {
      if (!loadStream(f)) return false;
      GObjectRef<GInputStream> in(g_memory_input_stream_new_from_data(
          g_memdup2(f.bytes.data(), f.bytes.size()), static_cast<gssize>(f.bytes.size()), g_free));
      return libmsi_record_set_stream(rec, index, in.get(), f.bytes.size(), nullptr, e);
    }
  }
  return false;
}

std::shared_ptr<Database> database(MSIHANDLE h) { return handles().get<Database>(h); }

std::string unixPath(LPCWSTR path) { return path ? win32::to_unix_path(path) : std::string(); }

// The columns the layer reports for views the engine cannot describe safely.
void describeView(View& v) {
  using msi_layer::StatementKind;
  Database& db = *v.database;
  const msi_layer::Statement& st = v.statement;
  auto typeOf = [&](const std::string& table, const std::string& column) -> std::string {
    const auto* cols = db.shape(table);
    if (cols)
      for (const auto& c : *cols)
        if (c.first == column) return c.second;
    return {};
  };
  switch (st.kind) {
    case StatementKind::Insert:
      if (st.tables.empty()) break;
      if (st.insertColumns.empty()) {
        if (const auto* cols = db.shape(st.tables[0]))
          for (const auto& c : *cols) v.names.push_back(c.first), v.types.push_back(c.second);
      } else {
        for (const std::string& c : st.insertColumns) v.names.push_back(c), v.types.push_back(typeOf(st.tables[0], c));
      }
      break;
    case StatementKind::Update:
      if (st.tables.empty()) break;
      for (const std::string& c : st.setColumns) v.names.push_back(c), v.types.push_back(typeOf(st.tables[0], c));
      break;
    case StatementKind::Delete:
      if (st.tables.empty()) break;
      if (const auto* cols = db.shape(st.tables[0]))
        for (const auto& c : *cols) v.names.push_back(c.first), v.types.push_back(c.second);
      break;
    default:
      break;  // CREATE, ALTER, DROP: no columns
  }
}

// Column info of a SELECT from the engine; names that occur twice in a join are
// qualified with their table so that each name is unique.
bool describeSelect(View& v, GError** e) {
  GObjectRef<LibmsiRecord> names(libmsi_query_get_column_info(v.query.get(), LIBMSI_COL_INFO_NAMES, e));
  if (!names) return false;
  GObjectRef<LibmsiRecord> types(libmsi_query_get_column_info(v.query.get(), LIBMSI_COL_INFO_TYPES, e));
  if (!types) return false;
  guint n = libmsi_record_get_field_count(names.get());
  for (guint i = 1; i <= n; ++i) {
    gchar* nm = libmsi_record_get_string(names.get(), i);
    gchar* ty = libmsi_record_get_string(types.get(), i);
    v.names.emplace_back(nm ? nm : "");
    v.types.emplace_back(ty ? ty : "");
    g_free(nm);
    g_free(ty);
  }
  const msi_layer::Statement& st = v.statement;
  if (st.tables.size() < 2) return true;
  std::vector<std::string> owner;
  for (const auto& item : st.selectItems) {
    if (item.column == "*") {
      for (const std::string& t : st.tables)
        if (const auto* cols = v.database->shape(t))
          owner.insert(owner.end(), cols->size(), t);
    } else if (!item.table.empty()) {
      owner.push_back(item.table);
    } else {
      std::string found;
      for (const std::string& t : st.tables)
        if (v.database->typeOf(t, item.column)) {
          found = t;
          break;
        }
      owner.push_back(found);
    }
  }
  if (owner.size() != v.names.size()) return true;
  std::vector<std::string> qualified = v.names;
  for (std::size_t i = 0; i < v.names.size(); ++i)
    if (!owner[i].empty() && std::count(v.names.begin(), v.names.end(), v.names[i]) > 1)
      qualified[i] = owner[i] + "." + v.names[i];
  v.names = std::move(qualified);
  return true;
}

bool isSchemaChange(msi_layer::StatementKind k) {
  return k == msi_layer::StatementKind::Create || k == msi_layer::StatementKind::Alter ||
         k == msi_layer::StatementKind::Drop;
}

}  // namespace

// ---------------------------------------------------------------------------
// Databases

namespace {

std::string folderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a commit replaces: a link's target, so that the link stays a link.
std::string resolveTarget(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real) {
    std::string r = real;
    ::free(real);
    return r;
  }
  char* folder = ::realpath(folderOf(path).c_str(), nullptr);
  if (!folder) return path;
  std::string r = std::string(folder) + "/" + path.substr(path.rfind('/') + 1);
  ::free(folder);
  return r;
}

// Prepares a writable database: checks that the target may be replaced, holds
// it against other writers and makes the engine's unique output file beside it.
UINT prepareWriting(Database& d, const std::string& target, LPCWSTR windowsPath, UINT failure) {
  d.target = resolveTarget(target);
  struct stat st;
  d.targetExisted = ::stat(d.target.c_str(), &st) == 0;
  if (d.targetExisted) {
    if (!S_ISREG(st.st_mode)) return fail(failure, d.target + " is not a file");
    if ((st.st_mode & 0222) == 0 || ::access(d.target.c_str(), W_OK) != 0)
      return fail(failure, d.target + ": the package is read-only");
    d.mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    d.mode = 0666 & ~mask;
  }
  const std::string folder = folderOf(d.target);
  if (::access(folder.c_str(), W_OK | X_OK) != 0)
    return fail(failure, folder + ": the folder cannot be written");
  if (d.targetExisted) {
    std::u16string held = windowsPath ? std::u16string(windowsPath) : win32::to_windows_path(d.target);
    d.hold = CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (d.hold == INVALID_HANDLE_VALUE) {
      DWORD e = GetLastError();
      if (e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION)
        return fail(failure, d.target + ": the package is open for writing elsewhere");
      return fail(failure, d.target + ": the package cannot be opened for writing");
    }
  }
  std::string base = d.target.substr(d.target.rfind('/') + 1);
  std::string pattern = folder + "/." + base + ".commit-XXXXXX";
  int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return fail(failure, folder + ": no temporary file can be made there");
  ::close(fd);
  d.temp = pattern;
  return ERROR_SUCCESS;
}

bool syncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// The engine has written the whole database into the temporary file: make it
// durable, give it the original's mode, and put it in the original's place.
UINT replaceTarget(Database& d) {
  int fd = ::open(d.temp.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(ERROR_FUNCTION_FAILED, "commit: the written database is missing");
  bool ok = ::fchmod(fd, d.mode) == 0 && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok) return fail(ERROR_FUNCTION_FAILED, "commit: the written database cannot be made durable");
  // The new file takes over the hold before the old one goes, leaving no gap
  // for another writer.
  HANDLE next = CreateFileW(win32::to_windows_path(d.temp).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (::rename(d.temp.c_str(), d.target.c_str()) != 0) {
    if (next != INVALID_HANDLE_VALUE) CloseHandle(next);
    return fail(ERROR_FUNCTION_FAILED, "commit: " + d.target + " cannot be replaced");
  }
  syncFolder(folderOf(d.target));
  if (d.hold != INVALID_HANDLE_VALUE) CloseHandle(d.hold);
  d.hold = next;
  d.targetExisted = true;
  return ERROR_SUCCESS;
}

// The code page of the database as the engine holds it now.
std::uint32_t currentCodePage(LibmsiDatabase* db, std::uint32_t fallback) {
  int fd = ::memfd_create("codepage", MFD_CLOEXEC);
  if (fd < 0) return fallback;
  GError* e = nullptr;
  std::uint32_t cp = fallback;
  if (libmsi_database_export(db, "_ForceCodepage", fd, &e)) {
    char buf[64] = {0};
    ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n > 0) {
      const char* p = buf;
      while (*p == '\r' || *p == '\n') ++p;
      cp = static_cast<std::uint32_t>(std::strtoul(p, nullptr, 10));
    }
  }
  g_clear_error(&e);
  ::close(fd);
  return cp;
}

// Whether every text the tables hold fits the database's code page; the first
// that does not in `offending`.
bool allTextsFit(Database& d, std::string& offending) {
  std::vector<std::string> tables;
  GError* e = nullptr;
  {
    GObjectRef<LibmsiQuery> q(libmsi_query_new(d.db.get(), "SELECT `Name` FROM `_Tables`", &e));
    g_clear_error(&e);
    if (!q || !libmsi_query_execute(q.get(), nullptr, &e)) return g_clear_error(&e), true;
    while (LibmsiRecord* raw = libmsi_query_fetch(q.get(), &e)) {
      GObjectRef<LibmsiRecord> row(raw);
      gchar* name = libmsi_record_get_string(raw, 1);
      if (name) tables.emplace_back(name);
      g_free(name);
    }
    g_clear_error(&e);
    libmsi_query_close(q.get(), nullptr);
  }
  for (const std::string& t : tables) {
    const auto* cols = d.shape(t);
    if (!cols) continue;
    std::string sql = "SELECT * FROM `" + t + "`";
    GObjectRef<LibmsiQuery> q(libmsi_query_new(d.db.get(), sql.c_str(), &e));
    g_clear_error(&e);
    if (!q || !libmsi_query_execute(q.get(), nullptr, &e)) {
      g_clear_error(&e);
      continue;
    }
    while (LibmsiRecord* raw = libmsi_query_fetch(q.get(), &e)) {
      GObjectRef<LibmsiRecord> row(raw);
      for (guint i = 1; i <= cols->size(); ++i) {
        const std::string& type = (*cols)[i - 1].second;
        if (isIntegerType(type) || isStreamType(type) || libmsi_record_is_null(raw, i)) continue;
        gchar* text = libmsi_record_get_string(raw, i);
        bool fits = !text || fitsCodePage(text, d.codePage);
        if (!fits) offending = text;
        g_free(text);
        if (!fits) {
          libmsi_query_close(q.get(), nullptr);
          return false;
        }
      }
    }
    g_clear_error(&e);
    libmsi_query_close(q.get(), nullptr);
  }
  return true;
}

// Reads every stream field still waiting in a record of this database.
void readUnreadStreams(Database& d) {
  for (auto& weak : d.unreadStreams)
    if (auto r = weak.lock())
      for (Field& f : r->fields)
        if (f.kind == Field::Stream && f.origin && !loadStream(f)) f.bytes.clear();
  d.unreadStreams.clear();
}

// Whether the package has a stream of that name: Windows refuses an INSERT of
// a name in use, where the engine would replace the stream silently.
bool streamExists(Database& d, const std::string& name) {
  GError* e = nullptr;
  GObjectRef<LibmsiQuery> q(libmsi_query_new(d.db.get(), "SELECT `Name` FROM `_Streams` WHERE `Name` = ?", &e));
  g_clear_error(&e);
  if (!q) return false;
  GObjectRef<LibmsiRecord> param(libmsi_record_new(1));
  libmsi_record_set_string(param.get(), 1, name.c_str());
  bool found = false;
  if (libmsi_query_execute(q.get(), param.get(), &e)) {
    GObjectRef<LibmsiRecord> row(libmsi_query_fetch(q.get(), &e));
    found = static_cast<bool>(row);
  }
  g_clear_error(&e);
  libmsi_query_close(q.get(), nullptr);
  return found;
}

UINT commitDatabase(Database& d) {
  GError* e = nullptr;
  readUnreadStreams(d);
  {
    msi_layer::ForgottenChildren guard;
    if (!libmsi_database_commit(d.db.get(), &e)) return failFrom(e, ERROR_FUNCTION_FAILED, "commit");
  }
  if (d.temp.empty()) return ERROR_SUCCESS;
  return replaceTarget(d);
}

}  // namespace

UINT MsiOpenDatabaseW(LPCWSTR szDatabasePath, LPCWSTR szPersist, MSIHANDLE* phDatabase) {
  if (!szDatabasePath || !phDatabase) return ERROR_INVALID_PARAMETER;
  auto mode = reinterpret_cast<ULONG_PTR>(szPersist);
  std::string path = unixPath(szDatabasePath);
  if (path.empty()) return fail(ERROR_OPEN_FAILED, "the database path cannot be mapped");
  guint flags = 0;
  std::string persist;
  bool create = false;
  switch (mode) {
    case 0: flags = LIBMSI_DB_FLAGS_READONLY; break;
    case 1:
    case 2: flags = LIBMSI_DB_FLAGS_TRANSACT; break;
    case 3:
    case 4: flags = LIBMSI_DB_FLAGS_CREATE | LIBMSI_DB_FLAGS_TRANSACT; create = true; break;
    default:
      persist = unixPath(szPersist);
      if (persist.empty()) return fail(ERROR_OPEN_FAILED, "the output path cannot be mapped");
      flags = LIBMSI_DB_FLAGS_TRANSACT;
      break;
  }
  auto d = std::make_shared<Database>();
  if (!create) {
    if (::access(path.c_str(), F_OK) != 0) return fail(ERROR_OPEN_FAILED, path + ": no such file");
    // The engine trusts every sector number and length it reads.
    msi_layer::PackageCheck check = msi_layer::checkPackageFile(path);
    if (!check.ok && !check.compound) return fail(ERROR_OPEN_FAILED, path + ": not a package: " + check.problem);
    if (!check.ok) return fail(ERROR_INSTALL_PACKAGE_INVALID, path + ": damaged package: " + check.problem);
    d->codePage = check.codePage;
  }
  if (mode != 0) {
    UINT rc = prepareWriting(*d, persist.empty() ? path : persist, persist.empty() ? szDatabasePath : szPersist,
                             create ? ERROR_CREATE_FAILED : ERROR_OPEN_FAILED);
    if (rc != ERROR_SUCCESS) return rc;
  }
  GError* e = nullptr;
  LibmsiDatabase* db;
  {
    msi_layer::ForgottenChildren guard;
    db = libmsi_database_new(path.c_str(), flags, d->temp.empty() ? nullptr : d->temp.c_str(), &e);
  }
  if (!db) return failFrom(e, create ? ERROR_CREATE_FAILED : ERROR_OPEN_FAILED, "open database");
  g_clear_error(&e);
  d->db.reset(db);
  d->readOnly = mode == 0;
  *phDatabase = handles().add(std::move(d));
  return ERROR_SUCCESS;
}

UINT MsiDatabaseCommit(MSIHANDLE hDatabase) {
  auto d = database(hDatabase);
  if (!d) return ERROR_INVALID_HANDLE;
  if (d->readOnly) return ERROR_SUCCESS;  // nothing can be pending
  return commitDatabase(*d);
}

MSIDBSTATE MsiGetDatabaseState(MSIHANDLE hDatabase) {
  auto d = database(hDatabase);
  if (!d) return MSIDBSTATE_ERROR;
  return d->readOnly ? MSIDBSTATE_READ : MSIDBSTATE_WRITE;
}

UINT MsiDatabaseOpenViewW(MSIHANDLE hDatabase, LPCWSTR szQuery, MSIHANDLE* phView) {
  if (!szQuery || !phView) return ERROR_INVALID_PARAMETER;
  auto d = database(hDatabase);
  if (!d) return ERROR_INVALID_HANDLE;
  auto v = std::make_shared<View>();
  v->database = d;
  v->statement = msi_layer::analyse(utf16_to_utf8(szQuery), [&](const std::string& t, const std::string& c) {
    return d->typeOf(t, c);
  });
  v->text = utf16_to_utf8(szQuery);
  const std::string what = "open view \"" + v->text + "\"";
  if (!v->statement.error.empty()) return fail(ERROR_BAD_QUERY_SYNTAX, what + ": " + v->statement.error);
  if (!fitsCodePage(v->text, d->codePage))
    return fail(ERROR_NO_UNICODE_TRANSLATION,
                what + ": the text has characters outside the database's code page " + codePageName(d->codePage));
  GError* e = nullptr;
  v->query.reset(libmsi_query_new(d->db.get(), v->statement.sql.c_str(), &e));
  if (!v->query) return failFrom(e, ERROR_BAD_QUERY_SYNTAX, what.c_str());
  g_clear_error(&e);
  if (v->statement.kind == msi_layer::StatementKind::Select || v->statement.kind == msi_layer::StatementKind::Other) {
    if (!describeSelect(*v, &e)) return failFrom(e, ERROR_FUNCTION_FAILED, "column info");
  } else {
    describeView(*v);
  }
  *phView = handles().add(std::move(v));
  return ERROR_SUCCESS;
}

UINT MsiDatabaseGetPrimaryKeysW(MSIHANDLE hDatabase, LPCWSTR szTableName, MSIHANDLE* phRecord) {
  if (!szTableName || !phRecord) return ERROR_INVALID_PARAMETER;
  auto d = database(hDatabase);
  if (!d) return ERROR_INVALID_HANDLE;
  GError* e = nullptr;
  LibmsiRecord* raw = libmsi_database_get_primary_keys(d->db.get(), utf16_to_utf8(szTableName).c_str(), &e);
  // On failure the engine hands back a pointer to a record it has already freed.
  // A missing table is an answer callers expect, so it leaves no error record.
  if (!raw || e) {
    UINT rc = resultFromGError(e, ERROR_INVALID_TABLE);
    if (rc == ERROR_INVALID_TABLE) {
      g_clear_error(&e);
      return rc;
    }
    return failFrom(e, ERROR_INVALID_TABLE, "primary keys");
  }
  GObjectRef<LibmsiRecord> keys(raw);
  guint n = libmsi_record_get_field_count(keys.get());
  auto r = std::make_shared<Record>(n);
  for (guint i = 0; i <= n; ++i) {
    gchar* s = libmsi_record_get_string(keys.get(), i);
    if (s && *s) r->fields[i].kind = Field::Text, r->fields[i].text = utf8_to_utf16(s);
    g_free(s);
  }
  *phRecord = handles().add(std::move(r));
  return ERROR_SUCCESS;
}

UINT MsiDatabaseImportW(MSIHANDLE hDatabase, LPCWSTR szFolderPath, LPCWSTR szFileName) {
  if (!szFolderPath || !szFileName) return ERROR_INVALID_PARAMETER;
  auto d = database(hDatabase);
  if (!d) return ERROR_INVALID_HANDLE;
  std::u16string full = wide(szFolderPath);
  if (!full.empty() && full.back() != u'\\' && full.back() != u'/') full += u'\\';
  full += szFileName;
  std::string path = unixPath(full.c_str());
  if (path.empty() || ::access(path.c_str(), R_OK) != 0) return fail(ERROR_BAD_PATHNAME, "no file to import");
  gchar* content = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &content, &length, nullptr))
    return fail(ERROR_BAD_PATHNAME, "the file to import cannot be read");
  const std::string text(content, length);
  g_free(content);
  // The engine takes the file's texts as they are; all but the code page's
  // own file must fit the database's code page.
  const bool codePageFile = text.find("\t_ForceCodepage") != std::string::npos;
  if (!codePageFile && !fitsCodePage(text, d->codePage))
    return fail(ERROR_NO_UNICODE_TRANSLATION, path + " has texts outside the database's code page " +
                                                  codePageName(d->codePage));
  const std::uint32_t before = d->codePage;
  GError* e = nullptr;
  if (!libmsi_database_import(d->db.get(), path.c_str(), &e)) return failFrom(e, ERROR_FUNCTION_FAILED, "import");
  d->shapes.clear();
  d->codePage = currentCodePage(d->db.get(), d->codePage);
  if (codePageFile && d->codePage != before) {
    std::string offending;
    if (!allTextsFit(*d, offending)) {
      // Back to the code page the texts were stored in.
      std::string back = "\r\n\r\n" + std::to_string(before) + "\t_ForceCodepage\r\n";
      int fd = ::memfd_create("codepage", MFD_CLOEXEC);
      if (fd >= 0 && ::write(fd, back.data(), back.size()) == static_cast<ssize_t>(back.size())) {
        std::string self = "/proc/self/fd/" + std::to_string(fd);
        libmsi_database_import(d->db.get(), self.c_str(), &e);
        g_clear_error(&e);
      }
      if (fd >= 0) ::close(fd);
      const std::uint32_t wanted = d->codePage;
      d->codePage = currentCodePage(d->db.get(), before);
      return fail(ERROR_NO_UNICODE_TRANSLATION, "the stored text \"" + offending + "\" has no place in code page " +
                                                    codePageName(wanted));
    }
  }
  return ERROR_SUCCESS;
}

UINT MsiDatabaseExportW(MSIHANDLE hDatabase, LPCWSTR szTableName, LPCWSTR szFolderPath, LPCWSTR szFileName) {
  if (!szTableName || !szFolderPath || !szFileName) return ERROR_INVALID_PARAMETER;
  auto d = database(hDatabase);
  if (!d) return ERROR_INVALID_HANDLE;
  std::u16string full = wide(szFolderPath);
  if (!full.empty() && full.back() != u'\\' && full.back() != u'/') full += u'\\';
  full += szFileName;
  std::string path = unixPath(full.c_str());
  if (path.empty()) return fail(ERROR_BAD_PATHNAME, "bad export path");
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail(ERROR_OPEN_FAILED, "cannot create " + path);
  GError* e = nullptr;
  bool ok = libmsi_database_export(d->db.get(), utf16_to_utf8(szTableName).c_str(), fd, &e);
  ::close(fd);
  if (!ok) return failFrom(e, ERROR_FUNCTION_FAILED, "export");
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Views

UINT MsiViewExecute(MSIHANDLE hView, MSIHANDLE hRecord) {
  auto v = handles().get<View>(hView);
  if (!v) return ERROR_INVALID_HANDLE;
  std::shared_ptr<Record> params;
  if (hRecord) {
    params = handles().get<Record>(hRecord);
    if (!params) return ERROR_INVALID_HANDLE;
  }
  GError* e = nullptr;
  if (v->executed) {
    libmsi_query_close(v->query.get(), &e);
    g_clear_error(&e);
    v->executed = false;
  }
  const msi_layer::Statement& st = v->statement;
  GObjectRef<LibmsiRecord> rec;
  if (!st.markers.empty()) {
    rec.reset(libmsi_record_new(static_cast<guint>(st.markers.size())));
    for (std::size_t m = 0; m < st.markers.size(); ++m) {
      const msi_layer::MarkerSlot& slot = st.markers[m];
      char type = slot.table.empty() ? 0 : v->database->typeOf(slot.table, slot.column);
      Field literal;
      Field* f = &literal;
      if (slot.userField == 0) {
        if (!slot.literal.empty() || !slot.literalIsText) literal.kind = Field::Text;
        literal.text = utf8_to_utf16(slot.literal);
      } else if (params && static_cast<UINT>(slot.userField) <= params->count()) {
        f = &params->fields[slot.userField];
      } else {
        continue;  // a marker without value is null
      }
      if (f->kind == Field::Text) {
        std::string text = utf16_to_utf8(f->text);
        if (!fitsCodePage(text, v->database->codePage))
          return fail(ERROR_NO_UNICODE_TRANSLATION, "the value \"" + text +
                                                        "\" has characters outside the database's code page " +
                                                        codePageName(v->database->codePage));
      }
      if (!putField(rec.get(), static_cast<guint>(m + 1), *f, type, &e))
        return failFrom(e, ERROR_INVALID_PARAMETER, "parameter");
    }
  }
  if (st.kind == msi_layer::StatementKind::Insert && !st.tables.empty() && st.tables[0] == "_Streams") {
    std::optional<std::string> name;
    for (std::size_t m = 0; m < st.markers.size(); ++m)
      if (st.markers[m].column == "Name" && rec && !libmsi_record_is_null(rec.get(), static_cast<guint>(m + 1))) {
        gchar* text = libmsi_record_get_string(rec.get(), static_cast<guint>(m + 1));
        name = text ? text : "";
        g_free(text);
      }
    for (const auto& [column, literal] : st.insertLiterals)
      if (column == "Name") name = literal;
    if (name && streamExists(*v->database, *name))
      return fail(ERROR_FUNCTION_FAILED, "execute \"" + v->text + "\": a stream named \"" + *name + "\" exists");
  }
  if (!libmsi_query_execute(v->query.get(), rec.get(), &e))
    return failFrom(e, ERROR_FUNCTION_FAILED, ("execute \"" + v->text + "\"").c_str());
  g_clear_error(&e);
  v->executed = true;
  if (isSchemaChange(st.kind)) v->database->shapes.clear();
  return ERROR_SUCCESS;
}

UINT MsiViewFetch(MSIHANDLE hView, MSIHANDLE* phRecord) {
  if (!phRecord) return ERROR_INVALID_PARAMETER;
  auto v = handles().get<View>(hView);
  if (!v) return ERROR_INVALID_HANDLE;
  if (!v->executed) return fail(ERROR_FUNCTION_FAILED, "fetch before execute");
  // Statements other than SELECT have no rows; the engine would hand out an
  // empty record for them.
  if (v->statement.kind != msi_layer::StatementKind::Select && v->statement.kind != msi_layer::StatementKind::Other)
    return ERROR_NO_MORE_ITEMS;
  GError* e = nullptr;
  LibmsiRecord* raw = libmsi_query_fetch(v->query.get(), &e);
  if (!raw) {
    if (!e) return ERROR_NO_MORE_ITEMS;
    return failFrom(e, ERROR_FUNCTION_FAILED, "fetch");
  }
  g_clear_error(&e);
  GObjectRef<LibmsiRecord> src(raw);
  guint n = libmsi_record_get_field_count(raw);
  auto r = std::make_shared<Record>(n);
  for (guint i = 1; i <= n; ++i) {
    Field& f = r->fields[i];
    const std::string type = i <= v->types.size() ? v->types[i - 1] : std::string();
    if (isStreamType(type)) {
      if (libmsi_record_is_null(raw, i)) continue;
      f.kind = Field::Stream;
      f.origin.reset(static_cast<LibmsiRecord*>(g_object_ref(raw)));
      f.originField = i;
    } else if (libmsi_record_is_null(raw, i)) {
      continue;
    } else if (isIntegerType(type)) {
      int value = libmsi_record_get_int(raw, i);
      if (value == MSI_NULL_INTEGER) continue;
      f.kind = Field::Int;
      f.i = value;
    } else {
      gchar* s = libmsi_record_get_string(raw, i);
      if (s && *s) f.kind = Field::Text, f.text = utf8_to_utf16(s);
      g_free(s);
    }
  }
  if (std::any_of(r->fields.begin(), r->fields.end(), [](const Field& f) { return static_cast<bool>(f.origin); })) {
    auto& unread = v->database->unreadStreams;
    if (unread.size() >= 64 && unread.size() % 64 == 0)
      unread.erase(std::remove_if(unread.begin(), unread.end(), [](const auto& w) { return w.expired(); }),
                   unread.end());
    unread.push_back(r);
  }
  *phRecord = handles().add(std::move(r));
  return ERROR_SUCCESS;
}

UINT MsiViewClose(MSIHANDLE hView) {
  auto v = handles().get<View>(hView);
  if (!v) return ERROR_INVALID_HANDLE;
  if (v->executed) {
    GError* e = nullptr;
    libmsi_query_close(v->query.get(), &e);
    g_clear_error(&e);
    v->executed = false;
  }
  return ERROR_SUCCESS;
}

UINT MsiViewGetColumnInfo(MSIHANDLE hView, MSICOLINFO eColumnInfo, MSIHANDLE* phRecord) {
  if (!phRecord) return ERROR_INVALID_PARAMETER;
  if (eColumnInfo != MSICOLINFO_NAMES && eColumnInfo != MSICOLINFO_TYPES) return ERROR_INVALID_PARAMETER;
  auto v = handles().get<View>(hView);
  if (!v) return ERROR_INVALID_HANDLE;
  const std::vector<std::string>& src = eColumnInfo == MSICOLINFO_NAMES ? v->names : v->types;
  auto r = std::make_shared<Record>(static_cast<UINT>(src.size()));
  for (std::size_t i = 0; i < src.size(); ++i)
    if (!src[i].empty()) r->fields[i + 1].kind = Field::Text, r->fields[i + 1].text = utf8_to_utf16(src[i]);
  *phRecord = handles().add(std::move(r));
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Records

MSIHANDLE MsiCreateRecord(UINT cParams) {
  if (cParams > 65535) return 0;
  return handles().add(std::make_shared<Record>(cParams));
}

UINT MsiRecordGetFieldCount(MSIHANDLE hRecord) {
  auto r = handles().get<Record>(hRecord);
  return r ? r->count() : static_cast<UINT>(-1);
}

BOOL MsiRecordIsNull(MSIHANDLE hRecord, UINT iField) {
  auto r = handles().get<Record>(hRecord);
  if (!r || iField > r->count()) return TRUE;
  return r->fields[iField].kind == Field::Null;
}

UINT MsiRecordDataSize(MSIHANDLE hRecord, UINT iField) {
  auto r = handles().get<Record>(hRecord);
  if (!r || iField > r->count()) return 0;
  Field& f = r->fields[iField];
  switch (f.kind) {
    case Field::Int: return sizeof(int);
    case Field::Text: return static_cast<UINT>(f.text.size());
    case Field::Stream: return loadStream(f) ? static_cast<UINT>(f.bytes.size()) : 0;
    default: return 0;
  }
}

UINT MsiRecordClearData(MSIHANDLE hRecord) {
  auto r = handles().get<Record>(hRecord);
  if (!r) return ERROR_INVALID_HANDLE;
  for (Field& f : r->fields) f = Field();
  return ERROR_SUCCESS;
}

UINT MsiRecordGetStringW(MSIHANDLE hRecord, UINT iField, LPWSTR szValueBuf, DWORD* pcchValueBuf) {
  auto r = handles().get<Record>(hRecord);
  if (!r) return ERROR_INVALID_HANDLE;
  if (iField > r->count()) return copyOut(std::u16string(), szValueBuf, pcchValueBuf);
  const Field& f = r->fields[iField];
  if (f.kind == Field::Stream) return ERROR_INVALID_DATATYPE;
  return copyOut(fieldText(f), szValueBuf, pcchValueBuf);
}

UINT MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue) {
  auto r = handles().get<Record>(hRecord);
  if (!r) return ERROR_INVALID_HANDLE;
  if (iField > r->count()) return ERROR_INVALID_PARAMETER;
  Field f;
  if (szValue && *szValue) f.kind = Field::Text, f.text = szValue;
  r->fields[iField] = std::move(f);
  return ERROR_SUCCESS;
}

int MsiRecordGetInteger(MSIHANDLE hRecord, UINT iField) {
  auto r = handles().get<Record>(hRecord);
  if (!r || iField > r->count()) return MSI_NULL_INTEGER;
  const Field& f = r->fields[iField];
  if (f.kind == Field::Int) return f.i;
  int v;
  if (f.kind == Field::Text && parseInt(f.text, v)) return v;
  return MSI_NULL_INTEGER;
}

UINT MsiRecordSetInteger(MSIHANDLE hRecord, UINT iField, int iValue) {
  auto r = handles().get<Record>(hRecord);
  if (!r) return ERROR_INVALID_HANDLE;
  if (iField > r->count()) return ERROR_INVALID_PARAMETER;
  Field f;
  if (iValue != MSI_NULL_INTEGER) f.kind = Field::Int, f.i = iValue;
  r->fields[iField] = std::move(f);
  return ERROR_SUCCESS;
}

UINT MsiRecordReadStream(MSIHANDLE hRecord, UINT iField, char* szDataBuf, DWORD* pcbDataBuf) {
  if (!pcbDataBuf) return ERROR_INVALID_PARAMETER;
  auto r = handles().get<Record>(hRecord);
  if (!r) return ERROR_INVALID_HANDLE;
  if (iField > r->count()) return ERROR_INVALID_PARAMETER;
  Field& f = r->fields[iField];
  if (f.kind == Field::Null) {
    *pcbDataBuf = 0;
    return ERROR_SUCCESS;
  }
  if (f.kind != Field::Stream) return ERROR_INVALID_DATATYPE;
  if (!loadStream(f)) return fail(ERROR_FUNCTION_FAILED, "stream read");
  std::size_t left = f.bytes.size() - f.readPos;
  if (!szDataBuf) {
    *pcbDataBuf = static_cast<DWORD>(left);
    return ERROR_SUCCESS;
  }
  std::size_t n = std::min<std::size_t>(left, *pcbDataBuf);
  std::memcpy(szDataBuf, f.bytes.data() + f.readPos, n);
  f.readPos += n;
  *pcbDataBuf = static_cast<DWORD>(n);
  return ERROR_SUCCESS;
}

UINT MsiRecordSetStreamW(MSIHANDLE hRecord, UINT iField, LPCWSTR szFilePath) {
  auto r = handles().get<Record>(hRecord);
  if (!r) return ERROR_INVALID_HANDLE;
  if (iField == 0 || iField > r->count()) return ERROR_INVALID_PARAMETER;
  Field& f = r->fields[iField];
  if (!szFilePath) {
    // A null path rewinds the stream already there.
    if (f.kind != Field::Stream) return ERROR_INVALID_PARAMETER;
    f.readPos = 0;
    return ERROR_SUCCESS;
  }
  std::string path = unixPath(szFilePath);
  gchar* content = nullptr;
  gsize length = 0;
  if (path.empty() || !g_file_get_contents(path.c_str(), &content, &length, nullptr))
    return fail(ERROR_FILE_NOT_FOUND, "no stream file " + utf16_to_utf8(szFilePath));
  Field s;
  s.kind = Field::Stream;
  s.bytes.assign(content, length);
  g_free(content);
  f = std::move(s);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Summary information

UINT MsiGetSummaryInformationW(MSIHANDLE hDatabase, LPCWSTR szDatabasePath, UINT uiUpdateCount,
                               MSIHANDLE* phSummaryInfo) {
  if (!phSummaryInfo) return ERROR_INVALID_PARAMETER;
  auto s = std::make_shared<Summary>();
  if (hDatabase) {
    s->database = database(hDatabase);
    if (!s->database) return ERROR_INVALID_HANDLE;
  } else {
    if (!szDatabasePath) return ERROR_INVALID_PARAMETER;
    MSIHANDLE h = 0;
    UINT rc = MsiOpenDatabaseW(szDatabasePath, uiUpdateCount ? MSIDBOPEN_TRANSACT : MSIDBOPEN_READONLY, &h);
    if (rc != ERROR_SUCCESS) return rc;
    s->database = database(h);
    MsiCloseHandle(h);
    s->ownDatabase = true;
  }
  GError* e = nullptr;
  s->si.reset(libmsi_summary_info_new(s->database->db.get(), uiUpdateCount, &e));
  if (!s->si) return failFrom(e, ERROR_INSTALL_PACKAGE_INVALID, "summary information");
  g_clear_error(&e);
  s->updateCount = uiUpdateCount;
  *phSummaryInfo = handles().add(std::move(s));
  return ERROR_SUCCESS;
}

UINT MsiSummaryInfoGetPropertyCount(MSIHANDLE hSummaryInfo, UINT* puiPropertyCount) {
  if (!puiPropertyCount) return ERROR_INVALID_PARAMETER;
  auto s = handles().get<Summary>(hSummaryInfo);
  if (!s) return ERROR_INVALID_HANDLE;
  GArray* props = libmsi_summary_info_get_properties(s->si.get());
  *puiPropertyCount = props ? props->len : 0;
  if (props) g_array_unref(props);
  return ERROR_SUCCESS;
}

UINT MsiSummaryInfoGetPropertyW(MSIHANDLE hSummaryInfo, UINT uiProperty, UINT* puiDataType, INT* piValue,
                                FILETIME* pftValue, LPWSTR szValueBuf, DWORD* pcchValueBuf) {
  auto s = handles().get<Summary>(hSummaryInfo);
  if (!s) return ERROR_INVALID_HANDLE;
  if (uiProperty > PID_SECURITY) return ERROR_UNKNOWN_PROPERTY;
  GError* e = nullptr;
  auto prop = static_cast<LibmsiProperty>(uiProperty);
  LibmsiPropertyType type = libmsi_summary_info_get_property_type(s->si.get(), prop, &e);
  if (e) return failFrom(e, ERROR_UNKNOWN_PROPERTY, "summary property");
  switch (type) {
    case LIBMSI_PROPERTY_TYPE_INT: {
      if (puiDataType) *puiDataType = uiProperty == PID_CODEPAGE ? VT_I2 : VT_I4;
      gint v = libmsi_summary_info_get_int(s->si.get(), prop, &e);
      if (e) return failFrom(e, ERROR_FUNCTION_FAILED, "summary property");
      if (piValue) *piValue = v;
      return ERROR_SUCCESS;
    }
    case LIBMSI_PROPERTY_TYPE_FILETIME: {
      if (puiDataType) *puiDataType = VT_FILETIME;
      guint64 t = libmsi_summary_info_get_filetime(s->si.get(), prop, &e);
      if (e) return failFrom(e, ERROR_FUNCTION_FAILED, "summary property");
      if (pftValue) {
        pftValue->dwLowDateTime = static_cast<DWORD>(t);
        pftValue->dwHighDateTime = static_cast<DWORD>(t >> 32);
      }
      return ERROR_SUCCESS;
    }
    case LIBMSI_PROPERTY_TYPE_STRING: {
      if (puiDataType) *puiDataType = VT_LPSTR;
      const gchar* v = libmsi_summary_info_get_string(s->si.get(), prop, &e);
      if (e) return failFrom(e, ERROR_FUNCTION_FAILED, "summary property");
      return copyOut(utf8_to_utf16(v ? v : ""), szValueBuf, pcchValueBuf);
    }
    default:
      if (puiDataType) *puiDataType = VT_EMPTY;
      return copyOut(std::u16string(), szValueBuf, pcchValueBuf);
  }
}

UINT MsiSummaryInfoSetPropertyW(MSIHANDLE hSummaryInfo, UINT uiProperty, UINT uiDataType, INT iValue,
                                FILETIME* pftValue, LPCWSTR szValue) {
  auto s = handles().get<Summary>(hSummaryInfo);
  if (!s) return ERROR_INVALID_HANDLE;
  if (uiProperty > PID_SECURITY || uiProperty == PID_DICTIONARY || uiProperty == PID_THUMBNAIL)
    return ERROR_UNKNOWN_PROPERTY;
  if (s->updateCount == 0) return fail(ERROR_FUNCTION_FAILED, "summary information opened without updates");
  GError* e = nullptr;
  auto prop = static_cast<LibmsiProperty>(uiProperty);
  bool ok = false;
  switch (uiDataType) {
    case VT_I2:
    case VT_I4: ok = libmsi_summary_info_set_int(s->si.get(), prop, iValue, &e); break;
    case VT_LPSTR: {
      if (!szValue) return ERROR_INVALID_PARAMETER;
      // The summary keeps its texts in its own code page.
      GError* ce = nullptr;
      gint cp = libmsi_summary_info_get_int(s->si.get(), LIBMSI_PROPERTY_CODEPAGE, &ce);
      if (ce) cp = 0;
      g_clear_error(&ce);
      std::string text = utf16_to_utf8(szValue);
      if (!fitsCodePage(text, static_cast<std::uint32_t>(cp)))
        return fail(ERROR_NO_UNICODE_TRANSLATION, "the value \"" + text +
                                                      "\" has characters outside the summary's code page " +
                                                      codePageName(static_cast<std::uint32_t>(cp)));
      ok = libmsi_summary_info_set_string(s->si.get(), prop, text.c_str(), &e);
      break;
    }
    case VT_FILETIME:
      if (!pftValue) return ERROR_INVALID_PARAMETER;
      ok = libmsi_summary_info_set_filetime(
          s->si.get(), prop, (static_cast<guint64>(pftValue->dwHighDateTime) << 32) | pftValue->dwLowDateTime, &e);
      break;
    default: return ERROR_DATATYPE_MISMATCH;
  }
  if (!ok) return failFrom(e, ERROR_DATATYPE_MISMATCH, "set summary property");
  return ERROR_SUCCESS;
}

UINT MsiSummaryInfoPersist(MSIHANDLE hSummaryInfo) {
  auto s = handles().get<Summary>(hSummaryInfo);
  if (!s) return ERROR_INVALID_HANDLE;
  if (s->database->readOnly) return fail(ERROR_FUNCTION_FAILED, "the database is open read-only");
  GError* e = nullptr;
  if (!libmsi_summary_info_persist(s->si.get(), &e)) return failFrom(e, ERROR_FUNCTION_FAILED, "persist");
  if (s->ownDatabase) return commitDatabase(*s->database);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Handles and errors

UINT MsiCloseHandle(MSIHANDLE hAny) {
  if (hAny == 0) return ERROR_SUCCESS;
  return handles().remove(hAny) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

UINT MsiCloseAllHandles() { return handles().clear(); }

MSIHANDLE MsiGetLastErrorRecord() {
  if (!tLastError.set) return 0;
  auto r = std::make_shared<Record>(2);
  r->fields[1].kind = Field::Int;
  r->fields[1].i = static_cast<int>(tLastError.code);
  if (!tLastError.message.empty()) r->fields[2].kind = Field::Text, r->fields[2].text = tLastError.message;
  tLastError = LastError();
  return handles().add(std::move(r));
}

UINT MsiFormatRecordW(MSIHANDLE hInstall, MSIHANDLE hRecord, LPWSTR szResultBuf, DWORD* pcchResultBuf) {
  if (hInstall != 0) return ERROR_INVALID_HANDLE;
  auto r = handles().get<Record>(hRecord);
  if (!r) return ERROR_INVALID_HANDLE;
  std::u16string out;
  const Field& format = r->fields[0];
  if (format.kind == Field::Null) {
    for (UINT i = 1; i <= r->count(); ++i) {
      if (i > 1) out += u' ';
      out += utf8_to_utf16(std::to_string(i)) + u": " + fieldText(r->fields[i]);
    }
  } else {
    const std::u16string f = fieldText(format);
    for (std::size_t i = 0; i < f.size(); ++i) {
      if (f[i] == u'[') {
        std::size_t close = f.find(u']', i + 1);
        int n;
        if (close != std::u16string::npos && parseInt(f.substr(i + 1, close - i - 1), n) && n >= 0) {
          if (static_cast<UINT>(n) <= r->count() && n > 0) out += fieldText(r->fields[n]);
          i = close;
          continue;
        }
      }
      out += f[i];
    }
  }
  return copyOut(out, szResultBuf, pcchResultBuf);
}

UINT MsiGetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPWSTR szValueBuf, DWORD* pcchValueBuf) {
  if (!szName) return ERROR_INVALID_PARAMETER;
  auto d = database(hInstall);
  if (!d) return ERROR_INVALID_HANDLE;
  std::u16string value;
  GError* e = nullptr;
  GObjectRef<LibmsiQuery> q(libmsi_query_new(d->db.get(), "SELECT `Value` FROM `Property` WHERE `Property` = ?", &e));
  g_clear_error(&e);
  if (q) {
    GObjectRef<LibmsiRecord> p(libmsi_record_new(1));
    libmsi_record_set_string(p.get(), 1, utf16_to_utf8(szName).c_str());
    if (libmsi_query_execute(q.get(), p.get(), &e)) {
      GObjectRef<LibmsiRecord> row(libmsi_query_fetch(q.get(), &e));
      if (row) {
        gchar* s = libmsi_record_get_string(row.get(), 1);
        if (s) value = utf8_to_utf16(s);
        g_free(s);
      }
      libmsi_query_close(q.get(), nullptr);
    }
    g_clear_error(&e);
  }
  return copyOut(value, szValueBuf, pcchValueBuf);
}

