// The package object over real packages built with msibuild; msiinfo and
// msidiff are the witnesses.
#include "msi/model/package.h"

#include <cstdlib>

#include "msi/entities/property.h"
#include "msi/model/error.h"
#include "msi/model/model_fixture.h"
#include "msi/model/table_schemas.h"
#include "platform/msi/msi_fixture.h"

namespace {

using Msi::MsiPackage;
using model_test::narrow;

const std::vector<std::pair<std::string, std::string>> kProperties = {
    {"ProductShortName", "Widget"},
    {"ProductName", "Widget Pro"},
    {"ProductVersion", "4.2.0"},
    {"MsigenProductId", "KV-1234"},
    {"ProductLanguage", "1033"},
};

class PackageTest : public model_test::PackageWorld {
 protected:
  // msiinfo prints counts as "200 (c8)": the decimal part.
  static std::string number(const std::string& info, const std::string& label) {
    std::string f = field(info, label);
    return f.substr(0, f.find(' '));
  }
  std::u16string buildSample(const std::string& name = "sample.msi") {
    return build(name, {{"Property", propertyIdt(kProperties)}});
  }
};

// The chain of error numbers from the head down.
std::vector<std::uint32_t> chain(const Common::Error& e) {
  std::vector<std::uint32_t> codes;
  for (Common::Error c = e; c; c = c.cause()) codes.push_back(c.code());
  return codes;
}

std::string describe(const Common::Error& e) {
  std::string text;
  for (Common::Error c = e; c; c = c.cause()) text += std::to_string(c.code()) + " " + narrow(c.text()) + "; ";
  return text;
}

template <class F>
std::vector<std::uint32_t> failure(F f) {
  try {
    f();
  } catch (const Common::Error& e) {
    return chain(e);
  }
  return {};
}

TEST_F(PackageTest, ReadOnlyOpenReadsPropertiesAndSummaryAndLeavesTheFileAlone) {
  std::u16string path = buildSample();
  std::string before = bytes("sample.msi");
  std::string info = suminfo("sample.msi");
  {
    auto package = MsiPackage::open(path, true);
    for (const auto& [name, value] : kProperties) {
      Msi::IMsiProperty* p = package->property(std::u16string(name.begin(), name.end()), false);
      ASSERT_NE(p, nullptr) << name;
      EXPECT_EQ(narrow(p->value()), value);
    }
    EXPECT_EQ(package->property(u"NoSuchProperty", false), nullptr);
    EXPECT_EQ(package->property(u"productshortname", false), nullptr);  // exact names only
    EXPECT_EQ(package->propertyKeys().size(), kProperties.size());

    Msi::IMsiSummary* s = package->summary();
    EXPECT_EQ(narrow(s->subject()), field(info, "Subject"));
    EXPECT_EQ(narrow(s->author()), field(info, "Author"));
    EXPECT_EQ(narrow(s->revisionNumber()), field(info, "Revision number (UUID)"));
    EXPECT_EQ(narrow(package->summaryEx()->templateText()), field(info, "Template"));
    EXPECT_EQ(std::to_string(package->summaryEx()->pageCount()), number(info, "Version"));
    EXPECT_EQ(std::to_string(package->summaryEx()->wordCount()), number(info, "Source"));
    EXPECT_EQ(narrow(package->propertyValue(u"ProductName")), "Widget Pro");
    EXPECT_EQ(package->propertyValue(u"NoSuchProperty"), u"");
    EXPECT_EQ(narrow(package->sourceFolder()), "C:");
  }
  EXPECT_EQ(bytes("sample.msi"), before);
}

TEST_F(PackageTest, AWixlPackageReadsAsMsiinfoExportsIt) {
  put("wixl/placeholder", "");
  ASSERT_TRUE(msi_test::buildWixPackage(c("wixl/demo.msi")));
  std::string before = bytes("wixl/demo.msi");
  std::string exported = exportTable("wixl/demo.msi", "Property");
  {
    auto package = MsiPackage::open(u"C:\\wixl\\demo.msi", true);
    EXPECT_EQ(narrow(package->property(u"ProductShortName", false)->value()), "Demo");
    std::string mine = "Property\tValue\ns72\tl0\nProperty\tProperty\n";
    for (const auto& key : package->propertyKeys().keys())
      mine += narrow(key) + "\t" + narrow(package->property(key, false)->value()) + "\n";
    EXPECT_EQ(mine, exported);
    EXPECT_EQ(std::to_string(package->summaryEx()->wordCount()), number(suminfo("wixl/demo.msi"), "Source"));
  }
  EXPECT_EQ(bytes("wixl/demo.msi"), before);
}

TEST_F(PackageTest, TransactedChangesReachTheFileExactly) {
  std::u16string path = buildSample();
  copy("sample.msi", "before.msi");
  {
    auto package = MsiPackage::open(path, false);
    package->property(u"ProductVersion", false)->setValue(u"4.3.0");
    package->addProperty(u"ARPCOMMENTS", u"Hotfix 7");
    package->setLanguage(1031);
    package->commit();
  }
  // msidiff shows the summary stream as a table too: the code page (1) and the template (7).
  std::vector<std::string> expected = {"-ProductVersion\t4.2.0", "-ProductLanguage\t1033", "+ProductVersion\t4.3.0",
                                       "+ProductLanguage\t1031", "+ARPCOMMENTS\tHotfix 7",  "+1\t1252",
                                       "-7\tIntel;1033",         "+7\tIntel;1031"};
  std::vector<std::string> changed = diff("before.msi", "sample.msi");
  std::sort(expected.begin(), expected.end());
  std::sort(changed.begin(), changed.end());
  EXPECT_EQ(changed, expected);
  std::string info = suminfo("sample.msi");
  EXPECT_EQ(field(info, "Template"), "Intel;1031");
  EXPECT_EQ(field(info, "Subject"), "Widget Pro");
  EXPECT_NE(exportTable("sample.msi", "_ForceCodepage").find("1252"), std::string::npos);

  auto reopened = MsiPackage::open(path, true);
  EXPECT_EQ(narrow(reopened->property(u"ProductVersion", false)->value()), "4.3.0");
  EXPECT_EQ(narrow(reopened->property(u"ARPCOMMENTS", false)->value()), "Hotfix 7");
  EXPECT_EQ(narrow(reopened->property(u"ProductLanguage", false)->value()), "1031");
  EXPECT_EQ(narrow(reopened->summaryEx()->templateText()), "Intel;1031");
}

TEST_F(PackageTest, NewPropertiesAreWrittenAtCommit) {
  std::u16string path = buildSample();
  try {
    auto package = MsiPackage::open(path, false);
    Msi::IMsiProperty* created = package->property(u"Created", true);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(package->property(u"Created", false), created);
    EXPECT_TRUE(package->propertyKeys().contains(u"Created"));
    EXPECT_TRUE(package->find<Msi::MsiProperty>(u"Created")->isModified());
    created->setValue(u"c");  // the Value column takes no null
    package->addProperty(u"Added", u"v");
    package->commit();
  } catch (const Common::Error& e) {
    FAIL() << describe(e);
  }
  std::string exported = exportTable("sample.msi", "Property");
  EXPECT_NE(exported.find("\nCreated\tc\n"), std::string::npos) << exported;
  EXPECT_NE(exported.find("\nAdded\tv\n"), std::string::npos) << exported;
}

TEST_F(PackageTest, FindGivesOneObjectPerKeyWithoutAskingTheDatabaseAgain) {
  std::u16string path = buildSample();
  auto package = MsiPackage::open(path, false);
  Msi::MsiProperty* first = package->find<Msi::MsiProperty>(u"ProductName");
  ASSERT_NE(first, nullptr);
  // Take the row away behind the model's back: a second query would miss it.
  MSIHANDLE view = 0;
  ASSERT_EQ(MsiDatabaseOpenViewW(package->database()->handle(),
                                 u"DELETE FROM `Property` WHERE `Property` = 'ProductName'", &view),
            0u);
  ASSERT_EQ(MsiViewExecute(view, 0), 0u);
  MsiViewClose(view);
  MsiCloseHandle(view);
  Msi::MsiProperty* out = nullptr;
  EXPECT_EQ(package->find<Msi::MsiProperty>(u"ProductName", &out), first);
  EXPECT_EQ(out, first);
  EXPECT_EQ(package->find<Msi::MsiProperty>(u""), nullptr);
  EXPECT_EQ(package->find<Msi::MsiProperty>(u"NoSuchProperty"), nullptr);
  EXPECT_EQ(package->identityMap<Msi::MsiProperty>().find(u"NoSuchProperty"), nullptr);
}

TEST_F(PackageTest, TwoPackagesKeepTheirOwnObjects) {
  std::u16string path = buildSample();
  auto one = MsiPackage::open(path, true);
  Msi::MsiProperty* kept = one->find<Msi::MsiProperty>(u"ProductName");
  {
    auto two = MsiPackage::open(path, true);
    Msi::MsiProperty* other = two->find<Msi::MsiProperty>(u"ProductName");
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, kept);
    other->setValue(u"only here");
  }
  EXPECT_EQ(one->find<Msi::MsiProperty>(u"ProductName"), kept);
  EXPECT_EQ(narrow(kept->value()), "Widget Pro");
  EXPECT_FALSE(kept->isModified());
}

