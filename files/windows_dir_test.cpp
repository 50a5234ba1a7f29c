#include "files/windows_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files/fs_test_world.h"
#include "files/path.h"
#include "files/shell_dir.h"
#include "files/security_source.h"
#include "files/winnt_dir.h"

namespace {

using fs_test::narrow;

std::unique_ptr<win32_dir> open(const char16_t* path) {
  return std::unique_ptr<win32_dir>(root_dir()->open_dir_path(path));
}

class WindowsDir : public fs_test::World {};

TEST_F(WindowsDir, Relations) {
  auto a = open(u"C:\\a");
  auto a2 = open(u"c:/a/");
  auto ab = open(u"C:\\ab");
  auto a_b = open(u"C:\\a\\b");
  auto upper = open(u"C:\\A\\B\\c");
  auto computer = open(u"C:\\..");
  ASSERT_TRUE(a && a2 && ab && a_b && upper && computer);
  const struct {
    const char* what;
    win32_dir* self;
    i_dir* other;
    int relation;
  } cases[] = {
      {"itself", a.get(), a.get(), 0},
      {"null", a.get(), nullptr, 2},
      {"same path", a.get(), a2.get(), 0},
      {"sibling with a longer name", a.get(), ab.get(), 2},
      {"child", a.get(), a_b.get(), 1},
      {"parent", a_b.get(), a.get(), 2},
      {"child in other case", a.get(), upper.get(), 1},
      {"computer contains drives", computer.get(), a.get(), 1},
      {"drive does not contain computer", a.get(), computer.get(), 2},
      {"computer and computer", computer.get(), root_dir(), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.self->relation(c.other), c.relation) << c.what;
}

TEST_F(WindowsDir, OpenDirResolvesWithoutTouchingTheDisk) {
  auto work = open(u"C:\\work");
  ASSERT_TRUE(work);
  EXPECT_EQ(narrow(work->path()), "C:\\work\\");
  std::unique_ptr<ri_dir> missing(work->open_dir(u"no\\such\\dir"));
  ASSERT_TRUE(missing);
  EXPECT_EQ(narrow(missing->path()), "C:\\work\\no\\such\\dir\\");
  EXPECT_TRUE(work->Good());

  std::unique_ptr<ri_dir> bad(work->open_dir(u"a<b"));
  EXPECT_FALSE(bad);
  EXPECT_EQ(work->error_code(), 0x40007u);

  std::unique_ptr<ri_dir> again(work->reopen());
  ASSERT_TRUE(again);
  EXPECT_EQ(work->relation(again.get()), 0);
  EXPECT_TRUE(work->is_system_dir());

  the_identifier id(u"sub", nullptr, 0);
  std::unique_ptr<ri_dir> by_id(work->open_dir(&id));
  ASSERT_TRUE(by_id);
  EXPECT_EQ(narrow(by_id->path()), "C:\\work\\sub\\");
  std::unique_ptr<ri_dir> none(work->open_dir(static_cast<const file_identifier*>(nullptr)));
  EXPECT_FALSE(none);
  EXPECT_EQ(work->error_code(), 0x40007u);
}

TEST_F(WindowsDir, OpenParentAdvancesToTheLastComponent) {
  auto work = open(u"C:\\work");
  const char16_t* name = u"sub\\file.txt";
  std::unique_ptr<ri_dir> parent(work->open_parent(&name));
  ASSERT_TRUE(parent);
  EXPECT_EQ(narrow(parent->path()), "C:\\work\\sub\\");
  EXPECT_EQ(narrow(name), "file.txt");

  const char16_t* plain = u"file.txt";
  parent.reset(work->open_parent(&plain));
  ASSERT_TRUE(parent);
  EXPECT_EQ(narrow(parent->path()), "C:\\work\\");
  EXPECT_EQ(narrow(plain), "file.txt");

  const char16_t* drive = u"D:x";
  parent.reset(work->open_parent(&drive));
  ASSERT_TRUE(parent);
  EXPECT_EQ(narrow(parent->path()), "D:\\");
  EXPECT_EQ(narrow(drive), "x");

  const char16_t* bad = u"a*\\x";
  parent.reset(work->open_parent(&bad));
  EXPECT_FALSE(parent);
  EXPECT_EQ(narrow(bad), "a*\\x");
}

TEST_F(WindowsDir, SpecialFolders) {
  std::unique_ptr<ri_dir> computer(open(u"C:\\work")->open_special(entry_kind::computer));
  ASSERT_TRUE(computer);
  EXPECT_EQ(narrow(computer->path()), "");

  auto work = open(u"C:\\work");
  std::unique_ptr<ri_dir> temp(work->open_special(entry_kind::temporary));
  ASSERT_TRUE(temp);
  char16_t expected[261] = {};
  ASSERT_NE(GetTempPathW(260, expected), 0u);
  std::u16string canonical;
  ASSERT_TRUE(resolve_path(u"", canonical, expected, false));
  EXPECT_EQ(narrow(temp->path()), narrow(canonical.c_str()));

  set_shell_root(nullptr);
  for (std::int32_t kind : {entry_kind::app_data, entry_kind::local_app_data, entry_kind::common_app_data}) {
    std::unique_ptr<ri_dir> none(work->open_special(kind));
    EXPECT_FALSE(none);
    EXPECT_EQ(work->error_code(), 0x40007u) << kind;  // no shell namespace registered
  }
  set_shell_root([]() -> i_dir* { return shell_root_dir(); });
  std::unique_ptr<ri_dir> documents(work->open_special(entry_kind::documents));
  EXPECT_FALSE(documents);
  EXPECT_EQ(work->error_code(), 0x4000eu);
}

TEST_F(WindowsDir, DirectoryControls) {
  auto computer = open(u"C:\\..");
  dir_control_request gsyp{control_code("GSYP"), {nullptr}, nullptr, nullptr};
  computer->raise(KV_SITE, fs_error::read);
  computer->control(&gsyp);
  ASSERT_NE(gsyp.pointer3, nullptr);
  EXPECT_EQ(narrow(static_cast<const char16_t*>(gsyp.pointer3)), "");
  EXPECT_TRUE(computer->Good());

  auto work = open(u"C:\\work");
  work->control(&gsyp);
  EXPECT_EQ(narrow(static_cast<const char16_t*>(gsyp.pointer3)), "C:\\work\\");

  dir_control_request unknown{control_code("ZZZZ"), {nullptr}, nullptr, nullptr};
  work->control(&unknown);
  EXPECT_EQ(work->error_code(), 0x4000eu);
  work->clear_error();
  work->control(nullptr);
  EXPECT_EQ(work->error_code(), 0x4000eu);

  // Credentials reach the named directory; its answer comes back here.
  dir_control_request spwd{control_code("SPWD"), {u"user"}, u"secret", const_cast<char16_t*>(u"\\\\srv\\share")};
  work->clear_error();
  work->control(&spwd);
  EXPECT_EQ(work->error_code(), 0x40014u);  // no such server in this world
  EXPECT_STREQ(work->error().narrowField("function"), "WNetAddConnection3W");
}

TEST_F(WindowsDir, DriveLetters) {
  win32_dir::letter_iterator it;
  std::vector<std::string> names;
  for (it.next(); it.Good(); it.next()) names.push_back(narrow(it.name()));
  EXPECT_EQ(it.error_code(), 0x40002u);
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], "C:");
  EXPECT_EQ(names[1], "D:");
  EXPECT_EQ(it.name(), nullptr);
  EXPECT_EQ(it.kind(), entry_kind::unknown);

