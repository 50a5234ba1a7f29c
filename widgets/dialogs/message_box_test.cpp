// The message box on the test display, driven by FOX events.
#include "widgets/dialogs/message_box.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/registry.h"
#include "textlayout/text_view.h"
#include "widgets/dialogs/dialogs_testing.h"
#include "widgets/dialogs/ser_confirmation.h"
#include "widgets/simple_list.h"

using namespace FX;
using dialogs_test::click;
using dialogs_test::key;

FXDEFMAP(dialogs_test::ModalDriver) ModalDriverMap[] = {FXMAPFUNC(SEL_TIMEOUT, 1, dialogs_test::ModalDriver::onTimeout)};
FXIMPLEMENT(dialogs_test::ModalDriver, FXObject, ModalDriverMap, ARRAYNUMBER(ModalDriverMap))

namespace {

std::vector<std::string> buttonCaptions(FXKMessageBoxImpl* box) {
  std::vector<std::string> out;
  if (!box->buttonRow()) return out;
  for (FXWindow* w = box->buttonRow()->getFirst(); w; w = w->getNext())
    out.push_back(static_cast<FXButton*>(w)->getText().text());
  return out;
}

std::string defaultCaption(FXKMessageBoxImpl* box) {
  if (!box->buttonRow()) return "";
  for (FXWindow* w = box->buttonRow()->getFirst(); w; w = w->getNext())
    if (w->isDefault()) return static_cast<FXButton*>(w)->getText().text();
  return "";
}

std::string utf8(const FXWString& s) { return s.toUtf8().c_str(); }

class MessageBoxTest : public dialogs_test::DialogTest {};

// Kind defaults, the creation order of the buttons (the first made stands
// rightmost) and the default button by index.
TEST_F(MessageBoxTest, KindDefaultsButtonOrderAndDefaultIndex) {
  struct Row {
    std::uint32_t flags, buttons;
    const char16_t *text, *caption;
    const char* wantCaption;
    const char* wantText;
    std::vector<std::string> order;
    const char* wantDefault;
  } rows[] = {
      {1, 0, u"", u"", "Vazedi for Dovecrest 2013", "An unknown error has occurred.", {"OK"}, "OK"},
      {1, 0, u"", u"Own title", "Own title", "", {"OK"}, "OK"},
      {2, 0, u"x", u"", "Information", "x", {"OK"}, "OK"},
      {3, 0, u"x", u"", "Confirmation", "x", {"No", "Yes"}, "No"},
      {4, 0, u"x", u"", "Warning", "x", {"OK"}, "OK"},
      {2, 0x1 | 0x4 | 0x10000000, u"x", u"", "Information", "x", {"Yes", "OK"}, "OK"},
      {2, 0x2 | 0x8 | 0x80 | 0x100 | 0x40 | 0x4000 | 0x20 | 0x10 | 0x4 | 0x1 | 0x30000000, u"x", u"", "Information", "x",
       {"Cancel", "No", "Ignore All", "Ignore", "Retry", "Shutdown", "Restart", "Quit", "Yes", "OK"}, "Ignore"},
      {0, 0x1 | 0x200 | 0x1000, u"x", u"", "", "x", {"OK", "first", "fourth"}, "OK"},
      {3, 0x4 | 0x8 | 0xF0000000, u"x", u"", "Confirmation", "x", {"No", "Yes"}, ""},
  };
  for (const Row& r : rows) {
    FXKMessageBox::Options o;
    o.owner = main;
    o.flags = r.flags;
    o.text = FXWString(r.text);
    o.caption = FXWString(r.caption);
    o.buttons = r.buttons;
    o.buttonTexts = FXWString(u"first\tsecond\tthird\tfourth");
    const FXKMessageBox::Options n = FXKMessageBox::normalizeOptions(o);
    EXPECT_EQ(utf8(n.caption), r.wantCaption) << r.flags;
    EXPECT_EQ(utf8(n.text), r.wantText) << r.flags;
    std::unique_ptr<FXKMessageBox> box(FXKMessageBox::create(o));
    auto* impl = static_cast<FXKMessageBoxImpl*>(box.get());
    EXPECT_EQ(buttonCaptions(impl), r.order) << r.flags << " " << r.buttons;
    EXPECT_EQ(defaultCaption(impl), r.wantDefault) << r.flags << " " << r.buttons;
  }
  FXKMessageBox::Options counting;
  counting.flags = 2 | FXKMessageBox::OPTION_COUNTDOWN;
  EXPECT_EQ(FXKMessageBox::normalizeOptions(counting).countdown, 15);
  counting.buttons = 0x2000;
  EXPECT_TRUE(FXKMessageBox::normalizeOptions(counting).flags & FXKMessageBox::OPTION_DONT_SHOW);
}

TEST_F(MessageBoxTest, ErrorLineFormat) {
  EXPECT_EQ(utf8(FXKMessageBox::formatErrorLine(1, 4, 0x2a, FXWString(u"Text"), FXWString())), "Text</bold>\n\n");
  EXPECT_EQ(utf8(FXKMessageBox::formatErrorLine(1, 4, 0x2a, FXWString(u"Text"), FXWString(u"More"))),
            "<bold>Text</bold>\n\nMore");
}

// Pressing each button answers its bit; Escape and the close box answer Cancel.
TEST_F(MessageBoxTest, PressedButtonIsTheResult) {
  struct Row {
    std::uint32_t buttons, press;
  } rows[] = {{0x1, 0x1}, {0x4 | 0x8, 0x8}, {0x4 | 0x8, 0x4}, {0x40 | 0x2, 0x40}, {0x200 | 0x400, 0x400}};
  for (const Row& r : rows) {
    driver.start([&](FXWindow* w) {
      auto* box = dynamic_cast<FXKMessageBoxImpl*>(w);
      if (!box) return false;
      click(box->button(r.press));
      return true;
    });
    EXPECT_EQ(FXKMessageBox::message(main, 2, FXWString(u"Press"), FXWString(), r.buttons,
                                     FXWString(u"one\ttwo")),
              r.press);
  }
  driver.start([&](FXWindow* w) {
    key(w, KEY_Escape);
    return true;
  });
  EXPECT_EQ(FXKMessageBox::message(main, 3, FXWString(u"Escape"), FXWString()), 0x2u);
  driver.start([&](FXWindow* w) {
    w->handle(w, FXSEL(SEL_CLOSE, 0), nullptr);
    return true;
  });
  EXPECT_EQ(FXKMessageBox::message(main, 3, FXWString(u"Close box"), FXWString()), 0x2u);
}

TEST_F(MessageBoxTest, CountdownOfThreePressesTheDefaultButton) {
  std::vector<std::string> lines;
  struct Watch : FXObject {};
  FXKMessageBox::Options o;
  o.owner = main;
  o.flags = 2 | FXKMessageBox::OPTION_COUNTDOWN;
  o.text = FXWString(u"Counting");
  o.countdown = 3;
  std::unique_ptr<FXKMessageBox> box(FXKMessageBox::create(o));
  auto* impl = static_cast<FXKMessageBoxImpl*>(box.get());
  lines.push_back(utf8(impl->countdownLine()));
  // Each second's line, read as the timer fires.
  driver.start([&](FXWindow* w) {
    if (w != impl) return false;
    const std::string line = utf8(impl->countdownLine());
    if (lines.back() != line) lines.push_back(line);
    return false;
  });
  const FXuint result = impl->execute(PLACEMENT_SCREEN);
  lines.push_back(utf8(impl->countdownLine()));
  app->removeTimeout(&driver, 1);
  EXPECT_EQ(result, 1u);
  EXPECT_EQ(lines.front(), "Remaining: 3 seconds");
  EXPECT_EQ(lines.back(), "Remaining: 0 seconds");
  EXPECT_EQ(impl->remaining(), 0);
}

TEST_F(MessageBoxTest, CountdownWithoutButtonsIgnoresEnterAndEscape) {
  FXKMessageBox::Options o;
  o.owner = main;
  o.flags = 4 | FXKMessageBox::OPTION_COUNTDOWN | FXKMessageBox::OPTION_NO_BUTTONS;
  o.text = FXWString(u"Please wait");
  o.countdown = 30;
  std::unique_ptr<FXKMessageBox> box(FXKMessageBox::create(o));
  auto* impl = static_cast<FXKMessageBoxImpl*>(box.get());
  EXPECT_EQ(impl->buttonRow(), nullptr);
  EXPECT_EQ(utf8(impl->countdownLine()), "Remaining: <bold>30 seconds</bold>");
  int pokes = 0;
  bool stillUp = true;
  driver.start([&](FXWindow* w) {
    if (w != impl) return false;
    key(w, KEY_Return);
    key(w, KEY_KP_Enter);
    key(w, KEY_Escape);
    w->handle(w, FXSEL(SEL_CLOSE, 0), nullptr);
    stillUp = stillUp && w->shown();
    if (++pokes < 3) return false;
    app->stopModal(impl, 99);  // the test's own way out
    return true;
  });
  EXPECT_EQ(impl->execute(PLACEMENT_SCREEN), 99u);
  EXPECT_TRUE(stillUp);
  EXPECT_GE(impl->remaining(), 28);
}

// The check box with Yes answers 0x2004 and stores the key; the next box of
// that key is not shown and answers Yes. Another button stores nothing.
TEST_F(MessageBoxTest, DontShowAgainWithYesIsKept) {
  FXKMessageBox::Options o;
  o.owner = main;
  o.flags = 3 | FXKMessageBox::OPTION_DONT_SHOW;
  o.text = FXWString(u"Again?");
  o.dontShowKey = FXWString(u"C0DE");
  auto tickAndPress = [&](std::uint32_t bit) {
    driver.start([&, bit](FXWindow* w) {
      auto* box = dynamic_cast<FXKMessageBoxImpl*>(w);
      if (!box) return false;
      click(box->checkButton());
      click(box->button(bit));
      return true;
    });
  };
  tickAndPress(FXKMessageBox::BUTTON_NO);
  EXPECT_EQ(FXKMessageBox::show(o), 0x2008u);
  EXPECT_EQ(app->reg().readIntEntry("DontShow", "C0DE", 0), 0);
  tickAndPress(FXKMessageBox::BUTTON_YES);
  EXPECT_EQ(FXKMessageBox::show(o), 0x2004u);
  EXPECT_EQ(app->reg().readIntEntry("DontShow", "C0DE", 0), 1) << app->reg().readStringEntry("DontShow", "C0DE", "-");
  app->removeTimeout(&driver, 1);
  EXPECT_EQ(FXKMessageBox::show(o), 0x4u);  // no box: nothing drives it
  o.flags = 2 | FXKMessageBox::OPTION_DONT_SHOW;
  EXPECT_EQ(FXKMessageBox::show(o), 0x1u);
}

class KnowledgeBaseTest : public dialogs_test::DialogTest {
 protected:
  const std::u16string keyPath = u"Software\\Korvane\\Feedback";
  FXKMessageBox::Options options(bool withFields) {
    FXKMessageBox::Options o;
    o.owner = main;
    o.flags = 1 | FXKMessageBox::OPTION_KB_BUTTON;
    o.text = FXWString(u"The copy failed.");
    o.linkText = FXWString(u"Event code: E-42");
    o.link = FXWString(u"https://kb.example.test/report?e=42");
    if (withFields) {
      o.reportFields = {{1, "Linux"}, {5, "Vazedi"}, {15, "E42"}, {17, "Software\\Korvane\\Feedback"}};
    }
    return o;
  }
  // Presses the Knowledge Base button, then, when the confirmation comes,
  // acts on it; then OK on the box.
  void pressKnowledgeBase(std::function<void(FXKSERConfirmationDialog*)> onConfirmation) {
    stage = 0;
    driver.start([this, onConfirmation](FXWindow* w) {
      if (auto* box = dynamic_cast<FXKMessageBoxImpl*>(w)) {
        if (stage == 0) {
          stage = 1;
          click(box->knowledgeBaseButton());  // runs the confirmation's own loop inside
          return false;
        }
        click(box->button(FXKMessageBox::BUTTON_OK));
        return true;
      }
      if (auto* confirm = dynamic_cast<FXKSERConfirmationDialog*>(w)) {
        confirmationSeen = true;
        onConfirmation(confirm);
      }
      return false;
    });
  }
  std::vector<std::u16string> opened() {
    std::vector<std::u16string> files;
    for (const auto& call : win32::recorded_shell_calls()) files.push_back(call.file);
    return files;
  }
  int stage = 0;
  bool confirmationSeen = false;
};

TEST_F(KnowledgeBaseTest, ConfirmedBeforeOpensTheLinkAtOnce) {
  Windows::Registry(HKEY_CURRENT_USER, 0).setDword(keyPath, u"confirmation", 1);
  pressKnowledgeBase([](FXKSERConfirmationDialog*) {});
  EXPECT_EQ(FXKMessageBox::show(options(true)), 0x1u);
  EXPECT_FALSE(confirmationSeen);
  EXPECT_EQ(opened(), std::vector<std::u16string>{u"https://kb.example.test/report?e=42"});
}

TEST_F(KnowledgeBaseTest, CancelInTheConfirmationOpensNothing) {
  pressKnowledgeBase([](FXKSERConfirmationDialog* d) { click(d->cancelButton()); });
  EXPECT_EQ(FXKMessageBox::show(options(true)), 0x1u);
  EXPECT_TRUE(confirmationSeen);
  EXPECT_TRUE(opened().empty());
  EXPECT_EQ(Windows::Registry(HKEY_CURRENT_USER, 0).getDword(keyPath, u"confirmation", 7), 7u);
}

TEST_F(KnowledgeBaseTest, AlwaysSendWritesTheValueAndOpens) {
  pressKnowledgeBase([](FXKSERConfirmationDialog* d) {
    click(d->alwaysSendCheck());
    click(d->okButton());
  });
  EXPECT_EQ(FXKMessageBox::show(options(true)), 0x1u);
  EXPECT_TRUE(confirmationSeen);
  EXPECT_EQ(opened(), std::vector<std::u16string>{u"https://kb.example.test/report?e=42"});
  EXPECT_EQ(Windows::Registry(HKEY_CURRENT_USER, 0).getDword(keyPath, u"confirmation", 0), 1u);
}

TEST_F(KnowledgeBaseTest, EmptyReportFieldsSkipTheConfirmation) {
  pressKnowledgeBase([](FXKSERConfirmationDialog*) {});
  EXPECT_EQ(FXKMessageBox::show(options(false)), 0x1u);
  EXPECT_FALSE(confirmationSeen);
  EXPECT_EQ(opened().size(), 1u);
}

TEST_F(KnowledgeBaseTest, DetailsToggleShowsTheParagraph) {
  std::unique_ptr<FXKMessageBox> box(FXKMessageBox::create(options(true)));
  auto* impl = static_cast<FXKMessageBoxImpl*>(box.get());
  ASSERT_NE(impl->detailsButton(), nullptr);
  ASSERT_NE(impl->linkView(), nullptr);
  impl->FXDialogBox::create();
  EXPECT_FALSE(impl->linkView()->shown());
  const FXint before = impl->getDefaultHeight();
  click(impl->detailsButton());
  EXPECT_TRUE(impl->detailsShown());
  EXPECT_TRUE(impl->linkView()->shown());
  EXPECT_EQ(std::string(impl->detailsButton()->getText().text()), "Less details");
  EXPECT_GT(impl->getDefaultHeight(), before);
  click(impl->detailsButton());
  EXPECT_FALSE(impl->linkView()->shown());
  EXPECT_EQ(std::string(impl->detailsButton()->getText().text()), "More details");
}

}  // namespace
