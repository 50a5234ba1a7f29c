#include "core/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <functional>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/catalogue_block.h"
#include "core/resource_fixture.h"
#include "files/file_object.h"
#include "files/test_memory_input.h"
#include "files/zip_file.h"
#include "files/zip_writer.h"

namespace {
// The largest array the process asked for without exceptions, which is how
// the loader allocates the text block.
std::atomic<std::size_t> largestNothrowArray{0};
}  // namespace

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  for (std::size_t seen = largestNothrowArray.load(); n > seen && !largestNothrowArray.compare_exchange_weak(seen, n);) {
  }
  try {
    return ::operator new[](n);
  } catch (...) {
    return nullptr;
  }
}

namespace {

// The file's parts, to be spoilt one at a time before they are joined.
struct catalogue_image {
  std::uint32_t count = 0;
  std::uint32_t size = 0;
  std::vector<std::uint32_t> offsets;
  std::string block;

  static void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  }
  void add_wide(std::u16string_view text) {
    offsets.push_back(static_cast<std::uint32_t>(block.size()));
    for (char16_t c : text) {
      block.push_back(static_cast<char>(c & 0xFF));
      block.push_back(static_cast<char>(c >> 8));
    }
    block.append(2, '\0');
    count = static_cast<std::uint32_t>(offsets.size());
    size = static_cast<std::uint32_t>(block.size());
  }
  // Narrow bytes and a NUL byte, padded to whole units as the builder writes them.
  void add_narrow(std::string_view bytes) {
    offsets.push_back(static_cast<std::uint32_t>(block.size()));
    block.append(bytes);
    block.push_back('\0');
    if (block.size() % 2) block.push_back('\0');
    count = static_cast<std::uint32_t>(offsets.size());
    size = static_cast<std::uint32_t>(block.size());
  }
  std::string bytes() const {
    std::string out;
    put32(out, count);
    put32(out, size);
    for (std::uint32_t o : offsets) put32(out, o);
    return out + block;
  }
};

// `n` texts "t0", "t1", ...
catalogue_image numbered(std::uint32_t n) {
  catalogue_image c;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::string s = "t" + std::to_string(i);
    c.add_wide(std::u16string(s.begin(), s.end()));
  }
  return c;
}

struct loaded {
  bool ok = false;
  std::vector<const char16_t*> slots;
  void* block = nullptr;
  std::uint32_t bytes = 0;
  loaded() = default;
  loaded(const loaded&) = delete;
  ~loaded() { Common::releaseMessageCatalogue(block); }
};

void read_into(loaded& out, const std::string& file_bytes, std::uint32_t expected) {
  fs_test::memory_input f(file_bytes);
  out.slots.assign(std::max<std::uint32_t>(expected, 1), nullptr);
  out.ok = Common::readMessageCatalogue(&f, out.slots.data(), expected, &out.block, &out.bytes);
}

}  // namespace

TEST(CatalogueRead, SlotsPointAtTheirTextsInsideOneBlock) {
  catalogue_image c;
  c.add_wide(u"first");
  c.add_wide(u"");  // a slot may hold an empty text
  c.add_narrow("22");
  c.add_wide(u"Propert\u2382ies\t\tDisplay");
  loaded l;
  read_into(l, c.bytes(), 4);
  ASSERT_TRUE(l.ok);
  ASSERT_NE(l.block, nullptr);
  EXPECT_EQ(l.bytes, c.size);
  EXPECT_EQ(std::u16string(l.slots[0]), u"first");
  EXPECT_EQ(std::u16string(l.slots[1]), u"");
  // The loader does not look at what a text holds: the narrow slot reads as bytes.
  EXPECT_EQ(std::atoi(reinterpret_cast<const char*>(l.slots[2])), 22);
  EXPECT_EQ(std::u16string(l.slots[3]), u"Propert\u2382ies\t\tDisplay");
  const auto* begin = static_cast<const char*>(l.block);
  for (const char16_t* s : l.slots) {
    EXPECT_GE(reinterpret_cast<const char*>(s), begin);
    EXPECT_LT(reinterpret_cast<const char*>(s), begin + l.bytes);
  }
}

TEST(CatalogueRead, AFullSizeCatalogueWidensEveryOffset) {
  // The offsets are widened in place inside the slot array: every slot must
  // come out right, the last ones included.
  const catalogue_image c = numbered(Common::catalogueTextCount);
  loaded l;
  read_into(l, c.bytes(), Common::catalogueTextCount);
  ASSERT_TRUE(l.ok);
  for (std::uint32_t i = 0; i < Common::catalogueTextCount; ++i) {
    const std::string s = "t" + std::to_string(i);
    ASSERT_EQ(std::u16string(l.slots[i]), std::u16string(s.begin(), s.end())) << "slot " << i;
  }
}

