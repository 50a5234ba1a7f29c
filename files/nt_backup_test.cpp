#include "files/nt_backup.h"

#include <sys/xattr.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "files/file_time.h"
#include "files/fs_test_world.h"
#include "files/memory_file.h"
#include "files/windows_dir.h"
#include "files/winnt_dir.h"
#include "platform/win32/testing/test_security.h"
#include "platform/win32/windows.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Parts = std::vector<std::pair<int, Bytes>>;

// The archive of a backup: every part as the kind and the bytes it got.
class MemoryWriter : public backup_writer {
 public:
  class Sink : public file_backup_stream {
   public:
    explicit Sink(Bytes& out) : out_(out) {}
    void write(raw_data* block) override {
      out_.insert(out_.end(), block->buffer + block->offset, block->buffer + block->offset + block->size);
      release(block);
    }

   private:
    Bytes& out_;
  };
  file_backup_stream* open_part(int kind) override {
    parts.emplace_back(kind, Bytes());
    return new Sink(parts.back().second);
  }
  Parts parts;
};

// The archive of a restore, serving parts from memory.
class MemoryReader : public backup_reader {
 public:
  explicit MemoryReader(Parts parts) : parts_(std::move(parts)) {}
  i_file* next_part(int& kind) override {
    if (next_ == parts_.size()) {
      raise(KV_SITE, fs_error::end_of_file);
      return nullptr;
    }
    kind = parts_[next_].first;
    const Bytes& b = parts_[next_++].second;
    Common::MemoryFile* f = Common::CreateMemoryFile();
    if (!b.empty()) f->write_exact(b.data(), static_cast<std::uint32_t>(b.size()));
    f->rewind();
    return f;
  }

 private:
  Parts parts_;
  std::size_t next_ = 0;
};

class Progress : public backup_progress {
 public:
  void set_position(std::uint64_t done) override { positions.push_back(done); }
  bool is_canceled() override { return cancel_after >= 0 && static_cast<int>(positions.size()) >= cancel_after; }
  int ask(int question, const char16_t*) override {
    questions.push_back(question);
    return answer;
  }
  std::vector<std::uint64_t> positions;
  std::vector<int> questions;
  int cancel_after = -1;
  int answer = 0;
};

struct Stream {
  std::uint32_t id;
  std::u16string name;
  Bytes body;
};

// Walks the streams part by the documented header layout.
std::vector<Stream> streams_of(const Bytes& b) {
  std::vector<Stream> out;
  std::size_t at = 0;
  while (at + 20 <= b.size()) {
    Stream s;
    std::uint64_t size;
    std::uint32_t name_size;
    std::memcpy(&s.id, &b[at], 4);
    std::memcpy(&size, &b[at + 8], 8);
    std::memcpy(&name_size, &b[at + 16], 4);
    s.name.resize(name_size / 2);
    std::memcpy(s.name.data(), &b[at + 20], name_size);
    s.body.assign(b.begin() + static_cast<std::ptrdiff_t>(at + 20 + name_size),
                  b.begin() + static_cast<std::ptrdiff_t>(at + 20 + name_size + size));
    at += 20 + name_size + size;
    out.push_back(std::move(s));
  }
  EXPECT_EQ(at, b.size());
  return out;
}

std::vector<int> kinds_of(const Parts& parts) {
  std::vector<int> k;
  for (auto& p : parts) k.push_back(p.first);
  return k;
}

std::vector<std::uint32_t> ids_of(const std::vector<Stream>& s) {
  std::vector<std::uint32_t> ids;
  for (auto& x : s) ids.push_back(x.id);
  return ids;
}

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// 2021-03-04 05:06:07.008 and 2001-09-09 01:46:40 UTC.
constexpr std::int64_t kWritten = 1614834367008;
constexpr std::int64_t kCreated = 1000000000000;

