// The settings store over the file library, the help viewer's choice and the
// working folder.
#include "gui/app/settings.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "gui/app/korvane_app.h"
#include "platform/win32/windows.h"
#include "platform/win32/testing/test_world.h"

extern char** environ;

namespace {

class SettingsTest : public win32_test::World {
 protected:
  SettingsTest() : World("gui-") {}
  // The settings file as the layer keeps it on drive C.
  std::string settingsFile() const {
    for (const auto& user : std::filesystem::directory_iterator(c("Users"))) {
      const auto f = user.path() / "AppData" / "Roaming" / "Korvane" / "Menu.ini";
      if (std::filesystem::exists(f)) return f.string();
    }
    return {};
  }
};

TEST_F(SettingsTest, ReadLineTable) {
  struct Case {
    const char* name;
    std::string bytes;
    int size;
    std::string expected;
    bool answer;
  } cases[] = {
      {"a line with CR LF", "abc\r\nnext", 10, "abc", true},
      {"an empty file", "", 10, "", false},
      {"a size of 1", "abc\n", 1, "", false},
      {"cut at size - 1", "abcdef\n", 4, "abc", true},
      {"a last line without its end", "xyz", 10, "xyz", true},
      {"an empty line", "\r\nabc", 10, "", true},
  };
  FXKRegistry store("Menu", "Korvane");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    put("line.txt", c.bytes);
    void* file = store.openRead("C:\\line.txt");
    ASSERT_NE(file, nullptr);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(store.readLine(buffer, c.size, file), c.answer);
    EXPECT_EQ(std::string(buffer), c.expected);
    store.closeFile(file);
  }
  // A size of 0 leaves the buffer alone.
  put("line.txt", "abc\n");
  void* file = store.openRead("C:\\line.txt");
  char untouched[4] = {'z', 'z', 'z', 0};
  EXPECT_FALSE(store.readLine(untouched, 0, file));
  EXPECT_STREQ(untouched, "zzz");
  store.closeFile(file);
  EXPECT_EQ(store.openRead("C:\\missing.txt"), nullptr);
}

class MenuApp : public FXKorvaneApp {
 public:
  MenuApp() : FXKorvaneApp(FXWString(u"Menu"), FXWString(u"Korvane"), nullptr) {}
};

// Run only as the second process of the test below: reads the help file that
// the first process stored and ends with 0 when it is there.
TEST(SettingsChild, ReadsTheStoredHelpFile) {
  if (!std::getenv("KV_SETTINGS_CHILD")) GTEST_SKIP() << "started by SettingsTest only";
  MenuApp app;
  app.setHelpFile(FXWString(), nullptr);
  const bool ok = app.helpFile() == u"C:\\Help\\menu.chm" && app.helpViewer() == &FXKorvaneApp::htmlHelpViewer;
  std::_Exit(ok ? 0 : 3);
}

TEST_F(SettingsTest, WrittenSettingsLandInTheFileAndAnotherProcessReadsThem) {
  {
    MenuApp app;
    app.reg().writeStringEntry("SETTINGS", "HelpFile", "C:\\Help\\menu.chm");
    ASSERT_TRUE(app.reg().write());
  }
  const std::string path = settingsFile();
  ASSERT_FALSE(path.empty());
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(bytes, "[SETTINGS]\r\nHelpFile=C:\\Help\\menu.chm\r\n\r\n");

  ::setenv("KV_SETTINGS_CHILD", "1", 1);
  std::string self = "/proc/self/exe";
  char filter[] = "--gtest_filter=SettingsChild.ReadsTheStoredHelpFile";
  char* argv[] = {self.data(), filter, nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, environ), 0);
  ::unsetenv("KV_SETTINGS_CHILD");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Whatever a value holds comes back exactly from the file: line ends and
