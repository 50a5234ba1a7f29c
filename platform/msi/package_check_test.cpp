// What the layer keeps away from the engine: damaged packages, statement texts
// its parser mishandles, texts outside the code page; and how it writes.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <set>

#include "platform/msi/compound.h"
#include "platform/msi/msi.h"
#include "platform/msi/msi_fixture.h"

using msi_test::Handle;
using msi_test::narrow;
using msi_test::recordString;

namespace {

std::uint32_t le32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}
void put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// The directory entry of a table stream, found by its stored (encoded) name.
std::size_t entryOf(const std::string& file, const std::u16string& name) {
  std::string bytes;
  for (char16_t c : name) bytes += static_cast<char>(c & 0xFF), bytes += static_cast<char>(c >> 8);
  std::size_t at = file.find(bytes);
  return at == std::string::npos || at % 128 != 0 ? std::string::npos : at;
}
// File offsets of every byte of a root-level stream (version 3 files, as wixl
// and msibuild write them), to damage a stream's content exactly.
std::vector<std::size_t> streamOffsets(const std::string& f, const std::u16string& name) {
  std::vector<std::uint32_t> fat;
  for (std::uint32_t i = 0; i < le32(f, 44); ++i)
    for (std::size_t k = 0; k < 128; ++k) fat.push_back(le32(f, (le32(f, 76 + 4 * i) + 1) * 512 + 4 * k));
  auto chain = [&](std::uint32_t s) {
    std::vector<std::uint32_t> out;
    for (; s < fat.size() && out.size() < fat.size(); s = fat[s]) out.push_back(s);
    return out;
  };
  std::vector<std::uint32_t> miniFat;
  for (std::uint32_t s : chain(le32(f, 60)))
    for (std::size_t k = 0; k < 128; ++k) miniFat.push_back(le32(f, (s + 1) * 512 + 4 * k));
  std::vector<std::size_t> offsets;
  const std::vector<std::uint32_t> dir = chain(le32(f, 48));
  const std::vector<std::uint32_t> mini = chain(le32(f, (dir[0] + 1) * 512 + 116));
  std::string bytes;
  for (char16_t c : name) bytes += static_cast<char>(c & 0xFF), bytes += static_cast<char>(c >> 8);
  for (std::uint32_t d : dir)
    for (std::size_t e = 0; e < 4; ++e) {
      const std::size_t at = (d + 1) * 512 + 128 * e;
      if (f.compare(at, bytes.size(), bytes) != 0 || f[at + bytes.size()] != 0) continue;
      std::uint32_t size = le32(f, at + 120), s = le32(f, at + 116);
      if (size >= 4096) {
        for (std::uint32_t sec : chain(s))
          for (std::size_t k = 0; k < 512 && offsets.size() < size; ++k) offsets.push_back((sec + 1) * 512 + k);
      } else {
        for (; s < miniFat.size() && offsets.size() < size; s = miniFat[s])
          for (std::size_t k = 0; k < 64 && offsets.size() < size; ++k) {
            std::size_t m = s * 64 + k;
            offsets.push_back((mini[m / 512] + 1) * 512 + m % 512);
          }
      }
    }
  return offsets;
}

const std::u16string kStringData = {0x4840, 0x3F3F, 0x4577, 0x446C, 0x3B6A, 0x45E4, 0x4824};
const std::u16string kStringPool = {0x4840, 0x3F3F, 0x4577, 0x446C, 0x3E6A, 0x44B2, 0x482F};
const std::u16string kColumns = {0x4840, 0x3B3F, 0x43F2, 0x4438, 0x45B1};
const std::u16string kTables = {0x4840, 0x3F7F, 0x4164, 0x422F, 0x4836};

// Open descriptors, but for the lock files of the layer's share table (one per
// bucket, kept open once used).
int openDescriptors() {
  int n = 0;
  DIR* d = ::opendir("/proc/self/fd");
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    char target[4096] = {0};
    ssize_t len = ::readlink(("/proc/self/fd/" + std::string(e->d_name)).c_str(), target, sizeof target - 1);
    if (len > 0 && std::strstr(target, "/run/locks/")) continue;
    ++n;
  }
  ::closedir(d);
  return n;
}

std::set<std::string> folderNames(const std::string& folder) {
  std::set<std::string> names;
  DIR* d = ::opendir(folder.c_str());
  while (dirent* e = ::readdir(d))
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.insert(e->d_name);
  ::closedir(d);
  return names;
}

