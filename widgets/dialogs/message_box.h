// The program's message box: kind icon, markup text, second text, countdown,
// don't-show-again check box, standard and custom buttons, and the hidden
// knowledge-base paragraph with its Knowledge Base button. Includes FOX.
#pragma once

#include <fx.h>

#include <cstdint>
#include <map>
#include <string>

#include "platform/fox/fxwstring.h"

class FXKTextView;

class FXKMessageBox : public FX::FXDialogBox {
  FXDECLARE(FXKMessageBox)

 public:
  enum {
    KIND_ERROR = 1,
    KIND_INFORMATION = 2,
    KIND_CONFIRMATION = 3,
    KIND_WARNING = 4,
    OPTION_DONT_SHOW = 0x8,
    OPTION_COUNTDOWN = 0x10,
    OPTION_NO_BUTTONS = 0x20,
    OPTION_NO_ICON = 0x40,
    OPTION_KB_BUTTON = 0x80,
    OPTION_KB_TEXT = 0x100,
  };
  enum : std::uint32_t {
    BUTTON_OK = 0x1,
    BUTTON_CANCEL = 0x2,
    BUTTON_YES = 0x4,
    BUTTON_NO = 0x8,
    BUTTON_QUIT = 0x10,
    BUTTON_RESTART = 0x20,
    BUTTON_RETRY = 0x40,
    BUTTON_IGNORE = 0x80,
    BUTTON_IGNORE_ALL = 0x100,
    BUTTON_CUSTOM1 = 0x200,
    BUTTON_CUSTOM2 = 0x400,
    BUTTON_CUSTOM3 = 0x800,
    BUTTON_CUSTOM4 = 0x1000,
    BUTTON_DONT_SHOW = 0x2000,
    BUTTON_SHUTDOWN = 0x4000,
  };

  struct Options {
    FX::FXWindow* owner = nullptr;
    std::uint32_t flags = 0;
    FXWString details;
    FXWString text;
    FXWString caption;
    std::uint32_t buttons = 0;  // top four bits: index of the default button
    FX::FXIcon* icon = nullptr;
    FXWString buttonTexts;      // custom captions, tab-separated
    FXWString dontShowKey;
    FXWString checkText;
    int countdown = 0;
    FXWString countdownText;
    FXWString linkText;
    FXWString link;
    std::map<std::uint32_t, std::string> reportFields;
  };

  // Any thread: runs the box on the GUI thread and answers the pressed
  // button's bit (0x2000 added when the check box was ticked), 0 when the box
  // was stopped without a button.
  static std::uint32_t show(const Options& options);
  static std::uint32_t message(FX::FXWindow* owner, std::uint32_t flags, const FXWString& text,
                               const FXWString& caption, std::uint32_t buttons = 0,
                               const FXWString& buttonTexts = FXWString(), const FXWString& checkText = FXWString());
  // GUI thread: a new box the caller executes and deletes.
  static FXKMessageBox* create(const Options& options);
  static Options normalizeOptions(const Options& options);
  static FXWString formatErrorLine(std::uint32_t flags, std::uint32_t facility, std::uint32_t number,
                                   const FXWString& text, const FXWString& extra);

 protected:
  FXKMessageBox(FX::FXWindow* owner, const FX::FXString& caption, FX::FXuint options)
      : FX::FXDialogBox(owner, caption, options, 0, 0, 0, 0, 10, 10, 10, 10, 4, 4) {}
  FXKMessageBox() = default;
};

class FXKMessageBoxImpl : public FXKMessageBox {
  FXDECLARE(FXKMessageBoxImpl)

 public:
  enum {
    ID_DONT_SHOW = 71,
    ID_BUTTON = 72,
    ID_COUNTDOWN = 73,
    ID_BUTTON_LAST = 32840,
    ID_KNOWLEDGE_BASE = 32769,
    ID_DETAILS = 32770,
  };
  explicit FXKMessageBoxImpl(const Options& normalized);
  ~FXKMessageBoxImpl() override;

  void layout() override;
  FX::FXint getDefaultWidth() override;
  FX::FXuint execute(FX::FXuint placement = FX::PLACEMENT_CURSOR) override;

  long onCmdDontShow(FX::FXObject*, FX::FXSelector, void*);
  long onCmdButton(FX::FXObject*, FX::FXSelector, void*);
  long onCmdKnowledgeBase(FX::FXObject*, FX::FXSelector, void*);
  long onCmdDetails(FX::FXObject*, FX::FXSelector, void*);
  long onTimeoutCountdown(FX::FXObject*, FX::FXSelector, void*);
  long onMotion(FX::FXObject*, FX::FXSelector, void*);
  long onKeyPress(FX::FXObject*, FX::FXSelector, void*);

  // For tests and callers that look inside.
  FX::FXHorizontalFrame* buttonRow() const { return buttonRow_; }
  FXKTextView* textView() const { return textView_; }
  FXKTextView* countdownView() const { return countdownView_; }
  FXKTextView* linkView() const { return linkView_; }
  FX::FXCheckButton* checkButton() const { return check_; }
  FX::FXButton* knowledgeBaseButton() const { return kbButton_; }
  FX::FXButton* detailsButton() const { return detailsButton_; }
  int remaining() const { return remaining_; }
  bool detailsShown() const { return detailsShown_; }
  const FXWString& countdownLine() const { return countdownLine_; }
  // The button of a bit, or null.
  FX::FXButton* button(std::uint32_t bit) const;

 protected:
  FXKMessageBoxImpl() = default;

 private:
  void updateCountdown();
  void openLink();

  FX::FXVerticalFrame* body_ = nullptr;
  FX::FXHorizontalFrame* buttonRow_ = nullptr;
  bool dontShowChecked_ = false;
  FXKTextView* countdownView_ = nullptr;
  bool countdownTimer_ = false;
  int remaining_ = 0;
  bool noButtons_ = false;
  FXWString countdownText_;
  FXKTextView* linkView_ = nullptr;
  bool detailsShown_ = false;
  FXWString link_;
  std::map<std::uint32_t, std::string> reportFields_;
  FX::FXIcon* expandIcon_ = nullptr;
  FX::FXIcon* collapseIcon_ = nullptr;
  FX::FXIcon* kbIcon_ = nullptr;
  FX::FXIcon* ownIcon_ = nullptr;  // the kind's icon, made for this box
  FXKTextView* textView_ = nullptr;
  FX::FXCheckButton* check_ = nullptr;
  FX::FXButton* kbButton_ = nullptr;
  FX::FXButton* detailsButton_ = nullptr;
  FXWString countdownLine_;
};

// The application's settings store: the framework's own one when the
// application has it.
FX::FXSettings& settingsOf(FX::FXApp* app);
