// NT directories: entry security (set, owner, saved and applied), moves
// across the network boundary under a network token, and hard links made
// through the native calls.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/fs_test_world.h"
#include "files/security_info.h"
#include "files/security_source.h"
#include "files/winnt_dir.h"
#include "platform/win32/windows.h"
#include "system/security.h"

namespace {

using fs_test::narrow;
namespace fs = std::filesystem;

class NtSecurity : public fs_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    work_.reset(dynamic_cast<winnt_dir*>(root_dir()->open_dir_path(u"C:\\work")));
    ASSERT_TRUE(work_);
  }
  void TearDown() override {
    set_network_impersonation_token(nullptr, true);
    win32::set_process_token(nullptr);
    World::TearDown();
  }
  mode_t mode(const std::string& rel) {
    struct stat st {};
    EXPECT_EQ(::stat(c(rel).c_str(), &st), 0) << rel;
    return st.st_mode & 0777;
  }
  std::vector<BYTE> dacl_of(const char16_t* path) {
    DWORD needed = 0;
    GetFileSecurityW(path, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> b(needed);
    EXPECT_TRUE(GetFileSecurityW(path, DACL_SECURITY_INFORMATION, b.data(), needed, &needed));
    return b;
  }
  std::string function() {
    const char* f = work_->error().narrowField("function");
    return f ? f : "";
  }
  // Makes the process act as another user from now on.
  void act_as_stranger() {
    auto stranger = std::make_shared<win32::TokenData>();
    PSID sid = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(u"S-1-5-21-1000-2000-3000-77777", &sid));
    stranger->user.assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
    LocalFree(sid);
    win32::set_process_token(stranger);
  }
  std::unique_ptr<winnt_dir> work_;
};

// A source over trustee lists, or one that reports a fixed status.
class test_source : public security_source {
 public:
  explicit test_source(DWORD access, std::uint32_t status = 0)
      : attributes_(u"!CurUser", access, DWORD{0}, nullptr), status_(status) {}
  SECURITY_ATTRIBUTES* make_attributes() override {
    ++made;
    return attributes_.get();
  }
  std::uint32_t status(SECURITY_ATTRIBUTES*) override { return status_ ? status_ : attributes_.error; }
  void release(SECURITY_ATTRIBUTES*) override { ++released; }
  int made = 0, released = 0;

 private:
  Windows::SecurityAttributes attributes_;
  std::uint32_t status_;
};

TEST_F(NtSecurity, SetSecurityReplacesTheDaclOfAnEntry) {
  put("work/a.txt", "a");
  ::chmod(c("work/a.txt").c_str(), 0644);
  // Read access only for the caller: the layer then keeps every write bit off.
  test_source read_only(GENERIC_READ);
  work_->set_security(u"a.txt", &read_only);
  ASSERT_TRUE(work_->Good()) << narrow(work_->error().text().c_str());
  EXPECT_EQ(mode("work/a.txt") & 0222, 0u);
  EXPECT_EQ(read_only.made, 1);
  EXPECT_EQ(read_only.released, 1);
  test_source full(GENERIC_ALL);
  work_->set_security(u"a.txt", &full);
  EXPECT_TRUE(work_->Good());
  EXPECT_NE(mode("work/a.txt") & 0200, 0u);

  struct failing {
    const char16_t* name;
    std::uint32_t status;
    std::uint32_t code;
    const char* function;
  } cases[] = {
      {u"absent.txt", 0, fs_error::not_found, "SetFileSecurityW"},
      {u"bad|name", 0, fs_error::create, ""},
      {u"a.txt", ERROR_ACCESS_DENIED, fs_error::access_denied, "GetSecurityAttributes"},
  };
  for (const failing& f : cases) {
    test_source source(GENERIC_READ, f.status);
    work_->set_security(f.name, &source);
    EXPECT_EQ(work_->error_code(), f.code) << narrow(f.name);
    EXPECT_EQ(function(), f.function) << narrow(f.name);
    EXPECT_EQ(source.released, source.made);
  }
  // The refused source never reached the file.
  EXPECT_NE(mode("work/a.txt") & 0200, 0u);

  // Someone else may not change it.
  act_as_stranger();
  work_->set_security(u"a.txt", &read_only);
  EXPECT_EQ(work_->error_code(), fs_error::access_denied);
  EXPECT_EQ(function(), "SetFileSecurityW");
  win32::set_process_token(nullptr);
  EXPECT_NE(mode("work/a.txt") & 0200, 0u);
}

