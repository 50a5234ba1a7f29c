// The operation dialog's styles, buttons and the wait until it is ready.
#include "widgets/dialogs/operation_dialog.h"

#include <gtest/gtest.h>

#include "widgets/dialogs/dialogs_testing.h"

using namespace FX;

namespace {

class OperationDialogTest : public dialogs_test::DialogTest {};

// A label whose text is `width` pixels wide in the button's font.
FXString textOfWidth(FXFont* font, FXint width) {
  FXString s;
  while (font->getTextWidth(s + "i") <= width) s += "i";
  return s;
}

TEST_F(OperationDialogTest, StyleButtonWidths) {
  FXHorizontalFrame frame(main);
  struct Row {
    FXint text;
    bool icon;
    FXint want;  // 0: its own width
  } rows[] = {{40, false, 68}, {70, false, 82}, {100, false, 106}, {170, false, 190}, {200, false, 0}, {70, true, 0}};
  FXIcon icon(app.get(), nullptr, 0, IMAGE_OWNED, 8, 8);
  for (const Row& r : rows) {
    auto* b = new FXKStyleButton(&frame, textOfWidth(app->getNormalFont(), r.text - 16), r.icon ? &icon : nullptr,
                                 nullptr, 0, 0);
    const FXint own = b->FXButton::getDefaultWidth();
    EXPECT_EQ(b->getDefaultWidth(), r.want ? r.want : own) << r.text;
    EXPECT_GE(b->getDefaultHeight(), 23);
  }
}

TEST_F(OperationDialogTest, DefaultButtonByStyle) {
  FXKOperationDialog styled(main, FXWString(u"W"), FXWString(u"Title"), nullptr, DECOR_TITLE, 3, 0);
  styled.createButtons(0x3, 0x2);
  EXPECT_FALSE(styled.okButton()->getButtonStyle() & BUTTON_DEFAULT);
  EXPECT_TRUE(styled.cancelButton()->getButtonStyle() & BUTTON_DEFAULT);
  EXPECT_NE(dynamic_cast<FXKStyleButton*>(styled.okButton()), nullptr);
  FXKOperationDialog banner(main, FXWString(u"W"), FXWString(u"Title"), nullptr, DECOR_TITLE, 1, 0);
  banner.createButtons(0x3, 0x2);
  EXPECT_TRUE(banner.okButton()->getButtonStyle() & BUTTON_DEFAULT);  // always, in the older styles
  EXPECT_TRUE(banner.cancelButton()->getButtonStyle() & BUTTON_DEFAULT);
  EXPECT_EQ(dynamic_cast<FXKStyleButton*>(banner.okButton()), nullptr);
  EXPECT_GE(banner.getDefaultWidth(), 350);
  // Asked for no style, a dialog over a style-3 dialog takes style 3.
  FXKOperationDialog child(&styled, FXWString(u"W"), FXWString(u"T"), nullptr, DECOR_TITLE, 0, 0);
  EXPECT_EQ(child.getStyle(), 3);
}

class SlowDialog : public FXKOperationDialog {
 public:
  using FXKOperationDialog::FXKOperationDialog;
  bool isReady() override { return ready; }
  bool ready = false;
};

TEST_F(OperationDialogTest, OkWaitsUntilReady) {
  SlowDialog dialog(main, FXWString(u"W"), FXWString(u"T"), nullptr, DECOR_TITLE, 3, 0);
  dialog.createButtons(0x3, 0x1);
  bool disabledWhileWaiting = false;
  int rounds = 0;
  driver.start([&](FXWindow* w) {
    if (w != &dialog) return false;
    if (rounds == 0) dialogs_test::click(dialog.okButton());
    if (++rounds < 5) {
      disabledWhileWaiting = !dialog.okButton()->isEnabled() && !dialog.cancelButton()->isEnabled() && dialog.waiting();
      return false;
    }
    dialog.ready = true;
    return true;
  });
  EXPECT_EQ(dialog.execute(PLACEMENT_SCREEN), 1u);  // accepted by the stored decision
  EXPECT_TRUE(disabledWhileWaiting);
  EXPECT_FALSE(dialog.waiting());
}

}  // namespace