class PackageGuard : public msi_test::PackageWorld {
 protected:
  UINT openAs(const std::string& name, LPCWSTR mode, Handle& db) { return MsiOpenDatabaseW(windowsPackage(name).c_str(), mode, db.out()); }

  // Runs one statement with text parameters; its result.
  UINT run(MSIHANDLE db, const std::u16string& sql, const std::vector<std::u16string>& params = {}) {
    Handle view;
    UINT rc = MsiDatabaseOpenViewW(db, sql.c_str(), view.out());
    if (rc) return rc;
    Handle rec;
    if (!params.empty()) {
      rec.reset(MsiCreateRecord(static_cast<UINT>(params.size())));
      for (std::size_t i = 0; i < params.size(); ++i)
        MsiRecordSetStringW(rec, static_cast<UINT>(i + 1), params[i].c_str());
    }
    rc = MsiViewExecute(view, rec);
    MsiViewClose(view);
    return rc;
  }

  // Reads every row of every table; the number of fields read.
  int readEverything(MSIHANDLE db) {
    int fields = 0;
    std::vector<std::u16string> tables;
    Handle view;
    if (MsiDatabaseOpenViewW(db, u"SELECT `Name` FROM `_Tables`", view.out()) || MsiViewExecute(view, 0)) return -1;
    for (Handle row; MsiViewFetch(view, row.out()) == 0;) tables.push_back(recordString(row, 1));
    for (const std::u16string& t : tables) {
      Handle v;
      if (MsiDatabaseOpenViewW(db, (u"SELECT * FROM `" + t + u"`").c_str(), v.out()) || MsiViewExecute(v, 0)) continue;
      for (Handle row; MsiViewFetch(v, row.out()) == 0;) {
        for (UINT i = 1; i <= MsiRecordGetFieldCount(row); ++i) {
          if (MsiRecordIsNull(row, i)) continue;
          char buf[256];
          DWORD n = sizeof buf;
          if (MsiRecordReadStream(row, i, buf, &n) != 0) recordString(row, i);
          ++fields;
        }
      }
    }
    return fields;
  }
};

// The offset of the last free entry (0xFFFFFFFF) of the sector table sector at `at`.
std::size_t lastFree(const std::string& b, std::size_t at) {
  for (std::size_t i = 512; i >= 4; i -= 4)
    if (le32(b, at + i - 4) == 0xFFFFFFFFu) return at + i - 4;
  ADD_FAILURE() << "no free entry";
  return at;
}

