#include "core/subformats.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/values_fixture.h"

namespace {

using Processor::String;
using Processor::Variant;

class Subformats : public values_test::Values {};

TEST_F(Subformats, ChoiceLimits) {
  const char16_t* days = u"{0, choice, 0#|1#1 day|1<{0} days}";
  EXPECT_EQ(fmt(days, 0), "");
  EXPECT_EQ(fmt(days, 1), "1 day");
  EXPECT_EQ(fmt(days, 5), "5 days");
  EXPECT_EQ(fmt(days, -2), "");
  EXPECT_EQ(fmt(u"{0,choice,0#a|0#b}", 0), "a");
  EXPECT_EQ(fmt(u"[{0,choice,0#|0#b}]", 0), "[]");
  EXPECT_EQ(fmt(u"{0,choice,0#empty|0<set}", u""), "empty");
  EXPECT_EQ(fmt(u"{0,choice,0#empty|0<set}", u"x"), "set");
  // Limits are truncated to integers.
  EXPECT_EQ(fmt(u"{0,choice,1.9#one}", 1), "one");
  EXPECT_EQ(fmt(u"{0,choice,1<>not one|1#one}", 7), "not one");
  EXPECT_EQ(fmt(u"{0,choice,1<>not one|1#one}", 1), "one");
  EXPECT_EQ(fmt(u"{0,choice,0>negative|0\u2264other}", -0.5), "negative");
  EXPECT_EQ(fmt(u"{0,choice,0>negative|0\u2264zero}", 0.0), "zero");
  // A space after the comparison belongs to the text.
  EXPECT_EQ(fmt(u"[{0,choice, 2 # two}]", 2), "[ two]");
  // Unsigned arguments compare as unsigned; TBool as 0 or 1; other types as 0.
  EXPECT_EQ(fmt(u"{0,choice,0#zero|0<big}", 4000000000u), "big");
  EXPECT_EQ(fmt(u"{0,choice,1#yes|0#no}", true), "yes");
  EXPECT_EQ(fmt(u"{0,choice,0#nothing}", Variant::ofType(Variant::TVariant)), "nothing");
}

TEST_F(Subformats, ConcordPluralForms) {
  struct Form {
    double x;
    int threeForms;
    int twoForms;
  };
  const Form forms[] = {{1, 0, 0},  {21, 0, 1},  {101, 0, 1}, {2, 1, 1},   {3, 1, 1},   {4, 1, 1},
                        {22, 1, 1}, {0, 2, 1},   {5, 2, 1},   {11, 2, 1},  {12, 2, 1},  {14, 2, 1},
                        {25, 2, 1}, {111, 2, 1}, {1.5, 1, 1}, {-21, 0, 1}, {-3, 1, 1}};
  for (const Form& f : forms) {
    EXPECT_EQ(Processor::SubformatConcord::pluralForm(f.x, 0), f.threeForms) << f.x;
    EXPECT_EQ(Processor::SubformatConcord::pluralForm(f.x, 22), f.twoForms) << f.x;
  }

  Processor::setPluralLanguageNumberForTests(22);
  EXPECT_EQ(fmt(u"{0} {0,concord,0#file|1#files}", 3), "3 files");
  EXPECT_EQ(fmt(u"{0} {0,concord,0#file|1#files}", 1), "1 file");
  Processor::setPluralLanguageNumberForTests(0);
  const char16_t* files = u"{0} {0,concord,0#soubor|1#soubory|2#soubor\u016f}";
  EXPECT_EQ(fmt(files, 1), "1 soubor");
  EXPECT_EQ(fmt(files, 3), "3 soubory");
  EXPECT_EQ(fmt(files, 12), "12 soubor\u016f");
  // No option for form 2: the last option's text.
  EXPECT_EQ(fmt(u"{0,concord,0#one|1#few}", 7), "few");
}

TEST_F(Subformats, Ellipsis) {
  EXPECT_EQ(fmt(u"{0,ellipsis,10}", u"Hello wonderful world"), "Hello ...");
  EXPECT_EQ(fmt(u"{0,ellipsis,10}", u"Abcdefghijklmnop"), "Abcdefg...");
  EXPECT_EQ(fmt(u"{0,ellipsis,10}", u"Short text"), "Short text");
  EXPECT_EQ(fmt(u"{0,ellipsis,3}", u"Hello wonderful world"), "Hello wonderful world");
  EXPECT_EQ(fmt(u"{0,ellipsis}", u"Hello wonderful world"), "Hello wonderful world");
  EXPECT_EQ(fmt(u"{0,ellipsis,14}", u"Hello wonderful world"), "Hello ...");
  EXPECT_EQ(fmt(u"{0,ellipsis,18}", u"Hello wonderful world"), "Hello wonderful...");
  // A cut inside a character made of two units keeps the whole character out.
  EXPECT_EQ(fmt(u"{0,ellipsis,6}", u"a\U0001D400\U0001D400\U0001D400\U0001D400"), "a\U0001D400...");
}

TEST_F(Subformats, PathEllipsis) {
  EXPECT_EQ(fmt(u"{0,path_ellipsis,14}", u"C:\\aaa\\b\\c\\d.txt"), "C:\\...\\c\\d.txt");
  EXPECT_EQ(fmt(u"{0,path_ellipsis,12}", u"C:\\a\\b\\c\\d.txt"), "C:\\...\\d.txt");
  EXPECT_EQ(fmt(u"{0,path_ellipsis}", u"C:\\a\\b\\c\\d.txt"), "C:\\...\\d.txt");
  EXPECT_EQ(fmt(u"{0,path_ellipsis,3}", u"C:\\a\\b\\c\\d.txt"), "C:\\...\\d.txt");
  // A path that fits stays as it is; it is never made longer.
  EXPECT_EQ(fmt(u"{0,path_ellipsis,15}", u"C:\\a\\b\\c\\d.txt"), "C:\\a\\b\\c\\d.txt");
  EXPECT_EQ(fmt(u"{0,path_ellipsis,100}", u"C:\\a\\b\\c.txt"), "C:\\a\\b\\c.txt");
  EXPECT_EQ(fmt(u"{0,path_ellipsis,5}", u"C:\\a\\bcdefgh.txt"), "C:\\a\\bcdefgh.txt");
  EXPECT_EQ(fmt(u"{0,path_ellipsis,20}", u"/usr/share/doc/korvane/notes/readme.txt"),
            "/usr/.../readme.txt");
}

TEST_F(Subformats, BreakIterators) {
  std::unique_ptr<Processor::BreakIterator> words(Processor::BreakIterator::create(1));
  ASSERT_TRUE(words);
  words->setText(String(u"ab cd"));
  std::vector<int> seen;
  for (words->next(); words->valid(); words->next()) seen.push_back(words->position());
  EXPECT_EQ(seen, (std::vector<int>{2, 3, 5}));

  std::unique_ptr<Processor::BreakIterator> lines(Processor::BreakIterator::create(0));
  ASSERT_TRUE(lines);
  lines->setText(String(u"ab cd"));
  lines->next();
  EXPECT_EQ(lines->position(), 3);

  std::unique_ptr<Processor::BreakIterator> path(Processor::BreakIterator::create(2));
  ASSERT_TRUE(path);
  path->setText(String(u"a\\b/c"));
  seen.clear();
  for (path->next(); path->valid(); path->next()) seen.push_back(path->position());
  EXPECT_EQ(seen, (std::vector<int>{1, 3, 5}));
  path->setText(String());
  EXPECT_FALSE(path->valid());

  EXPECT_EQ(Processor::BreakIterator::create(3), nullptr);
}

TEST_F(Subformats, NumberStyles) {
  EXPECT_EQ(fmt(u"{0,number,hex}", -1), "FFFFFFFF");
  EXPECT_EQ(fmt(u"{0,number,simple}", 1234567), "1234567");
  EXPECT_EQ(fmt(u"{0,number}", 1234567), "1,234,567");
  EXPECT_EQ(fmt(u"{0,number,integer,0000}", 42), "0042");
  // A comma inside the extra part is dropped: the pattern reads "###0.0".
  EXPECT_EQ(fmt(u"{0,number,integer,#,##0.0}", 1234.56), "1234.6");
  // A type the formatter cannot write gives no text.
  EXPECT_EQ(fmt(u"[{0,number,hex}]", 1.5), "[]");
}

}  // namespace
