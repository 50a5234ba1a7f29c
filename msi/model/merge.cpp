#include "msi/model/merge.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "core/resource_archive.h"
#include "files/file_object.h"
#include "platform/win32/windows.h"

namespace Msi {

namespace {

const char* const kTypeNames[] = {"LANGUAGE_USUPPORTED", "LANGUAGE_FAILED",      "EXCLUSION",
                                  "TABLE_MERGE",         "RESEQUENCE_MERGE",     "FILE_CREATE",
                                  "DIR_CREATE",          "FEATURE_REQUIRED",     "BAD_NULL_SUBSTITUTION",
                                  "BAD_SUBSTITUTION_TYPE", "MISSING_CONFIG_ITEM", "BAD_NULL_RESPONCE",
                                  "DATA_REQUEST_FAILED", "PLATFORM_MISMATHCED"};

// The automation names by operation index; 0 to 5 go to the merge object, 6
// and 7 to its error collection, 8 to 14 to one error, 16 and 17 to a key list.
const char16_t* const kMethodNames[] = {u"OpenDatabase", u"CloseDatabase", u"OpenModule",   u"CloseModule",
                                        u"Merge",        u"Errors",        u"Count",        u"Item",
                                        u"DatabaseTable", u"DatabaseKeys", u"Language",     u"ModuleTable",
                                        u"ModuleKeys",   u"Type",          u"Path",         u"Item",
                                        u"Count",        u"Item"};

enum Kind : WORD { Method = 1, MethodOrGet = 3, Get = 2 };

// The diagnostics: UTF-8 on standard output, which the tools share with printf.
void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

std::string utf8(const std::u16string& text) { return win32::utf16_to_utf8(text); }

// A VARIANT that clears itself.
struct Value {
  VARIANT v;
  Value() { VariantInit(&v); }
  explicit Value(const std::u16string& text) : Value() {
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  ~Value() { VariantClear(&v); }
  static Value integer(VARTYPE type, std::int32_t n) {
    Value out;
    out.v.vt = type;
    if (type == VT_I2)
      out.v.iVal = static_cast<SHORT>(n);
    else if (type == VT_BOOL)
      out.v.boolVal = n ? static_cast<VARIANT_BOOL>(-1) : 0;
    else
      out.v.lVal = n;
    return out;
  }
  Value(Value&& other) noexcept : v(other.v) { VariantInit(&other.v); }
};

void release(IDispatch*& object) {
  if (object) object->Release();
  object = nullptr;
}

class ComMergeManager : public MergeManagerImpl {
 public:
  ComMergeManager() { initialise(); }
  ~ComMergeManager() override {
    release(currentStrings_);
    release(currentError_);
    release(errorCollection_);
    release(mergeObject_);
  }

  bool openDatabase(const std::u16string& path) override {
    if (!initialized_) {
      say("MSI Merge Module error: Unable to OpenDatabase. MergeManager has not initialized.\n");
      return false;
    }
    Value args[] = {Value(path)};
    return checked(call(0, args, 1, nullptr, Method));
  }
  bool openModule(const std::u16string& path, std::uint16_t language) override {
    if (!initialized_) {
      say("MSI Merge Module error: Unable to OpenModule. MergeManager has not initialized.\n");
      return false;
    }
    Value args[] = {Value(path), Value::integer(VT_I2, static_cast<SHORT>(language))};
    return checked(call(2, args, 2, nullptr, Method));
  }
  bool merge(const std::u16string& feature, const std::u16string& directory) override {
    if (!initialized_) say("MSI Merge Module error: Unable to Merge. MergeManager has not initialized.\n");
    Value args[] = {Value(feature), Value(directory)};
    return checked(call(4, args, 2, nullptr, Method));
  }
  bool closeDatabase() override {
    if (!initialized_) say("MSI Merge Module error: Unable to CloseDatabase. MergeManager has not initialized.\n");
    Value args[] = {Value::integer(VT_BOOL, 1)};
    return checked(call(1, args, 1, nullptr, Method));
  }
  bool closeModule() override {
    if (!initialized_) say("MSI Merge Module error: Unable to CloseModule. MergeManager has not initialized.\n");
    return checked(call(3, nullptr, 0, nullptr, Method));
  }
  MergeErrorList errors() override { return errorList_; }

 private:
  void initialise();
  bool registerLibrary();
  bool checked(bool ok) {
    if (!ok) collectErrors();
    return ok;
  }
  IDispatch* target(int index) const {
    if (index <= 5) return mergeObject_;
    if (index <= 7) return errorCollection_;
    if (index <= 14) return currentError_;
    if (index >= 16) return currentStrings_;
    return nullptr;
  }
  bool call(int index, Value* args, UINT count, VARIANT* result, WORD kind);
  bool property(int index, Value& out, Value* args = nullptr, UINT count = 0, WORD kind = Get) {
    return call(index, args, count, &out.v, kind);
  }
  bool text(int index, std::u16string& out);
  bool number(int index, std::int32_t& out, Value* args = nullptr, UINT count = 0);
  bool object(int index, IDispatch*& into, Value* args = nullptr, UINT count = 0, WORD kind = Get);
  bool keys(int index, std::vector<std::u16string>& out, const char* failure, const char* countFailure);
  void collectErrors();

