// The dialog for an error that escaped an event handler: the error's text and
// advice beside a stop sign, Quit, Details and Ignore, and a hidden pane with
// the full error text and a button that copies it to the clipboard. Quit
// ends the program; Ignore, Escape and the close box return to the loop.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include "core/error.h"
#include "platform/fox/fxwstring.h"

class FXKorvaneApp;
class FXKTextView;

class FXKErrorDialog : public FX::FXDialogBox {
  FXDECLARE(FXKErrorDialog)

 public:
  enum { ID_DETAILS = 71, ID_COPY = 72, ID_QUIT = 73 };

  FXKErrorDialog(FX::FXWindow* owner, const Common::Error& error, FX::FXuint options);
  FXKErrorDialog(FX::FXApp* app, const Common::Error& error, FX::FXuint options);
  ~FXKErrorDialog() override;

  // Shows the error over the application's main window (centred on the
  // screen); false only when the user chose Quit.
  static bool run(const Common::Error& error, FX::FXApp* app);
  // Makes this dialog the one the application shows for escaped errors.
  static void installAsPresenter();

  void layout() override;
  void show(FX::FXuint placement) override;
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  virtual FX::FXint getMinimalWidth() { return 360; }
  virtual FX::FXint getMinimalHeight() { return 130; }
  virtual void equalizeButtons();

  // The markup of the main text, and the full error text of the details.
  const FX::FXWString& mainText() const { return mainText_; }
  const FX::FXWString& detailsText() const { return detailsText_; }
  FX::FXButton* detailsButton() const { return detailsButton_; }
  FX::FXButton* quitButton() const { return quitButton_; }
  FX::FXButton* ignoreButton() const { return ignoreButton_; }
  FX::FXButton* copyButton() const { return copyButton_; }
  FX::FXLabel* stopLabel() const { return stopLabel_; }
  FX::FXVerticalFrame* detailsPane() const { return detailsPane_; }
  FXKTextView* mainView() const { return mainView_; }

  long onCmdDetails(FX::FXObject*, FX::FXSelector, void*);
  long onCmdCopy(FX::FXObject*, FX::FXSelector, void*);
  long onCmdQuit(FX::FXObject*, FX::FXSelector, void*);
  long onClipboardRequest(FX::FXObject*, FX::FXSelector, void*);
  long onConfigure(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKErrorDialog() = default;

 private:
  void build();

  Common::Error error_;
  FX::FXVerticalFrame* detailsPane_ = nullptr;
  FX::FXHorizontalFrame* buttonRow_ = nullptr;
  FX::FXButton* detailsButton_ = nullptr;
  bool inLayout_ = false;
  FX::FXButton* quitButton_ = nullptr;
  FX::FXButton* ignoreButton_ = nullptr;
  FX::FXButton* copyButton_ = nullptr;
  FX::FXLabel* stopLabel_ = nullptr;
  FXKTextView* mainView_ = nullptr;
  FX::FXIcon* copyIcon_ = nullptr;  // owned: the first frame of the strip
  FX::FXWString mainText_;
  FX::FXWString detailsText_;
};