TEST_F(PackageGuard, DamagedPackagesAreRefusedBeforeTheEngineSeesThem) {
  const std::string original = msi_test::readFile(buildWix());
  ASSERT_GT(original.size(), 0x1A00u);
  const std::size_t dir = (static_cast<std::size_t>(le32(original, 48)) + 1) * 512;
  const std::size_t fat = (static_cast<std::size_t>(le32(original, 76)) + 1) * 512;
  const std::vector<std::size_t> summary = streamOffsets(original, u"\x05SummaryInformation");
  const std::vector<std::size_t> columns = streamOffsets(original, kColumns);
  const std::vector<std::size_t> tables = streamOffsets(original, kTables);
  ASSERT_GT(summary.size(), 48u);
  ASSERT_GT(columns.size(), 16u);
  ASSERT_GT(tables.size(), 4u);
  const std::size_t columnRows = columns.size() / 8;  // two-byte string references
  const std::size_t data = entryOf(original, kStringData);
  const std::size_t pool = entryOf(original, kStringPool);
  ASSERT_NE(data, std::string::npos);
  ASSERT_NE(pool, std::string::npos);
  const std::vector<std::size_t> poolBytes = streamOffsets(original, kStringPool);
  const std::vector<std::size_t> dataBytes = streamOffsets(original, kStringData);
  std::string texts;
  for (std::size_t o : dataBytes) texts += original[o];
  // Overwrites the first stored copy of `text` in the string data with `with`.
  auto rewrite = [&](std::string& b, const std::string& text, const std::string& with) {
    const std::size_t at = texts.find(text);
    ASSERT_NE(at, std::string::npos) << text;
    for (std::size_t i = 0; i < with.size(); ++i) b[dataBytes[at + i]] = with[i];
  };
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    UINT result;
  } cases[] = {
      {"512 zero bytes over the mini FAT", [](std::string& b) { std::memset(&b[0x1800], 0, 512); },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"cut short", [](std::string& b) { b.resize(b.size() / 2); }, ERROR_INSTALL_PACKAGE_INVALID},
      {"directory chain loops", [&](std::string& b) { put32(b, fat + 4 * le32(b, 48), le32(b, 48)); },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"directory sector out of the file", [](std::string& b) { put32(b, 48, 0x00FFFFFF); },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"string data shorter than its pool", [&](std::string& b) { put32(b, data + 120, le32(b, data + 120) - 1); },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"string pool cut inside an entry", [&](std::string& b) { put32(b, pool + 120, le32(b, pool + 120) - 2); },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"directory link out of bounds", [&](std::string& b) { put32(b, dir + 76, 0x7FFF); },
       ERROR_INSTALL_PACKAGE_INVALID},
      // What fuzzing found: the engine reads these without looking.
      {"summary section offset past the stream", [&](std::string& b) { b[summary[46]] = 0x1d; },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"summary text of length 0",
       [&](std::string& b) {
         std::string s;
         for (std::size_t o : summary) s += b[o];
         std::size_t at = le32(s, 44);
         for (std::uint32_t i = 0; i < le32(s, at + 4); ++i) {
           std::size_t prop = at + le32(s, at + 12 + 8 * i);
           if (le32(s, prop) == 30)
             for (int k = 0; k < 4; ++k) b[summary[prop + 4 + k]] = 0;
         }
       },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"a table's column numbered twice",
       [&](std::string& b) {
         b[columns[columnRows * 2 + 2]] = b[columns[columnRows * 2]];
         b[columns[columnRows * 2 + 3]] = b[columns[columnRows * 2 + 1]];
       },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"a table named by a string that does not exist",
       [&](std::string& b) { b[tables[0]] = '\xff', b[tables[1]] = '\x7f'; }, ERROR_INSTALL_PACKAGE_INVALID},
      // The catalogue as the engine's parser and table loader take it.
      {"a table name holding a backquote", [&](std::string& b) { rewrite(b, "Binary", "Binar`"); },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"a table name holding a quote", [&](std::string& b) { rewrite(b, "Binary", "Bin'ry"); },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"a column name starting with a digit", [&](std::string& b) { rewrite(b, "HashPart1", "1ashPart1"); },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"a table listed twice in _Tables",
       [&](std::string& b) { b[tables[2]] = b[tables[0]], b[tables[3]] = b[tables[1]]; }, ERROR_INSTALL_PACKAGE_INVALID},
      {"a table's column named twice",
       [&](std::string& b) {
         b[columns[columnRows * 4 + 2]] = b[columns[columnRows * 4]];
         b[columns[columnRows * 4 + 3]] = b[columns[columnRows * 4 + 1]];
       },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"a column of type 0 (no type)",
       [&](std::string& b) { b[columns[columnRows * 6]] = 0, b[columns[columnRows * 6 + 1]] = 0; },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"an integer column three bytes wide",
       [&](std::string& b) { b[columns[columnRows * 6]] = 3, b[columns[columnRows * 6 + 1]] = '\x81'; },
       ERROR_INSTALL_PACKAGE_INVALID},
      // What fuzzing found next: the engine takes a slot without references for
      // free and overwrites its text; a second copy of a text is never found.
      {"a string without references", [&](std::string& b) { b[poolBytes[6]] = 0, b[poolBytes[7]] = 0; },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"the root with a sibling", [&](std::string& b) { put32(b, dir + 72, 1); }, ERROR_INSTALL_PACKAGE_INVALID},
      {"a string stored twice", [&](std::string& b) { rewrite(b, "HashPart2", "HashPart1"); },
       ERROR_INSTALL_PACKAGE_INVALID},
      // The storage reader checks free entries too and then reads the streams
      // differently: table columns out of range, a crash in the statement parser.
      {"a free mini FAT entry pointing past the mini stream",
       [&](std::string& b) { put32(b, lastFree(b, (le32(b, 60) + 1) * 512), 0xDA); }, ERROR_INSTALL_PACKAGE_INVALID},
      {"a free FAT entry pointing past the file", [&](std::string& b) { put32(b, lastFree(b, fat), 0x00FFFFFF); },
       ERROR_INSTALL_PACKAGE_INVALID},
      {"not a compound file", [](std::string& b) { b[0] = 'X'; }, static_cast<UINT>(ERROR_OPEN_FAILED)},
  };
  for (const Case& c : cases) {
    std::string damaged = original;
    c.damage(damaged);
    put("pkg/damaged.msi", damaged);
    for (LPCWSTR mode : {MSIDBOPEN_READONLY, MSIDBOPEN_TRANSACT}) {
      Handle db;
      EXPECT_EQ(openAs("damaged.msi", mode, db), c.result) << c.what;
      Handle err(MsiGetLastErrorRecord());
      const std::string message = narrow(recordString(err, 2));
      EXPECT_NE(message.find("damaged.msi"), std::string::npos) << c.what;
      if (std::strstr(c.what, "summary") || std::strstr(c.what, "table")) {
        EXPECT_TRUE(message.find("summary") != std::string::npos || message.find("_Tables") != std::string::npos ||
                    message.find("columns") != std::string::npos)
            << c.what << ": " << message;
      }
    }
    EXPECT_EQ(msi_test::readFile(unixPackage("damaged.msi")), damaged) << c.what;
  }
  // The undamaged package passes the same check.
  EXPECT_TRUE(msi_layer::checkPackageBytes(original).ok) << msi_layer::checkPackageBytes(original).problem;
}

