#include "core/resource_archive.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/resource_fixture.h"
#include "files/windows_dir.h"
#include "files/zip_file.h"

namespace {

using Accessor = std::unique_ptr<Common::ResourceAccessor>;

std::u16string wide(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

const std::string programBytes = std::string("\x7f" "ELF program bytes ", 18) + std::string(3000, 'p');

class ProgramArchive : public resource_test::Folder {
 protected:
  std::string open(Common::ResourceAccessor* a, const char* member) {
    if (!member) return take(a->open(nullptr));
    const std::u16string name = wide(member);
    return take(a->open(name.c_str()));
  }
  std::string openFor(const std::string& program, const char* member) {
    const std::u16string p = path(program);
    Accessor a(Common::ResourceAccessor::create(p.c_str()));
    EXPECT_TRUE(a);
    return a ? open(a.get(), member) : "<no accessor>";
  }
};

}  // namespace

TEST(ArchiveName, DatReplacesTheFileNamesExtension) {
  struct naming {
    const char16_t* program;
    const char16_t* dat;
  };
  const naming cases[] = {
      {u"C:\\Program Files\\menu.exe", u"C:\\Program Files\\menu.dat"},
      {u"C:\\tools\\menu.v2.exe", u"C:\\tools\\menu.v2.dat"},
      {u"C:\\tools\\menu", u"C:\\tools\\menu.dat"},
      // A dot in a directory is no extension of the program's name.
      {u"C:\\build.v2\\menu", u"C:\\build.v2\\menu.dat"},
      {u"Z:/home/u/.cache/build/menu", u"Z:/home/u/.cache/build/menu.dat"},
      // A leading dot starts a name, not an extension.
      {u"C:\\tools\\.menu", u"C:\\tools\\.menu.dat"},
      {u".menu", u".menu.dat"},
      {u"menu", u"menu.dat"},
      {u"menu.exe", u"menu.dat"},
      {u"C:\\tools\\menu.", u"C:\\tools\\menu.dat"},
      {u"", u".dat"},
  };
  for (const naming& n : cases) EXPECT_EQ(Common::archiveDatPath(n.program), n.dat) << std::string(
      n.program, n.program + std::char_traits<char16_t>::length(n.program)).c_str();
}

TEST_F(ProgramArchive, TheDatFileBesideTheProgramComesFirstThenTheAppendedArchive) {
  write("menu", zip({{"a.txt", "from the program"}}, programBytes));
  EXPECT_EQ(openFor("menu", "a.txt"), "from the program");
  write("menu.dat", zip({{"a.txt", "from the dat file"}}));
  EXPECT_EQ(openFor("menu", "a.txt"), "from the dat file");
  // The program's extension gives way to ".dat" as well.
  write("menu.exe", zip({{"a.txt", "from menu.exe"}}, programBytes));
  EXPECT_EQ(openFor("menu.exe", "a.txt"), "from the dat file");
}

TEST_F(ProgramArchive, ADatFileThatIsNoZipDoesNotHideTheAppendedArchive) {
  write("menu", zip({{"a.txt", "from the program"}}, programBytes));
  write("menu.dat", "this is not an archive, and long enough to be searched for an end record");
  EXPECT_EQ(openFor("menu", "a.txt"), "from the program");
  // A damaged archive counts the same: its end record is found but does not hold.
  std::string damaged = zip({{"a.txt", "damaged"}});
  damaged[damaged.size() - 22 + 8] = 7;  // entries on this disk no longer match the total
  write("menu.dat", damaged);
  EXPECT_EQ(openFor("menu", "a.txt"), "from the program");
}

TEST_F(ProgramArchive, WithoutAnyArchiveMembersAreMissing) {
  struct layout {
    const char* what;
    const char* program;  // null: no program file
    const char* dat;      // null: no .dat file
  };
  const layout cases[] = {
      {"no files at all", nullptr, nullptr},
      {"a program without an archive", "plain program", nullptr},
      {"neither file a ZIP", "plain program", "plain data"},
  };
  for (const layout& l : cases) {
    SCOPED_TRACE(l.what);
    std::filesystem::remove(unix_path("menu"));
    std::filesystem::remove(unix_path("menu.dat"));
    if (l.program) write("menu", l.program);
    if (l.dat) write("menu.dat", l.dat);
    EXPECT_EQ(openFor("menu", "a.txt"), "<null>");
    EXPECT_EQ(openFor("menu", nullptr), "<null>");
  }
}

TEST_F(ProgramArchive, NoNameOpensTheProductConfiguration) {
  write("menu.dat", zip({{"help.chm", "help"}, {Common::configurationMemberName, "<configuration/>"}}));
  EXPECT_EQ(openFor("menu", nullptr), "<configuration/>");
  EXPECT_EQ(openFor("menu", "help.chm"), "help");
  EXPECT_EQ(openFor("menu", "HELP.CHM"), "help");  // member names ignore ASCII case
  EXPECT_EQ(openFor("menu", "absent.bin"), "<null>");
}

TEST_F(ProgramArchive, SharedAccessorsReadTheProgramArchiveAndLeaveItOpen) {
  write("menu", zip({{"a.txt", "shared"}}, programBytes));
  write("other", zip({{"a.txt", "own"}}, programBytes));
  const std::u16string program = path("menu");
  Common::testing::setProgramArchivePath(program.c_str());

  zip_file* archive = Common::programArchive();
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(Common::programArchive(), archive);  // opened once
  EXPECT_EQ(take(Common::openArchivedFile(u"a.txt")), "shared");
  EXPECT_EQ(Common::openArchivedFile(u"absent.txt"), nullptr);

  // Empty and null paths, and the very buffer module_path() hands out, mean
  // the shared archive; a copy of that text opens an archive of its own.
  const std::u16string programCopy = module_path();
  const char16_t* sharedPaths[] = {u"", nullptr, module_path()};
  for (const char16_t* p : sharedPaths) {
    auto* a = new Common::ResourceAccessorImpl(p);
    EXPECT_TRUE(a->shared());
    EXPECT_EQ(a->archive(), archive);
    EXPECT_EQ(open(a, "a.txt"), "shared");
    delete static_cast<Common::ResourceAccessor*>(a);
    EXPECT_EQ(Common::programArchive(), archive);
    EXPECT_EQ(take(Common::openArchivedFile(u"a.txt")), "shared");  // still open
  }
  Common::ResourceAccessorImpl copy(programCopy.c_str());
  EXPECT_FALSE(copy.shared());

  const std::u16string other = path("other");
  Accessor own(Common::ResourceAccessor::create(other.c_str()));
  ASSERT_TRUE(own);
  auto* impl = dynamic_cast<Common::ResourceAccessorImpl*>(own.get());
  ASSERT_NE(impl, nullptr);
  EXPECT_FALSE(impl->shared());
  EXPECT_NE(impl->archive(), archive);
  EXPECT_EQ(open(own.get(), "a.txt"), "own");
  own.reset();
  EXPECT_EQ(take(Common::openArchivedFile(u"a.txt")), "shared");
}

TEST_F(ProgramArchive, NoSharedArchiveWhenNoFileOpens) {
  const std::u16string program = path("missing-program");
  Common::testing::setProgramArchivePath(program.c_str());
  EXPECT_EQ(Common::programArchive(), nullptr);
  EXPECT_EQ(Common::openArchivedFile(u"a.txt"), nullptr);
  Accessor shared(Common::ResourceAccessor::create(u""));
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->open(nullptr), nullptr);
  // It is looked for again on the next use.
  write("missing-program.dat", zip({{"a.txt", "arrived"}}));
  EXPECT_EQ(take(Common::openArchivedFile(u"a.txt")), "arrived");
}
