#include "widgets/shell/xml_shell_window.h"

#include <cstdio>
#include <memory>

#include "files/file_object.h"
#include "gui/app/verb_processor.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_window_ext.h"
#include "widgets/explorer_toolbar.h"
#include "widgets/icon_group.h"
#include "widgets/shell/category_view.h"
#include "widgets/shell/menu_creator.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/shell_items_font.h"
#include "xml/product_configuration.h"
#include "xml/xml_node.h"

using namespace FX;

FXIMPLEMENT(FXKXMLShellWindow, FXKShellWindow, nullptr, 0)

FXKXMLShellWindow::FXKXMLShellWindow(FXApp* app, const FXString& title, FXuint options, FXint x, FXint y, FXint w,
                                     FXint h, FXint pl, FXint pr, FXint pt, FXint pb, FXint hs, FXint vs)
    : FXKShellWindow(app, title, nullptr, nullptr, options, x, y, w, h, pl, pr, pt, pb, hs, vs) {}

FXKXMLShellWindow::~FXKXMLShellWindow() = default;

FXKShellDocument* FXKXMLShellWindow::loadDocument(i_file* file) {
  if (file) {
    xml_document document;
    int line = 0, column = 0;
    if (!document.load(*file, line, column) || !document.root()) {
      std::fprintf(stderr, "Filed to read resource from line %d column%d", line, column);
      return nullptr;
    }
    return new FXKShellDocument{document.release_root()};
  }
  const xml_document* configuration = Common::productConfiguration();
  if (!configuration || !configuration->root()) return nullptr;
  // A copy: the window never changes the configuration, which other threads read.
  return new FXKShellDocument{new xml_node(*configuration->root())};
}

void FXKXMLShellWindow::freeDocument(FXKShellDocument* document) {
  if (!document) return;
  delete document->root;
  delete document;
}

namespace {
const xml_node* rootOf(const FXKShellDocument* document) { return document ? document->root : nullptr; }
}  // namespace

bool FXKXMLShellWindow::createMenu(FXKShellDocument* document, const FXWString& name) {
  const xml_node* element = kml::findNamed(rootOf(document), "kml:menu", name);
  if (!element) return false;
  FXMenuPane* pane = newPopupMenu();
  return FXKXMLMenuCreator::build(pane, this, getVerbProcessor(), element);
}

bool FXKXMLShellWindow::createToolbar(FXKShellDocument* document, const FXWString& name) {
  const xml_node* element = kml::findNamed(rootOf(document), "kml:toolbar", name);
  if (!element) return false;
  buildToolbarSet(nullptr, element, true);
  return true;
}

bool FXKXMLShellWindow::createGroups(FXKShellDocument* document, const FXWString& name) {
  const xml_node* root = rootOf(document);
  if (!root) return false;
  if (name.empty()) {
    bool built = false;
    for (const xml_node* child : root->children())
      if (child->name() == "group" && buildGroup(nullptr, child)) built = true;
    return built;
  }
  const xml_node* element = kml::findNamed(root, "group", name);
  return element && buildGroup(nullptr, element);
}

bool FXKXMLShellWindow::readItemDescription(const xml_node* element, FXKShellItemDescription& description) {
  return element && kml::readItemDescription(*element, description);
}

FXIcon* FXKXMLShellWindow::loadCommandIcon(const std::string& name) {
  auto* ext = dynamic_cast<FXExtApp*>(getApp());
  return ext && !name.empty() ? ext->loadIconByName(name.c_str(), 0x408, 0xff000000) : nullptr;
}

