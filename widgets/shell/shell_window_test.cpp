#include "widgets/shell/shell_window.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gui/app/korvane_app.h"
#include "gui/app/verb_processor.h"
#include "gui/dialogs/help.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_test_display.h"
#include "platform/fox/fx_theme.h"
#include "core/resource_archive.h"
#include "core/resource_testing.h"
#include "files/zip_writer.h"
#include "platform/win32/windows.h"
#include "widgets/browser.h"
#include "widgets/explorer_toolbar.h"
#include "widgets/icon_list.h"
#include "widgets/shell/shell_layout.h"
#include "xml/product_configuration.h"

using namespace FX;

namespace {

// A layout that counts its activations and gives a plain left pane.
class CountingLayout : public FXKShellLayoutBase {
 public:
  CountingLayout(FXKShellWindow* w, int* deleted = nullptr) : FXKShellLayoutBase(w, 0), deleted(deleted) {}
  ~CountingLayout() override {
    if (deleted) ++*deleted;
  }
  void activate() override { ++activations; }
  FXWindow* createLeftPane(FXComposite* container) override {
    return new FXFrame(container, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0);
  }
  int activations = 0;
  int* deleted;
};

class ShellWindowBaseTest : public FXAppTest<FXExtApp> {
 protected:
  std::unique_ptr<FXExtApp> makeApp() override { return std::make_unique<FXExtApp>("kvshelltest", "kvtest"); }
};

TEST_F(ShellWindowBaseTest, AddLayoutNumbersNamesAndReplaces) {
  auto* window = new FXKShellWindow(app.get(), "shell");
  int deleted = 0;
  auto* first = new CountingLayout(window, &deleted);
  EXPECT_EQ(window->addLayout("explorer", first), 1);
  // The first registered layout is current at once.
  EXPECT_EQ(window->getLayout(), first);
  EXPECT_EQ(first->activations, 1);
  EXPECT_EQ(window->addLayout("menu", new CountingLayout(window, &deleted)), 2);
  EXPECT_EQ(window->addLayout("third", new CountingLayout(window, &deleted)), 3);
  auto* again = new CountingLayout(window, &deleted);
  EXPECT_EQ(window->addLayout("explorer", again), 1);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(window->getLayout(), again);
  EXPECT_EQ(window->currentLayoutRegisteredName(), "explorer");
  delete window;
  EXPECT_EQ(deleted, 4);
}

TEST_F(ShellWindowBaseTest, ALayoutUnderTheEmptyNameIsDeletedOnce) {
  auto* window = new FXKShellWindow(app.get(), "shell");
  int deleted = 0;
  EXPECT_EQ(window->addLayout("", new CountingLayout(window, &deleted)), 1);
  EXPECT_EQ(window->currentLayoutRegisteredName(), "");
  delete window;
  EXPECT_EQ(deleted, 1);
}

TEST_F(ShellWindowBaseTest, UnknownLayoutModeKeepsTheCurrentLayout) {
  app->reg().writeStringEntry("FXKShellWindow", "LAYOUTMODE", "nosuch");
  auto* window = new FXKShellWindow(app.get(), "shell");
  auto* explorer = new CountingLayout(window);
  auto* menu = new CountingLayout(window);
  window->addLayout("explorer", explorer);
  window->addLayout("menu", menu);
  EXPECT_TRUE(window->readSettings());
  EXPECT_EQ(window->getLayout(), explorer);
  app->reg().writeStringEntry("FXKShellWindow", "LAYOUTMODE", "menu");
  EXPECT_TRUE(window->readSettings());
  EXPECT_EQ(window->getLayout(), menu);
  window->writeSettings();
  EXPECT_STREQ(app->reg().readStringEntry("FXKShellWindow", "LAYOUTMODE", ""), "menu");
  delete window;
}

TEST_F(ShellWindowBaseTest, LeftPaneWithFillTakesHalfTheWidth) {
  auto* window = new FXKShellWindow(app.get(), "shell", nullptr, nullptr,
                                    FXuint(DECOR_ALL) | FXKShellWindow::SHELL_LEFT_PANE | FXKShellWindow::SHELL_MAIN_FRAME |
                                        FXKShellWindow::SHELL_BOTTOM_AREA,
                                    0, 0, 501, 300);
  window->addLayout("explorer", new CountingLayout(window));
  window->create();
  window->show(PLACEMENT_DEFAULT);
  settleEvents(app.get());
  FXint l = 0, t = 0, r = 0, b = 0;
  fxGetTheme(app.get())->getFrameMargins(l, t, r, b);
  ASSERT_NE(window->getLeftPane(), nullptr);
  ASSERT_NE(window->getMainFrame(), nullptr);
  const FXint free = window->getWidth() - l - r;
  EXPECT_EQ(window->getLeftPane()->getWidth(), free / 2);
  EXPECT_EQ(window->getMainFrame()->getX(), l + free / 2);
  EXPECT_EQ(window->getMainFrame()->getWidth(), free - free / 2);
  // The pane names carry the layout's name; the status bar sits in the bottom area.
  EXPECT_EQ(fxGetWindowName(window->getMainFrame()), FXWString(u"explorerHFRAME"));
  EXPECT_EQ(fxGetWindowName(window), FXWString(u"MAIN"));
  ASSERT_NE(window->getStatusBar(), nullptr);
  EXPECT_EQ(fxGetWindowName(window->getStatusBar()), FXWString(u"explorerStatusBar"));
  // "toggle_statusbar" hides whichever status bar the window holds.
  FXKVerbProcessor* verbs = window->getVerbProcessor();
  verbs->executeVerb(verbs->getVerbId("toggle_statusbar"));
  settleEvents(app.get());
  EXPECT_FALSE(window->getStatusBar()->shown());
  window->destroy();
  delete window;
}


// ---- standard commands

// The configuration the program would carry, with the two web pages and
// without the user's guide. Loaded once: the window keeps the texts it
// looked up for the rest of the process.
void useConfiguration() {
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  std::string dir = (std::filesystem::temp_directory_path() / "kvshell-XXXXXX").string();
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  std::ostringstream zip;
  zip_writer w(zip);
  ASSERT_TRUE(w.add(Common::configurationMemberName,
                    "<configuration><string name=\"main_url\">https://main.example/</string>"
                    "<string name=\"main_support_url\">https://support.example/</string></configuration>"));
  ASSERT_TRUE(w.finish());
  const std::string file = dir + "/program.zip";
  std::ofstream(file, std::ios::binary) << zip.str();
  std::u16string path = u"Z:";
  for (char c : file) path.push_back(static_cast<unsigned char>(c));
  Common::testing::setProgramArchivePath(path.c_str());
  Common::testing::setResourceFileState(2);
  Common::testing::reloadProductConfiguration();
  ASSERT_NE(Common::getConfigString("main_url"), nullptr);
  // The document is read: the archive may go.
  Common::testing::setProgramArchivePath(nullptr);
  Common::testing::setResourceFileState(0);
  std::filesystem::remove_all(dir);
}

// Takes the window's close request instead of letting FOX delete the window.
class CloseCatcher : public FXObject {
  FXDECLARE(CloseCatcher)

