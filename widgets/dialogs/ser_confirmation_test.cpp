// The feedback confirmation's rows and check box, and screenshots of it and
// of a message box with its knowledge-base paragraph open, read back by pixel.
#include "widgets/dialogs/ser_confirmation.h"

#include <gtest/gtest.h>

#include "textlayout/text_view.h"
#include "widgets/dialogs/dialogs_testing.h"
#include "widgets/dialogs/message_box.h"
#include "widgets/simple_list.h"

using namespace FX;

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;
Rows rowsOf(const std::map<std::uint32_t, std::string>& fields) {
  Rows out;
  for (const auto& [caption, value] : FXKSERConfirmationDialog::rows(fields))
    out.emplace_back(caption.toUtf8(), value.toUtf8());
  return out;
}

TEST(SerConfirmationRows, OrderAndConversions) {
  EXPECT_EQ(rowsOf({{15, "0x4002A"}, {9, "117"}, {8, "13.5"}, {5, "Vazedi"}, {1, "Windows"}}),
            (Rows{{"Platform type", "Windows"}, {"Product name", "Vazedi"}, {"Error code", "0x4002A"},
                  {"Product version", "13.5.117"}}));
  // Empty values and codes without a caption get no row; 8 without 9 keeps no dot.
  EXPECT_EQ(rowsOf({{2, ""}, {6, "x"}, {11, "x"}, {14, "x"}, {16, "x"}, {18, "x"}, {17, "Software\\K"}, {8, "13"}}),
            (Rows{{"Product version", "13"}}));
  EXPECT_EQ(rowsOf({{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}, {5, "e"}, {10, "f"}, {12, "g"}, {13, "h"}}),
            (Rows{{"Platform type", "a"}, {"Platform architecture", "b"}, {"Platform kernel version", "c"},
                  {"Platform language code", "d"}, {"Product name", "e"}, {"Product language code", "f"},
                  {"System manufacturer", "g"}, {"System model", "h"}}));
  // Byte-widened texts: an error code byte above 0x7F stays one character.
  EXPECT_EQ(FXKSERConfirmationDialog::rows({{15, "\xE9"}}).at(0).second.text()[0], u'\u00E9');
}

class SerConfirmationTest : public dialogs_test::DialogTest {};

TEST_F(SerConfirmationTest, ListRowsAndTheCheckBox) {
  const std::map<std::uint32_t, std::string> withKey{{1, "Windows"}, {5, "Vazedi"}, {17, "Software\\K"}};
  FXKSERConfirmationDialog dialog(main, nullptr, &withKey);
  dialog.create();
  ASSERT_NE(dialog.fieldList(), nullptr);
  EXPECT_EQ(dialog.getHeight(), 280);
  EXPECT_GE(dialog.getWidth(), 420);
  ASSERT_NE(dialog.alwaysSendCheck(), nullptr);
  EXPECT_FALSE(dialog.isAlwaysSend());
  dialog.alwaysSendCheck()->setCheck(TRUE, TRUE);
  EXPECT_TRUE(dialog.isAlwaysSend());
  const std::map<std::uint32_t, std::string> without{{1, "Windows"}};
  FXKSERConfirmationDialog plain(main, nullptr, &without);
  plain.create();
  EXPECT_EQ(plain.alwaysSendCheck(), nullptr);
  EXPECT_FALSE(plain.isAlwaysSend());
}

// X copies a window's own pixels only, not its children's: the pixel at
// (x, y) of a top window is read from the deepest child there.
FXColor pixelAt(FXWindow* top, FXint x, FXint y, FXColor expected,
                std::chrono::milliseconds patience = std::chrono::milliseconds(2000)) {
  FXWindow* w = top;
  for (FXWindow* c = w->getChildAt(x, y); c && c->shown(); c = w->getChildAt(x, y)) {
    x -= c->getX();
    y -= c->getY();
    w = c;
  }
  return pixelOnceShown(w, x, y, expected, patience);
}

// A window's area holds ink: some pixel darker than the background.
bool hasInk(FXWindow* window, FXWindow* area) {
  FXint x = 0, y = 0;
  area->getParent()->translateCoordinatesTo(x, y, window, area->getX(), area->getY());
  for (FXint j = y + 2; j < y + area->getHeight() - 2; j += 3)
    for (FXint i = x + 2; i < x + area->getWidth() - 2; i += 3)
      if (FXREDVAL(pixelAt(window, i, j, 0, std::chrono::milliseconds(0))) < 100) return true;
  return false;
}

TEST_F(SerConfirmationTest, ScreenshotOfTheConfirmation) {
  const std::map<std::uint32_t, std::string> fields{{1, "Windows"}, {5, "Vazedi"}, {15, "E42"}, {17, "Software\\K"}};
  FXKSERConfirmationDialog dialog(main, nullptr, &fields);
  dialog.create();
  dialog.show(PLACEMENT_SCREEN);
  settle();
  ASSERT_TRUE(dialog.shown());
  const FXColor white = FXRGB(255, 255, 255) | 0xFF000000u;
  const FXColor footer = FXRGB(240, 240, 240) | 0xFF000000u;
  // Header white at the top left, footer grey at the bottom left.
  EXPECT_EQ(pixelAt(&dialog, 3, 3, white), white);
  EXPECT_EQ(pixelAt(&dialog, 3, dialog.getHeight() - 4, footer), footer);
  EXPECT_TRUE(shownWithin(&dialog, [&] { return hasInk(&dialog, dialog.fieldList()); }));
  EXPECT_TRUE(shownWithin(&dialog, [&] { return hasInk(&dialog, dialog.okButton()); }));
  dialog.hide();
}

TEST_F(SerConfirmationTest, ScreenshotOfAMessageBoxWithItsParagraphOpen) {
  FXKMessageBox::Options o;
  o.owner = main;
  o.flags = 1 | FXKMessageBox::OPTION_KB_BUTTON;
  o.text = FXWString(u"The copy failed.");
  o.linkText = FXWString(u"Event code: E-42");
  o.link = FXWString(u"https://kb.example.test/");
  std::unique_ptr<FXKMessageBox> box(FXKMessageBox::create(o));
  auto* impl = static_cast<FXKMessageBoxImpl*>(box.get());
  impl->FXDialogBox::create();
  impl->FXDialogBox::show(PLACEMENT_SCREEN);
  settle();
  const FXint closedHeight = impl->getHeight();
  dialogs_test::click(impl->detailsButton());
  settle();
  EXPECT_GT(impl->getHeight(), closedHeight);
  const FXColor white = FXRGB(255, 255, 255) | 0xFF000000u;
  const FXColor bar = FXRGB(240, 240, 240) | 0xFF000000u;
  EXPECT_EQ(pixelAt(impl, impl->getWidth() - 3, 3, white), white);
  FXWindow* barFrame = impl->detailsButton()->getParent();
  const FXint gap = impl->detailsButton()->getX() + impl->detailsButton()->getWidth() + 3;
  EXPECT_EQ(pixelOnceShown(barFrame, gap, barFrame->getHeight() / 2, bar), bar);
  EXPECT_EQ(barFrame->getY() + barFrame->getHeight(), impl->getHeight());
  ASSERT_TRUE(impl->linkView()->shown());
  EXPECT_GT(impl->linkView()->getHeight(), 40);
  EXPECT_TRUE(hasInk(impl, impl->linkView()));
  EXPECT_TRUE(hasInk(impl, impl->textView()));
  impl->hide();
}

}  // namespace
