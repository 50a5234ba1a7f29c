#include "platform/fox/fx_resources.h"

#include <cstring>

#include "platform/fox/fx_app.h"

namespace FX {

const FXResourcePicture* fxFindResourcePicture(const char* name) {
  if (!name) return nullptr;
  for (const FXResourcePicture* p = fxResourcePictures; p->name; ++p)
    if (std::strcmp(p->name, name) == 0) return p;
  return nullptr;
}

const FXResourcePicture* fxFindResourcePicture(const void* data) {
  for (const FXResourcePicture* p = fxResourcePictures; p->name; ++p)
    if (p->data == data) return p;
  return nullptr;
}

FXIcon* fxLoadIcon(FXApp* app, const void* data, unsigned options, unsigned transparent) {
  auto* ext = dynamic_cast<FXExtApp*>(app);
  return ext && data ? ext->loadIcon(data, options, transparent) : nullptr;
}

FXImage* fxLoadImage(FXApp* app, const void* data, unsigned options) {
  auto* ext = dynamic_cast<FXExtApp*>(app);
  return ext && data ? ext->loadImage(data, options) : nullptr;
}

FXIcon* fxLoadIconByName(FXApp* app, const char* name, unsigned options, unsigned transparent) {
  if (const FXResourcePicture* p = fxFindResourcePicture(name)) return fxLoadIcon(app, p->data, options, transparent);
  auto* ext = dynamic_cast<FXExtApp*>(app);
  return ext && name ? ext->loadIconByName(name, options, transparent) : nullptr;
}

FXImage* fxLoadImageByName(FXApp* app, const char* name, unsigned options) {
  if (const FXResourcePicture* p = fxFindResourcePicture(name)) return fxLoadImage(app, p->data, options);
  auto* ext = dynamic_cast<FXExtApp*>(app);
  return ext && name ? ext->loadImageByName(name, options) : nullptr;
}

FXCursor* fxDefaultCursor(FXApp* app, int which) {
  if (!app) return nullptr;
  return app->getDefaultCursor(which == FX_DEFAULT_CURSOR_HAND ? DEF_HAND_CURSOR : DEF_ARROW_CURSOR);
}

}  // namespace FX
