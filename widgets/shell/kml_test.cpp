#include "widgets/shell/kml.h"

using FX::FXWString;

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "widgets/shell/shell_items.h"

namespace {

// The root of a parsed text document; the test keeps the document.
struct Doc {
  explicit Doc(const std::string& text) {
    int line = 0, column = 0;
    ok = document.load_memory(text.data(), text.size(), line, column);
  }
  const xml_node& root() const { return *document.root(); }
  const xml_node& first() const { return *document.root()->children().at(0); }
  xml_document document;
  bool ok = false;
};

std::string narrow(const FXWString& w) { return w.toUtf8(); }

TEST(KmlCommandFlags, MarkupToToolkitOptions) {
  struct Case {
    const char* flags;
    std::uint32_t menu, button, buttonEx;
  } cases[] = {
      {nullptr, 0x4000000, 0x2202000, 0},
      {"default", 0x14000000, 0x2202000, 0},
      {"autohide", 0x24000000, 0x3202000, 0},
      {"default, autohide", 0x34000000, 0x3202000, 0},
      {"text_always", 0x4000000, 0x2202000, 0x40},
      {"no_browser", 0x4000000, 0x2202000, 0x20},
      {" text_always ,no_browser,bogus", 0x4000000, 0x2202000, 0x60},
      {"Default", 0x4000000, 0x2202000, 0},  // names are case-sensitive
  };
  for (const Case& c : cases) {
    std::string markup = "<kml:item verb='v'";
    if (c.flags) markup += std::string(" flags='") + c.flags + "'";
    markup += "/>";
    Doc doc(markup);
    ASSERT_TRUE(doc.ok) << markup;
    FXKShellItemDescription d;
    kml::readItemDescription(doc.root(), d);
    SCOPED_TRACE(markup);
    EXPECT_EQ(kml::menuCommandOptions(d.flags), c.menu);
    EXPECT_EQ(kml::toolbarButtonOptions(d.flags), c.button);
    EXPECT_EQ(kml::toolbarButtonOptionsEx(d.flags), c.buttonEx);
  }
}

TEST(KmlFontMarkup, SizeWeightSlantAndFlags) {
  struct Case {
    const char* attributes;
    std::uint32_t size, weight, slant, flags;
  } cases[] = {
      {"", 90, 400, 1, 0},
      {"size='+2'", 92, 400, 1, 0},
      {"size='-2'", 88, 400, 1, 0},
      {"size='12'", 12, 400, 1, 0},
      {"size=''", 90, 400, 1, 0},
      {"size='-200'", 0, 400, 1, 0},
      {"size='+4294967295'", 90, 400, 1, 0},
      {"weight='bold'", 90, 700, 1, 0},
      {"weight='thin'", 90, 100, 1, 0},
      {"weight='black'", 90, 900, 1, 0},
      {"weight='unheard'", 90, 0, 1, 0},
      {"weight='light,medium'", 90, 300 | 500, 1, 0},
      {"slant='italic'", 90, 400, 2, 0},
      {"slant='oblique'", 90, 400, 3, 0},
      {"slant='dontcare'", 90, 400, 0, 0},
      {"flags='antialiased'", 90, 400, 1, 0x800},
      {"flags='nonantialiased'", 90, 400, 1, 0x1000},
  };
  for (const Case& c : cases) {
    const std::string markup = std::string("<font ") + c.attributes + "/>";
    Doc doc(markup);
    ASSERT_TRUE(doc.ok) << markup;
    FXKFontDescription d;
    d.setFace(u"Sans");
    d.size = 90;
    d.weight = 400;
    d.slant = 1;
    kml::readFontDescription(doc.root(), d);
    SCOPED_TRACE(markup);
    EXPECT_EQ(d.size, c.size);
    EXPECT_EQ(d.weight, c.weight);
    EXPECT_EQ(d.slant, c.slant);
    EXPECT_EQ(d.flags, c.flags);
    EXPECT_EQ(std::u16string(d.faceText()), u"Sans");
  }
}

TEST(KmlFontMarkup, FaceIsCutAt48AndZeroFilled) {
  Doc doc("<font face='" + std::string(60, 'F') + "'/>");
  ASSERT_TRUE(doc.ok);
  FXKFontDescription d;
  d.setFace(u"A much longer previous face name");
  kml::readFontDescription(doc.root(), d);
  EXPECT_EQ(d.faceText().size(), 48u);
  EXPECT_EQ(d.face[48], u'\0');
  Doc shorter("<font face='Mono'/>");
  kml::readFontDescription(shorter.root(), d);
  EXPECT_EQ(std::u16string(d.faceText()), u"Mono");
  for (int i = 4; i < 49; ++i) EXPECT_EQ(d.face[i], u'\0') << i;
}

TEST(KmlCommandDescription, TitlesTipsAndIcons) {
  // The shell window's reading and the menu creator's differ on titles and tips.
  struct Case {
    const char* markup;
    const char* windowTitle;
    const char* creatorTitle;
    const char* windowTip;
    const char* creatorTip;
  } cases[] = {
      {"<kml:item title='Attr'><title type='small'>Child</title></kml:item>", "Attr", "Attr", "", ""},
      {"<kml:item><title type='small'>Child</title></kml:item>", "Child", "Child", "", ""},
      {"<kml:item><title type='large'>Big</title><title type='small'>Small</title></kml:item>", "Small", "Big", "",
       ""},
      {"<kml:item><title>Untyped</title></kml:item>", "", "Untyped", "", ""},
      {"<kml:item help='H'/>", "", "", "", "H"},
      {"<kml:item help='H' tip='T' desc='D'/>", "", "", "D", "T"},
  };
  for (const auto& c : cases) {
    Doc doc(c.markup);
    ASSERT_TRUE(doc.ok) << c.markup;
    FXKShellItemDescription w, m;
    kml::readItemDescription(doc.root(), w);
    kml::readCreatorDescription(doc.root(), m);
    SCOPED_TRACE(c.markup);
    EXPECT_EQ(narrow(w.title), c.windowTitle);
    EXPECT_EQ(narrow(m.title), c.creatorTitle);
    EXPECT_EQ(narrow(w.tip), c.windowTip);
    EXPECT_EQ(narrow(m.tip), c.creatorTip);
  }
  struct Icons {
    const char* children;
    const char* small;
    const char* medium;
    const char* large;
  } icons[] = {
      {"", "", "", ""},
      {"<kml:icon type='small' href='s.png'/>", "s.png", "s.png", "s.png"},
      {"<kml:icon type='small' href='s.png'/><kml:icon type='medium' href='m.png'/>", "s.png", "m.png", "m.png"},
      {"<kml:icon type='large' href='l.png'/><kml:icon type='small' href='s.png'/>", "s.png", "s.png", "l.png"},
  };
  for (const auto& c : icons) {
    Doc doc(std::string("<kml:item verb='x'>") + c.children + "</kml:item>");
    ASSERT_TRUE(doc.ok);
    FXKShellItemDescription d;
    kml::readItemDescription(doc.root(), d);
    SCOPED_TRACE(c.children);
    EXPECT_EQ(d.icons[0], c.small);
    EXPECT_EQ(d.icons[1], c.medium);
    EXPECT_EQ(d.icons[2], c.large);
  }
}

TEST(KmlItemAttributes, ElementAndChildrenCopied) {
  Doc doc(
      "<kml:item verb='locale' name='locale' title='From attribute' help='attr help' extra='1'>"
      "<title lang='en'>From &lt;b&gt;child&lt;/b&gt;</title>"
      "<description>Described</description>"
      "<file href='hotfix.msi' dynamic_href='hf_{0}.msi'/>"
      "<link url='https://example.invalid/'/>"
      "<icon type='small' href='s.png'/><icon type='medium' href='m.png'/>"
      "<icon type='large' href='l.png'/><icon type='extra' href='x.png'/>"
      "<using_selection keep='no'/>"
      "<kml:menu name='own'/>"
      "</kml:item>");
  ASSERT_TRUE(doc.ok);
  FXKShellItemInfo info("locale", 0);
  kml::copyItemElement(doc.root(), info);
  const std::pair<const char*, const char*> expected[] = {
      {"verb", "locale"},
      {"id", "0"},
      {"name", "locale"},
      {"title", "From <b>child</b>"},  // the child's text beats the attribute
      {"title:lang", "en"},
      {"help", "attr help"},
      {"desc", "Described"},
      {"extra", "1"},
      {"file:href", "hotfix.msi"},
      {"file:dynamic_href", "hf_{0}.msi"},
      {"link:url", "https://example.invalid/"},
      {"icon_small", "s.png"},
      {"icon_large", "l.png"},
      {"icon_extra", "x.png"},
      {"kml:menu:name", "own"},
  };
  for (const auto& [name, value] : expected) {
    ASSERT_TRUE(info.hasAttribute(name)) << name;
    EXPECT_EQ(narrow(info.getAttribute(name)), value) << name;
  }
  // Medium icons have no attribute, icon and using_selection no prefixed copies.
  for (const char* absent : {"icon_medium", "icon:type", "icon:href", "using_selection:keep"})
    EXPECT_FALSE(info.hasAttribute(absent)) << absent;
  EXPECT_FALSE(info.usesSelection);
  EXPECT_FALSE(info.separator);
}

TEST(KmlItemAttributes, SeparatorChildAndTextPieces) {
  Doc doc("<kml:item verb='s'><separator kind='line'/><title>a<x/>b<y/>c</title></kml:item>");
  ASSERT_TRUE(doc.ok);
  FXKShellItemInfo info("s", 0);
  kml::copyItemElement(doc.root(), info);
  EXPECT_TRUE(info.separator);
  EXPECT_TRUE(info.usesSelection);
  EXPECT_EQ(narrow(info.getAttribute("separator:kind")), "line");
  EXPECT_EQ(narrow(info.getAttribute("title")), "abc");
}

TEST(KmlItemInfo, WideAndNarrowAccess) {
  FXKShellItemInfo info("verb", 42);
  EXPECT_EQ(narrow(info.getAttribute("verb")), "verb");
  EXPECT_EQ(narrow(info.getAttribute("id")), "42");
  EXPECT_EQ(narrow(info.getAttribute("missing", FXWString(u"dflt"))), "dflt");
  info.attributes["w"] = FXWString(u"\u0141x");
  EXPECT_EQ(info.getAttributeNarrow("w"), std::string("\x41x"));
  info.setAttribute("b", std::string("\xE9"));
  EXPECT_EQ(info.getAttribute("b").str(), std::u16string(u"\u00E9"));
  EXPECT_FALSE(info.hasAttribute("fresh"));
  EXPECT_TRUE(info.attribute("fresh").empty());
  EXPECT_TRUE(info.hasAttribute("fresh"));
}

TEST(KmlTopLevel, FindingElementsAndTemplates) {
  Doc doc(
      "<resource><kml:menu name='a'/><kml:menu name='b' n='2'/><group name='g1'/>"
      "<template><kml:item name='t1' verb='v1'/><kml:item name='t2'/></template></resource>");
  ASSERT_TRUE(doc.ok);
  const xml_node* b = kml::findNamed(&doc.root(), "kml:menu", FXWString(u"b"));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->attribute_string("n", ""), "2");
  EXPECT_EQ(kml::findNamed(&doc.root(), "kml:menu", FXWString(u"B")), nullptr);
  EXPECT_EQ(kml::findNamed(&doc.root(), "kml:toolbar", FXWString(u"a")), nullptr);
  const xml_node* t = kml::findTemplateSource(&doc.root(), FXWString(u"t1"), FXWString(u"g1"));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->attribute_string("verb", ""), "v1");
  EXPECT_EQ(kml::findTemplateSource(&doc.root(), FXWString(u"g1"), FXWString(u"g1")), nullptr);
  Doc plain("<resource><group name='g1' k='1'/></resource>");
  const xml_node* g = kml::findTemplateSource(&plain.root(), FXWString(u"any"), FXWString(u"g1"));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->attribute_string("k", ""), "1");
}

}  // namespace
