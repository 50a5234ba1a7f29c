#include "widgets/shell/shell_browser.h"

#include <functional>

#include "widgets/shell/shell_window.h"

using namespace FX;

FXIMPLEMENT(FXKShellBrowserItem, FXKBrowserItem, nullptr, 0)
FXIMPLEMENT_ABSTRACT(FXKShellBrowser, FXKBrowser, nullptr, 0)

FXKShellBrowserItem::FXKShellBrowserItem(const FXKShellBrowserItem& other)
    : FXKBrowserItem(), verb(other.verb), id(other.id), separator(other.separator),
      usesSelection(other.usesSelection) {
  copyBase(other);
}

int FXKShellBrowserItem::compare(const FXKBrowserItem* other) const {
  auto* o = dynamic_cast<const FXKShellBrowserItem*>(other);
  return o && o->id == id && o->verb == verb ? 1 : 0;
}

FXKBrowserItem* FXKShellBrowserItem::clone() const { return new FXKShellBrowserItem(*this); }

std::size_t FXKShellBrowserItem::hashValue() const {
  return std::hash<std::string>()(verb) * 31u + static_cast<std::uint32_t>(id);
}

FXKBrowser* fxkNewShellBrowser(FXKShellWindow* window) { return new FXKShellBrowser(window); }

bool fxkShellItemKey(const FXKBrowserItem* item, std::string& verb, std::int32_t& id) {
  auto* s = dynamic_cast<const FXKShellBrowserItem*>(item);
  if (!s) return false;
  verb = s->verb;
  id = s->id;
  return true;
}

FXKShellBrowser::FXKShellBrowser(FXKShellWindow* window) : FXKBrowser(window->getApp()), window_(window) {}

FXKShellBrowser::~FXKShellBrowser() = default;

int FXKShellBrowser::iconSizeFor(int viewStyle) { return viewStyle == 1 ? 2 : viewStyle == 2 ? 3 : 0; }

namespace {
const FXKShellBrowserItem* shellItem(const FXKBrowserItem* item) {
  return dynamic_cast<const FXKShellBrowserItem*>(item);
}
}  // namespace

FXIcon* FXKShellBrowser::getItemIcon(const FXKBrowserItem* item, int viewStyle) {
  const auto* s = shellItem(item);
  return s && window_ ? window_->getItemIcon(s->verb, s->id, iconSizeFor(viewStyle)) : nullptr;
}

FXIcon* FXKShellBrowser::getItemIconAlt(const FXKBrowserItem* item, int viewStyle) {
  const auto* s = shellItem(item);
  return s && window_ ? window_->getItemIconAlternate(s->verb, s->id, iconSizeFor(viewStyle)) : nullptr;
}

int FXKShellBrowser::getExtraIconCount(const FXKBrowserItem*) { return 1; }

FXIcon* FXKShellBrowser::getExtraIcon(const FXKBrowserItem* item, int, int viewStyle) {
  const auto* s = shellItem(item);
  return s && window_ ? window_->getItemOverlay(s->verb, s->id, iconSizeFor(viewStyle)) : nullptr;
}

bool FXKShellBrowser::getItemNoHighlight(const FXKBrowserItem* item) {
  const auto* s = shellItem(item);
  return s && s->separator;
}

bool FXKShellBrowser::getItemHoverFrame(const FXKBrowserItem* item) {
  const auto* s = shellItem(item);
  return !s || s->usesSelection;
}

void FXKShellBrowser::getItemTitle(FXWString& out, const FXKBrowserItem* item) {
  const auto* s = shellItem(item);
  if (s && window_)
    out = window_->getItemTitle(s->verb, s->id);
  else
    FXKBrowser::getItemTitle(out, item);
}

void FXKShellBrowser::getItemHelp(FXWString& out, const FXKBrowserItem* item) {
  const auto* s = shellItem(item);
  if (s && window_)
    out = window_->getItemHelp(s->verb, s->id);
  else
    FXKBrowser::getItemHelp(out, item);
}

void FXKShellBrowser::getItemDescription(FXWString& out, const FXKBrowserItem* item) {
  const auto* s = shellItem(item);
  if (s && window_)
    out = window_->getItemDescription(s->verb, s->id);
  else
    FXKBrowser::getItemDescription(out, item);
}

void FXKShellBrowser::getItemTip(FXWString& out, const FXKBrowserItem* item) {
  const auto* s = shellItem(item);
  if (s && window_)
    out = window_->getItemHelp(s->verb, s->id);
  else
    FXKBrowser::getItemTip(out, item);
}

FXMenuPane* FXKShellBrowser::contextMenuOf(const FXKBrowserItem* item) {
  const auto* s = shellItem(item);
  if (!s || s->separator || !window_) return nullptr;
  return window_->findItemMenu(s->verb);
}

bool FXKShellBrowser::popupItemMenu(const FXKBrowserItem* item, FXWindow*, int x, int y) {
  FXMenuPane* pane = contextMenuOf(item);
  if (!pane) return false;
  pane->create();
  pane->forceRefresh();
  pane->popup(nullptr, x, y);
  return true;
}
