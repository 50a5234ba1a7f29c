// Merge modules made with msibuild and gcab, merged into an authored package
// through the merge object; the result read with msiinfo and msiextract.
#include <algorithm>
#include <filesystem>
#include <sstream>

#include "msi/entities/cabinet.h"
#include "msi/entities/directory.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/merge.h"
#include "msi/model/model_fixture.h"
#include "msi/model/package.h"

namespace {

using model_test::run;
using model_test::shellQuote;

const char kComponent[] = "ModComp.11111111_2222_3333_4444_555555555555";
const char kFile[] = "ModFile.11111111_2222_3333_4444_555555555555";
const char kDirectory[] = "ModDir.11111111_2222_3333_4444_555555555555";

std::string chain(const Common::Error& e) {
  std::string out;
  Common::Error at = e;
  for (int depth = 0; depth < 8 && (at.code() || depth == 0); ++depth, at = at.cause())
    out += std::to_string(at.code()) + " " + model_test::narrow(at.text()) + "; ";
  return out;
}

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class MergeModules : public model_test::PackageWorld {
 protected:
  // C:\mod\m.msm: one component with one file in its own folder below
  // TARGETDIR, the file in a MergeModule.CABinet made by gcab.
  std::string makeModule(bool signature = true, const std::string& name = "m.msm") {
    std::filesystem::create_directories(c("mod/stage"));
    put("mod/stage/" + std::string(kFile), "module file contents\n");
    std::string cab = c("mod/module.cab");
    run("cd " + shellQuote(c("mod/stage")) + " && gcab -c -z " + shellQuote(cab) + " " + kFile);
    std::map<std::string, std::string> tables = {
        {"ModuleComponents",
         "Component\tModuleID\tLanguage\ns72\ts72\ti2\nModuleComponents\tComponent\tModuleID\tLanguage\n" +
             std::string(kComponent) + "\tMod.11111111_2222_3333_4444_555555555555\t1033\n"},
        {"Component", "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\n"
                      "s72\tS38\ts72\ti2\tS255\tS72\nComponent\tComponent\n" +
                          std::string(kComponent) + "\t{AAAAAAAA-2222-3333-4444-555555555555}\t" + kDirectory +
                          "\t0\t\t" + kFile + "\n"},
        {"Directory", "Directory\tDirectory_Parent\tDefaultDir\ns72\tS72\tl255\nDirectory\tDirectory\n"
                      "TARGETDIR\t\tSourceDir\n" +
                          std::string(kDirectory) + "\tTARGETDIR\tmodfiles\n"},
        {"File", "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n"
                 "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\nFile\tFile\n" +
                     std::string(kFile) + "\t" + kComponent + "\tmod.txt\t21\t\t\t16384\t1\n"},
    };
    if (signature)
      tables["ModuleSignature"] = "ModuleID\tLanguage\tVersion\ns72\ti2\ts32\nModuleSignature\tModuleID\n"
                                  "Mod.11111111_2222_3333_4444_555555555555\t1033\t1.0\n";
    build("mod/" + name, tables);
    int rc = 0;
    run("msibuild " + shellQuote(c("mod/" + name)) + " -a MergeModule.CABinet " + shellQuote(cab), &rc);
    EXPECT_EQ(rc, 0);
    return "mod/" + name;
  }
  // C:\pkg\p.msi with feature Main in C:\Program Files\App and one file of its own.
  std::unique_ptr<Msi::MsiPackage> makePackage() {
    std::filesystem::create_directories(c("pkg"));
    build("pkg/p.msi", {{"Property", propertyIdt({{"ProductName", "Merge Demo"}})}}, "Merge Demo", "Korvane",
          "Intel;1033");
    auto package = Msi::MsiPackage::open(u"C:\\pkg\\p.msi", false);
    package->ensureSystemFolders();
    auto* app = static_cast<Msi::MsiDirectory*>(
        package->find<Msi::MsiDirectory>(u"ProgramFilesFolder")->createSubdirectory(u"APPDIR"));
    app->setDefaultDir(u"App");
    Msi::MsiFeature* feature = package->addFeature(u"Main", u"Main", app);
    Msi::MsiComponent* component = feature->createFileComponent(u"{BBBBBBBB-2222-3333-4444-555555555555}");
    Msi::MsiFile* file = package->find<Msi::MsiFile>(component->keyPath());
    put("src/own.txt", "own file\n");
    file->setFileName(u"own.txt");
    file->setSourceFile(u"C:\\src\\own.txt");
    Msi::MsiCab* cab = package->addCabinet(u"own.cab");
    cab->addFile(file);
    package->embedCabinet(cab);
    ownKey_ = model_test::narrow(file->key());
    return package;
  }
  std::vector<std::string> extracted() {
    std::filesystem::remove_all(c("out"));
    run("msiextract -C " + shellQuote(c("out")) + " " + shellQuote(c("pkg/p.msi")));
    std::vector<std::string> files;
    if (!std::filesystem::exists(c("out"))) return files;
    for (auto& e : std::filesystem::recursive_directory_iterator(c("out")))
      if (e.is_regular_file()) files.push_back(e.path().string().substr(c("out").size() + 1));
    std::sort(files.begin(), files.end());
    return files;
  }
  // Temporary copies left in the world's temporary folder.
  int temporaryCopies() {
    WCHAR folder[260] = {0};
    GetTempPathW(260, folder);
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((std::u16string(folder) + u"tmp*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileW(search, &found));
    FindClose(search);
    return n;
  }
  std::string ownKey_;
};

TEST_F(MergeModules, ModuleMergesUnderTheFeature) {
  std::string module = makeModule();
  std::string before = get(module);
  int copies = temporaryCopies();
  auto package = makePackage();
  Msi::MsiFeature* feature = package->findFeature(u"Main");
  testing::internal::CaptureStdout();
  bool merged = false;
  try {
    merged = package->mergeModule(feature, u"C:\\mod\\m.msm");
  } catch (const Common::Error& e) {
    ADD_FAILURE() << chain(e);
  }
  std::string said = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(merged) << said;

  // Its rows in the package, its component held by the feature once.
  EXPECT_NE(exportTable("pkg/p.msi", "File").find(kFile), std::string::npos);
  EXPECT_NE(exportTable("pkg/p.msi", "Component").find(kComponent), std::string::npos);
  std::string links = exportTable("pkg/p.msi", "FeatureComponents");
  EXPECT_NE(links.find("Main\t" + std::string(kComponent)), std::string::npos) << links;
  // Its file comes out below the feature's folder, beside the package's own.
  std::vector<std::string> files = extracted();
  EXPECT_EQ(files, (std::vector<std::string>{"Program Files/App/modfiles/mod.txt", "Program Files/App/own.txt"}));
  EXPECT_EQ(get("out/Program Files/App/modfiles/mod.txt"), "module file contents\n");
  // The module as it was; no copy of it left.
  EXPECT_EQ(get(module), before);
  EXPECT_EQ(temporaryCopies(), copies);

  // The model knows the merged rows, and a later commit rewrites none of them.
  EXPECT_NE(package->find<Msi::MsiFile>(wide(kFile)), nullptr);
  const auto& held = package->findFeature(u"Main")->componentKeys();
  EXPECT_NE(std::find(held.begin(), held.end(), wide(kComponent)), held.end());
  std::string media = exportTable("pkg/p.msi", "Media"), fileRows = exportTable("pkg/p.msi", "File");
  try {
    package->commit();
  } catch (const Common::Error& e) {
    ADD_FAILURE() << chain(e);
  }
  EXPECT_EQ(exportTable("pkg/p.msi", "Media"), media);
  EXPECT_EQ(exportTable("pkg/p.msi", "File"), fileRows);
}

TEST_F(MergeModules, ConflictFailsWithDescribedErrors) {
  std::string module = makeModule();
  auto package = makePackage();
  // A row of the module's key with other values: the merge must refuse it.
  try {
    package->commit();
  } catch (const Common::Error& e) {
    FAIL() << chain(e);
  }
  package.reset();
  run("msibuild " + shellQuote(c("pkg/p.msi")) + " -q " +
      shellQuote("INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `KeyPath`) "
                 "VALUES ('" + std::string(kComponent) +
                 "', '{CCCCCCCC-2222-3333-4444-555555555555}', 'APPDIR', 0, '')"));
  package = Msi::MsiPackage::open(u"C:\\pkg\\p.msi", false);
  testing::internal::CaptureStdout();
  bool merged = true;
  try {
    merged = package->mergeModule(package->findFeature(u"Main"), u"C:\\mod\\m.msm");
  } catch (const Common::Error& e) {
    ADD_FAILURE() << chain(e);
  }
  std::string said = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(merged);
  EXPECT_NE(said.find("MSI Merge Module error: Type = TABLE_MERGE\n"), std::string::npos) << said;
  EXPECT_NE(said.find(" DatabaseTable = Component\n"), std::string::npos) << said;
  // The conflicting row keeps the package's values; the rest of the module went in.
  std::string components = exportTable("pkg/p.msi", "Component");
  EXPECT_NE(components.find("{CCCCCCCC-2222-3333-4444-555555555555}"), std::string::npos) << components;
  EXPECT_EQ(components.find("{AAAAAAAA-2222-3333-4444-555555555555}"), std::string::npos) << components;
  EXPECT_NE(exportTable("pkg/p.msi", "File").find(kFile), std::string::npos);
  // The package is open again and answers.
  EXPECT_NE(package->findFeature(u"Main"), nullptr);
  EXPECT_NE(package->find<Msi::MsiComponent>(wide(kComponent)), nullptr);
  package.reset();

  // The manager itself: the same records, each described from " Type = ".
  Msi::MergeManager manager;
  ASSERT_TRUE(manager.openDatabase(u"C:\\pkg\\p.msi"));
  ASSERT_TRUE(manager.openModule(u"C:\\mod\\m.msm", 1033));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(manager.merge(u"Main", u"APPDIR"));
  testing::internal::GetCapturedStdout();
  Msi::MergeErrorList errors = manager.errors();
  ASSERT_GE(errors.count(), 1);
  Msi::MergeError first = errors.at(0);
  EXPECT_EQ(first.type, 4);
  EXPECT_EQ(first.describe().rfind(u" Type = TABLE_MERGE\n", 0), 0u);
  EXPECT_EQ(first.databaseTable, u"Component");
  EXPECT_EQ(first.databaseKeys, std::vector<std::u16string>{wide(kComponent)});
  manager.closeModule();
  manager.closeDatabase();
}

TEST_F(MergeModules, RefusedMergeLinksNothingAndLeavesNoCopy) {
  makeModule();
  int copies = temporaryCopies();
  auto package = makePackage();
  // A feature in a folder the package no longer has: the object refuses the
  // module whole, and no link may name its component.
  Msi::MsiDirectory* root = package->rootDirectory();
  auto* gone = static_cast<Msi::MsiDirectory*>(root->createSubdirectory(u"GONE"));
  Msi::MsiFeature* ghost = package->addFeature(u"Ghost", u"Ghost", gone);
  gone->remove();
  testing::internal::CaptureStdout();
  bool merged = true;
  try {
    merged = package->mergeModule(ghost, u"C:\\mod\\m.msm");
  } catch (const Common::Error& e) {
    ADD_FAILURE() << chain(e);
  }
  std::string said = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(merged) << said;
  EXPECT_EQ(exportTable("pkg/p.msi", "FeatureComponents").find(kComponent), std::string::npos);
  EXPECT_EQ(exportTable("pkg/p.msi", "Component").find(kComponent), std::string::npos);
  EXPECT_EQ(temporaryCopies(), copies);
  // Still usable: found, changed and committed.
  ASSERT_NE(package->findFeature(u"Main"), nullptr);
  package->addProperty(u"After", u"merge");
  try {
    package->commit();
  } catch (const Common::Error& e) {
    ADD_FAILURE() << chain(e);
  }
  EXPECT_NE(exportTable("pkg/p.msi", "Property").find("After\tmerge"), std::string::npos);
}

TEST_F(MergeModules, ModuleWithoutSignatureOrComponentTableStillMerges) {
  std::string module = makeModule(false);
  // No Component table at all: the copy gets an empty one.
  run("msibuild " + shellQuote(c(module)) + " -q " + shellQuote("DROP TABLE `Component`"));
  std::string before = get(module);
  auto package = makePackage();
  testing::internal::CaptureStdout();
  bool merged = false;
  try {
    merged = package->mergeModule(package->findFeature(u"Main"), u"C:\\mod\\m.msm");
  } catch (const Common::Error& e) {
    ADD_FAILURE() << chain(e);
  }
  std::string said = testing::internal::GetCapturedStdout();
  EXPECT_NE(said.find("MSI Merge Module error: ModuleSignature table not found in C:\\mod\\m.msm\n"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("MSI Merge Module warning: Component table not found - force create.\n"), std::string::npos)
      << said;
  EXPECT_EQ(get(module), before);
  (void)merged;
  // Whatever the object made of it, the package is open and committed again.
  EXPECT_EQ(package->state(), Msi::MsiPackage::Committed);
  EXPECT_NE(package->findFeature(u"Main"), nullptr);
}

TEST_F(MergeModules, FailedOpenAndCloseLeaveNoHandle) {
  // A reopen that fails must not leave a handle number behind for a later
  // close to free: it may name another object by then.
  Msi::MsiDatabaseInterface database;
  EXPECT_THROW(database.open(u"C:\\pkg\\missing.msi", false), Msi::Error);
  EXPECT_EQ(database.handle(), 0u);
  std::filesystem::create_directories(c("pkg"));
  build("pkg/p.msi", {{"Property", propertyIdt({{"ProductName", "Handles"}})}});
  database.open(u"C:\\pkg\\p.msi", true);
  EXPECT_NE(database.handle(), 0u);
  database.close();
  EXPECT_EQ(database.handle(), 0u);
  EXPECT_NO_THROW(database.close());
}

TEST(MergeErrors, DescriptionsAndBounds) {
  struct Case {
    std::int32_t type;
    const char16_t* table;
    const char16_t* path;
    const char16_t* expected;
  } cases[] = {
      {4, u"File", u"", u" Type = TABLE_MERGE\n DatabaseTable = File\n Language = 1033\n"},
      {14, u"", u"C:\\x", u" Type = PLATFORM_MISMATHCED\n Language = 1033\n Path = C:\\x\n"},
      {0, u"", u"", u" Language = 1033\n"},
      {15, u"", u"", u" Type = 15\n Language = 1033\n"},
      {-3, u"", u"", u" Language = 1033\n"},
  };
  for (const Case& k : cases) {
    Msi::MergeError e;
    e.type = k.type;
    e.databaseTable = k.table;
    e.path = k.path;
    e.language = 1033;
    EXPECT_EQ(e.describe(), k.expected) << k.type;
  }
  EXPECT_EQ(Msi::MergeError::typeName(0), nullptr);
  EXPECT_EQ(Msi::MergeError::typeName(15), nullptr);
  EXPECT_STREQ(Msi::MergeError::typeName(1), "LANGUAGE_USUPPORTED");

  Msi::MergeErrorList list;
  Msi::MergeError one;
  one.type = 3;
  list.append(one);
  testing::internal::CaptureStdout();
  Msi::MergeError past = list.at(1);
  Msi::MergeError negative = list.at(-1);
  std::string said = testing::internal::GetCapturedStdout();
  EXPECT_EQ(past.type, 0);
  EXPECT_EQ(negative.type, 0);
  EXPECT_NE(said.find(" Unable GetError due to invalid index 1 passed.\n Error count = 1\n"), std::string::npos);
  EXPECT_EQ(list.at(0).type, 3);
}

}  // namespace
