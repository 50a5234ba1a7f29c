// Writers of one package in other processes, and a user who does not own it:
// this test program starts itself again as the other process, which opens the
// package as it is told and answers over a pipe.
#include <grp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/msi/msi.h"
#include "platform/msi/msi_fixture.h"
#include "platform/win32/testing/test_child.h"

extern char** environ;

using msi_test::Handle;
using msi_test::narrow;
using msi_test::recordString;

namespace {

using win32_test::hear;

constexpr uid_t kNobody = 65534;
const char16_t* const kPackage = u"C:\\pkg\\small.msi";

void say(int fd, const std::string& line) {
  const std::string l = line + "\n";
  if (::write(fd, l.data(), l.size()) != static_cast<ssize_t>(l.size())) std::_Exit(5);
}

UINT insertProperty(MSIHANDLE db, const char16_t* name, const char16_t* value) {
  Handle view, rec(MsiCreateRecord(2));
  MsiRecordSetStringW(rec, 1, name);
  MsiRecordSetStringW(rec, 2, value);
  UINT rc = MsiDatabaseOpenViewW(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", view.out());
  if (rc == ERROR_SUCCESS) rc = MsiViewExecute(view, rec);
  return rc;
}

// The other process. Modes:
//  "write": opens transacted, adds Property Child, says the result and "held";
//           on "commit" commits and says the result; on "close" closes.
//  "try":   says the results of a transacted and a read-only open.
//  "stranger": first becomes nobody, then says the results of a read-only
//           open, a transacted open, and a direct open.
TEST(PackageWriterChild, Run) {
  const char* mode = std::getenv("KV_MSI_CHILD");
  if (!mode) GTEST_SKIP() << "started by PackageWriters only";
  const int in = std::atoi(std::getenv("KV_MSI_CHILD_IN")), out = std::atoi(std::getenv("KV_MSI_CHILD_OUT"));
  const std::string m = mode;
  if (m == "stranger") {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      say(out, "cannot switch");
      std::_Exit(0);
    }
    Handle reader, writer, direct;
    say(out, std::to_string(MsiOpenDatabaseW(kPackage, MSIDBOPEN_READONLY, reader.out())));
    say(out, std::to_string(MsiOpenDatabaseW(kPackage, MSIDBOPEN_TRANSACT, writer.out())));
    Handle err(MsiGetLastErrorRecord());
    say(out, narrow(recordString(err, 2)));
    say(out, std::to_string(MsiOpenDatabaseW(kPackage, MSIDBOPEN_DIRECT, direct.out())));
    std::_Exit(0);
  }
  if (m == "try") {
    Handle writer, reader;
    say(out, std::to_string(MsiOpenDatabaseW(kPackage, MSIDBOPEN_TRANSACT, writer.out())));
    say(out, std::to_string(MsiOpenDatabaseW(kPackage, MSIDBOPEN_READONLY, reader.out())));
    std::_Exit(0);
  }
  Handle db;
  UINT rc = MsiOpenDatabaseW(kPackage, MSIDBOPEN_TRANSACT, db.out());
  if (rc == ERROR_SUCCESS) rc = insertProperty(db, u"Child", u"1");
  say(out, std::to_string(rc));
  if (hear(in) == "commit") say(out, std::to_string(MsiDatabaseCommit(db)));
  hear(in);
  db.reset();
  std::_Exit(0);
}

class PackageWriters : public msi_test::PackageWorld {
 protected:
  using Child = win32_test::Child;
  Child start(const char* mode) {
    return win32_test::startChild("PackageWriterChild.Run", "KV_MSI_CHILD_IN", "KV_MSI_CHILD_OUT",
                                  {{"KV_MSI_CHILD", mode}});
  }
  static int finish(Child& c) { return win32_test::finishChild(c); }
  static std::string result(UINT rc) { return std::to_string(rc); }
};

// Each writer's change survives: while another process holds the package for
// writing, a transacted open here is refused, also after that process's
// commit; reading stays allowed. And the other way round.
TEST_F(PackageWriters, ASecondWriterInAnotherProcessIsRefused) {
  const std::string path = buildSmall();
  Child writer = start("write");
  ASSERT_EQ(hear(writer.from), result(ERROR_SUCCESS));
  Handle second, reader;
  EXPECT_EQ(MsiOpenDatabaseW(kPackage, MSIDBOPEN_TRANSACT, second.out()), static_cast<UINT>(ERROR_OPEN_FAILED));
  Handle err(MsiGetLastErrorRecord());
  EXPECT_NE(narrow(recordString(err, 2)).find("open for writing elsewhere"), std::string::npos)
      << narrow(recordString(err, 2));
  EXPECT_EQ(MsiOpenDatabaseW(kPackage, MSIDBOPEN_READONLY, reader.out()), 0u);
  reader.reset();
  say(writer.to, "commit");
  EXPECT_EQ(hear(writer.from), result(ERROR_SUCCESS));
  EXPECT_EQ(MsiOpenDatabaseW(kPackage, MSIDBOPEN_TRANSACT, second.out()), static_cast<UINT>(ERROR_OPEN_FAILED))
      << "the hold moves to the committed file";
  MsiCloseHandle(MsiGetLastErrorRecord());
  say(writer.to, "close");
  int status = finish(writer);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(msi_test::exportTable(path, "Property").find("Child\t1"), std::string::npos);

  // Held here: the other process is refused writing, not reading.
  ASSERT_EQ(MsiOpenDatabaseW(kPackage, MSIDBOPEN_TRANSACT, second.out()), 0u);
  ASSERT_EQ(insertProperty(second, u"Parent", u"2"), 0u);
  Child trier = start("try");
  EXPECT_EQ(hear(trier.from), result(ERROR_OPEN_FAILED));
  EXPECT_EQ(hear(trier.from), result(ERROR_SUCCESS));
  status = finish(trier);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_EQ(MsiDatabaseCommit(second), 0u);
  second.reset();
  const std::string rows = msi_test::exportTable(path, "Property");
  EXPECT_NE(rows.find("Child\t1"), std::string::npos) << "the first writer's change is kept";
  EXPECT_NE(rows.find("Parent\t2"), std::string::npos);
}

// A user who does not own the package, in a folder anyone may write to (where
// replacing the file by rename would succeed): reading works, writing is
// refused as for a read-only file, and the file stays as it was.
TEST_F(PackageWriters, AUserWhoDoesNotOwnThePackageOnlyReadsIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user (nobody); run as uid " << ::geteuid();
  const std::string path = buildSmall();
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  for (const std::string& folder : {c("pkg"), c()}) ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  // The other user's own machine state; the package is reached through drive C.
  const std::string world = dir_ + "/stranger-world";
  std::filesystem::create_directories(world);
  ASSERT_EQ(::chown(world.c_str(), kNobody, kNobody), 0);
  // Every folder above the package must let the other user through.
  for (std::filesystem::path p = dir_; p != p.root_path(); p = p.parent_path()) {
    struct stat st;
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    if (p == std::filesystem::path(dir_)) {
      ASSERT_EQ(::chmod(p.c_str(), 0755), 0);
    } else if (!(st.st_mode & S_IXOTH)) {
      GTEST_SKIP() << p << " does not let another user through (mode " << std::oct << (st.st_mode & 07777) << ")";
    }
  }
  const std::string before = msi_test::readFile(path);
  const std::string ownWorld = std::getenv("KV_WORLD_ROOT");
  ::setenv("KV_WORLD_ROOT", world.c_str(), 1);
  Child stranger = start("stranger");
  ::setenv("KV_WORLD_ROOT", ownWorld.c_str(), 1);
  const std::string first = hear(stranger.from);
  if (first == "cannot switch") {
    finish(stranger);
    GTEST_SKIP() << "cannot switch to nobody";
  }
  EXPECT_EQ(first, result(ERROR_SUCCESS)) << "reading";
  EXPECT_EQ(hear(stranger.from), result(ERROR_OPEN_FAILED)) << "a transacted open";
  EXPECT_NE(hear(stranger.from).find("read-only"), std::string::npos);
  EXPECT_EQ(hear(stranger.from), result(ERROR_OPEN_FAILED)) << "a direct open";
  const int status = finish(stranger);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(msi_test::readFile(path), before);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u) << "the package is still root's own file";
  for (const auto& e : std::filesystem::directory_iterator(c("pkg")))
    EXPECT_EQ(e.path().filename().string().find(".commit-"), std::string::npos) << "no temporary file stays behind";
}

}  // namespace
