#include "files/file_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "platform/win32/windows.h"

namespace {

// A byte-vector file whose device holds at most `capacity` bytes, so that a
// write can come back short without an error.
class vector_file : public rio_file {
 public:
  explicit vector_file(std::vector<unsigned char> data = {}, std::size_t capacity = 1 << 20)
      : data_(std::move(data)), capacity_(capacity) {}

  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad()) return;
    const std::size_t n = pos_ < data_.size() ? std::min<std::size_t>(length, data_.size() - pos_) : 0;
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    count = static_cast<std::uint32_t>(n);
  }
  void write(const void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad()) return;
    const std::size_t n = pos_ < capacity_ ? std::min<std::size_t>(length, capacity_ - pos_) : 0;
    if (data_.size() < pos_ + n) data_.resize(pos_ + n);
    std::memcpy(data_.data() + pos_, buffer, n);
    pos_ += n;
    count = static_cast<std::uint32_t>(n);
  }
  std::int64_t seek_set(std::int64_t o) override { return pos_ = static_cast<std::size_t>(o); }
  std::int64_t seek_cur(std::int64_t d) override { return pos_ += static_cast<std::size_t>(d); }
  std::int64_t seek_end(std::int64_t d) override { return pos_ = data_.size() + static_cast<std::size_t>(d); }
  void set_size(std::uint64_t s) override {
    data_.resize(s);
    pos_ = s;
  }

  std::size_t pos_ = 0;
  std::vector<unsigned char> data_;
  std::size_t capacity_;
};

TEST(StickyError, TakeErrorOnGoodObjectIsEmpty) {
  vector_file f;
  Common::Error e = f.take_error();
  EXPECT_FALSE(e);
  EXPECT_TRUE(f.Good());
  EXPECT_FALSE(f.Bad());
}

TEST(StickyError, TakeErrorHandsOverAndClears) {
  vector_file f;
  f.raise(KV_SITE, fs_error::read);
  ASSERT_TRUE(f.Bad());
  Common::Error e = f.take_error();
  EXPECT_EQ(e.code(), 0x40001u);
  EXPECT_EQ(e.text(), u"Error occurred while reading the file.");
  EXPECT_TRUE(f.Good());
  EXPECT_FALSE(f.error());
}

TEST(StickyError, LaterFailureReplacesEarlierOne) {
  vector_file f;
  f.raise(KV_SITE, fs_error::read);
  Common::Error first = f.error();
  f.raise(KV_SITE, fs_error::seek);
  EXPECT_EQ(f.error_code(), 0x40005u);
  EXPECT_EQ(first.code(), 0x40001u);  // the old record lives on in its other holder only
}

TEST(StickyError, UnknownControlCodeIsNotSupported) {
  vector_file f;
  std::uint32_t request[4] = {control_code("ABCD"), 0, 0, 0};
  f.control(request);
  EXPECT_EQ(f.error_code(), 0x4000eu);
  EXPECT_EQ(f.error().text(), u"The operation is not supported.");
}

TEST(StickyError, ControlCodesReadAsLittleEndianCharacters) {
  EXPECT_EQ(control_code("NCDR"), 0x5244434Eu);
  EXPECT_EQ(control_code("GSYP"), 0x50595347u);
  EXPECT_EQ(control_code("SFTM"), 0x4D544653u);
  EXPECT_EQ(control_code("WIOC"), 0x434F4957u);
}

TEST(StickyError, OptionalFileOperationsAreNotSupportedByDefault) {
  struct op {
    const char* name;
    void (*run)(vector_file&);
  } ops[] = {
      {"lock_shared", [](vector_file& f) { f.lock_shared(0, 1, false); }},
      {"lock_exclusive", [](vector_file& f) { f.lock_exclusive(0, 1, true); }},
      {"unlock", [](vector_file& f) { f.unlock(0, 1); }},
  };
  for (const auto& o : ops) {
    vector_file f;
    o.run(f);
    EXPECT_EQ(f.error_code(), 0x4000eu) << o.name;
  }
  vector_file f;
  f.flush();
  EXPECT_TRUE(f.Good());
}

TEST(ExactTransfer, ShortReadStoresEndOfFileAndKeepsBytes) {
  vector_file f({1, 2, 3});
  unsigned char buf[8] = {};
  f.read_exact(buf, sizeof buf);
  EXPECT_EQ(f.error_code(), 0x40002u);
  EXPECT_EQ(f.error().text(), u"The end of the file has been reached.");
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[2], 3);
}