TEST_F(PackageTest, LoaderFillsThePropertyKeysInTableOrder) {
  std::u16string path = buildSample();
  auto package = MsiPackage::open(path, true);
  std::vector<std::string> keys;
  for (const auto& k : package->propertyKeys().keys()) keys.push_back(narrow(k));
  std::vector<std::string> exported;
  std::string text = exportTable("sample.msi", "Property");
  std::size_t line = 0, start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (line++ >= 3) exported.push_back(text.substr(start, text.find('\t', start) - start));
    start = end + 1;
  }
  EXPECT_EQ(keys, exported);
  for (const auto& k : package->propertyKeys().keys())
    EXPECT_FALSE(package->find<Msi::MsiProperty>(k)->isModified());
}

TEST_F(PackageTest, ErrorNumbersOfTheOperations) {
  std::u16string path = buildSample();
  // A bare name has no folder: 13 caused by 13.
  EXPECT_EQ(failure([] { MsiPackage::open(u"sample.msi", true); }), (std::vector<std::uint32_t>{13, 13}));
  EXPECT_EQ(failure([&] {
              MsiPackage p;
              p.openDatabase(path, true);
              p.openDatabase(path, true);
            }),
            (std::vector<std::uint32_t>{13, 10}));
  EXPECT_EQ(failure([&] { MsiPackage::open(u"C:\\missing.msi", true); }), (std::vector<std::uint32_t>{13, 1111}));

  MsiPackage components;
  components.registerComponent(u"Core");
  EXPECT_EQ(failure([&] { components.registerComponent(u"Core"); }), (std::vector<std::uint32_t>{31}));
  EXPECT_EQ(components.componentKeys().size(), 1u);

  // A locale without a code page.
  auto package = MsiPackage::open(path, false);
  EXPECT_EQ(failure([&] { package->setLanguage(0x7FFF); }), (std::vector<std::uint32_t>{18}));
}

