// The text view on the test's X display with synthetic FOX events: scroll
// bars, fixed blocks, link focus with Tab and the arrows, selection and the
// clipboard, and links opened through the shell recorder.
#include "textlayout/text_view.h"

#include <unistd.h>

#include <fxkeys.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/resource_archive.h"
#include "core/resource_testing.h"
#include "files/zip_writer.h"
#include "platform/win32/windows.h"
#include "textlayout/view_test_fixture.h"
#include "xml/product_configuration.h"

using namespace FX;
using kvtest::ViewApp;

namespace {

std::u16string manyLines(int n) {
  std::u16string s;
  for (int i = 0; i < n; ++i) s += u"line number " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + u"<br/>";
  return s;
}

class TextView : public ViewApp {
 protected:
  void SetUp() override {
    ViewApp::SetUp();
    if (IsSkipped()) return;
    view = new FXKTextView(main, nullptr, 0, LAYOUT_FIX_WIDTH | LAYOUT_FIX_HEIGHT | FXKTextView::TEXTVIEW_SELECTABLE, 0,
                           0, 300, 200);
    view->create();
    main->show(PLACEMENT_DEFAULT);
    main->layout();
    settle();
  }
  void TearDown() override {
    if (view) {
      view->destroy();
      delete view;
      view = nullptr;
    }
    win32::record_shell_calls(false);
  }
  void setText(const std::u16string& markup) {
    view->setText(FXWString(markup));
    main->layout();
    view->layout();
    settle();
  }
  long key(FXuint code, FXuint state = 0) {
    FXEvent ev;
    ev.type = SEL_KEYPRESS;
    ev.code = code;
    ev.state = state;
    long r = view->handle(main, FXSEL(SEL_KEYPRESS, 0), &ev);
    ev.type = SEL_KEYRELEASE;
    view->handle(main, FXSEL(SEL_KEYRELEASE, 0), &ev);
    settle();
    return r;
  }
  // A click at a point of the text (content coordinates).
  void click(FXint x, FXint y, FXint count = 1) {
    view->contentToWindow(x, y);
    FXEvent ev;
    ev.win_x = x;
    ev.win_y = y;
    ev.click_count = count;
    ev.state = 0;
    ev.type = SEL_LEFTBUTTONPRESS;
    view->handle(view, FXSEL(SEL_LEFTBUTTONPRESS, 0), &ev);
    ev.type = SEL_LEFTBUTTONRELEASE;
    view->handle(view, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &ev);
    settle();
  }
  FXRectangle linkArea(int entry) {
    const auto& e = view->getLayout()->links()[static_cast<std::size_t>(entry)];
    return view->getLayout()->rangeRect(e.start, e.end);
  }
  // The view's pixels as it paints them, on an image: other tests' windows
  // on the same display cannot cover them.
  std::unique_ptr<FXImage> snapshot() {
    auto img = std::make_unique<FXImage>(app, nullptr, IMAGE_KEEP | IMAGE_OWNED, view->getWidth(), view->getHeight());
    img->create();
    {
      FXDCWindow dc(img.get());
      dc.setForeground(FXRGB(1, 2, 3));
      dc.fillRectangle(0, 0, view->getWidth(), view->getHeight());
      view->paintInto(dc, FXRectangle(0, 0, static_cast<FXshort>(view->getViewportWidth()),
                                      static_cast<FXshort>(view->getViewportHeight())));
    }
    img->restore();
    return img;
  }
  FXString clipboard() {
    FXuchar* data = nullptr;
    FXuint size = 0;
    FXString out;
    if (main->getDNDData(FROM_CLIPBOARD, FXWindow::utf8Type, data, size)) {
      out.assign(reinterpret_cast<FXchar*>(data), static_cast<FXint>(size));
      FXFREE(&data);
    }
    return out;
  }

  FXKTextView* view = nullptr;
};

TEST_F(TextView, ScrollBarsOnlyWhenNeeded) {
  setText(u"A short text.");
  EXPECT_FALSE(view->verticalShown());
  EXPECT_FALSE(view->horizontalShown());
  EXPECT_EQ(view->getLayoutWidth(), 300 - 8);

  setText(manyLines(40));
  EXPECT_TRUE(view->verticalShown());
  EXPECT_FALSE(view->horizontalShown());
  // Laid out again for the width left beside the bar.
  EXPECT_EQ(view->getLayoutWidth(), 300 - 8 - view->verticalScrollBar()->getDefaultWidth());

  setText(u"Short again.");
  EXPECT_FALSE(view->verticalShown());
}

TEST_F(TextView, MarginsMoveTheTextAndNarrowTheLayout) {
  setText(u"Margins");
  const FXint before = view->getLayoutWidth();
  view->setMargins(10, 5, 0, 0);
  view->layout();
  settle();
  EXPECT_EQ(view->getLayoutWidth(), before + 8 - 15);
  FXint x = 0, y = 0;
  view->contentToWindow(x, y);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 0);
}