TEST(ExactTransfer, FullReadLeavesFileGood) {
  vector_file f({1, 2, 3});
  unsigned char buf[3] = {};
  f.read_exact(buf, 3);
  EXPECT_TRUE(f.Good());
  f.read_exact(buf, 0);
  EXPECT_TRUE(f.Good());
}

TEST(ExactTransfer, ShortWriteWithoutErrorBecomesDiskFull) {
  vector_file f({}, 4);
  const unsigned char buf[10] = {};
  std::uint32_t count = 99;
  f.write(buf, sizeof buf, count);
  EXPECT_EQ(count, 4u);
  EXPECT_TRUE(f.Good());  // write itself reports no error
  f.seek_set(0);
  f.write_exact(buf, sizeof buf);
  EXPECT_EQ(f.error_code(), 0x40004u);
  EXPECT_EQ(f.error().text(), u"The disk is full.");
}

TEST(ExactTransfer, ExactTransfersKeepAnEarlierError) {
  vector_file f({1, 2, 3});
  f.raise(KV_SITE, fs_error::seek);
  unsigned char buf[8];
  f.read_exact(buf, sizeof buf);
  EXPECT_EQ(f.error_code(), 0x40005u);
  f.write_exact(buf, sizeof buf);
  EXPECT_EQ(f.error_code(), 0x40005u);
}

TEST(RandomAccess, SizeThroughSeeksKeepsPosition) {
  vector_file f({1, 2, 3, 4, 5});
  f.seek_set(2);
  EXPECT_EQ(f.size(), 5u);
  EXPECT_EQ(f.seek_cur(0), 2);
  f.seek_set(4);
  EXPECT_EQ(f.rewind(), 0);
  EXPECT_EQ(f.seek_cur(0), 0);
}

TEST(SystemErrorMapping, Table) {
  const struct {
    std::uint32_t win32;
    std::uint32_t code;
  } cases[] = {
      {1, 0x4000e},   {1005, 0x4000e}, {2, 0x40011},    {5, 0x40014},    {32, 0x40014},   {1219, 0x40014},
      {8, 0x40006},   {18, 0x40002},   {38, 0x40002},   {19, 0x4000c},   {21, 0x4000b},   {33, 0x40017},
      {39, 0x40004},  {112, 0x40004},  {67, 0x40015},   {1203, 0x40015}, {1231, 0x40015}, {1232, 0x40015},
      {123, 0x40009}, {183, 0x40013},  {1223, 0x4000f}, {3, 0x40001},    {87, 0x40001},   {0, 0x40001},
  };
  for (const auto& c : cases) EXPECT_EQ(map_system_error(c.win32, 0x40001), c.code) << "win32 " << c.win32;
}

TEST(SystemErrorMapping, InvalidNameIsARenameError) {
  const std::uint32_t code = map_system_error(123, 0x40007);
  EXPECT_EQ(code, 0x40009u);
  EXPECT_EQ(std::u16string(fs_error_text(code)), u"Error occurred while renaming the file.");
}

TEST(SystemErrorMapping, EveryCodeHasItsText) {
  for (std::uint32_t code = 0x40001; code <= 0x4001a; ++code) {
    const bool unused = code == 0x40010 || code == 0x40012 || code == 0x40016 || code == 0x40018;
    if (unused || code == 0x40019)
      EXPECT_EQ(fs_error_text(code), nullptr) << std::hex << code;
    else
      EXPECT_NE(fs_error_text(code), nullptr) << std::hex << code;
  }
  EXPECT_EQ(fs_error_slot(0x40001), 2232);
  EXPECT_EQ(fs_error_slot(0x4001a), 2252);
}

TEST(FunctionError, SystemFileErrorCarriesFunctionAndCause) {
  SetLastError(5);
  Common::Error e = make_system_file_error(KV_SITE, "ReadFile", fs_error::read);
  EXPECT_EQ(e.code(), 0x40014u);
  EXPECT_EQ(e.text(), u"Access to the file or folder is denied.");
  EXPECT_STREQ(e.fieldNames(), "function");
  EXPECT_STREQ(e.narrowField("function"), "ReadFile");
  EXPECT_EQ(e.narrowField("filename"), nullptr);
  EXPECT_EQ(e.cause().code(), 0xFFF0u);
  EXPECT_EQ(e.cause().numberField("code"), 0x80070005u);
}

