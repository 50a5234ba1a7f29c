#include "gui/dialogs/small_dialogs.h"

#include <FXPNGImage.h>

#include <memory>
#include <string>

#include "core/resource_archive.h"
#include "files/file_object.h"
#include "gui/app/korvane_app.h"

using namespace FX;

// ---- splash ----

namespace {
// The archive's "splash.png" as bytes; empty when missing or unreadable.
std::string splashBytes() {
  std::unique_ptr<Common::ResourceAccessor> archive(Common::ResourceAccessor::create(nullptr));
  if (!archive) return {};
  std::unique_ptr<ri_file> member(archive->open(u"splash.png"));
  if (!member) return {};
  std::string bytes;
  char buffer[16384];
  for (;;) {
    std::uint32_t got = 0;
    member->read(buffer, sizeof buffer, got);
    if (member->Bad()) return {};
    if (got == 0) break;
    bytes.append(buffer, got);
    if (bytes.size() > (16u << 20)) return {};
  }
  return bytes;
}

// A PNG FOX can take: the signature and a header chunk with a sane size.
bool plausiblePng(const std::string& b) {
  static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (b.size() < 33 || b.compare(0, 8, reinterpret_cast<const char*>(sig), 8) != 0 || b.compare(12, 4, "IHDR") != 0)
    return false;
  auto u32 = [&](std::size_t at) {
    return (std::uint32_t(std::uint8_t(b[at])) << 24) | (std::uint32_t(std::uint8_t(b[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(b[at + 2])) << 8) | std::uint32_t(std::uint8_t(b[at + 3]));
  };
  const std::uint32_t w = u32(16), h = u32(20);
  return w > 0 && h > 0 && w <= 4096 && h <= 4096;
}
}  // namespace

bool FXKHasSplashImage() { return plausiblePng(splashBytes()); }

FXDEFMAP(FXKSplashDialog) FXKSplashDialogMap[] = {FXMAPFUNC(SEL_PAINT, 0, FXKSplashDialog::onPaint)};
FXIMPLEMENT(FXKSplashDialog, FXKProgressDialog, FXKSplashDialogMap, ARRAYNUMBER(FXKSplashDialogMap))

FXKSplashDialog::FXKSplashDialog(FXWindow* owner, const FXWString& title, FXImage* image, FXuint options,
                                 FXuint splashFlags)
    : FXKProgressDialog(owner, title, options), image_(image), splashFlags_(splashFlags) {
  progressBar()->setBarSize(10);
  textLabel()->setLayoutHints((textLabel()->getLayoutHints() & ~LAYOUT_FILL_X) | LAYOUT_CENTER_X);
  textLabel()->setTextColor(FXRGBA(255, 255, 255, 255));
}

FXKSplashDialog::~FXKSplashDialog() { dropImage(); }

void FXKSplashDialog::dropImage() {
  if (image_ && (splashFlags_ & SPLASH_OWNS_IMAGE)) {
    image_->destroy();
    delete image_;
  }
  image_ = nullptr;
}

void FXKSplashDialog::create() {
  if (!image_) {
    const std::string bytes = splashBytes();
    if (plausiblePng(bytes)) {
      auto* png = new FXPNGImage(getApp(), nullptr, 24);
      FXMemoryStream stream;
      stream.open(FXStreamLoad, bytes.size(), reinterpret_cast<FXuchar*>(const_cast<char*>(bytes.data())));
      if (png->loadPixels(stream)) {
        image_ = png;
        splashFlags_ |= SPLASH_OWNS_IMAGE;
      } else {
        delete png;
      }
      stream.close();
    }
  }
  if (image_) image_->create();
  FXKProgressDialog::create();
}

void FXKSplashDialog::destroy() {
  dropImage();
  FXKProgressDialog::destroy();
}

namespace {
bool windowsMayShow(FXApp* app) {
  auto* korvane = dynamic_cast<FXKorvaneApp*>(app);
  return !korvane || korvane->mayShowWindows();
}
}  // namespace

void FXKSplashDialog::show() {
  if (windowsMayShow(getApp())) FXKProgressDialog::show();
}

void FXKSplashDialog::show(FXuint placement) {
  if (windowsMayShow(getApp())) FXKProgressDialog::show(placement);
}

FXint FXKSplashDialog::getDefaultWidth() { return image_ ? image_->getWidth() : FXKProgressDialog::getDefaultWidth(); }
FXint FXKSplashDialog::getDefaultHeight() {
  return image_ ? image_->getHeight() : FXKProgressDialog::getDefaultHeight();
}

void FXKSplashDialog::layout() {
  if (FXWindow* panel = getFirst()) {
    const FXint h = panel->getHeightForWidth(width);
    panel->position(0, height - h, width, h);
  }
  flags &= ~FLAG_DIRTY;
}

long FXKSplashDialog::onPaint(FXObject* sender, FXSelector sel, void* ptr) {
  if (!image_) return FXWindow::onPaint(sender, sel, ptr);
  auto* event = static_cast<FXEvent*>(ptr);
  FXDCWindow dc(this, event);
  const FXint x = event->rect.x, y = event->rect.y;
  const FXint w = FXMIN(event->rect.w, image_->getWidth() - x), h = FXMIN(event->rect.h, image_->getHeight() - y);
  if (w > 0 && h > 0) dc.drawArea(image_, x, y, w, h, x, y);
  return 1;
}
