#include "files/win32_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files/file_time.h"
#include "files/fs_test_world.h"
#include "files/win32_calls.h"
#include "files/windows_dir.h"

namespace {

using fs_test::narrow;

class Win32File : public fs_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    work_.reset(root_dir()->open_dir_path(u"C:\\work"));
    ASSERT_TRUE(work_);
  }
  std::unique_ptr<rio_file> create(const char16_t* name, bool share = false) {
    return std::unique_ptr<rio_file>(work_->create_file(name, share, nullptr));
  }
  std::unique_ptr<win32_dir> work_;
};

TEST_F(Win32File, WriteSeekReadRoundTrip) {
  auto f = create(u"a.bin");
  ASSERT_TRUE(f) << narrow(work_->error().text().c_str());
  const char text[] = "hello, world";
  std::uint32_t n = 0;
  f->write(text, 12, n);
  EXPECT_EQ(n, 12u);
  EXPECT_EQ(f->size(), 12u);
  EXPECT_EQ(f->seek_cur(0), 12);  // size() keeps the position
  EXPECT_EQ(f->seek_set(7), 7);
  char buf[16] = {};
  f->read(buf, sizeof buf, n);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(std::string(buf, n), "world");
  EXPECT_EQ(f->seek_end(-5), 7);
  EXPECT_EQ(f->seek_cur(-2), 5);
  EXPECT_EQ(f->rewind(), 0);
  f->flush();
  EXPECT_TRUE(f->Good());
  f.reset();
  EXPECT_EQ(get("work/a.bin"), "hello, world");
}

TEST_F(Win32File, ReadingAtTheEndGivesZeroAndStaysGood) {
  put("work/e.bin", "abc");
  std::unique_ptr<ri_file> f(work_->open_file(u"e.bin", false));
  ASSERT_TRUE(f);
  char buf[8];
  std::uint32_t n = 99;
  f->read(buf, sizeof buf, n);
  EXPECT_EQ(n, 3u);
  f->read(buf, sizeof buf, n);
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(f->Good());
  f->read_exact(buf, 1);
  EXPECT_EQ(f->error_code(), 0x40002u);
}

TEST_F(Win32File, CreateTruncatesAnExistingFile) {
  put("work/t.bin", "old contents");
  auto f = create(u"t.bin");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->size(), 0u);
}

TEST_F(Win32File, OpenErrorsCarryFunctionFileNameAndCause) {
  std::unique_ptr<ri_file> f(work_->open_file(u"missing.txt", false));
  EXPECT_FALSE(f);
  const Common::Error& e = work_->error();
  EXPECT_EQ(e.code(), 0x40011u);
  EXPECT_EQ(e.text(), u"The specified file does not exist.");
  EXPECT_STREQ(e.fieldNames(), "function,filename");
  EXPECT_STREQ(e.narrowField("function"), "OpenFileW");
  EXPECT_EQ(narrow(e.wideField("filename")), "\\\\?\\C:\\work\\missing.txt");
  EXPECT_EQ(e.cause().numberField("code"), 0x80070002u);

  // A successful open clears the directory's error.
  put("work/here.txt", "x");
  f.reset(work_->open_file(u"here.txt", false));
  EXPECT_TRUE(f);
  EXPECT_TRUE(work_->Good());
}

TEST_F(Win32File, InvalidNamesFailWithThePlainBadPathCode) {
  const struct {
    const char* what;
    std::uint32_t code;
    bool (*run)(win32_dir&);
  } cases[] = {
      {"open", 0x40007, [](win32_dir& d) { return std::unique_ptr<ri_file>(d.open_file(u"a*b", false)) != nullptr; }},
      {"open rw", 0x40007,
       [](win32_dir& d) { return std::unique_ptr<rio_file>(d.open_file_rw(u"a|b", false)) != nullptr; }},
      {"create", 0x4000a,
       [](win32_dir& d) { return std::unique_ptr<rio_file>(d.create_file(u"a?b", false, nullptr)) != nullptr; }},
      {"create long", 0x4000a,
       [](win32_dir& d) {
         const std::u16string name(256, u'n');
         return std::unique_ptr<rio_file>(d.create_file(name.c_str(), false, nullptr)) != nullptr;
       }},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(c.run(*work_)) << c.what;
    EXPECT_EQ(work_->error_code(), c.code) << c.what;
    EXPECT_STREQ(work_->error().fieldNames(), "") << c.what;
    EXPECT_FALSE(work_->error().cause()) << c.what;
  }
}