TEST_F(PackageTest, FailedSaveDropsTheHalfWrittenRowAndCommitReports14) {
  std::u16string path = buildSample();
  copy("sample.msi", "before.msi");
  {
    auto package = MsiPackage::open(path, false);
    package->property(u"ProductName", false)->setValue(u"Changed");
    Msi::MsiTable& table = package->database()->table(u"Property");
    Msi::MsiRow* row = table.findRow(u"ProductName");
    ASSERT_NE(row, nullptr);
    row->markDeleted();  // a cached row waiting to be deleted refuses a merge (1171)
    EXPECT_EQ(failure([&] { package->commit(); }), (std::vector<std::uint32_t>{14, 16, 1171}));
    EXPECT_EQ(table.pendingCount(), 0u);
    EXPECT_EQ(package->state(), MsiPackage::Open);
    row->markClean();
    package->database()->unmarkModified(package->find<Msi::MsiProperty>(u"ProductName"));
    package->commit();
  }
  EXPECT_TRUE(diff("before.msi", "sample.msi").empty());
}

TEST_F(PackageTest, SetLanguageOnReadOnlyDatabaseReportsTheSummaryThatDidNotPersist) {
  std::u16string path = buildSample();
  std::string before = bytes("sample.msi");
  {
    auto package = MsiPackage::open(path, true);
    std::vector<std::uint32_t> codes = failure([&] { package->setLanguage(1031); });
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes[0], 18u);
  }
  EXPECT_EQ(bytes("sample.msi"), before);
}

TEST_F(PackageTest, CloseZeroesTheHandleAndDestructionAfterCloseClosesNothing) {
  std::u16string path = buildSample();
  auto package = MsiPackage::open(path, true);
  EXPECT_NE(package->database()->handle(), 0u);
  package->close();
  EXPECT_EQ(package->database()->handle(), 0u);
  EXPECT_EQ(package->state(), MsiPackage::Closed);
  package->close();  // nothing left to close
}