bool FXKXMLShellWindow::buildMenu(FXWindow* parent, const xml_node* element, bool root) {
  if (!kml::isElement(element, "kml:menu")) return false;
  FXWindow* current = parent;
  if (!root) {
    const bool standard = kml::hasAttribute(*element, "standard");
    if (parent) {
      if (!standard) {
        FXKShellItemDescription d;
        readItemDescription(element, d);
        current = createMenuCascade(parent, &d);
      } else {
        const FXWString kind = element->attribute_text("standard", FXWString());
        createStandardMenu(parent, kind);
        // The Toolbars cascade takes the children; the view-style place none.
        current = kind.str() == u"kml:toolbar" ? getToolbarsMenu() : nullptr;
      }
    } else {
      current = standard ? nullptr : createMenuTitle(element->attribute_text("title", FXWString()));
    }
  }
  bool separated = true;
  for (const xml_node* child : element->children()) {
    const xml_name& name = child->name();
    if (name == "kml:menu") {
      buildMenu(current, child, false);
      separated = false;
    } else if (name == "kml:item") {
      if (kml::hasAttribute(*child, "standard")) {
        if (current) createStandardMenu(current, child->attribute_text("standard", FXWString()));
      } else {
        FXKShellItemDescription d;
        readItemDescription(child, d);
        addMenuEntry(current, d);
      }
      separated = false;
    } else if (name == "separator" && !separated) {
      addMenuEntry(current, FXKShellItemDescription());
      separated = true;
    }
  }
  return true;
}

void FXKXMLShellWindow::addMenuEntry(FXWindow* parent, const FXKShellItemDescription& d) {
  FXComposite* pane = FXKXMLMenuCreator::paneOf(parent);
  if (!pane) return;
  if (d.verb.empty()) {
    if (pane->numChildren() > 0) new FXMenuSeparator(pane, 0);
    return;
  }
  FXKVerbProcessor* verbs = getVerbProcessor();
  if (!verbs) Processor::throwNullReference();
  const std::int32_t id = verbs->getVerbId(d.verb.c_str());
  FXMenuCommand* command = fxkNewMenuCommand(pane, d.title, loadCommandIcon(d.icons[0]), verbs->target(),
                                             static_cast<FXSelector>(id), kml::menuCommandOptions(d.flags));
  if (!d.help.empty()) command->setHelpText(FXString(d.help.toUtf8().c_str()));
  FXObject* target = nullptr;
  std::uint32_t message = 0;
  if (!(d.flags & kml::FLAG_NO_BROWSER) && !verbs->findBinding(id, target, message)) fxSetViewControl(command);
}

bool FXKXMLShellWindow::buildToolbarSet(FXComposite* parent, const xml_node* element, bool root) {
  if (!kml::isElement(element, "kml:toolbar")) return false;
  FXComposite* current = parent;
  if (!root) {
    current = nullptr;
    if (!parent && !kml::hasAttribute(*element, "standard"))
      current = addToolbar(element->attribute_text("title", FXWString()), element->attribute_text("name", FXWString()));
  }
  bool separated = true;
  for (const xml_node* child : element->children()) {
    const xml_name& name = child->name();
    if (name == "kml:toolbar") {
      if (buildToolbarSet(current, child, false)) separated = false;
    } else if (name == "kml:item") {
      if (!kml::hasAttribute(*child, "standard") && current) {
        FXKShellItemDescription d;
        readItemDescription(child, d);
        addToolbarButton(current, d);
      }
      separated = false;
    } else if (name == "separator" && !separated) {
      if (current) addToolbarButton(current, FXKShellItemDescription());
      separated = true;
    }
  }
  return true;
}

void FXKXMLShellWindow::addToolbarButton(FXComposite* toolbar, const FXKShellItemDescription& d) {
  if (!toolbar) return;
  if (d.verb.empty()) {
    new FXVerticalSeparator(toolbar, FXuint(SEPARATOR_LINE) | LAYOUT_FILL_Y, 0, 0, 0, 0, 2, 2, 1, 1);
    return;
  }
  FXKVerbProcessor* verbs = getVerbProcessor();
  if (!verbs) Processor::throwNullReference();
  const std::int32_t id = verbs->getVerbId(d.verb.c_str());
  auto* button = new FXKExplorerButton(toolbar, fxkMenuText(d.title), loadCommandIcon(d.icons[0]),
                                       loadCommandIcon(d.icons[1]), loadCommandIcon(d.icons[2]), verbs->target(),
                                       static_cast<FXSelector>(id), kml::toolbarButtonOptions(d.flags), 0, 0, 0, 0,
                                       6, 6, 6, 6);
  if (const FXuint ex = kml::toolbarButtonOptionsEx(d.flags)) button->setOptionsEx(button->getOptionsEx() | ex);
  if (!d.tip.empty()) button->setTipText(FXString(d.tip.toUtf8().c_str()));
  if (!d.help.empty()) button->setHelpText(FXString(d.help.toUtf8().c_str()));
}

