// Registry value reads and writes through the layer against raw SQLite doing
// the same statements on the same data, both in this process, each side on
// its own store file with the same schema and pragmas (WAL, synchronous=FULL).
// Goal: reads within 1.5x of raw SQLite. Writes are shown too: each is one
// committed transaction on both sides, so the disk's sync decides them.
//   bench_registry [values]
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "platform/win32/windows.h"
#include "system/registry.h"

namespace {

std::u16string name_of(int i) {
  std::u16string n = u"Value";
  for (char c : std::to_string(i)) n += static_cast<char16_t>(c);
  return n;
}
std::string lower(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += static_cast<char>(c >= u'A' && c <= u'Z' ? c + 32 : c);
  return out;
}

using bench::median;

struct Raw {
  sqlite3* db = nullptr;
  sqlite3_stmt* read = nullptr;
  sqlite3_stmt* write = nullptr;
  explicit Raw(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                 "CREATE TABLE vals(key INTEGER NOT NULL, lname TEXT NOT NULL, name TEXT NOT NULL,"
                 " type INTEGER NOT NULL, data BLOB, PRIMARY KEY(key, lname)) WITHOUT ROWID;",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v3(db, "SELECT type, data FROM vals WHERE key=?1 AND lname=?2", -1, SQLITE_PREPARE_PERSISTENT,
                       &read, nullptr);
    sqlite3_prepare_v3(db, "INSERT OR REPLACE INTO vals(key, lname, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)",
                       -1, SQLITE_PREPARE_PERSISTENT, &write, nullptr);
  }
  ~Raw() {
    sqlite3_finalize(read);
    sqlite3_finalize(write);
    sqlite3_close(db);
  }
  bool set(const std::u16string& name, const std::string& folded, DWORD type, const void* data, int size) {
    sqlite3_reset(write);
    sqlite3_bind_int64(write, 1, 6);
    sqlite3_bind_text(write, 2, folded.data(), static_cast<int>(folded.size()), SQLITE_STATIC);
    sqlite3_bind_text16(write, 3, name.data(), static_cast<int>(name.size() * 2), SQLITE_STATIC);
    sqlite3_bind_int64(write, 4, type);
    sqlite3_bind_blob(write, 5, data, size, SQLITE_STATIC);
    return sqlite3_step(write) == SQLITE_DONE;
  }
  bool get(const std::string& folded, BYTE* buffer, DWORD& size) {
    sqlite3_reset(read);
    sqlite3_bind_int64(read, 1, 6);
    sqlite3_bind_text(read, 2, folded.data(), static_cast<int>(folded.size()), SQLITE_STATIC);
    if (sqlite3_step(read) != SQLITE_ROW) return false;
    DWORD n = static_cast<DWORD>(sqlite3_column_bytes(read, 1));
    if (n > size) return false;
    std::memcpy(buffer, sqlite3_column_blob(read, 1), n);
    size = n;
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
  bench::temp_folder dir("bench-registry-");
  if (dir.path.empty()) return 1;
  ::setenv("KV_WORLD_ROOT", (dir.path / "world").c_str(), 1);
  ::setenv("KV_DRIVE_C", (dir.path / "c").c_str(), 1);
  Raw raw((dir.path / "raw.db").string());

  std::vector<std::u16string> names;
  std::vector<std::string> folded;
  for (int i = 0; i < count; ++i) names.push_back(name_of(i)), folded.push_back(lower(names.back()));
  const char16_t text[] = u"C:\\Program Files\\Dovecrest\\Hotfix";

  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Bench", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return 1;

  // Writes: every value once, half DWORDs, half strings; each side in turn.
  std::vector<double> writeLayer, writeRaw;
  for (int round = 0; round < 3; ++round) {
    writeLayer.push_back(bench::ns_per_op(count, [&] {
      for (int i = 0; i < count; ++i) {
        DWORD v = static_cast<DWORD>(i);
        if (i % 2) RegSetValueExW(key, names[i].c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
        else RegSetValueExW(key, names[i].c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
      }
    }));
    writeRaw.push_back(bench::ns_per_op(count, [&] {
      for (int i = 0; i < count; ++i) {
        DWORD v = static_cast<DWORD>(i);
        if (i % 2) raw.set(names[i], folded[i], REG_SZ, text, sizeof text);
        else raw.set(names[i], folded[i], REG_DWORD, &v, 4);
      }
    }));
  }

  // Reads: every value by name on an open key, many passes, sides alternating.
  const int passes = 20;
  std::vector<double> readLayer, readRaw, readAccessor;
  BYTE buffer[256];
  long checksum = 0;
  Windows::Registry accessor(HKEY_LOCAL_MACHINE, 0);
  for (int round = 0; round < 7; ++round) {
    readLayer.push_back(bench::ns_per_op(long{count} * passes, [&] {
      for (int p = 0; p < passes; ++p)
        for (int i = 0; i < count; ++i) {
          DWORD size = sizeof buffer, type = 0;
          if (RegQueryValueExW(key, names[i].c_str(), nullptr, &type, buffer, &size) == ERROR_SUCCESS)
            checksum += buffer[0];
        }
    }));
    readRaw.push_back(bench::ns_per_op(long{count} * passes, [&] {
      for (int p = 0; p < passes; ++p)
        for (int i = 0; i < count; ++i) {
          DWORD size = sizeof buffer;
          if (raw.get(folded[i], buffer, size)) checksum += buffer[0];
        }
    }));
    readAccessor.push_back(bench::ns_per_op(count, [&] {
      for (int i = 0; i < count; i += 2) checksum += accessor.getDword(u"Software\\Bench", names[i], 0);
    }) * 2);
  }
  RegCloseKey(key);

  double rl = median(readLayer), rr = median(readRaw), wl = median(writeLayer), wr = median(writeRaw);
  std::printf("registry, %d values (checksum %ld)\n", count, checksum);
  std::printf("  read on an open key   layer %8.0f ns   raw SQLite %8.0f ns   ratio %.2f (goal <= 1.5)\n", rl, rr,
              rl / rr);
  std::printf("  write, one commit     layer %8.0f ns   raw SQLite %8.0f ns   ratio %.2f\n", wl, wr, wl / wr);
  std::printf("  accessor getDword (open, size query, read, close): %.0f ns = %.1f raw reads\n",
              median(readAccessor), median(readAccessor) / rr);
  return 0;
}
