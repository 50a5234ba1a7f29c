// The install menu's main window on a real X display: its sizes, the update
// states shown by the configuration's items, and the question about a server
// certificate that failed verification.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "core/error.h"
#include "core/resource_archive.h"
#include "core/resource_fixture.h"
#include "installmenu/app/install_menu_app.h"
#include "liveupdate/test_update_service.h"
#include "network/http_client.h"
#include "network/ssl/https.h"
#include "network/ssl/test_pki.h"
#include "network/uri_resource.h"
#include "platform/fox/fx_test_display.h"
#include "widgets/browser.h"
#include "widgets/dialogs/operation_dialog.h"
#include "widgets/icon_list.h"
#include "widgets/shell/shell_browser.h"
#include "widgets/shell/shell_items.h"
#include "xml/product_configuration.h"

using namespace FX;

namespace {

const char* const kStateItems[] = {"update_proposal",    "update_checking",       "update_available",
                                   "update_unavailable", "update_downloading",    "update_download_error",
                                   "update_error",       "locale",                "locale_imager_this"};

std::string configuration(const std::string& onStartup) {
  std::string items;
  for (const char* name : kStateItems)
    items += std::string("<kml:item name=\"") + name + "\" verb=\"" + name + "\"><title type=\"small\">" + name +
             "</title></kml:item>";
  return "<resource><string name=\"main_title\">Menu under test</string>"
         "<string name=\"check_for_updates_on_startup\">" +
         onStartup +
         "</string>"
         "<group xmlns:kml=\"k\">" +
         items + "</group></resource>";
}

class MenuShellTest : public resource_test::Folder {
 protected:
  void SetUp() override {
    Folder::SetUp();
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
  }
  void start(const std::string& onStartup = "false") {
    write("menu.dat", zip({{Common::configurationMemberName, configuration(onStartup)}}));
    archive = path("menu.dat");
    Common::testing::setProgramArchivePath(archive.c_str());
    Common::testing::reloadProductConfiguration();
    app = std::make_unique<FXKInstallMenuApp>();
    int argc = 1;
    static char name[] = "kvtest";
    char* argv[] = {name, nullptr};
    app->initWithPackage(argc, argv, nullptr);
    ASSERT_TRUE(app->hasDisplay());
    app->create();
  }
  void TearDown() override {
    if (app) {
      app->destroy();
      app.reset();
    }
    Common::testing::setProgramArchivePath(nullptr);
    Common::testing::reloadProductConfiguration();
    Folder::TearDown();
  }
  FXKInstallMenuShell* shell() { return app->mainWindow(); }
  // The names of the state items the item list shows, and the current one.
  std::set<std::string> visible() {
    std::set<std::string> out;
    FXKBrowser* browser = shell()->getItemList()->getBrowser();
    for (FXKShellItemInfo* info : shell()->getItemInfos()) {
      FXKShellBrowserItem key(info->verb, info->id, false, true);
      if (browser->isVisible(&key)) out.insert(info->verb);
    }
    return out;
  }
  std::string current() {
    auto* item = dynamic_cast<const FXKShellBrowserItem*>(shell()->getItemList()->getBrowser()->getCurrentItem());
    return item ? item->verb : "";
  }
  std::u16string archive;
  std::unique_ptr<FXKInstallMenuApp> app;
};

TEST_F(MenuShellTest, SizesAndTheItemOfEachUpdateState) {
  start();
  EXPECT_EQ(shell()->getDefaultWidth(), 743);
  EXPECT_EQ(shell()->getDefaultHeight(), 520);
  EXPECT_EQ(shell()->getMinimalWidth(), 743);
  EXPECT_EQ(shell()->getMinimalHeight(), 520);
  EXPECT_EQ(shell()->getTitle(), "Menu under test");
  EXPECT_EQ(shell()->getDecorations() & DECOR_ALL, 0u);
  ASSERT_NE(shell()->getItemList(), nullptr);
  EXPECT_EQ(shell()->updateState(), 0);
  EXPECT_EQ(visible(), (std::set<std::string>{"update_proposal", "locale"}));

  struct Case {
    int state;
    std::set<std::string> shown;
    std::string current;
  } cases[] = {
      {0, {"update_proposal", "locale"}, "update_proposal"},
      {1, {"update_checking", "locale"}, "update_checking"},
      {3, {"update_unavailable", "locale"}, "update_unavailable"},
      // An offered package: the downloaded item stands in for the local one,
      // and the proposal ends as the current item.
      {2, {"update_available", "locale_imager_this", "update_proposal"}, "update_proposal"},
      // Past state 2 the local item is back: a failed or cancelled download
      // does not take the hotfix at hand away.
      {4, {"update_downloading", "locale"}, "update_downloading"},
      {5, {"update_download_error", "locale"}, "update_download_error"},
      {6, {"update_error", "locale"}, "update_error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    shell()->setUpdateState(c.state);
    EXPECT_EQ(shell()->updateState(), c.state);
    EXPECT_EQ(visible(), c.shown);
    EXPECT_EQ(current(), c.current);
  }
  // Above 6 nothing of the update road shows.
  shell()->setUpdateState(7);
  EXPECT_EQ(visible(), (std::set<std::string>{"locale"}));
}

TEST_F(MenuShellTest, OnlyTrueAsksForAStartupCheck) {
  struct Case {
    const char* value;
    bool checks;
  } cases[] = {{"true", true}, {"True", false}, {"TRUE", false}, {"yes", false}, {"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    start(c.value);
    EXPECT_EQ(shell()->checksOnStartup(), c.checks);
    // A start-up check has started (1), or already failed on the archive's
    // missing package descriptor (6).
    if (c.checks) {
      EXPECT_TRUE(shell()->updateState() == 1 || shell()->updateState() == 6) << shell()->updateState();
    } else {
      EXPECT_EQ(shell()->updateState(), 0);
    }
    app->destroy();
    app.reset();
  }
}

// A certificate as the TLS client hands it over: only its names are read.
class FakeCertificate : public Network::CertificateObject {
 public:
  CertificateObject* clone() const override { return new FakeCertificate(*this); }
  std::u16string displayName() override { return u"loopback"; }
  bool isTrusted() override { return false; }
  bool isSelfSigned() override { return true; }
  bool isTimeInvalid() override { return false; }
  bool hasPrivateKey() override { return false; }
  Network::KeyData* privateKey() override { return nullptr; }
  std::u16string locator() override { return u""; }
  void encoded(Network::Bytes&) override {}
  std::u16string issuer() override { return u"CN=<self>"; }
  std::u16string subject() override { return u"CN=<self>"; }
  void validity(std::int64_t& a, std::int64_t& b) override { a = b = 0; }
  void thumbprint(Network::Bytes&) override {}
  bool extensions(Network::ExtensionList&) override { return false; }
  Network::CertIterator<CertificateObject>* chainOfTrust() override { return nullptr; }
  void addChainCertificate(const Network::Bytes&) override {}
};

// Runs the event loop until `done`, answering the first question dialog with
// `answer` (the dialog's Yes or No button message). The dialog runs its own
// modal loop, so the answer comes as a request the GUI thread serves there.
struct Answerer {
  FXKInstallMenuApp* app;
  int answer;
  std::string header;
  std::atomic<bool> answered;
  static int serve(void* p) {
    auto* self = static_cast<Answerer*>(p);
    auto* dialog = dynamic_cast<FXKOperationDialog*>(self->app->getModalWindow());
    if (!dialog || self->answered) return 0;
    if (dialog->titleLabel()) self->header = dialog->titleLabel()->getText().text();
    self->header += "|" + std::string(dialog->getTitle().text());
    self->answered = true;
    dialog->handle(nullptr, FXSEL(SEL_COMMAND, self->answer), nullptr);
    return 1;
  }
};

void answerQuestion(FXKInstallMenuApp& app, const std::atomic<bool>& done, Answerer& answerer) {
  std::thread poster([&] {
    for (int i = 0; i < 1000 && !done && !answerer.answered; ++i) {
      app.executeAsync(&Answerer::serve, &answerer);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  for (int i = 0; i < 2000 && !done; ++i) {
    app.runWhileEvents(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  poster.join();
  app.runWhileEvents(nullptr);  // the requests still queued find nothing to answer
}

TEST_F(MenuShellTest, AnUntrustedCertificateIsPutToTheUser) {
  start();
  // The update check the window keeps is the update client's callback.
  ASSERT_NE(shell()->updateCheck(), nullptr);
  ASSERT_NE(LiveUpdate::checkCertificateCallback(), nullptr);
  EXPECT_FALSE(LiveUpdate::checkCertificateCallback()->checkEveryCertificate());
  struct Case {
    int button;
    bool accepted;
  } cases[] = {{FXKOperationDialog::ID_OK, true}, {FXKOperationDialog::ID_CANCEL_OP, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.accepted);
    std::atomic<bool> done{false};
    bool accepted = !c.accepted;
    FakeCertificate certificate;
    // The handshake runs on a worker; the GUI thread asks.
    std::thread worker([&] {
      Network::CertificateCheckInfo info{18, 0, 3};  // self-signed
      accepted = LiveUpdate::checkCertificateCallback()->check(&certificate, info);
      done = true;
    });
    Answerer answerer{app.get(), c.button, {}, {false}};
    answerQuestion(*app, done, answerer);
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_TRUE(answerer.answered);
    EXPECT_EQ(accepted, c.accepted);
    EXPECT_EQ(answerer.header, "The certificate is not trusted.|Do you want to continue?");
  }
}

// A real server over TLS: the client verifies as usual, and only a chain that
// fails (no trusted root) is put to the user, whose answer decides.
TEST_F(MenuShellTest, TheUpdateClientAsksOnlyAboutAServerItCannotVerify) {
  start();
  Network::useTlsForHttps();
  const auto& pki = PkiTest::Pki::get();
  UpdateTest::Folder service;
  UpdateTest::writeFile(service.file("hello.bin"), "hello over TLS");
  std::filesystem::create_directories(service.file("roots"));
  std::filesystem::create_directories(service.file("no-roots"));
  std::filesystem::copy_file(pki.path("ca.pem"), service.file("roots/ca.pem"));
  UpdateTest::Service server(service.path, {"--tls-port", "0", "--cert", pki.path("chain.pem"), "--key",
                                            pki.path("server.key")});
  const std::string url = "https://localhost:" + std::to_string(server.httpsPort) + "/files/hello.bin";
  struct Case {
    const char* name;
    const char* roots;
    int button;  // 0: no question expected
    std::uint32_t code;
  } cases[] = {
      {"trusted root: no question", "roots", 0, 0},
      {"untrusted, the user refuses", "no-roots", FXKOperationDialog::ID_CANCEL_OP, 0x30412},
      {"untrusted, the user goes on", "no-roots", FXKOperationDialog::ID_OK, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::setenv("KV_CERT_ROOT", service.file(c.roots).c_str(), 1);
    std::atomic<bool> done{false};
    std::uint32_t code = 1;
    std::string body;
    std::thread worker([&] {
      try {
        auto uri = LiveUpdate::createUriResource(std::u16string(url.begin(), url.end()));
        auto stream = LiveUpdate::httpGetRange(*LiveUpdate::applicationConfigurationAccessor(), *uri, 0, 0);
        char buffer[64];
        const std::size_t n = stream->receive(buffer, sizeof buffer, nullptr, 0, false);
        body.assign(buffer, n);
        code = 0;
      } catch (const Common::Error& e) {
        code = e.code();
      }
      done = true;
    });
    Answerer answerer{app.get(), c.button ? c.button : FXKOperationDialog::ID_CANCEL_OP, {}, {false}};
    answerQuestion(*app, done, answerer);
    worker.join();
    EXPECT_EQ(answerer.answered, c.button != 0);
    EXPECT_EQ(code, c.code);
    if (c.code == 0) {
      EXPECT_EQ(body, "hello over TLS");
    }
  }
  ::unsetenv("KV_CERT_ROOT");
}

TEST_F(MenuShellTest, AQuestionLeftOpenWhenTheWindowGoesIsARefusal) {
  start();
  std::atomic<bool> done{false};
  bool accepted = true;
  FakeCertificate certificate;
  Network::CheckCertificateCallback* callback = LiveUpdate::checkCertificateCallback();
  std::thread worker([&] {
    accepted = callback->check(&certificate, Network::CertificateCheckInfo{18, 0, 3});
    done = true;
  });
  // The question is posted but never shown: the window goes first.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  app->destroy();
  app.reset();
  worker.join();
  EXPECT_TRUE(done);
  EXPECT_FALSE(accepted);
  EXPECT_EQ(LiveUpdate::checkCertificateCallback(), nullptr);
}

TEST(NoDisplayMessage, SaysThereIsNoDisplayAndHowToRunAnyway) {
  const std::string unset = noDisplayMessage("menu", ":0.0", false), set = noDisplayMessage("menu", ":9", true);
  for (const std::string& text : {unset, set}) {
    EXPECT_NE(text.find("there is no display"), std::string::npos) << text;
    EXPECT_NE(text.find("xvfb-run -a menu"), std::string::npos) << text;
    EXPECT_NE(text.find("KV_INSTALLMENU_CONSOLE_REPORT=1 menu"), std::string::npos) << text;
  }
  EXPECT_NE(unset.find("DISPLAY is not set"), std::string::npos);
  EXPECT_NE(set.find("\":9\" (from DISPLAY) could not be opened"), std::string::npos);
  char program[] = "menu", flag[] = "-display", name[] = ":5";
  char* withFlag[] = {program, flag, name, nullptr};
  EXPECT_EQ(FXKInstallMenuApp::displayNameOf(3, withFlag), ":5");
}

}  // namespace