TEST(FunctionError, UnlistedSystemErrorKeepsDefaultCode) {
  SetLastError(87);
  Common::Error e = make_system_file_error(KV_SITE, "WriteFile", fs_error::write);
  EXPECT_EQ(e.code(), 0x40003u);
  EXPECT_EQ(e.text(), u"Error occurred while writing the file.");
  EXPECT_EQ(e.cause().numberField("code"), 0x80070057u);
}

TEST(FunctionError, RaiseSystemStoresOnTheObject) {
  vector_file f;
  SetLastError(33);
  f.raise_system(KV_SITE, "LockFileEx", fs_error::lock);
  EXPECT_EQ(f.error_code(), 0x40017u);
  EXPECT_STREQ(f.error().narrowField("function"), "LockFileEx");
}

TEST(FunctionError, FileErrorCarriesFunctionAndFileName) {
  SetLastError(2);
  Common::Error e = win32_file_error(KV_SITE, fs_error::remove, "DeleteFileW", u"\\\\?\\C:\\x");
  EXPECT_EQ(e.code(), 0x40011u);
  EXPECT_STREQ(e.fieldNames(), "function,filename");
  EXPECT_STREQ(e.narrowField("function"), "DeleteFileW");
  ASSERT_NE(e.wideField("filename"), nullptr);
  EXPECT_EQ(std::u16string(e.wideField("filename")), u"\\\\?\\C:\\x");
  EXPECT_EQ(e.cause().numberField("code"), 0x80070002u);

  SetLastError(3);
  Common::Error n = win32_file_error(KV_SITE, fs_error::open, "OpenFileA", "C:\\y");
  EXPECT_EQ(n.code(), 0x40007u);
  EXPECT_STREQ(n.narrowField("filename"), "C:\\y");
  EXPECT_STREQ(n.fieldNames(), "function,filename");
}

TEST(FunctionError, RecordsSurviveCloningForACause) {
  // A shared head is cloned when a cause is set; the fields must come along.
  SetLastError(5);
  Common::Error e = win32_file_error(KV_SITE, fs_error::remove, "DeleteFileW", u"C:\\x");
  Common::Error other = e;
  e.setWin32Cause(2);
  EXPECT_STREQ(e.narrowField("function"), "DeleteFileW");
  EXPECT_EQ(std::u16string(e.wideField("filename")), u"C:\\x");
  EXPECT_EQ(other.cause().numberField("code"), 0x80070005u);
}

}  // namespace

namespace {

TEST(CatalogueTexts, LoadedCatalogueSuppliesTheTextByAddress) {
  static const char16_t block[] = u"Catalogue end-of-file text.";
  const char16_t* saved = Common::catalogueTexts[2233];
  Common::catalogueTexts[2233] = block;
  Common::setCatalogueBlock(block, sizeof block);
  Common::Error e = make_fs_error(KV_SITE, fs_error::end_of_file);
  EXPECT_EQ(e.text(), block);
  EXPECT_EQ(e.record()->textSlot, reinterpret_cast<std::uintptr_t>(block));
  Common::setCatalogueBlock(nullptr, 0);
  Common::catalogueTexts[2233] = saved;
  EXPECT_EQ(std::u16string(fs_error_text(fs_error::end_of_file)), u"The end of the file has been reached.");
}

}  // namespace

namespace {

// A directory with nothing but a path, for the base operations.
class path_dir : public ri_dir {
 public:
  explicit path_dir(const char16_t* p) : path_(p) {}
  ri_file* open_file(const file_identifier*, bool) override { return nullptr; }
  ri_file* open_file(iterator*, bool) override { return nullptr; }
  ri_file* open_file(const char16_t*, bool) override { return nullptr; }
  ri_dir* open_dir(const file_identifier*) override { return nullptr; }
  ri_dir* open_dir(iterator*) override { return nullptr; }
  ri_dir* open_dir(const char16_t* p) override {
    opened.push_back(p);
    return new path_dir(p);
  }
  iterator* iterate(const file_identifier*) override { return nullptr; }
  iterator* iterate(const char16_t*) override { return nullptr; }
  iterator* iterate() override { return nullptr; }
  iterator* iterate_self() override { return nullptr; }
  int compare_names(const file_identifier*, const file_identifier*) override { return 0; }
  const char16_t* path() override { return path_; }
  std::vector<std::u16string> opened;

