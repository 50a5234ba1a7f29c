#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/win32/testing/locale_testing.h"
#include "platform/win32/windows.h"

namespace {

constexpr LCID kEnUs = 0x0409;
constexpr LCID kDeDe = 0x0407;

std::u16string info(LCID lcid, LCTYPE type) {
  WCHAR buf[128] = {};
  const int n = GetLocaleInfoW(lcid, type, buf, 128);
  return n > 0 ? std::u16string(buf, n - 1) : u"<failed>";
}

// Every test starts and ends with the default user locale and thread locale.
class Locale : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    win32::set_user_locale_for_tests(0);
    SetThreadLocale(kEnUs);
  }
};

TEST_F(Locale, AnswersWindowsSettingsForEnglishAndGerman) {
  struct Case {
    LCID lcid;
    LCTYPE type;
    const char16_t* expected;
  };
  const Case cases[] = {
      {kEnUs, LOCALE_SDECIMAL, u"."},
      {kEnUs, LOCALE_STHOUSAND, u","},
      {kEnUs, LOCALE_SGROUPING, u"3;0"},
      {kEnUs, LOCALE_ILZERO, u"1"},
      {kEnUs, LOCALE_INEGNUMBER, u"1"},
      {kEnUs, LOCALE_IDIGITS, u"2"},
      {kEnUs, LOCALE_SNEGATIVESIGN, u"-"},
      {kEnUs, LOCALE_SPOSITIVESIGN, u""},
      {kEnUs, LOCALE_SNATIVEDIGITS, u"0123456789"},
      {kEnUs, LOCALE_SSHORTDATE, u"M/d/yyyy"},
      {kEnUs, LOCALE_SLONGDATE, u"dddd, MMMM d, yyyy"},
      {kEnUs, LOCALE_STIMEFORMAT, u"h:mm:ss tt"},
      {kEnUs, LOCALE_S1159, u"AM"},
      {kEnUs, LOCALE_S2359, u"PM"},
      {kEnUs, LOCALE_SDAYNAME1, u"Monday"},
      {kEnUs, LOCALE_SDAYNAME7, u"Sunday"},
      {kEnUs, LOCALE_SABBREVDAYNAME3, u"Wed"},
      {kEnUs, LOCALE_SMONTHNAME1, u"January"},
      {kEnUs, LOCALE_SMONTHNAME12, u"December"},
      {kEnUs, LOCALE_SMONTHNAME13, u""},
      {kEnUs, LOCALE_SABBREVMONTHNAME9, u"Sep"},
      {kEnUs, LOCALE_SABBREVMONTHNAME13, u""},
      {kEnUs, LOCALE_ILANGUAGE, u"0409"},
      {kEnUs, LOCALE_SNAME, u"en-US"},
      {kDeDe, LOCALE_SDECIMAL, u","},
      {kDeDe, LOCALE_STHOUSAND, u"."},
      {kDeDe, LOCALE_SGROUPING, u"3;0"},
      {kDeDe, LOCALE_SSHORTDATE, u"dd.MM.yyyy"},
      {kDeDe, LOCALE_SLONGDATE, u"dddd, d. MMMM yyyy"},
      {kDeDe, LOCALE_STIMEFORMAT, u"HH:mm:ss"},
      {kDeDe, LOCALE_S1159, u""},
      {kDeDe, LOCALE_SDAYNAME1, u"Montag"},
      {kDeDe, LOCALE_SMONTHNAME3, u"M\u00e4rz"},
      // Windows' de-DE abbreviations: two letters for days, three for months, no dots.
      {kDeDe, LOCALE_SABBREVDAYNAME1, u"Mo"},
      {kDeDe, LOCALE_SABBREVDAYNAME2, u"Di"},
      {kDeDe, LOCALE_SABBREVDAYNAME3, u"Mi"},
      {kDeDe, LOCALE_SABBREVDAYNAME4, u"Do"},
      {kDeDe, LOCALE_SABBREVDAYNAME5, u"Fr"},
      {kDeDe, LOCALE_SABBREVDAYNAME6, u"Sa"},
      {kDeDe, LOCALE_SABBREVDAYNAME7, u"So"},
      {kDeDe, LOCALE_SABBREVMONTHNAME1, u"Jan"},
      {kDeDe, LOCALE_SABBREVMONTHNAME2, u"Feb"},
      {kDeDe, LOCALE_SABBREVMONTHNAME3, u"M\u00e4r"},
      {kDeDe, LOCALE_SABBREVMONTHNAME4, u"Apr"},
      {kDeDe, LOCALE_SABBREVMONTHNAME5, u"Mai"},
      {kDeDe, LOCALE_SABBREVMONTHNAME6, u"Jun"},
      {kDeDe, LOCALE_SABBREVMONTHNAME7, u"Jul"},
      {kDeDe, LOCALE_SABBREVMONTHNAME8, u"Aug"},
      {kDeDe, LOCALE_SABBREVMONTHNAME9, u"Sep"},
      {kDeDe, LOCALE_SABBREVMONTHNAME10, u"Okt"},
      {kDeDe, LOCALE_SABBREVMONTHNAME11, u"Nov"},
      {kDeDe, LOCALE_SABBREVMONTHNAME12, u"Dez"},
      {kDeDe, LOCALE_SABBREVMONTHNAME13, u""},
      // The defaults: 0, user and system default are en-US; the sort order and
      // a neutral sublanguage are ignored.
      {LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, u"M/d/yyyy"},
      {LOCALE_SYSTEM_DEFAULT, LOCALE_SDECIMAL, u"."},
      {0, LOCALE_SDAYNAME2, u"Tuesday"},
      {0x00010407, LOCALE_SDECIMAL, u","},
      {0x0007, LOCALE_STHOUSAND, u"."},
      {LOCALE_INVARIANT, LOCALE_SSHORTDATE, u"MM/dd/yyyy"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(info(c.lcid, c.type), c.expected) << std::hex << c.lcid << " " << c.type;
}

TEST_F(Locale, LocaleInfoFollowsWin32SizeAndErrorRules) {
  EXPECT_EQ(GetLocaleInfoW(kEnUs, LOCALE_SMONTHNAME1, nullptr, 0), 8);  // "January" and the NUL
  WCHAR small[7];
  SetLastError(0);
  EXPECT_EQ(GetLocaleInfoW(kEnUs, LOCALE_SMONTHNAME1, small, 7), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  WCHAR buf[16];
  EXPECT_EQ(GetLocaleInfoW(kEnUs, 0x7777, buf, 16), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FLAGS});
  EXPECT_EQ(GetLocaleInfoW(0x7FFF, LOCALE_SDECIMAL, buf, 16), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(GetLocaleInfoW(kEnUs, LOCALE_SDECIMAL, nullptr, 16), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});

  DWORD number = 0;
  EXPECT_EQ(GetLocaleInfoW(kEnUs, LOCALE_IDIGITS | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&number), 2), 2);
  EXPECT_EQ(number, 2u);
  EXPECT_EQ(GetLocaleInfoW(kEnUs, LOCALE_SDECIMAL | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&number), 2), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FLAGS});
}