TEST(CatalogueRead, RefusesWrongCountsTruncationAndOffsetsOutsideTheBlock) {
  struct refusal {
    const char* what;
    std::function<std::string()> file;
    std::uint32_t expected = 3;
  };
  const auto base = [] { return numbered(3); };
  const refusal cases[] = {
      {"one text too few", [&] { return numbered(2).bytes(); }},
      {"one text too many", [&] { return numbered(4).bytes(); }},
      {"2540 texts for 2541", [&] { return numbered(2540).bytes(); }, Common::catalogueTextCount},
      {"2542 texts for 2541", [&] { return numbered(2542).bytes(); }, Common::catalogueTextCount},
      {"empty file", [] { return std::string(); }},
      {"header cut short", [&] { return base().bytes().substr(0, 6); }},
      {"offsets cut short", [&] { return base().bytes().substr(0, 8 + 5); }},
      {"block cut short", [&] { std::string b = base().bytes(); b.pop_back(); return b; }},
      {"size beyond the file", [&] { auto c = base(); c.size = 0xFFFFFFF0u; return c.bytes(); }},
      {"offset at the block's end", [&] { auto c = base(); c.offsets[1] = c.size; return c.bytes(); }},
      {"offset far past the block", [&] { auto c = base(); c.offsets[2] = 0x7FFFFFF0u; return c.bytes(); }},
      {"odd offset", [&] { auto c = base(); c.offsets[1] = 1; return c.bytes(); }},
      {"last text without its NUL unit",
       [&] { auto c = base(); c.block.resize(c.block.size() - 2); c.size -= 2; return c.bytes(); }},
      {"offset after the last NUL unit",
       [&] { auto c = base(); c.block += std::string("x\0y\0", 4); c.size += 4; c.offsets[0] = c.size - 4; return c.bytes(); }},
      {"text block without any NUL", [&] {
         catalogue_image c;
         c.count = 1;
         c.offsets = {0};
         c.block = "abcd";
         c.size = 4;
         return c.bytes();
       }, 1},
  };
  for (const refusal& r : cases) {
    SCOPED_TRACE(r.what);
    loaded l;
    read_into(l, r.file(), r.expected);
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.block, nullptr);
  }
}

TEST(CatalogueRead, AnArchiveMemberDeclaringMoreThanItHoldsCostsNoMoreThanItHolds) {
  // The member claims almost 4 GiB; the catalogue in it a block to match.
  auto c = numbered(3);
  c.size = 0xFFFFFFF0u - 8 - 3 * 4;
  std::ostringstream out;
  zip_writer w(out);
  ASSERT_TRUE(w.add("menu.msg", c.bytes(), zip_writer::method::deflate));
  ASSERT_TRUE(w.finish());
  std::string z = out.str();
  const std::size_t central = z.rfind(std::string("PK\x01\x02", 4));
  for (std::size_t at : {std::size_t{22}, central + 24})
    for (int i = 0; i < 4; ++i) z[at + i] = i == 0 ? '\xf0' : '\xff';
  fs_test::memory_input archive(z);
  zip_file zip(&archive);
  std::unique_ptr<ri_file> member(zip.open_file(u"menu.msg", false));
  ASSERT_TRUE(member);
  ASSERT_EQ(member->size(), 0xFFFFFFF0u);
  std::vector<const char16_t*> slots(3);
  void* block = nullptr;
  largestNothrowArray = 0;
  EXPECT_FALSE(Common::readMessageCatalogue(member.get(), slots.data(), 3, &block));
  EXPECT_EQ(block, nullptr);
  EXPECT_LT(largestNothrowArray.load(), std::size_t{16} << 20);
}

TEST(CatalogueRead, BlocksLargerThanOneReadStepArriveWhole) {
  // Texts across several growth steps of the block, the last one odd-sized.
  catalogue_image c;
  for (int i = 0; i < 3; ++i) c.add_wide(std::u16string(700000 + i * 1111, static_cast<char16_t>(u'a' + i)));
  loaded l;
  read_into(l, c.bytes(), 3);
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.bytes, c.size);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(std::u16string(l.slots[i]), std::u16string(700000 + i * 1111, static_cast<char16_t>(u'a' + i)));
}

TEST(CatalogueRead, OffsetsMayShareTexts) {
  auto c = numbered(3);
  c.offsets = {0, 0, c.offsets[2]};
  loaded l;
  read_into(l, c.bytes(), 3);
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.slots[0], l.slots[1]);
  EXPECT_EQ(std::u16string(l.slots[2]), u"t2");
}