TEST_F(NtSecurity, TheIteratorGivesTheOwnerAsSidText) {
  put("work/a.txt", "a");
  std::unique_ptr<i_dir::iterator> it(work_->iterate(u"a.txt"));
  ASSERT_TRUE(it && it->Good());
  auto owner = static_cast<const char16_t*>(it->owner());
  ASSERT_TRUE(owner) << narrow(it->error().text().c_str());
  // The layer's user SIDs carry the Unix user.
  EXPECT_EQ(narrow(owner), "S-1-5-21-1000-2000-3000-" + std::to_string(1000 + ::getuid()));
  EXPECT_TRUE(it->Good());
  it->next();
  EXPECT_EQ(it->owner(), nullptr);
  EXPECT_EQ(it->error_code(), fs_error::end_of_file);
}

std::uint32_t u32_at(const std::uint8_t* b) {
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

TEST_F(NtSecurity, SavedSecurityOfOneEntryAppliesToAnother) {
  put("work/open.txt", "a");
  put("work/closed.txt", "b");
  ::chmod(c("work/open.txt").c_str(), 0604);
  ::chmod(c("work/closed.txt").c_str(), 0600);
  std::unique_ptr<i_dir::iterator> it(work_->iterate(u"open.txt"));
  ASSERT_TRUE(it && it->Good());
  get_security_request get{control_code("GRSQ"), nullptr, 0};
  it->control(&get);
  ASSERT_TRUE(it->Good()) << narrow(it->error().text().c_str());
  ASSERT_TRUE(get.data);
  std::unique_ptr<std::uint8_t[]> saved(get.data);
  // Four lengths, each followed by its piece, filling the buffer exactly; the
  // SACL needs a privilege the caller lacks, so it stays empty.
  std::uint32_t at = 0, lengths[4];
  for (auto& n : lengths) {
    ASSERT_LE(at + 4, get.size);
    n = u32_at(saved.get() + at);
    at += 4 + n;
  }
  EXPECT_EQ(at, get.size);
  EXPECT_GT(lengths[0], 0u);
  EXPECT_GT(lengths[2], 0u);
  EXPECT_EQ(lengths[3], 0u);

  EXPECT_NE(dacl_of(u"C:\\work\\closed.txt"), dacl_of(u"C:\\work\\open.txt"));
  set_security_request set{control_code("SRSQ"), u"closed.txt", saved.get(), get.size};
  work_->control(&set);
  ASSERT_TRUE(work_->Good()) << narrow(work_->error().text().c_str());
  EXPECT_EQ(dacl_of(u"C:\\work\\closed.txt"), dacl_of(u"C:\\work\\open.txt"));

  // A request past the last entry gives the end, and no buffer.
  it->next();
  get_security_request after{control_code("GRSQ"), nullptr, 0};
  it->control(&after);
  EXPECT_EQ(after.data, nullptr);
  EXPECT_EQ(it->error_code(), fs_error::end_of_file);
}

TEST_F(NtSecurity, ApplyingSavedSecurityReportsWhatFailed) {
  put("work/a.txt", "a");
  std::unique_ptr<i_dir::iterator> it(work_->iterate(u"a.txt"));
  ASSERT_TRUE(it && it->Good());
  get_security_request get{control_code("GRSQ"), nullptr, 0};
  it->control(&get);
  ASSERT_TRUE(get.data);
  std::unique_ptr<std::uint8_t[]> saved(get.data);

  set_security_request missing{control_code("SRSQ"), u"absent.txt", saved.get(), get.size};
  work_->control(&missing);
  EXPECT_EQ(work_->error_code(), fs_error::not_found);
  EXPECT_EQ(function(), "SetFileSecurityW");

  act_as_stranger();
  set_security_request refused{control_code("SRSQ"), u"a.txt", saved.get(), get.size};
  work_->control(&refused);
  EXPECT_EQ(work_->error_code(), fs_error::access_denied);
  EXPECT_EQ(function(), "SetFileSecurityW");
  win32::set_process_token(nullptr);

  set_security_request cut{control_code("SRSQ"), u"a.txt", saved.get(), 15};
  work_->control(&cut);
  EXPECT_EQ(work_->error_code(), fs_error::corrupted);
  set_security_request bad{control_code("SRSQ"), u"bad|name", saved.get(), get.size};
  work_->control(&bad);
  EXPECT_EQ(work_->error_code(), fs_error::create);

  work_->control(&refused);
  EXPECT_TRUE(work_->Good());
}

TEST_F(NtSecurity, ANetworkTokenKeepsMovesOnOneSideOfTheNetwork) {
  const std::string share = win32::make_share(u"srv", u"pub");
  std::ofstream(share + "/remote.txt") << "r";
  put("work/local.txt", "l");
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token));
  set_network_impersonation_token(token, true);

  work_->rename(u"\\\\srv\\pub\\remote.txt", u"C:\\work\\fetched.txt");
  EXPECT_EQ(work_->error_code(), fs_error::access_denied);
  EXPECT_EQ(work_->error().cause().code(), 0u);  // refused before any call
  work_->rename(u"local.txt", u"\\\\srv\\pub\\sent.txt");
  EXPECT_EQ(work_->error_code(), fs_error::access_denied);
  EXPECT_TRUE(fs::exists(share + "/remote.txt"));
  EXPECT_TRUE(fs::exists(c("work/local.txt")));
  EXPECT_FALSE(fs::exists(c("work/fetched.txt")));
  EXPECT_FALSE(fs::exists(share + "/sent.txt"));

  // Within one side the token is no obstacle.
  work_->rename(u"\\\\srv\\pub\\remote.txt", u"\\\\srv\\pub\\moved.txt");
  EXPECT_TRUE(work_->Good());
  EXPECT_TRUE(fs::exists(share + "/moved.txt"));
  work_->rename(u"local.txt", u"kept.txt");
  EXPECT_TRUE(work_->Good());

  // Without a token the move across is made.
  set_network_impersonation_token(nullptr, true);
  CloseHandle(token);
  work_->rename(u"\\\\srv\\pub\\moved.txt", u"C:\\work\\fetched.txt");
  EXPECT_TRUE(work_->Good()) << narrow(work_->error().text().c_str());
  EXPECT_TRUE(fs::exists(c("work/fetched.txt")));
  EXPECT_FALSE(fs::exists(share + "/moved.txt"));
}