 private:
  const char16_t* path_;
};

class named_id : public file_identifier {
 public:
  file_identifier* clone() const override { return new named_id; }
};

TEST(DirectoryBase, Relations) {
  path_dir a(u"C:\\a\\"), a2(u"C:\\a\\"), ab(u"C:\\ab\\"), a_b(u"C:\\a\\b\\"), none(nullptr), none2(nullptr);
  EXPECT_EQ(a.relation(&a), 0);
  EXPECT_EQ(a.relation(nullptr), 2);
  EXPECT_EQ(a.relation(&a2), 0);
  EXPECT_EQ(a.relation(&ab), 2);
  EXPECT_EQ(a.relation(&a_b), 1);
  EXPECT_EQ(a_b.relation(&a), 2);
  EXPECT_EQ(none.relation(&a), 1);  // a directory without a path contains every one with a path
  EXPECT_EQ(a.relation(&none), 2);
  EXPECT_EQ(none.relation(&none), 0);
  EXPECT_EQ(none.relation(&none2), 2);
}

TEST(DirectoryBase, OptionalOperations) {
  path_dir d(u"C:\\d\\");
  EXPECT_EQ(d.drive_kind(), entry_kind::unknown);
  EXPECT_FALSE(d.is_system_dir());
  EXPECT_TRUE(d.is_separator(u'/'));
  EXPECT_TRUE(d.is_separator(u'\\'));
  EXPECT_FALSE(d.is_separator(u':'));
  EXPECT_EQ(d.separator(), u'\\');
  EXPECT_EQ(d.reopen(), nullptr);
  EXPECT_EQ(d.item_id_list(nullptr, false), nullptr);
  EXPECT_EQ(d.shell_folder(), nullptr);
  EXPECT_EQ(d.open_item_id_list(nullptr), dir_and_identifier(nullptr, nullptr));
  d.rearm_watch();
  EXPECT_TRUE(d.Good());

  std::uint64_t total = 1, free_total = 2, free_caller = 3;
  d.free_space(total, free_total, free_caller);
  EXPECT_EQ(total + free_total + free_caller, 0u);
  EXPECT_EQ(d.take_error().code(), 0x4000eu);

  char16_t label[4] = {u'x', u'y', 0, 0};
  d.volume_label(label, 4);
  EXPECT_EQ(label[0], 0);
  EXPECT_EQ(d.take_error().code(), 0x4000eu);

  d.watch(nullptr);
  EXPECT_EQ(d.take_error().code(), 0x4000eu);
  EXPECT_EQ(d.open_special(entry_kind::temporary), nullptr);
  EXPECT_EQ(d.take_error().code(), 0x4000eu);
}

TEST(DirectoryBase, ResolveLinkOpensItselfAndClonesTheIdentifier) {
  path_dir d(u"C:\\d\\");
  named_id id;
  dir_and_identifier r = d.resolve_link(&id);
  ASSERT_NE(r.first, nullptr);
  ASSERT_NE(r.second, nullptr);
  EXPECT_NE(r.second, &id);
  EXPECT_EQ(d.opened.back(), u".");
  delete r.first;
  delete r.second;
  r = d.resolve_link(nullptr);
  EXPECT_NE(r.first, nullptr);
  EXPECT_EQ(r.second, nullptr);
  delete r.first;
}

TEST(DirectoryBase, OpenParentSplitsAtTheLastSeparator) {
  path_dir d(u"C:\\d\\");
  const struct {
    const char16_t* path;
    const char16_t* opened;
    const char16_t* rest;
  } cases[] = {
      {u"sub\\file.txt", u"sub\\", u"file.txt"},
      {u"a/b/c", u"a/b/", u"c"},
      {u"C:file", u"C:", u"file"},
      {u"file", u".", u"file"},
      {u"dir\\", u"dir\\", u""},
  };
  for (const auto& c : cases) {
    const char16_t* p = c.path;
    std::unique_ptr<ri_dir> parent(d.open_parent(&p));
    ASSERT_TRUE(parent);
    EXPECT_EQ(d.opened.back(), c.opened);
    EXPECT_EQ(std::u16string(p), c.rest);
  }
}

}  // namespace