TEST_F(Win32File, OpenByIdentifierAndByEntry) {
  put("work/id.txt", "by id");
  the_identifier id(u"id.txt", nullptr, 0);
  std::unique_ptr<ri_file> f(work_->open_file(&id, false));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->size(), 5u);

  f.reset(work_->open_file(static_cast<const file_identifier*>(nullptr), false));
  EXPECT_FALSE(f);
  EXPECT_EQ(work_->error_code(), 0x40007u);

  std::unique_ptr<ro_file> w(work_->open_file_for_write(static_cast<i_dir::iterator*>(nullptr), false));
  EXPECT_FALSE(w);
  EXPECT_EQ(work_->error_code(), 0x40007u);

  // An entry iterator in error is refused like a missing one.
  win32_dir::letter_iterator letters;
  letters.position_at_letter(u'Q');
  ASSERT_TRUE(letters.Bad());
  std::unique_ptr<rio_file> rw(work_->open_file_rw(&letters, false));
  EXPECT_FALSE(rw);
  EXPECT_EQ(work_->error_code(), 0x40007u);
}

TEST_F(Win32File, ShareFlagDecidesWhoElseMayOpen) {
  put("work/s.txt", "shared");
  {
    std::unique_ptr<ri_file> reader(work_->open_file(u"s.txt", false));
    ASSERT_TRUE(reader);
    std::unique_ptr<ri_file> second_reader(work_->open_file(u"s.txt", false));
    EXPECT_TRUE(second_reader);
    std::unique_ptr<ro_file> writer(work_->open_file_for_write(u"s.txt", true));
    EXPECT_FALSE(writer);
    EXPECT_EQ(work_->error_code(), 0x40014u);
    EXPECT_STREQ(work_->error().narrowField("function"), "OpenFileW");
  }
  {
    std::unique_ptr<ri_file> reader(work_->open_file(u"s.txt", true));
    ASSERT_TRUE(reader);
    std::unique_ptr<ro_file> writer(work_->open_file_for_write(u"s.txt", true));
    EXPECT_TRUE(writer);
    std::unique_ptr<ri_file> another(work_->open_file(u"s.txt", true));
    EXPECT_TRUE(another);
  }
  {
    std::unique_ptr<ro_file> writer(work_->open_file_for_write(u"s.txt", false));
    ASSERT_TRUE(writer);
    std::unique_ptr<ri_file> reader(work_->open_file(u"s.txt", true));
    EXPECT_FALSE(reader);
    EXPECT_EQ(work_->error_code(), 0x40014u);
  }
}

TEST_F(Win32File, BadFileTransfersNothing) {
  auto f = create(u"bad.bin");
  ASSERT_TRUE(f);
  std::uint32_t n = 7;
  f->write("abc", 3, n);
  f->rewind();
  f->raise(KV_SITE, fs_error::read);
  char buf[4];
  n = 7;
  f->read(buf, 3, n);
  EXPECT_EQ(n, 0u);
  n = 7;
  f->write("xyz", 3, n);
  EXPECT_EQ(n, 0u);
  f->set_size(0);
  f->lock_exclusive(0, 1, false);
  EXPECT_EQ(f->error_code(), 0x40001u);
  // Seeks are carried out regardless.
  EXPECT_EQ(f->seek_set(2), 2);
  f.reset();
  EXPECT_EQ(get("work/bad.bin"), "abc");
}

