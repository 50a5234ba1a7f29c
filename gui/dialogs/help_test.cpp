// Help topics and pop-ups over a help archive of HTML pages; the desktop's
// opener is recorded, pop-ups are driven by FOX events.
#include "gui/dialogs/help.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "core/resource_fixture.h"
#include "gui/app/korvane_app.h"
#include "gui/dialogs/small_dialogs.h"
#include "platform/fox/fx_test_display.h"
#include "platform/win32/shell.h"

using namespace FX;

namespace {

class PopupCloser : public FXObject {
  FXDECLARE(PopupCloser)

 public:
  FXString seen;
  long onTimeout(FXObject*, FXSelector, void*) {
    auto* popup = dynamic_cast<FXKHelpPopup*>(FXApp::instance()->getModalWindow());
    if (!popup) {
      FXApp::instance()->addTimeout(this, 1, 10);
      return 1;
    }
    seen = "shown";
    FXEvent ev;
    ev.root_x = popup->getX() + 2;
    ev.root_y = popup->getY() + 2;
    popup->handle(popup, FXSEL(SEL_LEFTBUTTONPRESS, 0), &ev);
    popup->handle(popup, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &ev);
    return 1;
  }
};
FXDEFMAP(PopupCloser) PopupCloserMap[] = {FXMAPFUNC(SEL_TIMEOUT, 1, PopupCloser::onTimeout)};
FXIMPLEMENT(PopupCloser, FXObject, PopupCloserMap, ARRAYNUMBER(PopupCloserMap))

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
  PopupCloser closer;
  struct Row {
    const char* what;
    std::uint8_t flags;
    int topic;
    const char16_t* text;
    bool answer;
  } rows[] = {
      {"context pop-up from popups.txt", 0x1, 42, nullptr, true},
      {"an id that popups.txt lacks", 0x1, 9, nullptr, false},
      {"the request's own text", 0x2, 0, u"Own text", true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    closer.seen = "";
    app->addTimeout(&closer, 1, 10);
    FXKHelpRequest request;
    request.window = main;
    request.flags = r.flags;
    request.topic = r.topic;
    request.text = r.text;
    request.x = 100;
    request.y = 150;
    EXPECT_EQ(FXKShowHelpTopic(app.get(), request), r.answer);
    EXPECT_EQ(closer.seen, FXString(r.answer ? "shown" : ""));
    app->removeTimeout(&closer, 1);
    EXPECT_TRUE(win32::recorded_shell_calls().empty());
  }
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
