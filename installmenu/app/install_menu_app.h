// The install menu's application object and its main window. Includes FOX.
#pragma once

#include <cstdint>
#include <string>

#include "core/messenger.h"
#include "gui/app/korvane_app.h"

class FXKInstallMenuShell;

class FXKInstallMenuApp : public FXKorvaneApp {
 public:
  FXKInstallMenuApp();
  ~FXKInstallMenuApp() override;

  // Stores the package path (null: none), then initialises the application.
  virtual void initWithPackage(int& argc, char** argv, const char16_t* packageFile);
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
  std::u16string helpCopy_;  // the help file this process extracted; removed at the end
};

// The main window: for now a plain window in the product's colours with its
// title.
class FXKInstallMenuShell : public FX::FXMainWindow {
  FXDECLARE(FXKInstallMenuShell)

 public:
  explicit FXKInstallMenuShell(FXKInstallMenuApp* app);
  void create() override;

 protected:
  FXKInstallMenuShell() = default;
};

// The product configuration's "application_sign" as UTF-8; empty when absent.
std::string applicationSign();
std::string narrowSign(const char16_t* sign);