class NtBackup : public fs_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    if (HasFatalFailure()) return;
    put("work/src.txt", "hello world");
    ASSERT_EQ(::setxattr(c("work/src.txt").c_str(), "user.note", "abc", 3, 0), 0);
    ASSERT_NO_FATAL_FAILURE(win32_test::grantEveryoneAll(src));
    set_times(src, kCreated, kWritten);
    ASSERT_TRUE(SetFileAttributesW(src, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  }
  static void set_times(const char16_t* path, std::int64_t created, std::int64_t written) {
    HANDLE h = CreateFileW(path, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const FILETIME c = ms_to_file_time(created), w = ms_to_file_time(written);
    ASSERT_TRUE(SetFileTime(h, &c, nullptr, &w));
    CloseHandle(h);
  }
  static std::pair<std::int64_t, std::int64_t> times_of(const char16_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    EXPECT_TRUE(GetFileAttributesExW(path, GetFileExInfoStandard, &d));
    return {file_time_to_ms(d.ftCreationTime), file_time_to_ms(d.ftLastWriteTime)};
  }
  Parts backup(const char16_t* path, std::uint32_t options, std::uint32_t expect_code = 0,
               backup_progress* progress = nullptr) {
    MemoryWriter w;
    Common::Error e;
    backup_file(e, path, &w, progress, options);
    EXPECT_EQ(e.code(), expect_code);
    return w.parts;
  }
  std::uint32_t restore(const char16_t* path, Parts parts, std::uint32_t options = 0,
                        backup_progress* progress = nullptr) {
    MemoryReader r(std::move(parts));
    Common::Error e;
    restore_file(e, path, &r, progress, options);
    return e.code();
  }
  std::string xattr(const std::string& rel) {
    char buf[64];
    const ssize_t n = ::getxattr(c(rel).c_str(), "user.note", buf, sizeof buf);
    return n < 0 ? "<none>" : std::string(buf, static_cast<std::size_t>(n));
  }
  const char16_t* src = u"\\\\?\\C:\\work\\src.txt";
  const char16_t* dst = u"\\\\?\\C:\\work\\dst.txt";
};

TEST_F(NtBackup, PartsComeInOrderWithTheStreamsEachOptionKeeps) {
  const Bytes security = win32_test::securityOf(src);
  struct Case {
    std::uint32_t options;
    std::vector<int> kinds;
    std::vector<std::uint32_t> ids;
  } cases[] = {
      {0, {1, 2, 5}, {1, 3, 4}},
      {backup_option::no_security, {1, 2, 5}, {1, 4}},
      {backup_option::no_data_streams, {1, 2, 5}, {3, 4}},
      {backup_option::data_only, {2}, {1}},
      {backup_option::no_security | backup_option::no_data_streams, {1, 2, 5}, {4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const Parts parts = backup(src, c.options);
    ASSERT_EQ(kinds_of(parts), c.kinds);
    const auto streams = streams_of(parts[c.kinds.size() == 1 ? 0 : 1].second);
    ASSERT_EQ(ids_of(streams), c.ids);
    for (const Stream& s : streams) {
      if (s.id == 1) {
        EXPECT_EQ(s.body, bytes("hello world"));
      } else if (s.id == 3) {
        EXPECT_EQ(s.body, security);
      } else if (s.id == 4) {
        EXPECT_EQ(s.name, u":note:$DATA");
        EXPECT_EQ(s.body, bytes("abc"));
      }
    }
    if (c.kinds.size() == 1) continue;
    std::uint32_t attributes;
    ASSERT_EQ(parts[0].second.size(), 4u);
    std::memcpy(&attributes, parts[0].second.data(), 4);
    EXPECT_EQ(attributes, DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE});
    std::int64_t times[2];
    ASSERT_EQ(parts[2].second.size(), 16u);
    std::memcpy(times, parts[2].second.data(), 16);
    EXPECT_EQ(times[0], kWritten);
    EXPECT_EQ(times[1], kCreated);
  }
}

TEST_F(NtBackup, RestoreOntoAnotherFileReproducesEverything) {
  put("work/dst.txt", "old and longer content");
  const Parts parts = backup(src, 0);
  EXPECT_EQ(restore(dst, parts), 0u);
  EXPECT_EQ(get("work/dst.txt"), "hello world");
  EXPECT_EQ(xattr("work/dst.txt"), "abc");
  EXPECT_EQ(win32_test::securityOf(dst), win32_test::securityOf(src));
  EXPECT_EQ(GetFileAttributesW(dst), DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE});
  EXPECT_EQ(times_of(dst), std::make_pair(kCreated, kWritten));
  // A missing target is made.
  EXPECT_EQ(restore(u"\\\\?\\C:\\work\\new.txt", parts), 0u);
  EXPECT_EQ(get("work/new.txt"), "hello world");
}

TEST_F(NtBackup, RestoreOfAReadOnlyTargetAndTheTimeOptions) {
  put("work/dst.txt", "x");
  ASSERT_TRUE(SetFileAttributesW(dst, FILE_ATTRIBUTE_READONLY));
  set_times(dst, kCreated + 1000, kWritten + 1000);
  Parts parts = backup(src, 0);
  EXPECT_EQ(restore(dst, parts, restore_option::no_times), 0u);
  EXPECT_EQ(get("work/dst.txt"), "hello world");
  EXPECT_EQ(GetFileAttributesW(dst), DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE});
  EXPECT_EQ(times_of(dst).first, kCreated + 1000);
  EXPECT_NE(times_of(dst).second, kWritten);
  // A zero creation time leaves the file's own; the last-write time is set.
  std::memset(parts[2].second.data() + 8, 0, 8);
  EXPECT_EQ(restore(dst, parts), 0u);
  EXPECT_EQ(times_of(dst), std::make_pair(kCreated + 1000, kWritten));
}

