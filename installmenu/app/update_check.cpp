#include "installmenu/app/update_check.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/catalogue.h"
#include "core/messenger.h"
#include "core/utilities.h"
#include "files/fs_error.h"
#include "gui/app/korvane_app.h"
#include "installjob/package_installer.h"
#include "installmenu/app/install_menu_app.h"
#include "installmenu/update/update_client.h"
#include "network/http_client.h"
#include "network/uri_resource.h"
#include "network/ssl/ssl.h"
#include "platform/win32/windows.h"
#include "widgets/browser.h"
#include "widgets/dialogs/messenger.h"
#include "widgets/icon_list.h"
#include "widgets/shell/shell_browser.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/xml_shell_window.h"
#include "xml/product_configuration.h"
#include "xml/xml_node.h"

using namespace FX;

namespace {

constexpr std::uint32_t kPackageXmlError = 0x565DC2;

// The item of each state, in state order.
const char* const kStateItems[] = {"update_proposal",    "update_checking",       "update_available",
                                   "update_unavailable", "update_downloading",    "update_download_error",
                                   "update_error"};

Common::Error packageXmlError(std::uint64_t site) {
  return Common::Error(site, kPackageXmlError, Common::catalogueText(0, u"Package.xml error."));
}

// Stops the download of the offered package; the busy window's Cancel.
class PackageCancel final : public Processor::Cancelable {
 public:
  std::uint32_t cancel() override {
    const std::uint32_t before = Cancelable::cancel();
    if (package) package->cancel();
    return before;
  }
  bool isCancelled() override { return Cancelable::isCancelled() || (package && package->isCancelled()); }
  InstallMenuHelper::NewestPackage* package = nullptr;
};

}  // namespace

// What the workers share with the GUI thread. Requests from the workers are
// chores aimed at `relay`, each holding this object, so a request queued
// while the road goes away finds `owner` null and does nothing.
struct CheckUpdateThread::Impl : Network::CheckCertificateCallback {
  class Relay;
  struct Chore;
  struct Question {
    std::shared_ptr<Network::CertificateObject> certificate;
    Network::CertificateCheckInfo info{};
    bool done = false;
    bool accepted = false;
  };

  explicit Impl(FXKorvaneApp* app);
  ~Impl() override;

  // Any thread: `action` runs on the GUI thread while the road lives.
  static void post(const std::shared_ptr<Impl>& self, std::uint32_t id, std::function<void(CheckUpdateThread&)> action,
                   bool replace = false);

  // Worker threads: put to the user through the road's question.
  bool check(Network::CertificateObject* certificate, const Network::CertificateCheckInfo& info) override;

  std::unique_ptr<Relay> relay;
  FXKorvaneApp* app = nullptr;
  std::weak_ptr<Impl> self;
  CheckUpdateThread* owner = nullptr;  // GUI thread

  // The check worker (GUI thread).
  std::thread worker;
  bool checking = false;
  bool checkAgain = false;
  LiveUpdate::HttpInterrupt interrupt;

  bool downloading = false;
  PackageCancel cancel;

  std::mutex lock;
  std::condition_variable answered;
  bool stopping = false;       // under `lock`
  bool hasQuestion = false;    // under `lock`
};

class CheckUpdateThread::Impl::Relay : public FXObject {
  FXDECLARE(Relay)

 public:
  long onChore(FXObject*, FXSelector, void* data);

 protected:
  Relay() = default;
  friend struct CheckUpdateThread::Impl;
};

struct CheckUpdateThread::Impl::Chore : FXKorvaneApp::choreParam {
  std::shared_ptr<Impl> impl;
  std::function<void(CheckUpdateThread&)> action;
};

FXDEFMAP(CheckUpdateThread::Impl::Relay) RelayMap[] = {
    FXMAPFUNCS(SEL_CHORE, 0, 0xFFFF, CheckUpdateThread::Impl::Relay::onChore),
};
FXIMPLEMENT(CheckUpdateThread::Impl::Relay, FXObject, RelayMap, ARRAYNUMBER(RelayMap))