  win32_dir::letter_iterator d;
  d.position_at_letter(u'd');
  EXPECT_TRUE(d.Good());
  EXPECT_EQ(narrow(d.name()), "D:");
  EXPECT_EQ(d.expandable(), 2);
  std::unique_ptr<file_identifier> id(d.identifier());
  auto* tid = dynamic_cast<the_identifier*>(id.get());
  ASSERT_NE(tid, nullptr);
  EXPECT_EQ(narrow(tid->name()), "D:");
  ASSERT_NE(tid->bytes(), nullptr);
  EXPECT_EQ(std::memcmp(tid->bytes(), "D:", 3), 0);

  win32_dir::letter_iterator c;
  c.position_at_letter(u'C');
  EXPECT_EQ(c.kind(), entry_kind::fixed);

  win32_dir::letter_iterator q;
  q.position_at_letter(u'q');
  EXPECT_EQ(q.error_code(), 0x40002u);

  // Advancing after a failed positioning goes on in letter order, from A for
  // anything before it and nowhere for anything after Z.
  struct After {
    char16_t letter;
    const char* next;
  };
  for (const After& a : {After{u'1', "C:"}, After{u'@', "C:"}, After{u'\0', "C:"}, After{u'[', nullptr}, After{u'\xFFFF', nullptr}}) {
    win32_dir::letter_iterator it;
    it.position_at_letter(a.letter);
    EXPECT_EQ(it.error_code(), 0x40002u) << int(a.letter);
    it.clear_error();
    it.next();
    if (a.next) {
      ASSERT_TRUE(it.Good()) << int(a.letter);
      EXPECT_EQ(narrow(it.name()), a.next);
    } else {
      EXPECT_EQ(it.error_code(), 0x40002u) << int(a.letter);
    }
  }
}