TEST_F(Win32File, SetSizeMovesThePositionToTheNewEnd) {
  auto f = create(u"size.bin");
  ASSERT_TRUE(f);
  const std::vector<char> data(100, 'x');
  f->write_exact(data.data(), 100);
  f->set_size(10);
  EXPECT_TRUE(f->Good());
  EXPECT_EQ(f->seek_cur(0), 10);
  EXPECT_EQ(f->size(), 10u);
  f->set_size(4096);
  EXPECT_EQ(f->size(), 4096u);
  EXPECT_EQ(f->seek_cur(0), 4096);
}

TEST_F(Win32File, SeekToLowWordAllOnesIsNotAnError) {
  auto f = create(u"far.bin");
  ASSERT_TRUE(f);
  SetLastError(ERROR_ACCESS_DENIED);  // stale
  EXPECT_EQ(f->seek_set(0xFFFFFFFFll), 0xFFFFFFFFll);
  EXPECT_TRUE(f->Good());
  EXPECT_EQ(f->seek_cur(0x100000001ll), 0x200000000ll);
  EXPECT_TRUE(f->Good());
}

TEST_F(Win32File, NegativeSeekFailsWithSetFilePointer) {
  auto f = create(u"neg.bin");
  ASSERT_TRUE(f);
  f->seek_set(5);
  EXPECT_EQ(f->seek_cur(-10), 0);
  EXPECT_EQ(f->error_code(), 0x40005u);
  EXPECT_STREQ(f->error().narrowField("function"), "SetFilePointer");
  EXPECT_EQ(f->error().text(), u"Error occurred while searching in the file.");
}

TEST_F(Win32File, LocksConflictBetweenHandles) {
  auto a = create(u"lock.bin", true);
  ASSERT_TRUE(a);
  a->write_exact("0123456789", 10);
  std::unique_ptr<rio_file> b(work_->open_file_rw(u"lock.bin", true));
  ASSERT_TRUE(b);

  a->lock_exclusive(0, 5, false);
  EXPECT_TRUE(a->Good());
  b->lock_shared(2, 2, false);
  EXPECT_EQ(b->error_code(), 0x40017u);
  EXPECT_EQ(b->error().text(), u"Failed to lock the file.");
  EXPECT_STREQ(b->error().narrowField("function"), "LockFileEx");
  b->take_error();
  b->lock_shared(5, 5, false);  // outside the range
  EXPECT_TRUE(b->Good());

  a->unlock(0, 5);
  EXPECT_TRUE(a->Good());
  b->lock_exclusive(0, 5, false);
  EXPECT_TRUE(b->Good()) << narrow(b->error().text().c_str());

  a->unlock(0, 5);  // not a's lock any more
  EXPECT_EQ(a->error_code(), 0x40017u);
  EXPECT_STREQ(a->error().narrowField("function"), "UnlockFileEx");
}

TEST_F(Win32File, UnknownControlOnGoodAndBadFiles) {
  auto f = create(u"ctl.bin");
  ASSERT_TRUE(f);
  std::uint32_t request[2] = {control_code("XXXX"), 0};
  f->control(request);
  EXPECT_EQ(f->error_code(), 0x4000eu);
  f->clear_error();
  f->control(nullptr);  // no request at all: not supported either
  EXPECT_EQ(f->error_code(), 0x4000eu);
  f->raise(KV_SITE, fs_error::read);
  f->control(request);
  EXPECT_EQ(f->error_code(), 0x40001u);
  f->control(nullptr);
  EXPECT_EQ(f->error_code(), 0x40001u);
}