 public:
  long onClose(FXObject*, FXSelector, void*) {
    ++closes;
    return 1;
  }
  int closes = 0;
};
FXDEFMAP(CloseCatcher) CloseCatcherMap[] = {FXMAPFUNC(SEL_CLOSE, 0, CloseCatcher::onClose)};
FXIMPLEMENT(CloseCatcher, FXObject, CloseCatcherMap, ARRAYNUMBER(CloseCatcherMap))

class ShellCommandsTest : public ShellWindowBaseTest {
 protected:
  void SetUp() override {
    ShellWindowBaseTest::SetUp();
    if (!app) return;
    useConfiguration();
    win32::record_shell_calls(true);
    window = new FXKShellWindow(app.get(), "shell", nullptr, nullptr, DECOR_ALL, 0, 0, 300, 200);
    window->setTarget(&catcher);
    window->create();
  }
  void TearDown() override {
    win32::record_shell_calls(false);
    if (window) {
      window->destroy();
      delete window;
    }
    ShellWindowBaseTest::TearDown();
  }
  std::vector<std::pair<std::string, std::string>> calls() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const win32::ShellCall& c : win32::recorded_shell_calls()) {
      EXPECT_EQ(c.show, 5);
      out.emplace_back(std::string(c.verb.begin(), c.verb.end()), std::string(c.file.begin(), c.file.end()));
    }
    win32::record_shell_calls(true);
    return out;
  }
  using Calls = std::vector<std::pair<std::string, std::string>>;
  FXKShellWindow* window = nullptr;
  CloseCatcher catcher;
};

