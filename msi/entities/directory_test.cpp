// Directory rows: DefaultDir read and written, paths, loops, removal; msiinfo
// export is the witness of what reaches the file.
#include "msi/entities/directory.h"

#include "msi/entities/entity_fixture.h"
#include "msi/model/error.h"
#include "msi/model/package.h"

namespace {

using model_test::narrow;

std::vector<std::uint32_t> chain(const Common::Error& e) {
  std::vector<std::uint32_t> codes;
  for (Common::Error c = e; c; c = c.cause()) codes.push_back(c.code());
  return codes;
}

class DirectoryTest : public model_test::PackageWorld {
 protected:
  std::unique_ptr<Msi::MsiPackage> openSample(bool readOnly = false) {
    return Msi::MsiPackage::open(build("dirs.msi", entity_test::sampleTables()), readOnly);
  }
};

TEST_F(DirectoryTest, DefaultDirReadsIntoTheTwoLongNames) {
  struct Case {
    std::u16string text, target, source;
  };
  const Case cases[] = {
      {u"SourceDir", u"SourceDir", u""},
      {u"PROGRA~1|Program Files:PFILES", u"Program Files", u"PFILES"},
      {u"SHORT~1|Short:SRCDIR~1|Source directory name", u"Short", u"Source directory name"},
      {u":Src", u"", u"Src"},
      {u"Tgt:", u"Tgt", u""},
      {u"a:b:c", u"a", u"b:c"},
      {u".", u".", u""},
  };
  auto package = openSample(true);
  for (const Case& c : cases) {
    Msi::MsiDirectory d(package.get(), u"D");
    d.setDefaultDir(c.text);
    EXPECT_EQ(narrow(d.targetName()), narrow(c.target)) << narrow(c.text);
    EXPECT_EQ(narrow(d.sourceName()), narrow(c.source)) << narrow(c.text);
  }
}

TEST_F(DirectoryTest, DefaultDirIsBuiltFromTheNames) {
  struct Case {
    std::u16string target, source, text;
  };
  const Case cases[] = {
      {u"SourceDir", u"SourceDir", u"SourceDir"},
      {u"App", u"App", u"APP|App"},
      {u"", u".", u"."},
      {u".", u".", u"."},
      {u"Program Files", u"", u"PROGRA~1|Program Files"},
      {u"", u"Src", u"SRC|Src"},
      {u"Program Files", u".", u"PROGRA~1|Program Files:."},
  };
  auto package = openSample(true);
  for (const Case& c : cases) {
    Msi::MsiDirectory d(package.get(), u"D", c.target);
    d.setSourceName(c.source);
    EXPECT_EQ(narrow(d.defaultDir()), narrow(c.text)) << narrow(c.target) << "/" << narrow(c.source);
    // Read back, the text gives the same names.
    Msi::MsiDirectory back(package.get(), u"E");
    back.setDefaultDir(d.defaultDir());
    EXPECT_EQ(back.defaultDir(), d.defaultDir());
  }
}

TEST_F(DirectoryTest, PathsFollowTheParentChain) {
  auto package = openSample(true);
  struct Case {
    std::u16string key, target, source;
  };
  const Case cases[] = {
      {u"TARGETDIR", u"", u""},
      {u"ProgramFilesFolder", u"", u""},
      {u"APPDIR", u"\\My App", u"\\SRC"},
      {u"BIN", u"\\My App\\bin", u"\\SRC\\bin"},  // one part: the same name on both sides
  };
  for (const Case& c : cases) {
    Msi::MsiDirectory* d = package->find<Msi::MsiDirectory>(c.key);
    ASSERT_NE(d, nullptr) << narrow(c.key);
    EXPECT_EQ(narrow(d->targetPath()), narrow(c.target)) << narrow(c.key);
    EXPECT_EQ(narrow(d->sourcePath()), narrow(c.source)) << narrow(c.key);
  }
  EXPECT_EQ(package->directoryKeys().size(), 4u);
  EXPECT_EQ(narrow(package->find<Msi::MsiDirectory>(u"BIN")->parent()->key()), "APPDIR");
  EXPECT_EQ(package->find<Msi::MsiDirectory>(u"TARGETDIR")->parent(), nullptr);
}

TEST_F(DirectoryTest, NewShortNamesDifferFromTheirSiblings) {
  auto package = openSample(true);
  Msi::IMsiDirectory* app = package->find<Msi::MsiDirectory>(u"APPDIR");
  auto* made = static_cast<Msi::MsiDirectory*>(app->createSubdirectory(u"BIN2"));
  made->setSourceName(u"Bin");
  EXPECT_EQ(narrow(made->defaultDir()), "BIN~1|Bin");  // "bin" beside it holds BIN
  auto* other = static_cast<Msi::MsiDirectory*>(app->createSubdirectory(u"DOC"));
  other->setSourceName(u"Documentation Files");
  EXPECT_EQ(narrow(other->defaultDir()), "DOCUME~1|Documentation Files");
}

TEST_F(DirectoryTest, LoopingParentChainsAreRefused) {
  const std::vector<std::vector<std::string>> tables = {
      {"TARGETDIR\t\tSourceDir", "SELF\tSELF\tself"},
      {"TARGETDIR\t\tSourceDir", "X\tY\tx", "Y\tZ\ty", "Z\tX\tz"},
      {"TARGETDIR\t\tSourceDir", "TOP\tX\ttop", "X\tY\tx", "Y\tX\ty"},  // a sound start leading into a loop
  };
  int n = 0;
  for (const auto& rows : tables) {
    std::string name = "loop" + std::to_string(n++) + ".msi";
    std::u16string path = build(name, {{"Directory", entity_test::directoryIdt(rows)}});
    // The tree is read on first use: that use is refused, as the open was.
    try {
      Msi::MsiPackage::open(path, true)->directoryKeys();
      ADD_FAILURE() << name << " read";
    } catch (const Common::Error& e) {
      std::vector<std::uint32_t> codes = chain(e);
      EXPECT_EQ(e.code(), 13u) << name;
      EXPECT_NE(std::find(codes.begin(), codes.end(), 61u), codes.end()) << name;
    }
  }
}

TEST_F(DirectoryTest, RemovedDirectoriesLeaveThePackage) {
  std::u16string path = build("dirs.msi", entity_test::sampleTables());
  {
    auto package = Msi::MsiPackage::open(path, false);
    // Read from the package, not created through its parent: its row goes.
    ASSERT_NO_THROW(package->find<Msi::MsiDirectory>(u"BIN")->remove());
    EXPECT_EQ(package->find<Msi::MsiDirectory>(u"BIN"), nullptr);
    Msi::IMsiDirectory* app = package->find<Msi::MsiDirectory>(u"APPDIR");
    Msi::IMsiDirectory* made = app->createSubdirectory(u"DOCS");
    made->setSourceName(u"Documents");
    Msi::IMsiDirectory* gone = app->createSubdirectory(u"TEMP");
    static_cast<Msi::MsiDirectory*>(app)->removeSubdirectory(static_cast<Msi::MsiDirectory*>(gone));
    Msi::MsiDirectory stranger(package.get(), u"STRANGER");
    try {
      static_cast<Msi::MsiDirectory*>(app)->removeSubdirectory(&stranger);
      ADD_FAILURE() << "a stranger was removed";
    } catch (const Msi::Error& e) {
      EXPECT_EQ(e.code(), 60u);
    }
    package->commit();
  }
  std::string exported = exportTable("dirs.msi", "Directory");
  EXPECT_EQ(exported.find("BIN\t"), std::string::npos) << exported;
  EXPECT_EQ(exported.find("TEMP\t"), std::string::npos) << exported;
  EXPECT_NE(exported.find("DOCS\tAPPDIR\tDOCUME~1|Documents\n"), std::string::npos) << exported;
  EXPECT_NE(exported.find("APPDIR\tProgramFilesFolder\tMYAPP|My App:SRC\n"), std::string::npos) << exported;
}

TEST_F(DirectoryTest, UnchangedRowsAreWrittenBackAsRead) {
  auto package = openSample(true);
  for (const std::u16string& key : package->directoryKeys().keys()) {
    Msi::MsiDirectory* d = package->find<Msi::MsiDirectory>(key);
    EXPECT_FALSE(d->isModified()) << narrow(key);
    Msi::MsiRow* stored = package->database()->table(u"Directory").findRow(key);
    Msi::MsiRow written(stored->valueCount(), stored->columns());
    d->writeTo(written);
    EXPECT_EQ(written.values(), stored->values()) << narrow(key);
  }
}

}  // namespace