TEST_F(Win32File, ControlsWithoutSystemSupportSayNotSupported) {
  // The native entry points and compression are missing here, as on file
  // systems and systems that lack them.
  auto f = create(u"ctl2.bin");
  ASSERT_TRUE(f);

  volume_sector_request gsec{control_code("GSEC"), 0, 0};
  f->control(&gsec);
  EXPECT_EQ(f->error_code(), 0x4000eu);
  EXPECT_EQ(gsec.found, 0);
  f->take_error();

  priority_hint_request sphi{control_code("SPHI"), 1};
  f->control(&sphi);
  EXPECT_EQ(f->error_code(), 0x4000eu);
  f->take_error();

  compression_request cmpr{control_code("CMPR"), 1};
  f->control(&cmpr);
  EXPECT_EQ(f->error_code(), 0x4000eu);
  EXPECT_STREQ(f->error().narrowField("function"), "FSCTL_SET_COMPRESSION");
  EXPECT_EQ(f->error().cause().numberField("code"), 0x80070001u);  // ERROR_INVALID_FUNCTION
  f->take_error();

  // Raw device control reports in the request and never in the file.
  device_control_request wioc{control_code("WIOC"), 0x9C040, nullptr, 0, nullptr, 0, 77, 0};
  f->control(&wioc);
  EXPECT_TRUE(f->Good());
  EXPECT_EQ(wioc.bytes_returned, 0u);
  EXPECT_EQ(wioc.system_error, DWORD{ERROR_INVALID_FUNCTION});
}

TEST_F(Win32File, ZeroedDataLeavesAHoleThatAllocatedRangesSkip) {
  auto f = create(u"sparse.bin");
  ASSERT_TRUE(f);
  const std::vector<char> data(1 << 20, 'a');
  f->write_exact(data.data(), static_cast<std::uint32_t>(data.size()));
  f->flush();
  zero_data_request sdat{control_code("SDAT"), 4096, 64 * 1024};
  f->control(&sdat);
  ASSERT_TRUE(f->Good()) << narrow(f->error().text().c_str());
  // The Unix side reads zeros there and keeps the size.
  const std::string bytes = get("work/sparse.bin");
  ASSERT_EQ(bytes.size(), data.size());
  EXPECT_EQ(bytes[4095], 'a');
  EXPECT_EQ(bytes.find_first_not_of('\0', 4096), 4096u + 64 * 1024);

  // Many ranges need a larger buffer than the first guess.
  for (std::uint64_t at = 128 * 1024; at < 1000 * 1024; at += 128 * 1024) {
    zero_data_request hole{control_code("SDAT"), at, 64 * 1024};
    f->control(&hole);
  }
  allocated_ranges_request alcm{control_code("ALCM"), 0, data.size(), nullptr};
  f->control(&alcm);
  ASSERT_TRUE(f->Good());
  ASSERT_NE(alcm.ranges, nullptr);
  std::uint32_t count = 0;
  std::memcpy(&count, alcm.ranges, 4);
  ASSERT_EQ(count, 9u);
  std::uint64_t first[2], second[2];
  std::memcpy(first, alcm.ranges + 8, 16);
  std::memcpy(second, alcm.ranges + 24, 16);
  EXPECT_EQ(first[0], 0u);
  EXPECT_EQ(first[1], 4096u);
  EXPECT_EQ(second[0], 4096u + 64 * 1024);
  EXPECT_EQ(second[1], 128u * 1024 - second[0]);
  delete[] alcm.ranges;
}

TEST_F(Win32File, SetFileTimesChangesTheWriteTime) {
  auto f = create(u"times.bin");
  ASSERT_TRUE(f);
  const std::int64_t ms = 1000000000000;  // 2001-09-09 01:46:40 UTC
  file_times_request sftm{control_code("SFTM"), ms, 0, 0};
  f->control(&sftm);
  EXPECT_TRUE(f->Good()) << narrow(f->error().text().c_str());
  f.reset();
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(u"C:\\work\\times.bin", GetFileExInfoStandard, &data));
  EXPECT_EQ(file_time_to_ms(data.ftLastWriteTime), ms);
}

// A device that takes at most `room` more bytes, then fails with `error`.
class full_device_file : public win32_file {
 public:
  full_device_file(std::uint32_t room, DWORD error) : win32_file(nullptr), room_(room), error_(error) {}
  std::vector<DWORD> calls;

