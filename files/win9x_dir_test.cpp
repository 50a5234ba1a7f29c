#include "files/win9x_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "files/fs_test_world.h"
#include "platform/win32/windows.h"

namespace {

class Win9xDir : public fs_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    if (HasFatalFailure()) return;
    ::setenv("KV_WINDOWS_VERSION", "98", 1);
    put("work/a.txt", "a");
    put("work/caf\xC3\xA9.txt", "c");  // UTF-8 on the Unix side
  }
  void TearDown() override {
    ::unsetenv("KV_WINDOWS_VERSION");
    World::TearDown();
  }
  bool exists(const std::string& rel) { return std::filesystem::exists(std::filesystem::symlink_status(c(rel))); }
  win9x_dir dir{u"C:\\work\\"};
};

std::string bytes_of(const file_identifier* id) {
  auto* t = dynamic_cast<const the_identifier*>(id);
  return t && t->bytes() ? std::string(static_cast<const char*>(t->bytes())) : "<none>";
}

TEST_F(Win9xDir, ListsCreatesAndRemovesThroughTheAnsiCalls) {
  ASSERT_EQ(GetVersion() & 0x80000000u, 0x80000000u);
  dir.create_dir(u"sub", nullptr);
  ASSERT_TRUE(dir.Good());
  EXPECT_TRUE(std::filesystem::is_directory(c("work/sub")));
  std::map<std::u16string, std::pair<std::int32_t, std::string>> seen;
  std::unique_ptr<i_dir::iterator> it(dir.iterate());
  ASSERT_NE(it, nullptr);
  for (; it->Good(); it->next()) {
    std::unique_ptr<file_identifier> id(it->identifier());
    seen[it->name()] = {it->kind(), bytes_of(id.get())};
  }
  EXPECT_EQ(it->error_code(), fs_error::end_of_file);
  // The identifiers carry the CP1252 bytes of each name.
  const std::map<std::u16string, std::pair<std::int32_t, std::string>> want{
      {u"a.txt", {entry_kind::file, "a.txt"}},
      {u"caf\u00E9.txt", {entry_kind::file, "caf\xE9.txt"}},
      {u"sub", {entry_kind::directory, "sub"}}};
  EXPECT_EQ(seen, want);

  dir.rename(u"a.txt", u"b.txt");
  EXPECT_TRUE(dir.Good());
  EXPECT_EQ(get("work/b.txt"), "a");
  dir.remove_file(u"b.txt");
  EXPECT_TRUE(dir.Good());
  EXPECT_FALSE(exists("work/b.txt"));
  dir.remove_dir(u"sub");
  EXPECT_TRUE(dir.Good());
  EXPECT_FALSE(exists("work/sub"));
  dir.remove_file(u"b.txt");
  EXPECT_EQ(dir.error_code(), fs_error::not_found);
  EXPECT_STREQ(dir.error().narrowField("function"), "DeleteFileA");
}

TEST_F(Win9xDir, IdentifiersNameOneEntryAndCompareByTheirAnsiBytes) {
  the_identifier cafe(u"caf\u00E9.txt", "caf\xE9.txt", 9);
  the_identifier upper(u"CAF\u00C9.TXT", "CAF\xC9.TXT", 9);
  the_identifier other(u"b", "b", 2);
  EXPECT_EQ(dir.compare_names(&cafe, &upper), 0);
  EXPECT_EQ(dir.compare_names(&cafe, &other), 1);
  EXPECT_TRUE(dir.compare_prefix(u"CAF\u00C9", u"caf\u00E9", 4));
  EXPECT_FALSE(dir.compare_prefix(u"CAFE", u"caf\u00E9", 4));
  std::unique_ptr<i_dir::iterator> one(dir.iterate(&cafe));
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(std::u16string(one->name()), u"caf\u00E9.txt");
  one->next();
  EXPECT_EQ(one->error_code(), fs_error::end_of_file);
  // A missing name ends the search at once, whatever its form.
  EXPECT_EQ(dir.iterate(u"missing"), nullptr);
  EXPECT_EQ(dir.error_code(), fs_error::end_of_file);
}