TEST_F(Locale, ThreadLocaleIsPerThreadAndDefaultsToTheUsers) {
  EXPECT_EQ(GetThreadLocale(), kEnUs);
  EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
  ASSERT_TRUE(SetThreadLocale(kDeDe));
  EXPECT_EQ(GetThreadLocale(), kDeDe);
  EXPECT_EQ(info(GetThreadLocale(), LOCALE_SDECIMAL), u",");
  LCID other = 0;
  std::thread([&] { other = GetThreadLocale(); }).join();
  EXPECT_EQ(other, kEnUs);
  SetLastError(0);
  EXPECT_FALSE(SetThreadLocale(0x7FFF));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(GetThreadLocale(), kDeDe);
}

TEST_F(Locale, UserSettingsOverrideTheUsersLocaleUnlessAskedNotTo) {
  win32::set_user_locale_info_for_tests(LOCALE_SDECIMAL, u",");
  EXPECT_EQ(info(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL), u",");
  EXPECT_EQ(info(kEnUs, LOCALE_SDECIMAL), u",");
  EXPECT_EQ(info(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL | LOCALE_NOUSEROVERRIDE), u".");
  EXPECT_EQ(info(kDeDe, LOCALE_STHOUSAND), u".");
  win32::set_user_locale_for_tests(kDeDe);
  EXPECT_EQ(GetUserDefaultLangID(), 0x0407);
  EXPECT_EQ(info(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL), u",");
  EXPECT_EQ(info(kEnUs, LOCALE_SDECIMAL), u".");  // the override went with the old locale
}

