// The file dialog over FOX's file dialog (driven by FOX events on a real X
// display), the filter conversion, the registry text reader and the update
// message box.
#include "gui/dialogs/file_dialog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "platform/fox/fx_file_dialog.h"
#include "platform/fox/fx_test_display.h"
#include "platform/win32/windows.h"
#include "platform/win32/testing/test_world.h"

using namespace FX;

namespace {

TEST(FileDialogFilter, WindowsFilterLists) {
  using namespace std::string_literals;
  struct Row {
    const char16_t* text;
    std::u16string expected;
  } rows[] = {
      {u"Packages (*.msi; *.msp)", u"Packages \0*.msi;*.msp\0\0"s},
      {u"Packages (*.msi; *.msp) trailing words\nAll files (*.*)\n", u"Packages \0*.msi;*.msp\0All files \0*.*\0\0"s},
      {u"", u""s},
      // A "(" at the end stops the scan; one without its ")" runs to the end.
      {u"Odd (", u"Odd \0"s},
      {u"Open (*.a *.b", u"Open \0*.a*.b\0\0"s},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(FXWString(r.text).toUtf8()));
    EXPECT_EQ(FXKFileDialogFilter(FXWString(r.text)), r.expected);
  }
}

// Runs `step` on the modal file dialog as soon as it is up.
class Driver : public FXObject {
  FXDECLARE(Driver)

 public:
  Driver() = default;
  std::function<void(FXFileDialog*)> step;
  FXString shownPattern;
  long onTimeout(FXObject*, FXSelector, void*) {
    auto* dialog = dynamic_cast<FXFileDialog*>(FXApp::instance()->getModalWindow());
    if (!dialog) {
      FXApp::instance()->addTimeout(this, 1, 10);
      return 1;
    }
    shownPattern = dialog->getPatternText(dialog->getCurrentPattern());
    step(dialog);
    return 1;
  }
};
FXDEFMAP(Driver) DriverMap[] = {FXMAPFUNC(SEL_TIMEOUT, 1, Driver::onTimeout)};
FXIMPLEMENT(Driver, FXObject, DriverMap, ARRAYNUMBER(DriverMap))

class FileDialogTest : public win32_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
    app = std::make_unique<FXApp>("kvtest", "kvtest");
    int argc = 1;
    static char name[] = "kvtest";
    char* argv[] = {name, nullptr};
    app->init(argc, argv);
    main = new FXMainWindow(app.get(), "main");
    app->create();
  }
  void TearDown() override {
    app.reset();
    World::TearDown();
  }
  // Accepts with `chosen` (a Unix path), or cancels when it is empty.
  void answer(const std::string& chosen) {
    driver.step = [chosen](FXFileDialog* dialog) {
      if (chosen.empty()) {
        dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), nullptr);
        return;
      }
      dialog->setFilename(chosen.c_str());
      dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
    };
    app->addTimeout(&driver, 1, 10);
  }
  std::unique_ptr<FXApp> app;
  FXMainWindow* main = nullptr;
  Driver driver;
};

TEST_F(FileDialogTest, ChosenPathsComeBackWholeAndCancelKeepsThePath) {
  put("out/package.msi", "x");
  FXWString path(u"C:\\out\\package.msi");
  answer(c("out/copy.msi"));
  EXPECT_TRUE(FXKShowFileDialog(main, path, FXWString(u"Packages (*.msi; *.msp)"), 5));
  EXPECT_EQ(std::u16string(path.text()), u"C:\\out\\copy.msi");
  EXPECT_EQ(driver.shownPattern, FXString("Packages (*.msi,*.msp)"));

  // A path of 300 characters: the old 256-character buffer cut it without
  // a terminator; it comes back whole.
  const std::string longName = std::string(290, 'n') + ".msi";
  answer(c("out/" + longName));
  EXPECT_TRUE(FXKShowFileDialog(main, path, FXWString(), 1));
  EXPECT_EQ(std::u16string(path.text()), u"C:\\out\\" + std::u16string(longName.begin(), longName.end()));

  answer("");
  const std::u16string before = path.text();
  EXPECT_FALSE(FXKShowFileDialog(main, path, FXWString(), 0));
  EXPECT_EQ(std::u16string(path.text()), before);
}

