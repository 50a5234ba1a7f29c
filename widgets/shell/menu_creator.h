// Builds FOX menus from a `kml:menu` element: titles or cascades with their
// panes, commands bound to verbs, separators (never first, never doubled),
// and the standard entries of a shell window.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include <string>

#include "platform/fox/fxwstring.h"

class FXKVerbProcessor;
class FXKShellWindow;
class xml_node;
struct FXKShellItemDescription;

// A caption for FOX: U+2382 marks the hot key, a plain "&" stays one.
FX::FXString fxkMenuText(const FX::FXWString& text);
// A menu command with the options word of a kml command (0x4000000 always,
// 0x10000000 default, 0x20000000 autohide) in FOX 1.6's terms.
FX::FXMenuCommand* fxkNewMenuCommand(FX::FXComposite* pane, const FX::FXWString& title, FX::FXIcon* icon,
                                    FX::FXObject* target, FX::FXSelector message, FX::FXuint options);

class FXKXMLCreator {
 public:
  FXKXMLCreator(FX::FXApp* app, FXKVerbProcessor* verbs, FX::FXWindow* owner)
      : app_(app), verbs_(verbs), owner_(owner) {}
  virtual ~FXKXMLCreator() = default;

  // An icon by archive member name, or null.
  virtual FX::FXIcon* loadIcon(const std::string& name, FX::FXuint options, FX::FXColor colour);

 protected:
  FX::FXApp* app_;
  FXKVerbProcessor* verbs_;
  FX::FXWindow* owner_;
};

class FXKXMLMenuCreator : public FXKXMLCreator {
 public:
  using FXKXMLCreator::FXKXMLCreator;

  // Builds `element` into `parent` (a menu pane, or a menubar at the top);
  // false, building nothing, when the element is no `kml:menu`.
  static bool build(FX::FXWindow* parent, FX::FXWindow* owner, FXKVerbProcessor* verbs, const xml_node* element);

  // The pane that entries of `parent` go into: the pane itself, or the
  // pane of a menu title or cascade; null for anything else.
  static FX::FXComposite* paneOf(FX::FXWindow* parent);

  bool buildMenu(FX::FXWindow* parent, const xml_node* element, bool menubar);

 private:
  void addCommand(FX::FXWindow* parent, const FXKShellItemDescription& description);
  void addSeparator(FX::FXWindow* parent);
  void addStandard(FX::FXWindow* parent, const std::string& kind);
};