TEST_F(ShellCommandsTest, WebLinksOpenTheConfiguredPages) {
  const struct {
    const char* how;
    FXSelector id;
    const char* verb;
    const char* page;
  } cases[] = {
      {"logo link", FXKShellWindow::ID_LOGO_LINK, nullptr, "https://main.example/"},
      {"support", FXKShellWindow::ID_WEB_SUPPORT, "web_support", "https://support.example/"},
      {"product", FXKShellWindow::ID_WEB_PRODUCT, "web_product", "https://main.example/"},
  };
  FXKVerbProcessor* verbs = window->getVerbProcessor();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    EXPECT_EQ(window->handle(window, FXSEL(SEL_COMMAND, c.id), nullptr), 1);
    EXPECT_EQ(calls(), (Calls{{"open", c.page}}));
    if (c.verb) {
      verbs->executeVerb(verbs->getVerbId(c.verb));
      EXPECT_EQ(calls(), (Calls{{"open", c.page}}));
    }
    EXPECT_EQ(app->waitCursorCount(), 0);  // the wait cursor went again
  }
}

TEST_F(ShellCommandsTest, UserManualFileOrGuidePage) {
  // No file and no guide page in the configuration: nothing to open, and no crash.
  app->reg().deleteEntry("SETTINGS", "PdfFile");
  window->handle(window, FXSEL(SEL_COMMAND, FXKShellWindow::ID_USER_MANUAL), nullptr);
  EXPECT_TRUE(calls().empty());
  // A file that is not there counts as none.
  app->reg().writeStringEntry("SETTINGS", "PdfFile", "Z:/nonexistent/kv-manual.pdf");
  window->getVerbProcessor()->executeVerb(window->getVerbProcessor()->getVerbId("user_manual"));
  EXPECT_TRUE(calls().empty());
  // An existing file is opened.
  std::string dir = (std::filesystem::temp_directory_path() / "kvshell-XXXXXX").string();
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  std::ofstream(dir + "/manual.pdf") << "%PDF-1.4\n";
  const std::string file = "Z:" + dir + "/manual.pdf";
  app->reg().writeStringEntry("SETTINGS", "PdfFile", file.c_str());
  window->handle(window, FXSEL(SEL_COMMAND, FXKShellWindow::ID_USER_MANUAL), nullptr);
  EXPECT_EQ(calls(), (Calls{{"open", file}}));
  EXPECT_EQ(app->waitCursorCount(), 0);
  app->reg().deleteEntry("SETTINGS", "PdfFile");
  std::filesystem::remove_all(dir);
}

TEST_F(ShellCommandsTest, ExitAndVerbsByName) {
  window->handle(window, FXSEL(SEL_COMMAND, FXKShellWindow::ID_EXIT), nullptr);
  EXPECT_EQ(catcher.closes, 1);
  FXWString exitName(u"exit");
  EXPECT_EQ(window->handle(window, FXSEL(SEL_COMMAND, FXKShellWindow::ID_EXECUTE_VERB), &exitName), 1);
  EXPECT_EQ(catcher.closes, 2);
  FXWString product(u"web_product");
  window->handle(window, FXSEL(SEL_COMMAND, FXKShellWindow::ID_EXECUTE_VERB_RESULT), &product);
  EXPECT_EQ(calls(), (Calls{{"open", "https://main.example/"}}));
  // No name: handled, nothing run.
  EXPECT_EQ(window->handle(window, FXSEL(SEL_COMMAND, FXKShellWindow::ID_EXECUTE_VERB), nullptr), 1);
  EXPECT_EQ(window->handle(window, FXSEL(SEL_COMMAND, FXKShellWindow::ID_EXECUTE_VERB_RESULT), nullptr), 1);
  EXPECT_EQ(catcher.closes, 2);
  EXPECT_TRUE(calls().empty());
}

// ---- placement