TEST(CatalogueRead, PublishedBoundsRunFromTheFirstUnitToJustBeforeTheEnd) {
  const catalogue_image c = numbered(2);
  loaded l;
  read_into(l, c.bytes(), 2);
  ASSERT_TRUE(l.ok);
  EXPECT_FALSE(Common::isCatalogueText(l.slots[0]));  // nothing published yet
  Common::setCatalogueBlock(l.block, l.bytes);
  const auto* begin = static_cast<const char*>(l.block);
  EXPECT_TRUE(Common::isCatalogueText(l.slots[0]));
  EXPECT_TRUE(Common::isCatalogueText(begin));
  EXPECT_TRUE(Common::isCatalogueText(begin + l.bytes - 1));
  EXPECT_FALSE(Common::isCatalogueText(begin + l.bytes));
  EXPECT_FALSE(Common::isCatalogueText(begin - 1));
  EXPECT_FALSE(Common::isCatalogueText(u"elsewhere"));
  // Releasing the published block clears the bounds before it goes.
  Common::releaseMessageCatalogue(l.block);
  l.block = nullptr;
  EXPECT_FALSE(Common::isCatalogueText(begin));
}

namespace {
class CatalogueLoad : public resource_test::Folder {
 protected:
  bool load(const std::string& name, std::uint32_t expected, std::vector<const char16_t*>& slots, void*& block) {
    slots.assign(expected, nullptr);
    return Common::loadMessageCatalogue(name.c_str(), slots.data(), expected, &block);
  }
  void TearDown() override {
    Common::setCatalogueBlock(nullptr, 0);
    resource_test::Folder::TearDown();
  }
};
}  // namespace

TEST_F(CatalogueLoad, ReadsTheFileAndPublishesItsBlock) {
  write("menu.msg", numbered(3).bytes());
  std::vector<const char16_t*> slots;
  void* block = nullptr;
  ASSERT_TRUE(load(narrow_path("menu.msg"), 3, slots, block));
  EXPECT_EQ(std::u16string(slots[2]), u"t2");
  EXPECT_TRUE(Common::isCatalogueText(slots[0]));
  EXPECT_TRUE(Common::isCatalogueText(slots[2]));
  Common::releaseMessageCatalogue(block);
  EXPECT_FALSE(Common::isCatalogueText(block));
}

TEST_F(CatalogueLoad, FailsForAMissingOrWrongCatalogue) {
  std::vector<const char16_t*> slots;
  void* block = reinterpret_cast<void*>(1);
  EXPECT_FALSE(load(narrow_path("absent.msg"), 3, slots, block));
  EXPECT_EQ(block, nullptr);
  write("short.msg", numbered(2).bytes());
  EXPECT_FALSE(load(narrow_path("short.msg"), 3, slots, block));
  EXPECT_EQ(block, nullptr);
  EXPECT_FALSE(Common::isCatalogueText(slots[0]));
}

TEST_F(CatalogueLoad, ComesFromTheProgramArchiveWhenNoFileIsOnDisk) {
  // A name no folder of the test holds: the current and program folders miss it.
  const std::string member = "catalogue-" + std::to_string(std::random_device{}()) + ".msg";
  write("menu.dat", zip({{member, numbered(3).bytes()}}));
  const std::u16string program = path("menu");
  Common::testing::setProgramArchivePath(program.c_str());
  std::vector<const char16_t*> slots;
  void* block = nullptr;
  ASSERT_TRUE(load(member, 3, slots, block));
  EXPECT_EQ(std::u16string(slots[1]), u"t1");
  EXPECT_TRUE(Common::isCatalogueText(slots[1]));
  Common::releaseMessageCatalogue(block);
  // A crafted member is refused like a crafted file.
  auto bad = numbered(3);
  bad.offsets[1] = bad.size + 2;
  write("menu.dat", zip({{member, bad.bytes()}}));
  Common::testing::setProgramArchivePath(program.c_str());
  EXPECT_FALSE(load(member, 3, slots, block));
}

TEST_F(CatalogueLoad, AFirstMissOnDiskHidesFilesPlacedThereLater) {
  write("menu.dat", zip({{"archived.txt", "from the archive"}}));
  const std::u16string program = path("menu");
  Common::testing::setProgramArchivePath(program.c_str());
  Common::testing::setResourceFileState(0);
  EXPECT_EQ(take(Common::openResourceFile(narrow_path("absent.txt").c_str())), "<null>");
  EXPECT_EQ(Common::testing::resourceFileState(), 2);
  write("late.txt", "on disk");
  EXPECT_EQ(take(Common::openResourceFile(narrow_path("late.txt").c_str())), "<null>");
  EXPECT_EQ(take(Common::openResourceFile("archived.txt")), "from the archive");
  EXPECT_EQ(Common::testing::resourceFileState(), 2);
}

TEST_F(CatalogueLoad, AFirstHitKeepsTheDiskSearched) {
  Common::testing::setResourceFileState(0);
  write("first.txt", "first");
  EXPECT_EQ(take(Common::openResourceFile(narrow_path("first.txt").c_str())), "first");
  EXPECT_EQ(Common::testing::resourceFileState(), 1);
  EXPECT_EQ(take(Common::openResourceFile(narrow_path("absent.txt").c_str())), "<null>");
  EXPECT_EQ(Common::testing::resourceFileState(), 1);
  write("late.txt", "on disk");
  EXPECT_EQ(take(Common::openResourceFile(narrow_path("late.txt").c_str())), "on disk");
}