TEST_F(PackageTest, ChildKeysBindTheParentKeyWhateverItHolds) {
  std::u16string path = build("quotes.msi", {{"Property", propertyIdt({{"A", "it's"}, {"B", "plain"}, {"C", "it's"},
                                                                       {"D", "x' Or '1'='1"}})}});
  auto package = MsiPackage::open(path, true);
  std::list<std::u16string> keys;
  Msi::loadChildKeys<Msi::MsiProperty>(package.get(), u"Value", u"it's", keys);
  EXPECT_EQ(keys, (std::list<std::u16string>{u"A", u"C"}));
  EXPECT_EQ(package->find<Msi::MsiProperty>(u"A"), package->property(u"A", false));
  Msi::loadChildKeys<Msi::MsiProperty>(package.get(), u"Value", u"x' Or '1'='1", keys);
  EXPECT_EQ(keys, (std::list<std::u16string>{u"D"}));
}

struct Listener {
  std::vector<std::u16string> seen;
  void onProperty(Msi::MsiProperty* p) { seen.push_back(p->key()); }
};

TEST_F(PackageTest, NotifiersHearEachNewObjectOnceAndLeaveWithTheirPackage) {
  std::u16string path = buildSample();
  Listener listener;
  const MsiPackage* address = nullptr;
  {
    MsiPackage package;
    address = &package;
    package.notifierList<Msi::MsiProperty>().subscribe(
        new Msi::MsiNotify<Msi::MsiProperty, Listener>(&listener, &Listener::onProperty));
    package.openDatabase(path, true);
    EXPECT_EQ(listener.seen.size(), kProperties.size());
    auto* duplicate = new Msi::MsiProperty(&package, u"ProductName", u"again");
    EXPECT_FALSE(package.add(duplicate));
    delete duplicate;
    EXPECT_EQ(listener.seen.size(), kProperties.size());
    EXPECT_EQ(MsiPackage::notifierRegistry<Msi::MsiProperty>().count(address), 1u);
  }
  EXPECT_EQ(MsiPackage::notifierRegistry<Msi::MsiProperty>().count(address), 0u);
  EXPECT_EQ(MsiPackage::identityMapRegistry<Msi::MsiProperty>().count(address), 0u);
}

TEST_F(PackageTest, IteratorsWalkKeyListsLive) {
  std::u16string path = buildSample();
  auto package = MsiPackage::open(path, true);
  std::list<std::u16string> keys;
  Msi::MsiIterator<Msi::MsiProperty> it(package.get(), &keys);
  EXPECT_FALSE(it.valid());
  EXPECT_FALSE(it.reset());
  EXPECT_EQ(it.current(), nullptr);
  keys = {u"ProductName", u"Missing", u"ProductVersion"};
  std::vector<std::string> walked;
  for (it.reset(); it.valid(); it.next()) walked.push_back(it.current() ? narrow(it.current()->value()) : "<null>");
  EXPECT_EQ(walked, (std::vector<std::string>{"Widget Pro", "<null>", "4.2.0"}));
  it.next();
  EXPECT_FALSE(it.valid());
}

TEST_F(PackageTest, LiveCountsFollowConstructionAndDestruction) {
  std::int32_t base = Msi::Statistics<Msi::MsiProperty>::liveCount();
  {
    std::u16string path = buildSample();
    auto package = MsiPackage::open(path, true);
    EXPECT_EQ(Msi::Statistics<Msi::MsiProperty>::liveCount(), base + static_cast<std::int32_t>(kProperties.size()));
    Msi::MsiProperty scratch;
    EXPECT_EQ(scratch.bytes() / scratch.size(), static_cast<std::size_t>(scratch.count()));
  }
  EXPECT_EQ(Msi::Statistics<Msi::MsiProperty>::liveCount(), base);
  EXPECT_EQ(Msi::statisticsRegistry().count(typeid(const Msi::MsiProperty*).name()), 1u);
}

TEST_F(PackageTest, SummaryWriteCarriesTheSettersValues) {
  std::u16string path = buildSample();
  {
    auto package = MsiPackage::open(path, false);
    Msi::IMsiSummary* s = package->summary();
    s->setAuthor(u"Dovecrest");
    s->setSubject(u"Vazedi");
    package->summaryEx()->setPageCount(300);
    package->summaryEx()->setWordCount(2);
    package->writeSummary();
    package->commit();
  }
  std::string info = suminfo("sample.msi");
  EXPECT_EQ(field(info, "Title"), "Dovecrest Vazedi Installation Database");
  EXPECT_EQ(field(info, "Keywords"), "Dovecrest,Install,MSI,Vazedi");
  EXPECT_EQ(field(info, "Version"), "300 (12c)");
  EXPECT_EQ(field(info, "Source"), "2 (2)");
  EXPECT_EQ(field(info, "Revision number (UUID)"), "{12345678-1234-1234-1234-123456789ABC}");

  Msi::MsiSummary fresh;
  EXPECT_EQ(fresh.pageCount(), 200);
  EXPECT_EQ(fresh.wordCount(), 4);
}