TEST_F(ShellWindowBaseTest, StoredPlacementRoundTripAndRefusal) {
  FXSettings& reg = app->reg();
  const char* section = "FXKShellWindow";
  reg.deleteSection(section);
  reg.writeIntEntry(section, "X", 40);
  reg.writeIntEntry(section, "Y", 30);
  reg.writeIntEntry(section, "Width", 320);
  reg.writeIntEntry(section, "Height", 210);
  reg.writeIntEntry(section, "ShowState", 1);
  auto* window = new FXKShellWindow(app.get(), "shell", nullptr, nullptr, DECOR_ALL, 0, 0, 100, 100);
  window->create();  // reads the settings
  EXPECT_EQ(window->storedPlacement().x, 40);
  EXPECT_EQ(window->storedPlacement().w, 320);
  window->show(PLACEMENT_DEFAULT);
  settleEvents(app.get());
  EXPECT_EQ(window->getX(), 40);
  EXPECT_EQ(window->getY(), 30);
  EXPECT_EQ(window->getWidth(), 320);
  EXPECT_EQ(window->getHeight(), 210);
  // Where the window is when it goes is written back.
  window->position(60, 50, 330, 220);
  settleEvents(app.get());
  window->destroy();
  EXPECT_EQ(reg.readIntEntry(section, "X", -1), 60);
  EXPECT_EQ(reg.readIntEntry(section, "Y", -1), 50);
  EXPECT_EQ(reg.readIntEntry(section, "Width", -1), 330);
  EXPECT_EQ(reg.readIntEntry(section, "Height", -1), 220);
  EXPECT_EQ(reg.readIntEntry(section, "ShowState", -1), 1);
  delete window;

  // A place off every screen is moved onto the screen.
  reg.writeIntEntry(section, "X", 100000);
  reg.writeIntEntry(section, "Y", -5000);
  window = new FXKShellWindow(app.get(), "shell", nullptr, nullptr, DECOR_ALL, 0, 0, 100, 100);
  window->create();
  window->show(PLACEMENT_DEFAULT);
  settleEvents(app.get());
  const FXint screenW = window->getRoot()->getWidth();
  EXPECT_LE(window->getX() + window->getWidth(), screenW);
  EXPECT_GE(window->getY(), 0);
  EXPECT_EQ(window->getWidth(), 330);
  window->destroy();
  delete window;

  // Sizes the window cannot have had are no placement: the window keeps its own.
  const struct {
    FXint w, h;
  } bogus[] = {{0, 200}, {300, -4}, {40000, 200}};
  for (const auto& b : bogus) {
    SCOPED_TRACE(b.w);
    reg.writeIntEntry(section, "X", 10);
    reg.writeIntEntry(section, "Width", b.w);
    reg.writeIntEntry(section, "Height", b.h);
    window = new FXKShellWindow(app.get(), "shell", nullptr, nullptr, DECOR_ALL, 0, 0, 150, 120);
    EXPECT_TRUE(window->readSettings());
    EXPECT_FALSE(window->storedPlacement().valid());
    window->create();
    window->show(PLACEMENT_DEFAULT);
    settleEvents(app.get());
    EXPECT_EQ(window->getWidth(), 150);
    EXPECT_EQ(window->getHeight(), 120);
    delete window;
  }
  reg.deleteSection(section);
}

// A window maximised on a display without a window manager keeps the
// rectangle it goes back to: written with the maximised state, and the next
// window opens maximised and restores to it.
TEST_F(ShellWindowBaseTest, MaximisedPlacementRoundTrip) {
  if (fxHasWindowManager(app.get())) GTEST_SKIP() << "a window manager maximises here";
  FXSettings& reg = app->reg();
  const char* section = "FXKShellWindow";
  reg.deleteSection(section);
  auto* window = new FXKShellWindow(app.get(), "shell", nullptr, nullptr, DECOR_ALL, 0, 0, 100, 100);
  window->create();
  window->show(PLACEMENT_DEFAULT);
  window->position(50, 60, 310, 205);
  settleEvents(app.get());
  EXPECT_TRUE(window->maximize());
  settleEvents(app.get());
  const FXint sw = window->getRoot()->getWidth(), sh = window->getRoot()->getHeight();
  EXPECT_TRUE(window->isMaximized());
  EXPECT_EQ(window->getWidth(), sw);
  window->destroy();
  EXPECT_EQ(reg.readIntEntry(section, "ShowState", -1), 3);
  EXPECT_EQ(reg.readIntEntry(section, "X", -1), 50);
  EXPECT_EQ(reg.readIntEntry(section, "Width", -1), 310);
  EXPECT_EQ(reg.readIntEntry(section, "Height", -1), 205);
  delete window;

  window = new FXKShellWindow(app.get(), "shell", nullptr, nullptr, DECOR_ALL, 0, 0, 100, 100);
  window->create();
  window->show(PLACEMENT_DEFAULT);
  settleEvents(app.get());
  EXPECT_TRUE(window->isMaximized());
  EXPECT_EQ(window->getWidth(), sw);
  EXPECT_EQ(window->getHeight(), sh);
  EXPECT_TRUE(window->restore());
  settleEvents(app.get());
  EXPECT_FALSE(window->isMaximized());
  EXPECT_EQ(window->getX(), 50);
  EXPECT_EQ(window->getY(), 60);
  EXPECT_EQ(window->getWidth(), 310);
  EXPECT_EQ(window->getHeight(), 205);
  window->destroy();
  delete window;
  reg.deleteSection(section);
}

