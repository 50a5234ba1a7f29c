// The menu verb handler on a real X display: the controls it labels and
// enables, the update items, "show", "extract" through the save dialog, the
// customization files and the window that comes back after an install.
#include "installmenu/app/menu_verb_handler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/resource_testing.h"
#include "installjob/job_fixture.h"
#include "installmenu/app/install_menu_app.h"
#include "platform/fox/fx_test_display.h"
#include "platform/win32/windows.h"
#include "widgets/browser.h"
#include "widgets/shell/shell_browser.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/shell_window.h"
#include "xml/product_configuration.h"

using namespace FX;

namespace {

struct RecordingControl : Processor::VerbControl {
  std::optional<bool> enabled;
  std::optional<std::u16string> text;
  void enable(bool on) override { enabled = on; }
  void check(bool) override {}
  void setThirdState(bool) override {}
  void show(bool) override {}
  void setText(const char16_t* t) override { text = t; }
};

struct RecordingHost : FXKInstallVerbHost {
  int checks = 0, downloads = 0;
  std::unique_ptr<Processor::Cancelable> flag;
  std::u16string package;
  void startUpdateCheck() override { ++checks; }
  void startDownload() override { ++downloads; }
  Processor::Cancelable* adoptCancelable(std::unique_ptr<Processor::Cancelable> f) override {
    flag = std::move(f);
    return flag.get();
  }
  std::u16string packageFile() override { return package; }
};

// Answers the modal save dialog with a Unix path, or cancels it (empty).
class DialogDriver : public FXObject {
  FXDECLARE(DialogDriver)

