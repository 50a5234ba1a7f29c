#include "msi/model/table_description.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "msi/model/singleton.h"
#include "msi/model/table_access.h"

namespace {

std::uint32_t errorNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const Msi::Error& e) {
    return e.code();
  }
  return 0;
}

TEST(MsiTableDescriptions, ColumnsNamesAndCreateText) {
  Msi::MsiTableDescription d(u"TestTableT");
  d.addColumn(0, u"A", u"CHAR(72) NOT NULL PRIMARY KEY");
  d.addColumn(1, u"B", u"SHORT");
  d.addColumn(2, u"C", u"LONG NOT NULL PRIMARY KEY");
  EXPECT_EQ(errorNumber([&] { d.addColumn(1, u"X", u"SHORT"); }), 1135u);
  EXPECT_EQ(errorNumber([&] { d.addColumn(5, u"X", u"TEXT"); }), 1132u);
  EXPECT_EQ(d.columnName(2), u"C");
  EXPECT_EQ(errorNumber([&] { d.columnName(3); }), 1136u);
  EXPECT_EQ(d.column(u"b"), nullptr);
  EXPECT_EQ(d.keyCount(), 2);
  std::map<std::u16string, const Msi::MsiColumn*> byName{{u"stale", nullptr}};
  d.columnsByName(byName);
  EXPECT_EQ(byName.size(), 3u);
  EXPECT_EQ(byName.at(u"B"), d.column(u"B"));
  EXPECT_EQ(d.createTableSql(),
            u"Create Table `TestTableT` (`A` CHAR(72) NOT NULL, `B` SHORT, `C` LONG NOT NULL PRIMARY KEY `A`, `C`)");
  Msi::MsiTableDescription noKey(u"TestNoKey");
  noKey.addColumn(0, u"V", u"LONGCHAR");
  EXPECT_EQ(noKey.createTableSql(), u"Create Table `TestNoKey` (`V` LONGCHAR)");
}

TEST(MsiTableDescriptions, TheFirstOfANameIsRegisteredUntilItIsGone) {
  EXPECT_EQ(Msi::MsiTableDescription::lookup(u"TestTwice"), nullptr);
  {
    Msi::MsiTableDescription first(u"TestTwice");
    {
      Msi::MsiTableDescription second(u"TestTwice");
      EXPECT_EQ(Msi::MsiTableDescription::lookup(u"TestTwice"), &first);
    }
    EXPECT_EQ(Msi::MsiTableDescription::lookup(u"TestTwice"), &first);
  }
  EXPECT_EQ(Msi::MsiTableDescription::lookup(u"TestTwice"), nullptr);
  EXPECT_NE(Msi::MsiTableDescription::lookup(u"Property"), nullptr);
  EXPECT_EQ(Msi::MsiTableDescription::lookup(u"property"), nullptr);
}

struct ExitDescription : Msi::MsiTableDescription, Msi::Singleton<ExitDescription> {
  ExitDescription() : Msi::MsiTableDescription(u"TestExit") { addColumn(0, u"K", u"CHAR(8) PRIMARY KEY"); }
};

// Registered before the description exists, so it runs after its destruction.
void lateUser() {
  try {
    Msi::Singleton<ExitDescription>::instance();
  } catch (const Msi::Error& e) {
    std::_Exit(e.code() == 2 && e.module() == 0x9fa539f5u && e.location() == 0x393e5a02u ? 42 : 1);
  }
  std::_Exit(3);
}

TEST(MsiSingletons, RequestsAfterDestructionRaiseTwo) {
  EXPECT_EXIT(
      {
        std::atexit(lateUser);
        Msi::Singleton<ExitDescription>::instance();
        std::exit(0);
      },
      ::testing::ExitedWithCode(42), "");
}

int throwingBuilds = 0;
struct ThrowingDescription : Msi::MsiTableDescription, Msi::Singleton<ThrowingDescription> {
  ThrowingDescription() : Msi::MsiTableDescription(u"TestThrowing") {
    ++throwingBuilds;
    addColumn(0, u"K", u"CHAR(8)");
    addColumn(0, u"K", u"CHAR(8)");
  }
};

TEST(MsiSingletons, AThrowingConstructorLeavesTheClassDestroyed) {
  EXPECT_EXIT(
      {
        std::uint32_t first = errorNumber([] { Msi::Singleton<ThrowingDescription>::instance(); });
        std::uint32_t second = errorNumber([] { Msi::Singleton<ThrowingDescription>::instance(); });
        bool gone = Msi::MsiTableDescription::lookup(u"TestThrowing") == nullptr;
        std::_Exit(first == 1135 && second == 2 && throwingBuilds == 1 && gone ? 42 : 1);
      },
      ::testing::ExitedWithCode(42), "");
}

struct FakeRow {
  std::map<std::u16string, std::u16string> values;
  std::u16string& field(const std::u16string& name) {
    auto it = values.find(name);
    if (it == values.end()) throw Msi::DbError(1, 0x72a0b50eu, 1136);
    return it->second;
  }
};

struct AccessDescription : Msi::MsiTableDescription, Msi::Singleton<AccessDescription> {
  AccessDescription() : Msi::MsiTableDescription(u"TestAccess") {
    addColumn(0, u"Key", u"CHAR(8) NOT NULL PRIMARY KEY");
    addColumn(1, u"Value", u"LONGCHAR");
  }
};

TEST(MsiTableAccess, ColumnValuesByDescriptionIndex) {
  FakeRow row{{{u"Value", u"v"}, {u"Key", u"k"}}};
  EXPECT_EQ((Msi::columnValue<AccessDescription, FakeRow>(row, 0)), u"k");
  Msi::columnValue<AccessDescription, FakeRow>(row, 1) = u"changed";
  EXPECT_EQ(row.values[u"Value"], u"changed");
  EXPECT_EQ(errorNumber([&] { Msi::columnValue<AccessDescription, FakeRow>(row, 2); }), 1136u);
  FakeRow missing{{{u"Key", u"k"}}};
  EXPECT_EQ(errorNumber([&] { Msi::columnValue<AccessDescription, FakeRow>(missing, 1); }), 1136u);
  EXPECT_EQ(Msi::tableName<AccessDescription>(), u"TestAccess");
}

}  // namespace