// brackets make no sections, blanks at either end stay, quotes and
// backslashes stay; names that the line format would cut are kept too.
TEST_F(SettingsTest, EntriesRoundTripExactly) {
  const std::string longValue(5000, 'v');
  const struct {
    const char* section;
    std::string key, value;
  } cases[] = {
      {"S", "evil", "a\r\n[EVIL]\r\nx=1"},
      {"S", "blanks", "  both ends \t "},
      {"S", "quoted", "\"quoted\" \\n not an escape \\"},
      {"S", "controls", std::string("\x01\x7F\t\xC3\xA9 end", 8)},
      {"S", "long", longValue},
      {"S", "plain", "C:\\Help\\menu.chm"},
      {"S", "key=with=equals", "v"},
      {"S", "#hash", "v"},
      {"S", " spaced key ", "v"},
      {"S", "[bracket", "v"},
      {"odd]section", "k", "v"},
      {"[line\nsection", "k", "v"},
  };
  {
    FXKRegistry store("Menu", "Korvane");
    for (const auto& c : cases) store.writeStringEntry(c.section, c.key.c_str(), c.value.c_str());
    ASSERT_TRUE(store.write());
  }
  std::ifstream in(settingsFile(), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(bytes.find("\n[EVIL]"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nplain=C:\\Help\\menu.chm\r\n"), std::string::npos);  // plain values stay plain
  FXKRegistry back("Menu", "Korvane");
  ASSERT_TRUE(back.read());
  for (const auto& c : cases)
    EXPECT_EQ(std::string(back.readStringEntry(c.section, c.key.c_str(), "<missing>")), c.value) << c.key;
  EXPECT_STREQ(back.readStringEntry("EVIL", "x", "<missing>"), "<missing>");
}

// A write that fails leaves the old file as it was, answers false and keeps
// the modified flag, so that a later write can still save the change.
TEST_F(SettingsTest, AFailedWriteKeepsTheOldFile) {
  {
    FXKRegistry store("Menu", "Korvane");
    store.writeStringEntry("S", "k", "old");
    ASSERT_TRUE(store.write());
  }
  const std::string path = settingsFile();
  ASSERT_FALSE(path.empty());
  auto contents = [&] {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  const std::string before = contents();
  FXKRegistry store("Menu", "Korvane");
  ASSERT_TRUE(store.read());
  store.writeStringEntry("S", "k", "new value that does not fit");
  win32::set_write_file_hook([](HANDLE, DWORD, LPDWORD written, DWORD* error) {
    *written = 0;
    *error = ERROR_DISK_FULL;
    return true;
  });
  const bool written = store.write();
  win32::set_write_file_hook(nullptr);
  EXPECT_FALSE(written);
  EXPECT_TRUE(store.isModified());
  EXPECT_EQ(contents(), before);
  // Nothing is left beside it.
  std::size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1u);
  ASSERT_TRUE(store.write());
  EXPECT_FALSE(store.isModified());
  FXKRegistry back("Menu", "Korvane");
  ASSERT_TRUE(back.read());
  EXPECT_STREQ(back.readStringEntry("S", "k", ""), "new value that does not fit");
}

// A folder name outside ASCII in the settings path is kept (as UTF-8).
TEST_F(SettingsTest, NonAsciiFolderNamesAreKept) {
  char16_t saved[512] = {};
  const DWORD n = GetEnvironmentVariableW(u"APPDATA", saved, 512);
  ASSERT_TRUE(SetEnvironmentVariableW(u"APPDATA", u"C:\\Zo\u00EB\\\u6F22\U0001F600"));
  {
    FXKRegistry store("Menu", "Korvane");
    EXPECT_STREQ(store.settingsPath().text(), "C:\\Zo\xC3\xAB\\\xE6\xBC\xA2\xF0\x9F\x98\x80\\Korvane\\Menu.ini");
    store.writeStringEntry("S", "k", "v");
    EXPECT_TRUE(store.write());
    FXKRegistry back("Menu", "Korvane");
    EXPECT_TRUE(back.read());
    EXPECT_STREQ(back.readStringEntry("S", "k", ""), "v");
  }
  SetEnvironmentVariableW(u"APPDATA", n ? saved : nullptr);
  EXPECT_TRUE(std::filesystem::exists(c("Zo\xC3\xAB/\xE6\xBC\xA2\xF0\x9F\x98\x80/Korvane/Menu.ini")));
}

TEST_F(SettingsTest, HelpViewerChoiceTable) {
  struct Case {
    const char16_t* file;
    FXKorvaneApp::HelpViewer given;
    FXKorvaneApp::HelpViewer expected;
  } cases[] = {
      {u"help.chm", nullptr, &FXKorvaneApp::htmlHelpViewer},
      {u"C:\\Program Files\\Menu\\help.chm", nullptr, &FXKorvaneApp::htmlHelpViewer},
      {u".chm", nullptr, nullptr},  // the extension at position 0
      {u"guide.hll", nullptr, &FXKorvaneApp::winHelpViewer},
      {u"a.chm.hll", nullptr, &FXKorvaneApp::winHelpViewer},  // the later test wins
      {u"readme.txt", nullptr, nullptr},
      {u"help.chm", &FXKorvaneApp::winHelpViewer, &FXKorvaneApp::winHelpViewer},  // a given viewer stays
  };
  MenuApp app;
  for (const Case& c : cases) {
    SCOPED_TRACE(FXWString(c.file).toUtf8());
    app.setHelpFile(FXWString(c.file), c.given);
    EXPECT_EQ(app.helpViewer(), c.expected);
    EXPECT_EQ(app.hasHelpViewer(), c.expected != nullptr);
  }
  app.setHelpFile(FXWString(), nullptr);  // nothing stored: no help
  EXPECT_TRUE(app.helpFile().empty());
  EXPECT_FALSE(app.hasHelpViewer());
}

TEST_F(SettingsTest, WorkingDirTable) {
  MenuApp app;
  EXPECT_EQ(app.getWorkingDir(), u"");  // no key
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Korvane\\DovecrestHome\\Settings", 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(app.getWorkingDir(), u"");  // no value
  struct Case {
    std::u16string stored, expected;
  } cases[] = {
      {u"C:\\Work\\", u"C:\\Work"},
      {u"C:\\Work\\\\", u"C:\\Work\\"},
      {u"C:\\Work", u"C:\\Work"},
      {u"", u""},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExW(key, u"WorkingDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.stored.c_str()),
                             static_cast<DWORD>((c.stored.size() + 1) * 2)),
              ERROR_SUCCESS);
    EXPECT_EQ(app.getWorkingDir(), c.expected);
  }
  RegCloseKey(key);
}

}  // namespace