TEST_F(WindowsDir, ComputerLevelIteration) {
  win32_dir* root = root_dir();
  std::unique_ptr<i_dir::iterator> all(root->iterate());
  ASSERT_TRUE(all);
  EXPECT_EQ(narrow(all->name()), "C:");

  std::unique_ptr<i_dir::iterator> d(root->iterate(u"d:"));
  ASSERT_TRUE(d);
  EXPECT_EQ(narrow(d->name()), "D:");
  d->next();
  EXPECT_TRUE(d->Good());  // advancing yields the following drives

  std::unique_ptr<i_dir::iterator> bare(root->iterate(u"D"));
  EXPECT_FALSE(bare);
  EXPECT_EQ(root->error_code(), 0x40007u);
  std::unique_ptr<i_dir::iterator> missing(root->iterate(u"Q:"));
  EXPECT_FALSE(missing);
  EXPECT_EQ(root->error_code(), 0x40002u);

  std::unique_ptr<i_dir::iterator> self(root->iterate_self());
  ASSERT_TRUE(self);
  EXPECT_EQ(narrow(self->name()), "");
  EXPECT_EQ(self->kind(), entry_kind::computer);
  EXPECT_EQ(self->identifier(), nullptr);
  self->next();
  EXPECT_TRUE(self->Good());
  EXPECT_EQ(self->kind(), entry_kind::computer);

  auto drive = open(u"d:\\");
  std::unique_ptr<i_dir::iterator> drive_self(drive->iterate_self());
  ASSERT_TRUE(drive_self);
  EXPECT_EQ(narrow(drive_self->name()), "D:");
}

TEST(TheIdentifier, BlocksAreShared) {
  auto* first = new the_identifier(u"name.txt", "\x01\x02", 2);
  std::unique_ptr<file_identifier> copy(first->clone());
  const char16_t* before = first->name();
  delete first;
  auto* t = dynamic_cast<the_identifier*>(copy.get());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->name(), before);
  EXPECT_EQ(narrow(t->name()), "name.txt");
  EXPECT_EQ(std::memcmp(t->bytes(), "\x01\x02", 2), 0);

  the_identifier empty(nullptr, nullptr, 0);
  EXPECT_EQ(narrow(empty.name()), "");
  EXPECT_EQ(empty.bytes(), nullptr);
  the_identifier named(u"n", nullptr, 0);
  EXPECT_EQ(named.bytes(), nullptr);
  EXPECT_EQ(identifier_name(&named), std::u16string_view(u"n"));
  EXPECT_EQ(identifier_name(nullptr), nullptr);
}