// The volume calls and the requests that name a path on a share run under
// the network token: a share that admits only the token's user shows it.
// Local paths never take the token up.
TEST_F(NtSecurity, VolumeCallsAndRequestsReachAShareUnderTheNetworkToken) {
  const std::string share = win32::make_share(u"srv", u"vault");
  fs::create_directories(share + "/d");
  std::ofstream(share + "/d/f.txt") << "f";
  put("work/f.txt", "f");
  auto agent = std::make_shared<win32::TokenData>(*win32::default_process_token());
  agent->user.back() ^= 0x3C;
  win32::set_process_token(agent);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token));
  win32::set_process_token(nullptr);
  win32::restrict_share(u"srv", u"vault", agent->user);

  constexpr std::int64_t kWritten = 1300000000000;  // 2011-03-13, in ms since 1970
  // Each operation answers whether it reached its volume or entry; null where
  // nothing outside tells (the layer has no encryption, and the sector size
  // falls back to 512 either way).
  struct operation {
    const char* what;
    std::function<std::optional<bool>(winnt_dir&)> run;
  } operations[] = {
      {"STME",
       [&](winnt_dir& d) -> std::optional<bool> {
         set_entry_times_request r{control_code("STME"), u"f.txt", kWritten, 0, 0};
         d.control(&r);
         return d.Good();
       }},
      {"CMPR",
       [](winnt_dir& d) -> std::optional<bool> {
         dir_compression_request r{control_code("CMPR"), 0};
         d.control(&r);
         const char* function = d.Good() ? nullptr : d.error().narrowField("function");
         return !function || std::string(function) != "OpenFileW";
       }},
      {"CRPT",
       [](winnt_dir& d) -> std::optional<bool> {
         encryption_request r{control_code("CRPT"), u"f.txt", 0};
         d.control(&r);
         return std::nullopt;
       }},
      {"GFST",
       [](winnt_dir& d) -> std::optional<bool> {
         file_system_name_request r{control_code("GFST"), {}};
         d.control(&r);
         return std::u16string(r.name) == u"NTFS";
       }},
      {"drive kind", [](winnt_dir& d) -> std::optional<bool> { return d.drive_kind() == entry_kind::network_drive; }},
      {"free space",
       [](winnt_dir& d) -> std::optional<bool> {
         std::uint64_t total = 0, total_free = 0, caller_free = 0;
         d.free_space(total, total_free, caller_free);
         return d.Good() && total > 0;
       }},
      {"sector size",
       [](winnt_dir& d) -> std::optional<bool> {
         d.sector_size();
         return std::nullopt;
       }},
      {"open file",
       [](winnt_dir& d) -> std::optional<bool> {
         std::unique_ptr<ri_file> f(d.open_file(u"f.txt", true));
         return f != nullptr;
       }},
      // The server alone is connected, and the layer's servers admit anyone.
      {"connect",
       [](winnt_dir& d) -> std::optional<bool> {
         d.connect(nullptr, nullptr, nullptr);
         return std::nullopt;
       }},
  };
  winnt_dir remote(u"\\\\srv\\vault\\d\\");
  winnt_dir local(u"C:\\work\\");
  set_network_impersonation_token(token, true);
  for (const operation& op : operations) {
    SCOPED_TRACE(op.what);
    unsigned before = win32::impersonations_begun();
    const std::optional<bool> reached = op.run(remote);
    EXPECT_GT(win32::impersonations_begun(), before);
    if (reached) {
      EXPECT_TRUE(*reached);
    }
    HANDLE still = nullptr;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &still));  // the thread is itself again
    before = win32::impersonations_begun();
    op.run(local);
    EXPECT_EQ(win32::impersonations_begun(), before);
  }
  struct stat st {};
  ASSERT_EQ(::stat((share + "/d/f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kWritten / 1000);
  // The label answers at the share's root only.
  winnt_dir root(u"\\\\srv\\vault\\");
  char16_t label[32];
  root.volume_label(label, 32);
  EXPECT_TRUE(root.Good()) << narrow(root.error().text().c_str());

  // Without the token the share turns the same calls away.
  set_network_impersonation_token(nullptr, true);
  for (const operation& op : operations) {
    SCOPED_TRACE(op.what);
    const unsigned before = win32::impersonations_begun();
    const std::optional<bool> reached = op.run(remote);
    EXPECT_EQ(win32::impersonations_begun(), before);
    if (reached) {
      EXPECT_FALSE(*reached);
    }
  }
  root.volume_label(label, 32);
  EXPECT_EQ(root.error_code(), fs_error::access_denied);
  EXPECT_EQ(root.error().cause().numberField("code"), 0x80070005u);
  CloseHandle(token);
  win32::clear_network_connections();
}

// Native calls standing in for a system without CreateHardLinkW.
struct native_calls {
  std::u16string opened;
  DWORD access = 0;
  ULONG share = 0, disposition = 0, options = 0, attributes = 0;
  NTSTATUS open_status = 0;
  int information_class = 0;
  std::vector<std::uint8_t> block;
  int open_handles = 0;
};
native_calls g_native;

// A function as an export: through void (*)(), which stands for any function type.
template <class F>
FARPROC asExport(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

struct io_status_block {
  NTSTATUS status;
  ULONG_PTR information;
};

NTSTATUS fake_create_file(HANDLE* handle, DWORD access, OBJECT_ATTRIBUTES* attributes, io_status_block*,
                          LARGE_INTEGER*, ULONG, ULONG share, ULONG disposition, ULONG options, void*, ULONG) {
  const UNICODE_STRING* name = attributes->ObjectName;
  g_native.opened.assign(reinterpret_cast<const char16_t*>(name->Buffer), name->Length / 2);
  g_native.access = access;
  g_native.share = share;
  g_native.disposition = disposition;
  g_native.options = options;
  g_native.attributes = attributes->Attributes;
  if (g_native.open_status < 0) return g_native.open_status;
  ++g_native.open_handles;
  *handle = reinterpret_cast<HANDLE>(0x5151);
  return 0;
}

NTSTATUS fake_set_information(HANDLE handle, io_status_block*, void* block, ULONG size, int information_class) {
  if (handle != reinterpret_cast<HANDLE>(0x5151)) return static_cast<NTSTATUS>(0xC0000008);
  g_native.information_class = information_class;
  auto b = static_cast<const std::uint8_t*>(block);
  g_native.block.assign(b, b + size);
  // Make the link as the system would, from the two NT names.
  std::u16string link(reinterpret_cast<const char16_t*>(b + 20), u32_at(b + 16) / 2);
  std::u16string existing = g_native.opened;
  link[1] = existing[1] = u'\\';
  return CreateHardLinkW(link.c_str(), existing.c_str(), nullptr) ? 0 : static_cast<NTSTATUS>(0xC0000035);
}

NTSTATUS fake_close(HANDLE) {
  --g_native.open_handles;
  return 0;
}

class NtNativeLink : public NtSecurity {
 protected:
  void SetUp() override {
    NtSecurity::SetUp();
    g_native = native_calls{};
    win32::register_export("kernel32", "CreateHardLinkW", nullptr);
  }
  void TearDown() override {
    for (const char* name : {"NtCreateFile", "NtSetInformationFile", "NtClose"})
      win32::unregister_export("ntdll", name);
    win32::unregister_export("kernel32", "CreateHardLinkW");
    winnt_dir::look_up_entry_points();
    NtSecurity::TearDown();
  }
  void provide_native_calls() {
    win32::register_export("ntdll", "NtCreateFile", asExport(&fake_create_file));
    win32::register_export("ntdll", "NtSetInformationFile", asExport(&fake_set_information));
    win32::register_export("ntdll", "NtClose", asExport(&fake_close));
    winnt_dir::look_up_entry_points();
  }
};

TEST_F(NtNativeLink, TheNativeCallsMakeTheLinkWithoutCreateHardLinkW) {
  put("work/file.txt", "hello");
  provide_native_calls();
  work_->create_hard_link(u"twin.txt", u"file.txt");
  ASSERT_TRUE(work_->Good()) << narrow(work_->error().text().c_str());

  EXPECT_EQ(narrow(g_native.opened.c_str()), "\\??\\C:\\work\\file.txt");
  EXPECT_EQ(g_native.access, 0x100000u);  // SYNCHRONIZE
  EXPECT_EQ(g_native.share, 0u);
  EXPECT_EQ(g_native.disposition, 1u);  // FILE_OPEN
  EXPECT_EQ(g_native.options, 0x20u);   // synchronous, not alertable
  EXPECT_EQ(g_native.attributes, 0x240u);
  EXPECT_EQ(g_native.information_class, 11);  // FileLinkInformation
  EXPECT_EQ(g_native.open_handles, 0);
  // replace flag, root handle, name length, name and its terminator
  const std::u16string link = u"\\??\\C:\\work\\twin.txt";
  ASSERT_EQ(g_native.block.size(), 20 + 2 * link.size() + 2);
  EXPECT_EQ(g_native.block[0], 0);
  EXPECT_EQ(u32_at(g_native.block.data() + 16), 2 * link.size());
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(g_native.block.data() + 20), link.size() + 1),
            link + u'\0');

  struct stat a {}, b {};
  ASSERT_EQ(::stat(c("work/file.txt").c_str(), &a), 0);
  ASSERT_EQ(::stat(c("work/twin.txt").c_str(), &b), 0);
  EXPECT_EQ(a.st_ino, b.st_ino);
  EXPECT_EQ(a.st_nlink, 2u);

  // A network file is named by its UNC form.
  const std::string share = win32::make_share(u"srv", u"pub");
  std::ofstream(share + "/r.txt") << "r";
  work_->create_hard_link(u"\\\\srv\\pub\\r2.txt", u"\\\\srv\\pub\\r.txt");
  EXPECT_TRUE(work_->Good());
  EXPECT_EQ(narrow(g_native.opened.c_str()), "\\??\\UNC\\srv\\pub\\r.txt");
  EXPECT_TRUE(fs::exists(share + "/r2.txt"));
}

TEST_F(NtNativeLink, FailuresOfTheNativeRoadAreCreateErrors) {
  put("work/file.txt", "hello");
  // No native calls either.
  winnt_dir::look_up_entry_points();
  work_->create_hard_link(u"twin.txt", u"file.txt");
  EXPECT_EQ(work_->error_code(), fs_error::create);
  EXPECT_FALSE(fs::exists(c("work/twin.txt")));

  provide_native_calls();
  g_native.open_status = static_cast<NTSTATUS>(0xC0000034);  // no such object
  work_->create_hard_link(u"twin.txt", u"absent.txt");
  EXPECT_EQ(work_->error_code(), fs_error::create);
  EXPECT_TRUE(g_native.block.empty());
  g_native.open_status = 0;
  put("work/twin.txt", "there");
  work_->create_hard_link(u"twin.txt", u"file.txt");  // the link name is taken
  EXPECT_EQ(work_->error_code(), fs_error::create);
  EXPECT_EQ(g_native.open_handles, 0);
  work_->create_hard_link(u"other.txt", u"file.txt");
  EXPECT_TRUE(work_->Good());
}

}  // namespace
