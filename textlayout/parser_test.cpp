// The markup parser: one table of edge cases with a canonical dump of the
// result (text with visible markers, style runs, blocks, links, anchors,
// tooltips). No display needed: parsing measures nothing.
#include <gtest/gtest.h>

#include "textlayout/formats.h"
#include "textlayout/layout.h"
#include "textlayout/layout_testing.h"

using namespace FX;
using layout_testing::dump;

namespace {

FXWString W(const char16_t* s) { return FXWString(s); }

std::string parse(const char16_t* markup, bool justify = false) {
  FXKTextLayout layout(layout_testing::app(false), justify);
  layout.setText(W(markup));
  return dump(layout);
}

TEST(Parser, EdgeCaseTable) {
  struct Case {
    const char* what;
    const char16_t* markup;
    const char* expected;
  } cases[] = {
      {"empty text: the root, one run, the sentinels", u"", "\"\" runs 0:0 1:0 blocks [1:0 0-0] links anchors"},
      {"br breaks only on its close", u"a<br>b", "\"ab\" runs 0:0 1:0 3:0 blocks [1:0 0-2] links anchors"},
      {"self-closing br", u"a<br/>b", "\"a\\nb\" runs 0:0 2:0 4:0 blocks [1:0 0-3] links anchors"},
      {"end tag br", u"a</br>b", "\"a\\nb\" runs 0:0 2:0 4:0 blocks [1:0 0-3] links anchors"},
      {"self-closing endl", u"a<endl/>b", "\"a\\nb\" runs 0:0 2:0 4:0 blocks [1:0 0-3] links anchors"},
      {"a tag named backslash-n", u"a<\\n/>b", "\"a\\nb\" runs 0:0 2:0 4:0 blocks [1:0 0-3] links anchors"},
      {"a line feed breaks", u"a\nb", "\"a\\nb\" runs 0:0 4:0 blocks [1:0 0-3] links anchors"},
      {"center swallows the next line feed", u"<center>\nx", "\"x\" runs 0:2 2:0 blocks [1:0 0-1] links anchors"},
      {"center, text, line feed breaks", u"<center>x\ny",
       "\"x\\ny\" runs 0:2 4:0 blocks [1:0 0-3] links anchors"},
      {"a tag's name counts as text for the rule", u"<center><b>\nx",
       "\"\\nx\" runs 0:202 3:0 blocks [1:0 0-2] links anchors"},
      {"end of a cell swallows the line feed", u"<table><tr><td>a</td>\n</tr></table>b",
       "\"ab\" runs 0:0 1:0 3:0 blocks [1:0 0-2 [2:2 0-1 [3:4 0-1 [4:8 0-1]]]] links anchors"},
      {"two-digit entity", u"&#65;", "\"A\" runs 0:0 2:0 blocks [1:0 0-1] links anchors"},
      {"three digits with a leading zero", u"&#065;x", "\"Ax\" runs 0:0 3:0 blocks [1:0 0-2] links anchors"},
      {"one digit stays as typed", u"&#6;", "\"&#6;\" runs 0:0 5:0 blocks [1:0 0-4] links anchors"},
      {"six digits stay as typed", u"&#123456;",
       "\"&#123456;\" runs 0:0 10:0 blocks [1:0 0-9] links anchors"},
      {"five digits above 65535 keep 16 bits", u"&#99999;",
       "\"{869f}\" runs 0:0 2:0 blocks [1:0 0-1] links anchors"},
      {"a named entity stays", u"&amp;", "\"&amp;\" runs 0:0 6:0 blocks [1:0 0-5] links anchors"},
      {"an entity at the end is dropped", u"x&#6", "\"x\" runs 0:0 2:0 blocks [1:0 0-1] links anchors"},
      {"upper-case tag names", u"<B>x</B>y", "\"xy\" runs 0:200 1:0 3:0 blocks [1:0 0-2] links anchors"},
      {"a blank before the name: unknown, dropped", u"< b>x</b>", "\"x\" runs 0:0 1:0 2:0 blocks [1:0 0-1] links anchors"},
      {"blanks after the name and the slash", u"<b >x</ b>y",
       "\"xy\" runs 0:200 1:0 3:0 blocks [1:0 0-2] links anchors"},
      {"a literal holds > inside a value", u"<a href=\uF800x>y\uF800>t</a>",
       "\"t\" runs 0:22800 1:0 2:0 blocks [1:0 0-1] links 0-1 anchors"},
      {"literal text keeps < and >", u"\uF800<b>\uF800x",
       "\"<b>x\" runs 0:0 5:0 blocks [1:0 0-4] links anchors"},
      {"<a<b>: the first tag is a", u"<a<b>", "\"b>\" runs 0:22800 3:0 blocks [1:0 0-2] links 0--1 anchors"},
      {"a tooltip body adds no text; its line feed still breaks", u"x<tooltip name='t1'>&#65;<b>y</b>\n</tooltip>z",
       "\"x\\nz\" runs 0:0 4:0 blocks [1:0 0-3] links anchors tip #t1=&#65;<b>y</b>\\n</tooltip>"},
      {"an unknown tag starts a run and keeps the style", u"<i>x<foo>y</i>",
       "\"xy\" runs 0:400 1:400 2:0 3:0 blocks [1:0 0-2] links anchors"},
      {"an unterminated tag is dropped", u"x<b", "\"x\" runs 0:0 2:0 blocks [1:0 0-1] links anchors"},
      {"anchor with id and name takes the id", u"<anchor id=one name=two>x</anchor>",
       "\"x\" runs 0:20000 1:0 2:0 blocks [1:0 0-1] links anchors one@0-1"},
      {"a paragraph closes with a pad", u"<p>x</p>",
       "\"x|@|\" runs 0:0 4:0 5:0 blocks [1:0 0-4 [2:81 0-1]] links anchors"},
      {"an object after a line break gets no separator", u"x\n<vpad height=3/>",
       "\"x\\n@|\" runs 0:0 2:0 4:0 5:0 blocks [1:0 0-4 [2:0 2-3]] links anchors"},
      {"context markers", u"<context id=c>x</context>",
       "\"|x|\" runs 0:0 1:0 3:0 4:0 blocks [1:0 0-3] links anchors"},
      // Each end tag closes its own link: the disabled inner link opened no
      // entry, so its end leaves the enclosing link open until its own end.
      // (One saved style, not a stack: the outer end restores what the inner
      // start saved, so "4" keeps the link's look.)
      // More end tags than start tags: the root stays open, a later block
      // tag opens below it.
      {"surplus end tags leave the root open", u"<tr>a</tr></table></td>b<p>c</p>",
       "\"abc|@|\" runs 0:0 1:0 2:0 6:0 7:0 blocks [1:0 0-6 [2:4 0-1] [3:81 2-3]] links anchors"},
      {"an object marker in the markup is no object", u"x\uF805y&#63493;",
       "\"x{fffd}y{fffd}\" runs 0:0 5:0 blocks [1:0 0-4] links anchors"},
      {"a block marker in the markup breaks the line", u"x\u2028y",
       "\"x\\ny\" runs 0:0 4:0 blocks [1:0 0-3] links anchors"},
      {"an end tag after a disabled nested link", u"<a href=o>1<a enabled=false>2</a>3</a>4",
       "\"1234\" runs 0:22800 1:20800 2:22800 3:22800 5:0 blocks [1:0 0-4] links 0-3 anchors"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(parse(c.markup), c.expected);
  }
}

TEST(Parser, TheTokenizerSplitsAtBlanksAndEqualsOutsideQuotes) {
  FXKTextLayout layout(layout_testing::app(false), false);
  struct Case {
    const char16_t* tag;
    std::vector<std::u16string> tokens;
  } cases[] = {
      {u"font face='Arial Black Bold' size=12", {u"font", u"face", u"Arial Black Bold", u"size", u"12"}},
      {u"a = b", {u"a", u"", u"", u"b"}},
      {u"A href=\"x 'y'\"", {u"a", u"href", u"x 'y'"}},
      {u"a href=\uF800x=y\uF800", {u"a", u"href", u"x=y"}},
      {u"/ B x", {u"b x"}},  // an end tag is not split
  };
  for (const Case& c : cases) {
    FXWString tokens[FXKTextLayout::kMaxTokens];
    FXKTextLayout::tagcontext ctx;
    ctx.layout = &layout;
    ctx.style = &layout.currentStyle();
    ctx.tokens = tokens;
    FXKTextLayout::block* current = &layout.root();
    ctx.current = &current;
    std::int32_t a = 0, l = 0;
    ctx.anchorCursor = &a;
    ctx.linkCursor = &l;
    const FXWString tag(c.tag);
    layout.parseTag(tag.text(), tag.length(), ctx);
    std::vector<std::u16string> got;
    for (int i = 0; i <= ctx.lastToken; ++i) got.push_back(tokens[i].str());
    if (c.tokens.size() == 1) got.resize(1);
    EXPECT_EQ(got, c.tokens);
  }
}

TEST(Parser, TheTagTableHas58NamesAndUnknownNamesGoIntoTheText) {
  FXKTextLayout layout(layout_testing::app(false), false);
  EXPECT_EQ(FXKTextLayout::tagTable().size(), 58u);
  EXPECT_NE(layout.findFormat("bold"), nullptr);
  EXPECT_EQ(layout.findFormat(nullptr), nullptr);
  EXPECT_EQ(layout.findFormatByName("nope"), nullptr);
  EXPECT_EQ(layout.text().toUtf8(), "<nope>");
}

TEST(Layout, AnImageFoundNowhereIsNullAndNotCached) {
  FXKTextLayout layout(layout_testing::app(false), false);
  EXPECT_EQ(layout.getImage(W(u"no-such-image.png"), false), nullptr);
  EXPECT_EQ(layout.getImage(W(u"no-such-image.png"), false), nullptr);
  // PNG data cut short is refused, not read past its end.
  const std::string truncated("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10", 20);
  EXPECT_EQ(layout.loadImage(W(u"cut"), truncated, false), nullptr);
}

TEST(Parser, ObjectsGetSeparatorsOnlyAfterText) {
  FXKTextLayout layout(layout_testing::app(false), false);
  layout.setText(W(u"x<vpad/>\n<vpad/>"));
  EXPECT_EQ(layout_testing::visible(layout.text()), "x|@\\n@|");
  EXPECT_EQ(layout.objects().size(), 2u);
}

}  // namespace
