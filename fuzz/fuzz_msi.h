// Scratch packages for the installer fuzz targets, made in the temporary folder
// through the layer's own database calls: fixed ones made once per process, and
// ones whose rows hold the input, read back through the installer model.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/text_convert.h"
#include "fuzz/fuzz_check.h"
#include "msi/model/error.h"
#include "msi/model/package.h"
#include "platform/msi/msi.h"
#include "platform/win32/windows.h"

namespace fuzzmsi {

struct Closer {
  MSIHANDLE h = 0;
  ~Closer() {
    if (h) MsiCloseHandle(h);
  }
};

inline bool run(MSIHANDLE db, const char16_t* sql, MSIHANDLE params = 0) {
  Closer view;
  if (MsiDatabaseOpenViewW(db, sql, &view.h)) return false;
  return MsiViewExecute(view.h, params) == ERROR_SUCCESS;
}

// The path of the scratch package named after `stem` and the process.
inline std::string scratchPath(const char* stem) {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + stem + "." + std::to_string(::getpid()) + ".msi";
}

// Runs every statement on a new package named after `stem` and the process,
// commits it and gives its Windows path; any failure ends the run.
inline std::u16string makePackage(const char* stem, std::initializer_list<const char16_t*> statements) {
  std::string unix = scratchPath(stem);
  ::unlink(unix.c_str());
  std::u16string windows = win32::to_windows_path(unix);
  Closer db;
  FUZZ_CHECK(MsiOpenDatabaseW(windows.c_str(), MSIDBOPEN_CREATE, &db.h) == ERROR_SUCCESS);
  for (const char16_t* sql : statements) FUZZ_CHECK(run(db.h, sql));
  FUZZ_CHECK(MsiDatabaseCommit(db.h) == ERROR_SUCCESS);
  return windows;
}

// A table of a package made from the input, and its columns as 's' (the next
// input text) or 'i' (a small number taken from the next input text).
struct Table {
  const char16_t* create;
  const char16_t* name;
  std::vector<const char16_t*> columns;
  const char* kinds;
};

// Texts taken in turn from the input's lines, then over again.
struct Texts {
  std::vector<std::u16string> lines;
  std::size_t next = 0;
  const std::u16string& take() {
    const std::u16string& t = lines[next % lines.size()];
    ++next;
    return t;
  }
};

// What an object writes equals what it read, given the rows it keeps as stored.
// `readTable` reads the cached table first, for objects that come from query
// copies rather than from the table's cache.
template <class T>
void checkRow(Msi::MsiPackage& package, T* object, bool readTable) {
  if (!object) return;
  Msi::MsiTable& table = package.database()->table(Msi::tableName<typename T::Description>());
  if (readTable) table.load();
  for (Msi::MsiRow* row : table) {
    if (!object->matches(*row)) continue;
    Msi::MsiRow written(row->valueCount(), row->columns());
    written.values() = row->values();
    object->writeTo(written);
    FUZZ_CHECK(written.values() == row->values());
    return;
  }
}

inline void guarded(const std::function<void()>& step) {
  try {
    step();
  } catch (const Msi::Error&) {
  }
}

// Visits every object of an iterator; one that raises Msi::Error ends only its own visit.
template <class I>
void walk(std::unique_ptr<Msi::MsiIterator<I>> it, const std::function<void(I*)>& visit) {
  for (it->reset(); it->valid(); it->next())
    if (I* object = it->current()) guarded([&] { visit(object); });
}

inline bool writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool whole = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && whole;
}

inline bool readFile(const std::string& path, std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes.clear();
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
  bool read = !std::ferror(f);
  std::fclose(f);
  return read;
}

// The bytes of a committed package holding `tables` without rows, made once per
// process: every input then starts from a copy of it, which costs a file write
// instead of a package made and its tables created.
inline const std::string& emptyTables(const char* stem, const std::vector<Table>& tables) {
  static std::map<std::string, std::string> made;
  auto found = made.find(stem);
  if (found != made.end()) return found->second;
  std::string unix = scratchPath(stem);
  ::unlink(unix.c_str());
  std::u16string windows = win32::to_windows_path(unix);
  {
    Closer db;
    FUZZ_CHECK(MsiOpenDatabaseW(windows.c_str(), MSIDBOPEN_CREATE, &db.h) == ERROR_SUCCESS);
    for (const Table& t : tables) FUZZ_CHECK(run(db.h, t.create));
    FUZZ_CHECK(MsiDatabaseCommit(db.h) == ERROR_SUCCESS);
  }
  std::string bytes;
  FUZZ_CHECK(readFile(unix, bytes) && !bytes.empty());
  ::unlink(unix.c_str());
  return made.emplace(stem, std::move(bytes)).first->second;
}

// The whole run of a target whose input fills package rows: a new package
// named after `stem` gets `tables`, each with one row of values taken from the
// input's lines (into a copy of the empty tables made once), and is opened
// through the installer model and handed to `exercise`, or refused with
// Msi::Error. Inputs over 4 KiB are passed over.
inline int fillAndExercise(const std::uint8_t* data, std::size_t size, const char* stem,
                           const std::vector<Table>& tables,
                           const std::function<void(Msi::MsiPackage&)>& exercise) {
  if (size > 4096) return 0;
  Texts texts;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  for (;;) {
    std::size_t end = bytes.find('\n', start);
    std::u16string line;
    Common::fromUtf8(line, bytes.substr(start, end == std::string::npos ? std::string::npos : end - start).c_str());
    texts.lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::string unix = scratchPath(stem);
  const std::string& empty = emptyTables(stem, tables);
  ::unlink(unix.c_str());
  FUZZ_CHECK(writeFile(unix, empty));
  std::u16string windows = win32::to_windows_path(unix);
  {
    Closer db;
    FUZZ_CHECK(MsiOpenDatabaseW(windows.c_str(), MSIDBOPEN_TRANSACT, &db.h) == ERROR_SUCCESS);
    for (const Table& t : tables) {
      std::u16string names, marks;
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        names += (i ? u", `" : u"`") + std::u16string(t.columns[i]) + u"`";
        marks += i ? u", ?" : u"?";
      }
      Closer params;
      params.h = MsiCreateRecord(static_cast<UINT>(t.columns.size()));
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const std::u16string& text = texts.take();
        if (t.kinds[i] == 'i')
          MsiRecordSetInteger(params.h, static_cast<UINT>(i + 1), static_cast<int>(text.size() * 37 % 4099) - 7);
        else
          MsiRecordSetStringW(params.h, static_cast<UINT>(i + 1), text.c_str());
      }
      // A value the engine refuses (a null key, say) leaves the table without the row.
      const std::u16string insert =
          u"INSERT INTO `" + std::u16string(t.name) + u"` (" + names + u") VALUES (" + marks + u")";
      run(db.h, insert.c_str(), params.h);
    }
    FUZZ_CHECK(MsiDatabaseCommit(db.h) == ERROR_SUCCESS);
  }
  try {
    auto package = Msi::MsiPackage::open(windows, true);
    exercise(*package);
  } catch (const Msi::Error&) {
  }
  ::unlink(unix.c_str());
  return 0;
}

}  // namespace fuzzmsi
