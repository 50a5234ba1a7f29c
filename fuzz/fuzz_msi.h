// Scratch packages for the installer fuzz targets: made once per process in
// the temporary folder through the layer's own database calls.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <initializer_list>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/msi/msi.h"
#include "platform/win32/paths.h"

namespace fuzzmsi {

struct Closer {
  MSIHANDLE h = 0;
  ~Closer() {
    if (h) MsiCloseHandle(h);
  }
};

inline bool run(MSIHANDLE db, const char16_t* sql) {
  Closer view;
  if (MsiDatabaseOpenViewW(db, sql, &view.h)) return false;
  return MsiViewExecute(view.h, 0) == ERROR_SUCCESS;
}

// Runs every statement on a new package named after `stem` and the process,
// commits it and gives its Windows path; any failure ends the run.
inline std::u16string makePackage(const char* stem, std::initializer_list<const char16_t*> statements) {
  const char* tmp = std::getenv("TMPDIR");
  std::string unix = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + stem + "." + std::to_string(::getpid()) + ".msi";
  ::unlink(unix.c_str());
  std::u16string windows = win32::to_windows_path(unix);
  Closer db;
  FUZZ_CHECK(MsiOpenDatabaseW(windows.c_str(), MSIDBOPEN_CREATE, &db.h) == ERROR_SUCCESS);
  for (const char16_t* sql : statements) FUZZ_CHECK(run(db.h, sql));
  FUZZ_CHECK(MsiDatabaseCommit(db.h) == ERROR_SUCCESS);
  return windows;
}

}  // namespace fuzzmsi
