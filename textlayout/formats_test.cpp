// The formats' own rules, pinned as tables: the simple-format flag algebra,
// indents and tab stops, colour values and colour attributes, block and link
// attributes. These are the markup's behaviour, odd cases included.
#include <gtest/gtest.h>

#include "textlayout/formats.h"
#include "textlayout/layout.h"
#include "textlayout/layout_testing.h"

using namespace FX;

namespace {

FXWString W(const char16_t* s) { return FXWString(s); }

struct Parsed {
  std::unique_ptr<FXKTextLayout> layout;
  explicit Parsed(const char16_t* markup, bool justify = false)
      : layout(std::make_unique<FXKTextLayout>(layout_testing::app(false), justify)) {
    layout->setText(W(markup));
  }
  const FXKTextLayout::textstyle& at(int pos) const { return *layout->styleAtPosition(pos); }
  FXKTextLayout::block& child(int i = 0) const { return *std::next(layout->root().children.begin(), i); }
};

TEST(SimpleFormats, FlagAlgebraTable) {
  struct Case {
    const char* what;
    const char16_t* markup;
    bool justify;
    int position;
    std::uint32_t flags;
  } cases[] = {
      {"bold", u"<b>x</b>", false, 0, 0x200},
      {"nested bold: the inner close clears the bit", u"<b>a<b>b</b>c</b>", false, 2, 0},
      {"nested bold: inside both", u"<b>a<b>b</b>c</b>", false, 1, 0x200},
      {"a justified layout", u"x", true, 0, 3},
      {"center inside justify", u"<center>x</center>y", true, 0, 2},
      {"a center close leaves left alignment", u"<center>x</center>y", true, 1, 0},
      {"right inside center gives justify", u"<center><right>x", false, 0, 3},
      {"right alone", u"<right>x", false, 0, 1},
      {"left clears both bits", u"<center><left>x", false, 0, 0},
      {"center_y", u"<center_y>x", false, 0, 0x10},
      {"nowrap", u"<nobr>x</nobr>y", false, 0, 0x8000},
      {"italic and underline", u"<i><u>x", false, 0, 0xC00},
      {"shadow", u"<shadow>x", false, 0, 0x1000},
      {"hotkey underlines", u"<hotkey>x</hotkey>y", false, 0, 0x800},
      {"hotkey close", u"<hotkey>x</hotkey>y", false, 1, 0},
      {"an unknown tag keeps the style", u"<b>x<zz>y", false, 1, 0x200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Parsed p(c.markup, c.justify);
    EXPECT_EQ(p.at(c.position).flags, c.flags);
  }
}

TEST(SimpleFormats, IndentsAndTabStops) {
  struct Case {
    const char16_t* markup;
    std::int32_t indent;
    bool flag;
    std::int32_t tab;
  } cases[] = {
      {u"<indent value=20>x", 20, true, 8},
      {u"<indent value=20px>x", -20, true, 8},
      {u"<indent value=12px>x", -12, true, 8},
      {u"<indent value=0>x", 0, false, 8},
      {u"<indent value=2 value=5>x", 5, true, 8},  // a later value wins
      {u"<indent value=20>x</indent>y", 0, false, 8},
      {u"<tabpoint value=4>x", 0, false, 4},
      {u"<tabpoint>x", 0, false, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(layout_testing::visible(W(c.markup)));
    Parsed p(c.markup);
    const auto& s = p.at(p.layout->text().length() - 1);
    EXPECT_EQ(s.indent, c.indent);
    EXPECT_EQ((s.flags & 0x4000) != 0, c.flag);
    EXPECT_EQ(s.tabWidth, c.tab);
  }
  Parsed pt(u"<tabpoint value=4pt>x");
  EXPECT_EQ(pt.layout->root().flags & 0xC000, 0x4000u);  // points
  Parsed px(u"<tabpoint value=4px>x");
  EXPECT_EQ(px.layout->root().flags & 0xC000, 0x8000u);  // pixels
}

TEST(ColorFormats, ColourValueTable) {
  FXKTextLayout layout(layout_testing::app(false), false);
  struct Case {
    const char16_t* value;
    FXColor color;
  } cases[] = {
      {u"#0000ff", FXRGBA(0, 0, 255, 255)},
      {u"0xff0000", FXRGBA(0, 0, 255, 255)},  // FOX's order: blue, green, red
      {u"#ff0000", FXRGBA(255, 0, 0, 255)},
      {u"0x0000ff", FXRGBA(255, 0, 0, 255)},
      {u"#000000", FXRGBA(0, 0, 0, 255)},    // black is set, never 0
      {u"0xff00", 0},                        // six characters: a stock name, unknown
      {u"korvblue", FXRGBA(0, 67, 157, 255)},  // a stock colour by name
      {u"nosuchcolour", 0},
      {u"", 0},
      {u"#12zz56", FXRGBA(0, 0, 0x12, 255)},  // non-hex digits end the number early
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(layout_testing::visible(W(c.value)));
    EXPECT_EQ(FXKTextFormatColor::parseColor(&layout, W(c.value)).value, c.color);
  }
}

TEST(ColorFormats, ColourAttributeTable) {
  const FXColor red = FXRGBA(255, 0, 0, 255), green = FXRGBA(0, 255, 0, 255), blue = FXRGBA(0, 0, 255, 255);
  {  // hover before background: the background sets both
    Parsed p(u"<table bgcolor-hover=#ff0000 bgcolor=#00ff00>x</table>");
    EXPECT_EQ(p.child().backColor.value, green);
    EXPECT_EQ(p.child().hoverBackColor.value, green);
  }
  {  // background after hover: hover stays its own
    Parsed p(u"<table bgcolor=#00ff00 bgcolor-hover=#ff0000>x</table>");
    EXPECT_EQ(p.child().hoverBackColor.value, red);
  }
  {  // the last gradient pair wins
    Parsed v(u"<div gradient=horizontal gradient=vertical>x</div>");
    EXPECT_NE(v.child().flags & 0x20000, 0u);
    Parsed h(u"<div gradient=vertical gradient=horizontal>x</div>");
    EXPECT_EQ(h.child().flags & 0x20000, 0u);
  }
  {  // a background tag takes whichever colour pair comes first
    Parsed a(u"<background color=#ff0000 bgcolor=#0000ff>x");
    EXPECT_EQ(a.layout->root().backColor.value, red);
    Parsed b(u"<background bgcolor=#0000ff color=#ff0000>x");
    EXPECT_EQ(b.layout->root().backColor.value, blue);
  }
  {  // textcolor looks for value and font-color only
    Parsed s(u"<textcolor stock=korvblue>x");
    EXPECT_EQ(s.at(0).textColor.value, 0u);
    Parsed v(u"<textcolor value=#00ff00>x</textcolor>y");
    EXPECT_EQ(v.at(0).textColor.value, green);
    EXPECT_EQ(v.at(1).textColor.value, 0u);  // the close empties it
  }
  {  // named colours through "stock" in the attribute lookup, skipped when unknown
    Parsed p(u"<foreground stock=nosuch stock=korvblue>x");
    EXPECT_EQ(p.layout->root().textColor.value, FXRGBA(0, 67, 157, 255));
  }
}

TEST(BlockFormats, AttributeTable) {
  {
    Parsed p(u"<table cellpadding=300 cellspacing=4><tr cellpadding=9><td>x</td></tr></table>");
    auto& table = p.child();
    EXPECT_EQ(table.padding, 44);  // 8 bits
    EXPECT_EQ(table.spacing, 4);
    auto& row = table.children.front();
    EXPECT_EQ(row.padding, 44);  // inherited, its own attribute ignored
    EXPECT_EQ(row.spacing, 4);
  }
  {
    Parsed p(u"<table cellspacing=4><tr><td><p>x</p></td></tr></table>");
    auto& cell = p.child().children.front().children.front();
    EXPECT_EQ(cell.children.front().spacing, 1);  // a paragraph does not inherit
  }
  {
    Parsed p(u"<table><tr><td colspan=1>a</td><td colspan=2>b</td></tr></table>");
    auto& row = p.child().children.front();
    auto it = row.children.begin();
    EXPECT_EQ(it->flags & 0x800, 0u);
    ++it;
    EXPECT_NE(it->flags & 0x800, 0u);
    ++it;  // span expansion's placeholder
    ASSERT_NE(it, row.children.end());
    EXPECT_NE(it->flags & 0x2000, 0u);
  }
  {
    Parsed p(u"<table width=50% width=200>x</table>");
    EXPECT_EQ(p.child().width, 200);
    EXPECT_EQ(p.child().flags & 0x200, 0u);
  }
  struct Vis {
    const char16_t* markup;
    bool hidden;
  } vis[] = {{u"<div visible=1>x</div>", false}, {u"<div visible=no>x</div>", true},
             {u"<div hiddden=true>x</div>", true}, {u"<div hidden=true>x</div>", false}};
  for (const Vis& v : vis) {
    Parsed p(v.markup);
    EXPECT_EQ((p.child().flags & 0x800000) != 0, v.hidden) << layout_testing::visible(W(v.markup));
  }
}

TEST(LinkFormats, LinkLookTable) {
  Parsed plain(u"<a href=x>t</a>");
  EXPECT_EQ(plain.at(0).flags & 0x22800, 0x22800u);
  EXPECT_EQ(plain.at(0).textColor.value, 0xFFC00000u);
  EXPECT_EQ(plain.at(0).link.toUtf8(), "x");
  EXPECT_EQ(plain.layout->links().size(), 2u);

  Parsed off(u"<a href=x enabled=false>t</a>");
  EXPECT_EQ(off.at(0).textColor.value, 0xFF808080u);
  EXPECT_EQ(off.at(0).flags & 0x2000, 0u);
  EXPECT_EQ(off.layout->links().size(), 1u);  // no entry

  Parsed on(u"<a format=flatex underline=true>t</a>");
  EXPECT_NE(on.at(0).flags & 0x800, 0u);
  Parsed offOrder(u"<a underline=true format=flatex>t</a>");
  EXPECT_EQ(offOrder.at(0).flags & 0x800, 0u);

  // A named style with font-decoration none removes the link's underline.
  Parsed styled(u"<style class=a name=quiet font-decoration=none/><a class=quiet href=x>t</a>");
  EXPECT_EQ(styled.at(0).flags & 0x800, 0u);
}

}  // namespace
