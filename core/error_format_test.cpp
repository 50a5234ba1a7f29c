#include "core/error_format.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/values_fixture.h"

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

// A record read from bytes written by hand: fields of every type, an empty
// wide value among them, so the display is checked against a fixed source.
Common::Error handWritten(std::uint32_t code, std::string_view text, std::string_view fields) {
  std::vector<std::uint8_t> b{0x01};
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  u32(code);
  u32(0xC0DE);
  u32(0x1);
  b.insert(b.end(), text.begin(), text.end());
  b.push_back(0);
  b.insert(b.end(), fields.begin(), fields.end());
  b.push_back(0);
  return Common::Error::deserialize(b.data(), b.size());
}

class ErrorDisplay : public values_test::Values {};

TEST_F(ErrorDisplay, PlainShapes) {
  Common::Error withCause(0x10, 0x10002, u"Copy failed");
  withCause.setCause(Common::Error(0xABCDEF0123ull, 0x40007, u"Error occurred while opening the file."));
  const struct {
    const char* name;
    Common::Error error;
    const char16_t* text;
  } cases[] = {
      {"wide text, no fields", Common::Error(0x2A, 0x40007, u"Opening failed"), u"Opening failed (0x40007)\n    Tag = 0x2A"},
      {"empty holder", Common::Error(), u" (0x0)\n    Tag = 0x0"},
      {"code only", Common::Error(0x1, 0x560001), u" (0x560001)\n    Tag = 0x1"},
      {"cause", withCause,
       u"Copy failed (0x10002)\n    Tag = 0x10\n"
       u"Error occurred while opening the file. (0x40007)\n    Tag = 0xABCDEF0123"},
      {"fields of every type",
       handWritten(0x30001, "Bad",
                   std::string_view("path\0Wc:\\x\0empty\0W\0mode\0Arw\0size\0N\x87\xD6\x12\0\0\0\0\0", 42)),
       u"Bad (0x30001)\n    path = \"c:\\x\",\n    empty = ,\n    mode = \"rw\",\n    size = 1,234,567 (0x12D687)\n"
       u"    Tag = 0x10000C0DE"},
      {"file code without own text", handWritten(0x40004, "", ""), u"Disk is full. (0x40004)\n    Tag = 0x10000C0DE"},
      {"system code without own text",
       handWritten(0xFFF0, "", std::string_view("code\0N\x05\x00\x07\x80\0\0\0\0", 14)),
       u"Access is denied. (0xFFF0)\n    code = 2,147,942,405 (0x80070005)\n    Tag = 0x10000C0DE"},
      {"system code 0", handWritten(0xFFF0, "", std::string_view("code\0N\0\0\0\0\0\0\0\0", 14)),
       u" (0xFFF0)\n    code = 0 (0x0)\n    Tag = 0x10000C0DE"},
      {"system code unknown", handWritten(0xFFF0, "", std::string_view("code\0N\x34\x12\xFF\x8F\0\0\0\0", 14)),
       u"Unknown Win32 error (0xFFF0)\n    code = 2,415,858,228 (0x8FFF1234)\n    Tag = 0x10000C0DE"},
  };
  for (const auto& c : cases) {
    Processor::String out(u"kept:");
    const std::int32_t n = Processor::errorPlainText(out, c.error);
    EXPECT_EQ(u16(out), std::u16string(u"kept:") + c.text) << c.name;
    EXPECT_EQ(n, out.length()) << c.name;
    EXPECT_EQ(u16(Processor::formatError(c.error)), c.text) << c.name;
  }
}

TEST_F(ErrorDisplay, HtmlShapeOfAnEmptyHolderAndOfFields) {
  Processor::String html;
  Processor::errorHtmlText(html, Common::Error());
  EXPECT_EQ(u16(html), u"<html><body><p> (0x0)</p><p></p><p>\n    Tag = 0x0</p></body></html>");
  html = Processor::String();
  Processor::errorHtmlText(html, handWritten(0x30001, "Bad", std::string_view("n\0N\x0A\0\0\0\0\0\0\0e\0W\0", 16)));
  EXPECT_EQ(u16(html),
            u"<html><body><p>Bad (0x30001)</p><p>\n    n = 10 (0xA),\n    e = </p><p>\n    Tag = 0x10000C0DE</p>"
            u"</body></html>");
}

// The formatter object gives the same texts as the display functions, and a
// bare Win32 error is shown as the cause of a 0x10002 error.
TEST_F(ErrorDisplay, FormatterObject) {
  std::unique_ptr<Processor::ErrorFormat> format(Processor::ErrorFormat::create());
  ASSERT_TRUE(format);
  const Common::Error e(0x2A, 0x40007, u"Opening failed");
  Processor::String plain(u">"), html;
  EXPECT_EQ(format->plainText(plain, e), 40);
  EXPECT_EQ(u16(plain), u">Opening failed (0x40007)\n    Tag = 0x2A");
  const std::int32_t htmlLength = format->htmlText(html, e);
  EXPECT_EQ(htmlLength, html.length());
  EXPECT_EQ(u16(html), u"<html><body><p>Opening failed (0x40007)</p><p></p><p>\n    Tag = 0x2A</p></body></html>");

  Common::Error same(0x77, 0x10002);
  same.setWin32Cause(5);
  const std::u16string causeTag = u16(Processor::formatMessage1(
      Processor::String(u"{0,number,hex}"), Processor::Variant(static_cast<unsigned long long>(same.cause().site()))));
  Processor::String win32;
  Processor::ErrorFormatImpl impl;
  const std::int32_t win32Length = impl.formatWin32(win32, 5, 0x77);
  EXPECT_EQ(win32Length, win32.length());
  EXPECT_EQ(u16(win32), u" (0x10002)\n    Tag = 0x77\nAccess is denied (0xFFF0)\n    code = 2,147,942,405 (0x80070005)\n"
                        u"    Tag = 0x" + causeTag);
  EXPECT_EQ(u16(Processor::formatWin32Error(5, 0x77)), u16(win32));
}

TEST(ErrorMessageText, OwnTextOrTheFileLibrarysMessage) {
  const struct {
    Common::Error error;
    const char16_t* text;
  } cases[] = {
      {Common::Error(0x1, 0x40004), u"Disk is full."},
      {Common::Error(0x1, 0x40004, u"No room on D:"), u"No room on D:"},
      {Common::Error(), u""},
      {Common::Error(0x1, 0x40018), u""},
      {Common::Error(0x1, 0x40002), u"End of file has been encountered."},
      {Common::Error(0x1, 0x40010), u"Device is busy."},
      {Common::Error(0x1, 0x40014), u"Access to the file is denied."},
      {Common::Error(0x1, 0x4001a), u"Failed to restore the file (folder)."},
      {Common::Error(0x1, 0x4001b), u""},
      {Common::Error(0x1, 0x50004), u""},  // another facility's number 4
  };
  for (const auto& c : cases)
    EXPECT_EQ(u16(Processor::errorMessageText(c.error)), c.text) << std::hex << c.error.code();
}

}  // namespace