long CheckUpdateThread::Impl::Relay::onChore(FXObject*, FXSelector, void* data) {
  auto* chore = static_cast<Chore*>(data);
  if (chore && chore->impl && chore->impl->owner && chore->action) chore->action(*chore->impl->owner);
  return 1;
}

CheckUpdateThread::Impl::Impl(FXKorvaneApp* app) : relay(new Relay), app(app) {}

CheckUpdateThread::Impl::~Impl() = default;

void CheckUpdateThread::Impl::post(const std::shared_ptr<Impl>& self, std::uint32_t id,
                                   std::function<void(CheckUpdateThread&)> action, bool replace) {
  // Under the lock the road's end cannot pass in between: once `stopping` is
  // set nothing more reaches the application, which may go next.
  std::lock_guard<std::mutex> g(self->lock);
  if (!self->app || self->stopping) return;
  auto* chore = new Chore;
  chore->impl = self;
  chore->action = std::move(action);
  self->app->postChore(self->relay.get(), id, chore, nullptr, replace);
}

bool CheckUpdateThread::Impl::check(Network::CertificateObject* certificate, const Network::CertificateCheckInfo& info) {
  std::shared_ptr<Impl> me = self.lock();
  if (!me) return false;
  auto question = std::make_shared<Question>();
  if (certificate) question->certificate.reset(certificate->clone());
  question->info = info;
  {
    std::lock_guard<std::mutex> g(lock);
    if (stopping || !hasQuestion) return false;
  }
  post(me, 3, [question, me](CheckUpdateThread& road) {
    // The question may outlive the road (a nested loop): copy what it needs.
    CertificateQuestion ask = road.question_;
    const bool yes = ask && ask(question->certificate, question->info);
    std::lock_guard<std::mutex> g(me->lock);
    question->done = true;
    question->accepted = yes;
    me->answered.notify_all();
  });
  std::unique_lock<std::mutex> g(lock);
  answered.wait(g, [&] { return question->done || stopping; });
  return question->done && question->accepted;
}

FXIMPLEMENT(CheckUpdateThread, FXObject, nullptr, 0)

CheckUpdateThread::CheckUpdateThread(FXKShellWindow* shell) : shell_(shell) {
  auto* app = shell ? dynamic_cast<FXKorvaneApp*>(shell->getApp()) : nullptr;
  impl_ = std::make_shared<Impl>(app);
  impl_->self = impl_;
  impl_->owner = this;
  Processor::String guid;
  Processor::newGuidText(guid);
  folderName_.assign(reinterpret_cast<const char16_t*>(guid.getBuffer()), static_cast<std::size_t>(guid.length()));
  LiveUpdate::setCheckCertificateCallback(impl_.get());
}

CheckUpdateThread::~CheckUpdateThread() {
  stop();
  newest_.reset();
  removePreviousDownload();
  impl_->owner = nullptr;
}

void CheckUpdateThread::stop() {
  if (LiveUpdate::checkCertificateCallback() == impl_.get()) LiveUpdate::setCheckCertificateCallback(nullptr);
  {
    std::lock_guard<std::mutex> g(impl_->lock);
    impl_->stopping = true;
  }
  impl_->answered.notify_all();
  // The worker never waits for this thread, so the join lasts only as long as
  // the interrupted network call takes to notice.
  impl_->interrupt.interrupt();
  if (impl_->worker.joinable()) impl_->worker.join();
  impl_->checking = false;
  if (impl_->downloading) {
    auto* menu = dynamic_cast<FXKInstallMenuApp*>(impl_->app);
    if (menu && menu->cancelable() == &impl_->cancel) menu->setCancelable(nullptr);
    if (menu) menu->setDownloading(false);
    closeBusyWindow();
    impl_->downloading = false;
  }
  // Deleting the package interrupts its download and joins its worker.
  impl_->cancel.package = nullptr;
}

// ---- showing a state ----