// Runs in the death-test child only: an exit handler registered before the
// descriptions were built runs after they are gone.
bool useAfterExit = false;
struct EarlyExitHook {
  EarlyExitHook() {
    std::atexit([] {
      if (!useAfterExit) return;
      try {
        Msi::MsiProperty probe;
        probe.key();
        Msi::MsiRow row(0, nullptr);
        probe.loadFrom(row);
      } catch (const Msi::Error& e) {
        std::fprintf(stderr, "late use: %u\n", e.code());
        std::fflush(stderr);
        std::_Exit(e.code() == 2 ? 42 : 43);
      }
      std::_Exit(44);
    });
  }
} earlyExitHook;

TEST_F(PackageTest, ChangesThatCannotBeStoredAreRefusedAndTheNextCommitStillWorks) {
  std::u16string path = buildSample();
  copy("sample.msi", "before.msi");
  {
    // A read-only package takes no change: the commit refuses instead of
    // reporting a write that never happens.
    auto package = MsiPackage::open(path, true);
    package->addProperty(u"Added", u"v");
    std::vector<std::uint32_t> codes = failure([&] { package->commit(); });
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[0], 14u);
    EXPECT_EQ(codes[1], 1146u);
    EXPECT_NE(package->state(), MsiPackage::Committed);
    EXPECT_EQ(failure([&] { package->addProperty(u"", u"value"); }), (std::vector<std::uint32_t>{17}));
  }
  EXPECT_TRUE(diff("before.msi", "sample.msi").empty());
  {
    auto package = MsiPackage::open(path, false);
    EXPECT_EQ(failure([&] { package->addProperty(u"", u"value"); }), (std::vector<std::uint32_t>{17}));
    EXPECT_EQ(failure([&] { package->property(u"", true); }), (std::vector<std::uint32_t>{17}));
    // A new property without a value, and an existing one emptied: the Value
    // column takes no null.
    package->property(u"Created", true);
    std::vector<std::uint32_t> codes = failure([&] { package->commit(); });
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[1], 1147u);
    package->property(u"Created", false)->setValue(u"c");
    package->property(u"ProductName", false)->setValue(u"");
    codes = failure([&] { package->commit(); });
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[1], 1147u);
    package->property(u"ProductName", false)->setValue(u"Widget Max");
    try {
      package->commit();
    } catch (const Common::Error& e) {
      FAIL() << describe(e);
    }
  }
  std::vector<std::string> expected = {"+Created\tc", "+ProductName\tWidget Max", "-ProductName\tWidget Pro"};
  std::vector<std::string> changed = diff("before.msi", "sample.msi");
  std::sort(changed.begin(), changed.end());
  EXPECT_EQ(changed, expected);
}

TEST_F(PackageTest, SetLanguageWritesTheLanguagesCodePageAndItsTextsThenFit) {
  std::u16string path = buildSample();
  {
    auto package = MsiPackage::open(path, false);
    // 1252 has no Cyrillic; the package refuses the text and stays as it was.
    package->addProperty(u"Greeting", u"\u041f\u0440\u0438\u0432\u0435\u0442");
    EXPECT_FALSE(failure([&] { package->commit(); }).empty());
    package->setLanguage(1049);
    try {
      package->commit();
    } catch (const Common::Error& e) {
      FAIL() << describe(e);
    }
  }
  EXPECT_NE(exportTable("sample.msi", "_ForceCodepage").find("1251"), std::string::npos);
  EXPECT_EQ(field(suminfo("sample.msi"), "Template"), "Intel;1049");
  auto reopened = MsiPackage::open(path, true);
  EXPECT_EQ(reopened->property(u"Greeting", false)->value(), u"\u041f\u0440\u0438\u0432\u0435\u0442");
}

TEST(PackageExitTest, DescriptionsUsedAfterExitRaiseError2) {
  EXPECT_EXIT(
      {
        useAfterExit = true;
        std::exit(0);
      },
      ::testing::ExitedWithCode(42), "late use: 2");
}

}  // namespace
