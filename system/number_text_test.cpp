#include "system/number_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/catalogue.h"
#include "core/resource_fixture.h"
#include "platform/win32/windows.h"

namespace {

using namespace Common;

std::string narrow_out(char* begin, char* end) { return std::string(begin, end); }

TEST(NumberText, DecimalWritersHonourBlanksFieldAndTerminator) {
  struct Case {
    std::uint32_t value;
    unsigned flags;
    const char* expected;  // up to the returned end
  };
  const Case cases[] = {
      {0, 0, "0"},
      {0, kBlankLeadingZeros, "         0"},
      {1234, 0, "1234"},
      {1234, kBlankLeadingZeros, "      1234"},
      {4294967295u, 0, "4294967295"},
      {1000000000u, 0, "1000000000"},
      {7, kBlankField, "7"},  // the blanks stay behind the digit
  };
  for (const Case& c : cases) {
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    char* end = formatDecimal32(buf, c.value, c.flags);
    EXPECT_EQ(narrow_out(buf, end), c.expected) << c.value << " flags " << c.flags;
    if (c.flags & kBlankField) { EXPECT_EQ(std::string(buf, 10), "7         "); }
  }
  char buf[16];
  char* end = formatDecimal32(buf, 42, kTerminate);
  EXPECT_EQ(end - buf, 2);
  EXPECT_EQ(*end, '\0');

  char16_t wide[24];
  char16_t* wend = formatDecimal64W(wide, UINT64_MAX, 0);
  EXPECT_EQ(std::u16string(wide, wend), u"18446744073709551615");
  wend = formatDecimal64W(wide, 5, kBlankLeadingZeros | kTerminate);
  EXPECT_EQ(std::u16string(wide), u"                   5");
}

TEST(NumberText, HexadecimalWritersPutPrefixAndSuffixAroundFullWidthDigits) {
  char buf[32];
  EXPECT_EQ(narrow_out(buf, formatHex32(buf, 31, kPrefix0x | kTerminate)), "0x0000001F");
  EXPECT_EQ(buf[10], '\0');
  EXPECT_EQ(narrow_out(buf, formatHex32(buf, 31, kSuffixH | kUpperCaseMarks)), "00000001FH");
  EXPECT_EQ(narrow_out(buf, formatHex32(buf, 31, kSuffixH | kPrefix0x)), "0x0000001Fh");
  EXPECT_EQ(narrow_out(buf, formatHex8(buf, 0xAB, 0)), "AB");
  EXPECT_EQ(narrow_out(buf, formatHex16(buf, 0x1F, kPrefix0x | kUpperCaseMarks)), "0X001F");
  EXPECT_EQ(narrow_out(buf, formatHex64(buf, 0x89ABCDEF, 0x01234567, 0)), "0123456789ABCDEF");
  char16_t wide[8];
  EXPECT_EQ(std::u16string(wide, formatHex8W(wide, 0x0F, kSuffixH)), u"00Fh");
}

TEST(NumberText, ParsersReadEveryRadixFormAndRefuseTheRest) {
  struct Case {
    const char* text;
    int radix;
    bool ok;
    std::uint64_t value;
  };
  const Case cases[] = {
      {"255", 10, true, 255},
      {" 0xFF ", 10, true, 255},
      {"0FFh", 10, true, 255},
      {"ffh", 10, true, 255},
      {"0FFH  ", 10, true, 255},
      {"  42  ", 10, true, 42},
      {"0x0", 10, true, 0},
      {"18446744073709551615", 10, true, UINT64_MAX},
      {"18446744073709551616", 10, false, 0},  // 2^64
      {"0x", 10, false, 0},
      {"1x2", 10, false, 0},
      {"0x12h", 10, false, 0},
      {"12 3", 10, false, 0},
      {"4 2", 10, false, 0},
      {"", 10, false, 0},
      {"   ", 10, false, 0},
      {"-1", 10, false, 0},
      {"12h3", 10, false, 0},
      {"ff", 16, true, 255},
      {"0xff", 16, false, 0},
      {"FFh", 16, false, 0},  // no suffix with an explicit radix
      {"101", 2, true, 5},
      {"102", 2, false, 0},
      {"zz", 36, true, 35 * 36 + 35},
  };
  for (const Case& c : cases) {
    std::uint64_t v = 12345;
    EXPECT_EQ(parseNumber(&v, c.text, c.radix), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    } else {
      EXPECT_EQ(v, 12345u) << c.text;  // untouched on failure
    }
    const std::u16string wide(c.text, c.text + std::strlen(c.text));
    std::uint64_t w = 0;
    EXPECT_EQ(parseNumberW(&w, wide.c_str(), c.radix), c.ok) << c.text;
  }
}

TEST(NumberText, ErrorCodesPackFacilityAndNumber) {
  static_assert(makeErrorCode(4, 0x0E) == 0x4000E);
  static_assert(errorFacility(0x4000E) == 4);
  static_assert(errorNumber(0x4000E) == 0x0E);
}

TEST(NumberText, CodePageConversionsAndCaseMapping) {
  std::u16string out = u"old";
  EXPECT_TRUE(multiByteToWide(CP_ACP, out, "ignored", 0));
  EXPECT_EQ(out, u"");
  EXPECT_TRUE(multiByteToWide(CP_ACP, out, "caf\xe9 and more", 4));  // the count, not the NUL, ends it
  EXPECT_EQ(out, u"caf\u00e9");
  EXPECT_TRUE(multiByteToWide(CP_UTF8, out, "\xe2\x82\xac", 3));
  EXPECT_EQ(out, u"\u20ac");
  out = u"kept";
  EXPECT_FALSE(multiByteToWide(12345, out, "x", 1));
  EXPECT_EQ(out, u"kept");

  std::u16string text = u"stra\u00dfe \u00e9t\u00e9";
  EXPECT_TRUE(toUpperInPlace(text));
  EXPECT_EQ(text, u"STRA\u00dfE \u00c9T\u00c9");
  std::u16string empty;
  EXPECT_TRUE(toUpperInPlace(empty));
  text = u"Kept";
  EXPECT_FALSE(mapStringInPlace(LCMAP_SORTKEY, text));
  EXPECT_EQ(text, u"Kept");
}

TEST(NumberText, CaseMappingOnWindows9xGoesThroughTheAnsiCodePage) {
  setenv("KV_WINDOWS_VERSION", "98", 1);
  const bool nine_x = GetVersion() & 0x80000000u;
  std::u16string text = u"caf\u00e9 \u20ac";
  const bool ok = toUpperInPlace(text);
  std::u16string lost = u"\u0436";  // no ANSI byte for it: the mapping loses it
  toUpperInPlace(lost);
  unsetenv("KV_WINDOWS_VERSION");
  ASSERT_TRUE(nine_x);
  EXPECT_TRUE(ok);
  EXPECT_EQ(text, u"CAF\u00c9 \u20ac");
  EXPECT_NE(lost, u"\u0416");
}

// Fills catalogue slots for one test and empties them again.
class Catalogue : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int slot : {0, 1, 17, 19, 202, 1153}) catalogueTexts[slot] = nullptr;
  }
};