TEST_F(PackageGuard, RandomDamageNeverCrashesTheOpenOrTheReads) {
  const std::string wixl = msi_test::readFile(buildWix());
  const std::string msibuild = msi_test::readFile(buildSmall());
  std::mt19937 random(20);
  int opened = 0;
  for (int round = 0; round < 600; ++round) {
    const std::string& original = round % 3 ? wixl : msibuild;
    std::string damaged = original;
    const int bytes = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < bytes; ++i) damaged[random() % damaged.size()] = static_cast<char>(random());
    put("pkg/random.msi", damaged);
    Handle db;
    if (openAs("random.msi", MSIDBOPEN_READONLY, db) == 0) {
      ++opened;
      readEverything(db);
    }
    MsiCloseHandle(MsiGetLastErrorRecord());
  }
  EXPECT_GT(opened, 0) << "damage to file contents the structure does not cover still opens";
}

TEST_F(PackageGuard, OpeningAndClosingKeepsNoDescriptor) {
  buildWix();
  {
    Handle warm;
    ASSERT_EQ(openAs("demo.msi", MSIDBOPEN_TRANSACT, warm), 0u);
    ASSERT_EQ(MsiDatabaseCommit(warm), 0u);
  }
  const int before = openDescriptors();
  for (int i = 0; i < 2000; ++i) {
    Handle db;
    ASSERT_EQ(openAs("demo.msi", MSIDBOPEN_READONLY, db), 0u) << "open " << i;
  }
  EXPECT_EQ(openDescriptors(), before);
  Handle db;
  ASSERT_EQ(openAs("demo.msi", MSIDBOPEN_TRANSACT, db), 0u);
  ASSERT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {u"One", u"1"}), 0u);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  db.reset();
  EXPECT_EQ(openDescriptors(), before) << "commits reopen the package";
}

TEST_F(PackageGuard, StatementsTheEngineCannotParseSafelyAreRefused) {
  buildSmall();
  Handle db;
  ASSERT_EQ(openAs("small.msi", MSIDBOPEN_READONLY, db), 0u);
  const char16_t* refused[] = {
      u"INSERT INTO `Property` (`Property`, `Value`) VALUES",
      u"INSERT INTO `Property` (`Property`, `Value`) VALUES 'a', 'b'",
      u"SELECT * FROM `Property",
      u"SELECT * FROM `Property` WHERE `Value` = '",
      u"SELECT * FROM `Property` WHERE `Value` = 'open",
      u"SELECT * FROM `Property` WHERE `Value` = -",
      u"SELECT * FROM `Property` WHERE `Value` !",
      u"SELECT * FROM `Property` WHERE `Value` = $1",
      u"SELECT * FROM [Property",
      u"SELECT * FROM Property` WHERE `",  // the engine swallows the first backquote
      u"SELECT `Value` FROM `` WHERE `Property` = ?",  // an empty name crashed the engine's parser
      u"SELECT `Value` FROM [] WHERE `Property` = ?",
      u"",
      u"   ",
  };
  for (const char16_t* sql : refused) {
    Handle view;
    EXPECT_EQ(MsiDatabaseOpenViewW(db, sql, view.out()), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX)) << narrow(sql);
    MsiCloseHandle(MsiGetLastErrorRecord());
  }
  // Shapes next to them that are sound still run.
  const char16_t* accepted[] = {
      u"SELECT * FROM `Property` WHERE `Value` = 'it-'",
      u"SELECT * FROM `Property` WHERE `Value` <> 'x'",
      u"SELECT * FROM `Property` WHERE `Value` != 'x'",
      u"SELECT * FROM `Media` WHERE `DiskId` > -1",
  };
  for (const char16_t* sql : accepted) EXPECT_EQ(run(db, sql), 0u) << narrow(sql);
}

