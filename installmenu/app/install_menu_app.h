// The install menu's application object and its main window. Includes FOX.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/messenger.h"
#include "gui/app/korvane_app.h"
#include "network/ssl/ssl.h"
#include "widgets/shell/xml_shell_window.h"

namespace Processor {
class VerbHandler;
}

class FXKInstallMenuShell;

class FXKInstallMenuApp : public FXKorvaneApp {
 public:
  FXKInstallMenuApp();
  ~FXKInstallMenuApp() override;

  // Stores the package path (null: none), then initialises the application
  // and opens its display; without one, hasDisplay() answers false.
  virtual void initWithPackage(int& argc, char** argv, const char16_t* packageFile);
  bool hasDisplay() const { return isInitialized(); }
  const std::string& displayName() const { return displayName_; }
  // "-display NAME" among the arguments, else DISPLAY, else FOX's ":0.0".
  static std::string displayNameOf(int argc, char** argv);
  FX::FXint run() override;
  FXWString getPackageFile() const { return packageFile_; }

  bool getSystemDefaultColor(FX::FXint id, FX::FXColor& color) override;
  bool getSystemDefaultFont(FX::FXint id, FX::FXFontDesc& desc) override;
  HWND onNewInstance(WPARAM wparam, LPARAM lparam) override;
  FX::FXTopWindow* createProgressDialog() override;
  // The running job's cancel flag, handed to the busy window (also to one
  // that is open now).
  void setCancelable(Processor::Cancelable* cancel);
  Processor::Cancelable* cancelable() const { return cancel_; }
  // While an update downloads the busy window speaks of downloading.
  void setDownloading(bool downloading);

  FXKInstallMenuShell* mainWindow() const { return main_; }

 private:
  std::int32_t silent_ = 0;
  char** arguments_ = nullptr;
  std::int32_t argumentCount_ = 0;
  FXKInstallMenuShell* main_ = nullptr;
  FXWString packageFile_;
  Processor::Cancelable* cancel_ = nullptr;
  bool downloading_ = false;
  std::u16string helpCopy_;
  std::string displayName_;  // the help file this process extracted; removed at the end
};

// What the window takes from the update check: the worker side of the update
// road, owned by the window. Starting and downloading return at once; the
// states come back through FXKInstallMenuShell::setUpdateState on the GUI
// thread.
class FXKInstallMenuUpdateCheck {
 public:
  virtual ~FXKInstallMenuUpdateCheck() = default;
  virtual void start() = 0;
  virtual void download() = 0;
};

// The main window: the kml menu of the product configuration in the install
// menu's own layout (borderless, maximised, a close button at the top and a
// help button at the bottom), the gradient picture behind transparent panes,
// the update state shown by the update items, and the question put to the
// user about a server certificate that fails verification.
class FXKInstallMenuShell : public FXKXMLShellWindow, public Network::CheckCertificateCallback {
  FXDECLARE(FXKInstallMenuShell)

 public:
  enum { ID_CERTIFICATE_QUESTION = 20083 };
  // The seams through which the verb handler and the update check join the
  // window; without them the verbs and the update road do nothing.
  using VerbHandlerFactory = Processor::VerbHandler* (*)(FXKInstallMenuShell* shell, int kind);
  using UpdateCheckFactory = FXKInstallMenuUpdateCheck* (*)(FXKInstallMenuShell* shell);
  static void setVerbHandlerFactory(VerbHandlerFactory factory);
  static void setUpdateCheckFactory(UpdateCheckFactory factory);

  explicit FXKInstallMenuShell(FXKInstallMenuApp* app);
  ~FXKInstallMenuShell() override;

  void create() override;
  void destroy() override;
  void layout() override;
  FX::FXint getDefaultWidth() override { return 743; }
  FX::FXint getDefaultHeight() override { return 520; }
  FX::FXint getMinimalWidth() { return 743; }
  FX::FXint getMinimalHeight() { return 520; }
  void refresh(FX::FXuint flags) override;
  void show() override;
  void show(FX::FXuint placement) override { FXKShellWindow::show(placement); }
  void createPanes() override;

  // The update road's states 0 to 6, each shown by its item.
  void setUpdateState(int state);
  int updateState() const { return updateState_; }
  void startUpdateCheck();
  void startDownload();
  bool checksOnStartup() const { return checkOnStartup_; }
  FX::FXImage* gradientImage() const { return gradient_; }
  // The window's own picture of a stored PNG; with a look height, only the
  // first of its stacked looks.
  FX::FXIcon* storedIcon(const void* png, FX::FXuint options, FX::FXint lookHeight = 0);

  // The cancel flag of the job started last; replacing it deletes the old one.
  void setJobCancelable(Processor::Cancelable* cancel);
  Processor::Cancelable* jobCancelable() const { return cancel_.get(); }

  // A certificate that failed verification is put to the user; called on
  // the handshaking thread, which waits for the answer.
  bool check(Network::CertificateObject* certificate, const Network::CertificateCheckInfo& info) override;
  bool checkEveryCertificate() override { return false; }

  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onCertificateQuestion(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKInstallMenuShell() = default;

 private:
  bool askAboutCertificate(const std::u16string& subject, const std::u16string& issuer, const std::u16string& why);

  std::unique_ptr<Processor::Cancelable> cancel_;
  int updateState_ = 0;
  std::unique_ptr<FXKInstallMenuUpdateCheck> updateCheck_;
  bool checkOnStartup_ = false;
  FX::FXImage* gradient_ = nullptr;  // the application's
  std::vector<std::unique_ptr<FX::FXIcon>> storedIcons_;

  // The certificate question: one at a time; the asking thread waits on
  // `answered_` until the GUI thread has the user's answer or the window goes.
  std::mutex question_;
  std::mutex answerLock_;
  std::condition_variable answered_;
  bool answerReady_ = false;
  bool certificateAnswer_ = false;
  bool closing_ = false;
  int asking_ = 0;
  std::u16string askSubject_, askIssuer_, askReason_;
  std::thread::id guiThread_ = std::this_thread::get_id();
};

// The product configuration's "application_sign" as UTF-8; empty when absent.
std::string applicationSign();
std::string narrowSign(const char16_t* sign);
// What a user is told when no display opens, and how to run the program anyway.
std::string noDisplayMessage(const std::string& program, const std::string& display, bool displaySet);
