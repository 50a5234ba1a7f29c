// The update road of the install menu: whether the update service offers a
// newer hotfix, its download into a fresh folder, and its install. The road's
// state (0 to 6) is shown by one of seven specially named items of the main
// window's item list.
//
// Seam with the main window (all on the GUI thread):
// - the window constructs one CheckUpdateThread with itself and keeps it for
//   its life; deleting it interrupts a running check or download and joins
//   its thread (never longer than a network call takes to notice);
// - the window's setUpdateState, startUpdateCheck, startDownload and
//   installDownloadedPackage forward here; updateState() answers the state;
// - activating "update_proposal", "update_unavailable" or "update_error"
//   calls startUpdateCheck, "update_available" or "update_download_error"
//   startDownload; "update_checking" and "update_downloading" do nothing;
// - while it lives the object is the update client's certificate callback:
//   a certificate that fails the client's verification is put to the user
//   through the question the window hands to setCertificateQuestion (none:
//   the certificate is refused).
//
// Tests only: with KV_INSTALLMENU_TEST_TAKE_UPDATE=1 in the environment, a
// check that finds a newer package starts its download, as a user would.
//
// The GUI thread never waits for a worker: the workers report through queued
// requests, and a check asked for while one runs starts once it has ended.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/error.h"
#include "installmenu/update/newest_package.h"

class FXKShellWindow;
namespace Network {
class CertificateObject;
struct CertificateCheckInfo;
}  // namespace Network

// The edition and language sent to the service for the installed product.
struct UpdateProductIdentity {
  std::int32_t edition = 0;
  std::int32_t language = 0;
};

enum UpdateState : std::int32_t {
  kUpdateProposal = 0,
  kUpdateChecking = 1,
  kUpdateAvailable = 2,
  kUpdateUnavailable = 3,
  kUpdateDownloading = 4,
  kUpdateDownloadError = 5,
  kUpdateError = 6,
};

class CheckUpdateThread : public FX::FXObject, public InstallMenuHelper::DownloadHandler {
  FXDECLARE(CheckUpdateThread)

 public:
  // GUI thread: asks the user whether to trust a certificate that failed
  // verification (`info` says why); true goes on. The certificate is the
  // question's own copy. The connection waits meanwhile; it is answered
  // "no" when the road ends first.
  using CertificateQuestion = std::function<bool(std::shared_ptr<Network::CertificateObject> certificate,
                                                 const Network::CertificateCheckInfo& info)>;

  explicit CheckUpdateThread(FXKShellWindow* shell);
  ~CheckUpdateThread() override;

  // Ends the road: an open certificate question is refused, the workers are
  // interrupted and joined, and nothing more reaches the application. The
  // window calls it when it goes, before the application itself does.
  void stop();

  // Shows state s in the item list and stores it.
  void setUpdateState(std::int32_t state);
  std::int32_t updateState() const { return state_; }

  // State 1, then the check on a worker; a failure before the worker starts
  // is state 6. Asked while a check runs, the new one follows it.
  void startUpdateCheck();
  // State 4, then the download of the offered package into a fresh folder.
  void startDownload();
  // Installs the downloaded file; state 2 afterwards.
  void installDownloadedPackage();

  void setCertificateQuestion(CertificateQuestion question);

  // The download's outcome and progress (download worker).
  void progress(std::uint32_t percent) override;
  void downloaded() override;
  void failed(const Common::Error& error) override;
  void cancelled() override;

  // Where the download goes: "<temporary folder><folder name>\" and the file
  // named by the locale pattern in it; empty while none is held.
  const std::u16string& downloadFolder() const { return downloadFolder_; }
  std::u16string downloadedFile() const;
  const Common::Error& lastError() const { return lastError_; }
  const std::u16string& localePattern() const { return localePattern_; }
  InstallMenuHelper::NewestPackage* newestPackage() const { return newest_.get(); }
  bool checkRunning() const;

  // Tests: how the road talks to the outside.
  // The identity sent to the service (default: the descriptor's own).
  using IdentityProvider = std::function<bool(const std::u16string& pattern, UpdateProductIdentity& identity)>;
  void setIdentityProvider(IdentityProvider provider) { identity_ = std::move(provider); }
  // Replaces the install of the downloaded file (tests of the road).
  using Installer = std::function<void(const std::u16string& pattern, const std::u16string& file)>;
  void setInstaller(Installer installer) { installer_ = std::move(installer); }

  struct Impl;

 protected:
  CheckUpdateThread() = default;

 private:
  void removePreviousDownload();
  bool readLocalePattern(std::u16string& pattern) const;
  void checkFailed(const Common::Error& error);
  void checkEnded(std::unique_ptr<InstallMenuHelper::NewestPackage> found, const Common::Error& error);
  void downloadFailed(const Common::Error& error);
  void endDownload();
  void closeBusyWindow();

  FXKShellWindow* shell_ = nullptr;
  std::int32_t state_ = kUpdateProposal;
  std::unique_ptr<InstallMenuHelper::NewestPackage> newest_;
  std::u16string downloadFolder_;
  std::u16string localePattern_;
  std::u16string folderName_;
  Common::Error lastError_;
  IdentityProvider identity_;
  Installer installer_;
  CertificateQuestion question_;
  std::shared_ptr<Impl> impl_;
};