 public:
  std::string chosen;
  FXString proposed;
  long onTimeout(FXObject*, FXSelector, void*) {
    auto* dialog = dynamic_cast<FXFileDialog*>(FXApp::instance()->getModalWindow());
    if (!dialog) {
      FXApp::instance()->addTimeout(this, 1, 10);
      return 1;
    }
    proposed = dialog->getFilename();
    if (chosen.empty()) {
      dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), nullptr);
    } else {
      dialog->setFilename(chosen.c_str());
      dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
    }
    return 1;
  }
};
FXDEFMAP(DialogDriver) DialogDriverMap[] = {FXMAPFUNC(SEL_TIMEOUT, 1, DialogDriver::onTimeout)};
FXIMPLEMENT(DialogDriver, FXObject, DialogDriverMap, ARRAYNUMBER(DialogDriverMap))

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string command(const std::string& line) {
  std::string out;
  if (FILE* p = ::popen(line.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

const char kConfiguration[] = R"(<?xml version="1.0" encoding="utf-8"?>
<resource>
  <string name="main_title">Menu</string>
  <customization>
    <file_list>
      <file>settings.xml</file>
      <file></file>
      <file>absent.xml</file>
    </file_list>
  </customization>
</resource>
)";

class VerbHandlerTest : public job_test::JobWorld {
 protected:
  void SetUp() override {
    JobWorld::SetUp();
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
    // The program archive: a package, the customization members and the
    // configuration that lists them.
    const std::string stage = c("stage");
    std::filesystem::create_directories(stage);
    std::string package;
    for (int i = 0; i < 70000; ++i) package += static_cast<char>((i * 131 + i / 7) & 0xFF);
    std::ofstream(stage + "/Hotfix.msi", std::ios::binary) << package;
    std::ofstream(stage + "/VDHM_Vazedi_english.msp", std::ios::binary) << "english patch bytes";
    std::ofstream(stage + "/settings.xml", std::ios::binary) << "<settings/>";
    std::ofstream(stage + "/DovecrestVazediInstallMenu.xml", std::ios::binary) << kConfiguration;
    archive = c("menu.exe");
    ASSERT_EQ(std::system(("cd " + msi_test::quote(stage) + " && zip -q -X " + msi_test::quote(archive) +
                           " Hotfix.msi VDHM_Vazedi_english.msp settings.xml DovecrestVazediInstallMenu.xml")
                              .c_str()),
              0);
    Common::testing::setProgramArchivePath(u"C:\\menu.exe");
    Common::testing::setResourceFileState(2);
    Common::testing::reloadProductConfiguration();

    app = std::make_unique<FXKInstallMenuApp>();
    int argc = 1;
    static char name[] = "kvverbtest";
    char* argv[] = {name, nullptr};
    app->initWithPackage(argc, argv, nullptr);
    shell = new FXKShellWindow(app.get(), "verbs", nullptr, nullptr, DECOR_ALL, 0, 0, 400, 300);
    registerInstallVerbs(shell, &host);
    app->create();
    shell->create();
    shell->show(PLACEMENT_SCREEN);
  }
  void TearDown() override {
    win32::record_shell_calls(false);
    if (app) {
      while (app->busyCount() > 0) app->endProgressSync(0);
      app->setCancelable(nullptr);
      app->destroy();
      app.reset();
    }
    Common::testing::setProgramArchivePath(nullptr);
    Common::testing::setResourceFileState(0);
    Common::testing::reloadProductConfiguration();
    JobWorld::TearDown();
  }

  // Registers an item with its attributes and makes it the current one.
  void current(const std::string& verb, std::initializer_list<std::pair<const char*, const char16_t*>> attributes) {
    FXKShellItemInfo* info = shell->findItemInfo(verb, 0);
    if (!info) {
      info = shell->createItemInfo(verb, 0);
      shell->addItem(nullptr, info);
    }
    for (const auto& [key, value] : attributes) info->attribute(key) = FXWString(value);
    FXKShellBrowserItem item(verb, 0, false, true);
    shell->getBrowser()->selectItem(&item, false, false);
    ASSERT_EQ(shell->getCurrentItemInfo(), info);
  }
  Processor::VerbHandler* handler(const char* verb) {
    return verbs.emplace_back(std::make_unique<FXKInstallExecute>(shell, &host, kindOf(verb))).get();
  }
  static FXKInstallExecute::Kind kindOf(const std::string& verb) {
    if (verb == "install") return FXKInstallExecute::Install;
    if (verb == "extract") return FXKInstallExecute::Extract;
    if (verb == "execute") return FXKInstallExecute::Execute;
    return FXKInstallExecute::Show;
  }
  // Answers the next save dialog with `unixPath` (empty: cancel).
  void answer(const std::string& unixPath) {
    driver.chosen = unixPath;
    app->addTimeout(&driver, 1, 10);
  }

  std::unique_ptr<FXKInstallMenuApp> app;
  FXKShellWindow* shell = nullptr;
  RecordingHost host;
  DialogDriver driver;
  std::string archive;
  std::vector<std::unique_ptr<FXKInstallExecute>> verbs;
};

TEST_F(VerbHandlerTest, ControlTable) {
  struct Row {
    const char* verb;  // the handler's verb
    const char* item;
    std::initializer_list<std::pair<const char*, const char16_t*>> attributes;
    std::optional<std::u16string> text;  // none: the control keeps its text
    bool enabled;
  } rows[] = {
      {"install", "locale", {{"file:dynamic_href", u"VDHM_Vazedi_{0}.msp"}}, u"Install", true},
      {"install", "hotfix", {{"file:href", u"Hotfix.msi"}, {"default_verb_title", u"Apply"}}, u"Apply", true},
      {"show", "imager_support", {{"link:url", u"http://support.invalid/"}}, u"Install", true},
      {"execute", "tool", {{"file:href", u"Tool.exe"}}, std::nullopt, true},
      {"execute", "nothing", {{"title", u"No target"}}, std::nullopt, false},
      {"install", "nothing", {}, u"Install", false},
      // Extract: only what the archive holds, a dynamic target, never an update item.
      {"extract", "hotfix", {}, std::nullopt, true},
      {"extract", "missing", {{"file:href", u"Missing.msi"}}, std::nullopt, false},
      {"extract", "update_available", {{"file:href", u"Hotfix.msi"}}, std::nullopt, false},
      {"extract", "locale", {}, std::nullopt, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.verb) + " on " + r.item);
    current(r.item, r.attributes);
    RecordingControl control;
    handler(r.verb)->update(&control);
    EXPECT_EQ(control.text, r.text);
    ASSERT_TRUE(control.enabled.has_value());
    EXPECT_EQ(*control.enabled, r.enabled);
  }
}

TEST_F(VerbHandlerTest, WithoutCurrentItemTheControlIsDisabledAndNothingRuns) {
  RecordingControl control;
  handler("install")->update(&control);
  EXPECT_EQ(control.enabled, std::optional<bool>(false));
  EXPECT_EQ(handler("install")->execute(nullptr), 0);
}

TEST_F(VerbHandlerTest, UpdateItemsDriveTheUpdateRoad) {
  struct Row {
    const char* item;
    int checks, downloads;
  } rows[] = {
      {"update_checking", 0, 0},   {"update_downloading", 0, 0}, {"separator", 0, 0},
      {"update_unavailable", 1, 0}, {"update_proposal", 1, 0},   {"update_error", 1, 0},
      {"update_available", 0, 1},  {"update_download_error", 0, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.item);
    host.checks = host.downloads = 0;
    current(r.item, {{"file:href", u"Hotfix.msi"}});
    EXPECT_EQ(handler("install")->execute(nullptr), 0);
    EXPECT_EQ(host.checks, r.checks);
    EXPECT_EQ(host.downloads, r.downloads);
  }
}

TEST_F(VerbHandlerTest, ShowOpensTheFileOrElseTheAddress) {
  win32::record_shell_calls(true);
  current("imager_support", {{"link:url", u"http://support.invalid/page"}});
  EXPECT_EQ(handler("show")->execute(nullptr), 1);
  current("readme", {{"file:href", u"C:\\readme.txt"}, {"link:url", u"http://support.invalid/other"}});
  put("readme.txt", "read me");
  EXPECT_EQ(handler("show")->execute(nullptr), 1);
  const auto calls = win32::recorded_shell_calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].file, u"http://support.invalid/page");
  EXPECT_EQ(calls[0].verb, u"open");
  EXPECT_NE(calls[1].file.find(u"readme.txt"), std::u16string::npos);
  EXPECT_EQ(calls[1].file.find(u"other"), std::u16string::npos);
  // Nothing was hidden or made busy for it.
  EXPECT_TRUE(shell->shown());
  EXPECT_EQ(app->busyCount(), 0);
}

