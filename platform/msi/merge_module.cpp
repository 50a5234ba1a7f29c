#include "platform/msi/merge_module.h"

#include <libgcab.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/msi/cabinet_check.h"
#include "platform/msi/msi.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/paths.h"

// {6A0F2C1E-5B7D-4C43-9E21-8D3B6F0A4C57}: this layer's own class id.
const CLSID CLSID_MsmMerge2 = {0x6A0F2C1E, 0x5B7D, 0x4C43, {0x9E, 0x21, 0x8D, 0x3B, 0x6F, 0x0A, 0x4C, 0x57}};

namespace {

using win32::utf16_to_utf8;
using win32::utf8_to_utf16;

// ---------------------------------------------------------------------------
// Database access through the layer's calls

struct Handle {
  MSIHANDLE h = 0;
  Handle() = default;
  explicit Handle(MSIHANDLE v) : h(v) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& o) noexcept : h(o.h) { o.h = 0; }
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      reset();
      h = o.h;
      o.h = 0;
    }
    return *this;
  }
  ~Handle() { reset(); }
  void reset() {
    if (h) MsiCloseHandle(h);
    h = 0;
  }
};

std::u16string fieldText(MSIHANDLE rec, UINT i) {
  WCHAR small[256];
  DWORD n = 256;
  UINT rc = MsiRecordGetStringW(rec, i, small, &n);
  if (rc == ERROR_SUCCESS) return std::u16string(small, n);
  if (rc != ERROR_MORE_DATA) return {};
  std::u16string big(n + 1, u'\0');
  DWORD room = n + 1;
  if (MsiRecordGetStringW(rec, i, big.data(), &room) != ERROR_SUCCESS) return {};
  big.resize(room);
  return big;
}

struct Value {
  enum Kind { Null, Int, Text, Stream } kind = Null;
  int i = 0;
  std::u16string text;
  std::string bytes;
  bool operator==(const Value& o) const {
    return kind == o.kind && i == o.i && text == o.text && bytes == o.bytes;
  }
  std::u16string shown() const {
    switch (kind) {
      case Int: return utf8_to_utf16(std::to_string(i));
      case Text: return text;
      default: return {};
    }
  }
};
using Row = std::vector<Value>;

enum class Kind { Text, Int, Stream };

struct Column {
  std::u16string name;
  std::string type;  // as the database reports it: "s72", "I2", "v0", "l0" ...
  bool key = false;
  Kind kind() const {
    const char c = type.empty() ? 's' : static_cast<char>(std::tolower(static_cast<unsigned char>(type[0])));
    if (c == 'i' || c == 'j') return Kind::Int;
    if (c == 'v') return Kind::Stream;
    return Kind::Text;
  }
};

struct Table {
  std::u16string name;
  std::vector<Column> columns;
  std::vector<Row> rows;
  int column(const std::u16string& n) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (columns[i].name == n) return static_cast<int>(i);
    return -1;
  }
};

std::u16string quoted(const std::u16string& name) { return u"`" + name + u"`"; }

// A failure of the layer's call, kept for the exception record.
struct Failure {
  UINT code = ERROR_SUCCESS;
  std::u16string what;
};

class Db {
 public:
  MSIHANDLE h = 0;

  // Runs a statement; rows of a SELECT go to `rows` when given.
  UINT run(const std::u16string& sql, MSIHANDLE params = 0, std::vector<Handle>* rows = nullptr) const {
    Handle view;
    UINT rc = MsiDatabaseOpenViewW(h, sql.c_str(), &view.h);
    if (rc) return rc;
    rc = MsiViewExecute(view.h, params);
    if (rc) return rc;
    if (rows) {
      for (;;) {
        Handle rec;
        rc = MsiViewFetch(view.h, &rec.h);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc) return rc;
        rows->emplace_back(rec.h);
        rec.h = 0;
      }
    }
    MsiViewClose(view.h);
    return ERROR_SUCCESS;
  }

  bool hasTable(const std::u16string& name) const {
    Handle rec(MsiCreateRecord(1));
    MsiRecordSetStringW(rec.h, 1, name.c_str());
    std::vector<Handle> rows;
    return run(u"SELECT `Name` FROM `_Tables` WHERE `Name` = ?", rec.h, &rows) == ERROR_SUCCESS && !rows.empty();
  }

  std::vector<std::u16string> tableNames() const {
    std::vector<std::u16string> out;
    std::vector<Handle> rows;
    if (run(u"SELECT `Name` FROM `_Tables`", 0, &rows)) return out;
    for (auto& r : rows) out.push_back(fieldText(r.h, 1));
    return out;
  }

  // The shape of a table and, with `withRows`, all of its rows.
  UINT read(const std::u16string& name, Table& t, bool withRows = true) const {
    t = Table{};
    t.name = name;
    Handle view, names, types, keys;
    UINT rc = MsiDatabaseOpenViewW(h, (u"SELECT * FROM " + quoted(name)).c_str(), &view.h);
    if (rc) return rc;
    if ((rc = MsiViewGetColumnInfo(view.h, MSICOLINFO_NAMES, &names.h))) return rc;
    if ((rc = MsiViewGetColumnInfo(view.h, MSICOLINFO_TYPES, &types.h))) return rc;
    if ((rc = MsiDatabaseGetPrimaryKeysW(h, name.c_str(), &keys.h))) return rc;
    const UINT n = MsiRecordGetFieldCount(names.h);
    const UINT k = MsiRecordGetFieldCount(keys.h);
    for (UINT i = 1; i <= n; ++i) {
      Column c{fieldText(names.h, i), utf16_to_utf8(fieldText(types.h, i)), false};
      for (UINT j = 1; j <= k; ++j)
        if (fieldText(keys.h, j) == c.name) c.key = true;
      t.columns.push_back(std::move(c));
    }
    if (!withRows) return ERROR_SUCCESS;
    if ((rc = MsiViewExecute(view.h, 0))) return rc;
    for (;;) {
      Handle rec;
      rc = MsiViewFetch(view.h, &rec.h);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc) return rc;
      Row row;
      for (UINT i = 1; i <= n; ++i) row.push_back(value(rec.h, i, t.columns[i - 1].kind()));
      t.rows.push_back(std::move(row));
    }
    MsiViewClose(view.h);
    return ERROR_SUCCESS;
  }

  static Value value(MSIHANDLE rec, UINT i, Kind kind) {
    Value v;
    if (MsiRecordIsNull(rec, i)) return v;
    switch (kind) {
      case Kind::Int:
        v.i = MsiRecordGetInteger(rec, i);
        if (v.i != MSI_NULL_INTEGER) v.kind = Value::Int;
        break;
      case Kind::Text:
        v.text = fieldText(rec, i);
        if (!v.text.empty()) v.kind = Value::Text;
        break;
      case Kind::Stream: {
        DWORD size = 0;
        if (MsiRecordReadStream(rec, i, nullptr, &size) != ERROR_SUCCESS) break;
        v.bytes.resize(size);
        DWORD got = size;
        if (size && (MsiRecordReadStream(rec, i, v.bytes.data(), &got) != ERROR_SUCCESS || got != size)) {
          v.bytes.clear();
          break;
        }
        v.kind = Value::Stream;
        break;
      }
    }
    return v;
  }
};