 protected:
  bool write_handle(const void*, DWORD length, DWORD* written) override {
    calls.push_back(length);
    const DWORD n = length < room_ ? length : room_;
    room_ -= n;
    *written = n;
    if (n < length) {
      SetLastError(error_);
      return false;
    }
    return true;
  }

 private:
  std::uint32_t room_;
  DWORD error_;
};

TEST(Win32FileWrite, FullDiskGivesTheBytesThatFitWithoutError) {
  for (DWORD error : {DWORD{ERROR_DISK_FULL}, DWORD{ERROR_HANDLE_DISK_FULL}}) {
    full_device_file f(300, error);
    const std::vector<char> data(1000, 'x');
    std::uint32_t n = 0;
    f.write(data.data(), 1000, n);
    EXPECT_EQ(n, 300u) << error;
    EXPECT_TRUE(f.Good()) << error;
  }
  full_device_file f(300, ERROR_DISK_FULL);
  const std::vector<char> data(1000, 'x');
  f.write_exact(data.data(), 1000);
  EXPECT_EQ(f.error_code(), 0x40004u);
}

// Failures that are not a full device keep their own codes, in both writers.
struct RefusedWrite {
  DWORD error;
  std::uint32_t code;
};
constexpr RefusedWrite kRefusedWrites[] = {
    {ERROR_ACCESS_DENIED, 0x40014u},
    {ERROR_WRITE_PROTECT, 0x4000cu},
    {ERROR_INVALID_PARAMETER, 0x40003u},
};

TEST(Win32FileWrite, RefusedWritesAreNotAFullDisk) {
  for (const RefusedWrite& r : kRefusedWrites) {
    full_device_file f(0, r.error);
    const std::vector<char> data(1000, 'x');
    std::uint32_t n = 7;
    f.write(data.data(), 1000, n);
    EXPECT_EQ(n, 0u) << r.error;
    EXPECT_EQ(f.error_code(), r.code) << r.error;
    EXPECT_STREQ(f.error().narrowField("function"), "WriteFile");
    EXPECT_EQ(f.calls.size(), 1u) << r.error;
  }
}

TEST(Win32FileWrite, OtherWriteFailuresAreErrors) {
  full_device_file f(0, 1117);  // device error
  std::uint32_t n = 5;
  f.write("abc", 3, n);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(f.error_code(), 0x40003u);
  EXPECT_STREQ(f.error().narrowField("function"), "WriteFile");
  EXPECT_EQ(f.calls.size(), 1u);
}

// An unbuffered device: refuses (with `error`, nothing written) any chunk
// above `limit`.
class nocache_device_file : public win32_nocache_file {
 public:
  nocache_device_file(std::uint32_t sector, std::uint32_t limit, DWORD error)
      : win32_nocache_file(nullptr, sector), limit_(limit), error_(error) {}
  std::vector<DWORD> calls;

 protected:
  bool write_handle(const void*, DWORD length, DWORD* written) override {
    calls.push_back(length);
    if (length > limit_) {
      *written = 0;
      SetLastError(error_);
      return false;
    }
    *written = length;
    return true;
  }

 private:
  std::uint32_t limit_;
  DWORD error_;
};

TEST(Win32NocacheWrite, PartialSectorIsNeverWritten) {
  nocache_device_file f(512, 1u << 30, 0);
  const std::vector<char> data(768, 'x');
  std::uint32_t n = 0;
  f.write(data.data(), 768, n);
  EXPECT_EQ(n, 512u);
  EXPECT_TRUE(f.Good());
  f.write_exact(data.data(), 768);
  EXPECT_EQ(f.error_code(), 0x40004u);
  for (DWORD c : f.calls) EXPECT_EQ(c % 512, 0u);
}

