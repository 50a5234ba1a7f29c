#include "msi/model/column.h"

#include <gtest/gtest.h>

#include "msi/model/error.h"

namespace {

using Msi::MsiColumn;

// The number of an error and of each cause below it.
std::vector<std::uint32_t> chain(const Common::Error& e) {
  std::vector<std::uint32_t> out;
  for (Common::Error c = e; c; c = c.cause()) out.push_back(c.code());
  return out;
}

template <class F>
std::vector<std::uint32_t> errorChain(F f) {
  try {
    f();
  } catch (const Msi::Error& e) {
    return chain(e);
  }
  return {};
}

struct Shape {
  MsiColumn::Type type;
  std::int32_t size;
  bool nullable, localizable, key;
};

void expectShape(const MsiColumn& c, const Shape& s, const std::string& what) {
  EXPECT_EQ(c.type(), s.type) << what;
  EXPECT_EQ(c.size(), s.size) << what;
  EXPECT_EQ(c.isNullable(), s.nullable) << what;
  EXPECT_EQ(c.isLocalizable(), s.localizable) << what;
  EXPECT_EQ(c.isKey(), s.key) << what;
}

TEST(MsiColumnTypes, InstallerTypeTexts) {
  struct Case {
    const char16_t* text;
    Shape shape;
  } cases[] = {
      {u"s72", {MsiColumn::String, 72, false, false, false}}, {u"S255", {MsiColumn::String, 255, true, false, false}},
      {u"L64", {MsiColumn::String, 64, true, true, false}},   {u"l0", {MsiColumn::String, 0, false, true, false}},
      {u"i2", {MsiColumn::Short, 0, false, false, false}},    {u"I4", {MsiColumn::Long, 0, true, false, false}},
      {u"v0", {MsiColumn::Object, 0, false, false, false}},   {u"G20", {MsiColumn::TemporaryString, 20, true, false, false}},
      {u"j4", {MsiColumn::TemporaryInteger, 0, false, false, false}},
  };
  for (const Case& c : cases) {
    std::u16string t = c.text;
    expectShape(MsiColumn::fromInstallerType(c.text), c.shape, std::string(t.begin(), t.end()));
  }
  for (const char16_t* bad : {u"i8", u"v1", u"x", u""})
    EXPECT_EQ(errorChain([&] { MsiColumn::fromInstallerType(bad); }), (std::vector<std::uint32_t>{1132, 1134}));
  EXPECT_EQ(errorChain([] { MsiColumn::fromInstallerType(u"s"); }), (std::vector<std::uint32_t>{1132, 5}));
}

TEST(MsiColumnTypes, SqlTypeTextsAndBack) {
  struct Case {
    const char16_t* text;
    Shape shape;
    const char16_t* sql;
  } cases[] = {
      {u"CHAR(72) NOT NULL PRIMARY KEY", {MsiColumn::String, 72, false, false, true}, u"CHAR(72) NOT NULL"},
      {u"CHAR(38) PRIMARY KEY NOT NULL", {MsiColumn::String, 38, false, false, true}, u"CHAR(38) NOT NULL"},
      {u"LONGCHAR LOCALIZABLE", {MsiColumn::String, 0, true, true, false}, u"LONGCHAR LOCALIZABLE"},
      {u"CHAR(255) NOT NULL LOCALIZABLE", {MsiColumn::String, 255, false, true, false},
       u"CHAR(255) NOT NULL LOCALIZABLE"},
      {u"CHARACTER(16)", {MsiColumn::String, 16, true, false, false}, u"CHAR(16)"},
      {u"SHORT NOT NULL", {MsiColumn::Short, 0, false, false, false}, u"SHORT NOT NULL"},
      {u"INTEGER", {MsiColumn::Short, 0, true, false, false}, u"SHORT"},
      {u"LONG NOT NULL PRIMARY KEY", {MsiColumn::Long, 0, false, false, true}, u"LONG NOT NULL"},
      {u"OBJECT NOT NULL", {MsiColumn::Object, 0, false, false, false}, u"OBJECT NOT NULL"},
      {u"LONGCHAR NOT NULL PRIMARY LOCALIZABLE", {MsiColumn::String, 0, false, true, false},
       u"LONGCHAR NOT NULL LOCALIZABLE"},
  };
  for (const Case& c : cases) {
    std::u16string t = c.text;
    MsiColumn col = MsiColumn::fromSqlDefinition(c.text);
    expectShape(col, c.shape, std::string(t.begin(), t.end()));
    EXPECT_EQ(col.sqlDefinition(), c.sql);
  }
  for (const char16_t* bad : {u"CHAR (72)", u"CHAR(72", u"char(72)", u"CHAR(x)", u"TEXT"})
    EXPECT_EQ(errorChain([&] { MsiColumn::fromSqlDefinition(bad); }), (std::vector<std::uint32_t>{1132, 1133}));
  EXPECT_EQ(MsiColumn::fromInstallerType(u"g20").sqlDefinition(), u"CHAR(20) TEMPORARY NOT NULL");
  EXPECT_EQ(errorChain([] { MsiColumn::fromInstallerType(u"J4").sqlDefinition(); }),
            std::vector<std::uint32_t>{1132});
}

TEST(MsiColumnTypes, AssignmentKeepsTheTargetsKeyFlag) {
  MsiColumn key = MsiColumn::fromSqlDefinition(u"CHAR(72) NOT NULL PRIMARY KEY");
  key.setName(u"K");
  MsiColumn plain;
  plain = key;
  EXPECT_EQ(plain.name(), u"K");
  EXPECT_EQ(plain.size(), 72);
  EXPECT_FALSE(plain.isKey());
  MsiColumn copy(key);
  EXPECT_TRUE(copy.isKey());
}

TEST(MsiColumnLists, AddFindAtAndKeyColumns) {
  Msi::MsiColumnList list;
  for (const char16_t* name : {u"A", u"B", u"C"}) {
    auto* c = new MsiColumn(MsiColumn::fromInstallerType(u"s10"));
    c->setName(name);
    c->setKey(name[0] != u'B');
    list.add(c);
  }
  MsiColumn duplicate;
  duplicate.setName(u"B");
  EXPECT_EQ(errorChain([&] { list.add(&duplicate); }), std::vector<std::uint32_t>{1135});
  EXPECT_EQ(list.count(), 3u);
  EXPECT_EQ(list.at(1).name(), u"B");
  EXPECT_EQ(errorChain([&] { list.at(3); }), std::vector<std::uint32_t>{1105});
  EXPECT_EQ(list.find(u"C"), list.begin() + 2);
  EXPECT_EQ(list.find(u"c"), list.end());
  Msi::MsiColumnList keys = list.keyColumns();
  ASSERT_EQ(keys.count(), 2u);
  EXPECT_EQ(&keys.at(1), &list.at(2)) << "the key list points at the same columns";
  Msi::MsiColumnList copy;
  copy.assign(list);
  EXPECT_EQ(copy.count(), 3u);
  EXPECT_NE(&copy.at(0), &list.at(0));
  EXPECT_TRUE(copy.at(0).isKey());
  copy.clear();
  EXPECT_EQ(copy.count(), 0u);
}

}  // namespace
