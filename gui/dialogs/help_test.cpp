// Help topics and pop-ups over a help archive of HTML pages; the desktop's
// opener and the pop-ups asked for are recorded.
#include "gui/dialogs/help.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "core/resource_fixture.h"
#include "gui/app/korvane_app.h"
#include "platform/fox/fx_test_display.h"
#include "platform/win32/windows.h"

using namespace FX;

namespace {

// Stands in for the pop-up of the dialogs library: records what it was asked
// to show.
struct ShownPopup {
  bool shown = false;
  std::string text;
  FXint x = 0, y = 0;
};
ShownPopup g_popup;
bool recordPopup(FXWindow*, const FXWString& markup, FXint x, FXint y) {
  g_popup = {true, markup.toUtf8(), x, y};
  return true;
}

class HelpTest : public resource_test::Folder {
 protected:
  void SetUp() override {
    Folder::SetUp();
    ::setenv("TMP", narrow_path("").c_str(), 1);
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
    write("help.chm", zip({{"index.htm", "<html>contents</html>"},
                           {"123.htm", "<html>topic 123</html>"},
                           {"popups.txt", "7=First pop-up\r\n42=The answer <b>pop-up</b>\n"}}));
    app = std::make_unique<FXKorvaneApp>(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr);
    int argc = 1;
    static char name[] = "kvtest";
    char* argv[] = {name, nullptr};
    app->init(argc, argv);
    main = new FXMainWindow(app.get(), "main", nullptr, nullptr, DECOR_ALL, 0, 0, 300, 200);
    app->setMainWindow(main);
    app->create();
    main->show(PLACEMENT_SCREEN);
    win32::record_shell_calls(true);
  }
  void TearDown() override {
    FXKorvaneApp::setHelpPopupHook(nullptr);
    win32::record_shell_calls(false);
    if (app) {
      app->destroy();
      app.reset();
    }
    ::unsetenv("TMP");
    Folder::TearDown();
  }
  std::string opened(std::size_t i) {
    auto calls = win32::recorded_shell_calls();
    if (i >= calls.size()) return "";
    std::string path = FXWString(calls[i].file.c_str()).toUtf8();
    const std::size_t at = path.rfind('\\');
    return path.substr(at + 1);
  }
  std::unique_ptr<FXKorvaneApp> app;
  FXMainWindow* main = nullptr;
};

TEST_F(HelpTest, ContentsAndTopicsOpenTheirPagesWithTheDesktopsOpener) {
  app->setHelpFile(FXWString(path("help.chm").c_str()), nullptr);
  ASSERT_TRUE(app->hasHelpViewer());
  struct Row {
    const char* what;
    int topic;
    bool opens;
    const char* page;
  } rows[] = {
      {"contents", 0, true, "index.htm"},
      {"topic 123", 123, true, "123.htm"},
      {"a topic without a page", 5, false, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    win32::record_shell_calls(true);
    FXKHelpRequest request;
    request.window = main;
    request.topic = r.topic;
    EXPECT_EQ(FXKShowHelpTopic(app.get(), request), r.opens);
    EXPECT_EQ(opened(0), r.page);
    EXPECT_EQ(std::u16string(request.helpFile.text()), path("help.chm"));
    if (r.opens) {
      // The page handed to the opener is the archive's page.
      const auto calls = win32::recorded_shell_calls();
      EXPECT_EQ(calls[0].verb, u"open");
      EXPECT_FALSE(calls[0].program);
    }
  }
}

TEST_F(HelpTest, TextPopUpsComeFromTheArchiveOrTheRequest) {
  app->setHelpFile(FXWString(path("help.chm").c_str()), nullptr);
  FXKorvaneApp::setHelpPopupHook(&recordPopup);
  struct Row {
    const char* what;
    std::uint8_t flags;
    int topic;
    const char16_t* text;
    bool answer;
    const char* shown;
  } rows[] = {
      {"context pop-up from popups.txt", 0x1, 42, nullptr, true, "The answer <b>pop-up</b>"},
      {"a CR LF line of popups.txt", 0x1, 7, nullptr, true, "First pop-up"},
      {"an id that popups.txt lacks", 0x1, 9, nullptr, false, nullptr},
      {"the request's own text", 0x2, 0, u"Own text", true, "Own text"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    g_popup = {};
    FXKHelpRequest request;
    request.window = main;
    request.flags = r.flags;
    request.topic = r.topic;
    request.text = r.text;
    request.x = 100;
    request.y = 150;
    EXPECT_EQ(FXKShowHelpTopic(app.get(), request), r.answer);
    EXPECT_EQ(g_popup.shown, r.shown != nullptr);
    if (r.shown) {
      EXPECT_EQ(g_popup.text, r.shown);
      EXPECT_EQ(g_popup.x, 100);
      EXPECT_EQ(g_popup.y, 150);
    }
    EXPECT_TRUE(win32::recorded_shell_calls().empty());
  }
  // Without a pop-up installed nothing can show it.
  FXKorvaneApp::setHelpPopupHook(nullptr);
  FXKHelpRequest own;
  own.window = main;
  own.flags = 0x2;
  own.text = u"Own text";
  EXPECT_FALSE(FXKShowHelpTopic(app.get(), own));
}

TEST_F(HelpTest, WinHelpAndMissingViewersFailCleanly) {
  FXKHelpRequest request;
  request.window = main;
  request.topic = 3;
  app->setHelpFile(FXWString(u"C:\\guide.hll"), nullptr);
  EXPECT_FALSE(FXKShowHelpTopic(app.get(), request));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  app->setHelpFile(FXWString(u"C:\\notes.txt"), nullptr);
  FXKHelpRequest other;
  other.topic = 1;
  EXPECT_FALSE(FXKShowHelpTopic(app.get(), other));
  // A help file that is no archive opens nothing.
  write("broken.chm", "not a zip");
  app->setHelpFile(FXWString(path("broken.chm").c_str()), nullptr);
  FXKHelpRequest broken;
  EXPECT_FALSE(FXKShowHelpTopic(app.get(), broken));
  EXPECT_TRUE(win32::recorded_shell_calls().empty());
}

}  // namespace