// A text of the column type's CREATE TABLE form.
std::u16string columnDefinition(const Column& c) {
  const std::string& t = c.type;
  const char letter = t.empty() ? 's' : t[0];
  const bool nullable = std::isupper(static_cast<unsigned char>(letter)) != 0;
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  const int size = t.size() > 1 ? std::atoi(t.c_str() + 1) : 0;
  std::u16string d = quoted(c.name) + u" ";
  switch (c.kind()) {
    case Kind::Int: d += size == 2 ? u"SHORT" : u"LONG"; break;
    case Kind::Stream: d += u"OBJECT"; break;
    case Kind::Text: d += size > 0 ? u"CHAR(" + utf8_to_utf16(std::to_string(size)) + u")" : u"LONGCHAR"; break;
  }
  if (!nullable) d += u" NOT NULL";
  if (lower == 'l') d += u" LOCALIZABLE";
  return d;
}

std::u16string createStatement(const Table& t) {
  std::u16string sql = u"CREATE TABLE " + quoted(t.name) + u" (";
  std::u16string keys;
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (i) sql += u", ";
    sql += columnDefinition(t.columns[i]);
    if (t.columns[i].key) keys += (keys.empty() ? u"" : u", ") + quoted(t.columns[i].name);
  }
  return sql + u" PRIMARY KEY " + keys + u")";
}

