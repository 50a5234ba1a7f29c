#include "installmenu/app/install_menu_app.h"

#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/resource_archive.h"
#include "gui/app/verb_processor.h"
#include "installmenu/app/menu_pictures.h"
#include "network/http_client.h"
#include "widgets/browser.h"
#include "widgets/dialogs/operation_dialog.h"
#include "widgets/icon_list.h"
#include "widgets/shell/shell_browser.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/shell_layout.h"
#include "core/text_convert.h"
#include "core/catalogue.h"
#include "files/windows_dir.h"
#include "installmenu/app/install_progress.h"
#include "installmenu/app/menu_verb_handler.h"
#include "platform/fox/fx_window_handle.h"
#include "platform/win32/windows.h"
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
  FXKInstallMenuShell::setVerbHandlerFactory(&makeInstallVerbHandler);
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
  // The display is opened here rather than by FOX, which would end the
  // process with a one-line message that does not say what to do.
  displayName_ = displayNameOf(argc, argv);
  FXKorvaneApp::init(argc, argv, false);
  openDisplay(displayName_.c_str());
}

std::string FXKInstallMenuApp::displayNameOf(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i)
    if (argv[i] && std::string(argv[i]) == "-display" && argv[i + 1]) return argv[i + 1];
  const char* name = std::getenv("DISPLAY");
  return name && *name ? name : ":0.0";
}

std::string noDisplayMessage(const std::string& program, const std::string& display, bool displaySet) {
  std::string text = "The install menu cannot start: there is no display to show its window on.\n";
  if (displaySet)
    text += "The X display \"" + display + "\" (from DISPLAY) could not be opened.\n";
  else
    text += "DISPLAY is not set, and there is no X display at \"" + display + "\".\n";
  text += "To run it anyway:\n";
  text += "  on a virtual display:   xvfb-run -a " + program + "\n";
  text += "                          (from the source tree: xvfb-run -a scripts/run.sh)\n";
  text += "  without a window, the console report of what it would start from:\n";
  text += "                          KV_INSTALLMENU_CONSOLE_REPORT=1 " + program + "\n";
  return text;
}