TEST(TheIdentifier, CompareNamesIgnoresCase) {
  winnt_dir computer;
  the_identifier a(u"alpha", nullptr, 0), b(u"ALPHA", nullptr, 0), c(u"beta", nullptr, 0);
  EXPECT_EQ(computer.compare_names(&a, &b), 0);
  EXPECT_EQ(computer.compare_names(&a, &c), -1);
  EXPECT_EQ(computer.compare_names(&c, &a), 1);
}

TEST(LongPath, Forms) {
  const struct {
    const char16_t* dir;
    const char16_t* name;
    const char16_t* expected;  // null: fails
  } cases[] = {
      {u"C:\\dir\\", u"x", u"\\\\?\\C:\\dir\\x"},
      {u"C:\\dir\\", u"..\\y\\", u"\\\\?\\C:\\y"},
      {u"\\\\server\\share\\", u"x", u"\\\\?\\UNC\\server\\share\\x"},
      {u"C:\\", u"\\\\server\\share", u"\\\\?\\UNC\\server\\share"},
      {u"\\\\?\\Volume{1}\\", u"x", u"\\\\?\\Volume{1}\\x"},
      {u"", u"x", nullptr},
      {u"C:\\", u"..", nullptr},
      {u"C:\\", u"ab:c", nullptr},
  };
  for (const auto& c : cases) {
    winnt_dir d(c.dir);
    std::u16string out = u"unchanged";
    const bool ok = d.long_path(out, c.name);
    if (c.expected) {
      EXPECT_TRUE(ok) << narrow(c.name);
      EXPECT_EQ(narrow(out.c_str()), narrow(c.expected));
    } else {
      EXPECT_FALSE(ok) << narrow(c.name);
    }
  }
  winnt_dir d(u"C:\\dir\\");
  std::u16string own;
  ASSERT_TRUE(d.own_long_path(own));
  EXPECT_EQ(narrow(own.c_str()), "\\\\?\\C:\\dir\\");
  std::u16string stream;
  ASSERT_TRUE(d.long_path(stream, u"f.txt:s", true));
  EXPECT_EQ(narrow(stream.c_str()), "\\\\?\\C:\\dir\\f.txt:s");
  EXPECT_FALSE(winnt_dir().own_long_path(own));
}

TEST(LongPath, UncAndShareRoots) {
  EXPECT_TRUE(is_unc_long_path(u"\\\\?\\UNC\\s\\h"));
  EXPECT_FALSE(is_unc_long_path(u"\\\\?\\C:\\x"));
  EXPECT_TRUE(is_share_root(u"\\\\?\\UNC\\server\\share"));
  EXPECT_FALSE(is_share_root(u"\\\\?\\UNC\\server\\share\\dir"));
  EXPECT_FALSE(is_share_root(u"\\\\?\\UNC\\server"));
  EXPECT_FALSE(is_share_root(u"\\\\?\\C:\\a\\b"));
}

class EntryOps : public fs_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    work_ = open(u"C:\\work");
  }
  std::unique_ptr<win32_dir> work_;
};

TEST_F(EntryOps, CreateRenameRemove) {
  work_->create_dir(u"sub", nullptr);
  EXPECT_TRUE(work_->Good());
  EXPECT_TRUE(std::filesystem::is_directory(c("work/sub")));
  put("work/sub/f.txt", "x");
  work_->rename(u"sub\\f.txt", u"g.txt");
  EXPECT_TRUE(work_->Good());
  EXPECT_EQ(get("work/g.txt"), "x");
  work_->remove_file(u"g.txt");
  EXPECT_TRUE(work_->Good());
  EXPECT_FALSE(std::filesystem::exists(c("work/g.txt")));
  work_->remove_dir(u"sub");
  EXPECT_TRUE(work_->Good());
  EXPECT_FALSE(std::filesystem::exists(c("work/sub")));
}