TEST_F(Win9xDir, AnEmptyFolderListsNothingAndClearsTheError) {
  std::filesystem::create_directories(c("work/empty"));
  win9x_dir empty(u"C:\\work\\empty\\");
  empty.raise(KV_SITE, fs_error::read);
  std::unique_ptr<i_dir::iterator> it(empty.iterate());
  ASSERT_NE(it, nullptr);
  EXPECT_EQ(it->error_code(), fs_error::end_of_file);
  EXPECT_TRUE(empty.Good());
}

TEST_F(Win9xDir, PathsBeyond260BytesFailBeforeAnyCall) {
  const std::u16string long_name(300, u'n');
  struct Case {
    const char* what;
    std::function<void()> call;
    std::uint32_t code;
  } cases[] = {
      {"create_dir", [&] { dir.create_dir(long_name.c_str(), nullptr); }, fs_error::create},
      {"remove_file", [&] { dir.remove_file(long_name.c_str()); }, fs_error::remove},
      {"remove_dir", [&] { dir.remove_dir(long_name.c_str()); }, fs_error::remove},
      {"rename", [&] { dir.rename(u"a.txt", long_name.c_str()); }, fs_error::rename},
      {"set_attributes", [&] { dir.set_attributes(long_name.c_str(), FILE_ATTRIBUTE_READONLY); }, fs_error::create},
      {"iterate", [&] { delete dir.iterate(long_name.c_str()); }, fs_error::open},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir.clear_error();
    c.call();
    EXPECT_EQ(dir.error_code(), c.code);
    EXPECT_EQ(dir.error().cause().code(), 0u);  // no system call was made
  }
  EXPECT_EQ(get("work/a.txt"), "a");
}

TEST_F(Win9xDir, HandlesNeverShareDeletion) {
  for (bool nine : {true, false}) {
    SCOPED_TRACE(nine);
    winnt_dir nt(u"C:\\work\\");
    win32_dir& d = nine ? static_cast<win32_dir&>(dir) : nt;
    HANDLE h = d.create_handle(u"a.txt", nullptr, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               OPEN_EXISTING, 0);
    ASSERT_NE(h, nullptr);
    const BOOL deleted = DeleteFileW(u"C:\\work\\a.txt");
    EXPECT_EQ(deleted, nine ? FALSE : TRUE);
    CloseHandle(h);
    if (!nine) put("work/a.txt", "a");
  }
  HANDLE none = dir.create_handle(u"missing.txt", nullptr, GENERIC_READ, 0, OPEN_EXISTING, 0);
  EXPECT_EQ(none, nullptr);
  EXPECT_STREQ(dir.error().narrowField("function"), "OpenFileA");
}

TEST_F(Win9xDir, LinksJunctionsAndSecurityAreNotSupported) {
  dir.create_hard_link(u"l", u"a.txt");
  EXPECT_EQ(dir.error_code(), fs_error::not_supported);
  dir.clear_error();
  dir.create_junction(u"j", u"C:\\work", nullptr, 0);
  EXPECT_EQ(dir.error_code(), fs_error::not_supported);
  dir.clear_error();
  dir.set_security(u"a.txt", nullptr);
  EXPECT_EQ(dir.error_code(), fs_error::not_supported);
  EXPECT_FALSE(exists("work/l"));
  EXPECT_FALSE(exists("work/j"));
}

TEST_F(Win9xDir, VolumeQueriesGoThroughTheAnsiCalls) {
  std::uint64_t total = 0, total_free = 0, caller_free = 0;
  dir.free_space(total, total_free, caller_free);
  ASSERT_TRUE(dir.Good());
  ULARGE_INTEGER w_caller{}, w_total{}, w_free{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(u"C:\\", &w_caller, &w_total, &w_free));
  EXPECT_EQ(total, w_total.QuadPart);
  EXPECT_EQ(dir.drive_kind(), drive_type_kind(GetDriveTypeW(u"C:\\")));
  file_system_name_request r{control_code("GFST"), {}};
  dir.control(&r);
  ASSERT_TRUE(dir.Good());
  char16_t want[64] = {};
  ASSERT_TRUE(GetVolumeInformationW(u"C:\\", nullptr, 0, nullptr, nullptr, nullptr, want, 64));
  EXPECT_EQ(std::u16string(r.name), std::u16string(want));
  // Backups are an NT matter.
  std::uint32_t bkup[8] = {control_code("BKUP")};
  dir.control(bkup);
  EXPECT_EQ(dir.error_code(), fs_error::not_supported);
}

