#include "msi/model/identifiers.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(MsiIdentifiers, PackedGuidsAndNewKeys) {
  GUID g{0x12345678, 0x9ABC, 0xDEF0, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}};
  EXPECT_EQ(Msi::packGuid(g), u"87654321CBA90FED21436587A9CBED0F");
  std::set<std::u16string> keys;
  for (int i = 0; i < 50; ++i) {
    std::u16string key;
    ASSERT_TRUE(Msi::newIdentifier(key));
    ASSERT_EQ(key.size(), 33u);
    EXPECT_EQ(key[0], u'_');
    EXPECT_EQ(key.find_first_not_of(u"0123456789ABCDEF", 1), std::u16string::npos);
    keys.insert(key);
  }
  EXPECT_EQ(keys.size(), 50u);
}

TEST(MsiIdentifiers, GuidTexts) {
  for (const char16_t* yes :
       {u"{12345678-9ABC-DEF0-1234-56789ABCDEF0}", u"12345678-9abc-def0-1234-56789abcdef0",
        u"{12345678-9ABC-DEF0-1234-56789ABCDEF0", u"12345678-9ABC-DEF0-1234-56789ABCDEF0}"})
    EXPECT_TRUE(Msi::isValidGuid(yes));
  for (const char16_t* no :
       {u"", u"{12345678-9ABC-DEF0-1234-56789ABCDEF0}x", u"{12345678-9ABC-DEF0-1234-56789ABCDEF01}",
        u"12345678-9ABC-DEF0-1234-56789ABCDEFG", u"{{12345678-9ABC-DEF0-1234-56789ABCDEF0}}",
        u"87654321CBA90FED21436587A9CBED0F", u"12345678-9ABC-DEF0-1234-56789ABCDE\u0130"})
    EXPECT_FALSE(Msi::isValidGuid(no));
}

TEST(MsiIdentifiers, ShortNames) {
  struct Case {
    const char16_t* name;
    const char16_t* shortName;
  } cases[] = {{u"setup.exe", u"SETUP.EXE"},       {u"my file.txt", u"MY_FILE.TXT"},
               {u"LongFileName.txt", u"LONGFI~1.TXT"}, {u"verylongname.a", u"VERYLO~1.A"},
               {u"verylongnameb.a", u"VERYLO~1.A"},    {u"abcdefgh.txt", u"ABCDEFGH.TXT"},
               {u"ab.html5x", u"AB~1.HTM"},         {u"tab\there", u"TAB_HERE"},
               {u"noext", u"NOEXT"},                 {u"a+b=c.t;x", u"A_B_C.T_X"},
               {u"caf\u00e9.txt", u"CAF_.TXT"},        {u"x.y.z", u"X_Y.Z"},
               {u"report.docx", u"REPORT~1.DOC"}};
  for (const Case& c : cases) EXPECT_EQ(Msi::makeShortName(c.name), c.shortName) << int(c.name[0]);
}

TEST(MsiIdentifiers, ShortNamesAreUniqueAmongTheTakenOnes) {
  std::set<std::u16string> taken;
  const char16_t* expected[] = {u"LONGFI~1.TXT", u"LONGFI~2.TXT", u"LONGFI~3.TXT", u"LONGFI~4.TXT",
                                u"LONGFI~5.TXT", u"LONGFI~6.TXT", u"LONGFI~7.TXT", u"LONGFI~8.TXT",
                                u"LONGFI~9.TXT", u"LONGF~10.TXT"};
  for (const char16_t* e : expected) {
    std::u16string name = Msi::makeShortName(u"LongFileName.txt", taken);
    EXPECT_EQ(name, e);
    taken.insert(name);
  }
  EXPECT_EQ(Msi::makeShortName(u"setup.exe", {u"SETUP.EXE"}), u"SETUP~1.EXE");
}

}  // namespace