// Whether the module's rows fit the package's table: the same columns, or the
// package's with more nullable columns after them (a later schema).
bool fits(const Table& module, const Table& package) {
  if (module.columns.size() > package.columns.size()) return false;
  for (std::size_t i = 0; i < module.columns.size(); ++i)
    if (module.columns[i].name != package.columns[i].name || module.columns[i].kind() != package.columns[i].kind() ||
        module.columns[i].key != package.columns[i].key)
      return false;
  for (std::size_t i = module.columns.size(); i < package.columns.size(); ++i) {
    const std::string& t = package.columns[i].type;
    if (package.columns[i].key || t.empty() || !std::isupper(static_cast<unsigned char>(t[0]))) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Errors as the object reports them

struct MergeErrorRecord {
  int type = 0;
  std::u16string databaseTable;
  std::vector<std::u16string> databaseKeys;
  std::u16string moduleTable;
  std::vector<std::u16string> moduleKeys;
  SHORT language = 0;
  std::u16string path;
};

// ---------------------------------------------------------------------------
// Late binding

BSTR bstr(const std::u16string& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

bool textArgument(const VARIANT& v, std::u16string& out) {
  if (v.vt == VT_BSTR) {
    out.assign(v.bstrVal ? v.bstrVal : u"", v.bstrVal ? SysStringLen(v.bstrVal) : 0);
    return true;
  }
  return false;
}

bool integerArgument(const VARIANT& v, LONG& out) {
  if (v.vt == VT_BSTR || v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) return false;
  VARIANT c;
  VariantInit(&c);
  if (FAILED(VariantChangeType(&c, &v, 0, VT_I4))) return false;
  out = c.lVal;
  return true;
}

struct Member {
  const char16_t* name;
  DISPID id;
};

// IUnknown and the name look-up of every object here; `call` does the rest.
class DispatchBase : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    // Only the member's name is looked up; names of arguments are not known.
    for (const Member* m = members(); m->name; ++m)
      if (names[0] && win32::equal_ignore_case(m->name, names[0])) ids[0] = m->id;
    if (ids[0] == DISPID_UNKNOWN || count > 1) hr = DISP_E_UNKNOWNNAME;
    return hr;
  }
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argument_error) override {
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (params && params->cNamedArgs) return DISP_E_NONAMEDARGS;
    std::vector<const VARIANT*> args;
    if (params && params->cArgs) {
      if (!params->rgvarg) return E_INVALIDARG;
      for (UINT i = params->cArgs; i-- > 0;) args.push_back(&params->rgvarg[i]);
    }
    VARIANT out;
    VariantInit(&out);
    UINT bad = 0;
    std::u16string failure;
    HRESULT hr = call(member, args, out, bad, failure);
    if (hr == DISP_E_TYPEMISMATCH && argument_error) *argument_error = static_cast<UINT>(args.size()) - 1 - bad;
    if (hr == DISP_E_EXCEPTION && exception) {
      *exception = EXCEPINFO{};
      exception->bstrSource = bstr(u"Msm.Merge2.1");
      exception->bstrDescription = bstr(failure);
      exception->scode = E_FAIL;
    }
    if (SUCCEEDED(hr) && result) {
      VariantClear(result);
      *result = out;
    } else {
      VariantClear(&out);
    }
    return hr;
  }

 protected:
  virtual ~DispatchBase() = default;
  virtual const Member* members() const = 0;
  // `args` in call order. `bad` is the index of a mistyped argument; `failure`
  // the text of a DISP_E_EXCEPTION.
  virtual HRESULT call(DISPID member, const std::vector<const VARIANT*>& args, VARIANT& out, UINT& bad,
                       std::u16string& failure) = 0;

  static HRESULT give(IDispatch* object, VARIANT& out) {
    out.vt = VT_DISPATCH;
    out.pdispVal = object;  // the new object's one reference goes to the caller
    return S_OK;
  }
  static HRESULT giveText(const std::u16string& s, VARIANT& out) {
    out.bstrVal = bstr(s);
    if (!out.bstrVal) return E_OUTOFMEMORY;
    out.vt = VT_BSTR;
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

enum : DISPID {
  kCount = 1,
  kItem = 0,  // the default member of a collection
  kDatabaseTable = 10,
  kDatabaseKeys,
  kModuleTable,
  kModuleKeys,
  kLanguage,
  kType,
  kPath,
  kOpenDatabase = 20,
  kCloseDatabase,
  kOpenModule,
  kCloseModule,
  kMerge,
  kConnect,
  kErrors,
};

// A late-bound collection: Count, and Item(index) with indexes counted from
// `first`; an index outside gives DISP_E_BADINDEX.
class DispatchList : public DispatchBase {
 protected:
  explicit DispatchList(LONG first) : first_(first) {}
  virtual std::size_t count() const = 0;
  virtual HRESULT giveItem(std::size_t i, VARIANT& out) = 0;

  const Member* members() const override {
    static const Member m[] = {{u"Count", kCount}, {u"Item", kItem}, {nullptr, 0}};
    return m;
  }
  HRESULT call(DISPID id, const std::vector<const VARIANT*>& args, VARIANT& out, UINT& bad,
               std::u16string&) override {
    if (id == kCount) {
      if (!args.empty()) return DISP_E_BADPARAMCOUNT;
      out.vt = VT_I4;
      out.lVal = static_cast<LONG>(count());
      return S_OK;
    }
    if (id != kItem) return DISP_E_MEMBERNOTFOUND;
    if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
    LONG index = 0;
    if (!integerArgument(*args[0], index)) return bad = 0, DISP_E_TYPEMISMATCH;
    if (index < first_ || static_cast<std::size_t>(index - first_) >= count()) return DISP_E_BADINDEX;
    return giveItem(static_cast<std::size_t>(index - first_), out);
  }

 private:
  LONG first_;
};

// Keys count from 0.
class StringList final : public DispatchList {
 public:
  explicit StringList(std::vector<std::u16string> items) : DispatchList(0), items_(std::move(items)) {}

 protected:
  std::size_t count() const override { return items_.size(); }
  HRESULT giveItem(std::size_t i, VARIANT& out) override { return giveText(items_[i], out); }

 private:
  std::vector<std::u16string> items_;
};

class ErrorObject final : public DispatchBase {
 public:
  explicit ErrorObject(MergeErrorRecord r) : r_(std::move(r)) {}

 protected:
  const Member* members() const override {
    static const Member m[] = {{u"DatabaseTable", kDatabaseTable}, {u"DatabaseKeys", kDatabaseKeys},
                               {u"ModuleTable", kModuleTable},     {u"ModuleKeys", kModuleKeys},
                               {u"Language", kLanguage},           {u"Type", kType},
                               {u"Path", kPath},                   {nullptr, 0}};
    return m;
  }
  HRESULT call(DISPID id, const std::vector<const VARIANT*>& args, VARIANT& out, UINT&, std::u16string&) override {
    if (!args.empty()) return DISP_E_BADPARAMCOUNT;
    switch (id) {
      case kDatabaseTable: return giveText(r_.databaseTable, out);
      case kModuleTable: return giveText(r_.moduleTable, out);
      case kPath: return giveText(r_.path, out);
      case kDatabaseKeys: return give(new StringList(r_.databaseKeys), out);
      case kModuleKeys: return give(new StringList(r_.moduleKeys), out);
      case kLanguage:
        out.vt = VT_I2;
        out.iVal = r_.language;
        return S_OK;
      case kType:
        out.vt = VT_I4;
        out.lVal = r_.type;
        return S_OK;
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  MergeErrorRecord r_;
};

// Errors count from 1.
class ErrorList final : public DispatchList {
 public:
  explicit ErrorList(std::vector<MergeErrorRecord> errors) : DispatchList(1), errors_(std::move(errors)) {}

 protected:
  std::size_t count() const override { return errors_.size(); }
  HRESULT giveItem(std::size_t i, VARIANT& out) override { return give(new ErrorObject(errors_[i]), out); }

 private:
  std::vector<MergeErrorRecord> errors_;
};

// ---------------------------------------------------------------------------
// The merge

const char16_t* const kSequenceTables[] = {u"InstallExecuteSequence", u"InstallUISequence",
                                           u"AdminExecuteSequence",   u"AdminUISequence",
                                           u"AdvtExecuteSequence",    u"AdvtUISequence"};

// Tables of a module that describe it rather than being merged.
bool moduleOnlyTable(const std::u16string& name) {
  static const char16_t* const names[] = {u"ModuleSignature",   u"ModuleComponents",    u"ModuleDependency",
                                          u"ModuleExclusion",   u"ModuleIgnoreTable",   u"ModuleConfiguration",
                                          u"ModuleSubstitution", u"_Validation"};
  for (const char16_t* n : names)
    if (name == n) return true;
  for (const char16_t* s : kSequenceTables)
    if (name == std::u16string(u"Module") + s) return true;
  return false;
}

const char16_t kCabinetStream[] = u"MergeModule.CABinet";

// A private folder for the cabinet's files, removed with the object.
class WorkFolder {
 public:
  ~WorkFolder() {
    if (!unix_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(unix_, ec);
    }
  }
  bool make() {
    if (!unix_.empty()) return true;
    WCHAR temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return false;
    std::string base = win32::to_unix_path(temp);
    if (base.empty()) return false;
    std::string pattern = base + "/msm-XXXXXX";
    if (!::mkdtemp(pattern.data())) return false;
    unix_ = pattern;
    return true;
  }
  const std::string& path() const { return unix_; }

 private:
  std::string unix_;
};

struct CabinetFile {
  std::string unixPath;
  std::u16string key;
  int sequence = 0;
};

template <typename T>
struct GUnref {
  void operator()(T* p) const {
    if (p) g_object_unref(p);
  }
};
template <typename T>
using GRef = std::unique_ptr<T, GUnref<T>>;

// Unpacks the module's cabinet: each member that names a wanted file key goes
// to a file of a generated name, so no member name reaches the file system.
struct Unpack {
  const std::set<std::u16string>* wanted;
  std::map<std::u16string, std::string>* found;
  std::string folder;
  int next = 0;
  static gboolean pick(GCabFile* file, gpointer data) {
    auto* self = static_cast<Unpack*>(data);
    const char* name = gcab_file_get_name(file);
    if (!name) return FALSE;
    std::u16string key = utf8_to_utf16(name);
    if (!self->wanted->count(key) || self->found->count(key)) return FALSE;
    std::string local = "f" + std::to_string(self->next++);
    gcab_file_set_extract_name(file, local.c_str());
    (*self->found)[key] = self->folder + "/" + local;
    return TRUE;
  }
};

class Merger final : public DispatchBase {
 public:
  ~Merger() override {
    if (module_.h) MsiCloseHandle(module_.h);
    if (db_.h) MsiCloseHandle(db_.h);
  }

 protected:
  const Member* members() const override {
    static const Member m[] = {{u"OpenDatabase", kOpenDatabase}, {u"CloseDatabase", kCloseDatabase},
                               {u"OpenModule", kOpenModule},     {u"CloseModule", kCloseModule},
                               {u"Merge", kMerge},               {u"Connect", kConnect},
                               {u"Errors", kErrors},             {nullptr, 0}};
    return m;
  }

  HRESULT call(DISPID id, const std::vector<const VARIANT*>& args, VARIANT& out, UINT& bad,
               std::u16string& failure) override {
    auto count = [&](std::size_t low, std::size_t high) { return args.size() >= low && args.size() <= high; };
    std::u16string a, b;
    bool ok = false;
    switch (id) {
      case kErrors:
        if (!args.empty()) return DISP_E_BADPARAMCOUNT;
        return give(new ErrorList(errors_), out);
      case kOpenDatabase:
        if (!count(1, 1)) return DISP_E_BADPARAMCOUNT;
        if (!textArgument(*args[0], a)) return bad = 0, DISP_E_TYPEMISMATCH;
        ok = openDatabase(a);
        break;
      case kOpenModule: {
        if (!count(2, 2)) return DISP_E_BADPARAMCOUNT;
        LONG language = 0;
        if (!textArgument(*args[0], a)) return bad = 0, DISP_E_TYPEMISMATCH;
        if (!integerArgument(*args[1], language)) return bad = 1, DISP_E_TYPEMISMATCH;
        ok = openModule(a, static_cast<SHORT>(language));
        break;
      }
      case kMerge:
        if (!count(2, 2)) return DISP_E_BADPARAMCOUNT;
        if (!textArgument(*args[0], a)) return bad = 0, DISP_E_TYPEMISMATCH;
        if (!textArgument(*args[1], b)) return bad = 1, DISP_E_TYPEMISMATCH;
        ok = merge(a, b);
        break;
      case kConnect:
        if (!count(1, 1)) return DISP_E_BADPARAMCOUNT;
        if (!textArgument(*args[0], a)) return bad = 0, DISP_E_TYPEMISMATCH;
        ok = connect(a);
        break;
      case kCloseModule:
        if (!args.empty()) return DISP_E_BADPARAMCOUNT;
        ok = closeModule();
        break;
      case kCloseDatabase: {
        if (!count(1, 1)) return DISP_E_BADPARAMCOUNT;
        LONG commit = 0;
        if (!integerArgument(*args[0], commit)) return bad = 0, DISP_E_TYPEMISMATCH;
        ok = closeDatabase(commit != 0);
        break;
      }
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (ok) return S_OK;
    failure = failure_;
    return DISP_E_EXCEPTION;
  }

 private:
  Db db_, module_;
  SHORT moduleLanguage_ = 0;
  bool damaged_ = false;  // a write failed half-way: the package is not committed
  std::vector<MergeErrorRecord> errors_;
  std::u16string failure_;
  std::vector<std::u16string> components_;  // the module's, once merged or read

  bool fail(const std::u16string& why) {
    failure_ = why;
    return false;
  }
  bool failCall(const std::u16string& what, UINT rc) {
    return fail(what + u" failed with " + utf8_to_utf16(std::to_string(rc)));
  }
  void error(int type, const std::u16string& dbTable, std::vector<std::u16string> dbKeys,
             const std::u16string& modTable, std::vector<std::u16string> modKeys, const std::u16string& path = {}) {
    errors_.push_back({type, dbTable, std::move(dbKeys), modTable, std::move(modKeys), moduleLanguage_, path});
  }
  void begin() {
    errors_.clear();
    failure_.clear();
  }

  bool openDatabase(const std::u16string& path) {
    begin();
    if (db_.h) return fail(u"a database is open already");
    if (UINT rc = MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_TRANSACT, &db_.h)) {
      db_.h = 0;
      return failCall(u"opening the database " + path, rc);
    }
    damaged_ = false;
    return true;
  }

  bool closeDatabase(bool commit) {
    begin();
    if (!db_.h) return fail(u"no database is open");
    bool ok = true;
    if (commit && damaged_) ok = fail(u"the merge failed half-way; the database is left as it was");
    else if (commit)
      if (UINT rc = MsiDatabaseCommit(db_.h)) ok = failCall(u"committing the database", rc);
    MsiCloseHandle(db_.h);
    db_.h = 0;
    return ok;
  }

  bool openModule(const std::u16string& path, SHORT language) {
    begin();
    if (module_.h) return fail(u"a module is open already");
    if (UINT rc = MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &module_.h)) {
      module_.h = 0;
      return failCall(u"opening the module " + path, rc);
    }
    moduleLanguage_ = language;
    components_.clear();
    if (module_.hasTable(u"ModuleSignature")) {
      Table sig;
      if (UINT rc = module_.read(u"ModuleSignature", sig)) return closeModuleAfter(failCall(u"reading the module", rc));
      const int col = sig.column(u"Language");
      if (col >= 0 && !sig.rows.empty()) {
        const Value& v = sig.rows[0][static_cast<std::size_t>(col)];
        int own = v.kind == Value::Int ? v.i : 0;
        if (v.kind == Value::Text) own = std::atoi(utf16_to_utf8(v.text).c_str());
        if (language != 0 && own != 0 && own != language) {
          moduleLanguage_ = static_cast<SHORT>(own);
          error(msmErrorLanguageUnsupported, {}, {}, u"ModuleSignature", {}, {});
          return closeModuleAfter(fail(u"the module's language is not the one asked for"));
        }
        if (own) moduleLanguage_ = static_cast<SHORT>(own);
      }
    }
    return true;
  }
  bool closeModuleAfter(bool result) {
    MsiCloseHandle(module_.h);
    module_.h = 0;
    return result;
  }

  bool closeModule() {
    begin();
    if (!module_.h) return fail(u"no module is open");
    return closeModuleAfter(true);
  }

  // The module's components: ModuleComponents, else its Component table.
  bool moduleComponents(std::vector<std::u16string>& out) {
    out.clear();
    for (const char16_t* table : {u"ModuleComponents", u"Component"}) {
      if (!module_.hasTable(table)) continue;
      Table t;
      if (UINT rc = module_.read(table, t)) return failCall(u"reading the module's components", rc);
      const int col = t.column(u"Component");
      if (col < 0) continue;
      for (const Row& r : t.rows) {
        const std::u16string& c = r[static_cast<std::size_t>(col)].text;
        if (!c.empty() && std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
      }
      return true;
    }
    return true;
  }

  bool rowExists(const std::u16string& table, const std::u16string& column, const std::u16string& value) {
    Handle rec(MsiCreateRecord(1));
    MsiRecordSetStringW(rec.h, 1, value.c_str());
    std::vector<Handle> rows;
    return db_.hasTable(table) &&
           db_.run(u"SELECT * FROM " + quoted(table) + u" WHERE " + quoted(column) + u" = ?", rec.h, &rows) == 0 &&
           !rows.empty();
  }

  // The package's row with the key values of `row`, if there is one.
  UINT findRow(const Table& shape, const Row& row, std::optional<Row>& found) {
    found.reset();
    std::u16string where;
    std::vector<std::size_t> keys;
    for (std::size_t i = 0; i < shape.columns.size(); ++i)
      if (shape.columns[i].key) {
        where += (where.empty() ? u" WHERE " : u" AND ") + quoted(shape.columns[i].name) + u" = ?";
        keys.push_back(i);
      }
    std::u16string columns;
    for (std::size_t i = 0; i < shape.columns.size(); ++i) columns += (i ? u", " : u"") + quoted(shape.columns[i].name);
    Handle rec(MsiCreateRecord(static_cast<UINT>(keys.size())));
    for (std::size_t k = 0; k < keys.size(); ++k) setField(rec.h, static_cast<UINT>(k + 1), row[keys[k]], nullptr);
    Handle view;
    UINT rc = MsiDatabaseOpenViewW(db_.h, (u"SELECT " + columns + u" FROM " + quoted(shape.name) + where).c_str(),
                                   &view.h);
    if (!rc) rc = MsiViewExecute(view.h, rec.h);
    if (rc) return rc;
    Handle hit;
    rc = MsiViewFetch(view.h, &hit.h);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc) return rc;
    Row r;
    for (std::size_t i = 0; i < shape.columns.size(); ++i)
      r.push_back(Db::value(hit.h, static_cast<UINT>(i + 1), shape.columns[i].kind()));
    found = std::move(r);
    return ERROR_SUCCESS;
  }

  // Writes one value into a record; streams go through a file of the work folder.
  bool setField(MSIHANDLE rec, UINT i, const Value& v, WorkFolder* work) {
    switch (v.kind) {
      case Value::Null: return true;
      case Value::Int: return MsiRecordSetInteger(rec, i, v.i) == ERROR_SUCCESS;
      case Value::Text: return MsiRecordSetStringW(rec, i, v.text.c_str()) == ERROR_SUCCESS;
      case Value::Stream: {
        if (!work || !work->make()) return false;
        const std::string file = work->path() + "/stream" + std::to_string(streamFiles_++);
        std::ofstream(file, std::ios::binary) << v.bytes;
        return MsiRecordSetStreamW(rec, i, win32::to_windows_path(file).c_str()) == ERROR_SUCCESS;
      }
    }
    return false;
  }
  int streamFiles_ = 0;

  UINT insert(const Table& shape, const Row& row, WorkFolder& work) {
    std::u16string names, marks;
    for (std::size_t i = 0; i < shape.columns.size(); ++i) {
      names += (i ? u", " : u"") + quoted(shape.columns[i].name);
      marks += i ? u", ?" : u"?";
    }
    Handle rec(MsiCreateRecord(static_cast<UINT>(shape.columns.size())));
    for (std::size_t i = 0; i < row.size(); ++i)
      if (!setField(rec.h, static_cast<UINT>(i + 1), row[i], &work)) return ERROR_FUNCTION_FAILED;
    return db_.run(u"INSERT INTO " + quoted(shape.name) + u" (" + names + u") VALUES (" + marks + u")", rec.h);
  }

  static std::vector<std::u16string> keysOf(const Table& shape, const Row& row) {
    std::vector<std::u16string> out;
    for (std::size_t i = 0; i < shape.columns.size(); ++i)
      if (shape.columns[i].key) out.push_back(row[i].shown());
    return out;
  }

  // Inserts a row unless the package has it; a row there with other values is
  // an error of the table. False only when a write fails.
  bool mergeRow(const Table& shape, const Row& row, const Row& moduleRow, WorkFolder& work) {
    std::optional<Row> there;
    if (UINT rc = findRow(shape, row, there)) return failCall(u"reading " + shape.name, rc);
    if (there) {
      if (!(*there == row)) error(msmErrorTableMerge, shape.name, keysOf(shape, row), shape.name, keysOf(shape, moduleRow));
      return true;
    }
    if (UINT rc = insert(shape, row, work)) return failCall(u"writing " + shape.name, rc);
    return true;
  }

  static int intOf(const Value& v) {
    if (v.kind == Value::Int) return v.i;
    if (v.kind == Value::Text) return std::atoi(utf16_to_utf8(v.text).c_str());
    return 0;
  }

  int highest(const std::u16string& table, const std::u16string& column) {
    if (!db_.hasTable(table)) return 0;
    Table t;
    if (db_.read(table, t)) return 0;
    const int col = t.column(column);
    int top = 0;
    if (col >= 0)
      for (const Row& r : t.rows) top = std::max(top, intOf(r[static_cast<std::size_t>(col)]));
    return top;
  }

  bool connect(const std::u16string& feature) {
    begin();
    if (!db_.h || !module_.h) return fail(u"open a database and a module first");
    if (!rowExists(u"Feature", u"Feature", feature)) {
      error(msmErrorFeatureRequired, u"Feature", {feature}, {}, {});
      return fail(u"the package has no feature " + feature);
    }
    std::vector<std::u16string> components;
    if (!moduleComponents(components)) return false;
    WorkFolder work;
    return attach(feature, components, work) && errors_.empty();
  }

  bool attach(const std::u16string& feature, const std::vector<std::u16string>& components, WorkFolder& work) {
    Table fc;
    fc.name = u"FeatureComponents";
    fc.columns = {{u"Feature_", "s38", true}, {u"Component_", "s72", true}};
    if (!db_.hasTable(fc.name)) {
      if (UINT rc = db_.run(createStatement(fc))) return damage(u"creating FeatureComponents", rc);
    }
    for (const std::u16string& c : components) {
      Row row(2);
      row[0].kind = row[1].kind = Value::Text;
      row[0].text = feature;
      row[1].text = c;
      if (!mergeRow(fc, row, row, work)) return damaged();
    }
    return true;
  }

  bool damage(const std::u16string& what, UINT rc) {
    damaged_ = true;
    return failCall(what, rc);
  }
  bool damaged() {
    damaged_ = true;
    return false;
  }

  struct Plan {
    std::vector<Table> tables;            // module tables to merge, rows transformed
    std::vector<Table> moduleTables;      // the same rows as the module holds them
    std::vector<bool> create;             // per table: missing in the package
    std::vector<Table> sequences;         // Module*Sequence tables present
    std::vector<CabinetFile> files;       // in their new order
  };

  bool merge(const std::u16string& feature, const std::u16string& directory) {
    begin();
    if (!db_.h || !module_.h) return fail(u"open a database and a module first");
    std::vector<std::u16string> components;
    if (!moduleComponents(components)) return false;
    if (!components.empty() && (feature.empty() || !rowExists(u"Feature", u"Feature", feature))) {
      error(msmErrorFeatureRequired, u"Feature", {feature}, {}, {});
      return fail(u"the package has no feature " + feature);
    }
    if (!directory.empty() && !rowExists(u"Directory", u"Directory", directory)) {
      error(msmErrorTableMerge, u"Directory", {directory}, {}, {});
      return fail(u"the package has no directory " + directory);
    }
    WorkFolder work;
    Plan plan;
    if (!prepare(directory, plan, work)) return false;
    if (!errors_.empty()) return fail(u"the module cannot be merged");
    // From here on the package changes.
    for (std::size_t t = 0; t < plan.tables.size(); ++t) {
      const Table& table = plan.tables[t];
      if (plan.create[t])
        if (UINT rc = db_.run(createStatement(table))) return damage(u"creating " + table.name, rc);
      for (std::size_t r = 0; r < table.rows.size(); ++r)
        if (!mergeRow(table, table.rows[r], plan.moduleTables[t].rows[r], work)) return damaged();
    }
    if (!components.empty() && !attach(feature, components, work)) return false;
    for (const Table& s : plan.sequences)
      if (!sequence(s)) return damaged();
    if (!plan.files.empty() && !embed(plan.files, work)) return damaged();
    components_ = components;
    return errors_.empty() ? true : fail(u"rows of the module conflict with the package");
  }

  // Reads the module, checks it against the package and unpacks its files.
  bool prepare(const std::u16string& directory, Plan& plan, WorkFolder& work) {
    std::set<std::u16string> ignored;
    if (module_.hasTable(u"ModuleIgnoreTable")) {
      Table t;
      if (UINT rc = module_.read(u"ModuleIgnoreTable", t)) return failCall(u"reading the module", rc);
      for (const Row& r : t.rows)
        if (!r.empty()) ignored.insert(r[0].text);
    }
    const int base = std::max(highest(u"File", u"Sequence"), highest(u"Media", u"LastSequence"));
    std::map<std::u16string, int> newSequence;  // file key -> its sequence in the package
    for (const std::u16string& name : module_.tableNames()) {
      bool isSequence = false;
      for (const char16_t* s : kSequenceTables)
        if (name == std::u16string(u"Module") + s) isSequence = true;
      if (isSequence) {
        Table t;
        if (UINT rc = module_.read(name, t)) return failCall(u"reading the module's " + name, rc);
        plan.sequences.push_back(std::move(t));
        continue;
      }
      if (moduleOnlyTable(name) || ignored.count(name)) continue;
      Table t;
      if (UINT rc = module_.read(name, t)) return failCall(u"reading the module's " + name, rc);
      const bool missing = !db_.hasTable(name);
      if (!missing) {
        Table there;
        if (UINT rc = db_.read(name, there, false)) return failCall(u"reading the package's " + name, rc);
        if (!fits(t, there)) {
          error(msmErrorTableMerge, name, {}, name, {});
          continue;
        }
      }
      Table original = t;
      if (name == u"File") {
        const int seq = t.column(u"Sequence");
        const int key = t.column(u"File");
        if (seq < 0 || key < 0) {
          error(msmErrorTableMerge, name, {}, name, {});
          continue;
        }
        std::vector<std::size_t> order(t.rows.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
          return intOf(t.rows[a][static_cast<std::size_t>(seq)]) < intOf(t.rows[b][static_cast<std::size_t>(seq)]);
        });
        int next = base;
        for (std::size_t i : order) {
          Value& v = t.rows[i][static_cast<std::size_t>(seq)];
          v.kind = Value::Int;
          v.i = ++next;
          newSequence[t.rows[i][static_cast<std::size_t>(key)].text] = v.i;
        }
      }
      if (!directory.empty() && name == u"Directory") {
        // The module's root gives way to the directory it is merged under.
        const int key = t.column(u"Directory");
        for (std::size_t i = t.rows.size(); key >= 0 && i-- > 0;)
          if (t.rows[i][static_cast<std::size_t>(key)].text == u"TARGETDIR") {
            t.rows.erase(t.rows.begin() + static_cast<std::ptrdiff_t>(i));
            original.rows.erase(original.rows.begin() + static_cast<std::ptrdiff_t>(i));
          }
      }
      if (!directory.empty()) {
        const int parent = name == u"Directory" ? t.column(u"Directory_Parent")
                           : name == u"Component" ? t.column(u"Directory_")
                                                  : -1;
        if (parent >= 0)
          for (Row& r : t.rows) {
            Value& v = r[static_cast<std::size_t>(parent)];
            if (v.kind == Value::Text && v.text == u"TARGETDIR") v.text = directory;
          }
      }
      plan.tables.push_back(std::move(t));
      plan.moduleTables.push_back(std::move(original));
      plan.create.push_back(missing);
    }
    if (newSequence.empty()) return true;
    return unpack(newSequence, plan, work);
  }

  bool unpack(const std::map<std::u16string, int>& sequenceOf, Plan& plan, WorkFolder& work) {
    std::set<std::u16string> wanted;
    for (const auto& [key, seq] : sequenceOf) wanted.insert(key);
    std::map<std::u16string, std::string> found;
    Handle rec(MsiCreateRecord(1));
    MsiRecordSetStringW(rec.h, 1, kCabinetStream);
    std::vector<Handle> rows;
    Value cabinet;
    if (module_.run(u"SELECT `Data` FROM `_Streams` WHERE `Name` = ?", rec.h, &rows) == 0 && !rows.empty())
      cabinet = Db::value(rows[0].h, 1, Kind::Stream);
    // The cabinet library trusts every offset and size it reads.
    if (cabinet.kind == Value::Stream && !msi_layer::checkCabinetBytes(cabinet.bytes).ok) cabinet = Value{};
    if (cabinet.kind == Value::Stream && !cabinet.bytes.empty()) {
      if (!work.make()) return fail(u"no temporary folder");
      GRef<GInputStream> in(g_memory_input_stream_new_from_data(cabinet.bytes.data(),
                                                                static_cast<gssize>(cabinet.bytes.size()), nullptr));
      GRef<GCabCabinet> cab(gcab_cabinet_new());
      GError* e = nullptr;
      bool ok = gcab_cabinet_load(cab.get(), in.get(), nullptr, &e);
      if (ok) {
        Unpack u{&wanted, &found, work.path()};
        GRef<GFile> to(g_file_new_for_path(work.path().c_str()));
        ok = gcab_cabinet_extract(cab.get(), to.get(), &Unpack::pick, nullptr, &u, nullptr, &e);
      }
      if (e) g_error_free(e);
      if (!ok) found.clear();
    }
    for (const auto& [key, seq] : sequenceOf) {
      auto it = found.find(key);
      if (it == found.end()) {
        error(msmErrorFileCreate, u"File", {key}, u"File", {key}, key);
        continue;
      }
      plan.files.push_back({it->second, key, seq});
    }
    std::sort(plan.files.begin(), plan.files.end(),
              [](const CabinetFile& a, const CabinetFile& b) { return a.sequence < b.sequence; });
    return true;
  }

  // Places the rows of one Module*Sequence table into the package's table.
  bool sequence(const Table& module) {
    const std::u16string target = module.name.substr(6);
    const int cAction = module.column(u"Action"), cSeq = module.column(u"Sequence"),
              cBase = module.column(u"BaseAction"), cAfter = module.column(u"After"),
              cCond = module.column(u"Condition");
    if (cAction < 0) {
      error(msmErrorResequenceMerge, target, {}, module.name, {});
      return true;
    }
    Table shape;
    shape.name = target;
    shape.columns = {{u"Action", "s72", true}, {u"Condition", "S255", false}, {u"Sequence", "I2", false}};
    if (!db_.hasTable(target)) {
      if (UINT rc = db_.run(createStatement(shape))) return failCall(u"creating " + target, rc);
    }
    Table there;
    if (UINT rc = db_.read(target, there)) return failCall(u"reading " + target, rc);
    const int tAction = there.column(u"Action"), tSeq = there.column(u"Sequence");
    if (tAction < 0 || tSeq < 0) {
      error(msmErrorResequenceMerge, target, {}, module.name, {});
      return true;
    }
    std::map<std::u16string, int> placed;
    std::set<int> used;
    for (const Row& r : there.rows) {
      const int s = intOf(r[static_cast<std::size_t>(tSeq)]);
      placed[r[static_cast<std::size_t>(tAction)].text] = s;
      if (s > 0) used.insert(s);
    }
    auto field = [](const Row& r, int c) -> const Value& {
      static const Value none;
      return c < 0 ? none : r[static_cast<std::size_t>(c)];
    };
    std::vector<const Row*> pending;
    for (const Row& r : module.rows) pending.push_back(&r);
    WorkFolder work;
    for (bool progress = true; progress && !pending.empty();) {
      progress = false;
      for (auto it = pending.begin(); it != pending.end();) {
        const Row& r = **it;
        const std::u16string action = field(r, cAction).text;
        if (placed.count(action)) {  // sequenced already
          it = pending.erase(it);
          progress = true;
          continue;
        }
        std::optional<int> at;
        const Value& given = field(r, cSeq);
        if (given.kind == Value::Int) {
          at = given.i;
        } else {
          const std::u16string baseAction = field(r, cBase).text;
          auto base = placed.find(baseAction);
          if (base == placed.end()) {
            bool waits = false;
            for (const Row* p : pending)
              if (field(*p, cAction).text == baseAction) waits = true;
            if (waits && !baseAction.empty()) {
              ++it;
              continue;
            }
            error(msmErrorResequenceMerge, target, {baseAction}, module.name, {action});
            it = pending.erase(it);
            continue;
          }
          const int s = base->second;
          if (intOf(field(r, cAfter)) != 0) {
            auto next = used.upper_bound(s);
            const int limit = next == used.end() ? s + 20 : *next;
            if (limit - s >= 2) at = s + (limit - s) / 2;
          } else {
            auto prev = used.lower_bound(s);
            const int limit = prev == used.begin() ? 0 : *std::prev(prev);
            if (s - limit >= 2) at = s - (s - limit) / 2;
          }
          if (!at) {
            error(msmErrorResequenceMerge, target, {baseAction}, module.name, {action});
            it = pending.erase(it);
            continue;
          }
        }
        Row row(there.columns.size());
        row[static_cast<std::size_t>(tAction)] = field(r, cAction);
        row[static_cast<std::size_t>(tSeq)].kind = Value::Int;
        row[static_cast<std::size_t>(tSeq)].i = *at;
        if (const int tc = there.column(u"Condition"); tc >= 0) row[static_cast<std::size_t>(tc)] = field(r, cCond);
        if (UINT rc = insert(there, row, work)) return failCall(u"writing " + target, rc);
        placed[action] = *at;
        if (*at > 0) used.insert(*at);
        it = pending.erase(it);
        progress = true;
      }
    }
    for (const Row* p : pending)
      error(msmErrorResequenceMerge, target, {field(*p, cBase).text}, module.name, {field(*p, cAction).text});
    return true;
  }

  // One new cabinet of the module's files, stored in the package, and its Media row.
  bool embed(const std::vector<CabinetFile>& files, WorkFolder& work) {
    GRef<GCabCabinet> cab(gcab_cabinet_new());
    GRef<GCabFolder> folder(gcab_folder_new(GCAB_COMPRESSION_MSZIP));
    GError* e = nullptr;
    for (const CabinetFile& f : files) {
      GRef<GFile> file(g_file_new_for_path(f.unixPath.c_str()));
      GRef<GCabFile> member(gcab_file_new_with_file(utf16_to_utf8(f.key).c_str(), file.get()));
      if (!gcab_folder_add_file(folder.get(), member.get(), FALSE, nullptr, &e)) break;
    }
    if (!e) gcab_cabinet_add_folder(cab.get(), folder.get(), &e);
    const std::string path = work.path() + "/merged.cab";
    if (!e) {
      GRef<GFile> out(g_file_new_for_path(path.c_str()));
      GRef<GFileOutputStream> stream(g_file_replace(out.get(), nullptr, FALSE, G_FILE_CREATE_NONE, nullptr, &e));
      if (stream) {
        gcab_cabinet_write_simple(cab.get(), G_OUTPUT_STREAM(stream.get()), nullptr, nullptr, nullptr, &e);
        g_output_stream_close(G_OUTPUT_STREAM(stream.get()), nullptr, e ? nullptr : &e);
      }
    }
    if (e) {
      const std::u16string why = utf8_to_utf16(e->message);
      g_error_free(e);
      return fail(u"building the module's cabinet: " + why);
    }
    const int disk = highest(u"Media", u"DiskId") + 1;
    std::u16string name;
    for (int n = disk;; ++n) {
      name = u"merged" + utf8_to_utf16(std::to_string(n)) + u".cab";
      Handle rec(MsiCreateRecord(1));
      MsiRecordSetStringW(rec.h, 1, name.c_str());
      std::vector<Handle> rows;
      if (db_.run(u"SELECT `Name` FROM `_Streams` WHERE `Name` = ?", rec.h, &rows) == 0 && rows.empty()) break;
    }
    Handle rec(MsiCreateRecord(2));
    MsiRecordSetStringW(rec.h, 1, name.c_str());
    if (MsiRecordSetStreamW(rec.h, 2, win32::to_windows_path(path).c_str()))
      return fail(u"reading the module's new cabinet");
    if (UINT rc = db_.run(u"INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", rec.h))
      return failCall(u"storing the module's cabinet", rc);
    Table media;
    if (!db_.hasTable(u"Media")) {
      media.name = u"Media";
      media.columns = {{u"DiskId", "i2", true},      {u"LastSequence", "i4", false}, {u"DiskPrompt", "L64", false},
                       {u"Cabinet", "S255", false}, {u"VolumeLabel", "S32", false}, {u"Source", "S72", false}};
      if (UINT rc = db_.run(createStatement(media))) return failCall(u"creating Media", rc);
    }
    Handle row(MsiCreateRecord(3));
    MsiRecordSetInteger(row.h, 1, disk);
    MsiRecordSetInteger(row.h, 2, files.back().sequence);
    MsiRecordSetStringW(row.h, 3, (u"#" + name).c_str());
    if (UINT rc = db_.run(u"INSERT INTO `Media` (`DiskId`, `LastSequence`, `Cabinet`) VALUES (?, ?, ?)", row.h))
      return failCall(u"writing Media", rc);
    return true;
  }
};

HRESULT makeMerger(REFIID riid, void** object) {
  auto* m = new Merger;
  const HRESULT hr = m->QueryInterface(riid, object);
  m->Release();
  return hr;
}

const bool registered = [] {
  win32::register_class(CLSID_MsmMerge2, &makeMerger);
  win32::register_progid(u"Msm.Merge2.1", CLSID_MsmMerge2);
  return true;
}();

}  // namespace

// Named by the link options of the msi layer, so that every program linking
// the layer has the object registered.
extern "C" __attribute__((used)) const bool kv_msm_merge_linked = registered;