  MergeErrorList errorList_;
  bool initialized_ = false;
  IDispatch* mergeObject_ = nullptr;
  IDispatch* errorCollection_ = nullptr;
  IDispatch* currentError_ = nullptr;
  IDispatch* currentStrings_ = nullptr;
};

void ComMergeManager::initialise() {
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(u"Msm.Merge2.1", &clsid);
  if (hr == REGDB_E_WRITEREGDB) {
    say("MSI Merge Module error: Unable to write the registry\n");
    return;
  }
  if (hr == CO_E_CLASSSTRING) {
    if (!registerLibrary()) {
      say("MSI Merge Module error: Unable to register mergemod.dll\n");
      return;
    }
    if (CLSIDFromProgID(u"Msm.Merge2.1", &clsid) != S_OK) {
      say("MSI Merge Module error: Unable to CLSIDFromProgID with parameter %s\n", "Msm.Merge2.1");
      return;
    }
  }
  release(mergeObject_);
  void* made = nullptr;
  if (CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, &made) == S_OK && made) {
    mergeObject_ = static_cast<IDispatch*>(made);
    initialized_ = true;
  } else {
    say("MSI Merge Module error: Unable to create instance of the MsmMerge COM object\n");
  }
}

bool ComMergeManager::registerLibrary() {
  WCHAR folder[MAX_PATH] = {0};
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_SYSTEM, FALSE)) {
    say("MSI Merge Module error: unable to locate WindowsSystem folder\n");
    return false;
  }
  std::u16string target = std::u16string(folder) + u"\\mergemod.dll";
  std::unique_ptr<ri_file> member(Common::openArchivedFile(u"mergemod.dll"));
  if (!member || member->Bad()) return false;
  HANDLE out = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  bool copied = true;
  std::vector<char> chunk(102400);
  for (;;) {
    std::uint32_t got = 0;
    member->read(chunk.data(), static_cast<std::uint32_t>(chunk.size()), got);
    if (member->Bad() && !file_object::at_end(member.get())) {
      copied = false;
      break;
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(out, chunk.data(), got, &written, nullptr) || written != got) {
      copied = false;
      break;
    }
  }
  CloseHandle(out);
  if (!copied) {
    DeleteFileW(target.c_str());
    return false;
  }
  HMODULE library = LoadLibraryW(target.c_str());
  if (!library) return false;
  using Register = HRESULT (*)();
  // Through void(*)(): the one pointer type every function pointer converts to quietly.
  auto entry = reinterpret_cast<Register>(reinterpret_cast<void (*)()>(GetProcAddress(library, "DllRegisterServer")));
  bool registered = entry && entry() == S_OK;
  FreeLibrary(library);
  return registered;
}

bool ComMergeManager::call(int index, Value* args, UINT count, VARIANT* result, WORD kind) {
  if (!initialized_) {
    say(kind == Get ? "MSI Merge Module error: Unable to InvokeProperty. MergeManager has not initialized\n"
                    : "MSI Merge Module error: Unable to Invoke. MergeManager has not initialized\n");
    return false;
  }
  IDispatch* object = target(index);
  if (!object) return false;
  object->AddRef();
  struct Held {
    IDispatch* p;
    ~Held() { p->Release(); }
  } held{object};
  std::u16string name = kMethodNames[index];
  std::vector<WCHAR> buffer(name.begin(), name.end());
  buffer.push_back(0);
  LPOLESTR names[] = {buffer.data()};
  DISPID id = DISPID_UNKNOWN;
  if (object->GetIDsOfNames(IID_NULL, names, 1, 0x0800, &id) != S_OK) {
    if (kind == Get)
      say("MSI Merge Module error: Unable to GetIDsOfNames with parameter %s\n", utf8(name).c_str());
    else
      say("MSI Merge Module : unable to GetIDsOfNames. Disp method : %s\n", utf8(name).c_str());
    return false;
  }
  // The interface takes the arguments last one first.
  std::vector<VARIANT> reversed;
  for (UINT i = count; i > 0; --i) reversed.push_back(args[i - 1].v);
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, count, 0};
  return object->Invoke(id, IID_NULL, GetUserDefaultLCID(), kind, &params, result, nullptr, nullptr) == S_OK;
}

bool ComMergeManager::text(int index, std::u16string& out) {
  Value v;
  if (!property(index, v)) return false;
  if (v.v.vt == VT_EMPTY || v.v.vt == VT_NULL) {
    out.clear();
    return true;
  }
  if (v.v.vt != VT_BSTR) return false;
  out.assign(v.v.bstrVal ? v.v.bstrVal : u"", v.v.bstrVal ? SysStringLen(v.v.bstrVal) : 0);
  return true;
}

bool ComMergeManager::number(int index, std::int32_t& out, Value* args, UINT count) {
  Value v;
  if (!property(index, v, args, count)) return false;
  if (VariantChangeType(&v.v, &v.v, 0, VT_I4) != S_OK) return false;
  out = v.v.lVal;
  return true;
}