TEST_F(Catalogue, NamesFindTheirSlotsExactly) {
  static const char16_t first[] = u"first", exit[] = u"Exit", tools[] = u"Tools", view[] = u"View",
                        last[] = u"last";
  catalogueTexts[0] = first;
  catalogueTexts[1] = exit;
  catalogueTexts[17] = tools;
  catalogueTexts[19] = view;
  catalogueTexts[202] = last;
  EXPECT_EQ(catalogueTextByName("TEXT_EMAIL_BACKUP_TREE_ROOT"), first);
  EXPECT_EQ(catalogueTextByName("TEXT_EXIT"), exit);
  EXPECT_EQ(catalogueTextByName("TEXT_MENU_TOOLS"), tools);
  EXPECT_EQ(catalogueTextByName("TEXT_MENU_VIEW"), view);  // after the unused 18
  EXPECT_EQ(catalogueTextByName("TEXT_SHELL_WWW_KORVANE_SUPPORT"), last);
  EXPECT_EQ(catalogueTextByName("text_exit"), nullptr);
  EXPECT_EQ(catalogueTextByName("TEXT_EXI"), nullptr);
  EXPECT_EQ(catalogueTextByName("TEXT_EXIT_"), nullptr);
  EXPECT_EQ(catalogueTextByName("ZZZ"), nullptr);
  EXPECT_EQ(catalogueTextByName(""), nullptr);
}

TEST_F(Catalogue, LanguageNumberReadsNarrowBytes) {
  alignas(char16_t) static const char narrow[] = "22\0";
  catalogueTexts[1153] = reinterpret_cast<const char16_t*>(narrow);
  EXPECT_EQ(uiLanguageNumber(), 22);
}

class Resources : public resource_test::Folder {};

TEST_F(Resources, LoadResourceReadsAWholeMemberOrNothing) {
  write("menu.dat", zip({{"data.bin", std::string("\x01\x02\x03\x00\x05", 5)}, {"empty.bin", ""}}));
  const std::u16string program = path("menu");
  Common::testing::setProgramArchivePath(program.c_str());
  Common::testing::setResourceFileState(0);
  std::uint32_t size = 0;
  std::unique_ptr<std::uint8_t[]> bytes(loadResource("data.bin", &size));
  ASSERT_NE(bytes, nullptr);
  ASSERT_EQ(size, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.get()), 5), std::string("\x01\x02\x03\x00\x05", 5));
  EXPECT_EQ(loadResource("empty.bin", &size), nullptr);
  EXPECT_EQ(loadResource("absent.bin"), nullptr);
}

}  // namespace
