// The msi.dll layer against raw libmsi doing the same calls in the same process:
// reading every row of a File table of N rows (every field as text), 1,000
// look-ups by key, and 10,000 single-row updates with a commit. The layer adds
// its handle table, UTF-16 conversion and statement bridge.
// Goal: within 1.2x of raw libmsi (the model above it must stay within 1.5x).
// Usage: bench_msi_layer [rows...]   (default: 10000 50000)
#include <libmsi.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "platform/msi/msi.h"
#include "platform/win32/windows.h"

namespace {

std::string key(int i) { return "File" + std::to_string(i); }

bool buildPackage(const std::filesystem::path& dir, int rows) {
  std::filesystem::path idt = dir / "File.idt";
  {
    std::ofstream out(idt);
    out << "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n"
           "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti4\nFile\tFile\n";
    for (int i = 0; i < rows; ++i)
      out << key(i) << "\tComp" << i % 97 << "\tFILE" << i << ".DAT|file number " << i << ".dat\t" << 1000 + i
          << "\t1.0." << i << "\t1033\t512\t" << i + 1 << "\n";
  }
  std::string cmd = "msibuild '" + (dir / "bench.msi").string() + "' -i '" + idt.string() + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

std::u16string windowsPath(const std::filesystem::path& p) { return win32::to_windows_path(p.string()); }

// --- the layer ------------------------------------------------------------

std::u16string text(MSIHANDLE rec, UINT field) {
  DWORD n = 0;
  WCHAR empty[1] = {0};
  MsiRecordGetStringW(rec, field, empty, &n);
  std::u16string s(n + 1, u'\0');
  DWORD room = n + 1;
  MsiRecordGetStringW(rec, field, s.data(), &room);
  s.resize(room);
  return s;
}

std::size_t layerReadAll(const std::u16string& path) {
  MSIHANDLE db = 0, view = 0, row = 0;
  std::size_t chars = 0;
  MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &db);
  MsiDatabaseOpenViewW(db, u"SELECT * FROM `File`", &view);
  MsiViewExecute(view, 0);
  while (MsiViewFetch(view, &row) == ERROR_SUCCESS) {
    for (UINT f = 1, n = MsiRecordGetFieldCount(row); f <= n; ++f) chars += text(row, f).size();
    MsiCloseHandle(row);
  }
  MsiViewClose(view);
  MsiCloseHandle(view);
  MsiCloseHandle(db);
  return chars;
}

std::size_t layerLookups(const std::u16string& path, int rows, int count) {
  MSIHANDLE db = 0;
  std::size_t chars = 0;
  MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &db);
  for (int i = 0; i < count; ++i) {
    MSIHANDLE view = 0, rec = MsiCreateRecord(1), row = 0;
    std::string k = key((i * 7919) % rows);
    MsiRecordSetStringW(rec, 1, std::u16string(k.begin(), k.end()).c_str());
    MsiDatabaseOpenViewW(db, u"SELECT `FileName`, `FileSize` FROM `File` WHERE `File` = ?", &view);
    MsiViewExecute(view, rec);
    if (MsiViewFetch(view, &row) == ERROR_SUCCESS) chars += text(row, 1).size(), MsiCloseHandle(row);
    MsiViewClose(view);
    MsiCloseHandle(view);
    MsiCloseHandle(rec);
  }
  MsiCloseHandle(db);
  return chars;
}

void layerUpdates(const std::u16string& path, int count) {
  MSIHANDLE db = 0;
  MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_TRANSACT, &db);
  for (int i = 0; i < count; ++i) {
    MSIHANDLE view = 0, rec = MsiCreateRecord(2);
    MsiRecordSetInteger(rec, 1, 5000 + i);
    std::string k = key(i);
    MsiRecordSetStringW(rec, 2, std::u16string(k.begin(), k.end()).c_str());
    MsiDatabaseOpenViewW(db, u"UPDATE `File` SET `FileSize` = ? WHERE `File` = ?", &view);
    MsiViewExecute(view, rec);
    MsiViewClose(view);
    MsiCloseHandle(view);
    MsiCloseHandle(rec);
  }
  MsiDatabaseCommit(db);
  MsiCloseHandle(db);
}

// --- raw libmsi -----------------------------------------------------------

std::size_t rawReadAll(const std::string& path) {
  std::size_t chars = 0;
  LibmsiDatabase* db = libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, nullptr);
  LibmsiQuery* q = libmsi_query_new(db, "SELECT * FROM `File`", nullptr);
  libmsi_query_execute(q, nullptr, nullptr);
  while (LibmsiRecord* row = libmsi_query_fetch(q, nullptr)) {
    for (guint f = 1, n = libmsi_record_get_field_count(row); f <= n; ++f) {
      gchar* s = libmsi_record_get_string(row, f);
      chars += s ? std::strlen(s) : 0;
      g_free(s);
    }
    g_object_unref(row);
  }
  libmsi_query_close(q, nullptr);
  g_object_unref(q);
  g_object_unref(db);
  return chars;
}