namespace {

// The browser key of the item named `name` (its "name", else its verb);
// null when the window defines none.
std::unique_ptr<FXKShellBrowserItem> findItem(FXKShellWindow* shell, const char* name) {
  if (!shell) return nullptr;
  const FXWString wanted(std::u16string(name, name + std::char_traits<char>::length(name)));
  for (FXKShellItemInfo* info : shell->getItemInfos()) {
    if (!info) continue;
    const FXWString given = info->getAttribute("name");
    if (given.empty() ? info->verb == name : given == wanted)
      return std::make_unique<FXKShellBrowserItem>(info->verb, info->id, info->separator, info->usesSelection);
  }
  return nullptr;
}

FXKBrowser* itemBrowser(FXKShellWindow* shell) {
  if (!shell) return nullptr;
  if (FXKIconList* list = shell->getItemList())
    if (FXKBrowser* b = list->getBrowser()) return b;
  return shell->getBrowser();
}

}  // namespace

void CheckUpdateThread::setUpdateState(std::int32_t state) {
  state_ = state;
  FXKBrowser* browser = itemBrowser(shell_);
  if (browser) {
    const auto hide = [&](const char* name, bool on) {
      if (auto item = findItem(shell_, name)) browser->setItemState(FXKBrowser::STATE_HIDDEN, item.get(), on, false);
    };
    const auto showAndSelect = [&](const char* name) {
      if (auto item = findItem(shell_, name)) {
        browser->setItemState(FXKBrowser::STATE_HIDDEN, item.get(), false, false);
        browser->selectItem(item.get(), true, false);
      }
    };
    for (const char* name : kStateItems) hide(name, true);
    // The local hotfix stays at hand once the road has left state 2, so that
    // a failed or cancelled download does not take it away.
    hide("locale", false);
    if (auto locale = findItem(shell_, "locale")) browser->setItemEnabled(locale.get(), true, false);
    hide("locale_imager_this", true);
    if (state == kUpdateAvailable) {
      showAndSelect("update_available");
      hide("locale", true);
      showAndSelect("locale_imager_this");
      showAndSelect("update_proposal");  // ends as the current item
    } else if (state >= 0 && state <= kUpdateError) {
      showAndSelect(kStateItems[state]);
    }
  }
  if (auto* xml = dynamic_cast<FXKXMLShellWindow*>(shell_)) {
    xml->recalc();
    xml->refresh(0xFFFFFFFF);
  } else if (shell_) {
    shell_->recalc();
  }
}

// ---- the check ----

bool CheckUpdateThread::readLocalePattern(std::u16string& pattern) const {
  const xml_document* configuration = Common::productConfiguration();
  const xml_node* root = configuration ? configuration->root() : nullptr;
  const xml_node* link = root ? root->find_child_by_attribute("file", "name", FXWString(u"locale_imager")) : nullptr;
  if (!link) return false;
  pattern = link->attribute_text("dynamic_href", FXWString()).str();
  return true;
}

void CheckUpdateThread::removePreviousDownload() {
  if (downloadFolder_.empty()) return;
  if (!localePattern_.empty()) DeleteFileW(downloadedFile().c_str());
  RemoveDirectoryW(downloadFolder_.c_str());
  downloadFolder_.clear();
}

std::u16string CheckUpdateThread::downloadedFile() const {
  if (downloadFolder_.empty()) return {};
  std::u16string path = downloadFolder_;
  if (path.back() != u'\\') path += u'\\';
  return path + localePattern_;
}

bool CheckUpdateThread::checkRunning() const { return impl_->checking; }

void CheckUpdateThread::checkFailed(const Common::Error&) { setUpdateState(kUpdateError); }