std::u16string number(LCID lcid, const char16_t* value, const NUMBERFMTW* format = nullptr) {
  WCHAR buf[64];
  const int n = GetNumberFormatW(lcid, 0, value, format, buf, 64);
  return n > 0 ? std::u16string(buf, n - 1) : u"<failed>";
}

TEST_F(Locale, NumberFormatRoundsGroupsAndSignsAsWindows) {
  struct Case {
    LCID lcid;
    const char16_t* value;
    const char16_t* expected;
  };
  const Case cases[] = {
      {kEnUs, u"1234.5", u"1,234.50"},
      {kEnUs, u"-1234", u"-1,234.00"},
      {kEnUs, u"0", u"0.00"},
      {kEnUs, u"0.005", u"0.01"},
      {kEnUs, u"999.995", u"1,000.00"},
      {kEnUs, u"-0.001", u"0.00"},
      {kEnUs, u".5", u"0.50"},
      {kEnUs, u"7.", u"7.00"},
      {kEnUs, u"0001234567", u"1,234,567.00"},
      {kEnUs, u"99.999", u"100.00"},
      {kEnUs, u"0.995", u"1.00"},
      {kEnUs, u"123456789012345678901234567890", u"123,456,789,012,345,678,901,234,567,890.00"},
      {kEnUs, u"-2147483648", u"-2,147,483,648.00"},
      {kDeDe, u"1234.5", u"1.234,50"},
      {kDeDe, u"-1234567.891", u"-1.234.567,89"},
  };
  for (const Case& c : cases) EXPECT_EQ(number(c.lcid, c.value), c.expected) << std::hex << c.lcid;
}

TEST_F(Locale, NumberFormatTakesEveryFieldOfAGivenRecord) {
  WCHAR dot[] = u".", comma[] = u",", space[] = u" ";
  struct Case {
    NUMBERFMTW format;
    const char16_t* value;
    const char16_t* expected;
  };
  const Case cases[] = {
      {{0, 1, 3, dot, comma, 1}, u"1234567", u"1,234,567"},
      {{0, 1, 32, dot, comma, 1}, u"1234567", u"12,34,567"},
      {{0, 1, 30, dot, comma, 1}, u"1234567", u"1234,567"},
      {{0, 1, 0, dot, comma, 1}, u"1234567", u"1234567"},
      {{2, 1, 3, comma, space, 1}, u"1234.5", u"1 234,50"},
      {{2, 0, 3, dot, comma, 1}, u"0.5", u".50"},
      {{2, 1, 3, dot, comma, 1}, u"0.5", u"0.50"},
      {{1, 1, 3, dot, comma, 0}, u"-5", u"(5.0)"},
      {{1, 1, 3, dot, comma, 1}, u"-5", u"-5.0"},
      {{1, 1, 3, dot, comma, 2}, u"-5", u"- 5.0"},
      {{1, 1, 3, dot, comma, 3}, u"-5", u"5.0-"},
      {{1, 1, 3, dot, comma, 4}, u"-5", u"5.0 -"},
      {{0, 1, 3, dot, comma, 1}, u"2.5", u"3"},
      {{0, 1, 3, dot, comma, 1}, u"-2.5", u"-3"},
  };
  for (const Case& c : cases) EXPECT_EQ(number(kEnUs, c.value, &c.format), c.expected) << c.format.Grouping;
}

TEST_F(Locale, NumberFormatRefusesWhatWindowsRefuses) {
  WCHAR dot[] = u".", comma[] = u",";
  NUMBERFMTW good{2, 1, 3, dot, comma, 1};
  WCHAR buf[32];
  for (const char16_t* bad : {u"1,234", u"abc", u"", u"1.2.3", u" 1", u"+1", u"-", u"1e5"}) {
    SetLastError(0);
    EXPECT_EQ(GetNumberFormatW(kEnUs, 0, bad, nullptr, buf, 32), 0);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  }
  EXPECT_EQ(GetNumberFormatW(kEnUs, LOCALE_NOUSEROVERRIDE, u"1", &good, buf, 32), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FLAGS});
  NUMBERFMTW bad_order = good;
  bad_order.NegativeOrder = 5;
  EXPECT_EQ(GetNumberFormatW(kEnUs, 0, u"1", &bad_order, buf, 32), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  NUMBERFMTW no_sep = good;
  no_sep.lpThousandSep = nullptr;
  EXPECT_EQ(GetNumberFormatW(kEnUs, 0, u"1", &no_sep, buf, 32), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});

  EXPECT_EQ(GetNumberFormatW(kEnUs, 0, u"1234.5", &good, nullptr, 0), 9);  // "1,234.50" and the NUL
  EXPECT_EQ(GetNumberFormatW(kEnUs, 0, u"1234.5", &good, buf, 8), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(GetNumberFormatW(kEnUs, 0, u"1234.5", &good, buf, 9), 9);
}

