// Opening damaged installer packages: the layer either refuses the file or
// every table of it reads to the end, and the engine never crashes or hangs.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/msi/msi.h"
#include "platform/win32/windows.h"

namespace {

struct Closer {
  MSIHANDLE h = 0;
  ~Closer() {
    if (h) MsiCloseHandle(h);
  }
};

std::u16string text(MSIHANDLE rec, UINT field) {
  DWORD n = 0;
  WCHAR empty[1] = {0};
  MsiRecordGetStringW(rec, field, empty, &n);
  std::u16string s(n + 1, u'\0');
  DWORD room = n + 1;
  if (MsiRecordGetStringW(rec, field, s.data(), &room) != ERROR_SUCCESS) return {};
  s.resize(room);
  return s;
}

void readAll(MSIHANDLE db) {
  std::vector<std::u16string> tables;
  {
    Closer view;
    if (MsiDatabaseOpenViewW(db, u"SELECT `Name` FROM `_Tables`", &view.h) || MsiViewExecute(view.h, 0)) return;
    for (int n = 0; n < 4096; ++n) {
      Closer row;
      if (MsiViewFetch(view.h, &row.h)) break;
      tables.push_back(text(row.h, 1));
    }
  }
  for (const std::u16string& t : tables) {
    Closer keys;
    MsiDatabaseGetPrimaryKeysW(db, t.c_str(), &keys.h);
    Closer view;
    if (MsiDatabaseOpenViewW(db, (u"SELECT * FROM `" + t + u"`").c_str(), &view.h) || MsiViewExecute(view.h, 0))
      continue;
    Closer names;
    MsiViewGetColumnInfo(view.h, MSICOLINFO_TYPES, &names.h);
    for (int n = 0; n < 100000; ++n) {
      Closer row;
      if (MsiViewFetch(view.h, &row.h)) break;
      UINT count = MsiRecordGetFieldCount(row.h);
      for (UINT i = 1; i <= count; ++i) {
        char buf[512];
        DWORD size = sizeof buf;
        if (MsiRecordReadStream(row.h, i, buf, &size) != ERROR_SUCCESS) text(row.h, i);
      }
    }
  }
  Closer summary;
  if (MsiGetSummaryInformationW(db, nullptr, 0, &summary.h) == ERROR_SUCCESS) {
    for (UINT p = 0; p <= PID_SECURITY; ++p) {
      UINT type = 0;
      INT value = 0;
      FILETIME time{};
      WCHAR buf[256];
      DWORD size = 256;
      MsiSummaryInfoGetPropertyW(summary.h, p, &type, &value, &time, buf, &size);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_msi_package." + std::to_string(::getpid()) + ".msi";
  }();
  static const std::u16string windowsPath = win32::to_windows_path(path);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  MSIHANDLE db = 0;
  if (MsiOpenDatabaseW(windowsPath.c_str(), MSIDBOPEN_READONLY, &db) == ERROR_SUCCESS) {
    readAll(db);
    FUZZ_CHECK(MsiCloseHandle(db) == ERROR_SUCCESS);
  }
  MsiCloseHandle(MsiGetLastErrorRecord());
  return 0;
}
