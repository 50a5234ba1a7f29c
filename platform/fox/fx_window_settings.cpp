#include "platform/fox/fx_window_settings.h"

namespace FX {

FXWindowSettings::FXWindowSettings(FXSettings* store, const FXWindow* window)
    : store_(store), section_(sectionOf(window)) {}

FXString FXWindowSettings::sectionOf(const FXWindow* window) {
  if (!window) return FXString::null;
  FXString path;
  for (const FXWindow* w = window; w && !w->isMemberOf(FXMETACLASS(FXRootWindow)); w = w->getParent()) {
    const bool top = w->isMemberOf(FXMETACLASS(FXTopWindow)) || w->getShell() == w;
    // A top-level window is known by its class alone: its place among the
    // root's children changes with every popup.
    FXString step = w->getClassName();
    if (!top) {
      FXint index = 0;
      for (const FXWindow* c = w->getParent()->getFirst(); c && c != w; c = c->getNext()) ++index;
      step += "." + FXStringVal(index);
    }
    path = path.empty() ? step : step + "/" + path;
    if (top) break;
  }
  return path;
}

FXString FXWindowSettings::readStringEntry(const char* key, const FXString& def) const {
  if (!usable()) return def;
  return FXString(store_->readStringEntry(section_.text(), key, def.text()));
}

FXint FXWindowSettings::readIntEntry(const char* key, FXint def) const {
  if (!usable()) return def;
  return store_->readIntEntry(section_.text(), key, def);
}

bool FXWindowSettings::writeStringEntry(const char* key, const FXString& value) {
  return usable() && store_->writeStringEntry(section_.text(), key, value.text());
}

bool FXWindowSettings::writeIntEntry(const char* key, FXint value) {
  return usable() && store_->writeIntEntry(section_.text(), key, value);
}

bool FXWindowSettings::existingEntry(const char* key) const {
  return usable() && store_->existingEntry(section_.text(), key);
}

}  // namespace FX