TEST_F(Win9xDir, DirectoriesOpenedFromItAreAgainAnsiOnes) {
  std::filesystem::create_directories(c("work/deeper"));
  std::unique_ptr<ri_dir> sub(dir.open_dir(u"deeper"));
  ASSERT_NE(sub, nullptr);
  EXPECT_NE(dynamic_cast<win9x_dir*>(sub.get()), nullptr);
}

TEST_F(Win9xDir, AShareRootIsOneEntryNamedInBothForms) {
  const std::string share = win32::make_share(u"srv", u"caf\u00E9");
  std::filesystem::create_directories(share + "/inner");
  win9x_dir root(u"\\\\srv\\caf\u00E9\\");
  std::unique_ptr<i_dir::iterator> it(root.iterate_self());
  ASSERT_NE(it, nullptr) << fs_test::narrow(root.error().text().c_str());
  EXPECT_EQ(it->kind(), entry_kind::share);
  EXPECT_EQ(std::u16string(it->name()), u"caf\u00E9");
  std::unique_ptr<file_identifier> id(it->identifier());
  EXPECT_EQ(bytes_of(id.get()), "caf\xE9");
  it->next();
  EXPECT_EQ(it->error_code(), fs_error::not_supported);
  // Its listing is the share's folders.
  it.reset(root.iterate());
  ASSERT_NE(it, nullptr);
  EXPECT_EQ(std::u16string(it->name()), u"inner");
}

}  // namespace

namespace {

TEST_F(Win9xDir, ConnectingALocalDriveFailsWithTheNetworkCause) {
  dir.connect(u"user", u"secret", nullptr);
  EXPECT_EQ(dir.error_code(), fs_error::open);
  EXPECT_STREQ(dir.error().narrowField("function"), "WNetGetUniversalNameA");
  EXPECT_EQ(dir.error().cause().numberField("code"), 0x80070000u | 2250u);
}

}  // namespace

namespace {

TEST_F(Win9xDir, RenameAtRestartGoesIntoWininit) {
  std::filesystem::create_directories(c("Windows"));
  char short_a[MAX_PATH] = {}, short_b[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameA("C:\\work\\a.txt", short_a, MAX_PATH), 0u);
  put("work/b.txt", "b");
  ASSERT_GT(GetShortPathNameA("C:\\work\\b.txt", short_b, MAX_PATH), 0u);
  restart_rename_request drop{control_code("PDRN"), u"a.txt", nullptr};
  dir.control(&drop);
  ASSERT_TRUE(dir.Good()) << dir.error_code();
  restart_rename_request move{control_code("PDRN"), u"a.txt", u"b.txt"};
  dir.control(&move);
  ASSERT_TRUE(dir.Good()) << dir.error_code();
  EXPECT_EQ(get("Windows/wininit.ini"), std::string("[rename]\r\nNUL=") + short_a + "\r\n" + short_b + "=" +
                                            short_a + "\r\n");
  // The new name must exist already; network paths cannot be scheduled.
  restart_rename_request missing{control_code("PDRN"), u"a.txt", u"none.txt"};
  dir.control(&missing);
  EXPECT_EQ(dir.error_code(), fs_error::not_found);
  EXPECT_STREQ(dir.error().narrowField("function"), "GetShortPathNameA");
  restart_rename_request remote{control_code("PDRN"), u"\\\\srv\\share\\x", nullptr};
  dir.control(&remote);
  EXPECT_EQ(dir.error_code(), fs_error::rename);
  EXPECT_EQ(dir.error().cause().code(), 0u);
  EXPECT_EQ(get("work/a.txt"), "a");
}

}  // namespace
