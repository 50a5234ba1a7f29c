#include "widgets/shell/menu_creator.h"

#include "gui/app/verb_processor.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_window_ext.h"
#include "platform/fox/line_break.h"
#include "widgets/shell/kml.h"
#include "widgets/shell/shell_window.h"

using namespace FX;

FXString fxkMenuText(const FXWString& text) {
  std::u16string out;
  out.reserve(static_cast<std::size_t>(text.length()));
  for (char16_t c : text.str()) {
    if (c == u'&')
      out += u"&&";
    else if (c == kHotkeyMarker)
      out += u'&';
    else
      out += c;
  }
  return FXString(FXWString(std::move(out)).toUtf8().c_str());
}

FXMenuCommand* fxkNewMenuCommand(FXComposite* pane, const FXWString& title, FXIcon* icon, FXObject* target,
                                 FXSelector message, FXuint options) {
  FXuint fox = 0;
  if (options & 0x4000000) fox |= MENU_AUTOGRAY;
  if (options & 0x20000000) fox |= MENU_AUTOHIDE;
  auto* command = new FXMenuCommand(pane, fxkMenuText(title), icon, target, message, fox);
  if (options & 0x10000000) command->setDefault(TRUE);
  return command;
}

FXIcon* FXKXMLCreator::loadIcon(const std::string& name, FXuint options, FXColor colour) {
  auto* ext = dynamic_cast<FXExtApp*>(app_);
  return ext && !name.empty() ? ext->loadIconByName(name.c_str(), options, colour) : nullptr;
}

bool FXKXMLMenuCreator::build(FXWindow* parent, FXWindow* owner, FXKVerbProcessor* verbs, const xml_node* element) {
  if (!kml::isElement(element, "kml:menu") || !owner) return false;
  FXKXMLMenuCreator creator(owner->getApp(), verbs, owner);
  return creator.buildMenu(parent, element, dynamic_cast<FXMenuBar*>(parent) != nullptr);
}

FXComposite* FXKXMLMenuCreator::paneOf(FXWindow* parent) {
  if (auto* pane = dynamic_cast<FXMenuPane*>(parent)) return pane;
  if (auto* title = dynamic_cast<FXMenuTitle*>(parent)) return title->getMenu();
  if (auto* cascade = dynamic_cast<FXMenuCascade*>(parent)) return cascade->getMenu();
  return nullptr;
}

bool FXKXMLMenuCreator::buildMenu(FXWindow* parent, const xml_node* element, bool menubar) {
  if (!kml::isElement(element, "kml:menu")) return false;
  bool separated = true;  // no separator may come first
  for (const xml_node* child : element->children()) {
    const xml_name& name = child->name();
    if (name == "kml:menu") {
      if (!kml::hasAttribute(*child, "standard")) {
        FXKShellItemDescription d;
        kml::readCreatorDescription(*child, d);
        auto* pane = new FXMenuPane(owner_, 0);
        FXWindow* holder = nullptr;
        if (menubar) {
          if (auto* bar = dynamic_cast<FXComposite*>(parent))
            holder = new FXMenuTitle(bar, fxkMenuText(d.title), nullptr, pane, 0);
        } else if (FXComposite* into = paneOf(parent)) {
          holder = new FXMenuCascade(into, fxkMenuText(d.title), loadIcon(d.icons[0], 0x408, 0xFF000000), pane, 0);
        }
        if (!holder) {
          delete pane;
          continue;
        }
        buildMenu(pane, child, false);
      } else {
        const std::string kind = child->attribute_string("standard", "");
        if (kind != "toolbar" && kind != "iconview") continue;
        if (!dynamic_cast<FXKShellWindow*>(owner_)) continue;
        addStandard(parent, kind);
        buildMenu(parent, child, false);
      }
      separated = false;
    } else if (name == "kml:item") {
      if (kml::hasAttribute(*child, "standard")) {
        addStandard(parent, child->attribute_string("standard", ""));
      } else {
        FXKShellItemDescription d;
        kml::readCreatorDescription(*child, d);
        addCommand(parent, d);
      }
      separated = false;
    } else if (name == "separator" && !separated) {
      addSeparator(parent);
      separated = true;
    }
  }
  return true;
}

void FXKXMLMenuCreator::addStandard(FXWindow* parent, const std::string& kind) {
  auto* shell = dynamic_cast<FXKShellWindow*>(owner_);
  if (!shell) return;
  if (kind == "toolbar")
    shell->createStandardMenu(parent, FXWString(u"kml:toolbar"));
  else if (kind == "iconview")
    shell->createStandardMenu(parent, FXWString(u"iconview"));
}

void FXKXMLMenuCreator::addCommand(FXWindow* parent, const FXKShellItemDescription& d) {
  FXComposite* pane = paneOf(parent);
  if (!pane || !verbs_) return;
  const std::int32_t id = verbs_->getVerbId(d.verb.c_str());
  FXMenuCommand* command = fxkNewMenuCommand(pane, d.title, loadIcon(d.icons[0], 0x408, 0xFF000000), verbs_->target(),
                                             static_cast<FXSelector>(id), kml::menuCommandOptions(d.flags));
  command->setHelpText(FXString(d.help.toUtf8().c_str()));
  command->setTipText(FXString(d.tip.toUtf8().c_str()));
  FXObject* target = nullptr;
  std::uint32_t message = 0;
  if (!(d.flags & kml::FLAG_NO_BROWSER) && !verbs_->findBinding(id, target, message)) fxSetViewControl(command);
}

void FXKXMLMenuCreator::addSeparator(FXWindow* parent) {
  FXComposite* pane = paneOf(parent);
  if (pane && pane->numChildren() > 0) new FXMenuSeparator(pane, 0);
}
