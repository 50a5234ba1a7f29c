#include "installmenu/app/install_menu_app.h"

#include <memory>
#include <string>

#include "core/resource_archive.h"
#include "core/text_convert.h"
#include "core/catalogue.h"
#include "files/windows_dir.h"
#include "installmenu/app/install_progress.h"
#include "installmenu/app/menu_verb_handler.h"
#include "platform/fox/fx_window_handle.h"
#include "platform/win32/paths.h"
#include "platform/win32/version.h"
#include "widgets/dialogs/dialog_hooks.h"
#include "widgets/dialogs/error_dialog.h"
#include "widgets/shell/shell_window.h"
#include "xml/product_configuration.h"

using namespace FX;

namespace {
std::string configUtf8(const char* key) {
  std::string out;
  if (const char16_t* value = Common::getConfigString(key)) Common::toUtf8(out, value);
  return out;
}
}  // namespace

std::string narrowSign(const char16_t* sign) {
  // UTF-8, not the low byte of each unit: two signs that differ only in a
  // character's high byte must not share the single-instance objects.
  std::string out;
  if (sign) Common::toUtf8(out, sign);
  return out;
}

// Copies the archive's "help.chm" into the temporary folder; answers the
// copy's full path, empty when there is no member or any step fails (a
// half-written copy is removed).
std::u16string extractHelpFile() {
  std::unique_ptr<Common::ResourceAccessor> archive(Common::ResourceAccessor::create(nullptr));
  if (!archive) return {};
  std::unique_ptr<ri_file> member(archive->open(u"help.chm"));
  if (!member) return {};
  char16_t folder[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, reinterpret_cast<LPWSTR>(folder));
  if (n == 0 || n > MAX_PATH) return {};
  std::u16string path(folder, n);
  if (path.back() != u'\\') path += u'\\';
  path += u"help.chm";
  win32_dir* dir = current_dir();
  if (!dir) return {};
  bool copied = false;
  {
    std::unique_ptr<ro_file> out(dir->create_file(path.c_str(), false, nullptr));
    dir->clear_error();
    if (!out) return {};
    char buffer[64 * 1024];
    copied = true;
    for (;;) {
      std::uint32_t got = 0;
      member->read(buffer, sizeof buffer, got);
      if (member->Bad()) {
        copied = false;
        break;
      }
      if (got == 0) break;
      std::uint32_t put = 0;
      out->write(buffer, got, put);
      if (out->Bad() || put != got) {
        copied = false;
        break;
      }
    }
  }
  if (!copied) {
    dir->remove_file(path.c_str());
    dir->clear_error();
    return {};
  }
  return path;
}

std::string applicationSign() { return narrowSign(Common::getConfigString("application_sign")); }

FXKInstallMenuApp::FXKInstallMenuApp() : FXKorvaneApp(FXWString(), FXWString(), applicationSign().c_str(), 2) {
  // What the user sees of messages, help pop-ups, password prompts and
  // escaped errors are the framework's own dialogs, not FOX's stand-ins.
  FXKInstallDialogHooks();
  FXKErrorDialog::installAsPresenter();
  helpCopy_ = extractHelpFile();
  if (!helpCopy_.empty()) setHelpFile(FXWString(helpCopy_.c_str()), nullptr);
  registerSystemAtom(AtomFont, 26, "bootmenu_title");
  registerSystemAtom(AtomFont, 27, "bootmenu_comment");
  registerSystemAtom(AtomColor, 26, "shellbackground");
  registerSystemAtom(AtomColor, 29, "shellforeground");
  registerSystemAtom(AtomColor, 27, "shellborderbackground");
  main_ = new FXKInstallMenuShell(this);
  setMainWindow(main_);
}

FXKInstallMenuApp::~FXKInstallMenuApp() {
  FXKRemoveDialogHooks();
  FXKorvaneApp::setErrorPresenter(nullptr);
  // The temporary copy of the help file goes with the program.
  if (helpCopy_.empty()) return;
  if (win32_dir* dir = current_dir()) {
    dir->remove_file(helpCopy_.c_str());
    dir->clear_error();
  }
}

void FXKInstallMenuApp::initWithPackage(int& argc, char** argv, const char16_t* packageFile) {
  packageFile_ = FXWString(packageFile);
  FXKorvaneApp::init(argc, argv);
}

FXint FXKInstallMenuApp::run() {
  main_->show(PLACEMENT_SCREEN);
  if (auto* shell = dynamic_cast<FXKShellWindow*>(static_cast<FXMainWindow*>(main_))) scheduleTestVerb(shell);
  return runModalWhileShown(main_);
}

bool FXKInstallMenuApp::getSystemDefaultColor(FXint id, FXColor& color) {
  switch (id) {
    case 26:
    case 27: color = FXRGBA(245, 252, 255, 255); return true;
    case 29: color = FXRGBA(128, 129, 132, 255); return true;
    default: return FXKorvaneApp::getSystemDefaultColor(id, color);
  }
}

bool FXKInstallMenuApp::getSystemDefaultFont(FXint id, FXFontDesc& desc) {
  if (id != 26 && id != 27) return FXKorvaneApp::getSystemDefaultFont(id, desc);
  desc = getStockFontDesc(0);
  const bool vista = (GetVersion() & 0xFF) >= 6;
  if (id == 26) {
    desc.size = static_cast<FXushort>(desc.size + (vista ? 15 : 20));
    // FOX 1.6 counts weights in tens: 300 is Light (30).
    desc.weight = vista ? FXushort(30) : FXushort(desc.weight + 30 > 90 ? 90 : desc.weight + 30);
  } else {
    desc.size = static_cast<FXushort>(desc.size > 5 ? desc.size - 5 : 0);
  }
  desc.flags |= 0x2800;
  return true;
}

HWND FXKInstallMenuApp::onNewInstance(WPARAM, LPARAM) { return fxWindowHandle(main_); }

FXTopWindow* FXKInstallMenuApp::createProgressDialog() {
  return createInstallProgressDialog(main_, FXWString(Common::catalogueText(1982, u"Vazedi for Dovecrest 2013")), cancel_,
                                     downloading_);
}

void FXKInstallMenuApp::setCancelable(Processor::Cancelable* cancel) {
  cancel_ = cancel;
  if (busyWindow()) setInstallProgressCancelable(busyWindow(), cancel);
}

void FXKInstallMenuApp::setDownloading(bool downloading) {
  downloading_ = downloading;
  if (busyWindow()) setInstallProgressDownloading(busyWindow(), downloading);
}

// ---- the main window ----

FXIMPLEMENT(FXKInstallMenuShell, FXMainWindow, nullptr, 0)

FXKInstallMenuShell::FXKInstallMenuShell(FXKInstallMenuApp* app)
    : FXMainWindow(app, configUtf8("main_title").c_str(), nullptr, nullptr, DECOR_ALL, 0, 0, 640, 420) {
  const FXColor background = app->getStockColor(app->registerStockColor("shellbackground"));
  setBackColor(background);
  auto* title = new FXLabel(this, configUtf8("main_title").c_str(), nullptr,
                            LAYOUT_CENTER_X | LAYOUT_CENTER_Y | JUSTIFY_CENTER_X);
  title->setBackColor(background);
  title->setTextColor(app->getStockColor(app->registerStockColor("shellforeground")));
  title->setFont(app->getStockFont(app->registerStockFont("bootmenu_title")));
}

void FXKInstallMenuShell::create() { FXMainWindow::create(); }
