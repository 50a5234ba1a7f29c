// A shell window filled from kml markup: its common popup menu, toolbars,
// the item list's groups with their items, item popup menus and caption
// fonts, read from the product configuration (or any document).
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include "widgets/shell/kml.h"
#include "widgets/shell/shell_window.h"

class i_file;
class xml_node;

// The element tree a window builds from; freed by freeDocument.
struct FXKShellDocument {
  xml_node* root = nullptr;  // owned
};

class FXKXMLShellWindow : public FXKShellWindow {
  FXDECLARE(FXKXMLShellWindow)

 public:
  FXKXMLShellWindow(FX::FXApp* app, const FX::FXString& title, FX::FXuint options = FX::DECOR_ALL, FX::FXint x = 0,
                    FX::FXint y = 0, FX::FXint w = 0, FX::FXint h = 0, FX::FXint pl = 0, FX::FXint pr = 0,
                    FX::FXint pt = 0, FX::FXint pb = 0, FX::FXint hs = 0, FX::FXint vs = 0);
  ~FXKXMLShellWindow() override;

  // A parsed file (text or binary XML), or without a file a copy of the
  // product configuration; null when there is nothing to read.
  static FXKShellDocument* loadDocument(i_file* file);
  static void freeDocument(FXKShellDocument* document);

  bool createMenu(FXKShellDocument* document, const FXWString& name);
  bool createToolbar(FXKShellDocument* document, const FXWString& name);
  // One named group, or every group when the name is empty.
  bool createGroups(FXKShellDocument* document, const FXWString& name);

  virtual FXKShellDocument* getDocument() { return nullptr; }
  // 0x20000 refreshes the items from their descriptions.
  virtual void refresh(FX::FXuint flags);

  bool buildMenu(FX::FXWindow* parent, const xml_node* element, bool root);
  bool buildToolbarSet(FX::FXComposite* parent, const xml_node* element, bool root);
  bool buildGroup(FX::FXObject* parentGroup, const xml_node* element);
  bool readItemDescription(const xml_node* element, FXKShellItemDescription& description);
  void addMenuEntry(FX::FXWindow* parent, const FXKShellItemDescription& description);
  void addToolbarButton(FX::FXComposite* toolbar, const FXKShellItemDescription& description);
  FX::FXObject* addItemFromElement(FX::FXObject* group, const xml_node* element,
                                   const FXKShellItemDescription& description);
  FX::FXObject* createItemFromTemplate(FX::FXObject* group, FXKShellDocument* document, const std::string& name);
  void readFontDescription(const xml_node* element, FXKFontDescription& description);

 protected:
  FXKXMLShellWindow() = default;

 private:
  FX::FXObject* buildListGroup(const xml_node* element);
  FX::FXIcon* loadCommandIcon(const std::string& name);
};