TEST(Win32NocacheWrite, DeviceErrorShrinksTheChunkForGood) {
  nocache_device_file f(512, 1024, 1117);
  const std::vector<char> data(4096, 'x');
  std::uint32_t n = 0;
  f.write(data.data(), 4096, n);
  EXPECT_EQ(n, 4096u);
  EXPECT_TRUE(f.Good());
  const std::uint32_t bound = f.max_chunk();
  EXPECT_LT(bound, 4096u);
  f.calls.clear();
  f.write(data.data(), 4096, n);
  EXPECT_EQ(n, 4096u);
  ASSERT_FALSE(f.calls.empty());
  for (DWORD c : f.calls) {
    EXPECT_LE(c, bound);
    EXPECT_LE(c, 1024u);
  }
}

TEST(Win32NocacheWrite, DeviceErrorAtOneSectorIsAnError) {
  nocache_device_file f(512, 0, 1117);
  const std::vector<char> data(2048, 'x');
  std::uint32_t n = 0;
  f.write(data.data(), 2048, n);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(f.error_code(), 0x40003u);
  EXPECT_STREQ(f.error().narrowField("function"), "WriteFileNoCache");
}

TEST(Win32NocacheWrite, RefusedWritesAreNotAFullDisk) {
  for (const RefusedWrite& r : kRefusedWrites) {
    nocache_device_file f(512, 0, r.error);
    const std::vector<char> data(2048, 'x');
    std::uint32_t n = 7;
    f.write(data.data(), 2048, n);
    EXPECT_EQ(n, 0u) << r.error;
    EXPECT_EQ(f.error_code(), r.code) << r.error;
    EXPECT_STREQ(f.error().narrowField("function"), "WriteFileNoCache");
    EXPECT_EQ(f.calls.size(), 1u) << r.error;
  }
  // A full device ends the write short, without error.
  nocache_device_file full(512, 0, ERROR_DISK_FULL);
  const std::vector<char> data(2048, 'x');
  std::uint32_t n = 7;
  full.write(data.data(), 2048, n);
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(full.Good());
}

TEST(Win32NocacheWrite, OtherErrorsFailAtOnce) {
  nocache_device_file f(512, 0, ERROR_INVALID_HANDLE);
  const std::vector<char> data(2048, 'x');
  std::uint32_t n = 0;
  f.write(data.data(), 2048, n);
  EXPECT_EQ(f.error_code(), 0x40003u);
  EXPECT_EQ(f.calls.size(), 1u);
}

// The layer's WriteFile refuses, as a device may, chunks above a limit.
struct injected_failure {
  DWORD error;
  DWORD limit;       // chunks above fail
  DWORD reported;    // bytes the failing call reports
  int failures_left; // -1: every time
};
injected_failure injected{};
std::vector<DWORD> injected_calls;

bool inject_write_failure(HANDLE, DWORD length, LPDWORD written, DWORD* error) {
  injected_calls.push_back(length);
  if (length <= injected.limit || injected.failures_left == 0) return false;
  if (injected.failures_left > 0) --injected.failures_left;
  *written = injected.reported;
  *error = injected.error;
  return true;
}

class Win32NocacheLayer : public Win32File {
 protected:
  void TearDown() override {
    win32::set_write_file_hook(nullptr);
    Win32File::TearDown();
  }
  std::unique_ptr<rio_file> create_nocache(const char16_t* name) {
    dir_control_request ncdr{control_code("NCDR"), {nullptr}, nullptr, nullptr};
    work_->control(&ncdr);
    auto* view = static_cast<nocache_dir*>(ncdr.pointer1);
    if (view->sector_size() != 512) return nullptr;
    return std::unique_ptr<rio_file>(view->create_file(name));
  }
};