TEST_F(PackageGuard, TextsOutsideTheCodePageAreRefusedAndTheFileStays) {
  const std::string path = buildWix();  // code page 0, read as 1252
  const std::string before = msi_test::readFile(path);
  Handle db;
  ASSERT_EQ(openAs("demo.msi", MSIDBOPEN_TRANSACT, db), 0u);
  for (const char16_t* text : {u"Привет", u"aП", u"a✓", u"café Привет 漢字"}) {
    EXPECT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {u"Greeting", text}),
              static_cast<UINT>(ERROR_NO_UNICODE_TRANSLATION));
    Handle err(MsiGetLastErrorRecord());
    std::u16string message = recordString(err, 2);
    EXPECT_NE(message.find(text), std::u16string::npos);
    EXPECT_NE(message.find(u"code page 0 (1252)"), std::u16string::npos) << narrow(message);
    EXPECT_EQ(run(db, u"UPDATE `Property` SET `Value` = '" + std::u16string(text) + u"' WHERE `Property` = 'ProductShortName'"),
              static_cast<UINT>(ERROR_NO_UNICODE_TRANSLATION));
    MsiCloseHandle(MsiGetLastErrorRecord());
  }
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  db.reset();
  EXPECT_EQ(msi_test::exportTable(path, "Property"), msi_test::exportTable(path, "Property"));
  EXPECT_EQ(msi_test::exportTable(path, "Property").find("Greeting"), std::string::npos);

  // What 1252 holds goes in; msiinfo reads it back.
  ASSERT_EQ(openAs("demo.msi", MSIDBOPEN_TRANSACT, db), 0u);
  ASSERT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {u"Greeting", u"café"}), 0u);
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  db.reset();
  EXPECT_NE(msi_test::exportTable(path, "Property").find("Greeting\tcaf\xc3\xa9"), std::string::npos);
  (void)before;

  // Imports: a table's texts must fit, and a new code page must hold the texts
  // already stored (CP932 has no é).
  put("pkg/ru.idt", "Property\tValue\ns72\tl0\nProperty\tProperty\nRu\t\xd0\x9f\n");
  put("pkg/cp932.idt", "\r\n\r\n932\t_ForceCodepage\r\n");
  ASSERT_EQ(openAs("demo.msi", MSIDBOPEN_TRANSACT, db), 0u);
  EXPECT_EQ(MsiDatabaseImportW(db, u"C:\\pkg", u"ru.idt"), static_cast<UINT>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(MsiDatabaseImportW(db, u"C:\\pkg", u"cp932.idt"), static_cast<UINT>(ERROR_NO_UNICODE_TRANSLATION));
  Handle importErr(MsiGetLastErrorRecord());
  EXPECT_NE(narrow(recordString(importErr, 2)).find("code page 932"), std::string::npos);
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  db.reset();
  EXPECT_NE(msi_test::exportTable(path, "Property").find("Greeting\tcaf\xc3\xa9"), std::string::npos);
  EXPECT_EQ(msi_test::exportTable(path, "Property").find("Ru\t"), std::string::npos);
  EXPECT_EQ(msi_test::exportTable(path, "_ForceCodepage").find("932"), std::string::npos);

  // A UTF-8 package takes any text.
  put("pkg/cp.idt", "\r\n\r\n65001\t_ForceCodepage\r\n");
  ASSERT_EQ(openAs("demo.msi", MSIDBOPEN_TRANSACT, db), 0u);
  ASSERT_EQ(MsiDatabaseImportW(db, u"C:\\pkg", u"cp.idt"), 0u);
  ASSERT_EQ(run(db, u"UPDATE `Property` SET `Value` = ? WHERE `Property` = ?", {u"café Привет 漢字", u"Greeting"}), 0u);
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  db.reset();
  EXPECT_NE(msi_test::exportTable(path, "Property").find("Greeting\tcaf\xc3\xa9 \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xe6\xbc\xa2\xe5\xad\x97"),
            std::string::npos);
}

