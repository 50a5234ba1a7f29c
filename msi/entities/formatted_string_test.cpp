// Formatted texts expanded against a package built with msibuild.
#include "msi/entities/formatted_string.h"

#include "msi/entities/entity_fixture.h"
#include "msi/entities/property.h"
#include "msi/model/error.h"
#include "msi/model/package.h"
#include "platform/win32/windows.h"

namespace {

using model_test::narrow;

class FormattedStringTest : public model_test::PackageWorld {
 protected:
  void SetUp() override {
    PackageWorld::SetUp();
    package_ = Msi::MsiPackage::open(build("fmt.msi", entity_test::sampleTables()), false);
    package_->addProperty(u"E", u"");  // defined, empty
    SetEnvironmentVariableW(u"KV_FMT_SET", u"from env");
    SetEnvironmentVariableW(u"KV_FMT_UNSET", nullptr);
  }
  void TearDown() override {
    SetEnvironmentVariableW(u"KV_FMT_SET", nullptr);
    package_.reset();
    PackageWorld::TearDown();
  }
  std::u16string format(const std::u16string& text, bool ext = false) {
    if (ext) return Msi::MsiFormattedStringExt(package_.get(), text).format();
    return Msi::MsiFormattedString(package_.get(), text).format();
  }
  std::unique_ptr<Msi::MsiPackage> package_;
};

TEST_F(FormattedStringTest, ExpandsEachKindOfReference) {
  struct Case {
    std::u16string text, expected;
  };
  const Case cases[] = {
      {u"", u""},
      {u"plain", u"plain"},
      {u"x[A]y", u"x1y"},
      {u"[A][B]", u"12"},
      {u"[[R]]", u"hello"},                 // the inner name names the outer one
      {u"[[E]]", u"[]"},                    // an empty nested value keeps the outer brackets
      {u"[L]", u"[B]"},                     // a value is not expanded again
      {u"[~]", u"[~]"},
      {u"a[~]b[A]", u"a[~]b1"},
      {u"[\\[]", u"["},
      {u"[\\]]", u"]"},
      {u"[\\x]", u"x"},
      {u"[\\xyz]", u"x"},
      {u"[\\]", u"[\\]"},                   // the backslash escapes the ]: no token
      {u"[", u"["},
      {u"x]", u"x]"},
      {u"[A", u"[A"},
      {u"{", u"{"},
      {u"{[A] and [B]}", u"1 and 2"},
      {u"{[A] and [E]}", u"{1 and }"},      // an empty value keeps the group
      {u"{11111111-2222-3333-4444-555555555555}", u"{11111111-2222-3333-4444-555555555555}"},
      {u"{[A]} x {[B]}", u"1 x 2"},         // two groups, each closed at its own }
      {u"{a{[A]}b}", u"{a{[A]}b}"},       // only names nest: the inner group stops the search
      {u"{[A] [#F1]}", u"1 [#F1]"},         // a file reference ends the group's search
      {u"[#F1]", u"\\My App\\readme.txt"},
      {u"[!F1]", u"\\My App\\readme.txt"},
      {u"[#NOPE]", u""},
      {u"[#[A]]", u""},                     // file keys are taken literally
      {u"[$C1]", u"\\My App"},
      {u"[$NOPE]", u""},
      {u"[APPDIR]", u"\\My App"},           // no property: the directory's target path
      {u"[BIN]", u"\\My App\\bin"},
      {u"[%KV_FMT_SET]", u"from env"},
      {u"<[%KV_FMT_UNSET]>", u"<>"},        // an unset variable is empty, not a failure
      {u"[ProductName] [A]", u"Demo 1"},
  };
  for (const Case& c : cases) {
    try {
      EXPECT_EQ(narrow(format(c.text)), narrow(c.expected)) << narrow(c.text);
    } catch (const Common::Error& e) {
      ADD_FAILURE() << narrow(c.text) << " raised " << e.code() << " " << narrow(e.text());
    }
  }
}

TEST_F(FormattedStringTest, UnknownNamesAndDeepNestingFail) {
  struct Case {
    std::u16string text;
    std::uint32_t code;
  };
  std::u16string deep = std::u16string(1000, u'[') + u"A" + std::u16string(1000, u']');
  const Case cases[] = {{u"x[NoSuchName]y", 101}, {u"[[S]]", 101}, {deep, 102}};
  for (const Case& c : cases) {
    Msi::MsiFormattedString f(package_.get(), c.text);
    try {
      f.format();
      ADD_FAILURE() << narrow(c.text.substr(0, 20)) << " expanded";
    } catch (const Msi::Error& e) {
      EXPECT_EQ(e.code(), c.code) << narrow(c.text.substr(0, 20));
      EXPECT_EQ(e.module(), 0x7024dedbu);
    }
  }
}

TEST_F(FormattedStringTest, SecondFormatKeepsTheFirstResult) {
  Msi::MsiFormattedString f(package_.get(), u"[A]-[B]");
  EXPECT_EQ(f.format(), u"1-2");
  package_->property(u"A", false)->setValue(u"changed");
  EXPECT_EQ(f.format(), u"1-2");
}

TEST_F(FormattedStringTest, ExtVariantSearchesOnlyLongerRegions) {
  // A region of two characters is not searched there, so "{[]}" keeps its
  // inner brackets; the plain variant looks the empty name up and fails.
  EXPECT_EQ(format(u"[#F1]", true), u"\\My App\\readme.txt");
  EXPECT_EQ(narrow(format(u"{[]}", true)), "{[]}");
  EXPECT_THROW(format(u"{[]}", false), Msi::Error);
}

}  // namespace