TEST_F(Win32NocacheLayer, InjectedFailuresShrinkTheChunk) {
  struct Case {
    injected_failure failure;
    std::uint32_t written;  // what write reports of 8192 bytes
    std::uint32_t code;     // the file's error afterwards
    std::uint32_t bound;    // largest chunk later writes may use (0: not checked)
  } cases[] = {
      {{1117, 2048, 0, -1}, 8192, 0, 2048},     // device error: shrink for good
      {{1450, 1024, 0, -1}, 8192, 0, 1024},     // no resources: the same
      {{1453, 2048, 0, 1}, 8192, 0, 0},         // quota: the raised working set lets it through
      {{1453, 2048, 0, -1}, 8192, 0, 2048},     // quota that stays: shrink
      {{1117, 2048, 512, -1}, 0, 0x40003u, 0},  // bytes and an error: an error
      {{1117, 0, 0, -1}, 0, 0x40003u, 0},       // not even a sector
  };
  for (const Case& k : cases) {
    auto f = create_nocache(u"image.bin");
    ASSERT_TRUE(f);
    std::vector<char> data(8192);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    injected = k.failure;
    injected_calls.clear();
    win32::set_write_file_hook(&inject_write_failure);
    std::uint32_t n = 1;
    f->write(data.data(), 8192, n);
    EXPECT_EQ(n, k.written) << k.failure.error;
    EXPECT_EQ(f->error_code(), k.code) << k.failure.error;
    for (DWORD c : injected_calls) EXPECT_EQ(c % 512, 0u);
    if (k.code == 0) {
      f.reset();
      win32::set_write_file_hook(nullptr);
      EXPECT_EQ(get("work/image.bin"), std::string(data.begin(), data.end())) << k.failure.error;
      if (k.failure.error == 1453 && k.failure.failures_left >= 0) {
        // The same chunk went through once the working set grew.
        ASSERT_GE(injected_calls.size(), 2u);
        EXPECT_EQ(injected_calls[0], injected_calls[1]);
      }
    }
    if (k.bound) {
      auto g = create_nocache(u"image2.bin");
      auto* file = dynamic_cast<win32_nocache_file*>(g.get());
      ASSERT_NE(file, nullptr);
      win32::set_write_file_hook(&inject_write_failure);
      f.reset();
      g->write(data.data(), 8192, n);
      EXPECT_LE(file->max_chunk() / 512 * 512, k.bound);
      injected_calls.clear();
      g->write(data.data(), 8192, n);
      EXPECT_EQ(n, 8192u);
      for (DWORD c : injected_calls) EXPECT_LE(c, k.bound) << k.failure.error;
    }
    win32::set_write_file_hook(nullptr);
  }
}

TEST_F(Win32File, NocacheFilesNeedTheSectorSize) {
  dir_control_request ncdr{control_code("NCDR"), {nullptr}, nullptr, nullptr};
  work_->control(&ncdr);
  auto* view = static_cast<nocache_dir*>(ncdr.pointer1);
  ASSERT_EQ(view, static_cast<nocache_dir*>(work_.get()));
  std::unique_ptr<rio_file> f(view->create_file(u"image.bin"));
  EXPECT_FALSE(f);
  EXPECT_EQ(work_->error_code(), 0x4000eu);

  EXPECT_GE(view->sector_size(), 512u);
  f.reset(view->create_file(u"image.bin"));
  ASSERT_TRUE(f) << narrow(work_->error().text().c_str());
  EXPECT_TRUE(work_->Good());
  EXPECT_NE(dynamic_cast<win32_nocache_file*>(f.get()), nullptr);
  // Names, not paths, are made unbuffered.
  std::unique_ptr<rio_file> g(view->create_file(u"sub\\image.bin"));
  EXPECT_FALSE(g);
  EXPECT_EQ(work_->error_code(), 0x4000eu);
}

}  // namespace

