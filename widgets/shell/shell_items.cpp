// The shell window's items in its list: registering descriptions, their
// entries and groups, menu titles and cascades, and group caption fonts.
#include <cstring>
#include <memory>

#include "platform/fox/fx_app.h"
#include "widgets/shell/category_view.h"
#include "widgets/shell/kml.h"
#include "widgets/shell/menu_creator.h"
#include "widgets/shell/shell_browser.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/shell_items_font.h"
#include "widgets/shell/shell_window.h"

using namespace FX;

FXObject* FXKShellWindow::addItem(FXObject* group, FXKShellItemInfo* info) {
  if (!info || info->verb.empty()) return nullptr;
  if (!browser) Processor::throwNullReference();
  FXKShellItemInfo* registered = findItemInfo(info->verb, info->id);
  if (registered != info) {
    if (registered) deleteItemInfo(registered);
    itemInfos.push_back(info);
  }
  if (!browser->getCurrentItem()) {
    const FXKShellBrowserItem current(info->verb, info->id, info->separator, info->usesSelection);
    browser->selectItem(&current, false, false);
    browser->setItemState(FXKBrowser::STATE_SELECTED, &current, true, false);
  }
  if (info->id > itemIdCounter) itemIdCounter = info->id;
  auto* g = dynamic_cast<FXKIconGroup*>(group);
  if (!g) return nullptr;
  const FXKShellBrowserItem key(info->verb, info->id, info->separator, info->usesSelection);
  if (FXKBrowserViewItem* existing = g->findItem(&key)) return existing;
  auto* view = dynamic_cast<FXKShellCategoryView*>(itemList);
  return view ? view->addEntry(g, info) : nullptr;
}

void FXKShellWindow::removeItem(FXKShellItemInfo* info) {
  if (!info) return;
  if (auto* view = dynamic_cast<FXKShellCategoryView*>(itemList)) {
    if (!browser) Processor::throwNullReference();
    if (const auto* current = dynamic_cast<const FXKShellBrowserItem*>(browser->getCurrentItem());
        current && current->verb == info->verb && current->id == info->id)
      browser->selectItem(nullptr, true, false);
    if (FXKIconItem* entry = view->findEntry(info->verb, info->id))
      view->removeEntry(dynamic_cast<FXKIconGroup*>(entry->parent), info);
  }
  deleteItemInfo(info);
}

FXKShellItemInfo* FXKShellWindow::itemInfoOf(FXObject* object) const {
  auto* entry = dynamic_cast<FXKIconItem*>(object);
  std::string verb;
  std::int32_t id = 0;
  if (!entry || !fxkShellItemKey(entry->item.get(), verb, id)) return nullptr;
  return findItemInfo(verb, id);
}

FXKShellItemInfo* FXKShellWindow::getCurrentItemInfo() const {
  std::string verb;
  std::int32_t id = 0;
  if (!browser || !fxkShellItemKey(browser->getCurrentItem(), verb, id)) return nullptr;
  return findItemInfo(verb, id);
}

FXObject* FXKShellWindow::findGroup(const std::string& name) const {
  auto* view = dynamic_cast<FXKShellCategoryView*>(itemList);
  return view ? view->findGroup(name) : nullptr;
}

FXObject* FXKShellWindow::findListItem(const std::string& verb, std::int32_t id) const {
  auto* view = dynamic_cast<FXKShellCategoryView*>(itemList);
  return view ? view->findEntry(verb, id) : nullptr;
}

FXWindow* FXKShellWindow::createMenuTitle(const FXWString& title) {
  FXComposite* bar = menubar ? menubar : buildMenubar();
  if (!bar) return nullptr;
  FXMenuPane* pane = createMenuPane();
  auto* result = new FXMenuTitle(bar, fxkMenuText(title), nullptr, pane, 0);
  if (bar->id()) result->create();
  return result;
}

FXWindow* FXKShellWindow::createMenuCascade(FXWindow* parent, const void* description) {
  FXComposite* into = FXKXMLMenuCreator::paneOf(parent);
  if (!into || !description) return nullptr;
  const auto& d = *static_cast<const FXKShellItemDescription*>(description);
  FXMenuPane* pane = createMenuPane();
  FXIcon* icon = nullptr;
  if (auto* ext = dynamic_cast<FXExtApp*>(getApp()); ext && !d.icons[0].empty())
    icon = ext->loadIconByName(d.icons[0].c_str(), 0x408, 0xff000000);
  auto* cascade = new FXMenuCascade(into, fxkMenuText(d.title), icon, pane, 0);
  if (into->id()) cascade->create();
  return cascade;
}

FXObject* FXKShellWindow::addGroup(const std::string& key, const FXWString& title, FXuint flags) {
  if (!itemList) buildItemList();
  auto* view = dynamic_cast<FXKShellCategoryView*>(itemList);
  if (!view) return nullptr;
  FXKShellCategoryGroup* group = view->groupFor(key);
  if (!title.empty()) group->setText(title);
  if (flags & kml::GROUP_COLLAPSED) group->setExpandState(1, true);
  if (id() && view->id()) group->createResources();
  return group;
}

FXFont* FXKShellWindow::getFont(const FXKFontDescription& description) {
  FXKFontDescription d = description;
  d.setFace(std::u16string(description.faceText()));
  const std::string key(reinterpret_cast<const char*>(&d), sizeof d);
  for (auto& [bytes, font] : fontCache)
    if (bytes == key) return font;
  FXFont* font = new FXFont(getApp(), fxkFoxFontDesc(d));
  fontCache.emplace_back(key, font);
  if (id()) font->create();
  return font;
}

void FXKShellWindow::setGroupFont(FXObject* group, const FXKFontDescription& description) {
  if (auto* g = dynamic_cast<FXKIconGroup*>(group)) {
    FXFont* font = getFont(description);
    if (g->getWindow() && g->getWindow()->id() && !font->id()) font->create();
    g->setCaptionFont(font);
  }
}

void FXKShellWindow::defaultFontDescription(FXKFontDescription& description) {
  description = FXKFontDescription();
  if (auto* ext = dynamic_cast<FXExtApp*>(getApp())) fxkFontDescriptionOf(ext->getStockFontDesc(0), description);
}