TEST_F(NtBackup, RestoreSkipsOtherKindsAndPartsBeforeTheAttributes) {
  Parts parts = backup(src, 0);
  Parts odd{{2, bytes("not streams at all")}, {7, bytes("?")}};
  odd.insert(odd.end(), parts.begin(), parts.end());
  odd.insert(odd.begin() + 3, {9, bytes("junk")});
  odd.insert(odd.begin() + 4, {1, bytes("zzzz")});  // a second attributes part
  EXPECT_EQ(restore(dst, odd), 0u);
  EXPECT_EQ(get("work/dst.txt"), "hello world");
}

TEST_F(NtBackup, DataOnlySkipsDirectoriesAndADriveBacksUpItsRoot) {
  EXPECT_TRUE(backup(u"\\\\?\\C:\\work", backup_option::data_only).empty());
  const Parts root = backup(u"C:", backup_option::no_security);
  ASSERT_EQ(kinds_of(root), (std::vector<int>{1, 2, 5}));
  std::uint32_t attributes;
  std::memcpy(&attributes, root[0].second.data(), 4);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(streams_of(root[1].second).empty());
  const Parts missing = backup(u"\\\\?\\C:\\work\\nothing", 0, fs_error::not_found);
  EXPECT_TRUE(missing.empty());
}