namespace {

// Stand-ins for the native entry points, registered in a fresh process (the
// entry points are looked up once per process).
NTSTATUS volume_status = 0;
ULONG bytes_per_sector = 512;
int set_information_class = 0;
std::int32_t set_information_hint = -1;

NTSTATUS fake_query_volume(HANDLE, void*, void* info, ULONG length, int klass) {
  if (klass != 3 || length < 24) return static_cast<NTSTATUS>(0xC000000Du);
  auto* p = static_cast<unsigned char*>(info);
  const LONGLONG units = 1000;
  const ULONG sectors_per_unit = 8;
  std::memcpy(p, &units, 8);
  std::memcpy(p + 8, &units, 8);
  std::memcpy(p + 16, &sectors_per_unit, 4);
  std::memcpy(p + 20, &bytes_per_sector, 4);
  return volume_status;
}
ULONG fake_status_to_dos(NTSTATUS s) { return s == static_cast<NTSTATUS>(0xC0000022u) ? 5 : 317; }
NTSTATUS fake_set_information(HANDLE, void*, void* info, ULONG length, int klass) {
  set_information_class = klass;
  if (length == 4) std::memcpy(&set_information_hint, info, 4);
  return set_information_hint == 99 ? static_cast<NTSTATUS>(0xC0000022u) : 0;
}

void register_native_stand_ins() {
  win32::register_export("ntdll", "NtQueryVolumeInformationFile",
                         reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&fake_query_volume)));
  win32::register_export("ntdll", "RtlNtStatusToDosError",
                         reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&fake_status_to_dos)));
  win32::register_export("ntdll", "NtSetInformationFile",
                         reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&fake_set_information)));
}

int check(bool ok, const char* what) {
  if (!ok) fprintf(stderr, "failed: %s\n", what);
  return ok ? 0 : 1;
}

TEST_F(Win32File, VolumeSectorAndPriorityHintThroughNativeCalls) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto body = [this] {
    register_native_stand_ins();
    int failures = 0;
    auto f = create(u"native.bin");
    const std::vector<char> data(4096, 'x');
    f->write_exact(data.data(), 4096);

    // An unaligned position is past any sector.
    f->seek_set(100);
    volume_sector_request gsec{control_code("GSEC"), 0, 0};
    f->control(&gsec);
    failures += check(f->error_code() == 0x40002u && gsec.found == 0, "unaligned position");
    f->take_error();

    // Aligned: the volume sector of the extent, against filefrag's map in
    // the stand-in's clusters of 8 sectors of 512 bytes.
    f->flush();
    f->seek_set(1024);
    f->control(&gsec);
    if (f->Good()) {
      std::string text;
      const std::string cmd = "PATH=\"$PATH:/usr/sbin:/sbin\" filefrag -e -b4096 '" + c("work/native.bin") + "' 2>/dev/null";
      if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p)) text += buf;
        ::pclose(p);
      }
      long long l0 = 0, l1 = 0, p0 = -1;
      const std::size_t row = text.find("   0:");
      if (row != std::string::npos) std::sscanf(text.c_str() + row, " 0: %lld.. %lld: %lld..", &l0, &l1, &p0);
      failures += check(gsec.found == 1 && gsec.sector == static_cast<std::uint64_t>(p0) * 8 + 2, "volume sector");
    } else {
      // A file system without an extent map.
      failures += check(f->error().narrowField("function") &&
                            std::string(f->error().narrowField("function")) == "FSCTL_GET_RETRIEVAL_POINTERS",
                        "retrieval pointers");
    }
    f->take_error();

    // A failing volume query is reported through its DOS error.
    volume_status = static_cast<NTSTATUS>(0xC0000022u);
    f->control(&gsec);
    failures += check(f->error_code() == 0x40014u && f->error().narrowField("function") &&
                          std::string(f->error().narrowField("function")) == "NtQueryVolumeInformationFile",
                      "volume query failure");
    f->take_error();

    priority_hint_request sphi{control_code("SPHI"), 2};
    f->control(&sphi);
    failures += check(f->Good() && set_information_class == 43 && set_information_hint == 2, "priority hint");
    sphi.hint = 99;
    f->control(&sphi);
    failures += check(f->error_code() == 0x40003u && f->error().cause().numberField("code") == 0xD0000022u,
                      "priority hint failure");
    f.reset();
    TearDown();
    return failures;
  };
  EXPECT_EXIT(std::exit(body()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