TEST_F(VerbHandlerTest, ExtractWritesTheMemberToTheChosenFile) {
  std::filesystem::create_directories(c("out"));
  current("hotfix", {{"file:href", u"Hotfix.msi"}});
  answer(c("out/saved.msi"));
  EXPECT_EQ(handler("extract")->execute(nullptr), 1);
  // The dialog proposed the target.
  EXPECT_TRUE(std::string(driver.proposed.text()).ends_with("Hotfix.msi")) << driver.proposed.text();
  const std::string witness = command("unzip -p " + msi_test::quote(archive) + " Hotfix.msi");
  ASSERT_EQ(witness.size(), 70000u);
  EXPECT_EQ(readFile(c("out/saved.msi")), witness);
  EXPECT_TRUE(shell->shown());
  EXPECT_EQ(app->busyCount(), 0);
  // The job's cancel flag stays with the window.
  EXPECT_NE(host.flag, nullptr);
  EXPECT_EQ(app->cancelable(), host.flag.get());

  // A cancelled choice writes nothing and still counts as carried out.
  std::filesystem::remove(c("out/saved.msi"));
  answer("");
  EXPECT_EQ(handler("extract")->execute(nullptr), 1);
  EXPECT_TRUE(std::filesystem::is_empty(c("out")));
  // A folder that is not there: nothing written, no question.
  answer(c("gone/saved.msi"));
  EXPECT_EQ(handler("extract")->execute(nullptr), 1);
  EXPECT_FALSE(std::filesystem::exists(c("gone")));
}

// A pattern is no member name: extract resolves it for the installed
// product's language, as preparing an install does.
TEST_F(VerbHandlerTest, ExtractOfADynamicTargetTakesTheInstalledLanguagesPackage) {
  product("product.msi");
  installDirectly("product.msi");
  std::filesystem::create_directories(c("out"));
  current("locale", {{"file:dynamic_href", u"VDHM_Vazedi_{0}.msp"}});
  answer(c("out/hotfix.msp"));
  EXPECT_EQ(handler("extract")->execute(nullptr), 1);
  EXPECT_EQ(readFile(c("out/hotfix.msp")),
            command("unzip -p " + msi_test::quote(archive) + " VDHM_Vazedi_english.msp"));
}

