#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "files/fs_test_world.h"
#include "files/remove_tree.h"
#include "files/winnt_dir.h"

namespace {

using fs_test::narrow;
namespace fs = std::filesystem;

class NtDir : public fs_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    work_.reset(dynamic_cast<winnt_dir*>(root_dir()->open_dir_path(u"C:\\work")));
    ASSERT_TRUE(work_);
  }
  void TearDown() override {
    win32::clear_network_connections();
    World::TearDown();
  }
  std::unique_ptr<winnt_dir> open(const char16_t* path) {
    return std::unique_ptr<winnt_dir>(dynamic_cast<winnt_dir*>(root_dir()->open_dir_path(path)));
  }
  struct entry {
    std::int32_t kind;
    std::uint64_t size;
    std::int64_t write_time;
    std::uint32_t links;
    std::uint64_t index;
    std::string target;
  };
  std::map<std::string, entry> list(win32_dir& dir) {
    std::map<std::string, entry> out;
    std::unique_ptr<i_dir::iterator> it(dir.iterate());
    if (!it) return out;
    for (; it->Good(); it->next()) {
      entry e{it->kind(), it->size(), it->write_time(), 0, 0, ""};
      if (e.kind == entry_kind::junction || e.kind == entry_kind::dir_symlink || e.kind == entry_kind::file_symlink)
        e.target = narrow(it->link_target());
      e.links = it->link_count();
      e.index = it->file_index();
      out[narrow(it->name())] = e;
    }
    EXPECT_EQ(it->error_code(), fs_error::end_of_file);
    return out;
  }
  std::unique_ptr<winnt_dir> work_;
};