TEST_F(PackageGuard, CommitsReplaceThePackageAtomicallyAndKeepWhatItWas) {
  const std::string path = buildSmall();
  const std::string folder = c("pkg");
  put("pkg/small.msi.tmp", "someone else's file");
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  const std::set<std::string> namesBefore = folderNames(folder);
  Handle db;
  ASSERT_EQ(openAs("small.msi", MSIDBOPEN_TRANSACT, db), 0u);
  ASSERT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {u"First", u"1"}), 0u);
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  ASSERT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {u"Second", u"2"}), 0u);
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  db.reset();
  std::string rows = msi_test::exportTable(path, "Property");
  EXPECT_NE(rows.find("First\t1"), std::string::npos);
  EXPECT_NE(rows.find("Second\t2"), std::string::npos);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(msi_test::readFile(path + ".tmp"), "someone else's file");
  EXPECT_EQ(folderNames(folder), namesBefore) << "no temporary file stays behind";

  // Through a symbolic link: the link stays, its target changes.
  ASSERT_EQ(::symlink(path.c_str(), c("pkg/link.msi").c_str()), 0);
  ASSERT_EQ(openAs("link.msi", MSIDBOPEN_TRANSACT, db), 0u);
  ASSERT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {u"Linked", u"3"}), 0u);
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  db.reset();
  struct stat lst;
  ASSERT_EQ(::lstat(c("pkg/link.msi").c_str(), &lst), 0);
  EXPECT_TRUE(S_ISLNK(lst.st_mode));
  EXPECT_NE(msi_test::exportTable(path, "Property").find("Linked\t3"), std::string::npos);

  // A change never committed leaves the package and the folder as they were.
  const std::string committed = msi_test::readFile(path);
  ASSERT_EQ(openAs("small.msi", MSIDBOPEN_TRANSACT, db), 0u);
  ASSERT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {u"Dropped", u"4"}), 0u);
  db.reset();
  EXPECT_EQ(msi_test::readFile(path), committed);
  std::set<std::string> namesAfter = namesBefore;
  namesAfter.insert("link.msi");
  EXPECT_EQ(folderNames(folder), namesAfter);
}

TEST_F(PackageGuard, ReadOnlyPackagesAndSecondWritersAreRefused) {
  const std::string path = buildSmall();
  const std::string before = msi_test::readFile(path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  Handle db;
  EXPECT_EQ(openAs("small.msi", MSIDBOPEN_TRANSACT, db), static_cast<UINT>(ERROR_OPEN_FAILED));
  Handle err(MsiGetLastErrorRecord());
  EXPECT_NE(narrow(recordString(err, 2)).find("read-only"), std::string::npos);
  EXPECT_EQ(openAs("small.msi", MSIDBOPEN_READONLY, db), 0u) << "reading stays allowed";
  db.reset();
  EXPECT_EQ(msi_test::readFile(path), before);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

  Handle first, second, reader;
  ASSERT_EQ(openAs("small.msi", MSIDBOPEN_TRANSACT, first), 0u);
  EXPECT_EQ(openAs("small.msi", MSIDBOPEN_TRANSACT, second), static_cast<UINT>(ERROR_OPEN_FAILED));
  MsiCloseHandle(MsiGetLastErrorRecord());
  EXPECT_EQ(openAs("small.msi", MSIDBOPEN_READONLY, reader), 0u);
  ASSERT_EQ(run(first, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {u"Mine", u"1"}), 0u);
  ASSERT_EQ(MsiDatabaseCommit(first), 0u);
  EXPECT_EQ(openAs("small.msi", MSIDBOPEN_TRANSACT, second), static_cast<UINT>(ERROR_OPEN_FAILED))
      << "the hold moves to the committed file";
  MsiCloseHandle(MsiGetLastErrorRecord());
  first.reset();
  EXPECT_EQ(openAs("small.msi", MSIDBOPEN_TRANSACT, second), 0u);

  // A new package is held from its first commit on.
  Handle created, other;
  ASSERT_EQ(openAs("new.msi", MSIDBOPEN_CREATE, created), 0u);
  ASSERT_EQ(run(created, u"CREATE TABLE `T` (`A` SHORT NOT NULL PRIMARY KEY `A`)"), 0u);
  ASSERT_EQ(MsiDatabaseCommit(created), 0u);
  EXPECT_NE(msi_test::run("msiinfo tables " + msi_test::quote(unixPackage("new.msi"))).find("T"), std::string::npos);
  EXPECT_EQ(openAs("new.msi", MSIDBOPEN_TRANSACT, other), static_cast<UINT>(ERROR_OPEN_FAILED));
  MsiCloseHandle(MsiGetLastErrorRecord());
}

}  // namespace