// ---- the window's own document

// An item list over the window's own document.
class OwnListWindow : public FXKShellWindow {
 public:
  OwnListWindow(FXApp* app, FXuint options) : FXKShellWindow(app, "shell", nullptr, nullptr, options, 0, 0, 300, 200) {}
  FXKIconList* createItemList(FXComposite* parent) override {
    return fxkNewShellCategoryView(parent, this, 0x10000c00);
  }
  void beforeCreatePanes() override {
    if (!withToolbars) return;
    auto* bar = buildMenubar();
    auto* title = new FXMenuTitle(bar, "View", nullptr, new FXMenuPane(this));
    createStandardMenu(title, FXWString(u"kml:toolbar"));
    toolbarPanel = dynamic_cast<FXComposite*>(addToolbar(FXWString(u"Standard"), FXWString())->getParent());
  }
  bool withToolbars = false;
};

TEST_F(ShellWindowBaseTest, ListOverTheWindowsOwnDocumentDoesNotRelayForever) {
  auto* window = new OwnListWindow(app.get(), FXuint(DECOR_ALL) | FXKShellWindow::SHELL_MAIN_FRAME |
                                                  FXKShellWindow::SHELL_ITEM_LIST);
  window->create();
  ASSERT_NE(window->getItemList(), nullptr);
  EXPECT_EQ(window->getItemList()->getBrowser(), window->getBrowser());
  window->show(PLACEMENT_DEFAULT);
  FXKBrowser* document = window->getBrowser();
  // A document among its own views would hand every notice back to itself.
  EXPECT_EQ(document->views().count(document), 0u);
  document->repaintViews();
  settleEvents(app.get());
  // Rebuilding the panes and going away detach without going round either.
  auto* other = new FXKShellLayoutBase(window, 0);
  window->addLayout("other", other);
  window->getBrowser()->scheduleUpdate(FXKBrowser::UPDATE_REBUILD);
  settleEvents(app.get());
  EXPECT_NE(window->getItemList(), nullptr);
  EXPECT_EQ(document->views().count(document), 0u);
  window->destroy();
  delete window;
}

TEST_F(ShellWindowBaseTest, ToolbarPanelGetsTheToolbarsMenu) {
  auto* window = new OwnListWindow(app.get(), FXuint(DECOR_ALL) | FXKShellWindow::SHELL_TOP_AREA);
  window->withToolbars = true;
  window->create();
  auto* panel = dynamic_cast<FXKExplorerToolbarPanel*>(window->getToolbarPanel());
  ASSERT_NE(panel, nullptr);
  ASSERT_NE(window->getToolbarsMenu(), nullptr);
  EXPECT_EQ(panel->getToolbarsMenu(), window->getToolbarsMenu());
  window->destroy();
  delete window;
}


// ---- help

// Writes down the help requests instead of opening help.
class HelpApp : public FXKorvaneApp {
 public:
  HelpApp() : FXKorvaneApp(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr) {}
  bool showHelpTopic(FXKHelpRequest& request) override {
    requests.push_back(request);
    return true;
  }
  std::vector<FXKHelpRequest> requests;
};

class ShellHelpTest : public FXAppTest<HelpApp> {
 protected:
  std::unique_ptr<HelpApp> makeApp() override { return std::make_unique<HelpApp>(); }
};

TEST_F(ShellHelpTest, HelpAsksForNoTopic) {
  auto* window = new FXKShellWindow(app.get(), "shell");
  FXKVerbProcessor* verbs = window->getVerbProcessor();
  verbs->executeVerb(verbs->getVerbId("help_context"));
  window->handle(window, FXSEL(SEL_COMMAND, FXKShellWindow::ID_HELP), nullptr);
  ASSERT_EQ(app->requests.size(), 2u);
  for (const FXKHelpRequest& r : app->requests) {
    EXPECT_TRUE(r.helpFile.empty());
    EXPECT_EQ(r.flags, 0);
    EXPECT_EQ(r.window, nullptr);
    EXPECT_EQ(r.topic, 0);
    EXPECT_EQ(r.text, nullptr);
  }
  delete window;
}

}  // namespace