void CheckUpdateThread::startUpdateCheck() {
  // Replacing the offer or its folder under a running download would pull
  // them from under its worker. A road that ended starts nothing.
  if (impl_->downloading || impl_->stopping) return;
  setUpdateState(kUpdateChecking);
  if (impl_->checking) {
    impl_->checkAgain = true;
    return;
  }
  removePreviousDownload();
  std::u16string pattern;
  if (!readLocalePattern(pattern)) return checkFailed(packageXmlError(KV_SITE));
  localePattern_ = pattern;
  if (!InstallMenuHelper::checkPackageDescriptor(pattern)) return checkFailed(packageXmlError(KV_SITE));
  UpdateProductIdentity identity;
  try {
    if (identity_) {
      if (!identity_(pattern, identity)) return checkFailed(packageXmlError(KV_SITE));
    } else {
      auto info = InstallMenuHelper::readPackageDescriptor(pattern);
      if (!info) return checkFailed(packageXmlError(KV_SITE));
      identity.edition = info->edition();
      identity.language = info->language();
    }
  } catch (const Common::Error& e) {
    return checkFailed(e);
  }

  impl_->interrupt = LiveUpdate::HttpInterrupt();
  std::shared_ptr<Impl> impl = impl_;
  try {
    impl_->worker = std::thread([impl, pattern, identity, interrupt = impl_->interrupt] {
      using Found = std::shared_ptr<std::unique_ptr<InstallMenuHelper::NewestPackage>>;
      Found found = std::make_shared<std::unique_ptr<InstallMenuHelper::NewestPackage>>();
      Common::Error error;
      try {
        *found = InstallMenuHelper::queryNewestPackage(pattern, identity.language, identity.edition, &interrupt);
      } catch (const Common::Error& e) {
        error = e;
      }
      Impl::post(impl, 1, [found, error](CheckUpdateThread& road) { road.checkEnded(std::move(*found), error); });
    });
  } catch (const std::system_error&) {
    return checkFailed(Common::Error(KV_SITE, LiveUpdate::kFailedCheck, "thread started"));
  }
  impl_->checking = true;
}

void CheckUpdateThread::checkEnded(std::unique_ptr<InstallMenuHelper::NewestPackage> found, const Common::Error& error) {
  // The worker's last act was to ask for this: the join is immediate.
  if (impl_->worker.joinable()) impl_->worker.join();
  impl_->checking = false;
  if (impl_->checkAgain) {
    impl_->checkAgain = false;
    startUpdateCheck();
    return;
  }
  if (error) return checkFailed(error);
  newest_ = std::move(found);
  setUpdateState(newest_ ? kUpdateAvailable : kUpdateUnavailable);
  // Test seam of the end-to-end run: the offer is taken as a user would.
  const char* take = std::getenv("KV_INSTALLMENU_TEST_TAKE_UPDATE");
  if (newest_ && take && std::string(take) == "1")
    Impl::post(impl_, 5, [](CheckUpdateThread& road) { road.startDownload(); });
}

// ---- the download ----

void CheckUpdateThread::startDownload() {
  if (impl_->downloading || impl_->checking || impl_->stopping) return;
  setUpdateState(kUpdateDownloading);
  lastError_ = Common::Error();
  if (!newest_) return downloadFailed(Common::Error(KV_SITE, LiveUpdate::kFailedCheck, "package"));
  if (downloadFolder_.empty()) {
    WCHAR temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH)
      return downloadFailed(win32_file_error(KV_SITE, fs_error::create, "GetTempPathW", u""));
    // The temporary path ends with its separator: the folder lies inside it.
    const std::u16string folder = std::u16string(temp, n) + folderName_ + u"\\";
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return downloadFailed(win32_file_error(KV_SITE, fs_error::create, "CreateDirectoryW", folder.c_str()));
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return downloadFailed(win32_file_error(KV_SITE, fs_error::create, "CreateDirectoryW", folder.c_str()));
    }
    downloadFolder_ = folder;
  }

  impl_->downloading = true;
  impl_->cancel.package = newest_.get();
  if (shell_) shell_->disable();
  auto* menu = dynamic_cast<FXKInstallMenuApp*>(impl_->app);
  if (menu) {
    menu->setDownloading(true);
    menu->setCancelable(&impl_->cancel);
  }
  if (impl_->app) {
    FXTopWindow* none = nullptr;
    impl_->app->beginBusy(1, none);
    // Shown now, with its preparation text: the first report may be a while
    // coming, and made later the window would show that text over it.
    if (FXTopWindow* busy = impl_->app->busyWindow()) {
      busy->create();
      busy->show(PLACEMENT_OWNER);
    }
  }
  newest_->download(downloadedFile(), this);
}

