// Printing to a PostScript file through FOX's printer context: pages cut so
// that no line is split, read back with Ghostscript.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/fox/fx_print.h"
#include "textlayout/view_test_fixture.h"

using namespace FX;
using kvtest::ViewApp;

namespace {

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Printing : public ViewApp {
 protected:
  void SetUp() override {
    ViewApp::SetUp();
    if (IsSkipped()) return;
    const char* tmp = std::getenv("KV_TEST_TMP");
    dir = std::string(tmp ? tmp : "/tmp") + "/kv_print_" + std::to_string(::getpid());
    std::system(("mkdir -p " + dir).c_str());
  }
  void TearDown() override {
    if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
  }
  // Prints the markup on pages of the given printable size; the PostScript.
  std::string print(const char16_t* markup, int width, int pageHeight, FXKTextLayout* keep = nullptr) {
    auto l = layoutOf(markup, width);
    FXKTextLayout* layout = keep ? keep : l.get();
    path = dir + "/out.ps";
    FXPrinter job{};
    job.name = path.c_str();
    job.flags = PRINT_DEST_FILE;
    job.mediawidth = 612;
    job.mediaheight = 792;
    job.leftmargin = job.rightmargin = job.topmargin = job.bottommargin = 36;
    job.firstpage = job.frompage = 1;
    job.lastpage = job.topage = 100;
    job.numcopies = 1;
    FXDCPrintExt dc(app);
    EXPECT_TRUE(dc.beginPrint(job));
    dc.setPrintableSize(width, pageHeight);
    dc.beginPage(1);
    layout->print(dc);
    dc.endPage();
    dc.endPrint();
    pages = dc.pagesBegun();
    return slurp(path);
  }
  std::string dir, path;
  int pages = 0;
};

TEST_F(Printing, TwoHundredFiftyPixelsOnHundredPixelPagesAreThreePages) {
  const std::string ps = print(
      u"<html><vpad height=100/><vpad height=100/><vpad height=50/></html>", 300, 100);
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(count(ps, "%%Page: "), 3);
  if (std::system("gs --version >/dev/null 2>&1") == 0) {
    const std::string bbox = run("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=bbox " + path + " 2>&1");
    EXPECT_EQ(count(bbox, "%%BoundingBox"), 3) << bbox;
  }
}

TEST_F(Printing, ALineCutByThePageBottomMovesWholeToTheNextPage) {
  // A pad of 95 pixels, then a 15-pixel line from 95 to 110.
  const std::string ps = print(u"<html><vpad height=95/>Moved</html>", 300, 100);
  EXPECT_EQ(pages, 2);
  if (std::system("gs --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no Ghostscript";
  run("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=txtwrite -sOutputFile=" + dir + "/page%d.txt " + path);
  EXPECT_EQ(slurp(dir + "/page1.txt").find("Moved"), std::string::npos);
  EXPECT_NE(slurp(dir + "/page2.txt").find("Moved"), std::string::npos);
}

TEST_F(Printing, ALineTallerThanAPageStillEnds) {
  // 150 pixels in one line on 100-pixel pages: the carry cannot hold the page back.
  print(u"<html><vpad height=150/></html>", 300, 100);
  EXPECT_EQ(pages, 2);
}

TEST_F(Printing, TheScreenLayoutComesBackAndAnEmptyPrintableAreaPrintsNothing) {
  auto l = layoutOf(u"one two three four five six seven", 120);
  const int height = l->getContentHeight(), lines = static_cast<int>(l->lines().size());
  l->setScrollOffset(3, 9);
  print(u"", 400, 100, l.get());
  EXPECT_EQ(l->getContentHeight(), height);
  EXPECT_EQ(static_cast<int>(l->lines().size()), lines);
  EXPECT_EQ(l->scrollX_, 3);
  EXPECT_EQ(l->scrollY_, 9);

  FXDCPrintExt idle(app);  // no job: no printable area
  l->print(idle);
  EXPECT_EQ(l->pagesPrinted_, 1);  // unchanged from the print above
  EXPECT_EQ(idle.pagesBegun(), 0);
}

}  // namespace