FXObject* FXKXMLShellWindow::buildListGroup(const xml_node* element) {
  const std::string key = element->attribute_string("verb", "");
  const FXWString title = element->attribute_text("title", FXWString());
  const FXuint flags = element->attribute_flags("flags", kml::groupFlags, 0);
  FXObject* group = addGroup(key, title, flags);
  if (const xml_node* font = element->find_child("font")) {
    const std::string stock = font->attribute_string("stock", "");
    if (!stock.empty()) {
      if (auto* ext = dynamic_cast<FXExtApp*>(getApp())) {
        const FXint id = ext->registerStockFont(stock.c_str(), false);
        if (id >= 0 && ext->getStockFont(id)) {
          FXKFontDescription d;
          defaultFontDescription(d);
          fxkFontDescriptionOf(ext->getStockFontDesc(id), d);
          setGroupFont(group, d);
        }
      }
    } else {
      FXKFontDescription d;
      readFontDescription(font, d);
      setGroupFont(group, d);
    }
  }
  return group;
}

bool FXKXMLShellWindow::buildGroup(FXObject* parentGroup, const xml_node* element) {
  if (!kml::isElement(element, "group")) return false;
  FXObject* group = nullptr;
  if (!parentGroup && !kml::hasAttribute(*element, "standard")) group = buildListGroup(element);
  bool separated = true;
  for (const xml_node* child : element->children()) {
    const xml_name& name = child->name();
    if (name == "group") {
      if (buildGroup(group, child)) separated = false;
    } else if (name == "kml:item") {
      if (!kml::hasAttribute(*child, "standard")) addItemFromElement(group, child, FXKShellItemDescription());
      separated = false;
    } else if (name == "separator" && !separated) {
      addItemFromElement(group, child, FXKShellItemDescription());
      separated = true;
    }
  }
  return true;
}

void FXKXMLShellWindow::readFontDescription(const xml_node* element, FXKFontDescription& description) {
  defaultFontDescription(description);
  if (element) kml::readFontDescription(*element, description);
}

FXObject* FXKXMLShellWindow::addItemFromElement(FXObject* group, const xml_node* element,
                                               const FXKShellItemDescription& description) {
  if (!element) return nullptr;
  const std::string verb = description.verb.empty() ? element->attribute_string("verb", "") : description.verb;
  const std::int32_t id =
      description.id ? description.id : static_cast<std::int32_t>(element->attribute_uint("id", 0));
  if (const xml_node* menu = element->find_child("kml:menu")) buildMenu(newItemMenu(verb), menu, true);
  std::unique_ptr<FXKShellItemInfo> info(createItemInfo(verb, id));
  kml::copyItemElement(*element, *info);
  FXKShellItemInfo* raw = info.release();
  FXObject* entry = addItem(group, raw);
  // An item without verb is not registered: nobody else holds it.
  if (raw->verb.empty() && !findItemInfo(raw->verb, raw->id)) delete raw;
  return entry;
}

FXObject* FXKXMLShellWindow::createItemFromTemplate(FXObject* group, FXKShellDocument* document,
                                                   const std::string& name) {
  std::string key;
  if (auto* g = dynamic_cast<FXKShellCategoryGroup*>(group)) key = g->categoryKey;
  const xml_node* source = kml::findTemplateSource(rootOf(document), FXWString::fromLatin1(name.c_str()),
                                                   FXWString::fromLatin1(key.c_str()));
  if (!source) return nullptr;
  FXKShellItemDescription d;
  d.id = nextItemId();
  return addItemFromElement(group, source, d);
}

void FXKXMLShellWindow::refresh(FXuint flags) {
  if (flags & 0x20000) {
    // This program's windows have no item source and no run-time document,
    // so there is nothing to rebuild; the items are refreshed from their infos.
    if (FXKBrowser* b = getBrowser()) b->scheduleUpdate(17);
  }
  forceRefresh();
}