TEST_F(EntryOps, FailuresCarryTheMappedCodeFunctionAndLongPath) {
  struct expect {
    const char* what;
    void (*run)(win32_dir&);
    std::uint32_t code;
    const char* function;
    const char* filename;
  } cases[] = {
      {"remove missing file", [](win32_dir& d) { d.remove_file(u"nope.txt"); }, 0x40011, "DeleteFileW",
       "\\\\?\\C:\\work\\nope.txt"},
      {"create existing dir", [](win32_dir& d) { d.create_dir(u"exists", nullptr); }, 0x40013, "CreateDirectoryW",
       "\\\\?\\C:\\work\\exists"},
      {"remove non-empty dir", [](win32_dir& d) { d.remove_dir(u"exists"); }, 0x40008, "RemoveDirectoryW",
       "\\\\?\\C:\\work\\exists"},
      {"rename missing", [](win32_dir& d) { d.rename(u"nope.txt", u"other.txt"); }, 0x40011, "MoveFileW",
       "\\\\?\\C:\\work\\nope.txt"},
  };
  std::filesystem::create_directories(c("work/exists/inner"));
  for (const auto& e : cases) {
    e.run(*work_);
    EXPECT_EQ(work_->error_code(), e.code) << e.what;
    EXPECT_STREQ(work_->error().narrowField("function"), e.function) << e.what;
    EXPECT_EQ(narrow(work_->error().wideField("filename")), e.filename) << e.what;
    EXPECT_TRUE(work_->error().cause()) << e.what;
  }
}

TEST_F(EntryOps, BadPathsFailBeforeAnyCall) {
  const std::u16string long_name(256, u'n');
  const struct {
    const char* what;
    void (*run)(win32_dir&, const char16_t*);
    std::uint32_t code;
  } cases[] = {
      {"remove_file", [](win32_dir& d, const char16_t* n) { d.remove_file(n); }, 0x40008},
      {"remove_dir", [](win32_dir& d, const char16_t* n) { d.remove_dir(n); }, 0x40008},
      {"create_dir", [](win32_dir& d, const char16_t* n) { d.create_dir(n, nullptr); }, 0x4000a},
      {"set_attributes", [](win32_dir& d, const char16_t* n) { d.set_attributes(n, 0); }, 0x4000a},
  };
  for (const auto& c : cases) {
    for (const char16_t* name : {long_name.c_str(), u"a?b"}) {
      c.run(*work_, name);
      EXPECT_EQ(work_->error_code(), c.code) << c.what;
      EXPECT_STREQ(work_->error().fieldNames(), "") << c.what;
    }
  }
  work_->rename(u"ok.txt", u"bad|name");
  EXPECT_EQ(work_->error_code(), 0x40009u);
  EXPECT_EQ(work_->error().cause().numberField("code"), 0x8007007Bu);
  EXPECT_STREQ(work_->error().fieldNames(), "");
}

// A security source whose answer the test chooses.
class test_security : public security_source {
 public:
  test_security(bool make, std::uint32_t status) : make_(make), status_(status) {}
  SECURITY_ATTRIBUTES* make_attributes() override {
    if (!make_) return nullptr;
    ++made;
    return &sa_;
  }
  std::uint32_t status(SECURITY_ATTRIBUTES*) override { return status_; }
  void release(SECURITY_ATTRIBUTES*) override { ++released; }
  int made = 0, released = 0;

