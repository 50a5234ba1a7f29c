#include "core/error_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Common::Error tokenError(const char16_t* text, const char* token, std::uint64_t site, std::uint32_t code) {
  Common::Error e;
  Common::makeTokenError(e, site, code, text, token);
  return e;
}

std::u16string u16(const Processor::String& s) { return std::u16string(s.getBuffer(), s.length()); }

TEST(ErrorText, PlainAndHtmlShapesOfAChain) {
  Common::Error head = tokenError(u"Bad line", "abc", 0x1A2B, 0x123);
  Common::Error cause = tokenError(u"Inner", "x", 0xFF, 0xABC);
  head.setCause(cause);

  Processor::String plain;
  Processor::errorPlainText(plain, head);
  EXPECT_EQ(u16(plain),
            u"Bad line (0x123)\n    token = \"abc\"\n    Tag = 0x1A2B\n"
            u"Inner (0xABC)\n    token = \"x\"\n    Tag = 0xFF");

  Processor::String html;
  Processor::errorHtmlText(html, head);
  EXPECT_EQ(u16(html),
            u"<html><body><p>Bad line (0x123)</p><p>\n    token = &quot;abc&quot;</p><p>\n    Tag = 0x1A2B</p>\n"
            u"<p>Inner (0xABC)</p><p>\n    token = &quot;x&quot;</p><p>\n    Tag = 0xFF</p></body></html>");
}

// A file name or user text with markup characters must stay text in the page.
TEST(ErrorText, HtmlEscapesMarkupInTexts) {
  struct Case {
    const char16_t* text;
    const char* token;
    const char16_t* headline;
    const char16_t* field;
  } cases[] = {
      {u"a<b>", "c&d", u"a&lt;b> (0x1)", u"\n    token = &quot;c&amp;d&quot;"},
      {u"say \"hi\"", "<script>", u"say &quot;hi&quot; (0x1)", u"\n    token = &quot;&lt;script>&quot;"},
      {u"&amp;", "", u"&amp;amp; (0x1)", u"\n    token = "},
  };
  for (const Case& c : cases) {
    Processor::String html;
    Processor::errorHtmlText(html, tokenError(c.text, c.token, 0x5, 0x1));
    const std::u16string expected = std::u16string(u"<html><body><p>") + c.headline + u"</p><p>" + c.field +
                                    u"</p><p>\n    Tag = 0x5</p></body></html>";
    EXPECT_EQ(u16(html), expected) << c.token;
  }
}

}  // namespace