std::size_t rawLookups(const std::string& path, int rows, int count) {
  std::size_t chars = 0;
  LibmsiDatabase* db = libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, nullptr);
  for (int i = 0; i < count; ++i) {
    LibmsiRecord* rec = libmsi_record_new(1);
    libmsi_record_set_string(rec, 1, key((i * 7919) % rows).c_str());
    LibmsiQuery* q = libmsi_query_new(db, "SELECT `FileName`, `FileSize` FROM `File` WHERE `File` = ?", nullptr);
    libmsi_query_execute(q, rec, nullptr);
    if (LibmsiRecord* row = libmsi_query_fetch(q, nullptr)) {
      gchar* s = libmsi_record_get_string(row, 1);
      chars += s ? std::strlen(s) : 0;
      g_free(s);
      g_object_unref(row);
    }
    libmsi_query_close(q, nullptr);
    g_object_unref(q);
    g_object_unref(rec);
  }
  g_object_unref(db);
  return chars;
}

void rawUpdates(const std::string& path, int count) {
  LibmsiDatabase* db = libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_TRANSACT, nullptr, nullptr);
  for (int i = 0; i < count; ++i) {
    LibmsiRecord* rec = libmsi_record_new(2);
    libmsi_record_set_int(rec, 1, 5000 + i);
    libmsi_record_set_string(rec, 2, key(i).c_str());
    LibmsiQuery* q = libmsi_query_new(db, "UPDATE `File` SET `FileSize` = ? WHERE `File` = ?", nullptr);
    libmsi_query_execute(q, rec, nullptr);
    libmsi_query_close(q, nullptr);
    g_object_unref(q);
    g_object_unref(rec);
  }
  libmsi_database_commit(db, nullptr);
  g_object_unref(db);
}

template <class F>
double median_of(int runs, F f) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto start = bench::clock_type::now();
    f();
    t.push_back(bench::seconds_since(start));
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

void row(const char* what, double ours, double theirs) {
  std::printf("%-32s %9.1f ms %9.1f ms   ratio %.2f\n", what, ours * 1e3, theirs * 1e3, ours / theirs);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {10000, 50000};
  bench::temp_folder tmp("bench-msi-");
  if (tmp.path.empty()) return 1;
  ::setenv("KV_WORLD_ROOT", (tmp.path / "world").c_str(), 1);
  ::setenv("KV_DRIVE_C", (tmp.path / "c").c_str(), 1);
  std::printf("%-32s %12s %12s\n", "medians of 5", "layer", "raw libmsi");
  for (int rows : sizes) {
    std::filesystem::path dir = tmp.path / ("n" + std::to_string(rows));
    std::filesystem::create_directories(dir);
    if (!buildPackage(dir, rows)) {
      std::fprintf(stderr, "msibuild failed\n");
      return 1;
    }
    std::filesystem::path msi = dir / "bench.msi", work = dir / "work.msi";
    std::u16string wmsi = windowsPath(msi), wwork = windowsPath(work);
    std::size_t a = 0, b = 0;
    double ours = median_of(5, [&] { a = layerReadAll(wmsi); });
    double theirs = median_of(5, [&] { b = rawReadAll(msi.string()); });
    std::printf("%d rows\n", rows);
    row("  read every row, every field", ours, theirs);
    if (a == 0 || b == 0) std::fprintf(stderr, "nothing read (%zu, %zu)\n", a, b);
    ours = median_of(5, [&] { layerLookups(wmsi, rows, 1000); });
    theirs = median_of(5, [&] { rawLookups(msi.string(), rows, 1000); });
    row("  1,000 look-ups by key", ours, theirs);
    int updates = std::min(rows, 10000);
    auto fresh = [&] { std::filesystem::copy_file(msi, work, std::filesystem::copy_options::overwrite_existing); };
    std::vector<double> o, t;
    for (int i = 0; i < 5; ++i) {
      fresh();
      auto s = bench::clock_type::now();
      layerUpdates(wwork, updates);
      o.push_back(bench::seconds_since(s));
      fresh();
      s = bench::clock_type::now();
      rawUpdates(work.string(), updates);
      t.push_back(bench::seconds_since(s));
    }
    std::sort(o.begin(), o.end());
    std::sort(t.begin(), t.end());
    row("  10,000 updates + commit", o[2], t[2]);
  }
  return 0;
}