 private:
  bool make_;
  std::uint32_t status_;
  SECURITY_ATTRIBUTES sa_{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

TEST_F(EntryOps, SecuritySources) {
  test_security none(false, 0);
  std::unique_ptr<rio_file> f(work_->create_file(u"s1.txt", false, &none));
  EXPECT_FALSE(f);
  EXPECT_EQ(work_->error_code(), 0x40006u);

  test_security refused(true, ERROR_ACCESS_DENIED);
  f.reset(work_->create_file(u"s2.txt", false, &refused));
  EXPECT_FALSE(f);
  EXPECT_EQ(work_->error_code(), 0x40014u);
  EXPECT_STREQ(work_->error().fieldNames(), "");
  EXPECT_EQ(refused.released, refused.made);
  EXPECT_FALSE(std::filesystem::exists(c("work/s2.txt")));

  work_->create_dir(u"secdir", &refused);
  EXPECT_EQ(work_->error_code(), 0x40014u);
  EXPECT_STREQ(work_->error().narrowField("function"), "GetSecurityAttributes");
  EXPECT_EQ(work_->error().wideField("filename"), nullptr);
  EXPECT_EQ(refused.released, refused.made);
  EXPECT_FALSE(std::filesystem::exists(c("work/secdir")));

  test_security fine(true, 0);
  f.reset(work_->create_file(u"s3.txt", false, &fine));
  EXPECT_TRUE(f);
  work_->create_dir(u"secdir", &fine);
  EXPECT_TRUE(work_->Good());
  EXPECT_EQ(fine.made, 2);
  EXPECT_EQ(fine.released, 2);
}

TEST_F(EntryOps, CreateHandleNamesTheFailingCall) {
  HANDLE h = work_->create_handle(u"no\\dir\\f.bin", nullptr, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS,
                                  FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(work_->error_code(), 0x4000au);
  EXPECT_STREQ(work_->error().narrowField("function"), "CreateFileNoCacheW");
  h = work_->create_handle(u"no\\dir\\f.bin", nullptr, GENERIC_READ, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  EXPECT_STREQ(work_->error().narrowField("function"), "CreateFileW");

  // A success leaves an earlier error in place.
  h = work_->create_handle(u"new.bin", nullptr, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(work_->error_code(), 0x4000au);
  CloseHandle(h);
}

// The roots are made once per process: each check runs in a child of its own.
TEST_F(WindowsDir, CurrentDirIsTheDirectoryAtFirstUse) {
  std::filesystem::create_directories(c("work/cwd"));
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SetCurrentDirectoryW(u"C:\\work\\cwd");
        win32_dir* d = current_dir();
        const bool first = d && narrow(d->path()) == "C:\\work\\cwd\\";
        SetCurrentDirectoryW(u"C:\\work");
        const bool kept = current_dir() == d && narrow(current_dir()->path()) == "C:\\work\\cwd\\";
        TearDown();
        std::exit(first && kept ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(WindowsDir, ModulePathIsTheProgramFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        char16_t expected[261] = {};
        GetModuleFileNameW(nullptr, expected, 261);
        const char16_t* p = module_path();
        const std::string text = narrow(p);
        const bool ok = std::u16string_view(p) == expected && text.size() > 14 &&
                        text.substr(text.size() - 14) == "kv_files_tests" && module_path() == p;
        TearDown();
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace

namespace {

TEST(WindowsDirOutput, WriteViewsOfDirectories) {
  auto work = open(u"C:\\work");
  std::unique_ptr<ro_dir> sub(work->open_dir_for_write(u"sub"));
  ASSERT_TRUE(sub);
  EXPECT_EQ(narrow(dynamic_cast<i_dir*>(sub.get())->path()), "C:\\work\\sub\\");
  const char16_t* name = u"x\\y.txt";
  std::unique_ptr<ro_dir> parent(work->open_parent_for_write(&name));
  ASSERT_TRUE(parent);
  EXPECT_EQ(narrow(dynamic_cast<i_dir*>(parent.get())->path()), "C:\\work\\x\\");
  EXPECT_EQ(narrow(name), "y.txt");
  std::unique_ptr<ro_dir> bad(work->open_dir_for_write(u"a>b"));
  EXPECT_FALSE(bad);
  EXPECT_EQ(work->error_code(), 0x40007u);
}

}  // namespace