std::u16string date(LCID lcid, DWORD flags, const SYSTEMTIME& st, const char16_t* picture) {
  WCHAR buf[100];
  const int n = GetDateFormatW(lcid, flags, &st, picture, buf, 100);
  return n > 0 ? std::u16string(buf, n - 1) : u"<failed>";
}

std::u16string time_of(LCID lcid, DWORD flags, const SYSTEMTIME& st, const char16_t* picture) {
  WCHAR buf[100];
  const int n = GetTimeFormatW(lcid, flags, &st, picture, buf, 100);
  return n > 0 ? std::u16string(buf, n - 1) : u"<failed>";
}

TEST_F(Locale, DateFormatFollowsThePictureGrammar) {
  // 2024-05-01 14:05:09, a Wednesday; the day of the week given is ignored.
  const SYSTEMTIME st{2024, 5, 6, 1, 14, 5, 9, 0};
  struct Case {
    LCID lcid;
    DWORD flags;
    const char16_t* picture;
    const char16_t* expected;
  };
  const Case cases[] = {
      {kEnUs, 0, nullptr, u"5/1/2024"},
      {kEnUs, DATE_SHORTDATE, nullptr, u"5/1/2024"},
      {kEnUs, DATE_LONGDATE, nullptr, u"Wednesday, May 1, 2024"},
      {kEnUs, DATE_YEARMONTH, nullptr, u"May 2024"},
      {kDeDe, 0, nullptr, u"01.05.2024"},
      {kDeDe, DATE_LONGDATE, nullptr, u"Mittwoch, 1. Mai 2024"},
      {kEnUs, 0, u"d dd ddd dddd", u"1 01 Wed Wednesday"},
      {kEnUs, 0, u"M MM MMM MMMM", u"5 05 May May"},
      {kEnUs, 0, u"y yy yyyy", u"24 24 2024"},
      {kEnUs, 0, u"yyyy-MM-dd", u"2024-05-01"},
      {kEnUs, 0, u"'Day' d", u"Day 1"},
      {kEnUs, 0, u"'o''clock' d", u"o'clock 1"},
      {kEnUs, 0, u"hh:mm tt", u"hh:mm tt"},  // time letters are text here
      {kEnUs, 0, u"gg yyyy", u"A.D. 2024"},
      {0x0419, 0, u"d MMMM", u"1 \u043c\u0430\u044f"},  // the genitive beside a day
      {0x0419, 0, u"MMMM", u"\u043c\u0430\u0439"},
      {kDeDe, 0, u"ddd, d. MMM yyyy", u"Mi, 1. Mai 2024"},
      {kDeDe, 0, u"ddd dddd MMM MMMM", u"Mi Mittwoch Mai Mai"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(date(c.lcid, c.flags, st, c.picture), c.expected) << (c.picture ? "picture" : "flags");
  EXPECT_EQ(date(kEnUs, 0, SYSTEMTIME{1970, 1, 0, 1, 0, 0, 0, 0}, u"dddd"), u"Thursday");
  EXPECT_EQ(date(kEnUs, 0, SYSTEMTIME{2000, 2, 0, 29, 0, 0, 0, 0}, u"ddd"), u"Tue");
  EXPECT_EQ(date(kDeDe, 0, SYSTEMTIME{2024, 3, 0, 31, 0, 0, 0, 0}, u"ddd, dd. MMM yy"), u"So, 31. M\u00e4r 24");
  EXPECT_EQ(date(kDeDe, 0, SYSTEMTIME{2024, 12, 0, 24, 0, 0, 0, 0}, u"ddd MMM"), u"Di Dez");
}

TEST_F(Locale, DateFormatRefusesImpossibleDatesAndFlagsWithAPicture) {
  WCHAR buf[32];
  for (const SYSTEMTIME& bad : {SYSTEMTIME{2023, 2, 0, 29, 0, 0, 0, 0}, SYSTEMTIME{2024, 13, 0, 1, 0, 0, 0, 0},
                                SYSTEMTIME{2024, 1, 0, 0, 0, 0, 0, 0}, SYSTEMTIME{1600, 1, 0, 1, 0, 0, 0, 0}}) {
    SetLastError(0);
    EXPECT_EQ(GetDateFormatW(kEnUs, 0, &bad, nullptr, buf, 32), 0);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  }
  const SYSTEMTIME st{2024, 5, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(GetDateFormatW(kEnUs, DATE_LONGDATE, &st, u"d", buf, 32), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FLAGS});
  EXPECT_EQ(GetDateFormatW(kEnUs, DATE_LONGDATE | DATE_SHORTDATE, &st, nullptr, buf, 32), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FLAGS});
  EXPECT_EQ(GetDateFormatW(kEnUs, 0, &st, nullptr, nullptr, 0), 9);  // "5/1/2024" and the NUL
  EXPECT_EQ(GetDateFormatW(kEnUs, 0, &st, nullptr, buf, 8), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_GT(GetDateFormatW(kEnUs, 0, nullptr, nullptr, buf, 32), 0);  // today
}

TEST_F(Locale, TimeFormatFollowsThePictureGrammarAndFlags) {
  const SYSTEMTIME afternoon{2024, 5, 0, 1, 14, 5, 9, 0};
  const SYSTEMTIME midnight{2024, 5, 0, 1, 0, 7, 0, 0};
  struct Case {
    LCID lcid;
    DWORD flags;
    const SYSTEMTIME* st;
    const char16_t* picture;
    const char16_t* expected;
  };
  const Case cases[] = {
      {kEnUs, 0, &afternoon, nullptr, u"2:05:09 PM"},
      {kEnUs, 0, &midnight, nullptr, u"12:07:00 AM"},
      {kDeDe, 0, &afternoon, nullptr, u"14:05:09"},
      {kEnUs, 0, &afternoon, u"HH:mm", u"14:05"},
      {kEnUs, 0, &midnight, u"H h hh", u"0 12 12"},
      {kEnUs, 0, &afternoon, u"m mm s ss", u"5 05 9 09"},
      {kEnUs, 0, &afternoon, u"t tt", u"P PM"},
      {kEnUs, 0, &afternoon, u"h 'h' dd", u"2 h dd"},
      {kEnUs, TIME_NOSECONDS, &afternoon, nullptr, u"2:05 PM"},
      {kEnUs, TIME_NOMINUTESORSECONDS, &afternoon, nullptr, u"2 PM"},
      {kEnUs, TIME_NOTIMEMARKER, &afternoon, nullptr, u"2:05:09"},
      {kEnUs, TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER, &afternoon, nullptr, u"14:05:09"},
      {kDeDe, 0, &afternoon, u"tt", u""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(time_of(c.lcid, c.flags, *c.st, c.picture), c.expected) << std::hex << c.flags;

  WCHAR buf[32];
  const SYSTEMTIME bad{2024, 5, 0, 1, 24, 0, 0, 0};
  EXPECT_EQ(GetTimeFormatW(kEnUs, 0, &bad, nullptr, buf, 32), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  // The date fields do not matter to a time.
  const SYSTEMTIME no_date{0, 0, 0, 0, 9, 30, 0, 0};
  EXPECT_EQ(time_of(kEnUs, 0, no_date, nullptr), u"9:30:00 AM");
}

TEST_F(Locale, MapStringChangesCaseAndKeepsTheLength) {
  WCHAR buf[32];
  const std::u16string src = u"abc\u00e9\u00df\U00010428z";
  int n = LCMapStringW(0, LCMAP_UPPERCASE, src.data(), static_cast<int>(src.size()), buf, 32);
  ASSERT_EQ(n, static_cast<int>(src.size()));
  EXPECT_EQ(std::u16string(buf, n), u"ABC\u00c9\u00df\U00010400Z");  // sharp s has no one-letter capital
  n = LCMapStringW(kEnUs, LCMAP_LOWERCASE, u"MiXeD", -1, buf, 32);
  ASSERT_EQ(n, 6);  // with the NUL
  EXPECT_EQ(std::u16string(buf), u"mixed");
  EXPECT_EQ(LCMapStringW(0, LCMAP_UPPERCASE, u"abc", -1, nullptr, 0), 4);
  EXPECT_EQ(LCMapStringW(0, LCMAP_UPPERCASE, u"abc", 3, buf, 2), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(LCMapStringW(0, LCMAP_UPPERCASE | LCMAP_LOWERCASE, u"abc", 3, buf, 32), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FLAGS});
  EXPECT_EQ(LCMapStringW(0, LCMAP_UPPERCASE, u"abc", 0, buf, 32), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  n = LCMapStringW(0, LCMAP_BYTEREV, u"\u1234", 1, buf, 32);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(buf[0], u'\u3412');

  char out[16];
  n = LCMapStringA(0, LCMAP_UPPERCASE, "abc\xe9\xb5", 5, out, 16);
  ASSERT_EQ(n, 5);
  EXPECT_EQ(std::string(out, 5), "ABC\xc9\xb5");  // the micro sign stays
}

// Windows' simple case tables, and Turkish i only with linguistic casing.
TEST_F(Locale, MapStringCasesAsWindows) {
  constexpr LCID kTurkish = 0x041F;
  struct Case {
    LCID lcid;
    DWORD flags;
    const char16_t* src;
    const char16_t* expected;
  };
  const Case cases[] = {
      // Title-case letters, the micro sign and final sigma stay when upper-casing.
      {kEnUs, LCMAP_UPPERCASE, u"\u01c5\u01c8\u01cb\u01f2", u"\u01c5\u01c8\u01cb\u01f2"},
      {kEnUs, LCMAP_UPPERCASE, u"\u00b5m", u"\u00b5M"},
      {kEnUs, LCMAP_UPPERCASE, u"\u03bb\u03cc\u03b3\u03bf\u03c2", u"\u039b\u038c\u0393\u039f\u03c2"},
      {kEnUs, LCMAP_UPPERCASE, u"stra\u00dfe", u"STRA\u00dfE"},  // no full mapping: sharp s stays
      {kEnUs, LCMAP_UPPERCASE, u"\u01c6\u01c9", u"\u01c4\u01c7"},  // small dz, lj: to their capitals
      {kEnUs, LCMAP_LOWERCASE, u"\u01c4\u039c\u03a3", u"\u01c6\u03bc\u03c3"},
      // Turkish: i and I as in English unless linguistic casing is asked for.
      {kTurkish, LCMAP_UPPERCASE, u"i\u0131", u"II"},
      {kTurkish, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, u"i\u0131", u"\u0130I"},
      {kTurkish, LCMAP_LOWERCASE, u"I\u0130", u"ii"},
      {kTurkish, LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING, u"I\u0130", u"\u0131i"},
      {kEnUs, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, u"i", u"I"},  // only Turkic languages
      {0x042C, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, u"i", u"\u0130"},  // Azerbaijani
  };
  for (const Case& c : cases) {
    WCHAR buf[32] = {};
    const int n = LCMapStringW(c.lcid, c.flags, c.src, -1, buf, 32);
    ASSERT_GT(n, 0) << std::hex << c.lcid;
    EXPECT_EQ(std::u16string(buf), c.expected) << std::hex << c.lcid << " " << c.flags;
  }
}

TEST_F(Locale, CharacterClassesFollowUnicode) {
  struct Case {
    char16_t c;
    bool alpha, alnum;
  };
  const Case cases[] = {
      {u'a', true, true},       {u'Z', true, true},   {u'5', false, true},
      {u' ', false, false},     {u'_', false, false}, {u'-', false, false},
      {u'\u00e4', true, true},  {u'\u0436', true, true},  // a-umlaut, Cyrillic zhe
      {u'\u0663', false, true},                           // Arabic-Indic three
      {u'\u3042', true, true},                            // hiragana a
      {u'.', false, false},
      // Windows counts superscript digits as digits.
      {u'\u00b2', false, true},  {u'\u00b3', false, true},  {u'\u00b9', false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsCharAlphaW(c.c) != 0, c.alpha) << std::hex << int(c.c);
    EXPECT_EQ(IsCharAlphaNumericW(c.c) != 0, c.alnum) << std::hex << int(c.c);
  }
}

}  // namespace