TEST_F(TextView, AFixedBlockStaysWhileTheRestScrolls) {
  setText(u"<table constant_y=true bgcolor=#ff0000 width=100%><tr><td>Fixed head</td></tr></table>" + manyLines(60));
  ASSERT_TRUE(view->verticalShown());
  FXKTextLayout::block* fixed = findBlock(view->getLayout()->root(), FXKTextLayout::kBlockConstY);
  ASSERT_NE(fixed, nullptr);
  const FXint fy = fixed->y + fixed->h / 2, fx = fixed->x + fixed->w - 4;
  FXint wx = fx, wy = fy;
  view->contentToWindow(wx, wy);
  auto before = snapshot();
  EXPECT_EQ(before->getPixel(wx, wy) & 0xFFFFFF, FXRGB(255, 0, 0) & 0xFFFFFF);
  // A text row below the head before scrolling.
  const FXint probeY = wy + 40;
  view->setPosition(0, -90);
  settle();
  auto after = snapshot();
  if (std::getenv("KV_DUMP_SNAPSHOTS")) {
    for (auto* im : {before.get(), after.get()}) {
      static int n = 0;
      FILE* f = std::fopen(("/tmp/snap" + std::to_string(n++) + ".ppm").c_str(), "wb");
      std::fprintf(f, "P6 %d %d 255\n", im->getWidth(), im->getHeight());
      for (int y = 0; y < im->getHeight(); ++y)
        for (int x = 0; x < im->getWidth(); ++x) {
          FXColor c = im->getPixel(x, y);
          unsigned char px[3] = {FXREDVAL(c), FXGREENVAL(c), FXBLUEVAL(c)};
          std::fwrite(px, 1, 3, f);
        }
      std::fclose(f);
    }
  }
  EXPECT_EQ(after->getPixel(wx, wy) & 0xFFFFFF, FXRGB(255, 0, 0) & 0xFFFFFF) << "the fixed block moved";
  bool rowChanged = false;
  for (FXint y = probeY; y < probeY + 60 && !rowChanged; ++y)
    for (FXint x = 0; x < 250 && !rowChanged; ++x) rowChanged = (before->getPixel(x, y) != after->getPixel(x, y));
  EXPECT_TRUE(rowChanged) << "the rest did not scroll";
}

TEST_F(TextView, TabAndArrowsWalkTheLinks) {
  setText(u"<a href=one>First</a><br/><a href=two>Second</a><br/><a href=three>Third</a>");
  FXKTextLayoutView* l = view->getLayout();
  ASSERT_EQ(l->links().size(), 4u);
  EXPECT_EQ(key(KEY_Tab), 1);
  EXPECT_EQ(l->focusedLink(), &l->links()[1]);
  key(KEY_Tab);
  EXPECT_EQ(l->focusedLink(), &l->links()[2]);
  key(KEY_Tab, SHIFTMASK);
  EXPECT_EQ(l->focusedLink(), &l->links()[1]);
  key(KEY_Down);
  EXPECT_EQ(l->focusedLink(), &l->links()[2]);
  key(KEY_Up);
  EXPECT_EQ(l->focusedLink(), &l->links()[1]);
  // Past the last link the focus leaves the text.
  key(KEY_Tab);
  key(KEY_Tab);
  EXPECT_EQ(l->focusedLink(), &l->links()[3]);
  EXPECT_EQ(key(KEY_Tab), 0);
  EXPECT_EQ(l->focusedLink(), nullptr);
}

TEST_F(TextView, HoverRepaintsOnlyTheLinksItEntersAndLeaves) {
  setText(u"<a format=flatex href=a>Alpha</a> <a format=flatex href=b>Beta</a> plain text");
  auto move = [&](FXint x, FXint y) {
    view->contentToWindow(x, y);
    FXEvent ev;
    ev.type = SEL_MOTION;
    ev.win_x = x;
    ev.win_y = y;
    ev.state = 0;
    view->handle(view, FXSEL(SEL_MOTION, 0), &ev);
  };
  const FXRectangle a = linkArea(1), b = linkArea(2);
  const FXint y = a.y + a.h / 2;
  const std::int64_t start = view->repaintRequests();
  move(a.x + 2, y);
  move(a.x + 4, y);  // still on the same link: nothing new
  EXPECT_EQ(view->repaintRequests() - start, 1);
  move(b.x + 2, y);  // straight onto the next link: the first is repainted too
  EXPECT_EQ(view->repaintRequests() - start, 3);
  EXPECT_EQ(view->getLayout()->hoveredLink_, view->getLayout()->styleAt(b.x + 2, y)->linkIndex);
  move(b.x + b.w + 30, y);  // plain text
  EXPECT_EQ(view->repaintRequests() - start, 4);
  EXPECT_EQ(view->getLayout()->hoveredLink_, -1);
}

TEST_F(TextView, TabWithoutLinksLeavesTheView) {
  setText(u"No links here.");
  EXPECT_EQ(key(KEY_Tab), 0);
}