TEST_F(NtDir, ListingGivesKindsSizesTimesLinksIndexAndTargets) {
  put("work/file.txt", "hello");
  ASSERT_EQ(::link(c("work/file.txt").c_str(), c("work/twin.txt").c_str()), 0);
  fs::create_directories(c("work/sub"));
  fs::create_directories(c("data"));
  ASSERT_EQ(::symlink("../data", c("work/rel").c_str()), 0);
  ASSERT_EQ(::symlink(c("work/file.txt").c_str(), c("work/flink").c_str()), 0);
  work_->create_junction(u"junc", u"C:\\data", nullptr, 0);
  ASSERT_TRUE(work_->Good()) << narrow(work_->error().text().c_str());

  auto entries = list(*work_);
  ASSERT_EQ(entries.size(), 6u);
  struct stat st;
  ASSERT_EQ(::stat(c("work/file.txt").c_str(), &st), 0);
  const entry& f = entries["file.txt"];
  EXPECT_EQ(f.kind, entry_kind::file);
  EXPECT_EQ(f.size, 5u);
  EXPECT_EQ(f.links, 2u);
  EXPECT_EQ(f.index, static_cast<std::uint64_t>(st.st_ino));
  EXPECT_EQ(f.write_time, static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
  EXPECT_EQ(entries["twin.txt"].index, f.index);
  EXPECT_EQ(entries["sub"].kind, entry_kind::directory);
  EXPECT_EQ(entries["sub"].links, static_cast<std::uint32_t>(2));
  EXPECT_EQ(entries["rel"].kind, entry_kind::dir_symlink);
  EXPECT_EQ(entries["rel"].target, "..\\data");
  EXPECT_EQ(entries["flink"].kind, entry_kind::file_symlink);
  EXPECT_EQ(entries["flink"].target, "C:\\work\\file.txt");
  EXPECT_EQ(entries["junc"].kind, entry_kind::junction);
  EXPECT_EQ(entries["junc"].target, "C:\\data");
}

TEST_F(NtDir, JunctionsWriteSubstituteAndPrintNames) {
  fs::create_directories(c("data"));
  struct Case {
    const char16_t* link;
    const char16_t* target;
    const char* unix_target;  // what the link resolves to
    const char* reported;
  } cases[] = {
      {u"to_root", u"C:\\", "", "C:\\"},
      {u"to_data", u"C:\\data", "data", "C:\\data"},
  };
  for (const Case& k : cases) {
    work_->create_junction(k.link, k.target, nullptr, 0);
    ASSERT_TRUE(work_->Good()) << narrow(work_->error().text().c_str());
    const std::string link = c("work/" + narrow(k.link));
    EXPECT_EQ(fs::canonical(link), fs::canonical(c(k.unix_target)));
    std::unique_ptr<i_dir::iterator> it(work_->iterate(k.link));
    ASSERT_TRUE(it);
    EXPECT_EQ(it->kind(), entry_kind::junction);
    EXPECT_STREQ(narrow(it->link_target()).c_str(), k.reported);
  }
  // Following the link gives the target's parent and its name.
  the_identifier id(u"to_data", nullptr, 0);
  auto [parent, leaf] = work_->resolve_link(&id);
  ASSERT_TRUE(parent);
  EXPECT_STREQ(narrow(parent->path()).c_str(), "C:\\");
  EXPECT_STREQ(narrow(identifier_name(leaf)).c_str(), "data");
  delete parent;
  delete leaf;
  // An existing empty folder turns into the junction.
  fs::create_directories(c("work/empty"));
  work_->create_junction(u"empty", u"C:\\data", nullptr, 0);
  EXPECT_TRUE(work_->Good());
  EXPECT_TRUE(fs::is_symlink(c("work/empty")));
}

TEST_F(NtDir, FailedJunctionRemovesOnlyAFolderItMade) {
  // Drive Q: does not exist: the reparse point cannot be set.
  work_->create_junction(u"fresh", u"Q:\\nowhere", nullptr, 0);
  EXPECT_EQ(work_->error_code(), fs_error::create);
  EXPECT_STREQ(work_->error().narrowField("function"), "FSCTL_SET_REPARSE_POINT");
  EXPECT_FALSE(fs::exists(c("work/fresh")));
  fs::create_directories(c("work/kept"));
  work_->create_junction(u"kept", u"Q:\\nowhere", nullptr, 0);
  EXPECT_EQ(work_->error_code(), fs_error::create);
  EXPECT_TRUE(fs::is_directory(c("work/kept")));
  // Too long for one reparse buffer: refused before anything is made.
  std::u16string deep = u"C:";
  for (int i = 0; i < 40; ++i) deep += u"\\" + std::u16string(200, u'a');
  work_->create_junction(u"long", deep.c_str(), nullptr, 0);
  EXPECT_EQ(work_->error_code(), fs_error::create);
  EXPECT_EQ(work_->error().narrowField("function"), nullptr);
  EXPECT_FALSE(fs::exists(c("work/long")));
}

TEST_F(NtDir, EntryOperationsRoundTrip) {
  work_->create_dir(u"a", nullptr);
  ASSERT_TRUE(work_->Good());
  EXPECT_TRUE(fs::is_directory(c("work/a")));
  work_->create_dir(u"a", nullptr);
  EXPECT_EQ(work_->error_code(), fs_error::already_exists);
  work_->rename(u"a", u"b");
  ASSERT_TRUE(work_->Good());
  EXPECT_TRUE(fs::is_directory(c("work/b")));
  put("work/b/f.txt", "x");
  work_->create_hard_link(u"b\\g.txt", u"b\\f.txt");
  ASSERT_TRUE(work_->Good()) << narrow(work_->error().text().c_str());
  struct stat st;
  ASSERT_EQ(::stat(c("work/b/g.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 2u);
  work_->create_hard_link(u"b\\g.txt", u"b\\f.txt");
  EXPECT_EQ(work_->error_code(), fs_error::already_exists);
  EXPECT_STREQ(work_->error().narrowField("function"), "CreateHardLinkW");
  work_->remove_dir(u"b");
  EXPECT_STREQ(work_->error().narrowField("function"), "RemoveDirectoryW");
  work_->remove_file(u"b\\f.txt");
  work_->remove_file(u"b\\g.txt");
  EXPECT_TRUE(work_->Good());
  work_->remove_dir(u"b");
  EXPECT_TRUE(work_->Good());
  EXPECT_FALSE(fs::exists(c("work/b")));
  work_->remove_file(u"gone.txt");
  EXPECT_EQ(work_->error_code(), fs_error::not_found);
}

TEST_F(NtDir, IterationEdges) {
  fs::create_directories(c("work/empty"));
  auto empty = open(u"C:\\work\\empty");
  std::unique_ptr<i_dir::iterator> it(empty->iterate());
  ASSERT_TRUE(it);
  EXPECT_EQ(it->error_code(), fs_error::end_of_file);
  EXPECT_TRUE(empty->Good());
  it.reset(work_->iterate(u"missing"));
  EXPECT_FALSE(it);
  EXPECT_EQ(work_->error_code(), fs_error::not_found);
  it.reset(work_->iterate(u"*.txt"));
  EXPECT_FALSE(it);
  EXPECT_EQ(work_->error_code(), fs_error::open);
  EXPECT_EQ(work_->error().narrowField("function"), nullptr);
  // The directory's own entry.
  it.reset(empty->iterate_self());
  ASSERT_TRUE(it);
  EXPECT_STREQ(narrow(it->name()).c_str(), "empty");
  EXPECT_EQ(it->kind(), entry_kind::directory);
  // A listing outlives its directory.
  put("work/x.txt", "");
  it.reset(work_->iterate());
  work_.reset();
  ASSERT_TRUE(it);
  EXPECT_TRUE(it->Good());
}

TEST_F(NtDir, StoredSizesAndEntriesThatCannotBeOpened) {
  // A sparse file keeps fewer bytes on disk than it holds.
  {
    std::ofstream(c("work/sparse.bin"));
  }
  ASSERT_EQ(::truncate(c("work/sparse.bin").c_str(), 1 << 20), 0);
  struct stat st;
  ASSERT_EQ(::stat(c("work/sparse.bin").c_str(), &st), 0);
  std::unique_ptr<i_dir::iterator> it(work_->iterate(u"sparse.bin"));
  ASSERT_TRUE(it);
  EXPECT_EQ(it->size(), 1u << 20);
  EXPECT_EQ(it->stored_size(), std::min<std::uint64_t>(std::uint64_t(st.st_blocks) * 512, 1u << 20));

  // An entry gone after it was listed: the stored size falls back to the
  // listed size, and the link count and index to their empty values, with
  // the failed open in the iterator.
  put("work/gone.txt", "12345");
  it.reset(work_->iterate(u"gone.txt"));
  ASSERT_TRUE(it);
  fs::remove(c("work/gone.txt"));
  EXPECT_EQ(it->stored_size(), 5u);
  EXPECT_TRUE(it->Good());
  EXPECT_EQ(it->link_count(), 1u);
  EXPECT_STREQ(it->error().narrowField("function"), "OpenFileW");
  EXPECT_EQ(it->file_index(), 0u);

  // A volume GUID path that names no volume has no entry of its own.
  auto volume = open(u"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\");
  ASSERT_TRUE(volume);
  it.reset(volume->iterate_self());
  EXPECT_FALSE(it);
  EXPECT_EQ(volume->error_code(), fs_error::not_found);
  EXPECT_EQ(volume->error().narrowField("function"), nullptr);
  // Nor does an unreachable drive hide the sector size it falls back to.
  EXPECT_EQ(open(u"Q:\\")->sector_size(), 512u);
}

TEST_F(NtDir, ShareRootRefusalIsCancelledDeeperIsAccessDenied) {
  const std::string share = win32::make_share(u"srv", u"pub");
  fs::create_directories(share + "/inner");
  auto root = open(u"\\\\srv\\pub\\");
  auto inner = open(u"\\\\srv\\pub\\inner\\");
  ASSERT_TRUE(root && inner);
  std::unique_ptr<i_dir::iterator> it(root->iterate());
  ASSERT_TRUE(it) << narrow(root->error().text().c_str());
  EXPECT_STREQ(narrow(it->name()).c_str(), "inner");
  it.reset(root->iterate_self());
  ASSERT_TRUE(it);
  EXPECT_EQ(it->kind(), entry_kind::share);
  EXPECT_STREQ(narrow(it->name()).c_str(), "pub");
  it->next();
  EXPECT_EQ(it->error_code(), fs_error::not_supported);

  ::chmod(share.c_str(), 0);
  ::chmod((share + "/inner").c_str(), 0);
  it.reset(root->iterate());
  EXPECT_FALSE(it);
  EXPECT_EQ(root->error_code(), fs_error::cancelled);
  it.reset(inner->iterate());
  EXPECT_FALSE(it);
  EXPECT_EQ(inner->error_code(), fs_error::access_denied);
  EXPECT_EQ(inner->error().cause().numberField("code"), 0x80070005u);
  ::chmod((share + "/inner").c_str(), 0755);
  ::chmod(share.c_str(), 0755);
}

TEST_F(NtDir, RemoveTreeTakesReadOnlyFilesAndLeavesJunctionTargets) {
  put("work/tree/a.txt", "a");
  put("work/tree/deep/b.txt", "b");
  put("work/tree/deep/deeper/c.txt", "c");
  ::chmod(c("work/tree/deep/b.txt").c_str(), 0444);
  put("keep/precious.txt", "p");
  auto tree = open(u"C:\\work\\tree");
  tree->create_junction(u"deep\\j", u"C:\\keep", nullptr, 0);
  ASSERT_TRUE(tree->Good());
  remove_tree(tree.get(), true);
  EXPECT_TRUE(fs::is_directory(c("work/tree")));
  EXPECT_TRUE(fs::is_empty(c("work/tree")));
  EXPECT_EQ(get("keep/precious.txt"), "p");
  remove_tree(tree.get(), false);
  EXPECT_FALSE(fs::exists(c("work/tree")));
}

TEST_F(NtDir, VolumeKindFreeSpaceLabelAndFileSystem) {
  EXPECT_EQ(work_->drive_kind(), entry_kind::fixed);
  win32::set_drive_info(u'C', DRIVE_CDROM, u"Disc", u"CDFS", 7);
  EXPECT_EQ(work_->drive_kind(), entry_kind::cdrom);
  EXPECT_EQ(root_dir()->drive_kind(), entry_kind::unknown);

  std::uint64_t total = 0, total_free = 0, caller_free = 0;
  work_->free_space(total, total_free, caller_free);
  ASSERT_TRUE(work_->Good());
  struct statvfs v;
  ASSERT_EQ(::statvfs(c().c_str(), &v), 0);
  EXPECT_EQ(total, std::uint64_t(v.f_blocks) * v.f_frsize);

  char16_t label[32] = {u'x'};
  work_->volume_label(label, 32);
  EXPECT_EQ(work_->error_code(), fs_error::read);
  EXPECT_EQ(label[0], 0);
  auto c_root = open(u"C:\\");
  c_root->volume_label(label, 32);
  EXPECT_TRUE(c_root->Good());
  EXPECT_STREQ(narrow(label).c_str(), "Disc");

  file_system_name_request gfst{control_code("GFST"), {}};
  work_->control(&gfst);
  EXPECT_TRUE(work_->Good());
  EXPECT_STREQ(narrow(gfst.name).c_str(), "CDFS");
  EXPECT_EQ(work_->sector_size(), 512u);
}

TEST_F(NtDir, ControlRequests) {
  put("work/f.txt", "x");
  struct stat before;
  ASSERT_EQ(::stat(c("work/f.txt").c_str(), &before), 0);
  set_entry_times_request stme{control_code("STME"), u"f.txt", 1000000000000, 0, 0};
  work_->control(&stme);
  EXPECT_TRUE(work_->Good());
  struct stat after;
  ASSERT_EQ(::stat(c("work/f.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);  // 0 leaves it

  restart_rename_request pdrn{control_code("PDRN"), u"f.txt", nullptr};
  work_->control(&pdrn);
  EXPECT_TRUE(work_->Good());
  std::ifstream pending(dir_ + "/world/run/pending_renames");
  std::string line;
  std::getline(pending, line);
  EXPECT_EQ(line, "C:\\work\\f.txt\t");
  restart_rename_request unc{control_code("PDRN"), u"\\\\srv\\pub\\x", nullptr};
  work_->control(&unc);
  EXPECT_EQ(work_->error_code(), fs_error::rename);
  EXPECT_EQ(work_->error().narrowField("function"), nullptr);

  dir_compression_request cmpr{control_code("CMPR"), 1};
  work_->control(&cmpr);
  EXPECT_EQ(work_->error_code(), fs_error::not_supported);
  EXPECT_STREQ(work_->error().narrowField("function"), "FSCTL_SET_COMPRESSION");
  encryption_request crpt{control_code("CRPT"), u"f.txt", 1};
  work_->control(&crpt);
  EXPECT_EQ(work_->error_code(), fs_error::not_supported);
  EXPECT_EQ(work_->error().narrowField("function"), nullptr);
  short_name_request ssfn{control_code("SSFN"), u"f.txt", u"F~1.TXT"};
  work_->control(&ssfn);
  EXPECT_EQ(work_->error_code(), fs_error::not_supported);
}

TEST_F(NtDir, ConnectingNetworkResources) {
  win32::make_share(u"srv", u"pub");
  fs::create_directories(dir_ + "/world/net/srv/pub/dir");
  auto local = open(u"D:\\");
  local->connect(u"u", u"p", nullptr);
  EXPECT_EQ(local->error_code(), fs_error::not_supported);

  auto dir = open(u"\\\\srv\\pub\\dir\\");
  dir->connect(u"alice", u"pw", nullptr);
  ASSERT_TRUE(dir->Good()) << narrow(dir->error().text().c_str());
  // The server alone is connected.
  ASSERT_EQ(win32::network_connections().size(), 1u);
  EXPECT_EQ(win32::network_connections()[0], u"\\\\srv");
  // Other credentials: the old connections go and the new ones are made.
  dir->connect(u"bob", u"pw", nullptr);
  ASSERT_TRUE(dir->Good());
  EXPECT_EQ(win32::network_connection_user(u"\\\\srv"), u"bob");

  // A remembered drive is connected again to its share.
  win32::clear_network_connections();
  win32::remember_network_connection(u"\\\\srv\\pub", u"R:");
  auto r = open(u"R:\\");
  r->connect(nullptr, nullptr, nullptr);
  ASSERT_TRUE(r->Good()) << narrow(r->error().text().c_str());
  EXPECT_EQ(win32::network_connections().size(), 1u);
}

int handler_a(i_dir*, const char16_t*) { return 1; }
int handler_b(i_dir*, const char16_t*) { return 2; }

TEST(AccessRetryHandler, ThreadsSeeTheProcessHandlerUnlessTheySetTheirOwn) {
  EXPECT_EQ(set_access_retry_handler(&handler_a, true), nullptr);
  EXPECT_EQ(access_retry_handler(), &handler_a);
  // A thread without its own gets all bits set back, and sees the process's.
  access_retry_fn old = set_access_retry_handler(&handler_b, false);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(old), ~std::uintptr_t{0});
  EXPECT_EQ(access_retry_handler(), &handler_b);
  access_retry_fn seen = nullptr;
  std::thread([&] { seen = access_retry_handler(); }).join();
  EXPECT_EQ(seen, &handler_a);
  // Writing the old value back removes the thread's own.
  EXPECT_EQ(set_access_retry_handler(old, false), &handler_b);
  EXPECT_EQ(access_retry_handler(), &handler_a);
  EXPECT_EQ(set_access_retry_handler(nullptr, true), &handler_a);
}

}  // namespace