bool ComMergeManager::object(int index, IDispatch*& into, Value* args, UINT count, WORD kind) {
  Value v;
  if (!property(index, v, args, count, kind)) return false;
  if ((v.v.vt != VT_DISPATCH && v.v.vt != VT_UNKNOWN) || !v.v.pdispVal) return false;
  IDispatch* taken = v.v.pdispVal;
  taken->AddRef();
  release(into);
  into = taken;
  return true;
}

bool ComMergeManager::keys(int index, std::vector<std::u16string>& out, const char* failure,
                           const char* countFailure) {
  if (!object(index, currentStrings_)) {
    say("%s", failure);
    return false;
  }
  std::int32_t count = 0;
  if (!number(16, count)) {
    say("%s", countFailure);
    return false;
  }
  for (std::int32_t k = 0; k < count; ++k) {
    Value at[] = {Value::integer(VT_I4, k)};
    Value v;
    if (!call(17, at, 1, &v.v, MethodOrGet) || v.v.vt != VT_BSTR) {
      say("MSI Merge Module error: Unable to ErrorStrings::GetItem.\n");
      return false;
    }
    out.emplace_back(v.v.bstrVal ? v.v.bstrVal : u"", v.v.bstrVal ? SysStringLen(v.v.bstrVal) : 0);
  }
  return true;
}

void ComMergeManager::collectErrors() {
  if (!object(5, errorCollection_)) {
    say("MSI Merge Module error: Unable to GetErrors.\n");
    return;
  }
  errorList_.clear();
  std::int32_t count = 0;
  if (!number(6, count)) {
    say("MSI Merge Module error: Unable to GetErrorCount.\n");
    return;
  }
  for (std::int32_t n = 1; n <= count; ++n) {
    Value at[] = {Value::integer(VT_I4, n)};
    if (!object(7, currentError_, at, 1, MethodOrGet)) {
      say("MSI Merge Module error: Unable to GetError.\n");
      return;
    }
    MergeError record;
    if (!text(8, record.databaseTable)) {
      say("MSI Merge Module error: Unable to GetDatabaseTable.\n");
      return;
    }
    if (!keys(9, record.databaseKeys, "MSI Merge Module error: Unable to GetDatabaseKeys.\n",
              "MSI Merge Module error: Unable to DatabaseKeys::GetItem.\n"))
      return;
    if (!text(11, record.moduleTable)) {
      say("MSI Merge Module error: Unable to GetModuleTable.\n");
      return;
    }
    if (!keys(12, record.moduleKeys, "MSI Merge Module error: Unable to GetModuleKeys.\n",
              "MSI Merge Module error: Unable to ModuleKeys::GetItem.\n"))
      return;
    std::int32_t language = 0;
    if (!number(10, language)) {
      say("MSI Merge Module error: Unable to Errors::GetLanguage.\n");
      return;
    }
    record.language = static_cast<std::uint16_t>(language);
    if (!number(13, record.type)) {
      say("MSI Merge Module error: Unable to Error::GetType.\n");
      return;
    }
    if (!text(14, record.path)) {
      say("MSI Merge Module error: Unable to Error::GetPath.\n");
      return;
    }
    errorList_.append(std::move(record));
  }
}

}  // namespace

const char* MergeError::typeName(std::int32_t type) {
  constexpr std::int32_t names = static_cast<std::int32_t>(sizeof kTypeNames / sizeof kTypeNames[0]);
  return type >= 1 && type <= names ? kTypeNames[type - 1] : nullptr;
}

const std::u16string& MergeError::describe() {
  if (!description.empty()) return description;
  auto wide = [](const std::string& s) { return win32::utf8_to_utf16(s); };
  std::u16string text;
  if (type > 0) {
    const char* name = typeName(type);
    text += u" Type = " + wide(name ? name : std::to_string(type)) + u"\n";
  }
  if (!databaseTable.empty()) text += u" DatabaseTable = " + databaseTable + u"\n";
  if (!moduleTable.empty()) text += u" ModuleTable = " + moduleTable + u"\n";
  text += u" Language = " + wide(std::to_string(language)) + u"\n";
  if (!path.empty()) text += u" Path = " + path + u"\n";
  description = text;
  return description;
}

MergeError MergeErrorList::at(std::int32_t index) const {
  if (index < 0 || index >= count()) {
    say("MSI Merge Module error:\n Unable GetError due to invalid index %d passed.\n Error count = %d\n", index,
        count());
    return {};
  }
  return errors_[static_cast<std::size_t>(index)];
}

MergeManager::MergeManager() {
  HRESULT hr = CoInitialize(nullptr);
  comReady_ = hr == S_OK || hr == S_FALSE;
  impl_ = std::make_unique<ComMergeManager>();
}

MergeManager::~MergeManager() {
  impl_.reset();
  // Only a successful CoInitialize is matched, so a thread of another
  // apartment model keeps its own count.
  if (comReady_) CoUninitialize();
}

}  // namespace Msi
