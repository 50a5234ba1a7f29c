// Registry rows: roots, value prefixes and expansion against a package.
#include "msi/entities/registry.h"

#include "msi/entities/entity_fixture.h"
#include "msi/model/error.h"
#include "msi/model/package.h"

namespace {

using model_test::narrow;

const char kRegistryIdt[] =
    "Registry\tRoot\tKey\tName\tValue\tComponent_\ns72\ti2\tl255\tL255\tL0\ts72\nRegistry\tRegistry\n"
    "R0\t2\tSoftware\\[ProductName]\tVersion\t#[A]\tC1\n"
    "R1\t-1\tSoftware\\Korvane\tPerUser\ttext\tC1\n"
    "R2\t7\tSoftware\\Korvane\tOdd\t#x0A0B\tC1\n";

class RegistryTest : public model_test::PackageWorld {
 protected:
  void SetUp() override {
    PackageWorld::SetUp();
    auto tables = entity_test::sampleTables();
    tables["Registry"] = kRegistryIdt;
    package_ = Msi::MsiPackage::open(build("reg.msi", tables), true);
  }
  void TearDown() override {
    package_.reset();
    PackageWorld::TearDown();
  }
  std::unique_ptr<Msi::MsiPackage> package_;
};

TEST_F(RegistryTest, ValuePrefixesGiveTypeAndText) {
  struct Case {
    std::u16string stored;
    std::int32_t type;
    std::u16string value;
  };
  const Case cases[] = {
      {u"#x0A0B", 4, u"0A0B"},       {u"#%%PATH%", 0, u"%PATH%"}, {u"##1", 0, u"#1"},
      {u"#123", 1, u"123"},          {u"a[~]b[~]c", 3, u"a[~]b[~]c"}, {u"abc", 0, u"abc"},
      {u"[~]abc", 3, u"[~]abc"},     {u"#[~]", 1, u"[~]"},          {u"", 0, u""},
      {u"#[A]", 1, u"1"},            // the prefix counts after expansion
      {u"[L]", 0, u"[B]"},
  };
  for (const Case& c : cases) {
    Msi::MsiRegistry r(package_.get(), u"R");
    r.setValue(c.stored);
    EXPECT_EQ(r.valueType(), c.type) << narrow(c.stored);
    EXPECT_EQ(narrow(r.value()), narrow(c.value)) << narrow(c.stored);
  }
}

TEST_F(RegistryTest, RowsReadExpandAndWriteBackUnexpanded) {
  struct Case {
    std::u16string key;
    std::int32_t root;
    std::string rootText, keyPath, name;
  };
  const Case cases[] = {
      {u"R0", 2, "2", "Software\\Demo", "Version"},
      {u"R1", 4, "-1", "Software\\Korvane", "PerUser"},
      {u"R2", 4, "-1", "Software\\Korvane", "Odd"},  // an unknown root is written as -1
  };
  for (const Case& c : cases) {
    Msi::MsiRegistry* r = package_->find<Msi::MsiRegistry>(c.key);
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(r->isModified());
    EXPECT_EQ(r->root(), c.root);
    EXPECT_EQ(narrow(r->keyPath()), c.keyPath);
    EXPECT_EQ(narrow(r->name()), c.name);
    Msi::MsiRow* stored = package_->database()->table(u"Registry").findRow(c.key);
    Msi::MsiRow written(stored->valueCount(), stored->columns());
    r->writeTo(written);
    EXPECT_EQ(narrow(written.field(u"Root")), c.rootText);
    EXPECT_EQ(written.field(u"Key"), stored->field(u"Key"));
    EXPECT_EQ(written.field(u"Value"), stored->field(u"Value"));
  }
  Msi::MsiRegistry* r = package_->find<Msi::MsiRegistry>(u"R0");
  EXPECT_EQ(r->valueType(), 1);
  EXPECT_EQ(narrow(r->value()), "1");
  try {
    r->setComponent(u"Other");
    ADD_FAILURE() << "a second component was taken";
  } catch (const Msi::Error& e) {
    EXPECT_EQ(e.code(), 70u);
  }
  EXPECT_EQ(narrow(r->componentKey()), "C1");
}

}  // namespace