TEST_F(TextView, SelectionCopyAndCopyAllFillTheClipboard) {
  setText(u"Hello world<br/>second line");
  FXKTextLayoutView* l = view->getLayout();
  // Ctrl+C without a selection leaves the clipboard alone.
  key(KEY_c, CONTROLMASK);
  EXPECT_TRUE(view->getClipboardText().empty());

  const FXRectangle world = l->rangeRect(6, 11);
  click(world.x + world.w / 2, world.y + world.h / 2, 2);
  EXPECT_EQ(l->selectedText().toUtf8(), "world");
  key(KEY_c, CONTROLMASK);
  EXPECT_EQ(view->getClipboardText().toUtf8(), "world");
  if (view->hasClipboard()) {
    EXPECT_EQ(std::string(clipboard().text()), "world");
  }

  view->handle(view, FXSEL(SEL_COMMAND, FXKTextView::ID_COPY_ALL), nullptr);
  settle();
  EXPECT_EQ(view->getClipboardText().toUtf8(), "Hello world\r\nsecond line");
  if (view->hasClipboard()) {
    EXPECT_EQ(std::string(clipboard().text()), "Hello world\r\nsecond line");
  }

  key(KEY_a, CONTROLMASK);
  key(KEY_c, CONTROLMASK);
  EXPECT_EQ(view->getClipboardText().toUtf8(), "Hello world\r\nsecond line");
  if (view->hasClipboard()) {
    EXPECT_EQ(std::string(clipboard().text()), "Hello world\r\nsecond line");
  }
}

// The product configuration comes from a program archive made here, so no
// earlier look-up in this process (current folder, archive) can hide it.
class TextViewLinks : public TextView {
 protected:
  void SetUp() override {
    TextView::SetUp();
    if (IsSkipped()) return;
    const char* tmp = std::getenv("KV_TEST_TMP");
    dir = std::string(tmp ? tmp : "/tmp") + "/kv_links_" + std::to_string(::getpid());
    std::system(("mkdir -p " + dir).c_str());
    std::ostringstream zip;
    zip_writer w(zip);
    ASSERT_TRUE(w.add(Common::configurationMemberName,
                      "<resource><string name='main_url'>http://www.example.test/</string>"
                      "<string name='secure_url'>https://www.example.test/s</string></resource>"));
    ASSERT_TRUE(w.finish());
    const std::string archive = dir + "/program.zip";
    std::ofstream(archive, std::ios::binary) << zip.str();
    archivePath = u"Z:";
    for (char c : archive) archivePath.push_back(static_cast<unsigned char>(c));
    Common::testing::setProgramArchivePath(archivePath.c_str());
    Common::testing::setResourceFileState(2);
    Common::testing::reloadProductConfiguration();
    win32::record_shell_calls(true);
  }
  void TearDown() override {
    TextView::TearDown();
    Common::testing::setProgramArchivePath(nullptr);
    Common::testing::setResourceFileState(0);
    Common::testing::reloadProductConfiguration();
    if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
  }
  std::string dir;
  std::u16string archivePath;
};

TEST_F(TextViewLinks, ClicksOpenConfiguredAddressesAndProgramsThroughTheShell) {
  setText(
      u"<a href=string:main_url>Home</a><br/><a href=\"execute://Z:\\bin\\echo @--flag 'a b'\">Run</a><br/>"
      u"<a href=string:secure_url>Secure</a><br/><a href=\"execute://tool; rm -rf x\">Plain</a><br/>"
      u"<a href=nothing>None</a>");
  for (int entry = 1; entry <= 5; ++entry) {
    const FXRectangle r = linkArea(entry);
    click(r.x + 2, r.y + r.h / 2);
  }
  const auto calls = win32::recorded_shell_calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].file, u"http://www.example.test/");
  EXPECT_EQ(calls[0].verb, u"open");
  EXPECT_EQ(calls[0].show, 5);
  // The program and its arguments apart, as given; the blank before "@" dropped.
  EXPECT_EQ(calls[1].file, u"Z:\\bin\\echo");
  EXPECT_TRUE(calls[1].program);
  EXPECT_EQ(calls[1].parameters, u"--flag 'a b'");
  EXPECT_EQ(calls[2].file, u"https://www.example.test/s");
  // Without "@": the whole rest is the program, never a command line.
  EXPECT_EQ(calls[3].file, u"tool; rm -rf x");
  EXPECT_EQ(calls[3].parameters, u"");
}

TEST_F(TextViewLinks, EnvironmentVariablesAreExpandedBeforeTheSchemeTest) {
  ::setenv("KV_LINK_SCHEME", "http", 1);
  setText(u"<a href=\"%KV_LINK_SCHEME%://expanded.test/\">Env</a>");
  const FXRectangle r = linkArea(1);
  click(r.x + 2, r.y + r.h / 2);
  const auto calls = win32::recorded_shell_calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].file, u"http://expanded.test/");
  ::unsetenv("KV_LINK_SCHEME");
}

}  // namespace