void CheckUpdateThread::downloadFailed(const Common::Error& error) {
  lastError_ = error;
  setUpdateState(kUpdateDownloadError);
}

void CheckUpdateThread::closeBusyWindow() {
  if (!impl_->app) return;
  FXTopWindow* window = nullptr;
  impl_->app->endBusy(0, window);
  if (window) {
    window->destroy();
    delete window;
  }
}

void CheckUpdateThread::endDownload() {
  if (!impl_->downloading) return;
  impl_->downloading = false;
  auto* menu = dynamic_cast<FXKInstallMenuApp*>(impl_->app);
  if (menu) {
    if (menu->cancelable() == &impl_->cancel) menu->setCancelable(nullptr);
    menu->setDownloading(false);
  }
  impl_->cancel.package = nullptr;
  closeBusyWindow();
  if (shell_) shell_->enable();
}

void CheckUpdateThread::progress(std::uint32_t percent) {
  // The newest report stands for all before it.
  Impl::post(
      impl_, 2,
      [percent](CheckUpdateThread& road) {
        if (!road.impl_->downloading || !road.impl_->app) return;
        Processor::ProgressInfo report;
        report.flags = 2;
        report.value = percent;
        report.total = 0;
        road.impl_->app->applyProgress(report);
      },
      true);
}

void CheckUpdateThread::downloaded() {
  Impl::post(impl_, 4, [](CheckUpdateThread& road) {
    road.endDownload();
    road.installDownloadedPackage();
  });
}

void CheckUpdateThread::failed(const Common::Error& error) {
  Impl::post(impl_, 4, [error](CheckUpdateThread& road) {
    road.endDownload();
    road.downloadFailed(error);
  });
}

void CheckUpdateThread::cancelled() {
  Impl::post(impl_, 4, [](CheckUpdateThread& road) {
    road.endDownload();
    road.setUpdateState(kUpdateAvailable);
  });
}

// ---- the install ----

namespace {

// Shows the main window again on every road out of the install but a
// restart the user chose.
class ShowAgain {
 public:
  explicit ShowAgain(FXWindow* window) : window_(window) {}
  ~ShowAgain() {
    if (window_ && !keepHidden) window_->show();
  }
  ShowAgain(const ShowAgain&) = delete;
  ShowAgain& operator=(const ShowAgain&) = delete;
  bool keepHidden = false;

 private:
  FXWindow* window_;
};

}  // namespace

void CheckUpdateThread::installDownloadedPackage() {
  const std::u16string file = downloadedFile();
  if (installer_) {
    installer_(localePattern_, file);
    setUpdateState(kUpdateAvailable);
    return;
  }
  installjob::PackageInstaller job(localePattern_, installjob::MenuJob);
  FXKMessenger messenger(shell_);
  Processor::RefPtr<Processor::Progress> progress = impl_->app ? impl_->app->getProgress() : nullptr;
  job.setMessenger(&messenger);
  job.setProgress(progress.get());
  job.setPackageFile(file);
  ShowAgain again(shell_);
  struct StateAfter {
    CheckUpdateThread* road;
    ~StateAfter() { road->setUpdateState(kUpdateAvailable); }
  } after{this};
  if (shell_) shell_->hide();
  if (job.prepare() == 0) job.run(true, nullptr);
  again.keepHidden = job.restartChosen();
}

void CheckUpdateThread::setCertificateQuestion(CertificateQuestion question) {
  question_ = std::move(question);
  std::lock_guard<std::mutex> g(impl_->lock);
  impl_->hasQuestion = static_cast<bool>(question_);
}
