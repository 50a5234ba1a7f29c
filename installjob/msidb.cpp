#include "installjob/msidb.h"

#include <cstdio>
#include <mutex>

#include "core/text_convert.h"
#include "platform/win32/windows.h"
#include "system/number_text.h"

namespace installjob {
namespace {
std::mutex logMutex;
std::u16string& logPathStore() {
  static std::u16string path = u"C:/WORK/project/inst_supp/msigen/msiapi.log";
  return path;
}

std::string utf8(const std::u16string& s) {
  std::string out;
  Common::toUtf8(out, s.c_str());
  return out;
}

// Appends one line; a log that cannot be opened (a missing folder) is skipped.
void appendLog(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMutex);
  std::u16string path = logPathStore();
  HANDLE f = CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER zero{};
  DWORD written = 0;
  if (SetFilePointerEx(f, zero, nullptr, FILE_END))
    WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(f);
}
}  // namespace

void setMsiApiLogPath(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(logMutex);
  logPathStore() = path;
}
std::u16string msiApiLogPath() {
  std::lock_guard<std::mutex> lock(logMutex);
  return logPathStore();
}
}  // namespace installjob

using installjob::appendLog;
using installjob::utf8;

namespace {
// Closes a record or view on every road.
struct HandleGuard {
  MSIHANDLE h = 0;
  ~HandleGuard() { msidb::close_handle(h); }
};
}  // namespace

msidb::~msidb() { msidb::close(); }

void msidb::close() { reset_handle(handle); }

msiquery::~msiquery() { msiquery::close(); }

void msiquery::close() {
  if (handle) MsiDatabaseCommit(handle);
  msidb::close();
}

void msidb::open(const std::u16string& path, bool readOnly) {
  if (handle) return;
  UINT r = MsiOpenDatabaseW(reinterpret_cast<LPCWSTR>(path.c_str()),
                            readOnly ? MSIDBOPEN_READONLY : MSIDBOPEN_TRANSACT, &handle);
  if (r != ERROR_SUCCESS) {
    char tail[64];
    std::snprintf(tail, sizeof tail, ", hDB=%x, err = %d\n", static_cast<unsigned>(handle), static_cast<int>(r));
    appendLog("ERROR: MsiDatabase: path=" + utf8(path) + tail);
    handle = 0;
    throw msier::system(r);
  }
}

void msidb::read_query(const std::u16string& query, const params& parameters, rows& out) {
  out.clear();
  HandleGuard view;
  UINT r = MsiDatabaseOpenViewW(handle, reinterpret_cast<LPCWSTR>(query.c_str()), &view.h);
  if (r != ERROR_SUCCESS) {
    MsiAPIError();
    throw msier::query_openview(r, query);
  }
  try {
    execute(view.h, parameters, query);
    fetch(view.h, out, query);
  } catch (...) {
    MsiViewClose(view.h);
    throw;
  }
  r = MsiViewClose(view.h);
  if (r != ERROR_SUCCESS) throw msier::query_openview(r, query);
}

void msidb::execute(MSIHANDLE view, const params& parameters, const std::u16string& query) {
  HandleGuard record;
  if (!parameters.empty()) record.h = MsiCreateRecord(static_cast<UINT>(parameters.size()));
  UINT field = 1;
  for (const param& p : parameters) {
    LPCWSTR value = reinterpret_cast<LPCWSTR>(p.value.c_str());
    if (p.isStream) {
      UINT r = MsiRecordSetStreamW(record.h, field, value);
      if (r != ERROR_SUCCESS) throw msier::query_binrec(r, p.value);
    } else {
      std::uint64_t number = 0;
      bool integer = Common::parseNumberW(&number, p.value.c_str(), 10) && number < (std::uint64_t(1) << 32) &&
                     MsiRecordSetInteger(record.h, field, static_cast<int>(static_cast<std::uint32_t>(number))) ==
                         ERROR_SUCCESS;
      if (!integer) {
        UINT r = MsiRecordSetStringW(record.h, field, value);
        if (r != ERROR_SUCCESS) throw msier::query_strrec(r, p.value);
      }
    }
    ++field;
  }
  UINT r = MsiViewExecute(view, record.h);
  if (r != ERROR_SUCCESS) {
    MsiAPIError();
    throw msier::query_execute(r, query);
  }
}

void msidb::fetch(MSIHANDLE view, rows& out, const std::u16string& query) {
  for (;;) {
    HandleGuard record;
    UINT r = MsiViewFetch(view, &record.h);
    if (r == ERROR_NO_MORE_ITEMS) return;
    if (r != ERROR_SUCCESS) {
      // A cut-short row list must not pass for the whole result.
      appendLog("msidb::read_query:MsiViewFetch(szQuery=" + utf8(query) + ") : res=" + std::to_string(int(r)) + "\n");
      out.clear();
      throw msier::system(r);
    }
    row fields;
    read_record(record.h, fields, query);
    out.push_back(std::move(fields));
  }
}

void msidb::read_record(MSIHANDLE record, row& out, const std::u16string& query) {
  UINT n = MsiRecordGetFieldCount(record);
  if (n == 0 || n == static_cast<UINT>(-1)) return;
  for (UINT i = 1; i <= n; ++i) {
    WCHAR empty[1] = {0};
    DWORD size = 0;
    UINT r = MsiRecordGetStringW(record, i, empty, &size);
    if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) throw msier::query_strread(r, query);
    std::u16string text(size + 2, u'\0');
    DWORD room = size + 2;
    r = MsiRecordGetStringW(record, i, reinterpret_cast<LPWSTR>(text.data()), &room);
    if (r != ERROR_SUCCESS) throw msier::query_strread(r, query);
    text.resize(room);
    out.push_back(std::move(text));
  }
}

std::u16string msidb::property_value(msidb& database, const std::u16string& name) {
  rows result;
  try {
    database.read_query(u"SELECT `Value` FROM `Property` WHERE `Property`='" + name + u"'", {}, result);
  } catch (const msier::system&) {
    return {};
  }
  if (result.size() != 1 || result[0].empty()) return {};
  return result[0][0];
}

void MsiAPIError() {
  HandleGuard record;
  record.h = MsiGetLastErrorRecord();
  if (!record.h) return;
  WCHAR empty[1] = {0};
  DWORD size = 0;
  if (MsiFormatRecordW(0, record.h, empty, &size) != ERROR_MORE_DATA) return;
  std::u16string text(size + 1, u'\0');
  DWORD room = size + 1;
  UINT r = MsiFormatRecordW(0, record.h, reinterpret_cast<LPWSTR>(text.data()), &room);
  if (r == ERROR_SUCCESS) {
    text.resize(room);
    std::printf("MsiAPIError: %s\n", utf8(text).c_str());
  } else {
    std::printf("MsiAPIError: MsiFormatMessage failed with err = %d\n", static_cast<int>(r));
  }
  std::fflush(stdout);
}
