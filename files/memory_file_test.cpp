#include "files/memory_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

using Common::MemoryFile;

std::unique_ptr<MemoryFile> make() {
  std::unique_ptr<MemoryFile> f(Common::CreateMemoryFile());
  EXPECT_NE(f, nullptr);
  return f;
}

std::string contents(MemoryFile& f) {
  return f.data() ? std::string(reinterpret_cast<const char*>(f.data()), f.size()) : std::string();
}

std::uint32_t write(MemoryFile& f, const std::string& bytes) {
  std::uint32_t count = 99;
  f.write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), count);
  return count;
}

std::string read(MemoryFile& f, std::uint32_t n) {
  std::string out(n, '\0');
  std::uint32_t count = 99;
  f.read(out.data(), n, count);
  out.resize(count);
  return out;
}

TEST(MemoryFile, StartsEmptyAtZeroWithNoData) {
  auto f = make();
  EXPECT_EQ(f->size(), 0u);
  EXPECT_EQ(f->seek_cur(0), 0);
  EXPECT_EQ(f->data(), nullptr);
  EXPECT_EQ(read(*f, 4), "");
  EXPECT_TRUE(f->Good());
}

TEST(MemoryFile, WritesReadBackAndOverwriteInPlace) {
  auto f = make();
  EXPECT_EQ(write(*f, "hello world"), 11u);
  EXPECT_EQ(f->seek_cur(0), 11);
  f->seek_set(6);
  EXPECT_EQ(write(*f, "there, friend"), 13u);
  EXPECT_EQ(contents(*f), "hello there, friend");
  f->seek_set(2);
  EXPECT_EQ(write(*f, "LL"), 2u);
  EXPECT_EQ(contents(*f), "heLLo there, friend");
  EXPECT_EQ(f->rewind(), 0);
  EXPECT_EQ(read(*f, 5), "heLLo");
  // A short read at the end, then nothing, never an error.
  f->seek_end(-3);
  EXPECT_EQ(read(*f, 10), "end");
  EXPECT_EQ(read(*f, 10), "");
  EXPECT_TRUE(f->Good());
}

TEST(MemoryFile, WriteBeyondTheEndFillsTheGapWithZeros) {
  auto f = make();
  f->seek_set(20);
  EXPECT_EQ(write(*f, "0123456789"), 10u);
  EXPECT_EQ(f->size(), 30u);
  EXPECT_EQ(contents(*f), std::string(20, '\0') + "0123456789");
  EXPECT_EQ(f->seek_cur(0), 30);
}

TEST(MemoryFile, ZeroLengthTransfersDoNothing) {
  auto f = make();
  f->seek_set(100);
  EXPECT_EQ(write(*f, ""), 0u);
  EXPECT_EQ(f->size(), 0u);
  EXPECT_TRUE(f->Good());
}

TEST(MemoryFile, WriteAtTheLimitIsAShortWriteThatWriteExactReportsAsDiskFull) {
  auto f = make();
  EXPECT_EQ(f->seek_set(static_cast<std::int64_t>(Common::memoryFileLimit)), 0x40000000);
  EXPECT_EQ(write(*f, "x"), 0u);
  EXPECT_TRUE(f->Good());
  EXPECT_EQ(f->size(), 0u);
  f->write_exact("x", 1);
  EXPECT_EQ(f->error_code(), fs_error::disk_full);
}

TEST(MemoryFile, SetSizeTruncatesExtendsAndRefusesMoreThanTheLimit) {
  auto f = make();
  write(*f, "abcdef");
  f->set_size(3);
  EXPECT_EQ(contents(*f), "abc");
  EXPECT_EQ(f->seek_cur(0), 6) << "the position stays";
  f->set_size(5);
  EXPECT_EQ(contents(*f), std::string("abc\0\0", 5));
  f->set_size(0);
  EXPECT_EQ(f->size(), 0u);
  EXPECT_EQ(f->data(), nullptr);
  EXPECT_TRUE(f->Good());

  f->set_size(Common::memoryFileLimit + 1);
  EXPECT_EQ(f->error_code(), fs_error::write);
  EXPECT_EQ(f->size(), 0u);
}

TEST(MemoryFile, SeekEndBelowZeroWrapsToAHugePositionWhereNothingIsRead) {
  auto f = make();
  write(*f, "abc");
  const std::int64_t at = f->seek_end(-5);
  EXPECT_EQ(static_cast<std::uint64_t>(at), ~std::uint64_t{0} - 1);
  EXPECT_EQ(read(*f, 4), "");
  EXPECT_EQ(write(*f, "x"), 0u) << "far beyond the limit";
  EXPECT_EQ(contents(*f), "abc");
  EXPECT_TRUE(f->Good());
  EXPECT_EQ(f->seek_cur(7), 5);
  EXPECT_EQ(f->seek_set(1), 1);
  EXPECT_EQ(read(*f, 4), "bc");
}

TEST(MemoryFile, ABadFileTransfersNothingButStillSeeks) {
  auto f = make();
  write(*f, "abc");
  f->set_size(Common::memoryFileLimit + 1);
  ASSERT_TRUE(f->Bad());
  EXPECT_EQ(f->seek_set(0), 0);
  EXPECT_EQ(read(*f, 3), "");
  EXPECT_EQ(write(*f, "x"), 0u);
  f->set_size(1);
  EXPECT_EQ(f->size(), 3u);
}

TEST(MemoryFile, LocksAndControlRequestsAreNotSupported) {
  auto f = make();
  f->flush();
  EXPECT_TRUE(f->Good());
  // Each call on a fresh file: the sticky error would hide the next one.
  auto check = [](void (*op)(MemoryFile&)) {
    auto g = make();
    op(*g);
    EXPECT_EQ(g->error_code(), fs_error::not_supported);
  };
  check([](MemoryFile& g) { g.lock_shared(0, 1, false); });
  check([](MemoryFile& g) { g.lock_exclusive(0, 1, false); });
  check([](MemoryFile& g) { g.unlock(0, 1); });
  check([](MemoryFile& g) {
    std::uint32_t request = control_code("NCDR");
    g.control(&request);
  });
}

TEST(MemoryFile, ManySmallWritesGiveTheConcatenation) {
  auto f = make();
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const std::string piece = std::to_string(i) + ",";
    write(*f, piece);
    expected += piece;
  }
  EXPECT_EQ(contents(*f), expected);
}

}  // namespace
