#include "core/file_identifier.h"

#include <memory>

#include <gtest/gtest.h>

#include "core/utilities.h"
#include "files/fs_test_world.h"
#include "files/windows_dir.h"

namespace {

using Processor::FileIdentifier;

std::string narrow(const Processor::String& s) {
  std::string out;
  for (int i = 0; i < s.length(); ++i) out.push_back(static_cast<char>(s.charAt(i)));
  return out;
}

std::string readAll(ri_file* f) {
  std::string out(64, '\0');
  std::uint32_t n = 0;
  f->read(out.data(), 64, n);
  out.resize(n);
  return out;
}

class Identifiers : public fs_test::World {
 protected:
  void SetUp() override {
    fs_test::World::SetUp();
    dir_.reset(dynamic_cast<rio_dir*>(current_dir()->open_dir(u"C:\\work")));
    ASSERT_TRUE(dir_);
  }
  void TearDown() override {
    dir_.reset();
    fs_test::World::TearDown();
  }
  std::unique_ptr<rio_dir> dir_;
};

TEST_F(Identifiers, ACopyHasItsOwnDirectory) {
  put("work/a.txt", "alpha");
  auto first = std::make_unique<FileIdentifier>(dir_.get(), u"a.txt");
  dir_.reset();  // the identifier does not depend on the caller's object
  auto copy = std::make_unique<FileIdentifier>(*first);
  EXPECT_NE(copy->writableDirectory(), nullptr);
  EXPECT_NE(copy->directory(), first->directory());
  copy.reset();
  std::unique_ptr<ri_file> f(first->openForRead());
  ASSERT_TRUE(f);
  EXPECT_EQ(readAll(f.get()), "alpha");
  EXPECT_EQ(narrow(first->name()), "a.txt");
  EXPECT_EQ(std::u16string(first->directory()->path()), u"C:\\work\\");
}

TEST_F(Identifiers, CreateTruncatesAndReadOnlyIdentifiersCannotWrite) {
  put("work/a.txt", "long old contents");
  FileIdentifier rw(dir_.get(), u"a.txt");
  {
    std::unique_ptr<ro_file> out(rw.create());
    ASSERT_TRUE(out);
    std::uint32_t n = 0;
    out->write("new", 3, n);
  }
  EXPECT_EQ(get("work/a.txt"), "new");
  std::unique_ptr<i_dir::iterator> entry(rw.entry());
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->size(), 3u);

  FileIdentifier ro(static_cast<i_dir*>(dir_.get()), u"a.txt");
  EXPECT_EQ(ro.writableDirectory(), nullptr);
  EXPECT_EQ(ro.openForWrite(), nullptr);
  EXPECT_EQ(ro.create(), nullptr);
  EXPECT_EQ(get("work/a.txt"), "new");
  FileIdentifier roCopy(ro);
  EXPECT_EQ(roCopy.create(), nullptr);
  std::unique_ptr<ri_file> f(roCopy.openForRead());
  ASSERT_TRUE(f);
  EXPECT_EQ(readAll(f.get()), "new");

  FileIdentifier missing(dir_.get(), u"absent.txt");
  EXPECT_EQ(missing.entry(), nullptr);
  EXPECT_EQ(missing.openForRead(), nullptr);
  EXPECT_THROW(FileIdentifier(static_cast<i_dir*>(nullptr), u"x"), Processor::Error);
}

TEST_F(Identifiers, TheProgramAndTemporaryFoldersOpen) {
  std::unique_ptr<ri_dir> temp(Processor::tempDirectory());
  ASSERT_TRUE(temp);
  WCHAR expected[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, expected);
  EXPECT_EQ(std::u16string(temp->path()), std::u16string(expected, n));
  std::unique_ptr<ri_dir> program(Processor::programDirectory());
  ASSERT_TRUE(program);
  std::u16string module = module_path();
  EXPECT_EQ(std::u16string(program->path()), module.substr(0, module.find_last_of(u'\\') + 1));
}

}  // namespace
