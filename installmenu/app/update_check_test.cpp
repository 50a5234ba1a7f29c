// The update road against the loopback update service, on a real X display:
// the state items, the check worker, the download and its cancel, and the
// road's end while a worker hangs in a network call.
#include "installmenu/app/update_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "core/resource_testing.h"
#include "files/fs_error.h"
#include "files/zip_writer.h"
#include "gui/app/progress_dialog.h"
#include "installmenu/app/install_menu_app.h"
#include "liveupdate/test_update_service.h"
#include "network/ssl/ssl.h"
#include "network/ssl/test_pki.h"
#include "network/uri_resource.h"
#include "platform/fox/fx_test_display.h"
#include "platform/win32/windows.h"
#include "platform/win32/testing/test_world.h"
#include "widgets/browser.h"
#include "widgets/shell/shell_browser.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/xml_shell_window.h"
#include "xml/product_configuration.h"

using namespace FX;
using UpdateTest::Service;

namespace {

const char* const kNames[] = {"locale",           "locale_imager_this", "update_proposal",
                              "update_checking",  "update_available",   "update_unavailable",
                              "update_downloading", "update_download_error", "update_error"};

std::string itemsOf(const std::vector<const char*>& names) {
  std::string out = "<group>";
  for (const char* n : names) out += std::string("<kml:item name='") + n + "' verb='" + n + "' title='" + n + "'/>";
  return out + "</group>";
}

const std::string kLocaleLink = "<file name='locale_imager' dynamic_href='VDHM_Vazedi_{0}.msp'/>";
const std::string kDescriptor =
    "<updateInfo><packageID>{PKG}</packageID><edition>2</edition><language>1033</language>"
    "<version>7.0.0.0</version></updateInfo>";
constexpr std::size_t kSize = 1'000'000;

class UpdateRoadTest : public win32_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
    content = UpdateTest::packageBytes(kSize, 5);
    UpdateTest::writeFile(service.file("full-7.3.msi"), content);
    catalogue("7.3");
    useArchive(kLocaleLink + itemsOf({std::begin(kNames), std::end(kNames)}), true);
    // Downloads go below the test's folder, which the test reads as Z:.
    temp = service.path + "/temp";
    std::filesystem::create_directories(temp);
    std::string windows = "Z:" + temp;
    for (char& ch : windows) ch = ch == '/' ? '\\' : ch;
    ::setenv("TMP", windows.c_str(), 1);
    app = std::make_unique<FXKInstallMenuApp>();
    int argc = 1;
    static char name[] = "kvtest";
    static char* argv[] = {name, nullptr};  // kept by every main window FOX creates
    app->initWithPackage(argc, argv, nullptr);
    app->create();
  }
  void TearDown() override {
    road.reset();
    if (shell) {
      FXKXMLShellWindow::freeDocument(document);
      delete shell;
    }
    if (app) {
      app->destroy();
      app.reset();
    }
    Common::testing::setProgramArchivePath(nullptr);
    Common::testing::setResourceFileState(0);
    Common::testing::reloadProductConfiguration();
    ::unsetenv("KV_CERT_ROOT");
    ::unsetenv("TMP");
    World::TearDown();
  }

  // The offered versions: a full package of the first, older ones after it.
  void catalogue(const std::string& version) {
    UpdateTest::writeFile(service.file("catalogue.xml"), "<update version=\"" + version +
                                                             "\" description=\"the newest\">"
                                                             "<file name=\"full-7.3.msi\" size=\"" +
                                                             std::to_string(kSize) + "\"/></update>");
  }
  // The program archive: the configuration `body` and, when asked, the descriptor.
  void useArchive(const std::string& body, bool descriptor) {
    std::ostringstream out;
    zip_writer w(out);
    const std::string configuration = "<resource>" + body + "</resource>";
    ASSERT_TRUE(w.add("DovecrestVazediInstallMenu.xml", configuration));
    if (descriptor) {
      ASSERT_TRUE(w.add("VDHM_Vazedi_{0}.msp.xml", kDescriptor));
    }
    ASSERT_TRUE(w.finish());
    const std::string program = service.file("menu.exe");
    UpdateTest::writeFile(program, out.str());
    const std::string windows = "Z:" + program;
    archivePath.assign(windows.begin(), windows.end());  // kept by pointer
    Common::testing::setResourceFileState(2);
    Common::testing::setProgramArchivePath(archivePath.c_str());
    Common::testing::reloadProductConfiguration();
  }
  void pointAt(const std::string& url) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Korvane\\Update\\Debug", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string v(url.begin(), url.end());
    RegSetValueExW(key, u"ServerUrl", 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>((v.size() + 1) * 2));
    RegCloseKey(key);
  }
  // The menu window built from the configuration, and the road over it.
  void makeRoad() {
    document = FXKXMLShellWindow::loadDocument(nullptr);
    ASSERT_NE(document, nullptr);
    shell = new FXKXMLShellWindow(app.get(), "menu", DECOR_NONE, 0, 0, 400, 300);
    shell->createGroups(document, FXWString());
    shell->create();
    shell->enable();  // as the shown menu is
    road = std::make_unique<CheckUpdateThread>(shell);
    road->setInstaller([this](const std::u16string& pattern, const std::u16string& file) {
      installed.push_back({pattern, file});
      installedBytes = UpdateTest::readFile(unixPath(file));
    });
  }
  static std::string unixPath(const std::u16string& windows) {
    std::string out;
    for (std::size_t i = 2; i < windows.size(); ++i) out += windows[i] == u'\\' ? '/' : static_cast<char>(windows[i]);
    return out;
  }
  // Runs the GUI thread's requests one at a time until `done` holds; false
  // after 30 s. `each` sees the state after every request.
  bool runUntil(const std::function<bool()>& done, const std::function<void()>& each = nullptr) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
      if (done()) return true;
      // Only the requests: the event loop would run them too, unseen by `each`.
      if (app->pendingChores()) {
        app->dispatchChores();
        if (each) each();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    return done();
  }
  bool settled() { return runUntil([&] { return road->updateState() != kUpdateChecking; }); }
  std::size_t requests(const Service& s, const char* prefix) const {
    std::size_t n = 0;
    for (const auto& l : s.requests()) n += l.rfind(prefix, 0) == 0;
    return n;
  }
  bool waitForRequest(const Service& s, const char* prefix) {
    for (int i = 0; i < 1000; ++i) {
      if (requests(s, prefix)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  FXKBrowser* browser() const { return shell->getBrowser(); }
  std::unique_ptr<FXKShellBrowserItem> key(const char* name) const {
    for (FXKShellItemInfo* info : shell->getItemInfos())
      if (info->verb == name) return std::make_unique<FXKShellBrowserItem>(info->verb, info->id, false, true);
    return nullptr;
  }
  std::string visible() {
    std::string out;
    for (const char* n : kNames)
      if (auto k = key(n); k && browser()->isVisible(k.get())) out += std::string(out.empty() ? "" : " ") + n;
    return out;
  }
  std::string current() const {
    auto* item = dynamic_cast<const FXKShellBrowserItem*>(browser()->getCurrentItem());
    return item ? item->verb : "<none>";
  }
  FXKProgressDialog* busy() const { return dynamic_cast<FXKProgressDialog*>(app->busyWindow()); }
  // The road in state 2 with the service's offer.
  void offered(const Service& s) {
    pointAt(s.url());
    makeRoad();
    road->startUpdateCheck();
    ASSERT_TRUE(settled());
    ASSERT_EQ(road->updateState(), kUpdateAvailable);
  }

  UpdateTest::Folder service;
  std::u16string archivePath;
  std::string temp;
  std::string content;
  std::unique_ptr<FXKInstallMenuApp> app;
  FXKShellDocument* document = nullptr;
  FXKXMLShellWindow* shell = nullptr;
  std::unique_ptr<CheckUpdateThread> road;
  std::vector<std::pair<std::u16string, std::u16string>> installed;
  std::string installedBytes;
};

TEST_F(UpdateRoadTest, EachStateShowsItsItems) {
  makeRoad();
  struct Case {
    std::int32_t state;
    const char* visible;
    const char* current;
  } cases[] = {
      {0, "locale update_proposal", "update_proposal"},
      {1, "locale update_checking", "update_checking"},
      {2, "locale_imager_this update_proposal update_available", "update_proposal"},
      {3, "locale update_unavailable", "update_unavailable"},
      {4, "locale update_downloading", "update_downloading"},
      {5, "locale update_download_error", "update_download_error"},
      {6, "locale update_error", "update_error"},
      {7, "locale", "update_error"},  // nothing shown, the current item stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    if (auto locale = key("locale")) browser()->setItemEnabled(locale.get(), false, false);
    road->setUpdateState(c.state);
    EXPECT_EQ(road->updateState(), c.state);
    EXPECT_EQ(visible(), c.visible);
    EXPECT_EQ(current(), c.current);
    auto locale = key("locale");
    EXPECT_FALSE(browser()->stateSet(FXKBrowser::STATE_DISABLED).contains(locale.get()));
  }
}

TEST_F(UpdateRoadTest, WithoutUpdateItemsOnlyTheLocaleItemChanges) {
  useArchive(kLocaleLink + itemsOf({"locale", "other"}), true);
  makeRoad();
  road->setUpdateState(kUpdateAvailable);
  EXPECT_EQ(visible(), "");
  EXPECT_EQ(road->updateState(), kUpdateAvailable);
  road->setUpdateState(kUpdateUnavailable);
  EXPECT_EQ(visible(), "locale");
}

TEST_F(UpdateRoadTest, ACheckEndsInTheStateOfItsAnswer) {
  struct Case {
    const char* name;
    std::string version;  // offered; "" none
    std::vector<std::string> arguments;
    bool link, descriptor;
    std::int32_t state;
  } cases[] = {
      {"a newer package", "7.3", {}, true, true, kUpdateAvailable},
      {"nothing newer", "7.0.0.0", {}, true, true, kUpdateUnavailable},
      {"the service refuses", "7.3", {"--error-root"}, true, true, kUpdateError},
      {"no locale link", "7.3", {}, false, true, kUpdateError},
      {"no package descriptor", "7.3", {}, true, false, kUpdateError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    catalogue(c.version);
    useArchive((c.link ? kLocaleLink : "") + itemsOf({std::begin(kNames), std::end(kNames)}), c.descriptor);
    Service s(service.path, c.arguments);
    pointAt(s.url());
    makeRoad();
    road->startUpdateCheck();
    if (c.link && c.descriptor) {
      // The GUI thread is back before the service has answered.
      EXPECT_EQ(road->updateState(), kUpdateChecking);
      EXPECT_EQ(visible(), "locale update_checking");
    }
    ASSERT_TRUE(settled());
    EXPECT_EQ(road->updateState(), c.state);
    EXPECT_EQ(requests(s, "POST"), c.link && c.descriptor ? 1u : 0u);
    EXPECT_EQ(road->newestPackage() != nullptr, c.state == kUpdateAvailable);
    road.reset();
    FXKXMLShellWindow::freeDocument(document);
    document = nullptr;
    delete shell;
    shell = nullptr;
  }
}

TEST_F(UpdateRoadTest, TheOfferDownloadsWithProgressIsCheckedAndHandedToInstall) {
  Service s(service.path, {});
  offered(s);
  road->startDownload();
  EXPECT_EQ(road->updateState(), kUpdateDownloading);
  EXPECT_FALSE(shell->isEnabled());
  ASSERT_NE(busy(), nullptr);
  EXPECT_TRUE(busy()->shown());
  EXPECT_EQ(app->cancelable() != nullptr, true);
  std::set<std::string> texts = {busy()->text().text()};
  int busyValue = -1;
  ASSERT_TRUE(runUntil([&] { return road->updateState() != kUpdateDownloading; },
                       [&] {
                         if (!busy()) return;
                         texts.insert(busy()->text().text());
                         busyValue = busy()->value();
                       }));
  EXPECT_EQ(road->updateState(), kUpdateAvailable);
  EXPECT_TRUE(texts.count("Preparing for downloading..."));
  EXPECT_TRUE(texts.count("Downloading. 100% completed."));
  EXPECT_EQ(busyValue, 100);
  ASSERT_EQ(installed.size(), 1u);
  EXPECT_EQ(std::string(installed[0].first.begin(), installed[0].first.end()), "VDHM_Vazedi_{0}.msp");
  // "<temporary folder><GUID>\<pattern>", the pattern's placeholder kept.
  const std::u16string& file = installed[0].second;
  EXPECT_EQ(file, road->downloadFolder() + u"VDHM_Vazedi_{0}.msp");
  EXPECT_TRUE(installedBytes == content);
  EXPECT_EQ(UpdateTest::md5sum(unixPath(file)), UpdateTest::md5sum(service.file("full-7.3.msi")));
  EXPECT_TRUE(shell->isEnabled());
  EXPECT_EQ(app->busyWindow(), nullptr);
  EXPECT_EQ(app->cancelable(), nullptr);
  EXPECT_FALSE(road->lastError());

  // A new check removes the previous download before it asks.
  const std::string folder = unixPath(road->downloadFolder());
  road->startUpdateCheck();
  EXPECT_FALSE(std::filesystem::exists(folder));
  ASSERT_TRUE(settled());
}

TEST_F(UpdateRoadTest, CancelDuringTheDownload) {
  Service s(service.path, {"--stall-after", "200000"});
  offered(s);
  road->startDownload();
  ASSERT_TRUE(waitForRequest(s, "GET /files/"));
  // The share on disk when the service fell silent after 200,000 bytes: the
  // three whole chunks of 64 KiB, 196,608 of 1,000,000 bytes.
  ASSERT_TRUE(runUntil([&] { return busy() && busy()->text() == "Downloading. 19% completed."; }))
      << busy()->text().text();
  EXPECT_EQ(busy()->value(), 19);
  // The busy window's Cancel (selector 69): answered at once, however the worker stands.
  EXPECT_EQ(busy()->handle(busy(), FXSEL(SEL_COMMAND, 69), nullptr), 1);
  ASSERT_TRUE(runUntil([&] { return road->updateState() != kUpdateDownloading; }));
  EXPECT_EQ(road->updateState(), kUpdateAvailable);
  EXPECT_FALSE(road->lastError());
  EXPECT_TRUE(installed.empty());
  EXPECT_TRUE(shell->isEnabled());
  EXPECT_EQ(app->busyWindow(), nullptr);
  EXPECT_EQ(app->cancelable(), nullptr);  // no stale flag for the next job
}

TEST_F(UpdateRoadTest, AFailedDownloadKeepsItsErrorUntilTheNextOne) {
  Service s(service.path, {"--wrong-hash"});
  offered(s);
  road->startDownload();
  ASSERT_TRUE(runUntil([&] { return road->updateState() != kUpdateDownloading; }));
  EXPECT_EQ(road->updateState(), kUpdateDownloadError);
  EXPECT_EQ(visible(), "locale update_download_error");
  EXPECT_EQ(road->lastError().code(), InstallMenuHelper::kChecksumError);
  EXPECT_TRUE(shell->isEnabled());
  EXPECT_EQ(app->busyWindow(), nullptr);
  road->startDownload();
  EXPECT_FALSE(road->lastError());
  ASSERT_TRUE(runUntil([&] { return road->updateState() != kUpdateDownloading; }));
  EXPECT_EQ(road->lastError().code(), InstallMenuHelper::kChecksumError);
}

TEST_F(UpdateRoadTest, ADownloadThatCannotStartIsADownloadError) {
  makeRoad();
  // Nothing offered yet.
  road->startDownload();
  EXPECT_EQ(road->updateState(), kUpdateDownloadError);
  EXPECT_EQ(road->lastError().code(), LiveUpdate::kFailedCheck);
  EXPECT_TRUE(shell->isEnabled());
  road.reset();
  delete shell;
  shell = nullptr;
  FXKXMLShellWindow::freeDocument(document);
  document = nullptr;

  // The download folder cannot be made: its parent does not exist.
  Service s(service.path, {});
  offered(s);
  ::setenv("TMP", "Z:\\no\\such\\folder", 1);
  road->startDownload();
  EXPECT_EQ(road->updateState(), kUpdateDownloadError);
  EXPECT_EQ(road->lastError().code(), fs_error::create);
  EXPECT_EQ(road->downloadFolder(), u"");
  EXPECT_EQ(requests(s, "GET"), 0u);
  EXPECT_TRUE(shell->isEnabled());
  EXPECT_EQ(app->busyWindow(), nullptr);
}

// Asked while a check hangs, a new check neither waits nor starts beside it;
// the road then ends at once although the service never answers.
TEST_F(UpdateRoadTest, ACheckAskedWhileOneRunsAndTheEndOfTheRoadDoNotWait) {
  Service s(service.path, {"--stall"});
  pointAt(s.url());
  makeRoad();
  road->startUpdateCheck();
  ASSERT_TRUE(waitForRequest(s, "POST"));
  road->startUpdateCheck();
  EXPECT_TRUE(road->checkRunning());
  EXPECT_EQ(road->updateState(), kUpdateChecking);
  for (int i = 0; i < 20; ++i) app->runWhileEvents(nullptr);
  EXPECT_EQ(requests(s, "POST"), 1u);
  road.reset();  // interrupts the query and joins the worker
  EXPECT_EQ(requests(s, "POST"), 1u);
}

TEST_F(UpdateRoadTest, ACheckAskedWhileOneRunsFollowsIt) {
  Service s(service.path, {});
  pointAt(s.url());
  makeRoad();
  road->startUpdateCheck();
  road->startUpdateCheck();
  ASSERT_TRUE(runUntil([&] { return !road->checkRunning(); }));
  EXPECT_EQ(road->updateState(), kUpdateAvailable);
  EXPECT_EQ(requests(s, "POST"), 2u);
}

TEST_F(UpdateRoadTest, TheEndOfTheRoadInterruptsADownload) {
  Service s(service.path, {"--stall-after", "200000"});
  offered(s);
  road->startDownload();
  ASSERT_TRUE(waitForRequest(s, "GET /files/"));
  const std::string folder = unixPath(road->downloadFolder());
  road.reset();
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_EQ(app->busyWindow(), nullptr);
  EXPECT_EQ(app->cancelable(), nullptr);
  for (int i = 0; i < 20; ++i) app->runWhileEvents(nullptr);  // requests left behind do nothing
}

}  // namespace

namespace {

// An untrusted certificate is put to the user through the window's question.
class UpdateCertificateTest : public UpdateRoadTest {
 protected:
  std::vector<std::string> tlsArguments() {
    const auto& pki = PkiTest::Pki::get();
    return {"--tls-port", "0", "--cert", pki.path("chain.pem"), "--key", pki.path("server.key")};
  }
};

TEST_F(UpdateCertificateTest, TheAnswerDecides) {
  struct Case {
    const char* name;
    bool trusted;  // the test's CA is a trusted root
    int question;  // -1 none, 0 no, 1 yes
    std::int32_t state;
    int asked;
  } cases[] = {
      {"trusted", true, 0, kUpdateAvailable, 0},
      {"untrusted, nobody to ask", false, -1, kUpdateError, 0},
      {"untrusted, refused", false, 0, kUpdateError, 1},
      {"untrusted, accepted", false, 1, kUpdateAvailable, 1},
  };
  const auto& pki = PkiTest::Pki::get();
  const std::string roots = service.path + "/roots";
  std::filesystem::create_directories(roots);
  std::filesystem::copy_file(pki.path("ca.pem"), roots + "/ca.pem");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::setenv("KV_CERT_ROOT", c.trusted ? roots.c_str() : (service.path + "/nothing").c_str(), 1);
    Service s(service.path, tlsArguments());
    pointAt(s.httpsUrl());
    makeRoad();
    int asked = 0;
    const auto gui = std::this_thread::get_id();
    if (c.question >= 0)
      road->setCertificateQuestion(
          [&, c](std::shared_ptr<Network::CertificateObject> certificate, const Network::CertificateCheckInfo& info) {
            ++asked;
            EXPECT_EQ(std::this_thread::get_id(), gui);
            EXPECT_TRUE(certificate);
            EXPECT_EQ(info.reason, 3u);
            return c.question == 1;
          });
    road->startUpdateCheck();
    ASSERT_TRUE(settled());
    EXPECT_EQ(road->updateState(), c.state);
    EXPECT_EQ(asked, c.asked);
    road.reset();
    FXKXMLShellWindow::freeDocument(document);
    document = nullptr;
    delete shell;
    shell = nullptr;
  }
}

}  // namespace