FXint FXKInstallMenuApp::run() {
  main_->show();
  scheduleTestVerb(main_);
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

namespace {

enum { kShellBackground = 26, kShellBorderBackground = 27, kShellForeground = 29 };

FXColor atomColor(FXWindow* window, FXint id) {
  auto* app = dynamic_cast<FXExtApp*>(window->getApp());
  return app ? app->getStockColor(id) : window->getBackColor();
}

// Paints the part of the window's picture that lies behind `pane` (FOX
// frames and labels always fill their background, so a transparent mark
// alone would hide the picture).
void paintPictureBehind(FXWindow* pane, FXDC& dc, FXImage* picture, FXWindow* pictureWindow) {
  if (!picture || !picture->id() || !pictureWindow) return;
  FXint x = 0, y = 0;
  pane->translateCoordinatesTo(x, y, pictureWindow, 0, 0);
  dc.drawImage(picture, -x, -y);
}

}  // namespace

// A band of the window that, once marked transparent, shows the window's
// picture behind it.
class FXKMenuBand : public FXHorizontalFrame {
  FXDECLARE(FXKMenuBand)

 public:
  FXKMenuBand(FXComposite* parent, FXImage* picture, FXWindow* pictureWindow, FXuint options, FXint pl, FXint pr,
              FXint pt, FXint pb, FXint hs, FXint vs, FXint minimumHeight)
      : FXHorizontalFrame(parent, options, 0, 0, 0, 0, pl, pr, pt, pb, hs, vs),
        picture_(picture),
        pictureWindow_(pictureWindow),
        minimumHeight_(minimumHeight) {}
  FXint getDefaultHeight() override { return std::max<FXint>(FXHorizontalFrame::getDefaultHeight(), minimumHeight_); }

  long onPaint(FXObject*, FXSelector, void* ptr) {
    auto* event = static_cast<FXEvent*>(ptr);
    FXDCWindow dc(this, event);
    dc.setForeground(backColor);
    dc.fillRectangle(event->rect.x, event->rect.y, event->rect.w, event->rect.h);
    if (fxIsTransparent(this)) paintPictureBehind(this, dc, picture_, pictureWindow_);
    drawFrame(dc, 0, 0, width, height);
    return 1;
  }

 protected:
  FXKMenuBand() = default;

 private:
  FXImage* picture_ = nullptr;
  FXWindow* pictureWindow_ = nullptr;
  FXint minimumHeight_ = 0;
};

FXDEFMAP(FXKMenuBand) FXKMenuBandMap[] = {FXMAPFUNC(SEL_PAINT, 0, FXKMenuBand::onPaint)};
FXIMPLEMENT(FXKMenuBand, FXHorizontalFrame, FXKMenuBandMap, ARRAYNUMBER(FXKMenuBandMap))

// A picture label of a band: in a transparent band it shows the window's
// picture around its icon.
class FXKMenuBandLabel : public FXLabel {
  FXDECLARE(FXKMenuBandLabel)

 public:
  FXKMenuBandLabel(FXComposite* parent, FXIcon* icon, FXuint options, FXImage* picture, FXWindow* pictureWindow)
      : FXLabel(parent, FXString::null, icon, options), picture_(picture), pictureWindow_(pictureWindow) {}

  long onPaint(FXObject*, FXSelector, void* ptr) {
    FXDCWindow dc(this, static_cast<FXEvent*>(ptr));
    dc.setForeground(backColor);
    dc.fillRectangle(0, 0, width, height);
    if (getParent() && fxIsTransparent(getParent())) paintPictureBehind(this, dc, picture_, pictureWindow_);
    if (icon) {
      FXint tx = 0, ix = 0, ty = 0, iy = 0;
      just_x(tx, ix, 0, icon->getWidth());
      just_y(ty, iy, 0, icon->getHeight());
      if (isEnabled())
        dc.drawIcon(icon, ix, iy);
      else
        dc.drawIconSunken(icon, ix, iy);
    }
    drawFrame(dc, 0, 0, width, height);
    return 1;
  }

 protected:
  FXKMenuBandLabel() = default;

 private:
  FXImage* picture_ = nullptr;
  FXWindow* pictureWindow_ = nullptr;
};

FXDEFMAP(FXKMenuBandLabel) FXKMenuBandLabelMap[] = {FXMAPFUNC(SEL_PAINT, 0, FXKMenuBandLabel::onPaint)};
FXIMPLEMENT(FXKMenuBandLabel, FXLabel, FXKMenuBandLabelMap, ARRAYNUMBER(FXKMenuBandLabelMap))

namespace {

// The install menu's layout: the menu style, maximised, with a close button
// in the top right corner and a help button at the bottom in place of the
// menu style's exit button.
class DeployMenuLayout : public FXKShellLayoutMenu {
 public:
  DeployMenuLayout(FXKInstallMenuShell* shell, FXuint decorations, FXuint flags)
      : FXKShellLayoutMenu(shell, decorations, flags), shell_(shell) {}

  FXWindow* createTopArea(FXComposite* parent) override {
    auto* frame = new FXKMenuBand(parent, shell_->gradientImage(), shell_, LAYOUT_FILL_X, 4, 4, 4, 4, 0, 0, 44);
    frame->setBackColor(atomColor(parent, kShellBorderBackground));
    // The close glyph keeps to the right; the frame's left is the gradient's. Its
    // picture is masked by black, as every picture of this FOX build.
    auto* button = new FXButton(frame, FXString::null, shell_->storedIcon(menuClosePng(), 0x410, 15), shell_,
                                FXKShellWindow::ID_EXIT, 0x10110004 | LAYOUT_RIGHT, 0, 0, 0, 0, 2, 2, 2, 2);
    button->setBackColor(atomColor(parent, kShellBorderBackground));
    button->setTextColor(atomColor(parent, kShellForeground));
    return frame;
  }

  // The menu style's logo and separator, in a pane that lets the window's
  // picture show through once it is marked transparent.
  FXWindow* createLeftPane(FXComposite* container) override {
    FXImage* picture = shell_->gradientImage();
    auto* frame = new FXKMenuBand(container, picture, shell_, LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0);
    frame->setBackColor(atomColor(container, kShellBackground));
    auto* app = dynamic_cast<FXExtApp*>(container->getApp());
    auto icon = [&](const char* name) { return app ? app->loadIconByName(name, 0x18, 0xff000000) : nullptr; };
    auto* logo = new FXKMenuBandLabel(frame, icon("bootmenu_logo_win.png"), 0x10c00, picture, shell_);
    logo->setBackColor(atomColor(container, kShellBackground));
    logo->setTextColor(atomColor(container, kShellForeground));
    auto* separator = new FXKMenuBandLabel(frame, icon("bootmenu_separator_win.png"), 0x100804, picture, shell_);
    separator->setBackColor(atomColor(container, kShellBackground));
    return frame;
  }

  // The menu style keeps the category view's white text, which does not show
  // on the menu's light background: the items are written in the menu's
  // foreground colour.
  FXKIconList* createCategoryView(FXComposite* mainFrame) override {
    FXKIconList* view = FXKShellLayoutMenu::createCategoryView(mainFrame);
    if (!view) return nullptr;
    FXKIconListAppearance look = view->getAppearance(6);
    const FXColor text = atomColor(mainFrame, kShellForeground);
    for (int i : {1, 2, 5, 6, 8}) look.colors[i] = text;
    view->setAppearance(6, look);
    return view;
  }

  FXWindow* createBottomArea(FXComposite* parent) override {
    auto* outer = new FXHorizontalFrame(parent, 0x10400, 0, 0, 0, 0, 4, 4, 4, 4, 0, 0);
    outer->setBackColor(atomColor(parent, kShellBorderBackground));
    auto* inner = new FXHorizontalFrame(outer, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
    inner->setBackColor(atomColor(parent, kShellBorderBackground));
    auto* button = new FXButton(inner, FXString::null, shell_->storedIcon(menuHelpPng(), 0, 24), shell_,
                                FXKShellWindow::ID_HELP, 0x10110000, 0, 0, 0, 0, 2, 2, 2, 2);
    button->setBackColor(atomColor(parent, kShellBorderBackground));
    button->setTextColor(atomColor(parent, kShellForeground));
    if ((GetVersion() & 0xFF) > 5) {
      outer->setPadLeft(0);
      outer->setPadRight(0);
      outer->setHSpacing(0);
    }
    fxSetTransparent(outer);
    return outer;
  }

 private:
  FXKInstallMenuShell* shell_;
};

FXKInstallMenuShell::VerbHandlerFactory verbHandlerFactory = nullptr;

// Markup has no escapes: angle brackets of a certificate's names are shown as
// their look-alikes so that they cannot open a tag.
std::u16string plainForMarkup(std::u16string text) {
  for (char16_t& c : text) {
    if (c == u'<') c = u'\u2039';
    if (c == u'>') c = u'\u203A';
  }
  return text;
}

std::u16string widenAscii(const char* text) {
  std::u16string out;
  for (; text && *text; ++text) out.push_back(static_cast<unsigned char>(*text));
  return out;
}

}  // namespace

FXDEFMAP(FXKInstallMenuShell) FXKInstallMenuShellMap[] = {
    FXMAPFUNC(SEL_KEYPRESS, 0, FXMainWindow::onKeyPress),
    FXMAPFUNC(SEL_KEYRELEASE, 0, FXShell::onKeyRelease),
    FXMAPFUNC(SEL_PAINT, 0, FXKInstallMenuShell::onPaint),
};

FXIMPLEMENT(FXKInstallMenuShell, FXKXMLShellWindow, FXKInstallMenuShellMap, ARRAYNUMBER(FXKInstallMenuShellMap))

void FXKInstallMenuShell::setVerbHandlerFactory(VerbHandlerFactory factory) { verbHandlerFactory = factory; }

FXKInstallMenuShell::FXKInstallMenuShell(FXKInstallMenuApp* app)
    : FXKXMLShellWindow(app, configUtf8("main_title").c_str(),
                        SHELL_TOP_AREA | SHELL_LEFT_PANE | SHELL_MAIN_FRAME | SHELL_BOTTOM_AREA, 0, 0, 0, 0, 0, 0, 0,
                        0, 0, 0) {
  gradient_ = app->loadImageByName("top_gradient.png", 0);
  const char16_t* onStartup = Common::getConfigString("check_for_updates_on_startup");
  if (onStartup && std::u16string(onStartup) == u"true") {
    checkOnStartup_ = true;
    updateState_ = 1;
  }
  clearLayouts();
  addLayout("", new DeployMenuLayout(this, 0, FXKShellLayoutMenu::MENU_MAXIMIZE));
  if (FXKShellDocument* document = loadDocument(nullptr)) {
    createMenu(document, FXWString(u"menu_default"));
    createToolbar(document, FXWString(u"menu_toolbar"));
    createGroups(document, FXWString());
    freeDocument(document);
  }
  if (verbHandlerFactory) {
    const struct {
      const char* verb;
      int kind;
    } verbs[] = {{"install", 0}, {"execute", 2}, {"extract", 1}, {"show", 3}};
    for (const auto& v : verbs)
      if (Processor::VerbHandler* handler = verbHandlerFactory(this, v.kind)) setVerbHandler(v.verb, handler);
  }
  // While it lives the update check is the update client's certificate
  // callback: a certificate that fails the client's own verification is put
  // to the user here, never accepted unasked.
  updateCheck_ = std::make_unique<CheckUpdateThread>(this);
  updateCheck_->setCertificateQuestion(
      [this](std::shared_ptr<Network::CertificateObject> certificate, const Network::CertificateCheckInfo& info) {
        return certificate && askAboutCertificate(*certificate, info);
      });
  setUpdateState(updateState_);
}

FXKInstallMenuShell::~FXKInstallMenuShell() {
  // Stops the road's workers and refuses a certificate question left open.
  updateCheck_.reset();
  cancel_.reset();
  // The layout is registered under the empty name, which the shell's own
  // destructor also takes for an unregistered one and would delete twice.
  clearLayouts();
}

FXIcon* FXKInstallMenuShell::storedIcon(const void* png, FXuint options, FXint lookHeight) {
  // The window's own copy: the application's icon cache owns what it loads
  // and shares it, and the crop below must not change a shared picture.
  if (!png) return nullptr;
  FXIcon* icon = new FXPNGIcon(getApp(), png, 0xFF000000, options ? options : 0x410);
  // The picture stacks the glyph's looks; a FOX button shows one: the first.
  if (lookHeight > 0 && icon->getHeight() > lookHeight) icon->crop(0, 0, icon->getWidth(), lookHeight);
  storedIcons_.emplace_back(icon);
  return icon;
}

void FXKInstallMenuShell::create() {
  if (gradient_) gradient_->create();
  FXKShellWindow::create();
  if (checkOnStartup_) startUpdateCheck();
}

void FXKInstallMenuShell::show() {
  // The layout asks for a maximised window; where no window manager is there
  // to do it (a bare X server), the window takes the screen itself.
  if (auto* menu = dynamic_cast<FXKShellLayoutMenu*>(getLayout());
      menu && (menu->getFlags() & FXKShellLayoutMenu::MENU_MAXIMIZE) && getRoot()) {
    position(0, 0, getRoot()->getWidth(), getRoot()->getHeight());
    FXTopWindow::show();
    maximize();
    return;
  }
  FXTopWindow::show();
}

void FXKInstallMenuShell::destroy() {
  // The road's workers talk to the application: they end before it does.
  if (updateCheck_) updateCheck_->stop();
  FXKShellWindow::destroy();
  // Their server-side pictures go while the display is still open; deleting
  // them later frees nothing on a closed display.
  for (auto& icon : storedIcons_) icon->destroy();
}

void FXKInstallMenuShell::layout() { FXKShellWindow::layout(); }

void FXKInstallMenuShell::refresh(FXuint flags) {
  recalc();
  // Items hidden or shown again take their places anew.
  if (FXKIconList* list = getItemList()) list->recalc();
  FXKXMLShellWindow::refresh(flags);
}

void FXKInstallMenuShell::createPanes() {
  FXKShellWindow::createPanes();
  if (!gradient_) return;
  if (topArea) fxSetTransparent(topArea);
  if (leftPane) fxSetTransparent(leftPane);
  if (FXKIconList* list = getItemList()) list->setParentBackground(gradient_, this);
}

long FXKInstallMenuShell::onPaint(FXObject* sender, FXSelector sel, void* ptr) {
  FXMainWindow::onPaint(sender, sel, ptr);
  if (gradient_ && gradient_->id()) {
    FXDCWindow dc(this, static_cast<FXEvent*>(ptr));
    dc.drawArea(gradient_, 0, 0, gradient_->getWidth(), gradient_->getHeight(), 0, 0);
  }
  return 1;
}

void FXKInstallMenuShell::setJobCancelable(Processor::Cancelable* cancel) { cancel_.reset(cancel); }

// ---- the update road

void FXKInstallMenuShell::setUpdateState(int state) {
  updateState_ = state;
  if (updateCheck_) updateCheck_->setUpdateState(state);
}

int FXKInstallMenuShell::updateState() const { return updateCheck_ ? updateCheck_->updateState() : updateState_; }

void FXKInstallMenuShell::startUpdateCheck() {
  if (updateCheck_) updateCheck_->startUpdateCheck();
}

void FXKInstallMenuShell::startDownload() {
  if (updateCheck_) updateCheck_->startDownload();
}

void FXKInstallMenuShell::installDownloadedPackage() {
  if (updateCheck_) updateCheck_->installDownloadedPackage();
}

// ---- the certificate question

bool FXKInstallMenuShell::askAboutCertificate(Network::CertificateObject& certificate,
                                              const Network::CertificateCheckInfo& info) {
  const std::u16string subject = certificate.subject(), issuer = certificate.issuer();
  const std::u16string why =
      info.error >= 0 ? widenAscii(X509_verify_cert_error_string(info.error)) : std::u16string();
  std::u16string body = Common::catalogueText(2313, u"Certificate Status");
  // The user decides on this certificate: say which it is and what failed.
  if (!why.empty()) body += u"<br/>" + plainForMarkup(why);
  if (!subject.empty()) body += u"<br/>" + plainForMarkup(subject);
  if (!issuer.empty() && issuer != subject) body += u"<br/>" + plainForMarkup(issuer);
  FXKSimpleOperationDialog dialog(this, FXWString(Common::catalogueText(2311, u"Do you want to continue?")),
                                  FXWString(Common::catalogueText(2312, u"The certificate is not trusted.")),
                                  menuCertificatePng(), FXWString(body.c_str()), 0, 0x14320000,
                                  FXKOperationDialog::BUTTON_YES | FXKOperationDialog::BUTTON_NO);
  return dialog.execute(PLACEMENT_OWNER) != 0;
}
