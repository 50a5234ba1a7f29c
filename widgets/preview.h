// The preview panel: a view of a browser that shows a pane with the current
// item's title, icon and description. The browser picks the pane's class
// through its preview factory; a pane is kept while the factory stays.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include "widgets/browser.h"

class FXKTextView;

class FXKPreview : public FX::FXPacker {
  FXDECLARE_ABSTRACT(FXKPreview)

 public:
  FXKPreview(FX::FXComposite* parent, FXKBrowser* browser, FX::FXuint options);
  // Shows the item, or hides the pane for null.
  virtual void setItem(const FXKBrowserItem* item) = 0;
  FXKBrowser* getBrowser() const { return browser_; }

 protected:
  FXKPreview() = default;
  FXKBrowser* browser_ = nullptr;
};

class FXKSimplePreview : public FXKPreview {
  FXDECLARE(FXKSimplePreview)

 public:
  enum { ID_DESCRIPTION = 62 };
  FXKSimplePreview(FX::FXComposite* parent, FXKBrowser* browser, FX::FXuint options);
  static FXKPreview* factory(FX::FXComposite* parent, FXKBrowser* browser);

  void setItem(const FXKBrowserItem* item) override;
  virtual void createContents();
  FX::FXLabel* titleLabel() const { return title_; }
  FX::FXLabel* iconLabel() const { return icon_; }
  // The description, shown as formatted text.
  FXKTextView* descriptionView() const { return description_; }
  int itemsShown() const { return shown_; }

  long onCmdDescription(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKSimplePreview() = default;

 private:
  FX::FXLabel* icon_ = nullptr;
  FX::FXLabel* title_ = nullptr;
  FXKTextView* description_ = nullptr;
  int shown_ = 0;
};

class FXKPreviewPanel : public FX::FXComposite {
  FXDECLARE(FXKPreviewPanel)

 public:
  enum : FX::FXuint { PANEL_HIDE_PARENT = 0x10000 };
  enum { ID_DELAY = 62 };

  FXKPreviewPanel(FX::FXComposite* parent, FXKBrowser* browser, FX::FXuint options, FX::FXint x = 0, FX::FXint y = 0,
                  FX::FXint w = 0, FX::FXint h = 0);
  ~FXKPreviewPanel() override;

  void create() override;
  void destroy() override;
  void layout() override;
  FX::FXint getDefaultWidth() override { return pane_ ? pane_->getDefaultWidth() : 0; }
  FX::FXint getDefaultHeight() override { return pane_ ? pane_->getDefaultHeight() : 0; }
  virtual FXKPreviewFactory getPreviewFactory(const FXKBrowserItem* item);
  void refresh(FX::FXuint flags);
  FXKPreview* getPane() const { return pane_; }
  void setDelay(FX::FXint ms) { delay_ = ms; }

  long onDocChanged(FX::FXObject*, FX::FXSelector, void*);
  long onTimeout(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKPreviewPanel() = default;

 private:
  FXKPreview* pane_ = nullptr;
  bool timer_ = false;
  FXKPreviewFactory paneFactory_ = nullptr;
  FXKBrowser* browser_ = nullptr;
  FX::FXint delay_ = 0;
  bool attached_ = false;
};
