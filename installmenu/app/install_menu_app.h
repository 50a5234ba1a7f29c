// The install menu's application object and its main window. Includes FOX.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/messenger.h"
#include "gui/app/korvane_app.h"
#include "installmenu/app/update_check.h"
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
  FXKInstallMenuShell* main_ = nullptr;
  FXWString packageFile_;
  Processor::Cancelable* cancel_ = nullptr;
  bool downloading_ = false;
  std::u16string helpCopy_;  // the help file this process extracted; removed at the end
  std::string displayName_;
};

// The main window: the kml menu of the product configuration in the install
// menu's own layout (borderless, maximised, a close button at the top and a
// help button at the bottom), the gradient picture behind transparent panes,
// the update state shown by the update items, and the question put to the
// user about a server certificate that fails verification.
class FXKInstallMenuShell : public FXKXMLShellWindow {
  FXDECLARE(FXKInstallMenuShell)

 public:
  // The seam through which the verb handler joins the window; without it the
  // verbs do nothing.
  using VerbHandlerFactory = Processor::VerbHandler* (*)(FXKInstallMenuShell* shell, int kind);
  static void setVerbHandlerFactory(VerbHandlerFactory factory);

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

  // The update road (its states 0 to 6 shown by their items), kept by the
  // window's update check.
  void setUpdateState(int state);
  int updateState() const;
  void startUpdateCheck();
  void startDownload();
  void installDownloadedPackage();
  CheckUpdateThread* updateCheck() const { return updateCheck_.get(); }
  bool checksOnStartup() const { return checkOnStartup_; }
  FX::FXImage* gradientImage() const { return gradient_; }
  // The window's own picture of a stored PNG; with a look height, only the
  // first of its stacked looks.
  FX::FXIcon* storedIcon(const void* png, FX::FXuint options, FX::FXint lookHeight = 0);

  // The cancel flag of the job started last; replacing it deletes the old one.
  void setJobCancelable(Processor::Cancelable* cancel);
  Processor::Cancelable* jobCancelable() const { return cancel_.get(); }

  // GUI thread: asks the user whether to go on with a server certificate that
  // failed verification; true goes on. The update check asks it for each such
  // certificate while the handshaking thread waits.
  bool askAboutCertificate(Network::CertificateObject& certificate, const Network::CertificateCheckInfo& info);

  long onPaint(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKInstallMenuShell() = default;

 private:
  std::unique_ptr<Processor::Cancelable> cancel_;
  int updateState_ = 0;  // until the update check exists
  std::unique_ptr<CheckUpdateThread> updateCheck_;
  bool checkOnStartup_ = false;
  FX::FXImage* gradient_ = nullptr;  // the application's
  std::vector<std::unique_ptr<FX::FXIcon>> storedIcons_;
};

// The product configuration's "application_sign" as UTF-8; empty when absent.
std::string applicationSign();
std::string narrowSign(const char16_t* sign);
// What a user is told when no display opens, and how to run the program anyway.
std::string noDisplayMessage(const std::string& program, const std::string& display, bool displaySet);