// The temporary folder of a user named with a letter beyond Latin-1: the
// property names it whole (its low byte alone would name "Aukasz").
TEST_F(VerbHandlerTest, CustomizationFilesAndTheirWidePath) {
  std::filesystem::create_directories(c("Temp/Łukasz"));
  const char* oldTmp = std::getenv("TMP");
  const std::string saved = oldTmp ? oldTmp : "";
  ::setenv("TMP", "C:\\Temp\\Łukasz", 1);
  const std::u16string properties = customizationProperties();
  if (oldTmp) ::setenv("TMP", saved.c_str(), 1); else ::unsetenv("TMP");
  EXPECT_EQ(properties.rfind(u"CUSTOM_XML=\"C:\\Temp\\Łukasz\\", 0), 0u) << std::string(FXWString(properties.c_str()).toUtf8());
  const std::u16string prefix = u"CUSTOM_XML=\"";
  ASSERT_EQ(properties.rfind(prefix, 0), 0u);
  const std::u16string suffix = u"customization_res.xml\"";
  ASSERT_GT(properties.size(), prefix.size() + suffix.size());
  EXPECT_EQ(properties.substr(properties.size() - suffix.size()), suffix);
  const std::u16string folder = properties.substr(prefix.size(), properties.size() - prefix.size() - suffix.size());
  ASSERT_EQ(folder.back(), u'\\');
  // The folder is the temporary folder's, named by a GUID without its marks.
  const std::u16string guid = folder.substr(0, folder.size() - 1).substr(folder.find_last_of(u'\\', folder.size() - 2) + 1);
  EXPECT_EQ(guid.size(), 32u);
  EXPECT_EQ(guid.find_first_of(u"-{}"), std::u16string::npos);

  auto read = [&](const std::u16string& name) {
    std::string out;
    HANDLE file = CreateFileW((folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string("<none>");
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) out.append(buffer, got);
    CloseHandle(file);
    return out;
  };
  EXPECT_EQ(read(u"settings.xml"), "<settings/>");
  EXPECT_EQ(read(u"absent.xml"), "");  // a missing member leaves the file empty
}

TEST_F(VerbHandlerTest, TheWindowComesBackOnEveryRoadButAChosenRestart) {
  shell->hide();
  { FXKMainWindowReturn back(shell); }
  EXPECT_TRUE(shell->shown());

  shell->hide();
  EXPECT_THROW(
      {
        FXKMainWindowReturn back(shell);
        throw std::runtime_error("escaping");
      },
      std::runtime_error);
  EXPECT_TRUE(shell->shown());

  shell->hide();
  {
    FXKMainWindowReturn back(shell);
    back.dismiss();
  }
  EXPECT_FALSE(shell->shown());
}

TEST_F(VerbHandlerTest, TheTestVerbRunsOnceTheLoopTurnsAndOnlyWhenAsked) {
  current("update_proposal", {});
  ::unsetenv("KV_INSTALLMENU_TEST_VERB");
  scheduleTestVerb(shell);
  settleEvents(app.get(), 5);
  EXPECT_EQ(host.checks, 0);
  ::setenv("KV_INSTALLMENU_TEST_VERB", "install", 1);
  scheduleTestVerb(shell);
  EXPECT_EQ(host.checks, 0);  // queued, not run at once
  settleEvents(app.get(), 5);
  EXPECT_EQ(host.checks, 1);
  // A named item becomes the current one first.
  current("update_available", {});
  ::setenv("KV_INSTALLMENU_TEST_ITEM", "update_error", 1);
  current("update_error", {});
  current("update_available", {});
  scheduleTestVerb(shell);
  settleEvents(app.get(), 5);
  ::unsetenv("KV_INSTALLMENU_TEST_VERB");
  ::unsetenv("KV_INSTALLMENU_TEST_ITEM");
  EXPECT_EQ(host.checks, 2);
  EXPECT_EQ(host.downloads, 0);
  EXPECT_EQ(shell->getCurrentItemInfo()->verb, "update_error");
}

}  // namespace