TEST_F(FileDialogTest, ABufferTooSmallIsRefusedNotCut) {
  WCHAR buffer[8] = u"C:\\a";
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = 8;
  answer(c("longer-name.txt"));
  EXPECT_FALSE(GetSaveFileNameW(&ofn));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
  EXPECT_EQ(buffer[0], static_cast<WCHAR>(std::u16string(u"C:\\longer-name.txt").size() + 1));

  ofn.lStructSize = 12;
  EXPECT_FALSE(GetOpenFileNameW(&ofn));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
}

class RegistryTextTest : public win32_test::World {};

TEST_F(RegistryTextTest, ValuesAndDefaults) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Kv\\Paths", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const std::u16string work = u"C:\\Work";
  RegSetValueExW(key, u"WorkingDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(work.c_str()),
                 static_cast<DWORD>((work.size() + 1) * 2));
  RegSetValueExW(key, u"Empty", 0, REG_SZ, nullptr, 0);
  // Five bytes without a terminator: the odd byte is dropped.
  const unsigned char odd[] = {'a', 0, 'b', 0, 'c'};
  RegSetValueExW(key, u"Odd", 0, REG_BINARY, odd, 5);
  RegCloseKey(key);

  const FXKRegistryText plain(HKEY_CURRENT_USER);
  const FXKRegistryText based(HKEY_CURRENT_USER, FXWString(u"Software\\Kv"));
  const FXWString def(u"default");
  struct Row {
    const char* what;
    const FXKRegistryText* reader;
    const char16_t* subkey;
    const char16_t* value;
    std::u16string expected;
  } rows[] = {
      {"a value", &plain, u"Software\\Kv\\Paths", u"WorkingDir", work},
      {"under the base path", &based, u"Paths", u"WorkingDir", work},
      {"missing key", &plain, u"Software\\Kv\\None", u"WorkingDir", u"default"},
      {"missing value", &plain, u"Software\\Kv\\Paths", u"Nothing", u"default"},
      {"empty value", &plain, u"Software\\Kv\\Paths", u"Empty", u"default"},
      {"odd size", &plain, u"Software\\Kv\\Paths", u"Odd", u"ab"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(std::u16string(r.reader->read(FXWString(r.subkey), FXWString(r.value), def).text()), r.expected);
  }
}

TEST_F(FileDialogTest, UpdateMessageBoxButtonsAndCheck) {
  auto* box = new FXKUpdateMessageBox(main, FXWString(u"Update"), FXWString(u"A new version is ready."),
                                      FXWString(u"Do not ask again"), FXWString(u"Install"), FXWString(u"Later"));
  box->create();
  box->show(PLACEMENT_SCREEN);
  EXPECT_FALSE(box->isChecked());
  box->handle(box, FXSEL(SEL_COMMAND, FXKUpdateMessageBox::ID_CHECK), reinterpret_cast<void*>(1));
  EXPECT_TRUE(box->isChecked());
  box->layout();
  for (FXWindow* b = box->buttonFrame()->getFirst(); b; b = b->getNext()) EXPECT_GE(b->getWidth(), 80);
  EXPECT_EQ(box->buttonFrame()->getFirst()->getWidth(), box->buttonFrame()->getLast()->getWidth());
  // Without a target the second button ends the box with 2.
  box->handle(box, FXSEL(SEL_COMMAND, FXKUpdateMessageBox::ID_BUTTON_SECOND), nullptr);
  EXPECT_FALSE(box->shown());
  delete box;
}

}  // namespace