TEST_F(NtBackup, ADirectoryRestoresIntoANewOrExistingFolder) {
  const Parts parts = backup(u"\\\\?\\C:\\work", backup_option::no_security);
  EXPECT_EQ(restore(u"\\\\?\\C:\\made", parts), 0u);
  EXPECT_TRUE(GetFileAttributesW(u"C:\\made") & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(restore(u"\\\\?\\C:\\made", parts), 0u);
}

TEST_F(NtBackup, CancellationStopsBothSides) {
  put("work/big.bin", std::string(100000, 'b'));
  Progress p;
  p.cancel_after = 3;
  backup(u"\\\\?\\C:\\work\\big.bin", 0, fs_error::cancelled, &p);
  EXPECT_EQ(p.positions.size(), 3u);
  // Without a progress object it runs to the end.
  const Parts parts = backup(u"\\\\?\\C:\\work\\big.bin", 0);
  ASSERT_EQ(kinds_of(parts), (std::vector<int>{1, 2, 5}));
  Progress q;
  q.cancel_after = 4;
  EXPECT_EQ(restore(dst, parts, 0, &q), fs_error::cancelled);
  EXPECT_EQ(q.positions.size(), 4u);
}

TEST_F(NtBackup, BackupErrorsCarryThePathAndHints) {
  const Common::Error cause = make_fs_error(KV_SITE, fs_error::read);
  const Common::Error e = make_backup_error(KV_SITE, fs_error::restore, u"C:\\p", 3, cause);
  EXPECT_EQ(e.code(), 0x4001au);
  EXPECT_STREQ(e.fieldNames(), "Path,Hints");
  EXPECT_EQ(e.numberField("Hints"), 3u);
  EXPECT_EQ(std::u16string(e.wideField("Path")), u"C:\\p");
  EXPECT_EQ(e.cause().code(), fs_error::read);
}

// A target held open by a reader that shares no writing cannot be written;
// the restore goes on only when the target already is what the part holds.
class IdenticalTarget : public NtBackup {
 protected:
  std::uint32_t restore_locked(const Parts& parts, std::uint32_t options = 0) {
    HANDLE h = CreateFileW(dst, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    const std::uint32_t code = restore(dst, parts, options);
    CloseHandle(h);
    return code;
  }
};

TEST_F(IdenticalTarget, AnIdenticalTargetIsLeftAlone) {
  const Parts parts = backup(src, 0);
  ASSERT_EQ(restore(dst, parts), 0u);
  EXPECT_EQ(restore_locked(parts), 0u);
  // Saved without security, the comparison goes on without it.
  EXPECT_EQ(restore_locked(backup(src, backup_option::no_security)), 0u);
}

TEST_F(IdenticalTarget, ADifferentTargetIsNeverLeftUnrestoredWithSuccess) {
  const Parts parts = backup(src, 0);
  ASSERT_EQ(restore(dst, parts), 0u);
  struct Case {
    const char* what;
    std::string data;
    bool drop_note;
  } cases[] = {
      {"one byte differs", "hello World", false},
      {"shorter", "hello", false},
      {"longer", "hello world!", false},
      {"a stream missing", "hello world", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(restore(dst, parts), 0u);
    HANDLE h = CreateFileW(dst, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(h, c.data.data(), static_cast<DWORD>(c.data.size()), &n, nullptr);
    CloseHandle(h);
    if (c.drop_note) ::removexattr(this->c("work/dst.txt").c_str(), "user.note");
    for (std::uint32_t options : {0u, std::uint32_t{restore_option::no_security}}) {
      const std::uint32_t code = restore_locked(parts, options);
      EXPECT_EQ(code & 0xFFFF0000u, 0x40000u) << options;
      EXPECT_NE(code, 0u) << options;
      EXPECT_EQ(get("work/dst.txt"), c.data);
    }
  }
  // A big target differing only after the first compared block.
  put("work/big.bin", std::string(40000, 'q'));
  const Parts big = backup(u"\\\\?\\C:\\work\\big.bin", 0);
  ASSERT_EQ(restore(dst, big), 0u);
  put("work/dst.txt", std::string(39999, 'q') + "Q");
  EXPECT_NE(restore_locked(big), 0u);
}

TEST_F(NtBackup, ControlRequestsOfTheNtDirectory) {
  winnt_dir dir(u"C:\\work\\");
  MemoryWriter w;
  the_identifier id(u"src.txt", nullptr, 0);
  backup_request bk{control_code("BKUP"), &w, nullptr, backup_option::no_security, &id};
  dir.control(&bk);
  EXPECT_TRUE(dir.Good()) << dir.error_code();
  ASSERT_EQ(kinds_of(w.parts), (std::vector<int>{1, 2, 5}));
  MemoryReader r(w.parts);
  the_identifier target(u"copy.txt", nullptr, 0);
  backup_request rs{control_code("RSTR"), &r, nullptr, 0, &target};
  dir.control(&rs);
  EXPECT_TRUE(dir.Good()) << dir.error_code();
  EXPECT_EQ(get("work/copy.txt"), "hello world");
  winnt_dir computer;
  computer.control(&bk);
  EXPECT_EQ(computer.error_code(), fs_error::open);
}

}  // namespace

namespace {

Bytes attributes_part(DWORD a) {
  Bytes b(4);
  std::memcpy(b.data(), &a, 4);
  return b;
}

TEST_F(NtBackup, PlainContentIsWrittenAndRawEncryptedDataFailsWithoutEncryption) {
  const std::string big(10000, 'p');
  EXPECT_EQ(restore(dst, {{1, attributes_part(FILE_ATTRIBUTE_ARCHIVE)}, {4, bytes(big)}}), 0u);
  EXPECT_EQ(get("work/dst.txt"), big);
  EXPECT_EQ(GetFileAttributesW(dst), DWORD{FILE_ATTRIBUTE_ARCHIVE});

  MemoryReader r({{1, attributes_part(FILE_ATTRIBUTE_ARCHIVE)}, {3, bytes("raw")}});
  Common::Error e;
  restore_file(e, u"\\\\?\\C:\\work\\enc.txt", &r, nullptr, 0);
  EXPECT_EQ(e.code(), fs_error::restore);
  EXPECT_EQ(e.numberField("Hints"), 3u);
  EXPECT_EQ(std::u16string(e.wideField("Path")), u"\\\\?\\C:\\work\\enc.txt");
  EXPECT_STREQ(e.cause().narrowField("function"), "OpenEncryptedFileRawW");
  EXPECT_EQ(e.cause().cause().numberField("code"), 0x80070000u | 6014u);
}

TEST_F(NtBackup, AnArchiveWithoutAttributesOrWithAShortOneFails) {
  EXPECT_EQ(restore(dst, {{2, bytes("x")}}), fs_error::end_of_file);
  EXPECT_EQ(restore(dst, {{1, bytes("ab")}}), fs_error::end_of_file);
  EXPECT_EQ(GetFileAttributesW(dst), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
