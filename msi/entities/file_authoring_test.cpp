// Authoring a package from a small source tree: features make file and
// registry components, files are measured at commit; checked with msiinfo and
// md5sum.
#include <filesystem>
#include <sstream>

#include "msi/entities/directory.h"
#include "msi/entities/entity_fixture.h"
#include "msi/entities/registry.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/model_fixture.h"
#include "msi/model/package.h"
#include "platform/win32/testing/test_pe.h"

namespace {

using entity_test::rows;
using model_test::run;
using model_test::shellQuote;

// A PE32 image whose one resource is a VS_VERSIONINFO of file version ms.ls.
std::string peWithVersion(unsigned long ms, unsigned long ls) {
  return win32_test::peImage(win32_test::versionResource(ms, ls));
}

std::string utf8(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6)), out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

bool hasErrorNumber(const Common::Error& e, std::uint32_t number) {
  for (Common::Error at = e;; at = at.cause()) {
    if (at.code() == number) return true;
    if (at.cause().code() == 0 && at.cause().cause().code() == 0) return at.cause().code() == number;
  }
}

// The numbers and texts of an error chain, for failure messages.
std::string chain(const Common::Error& e) {
  std::string out;
  Common::Error at = e;
  for (int depth = 0; depth < 8 && (at.code() || depth == 0); ++depth, at = at.cause())
    out += std::to_string(at.code()) + " " + utf8(at.text()) + "; ";
  return out;
}

// Inside the package's code page, but not inside one byte per character.
const std::u16string kUnicodeName = u"\u00dcber \u20ac notes.txt";

class FileAuthoring : public model_test::PackageWorld {
 protected:
  // C:\src\author.msi with a property, and beside it the source tree its
  // directory APPDIR ("App Files") gives.
  std::u16string buildSources() {
    put("src/App Files/readme.txt", "read me first\n");
    put("src/App Files/tool.exe", peWithVersion(0x00010002, 0x00030004));
    put("src/App Files/my notes.txt", std::string(5000, 'n'));
    put("src/App Files/" + utf8(kUnicodeName), "kept whole");
    std::u16string pkg = build("src/author.msi", {{"Property", "Property\tValue\ns72\tl0\nProperty\tProperty\n"
                                                               "ProductName\tAuthor Demo\n"}});
    return pkg;
  }
  std::string md5Words(const std::string& relative) {
    std::string hex = run("md5sum " + shellQuote(c(relative))).substr(0, 32);
    std::string words;
    for (int w = 0; w < 4; ++w) {
      unsigned long value = 0;
      for (int b = 3; b >= 0; --b) value = value << 8 | std::stoul(hex.substr(8 * w + 2 * b, 2), nullptr, 16);
      // the table's columns are signed: the same bits
      words += (w ? "\t" : "") + std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
    }
    return words;
  }
};

TEST_F(FileAuthoring, FeaturesMakeFileAndRegistryComponentsMeasuredAtCommit) {
  const std::u16string names[] = {u"readme.txt", u"tool.exe", u"my notes.txt", kUnicodeName};
  std::map<std::string, std::string> fileKeyOf;  // long name -> key
  {
    auto package = Msi::MsiPackage::open(buildSources(), false);
    package->ensureSystemFolders();
    auto* app = static_cast<Msi::MsiDirectory*>(package->rootDirectory()->createSubdirectory(u"APPDIR"));
    app->setDefaultDir(u"App Files");
    Msi::MsiFeature* feature = package->addFeature(u"Main", u"Main Feature", app);
    int n = 0;
    for (const std::u16string& name : names) {
      char guid[64];
      std::snprintf(guid, sizeof guid, "{11111111-2222-3333-4444-%012d}", ++n);
      Msi::MsiComponent* component = feature->createFileComponent(std::u16string(guid, guid + 38));
      Msi::MsiFile* file = package->find<Msi::MsiFile>(component->keyPath());
      ASSERT_NE(file, nullptr);
      file->setFileName(name);
      fileKeyOf[utf8(name)] = model_test::narrow(file->key());
    }
    Msi::MsiComponent* reg = feature->createRegistryComponent(u"{11111111-2222-3333-4444-999999999999}");
    Msi::MsiRegistry* value = package->find<Msi::MsiRegistry>(reg->keyPath());
    ASSERT_NE(value, nullptr);
    value->setRoot(2);
    value->setKeyPath(u"Software\\Korvane\\Author");
    value->setName(u"Version");
    value->setValue(u"#42");
    try {
      package->commit();
    } catch (const Common::Error& e) {
      FAIL() << chain(e);
    }
  }

  // The File rows: sizes of the sources, the PE's version, the language of the package.
  auto files = rows(exportTable("src/author.msi", "File"));
  ASSERT_EQ(files.size(), 4u);
  std::map<std::string, std::vector<std::string>> byKey;
  for (auto& r : files) byKey[r[0]] = r;
  struct Expected {
    std::string name, size, version;
  } expected[] = {{"readme.txt", "14", ""},
                  {"tool.exe", std::to_string(get("src/App Files/tool.exe").size()), "1.2.3.4"},
                  {"my notes.txt", "5000", ""},
                  {utf8(kUnicodeName), "10", ""}};
  for (const Expected& e : expected) {
    const auto& r = byKey[fileKeyOf[e.name]];
    ASSERT_EQ(r.size(), 8u) << e.name;
    EXPECT_EQ(r[2].substr(r[2].find('|') + 1), e.name);
    EXPECT_EQ(r[3], e.size) << e.name;
    EXPECT_EQ(r[4], e.version) << e.name;
    EXPECT_EQ(r[6], "512") << e.name;
  }
  EXPECT_EQ(byKey[fileKeyOf["my notes.txt"]][2], "MY_NOTES.TXT|my notes.txt");

  // MsiFileHash: md5sum's words for every file without a version, none for the PE.
  auto hashes = rows(exportTable("src/author.msi", "MsiFileHash"));
  std::map<std::string, std::string> hashOf;
  for (auto& r : hashes) hashOf[r[0]] = r[1] + "|" + r[2] + "\t" + r[3] + "\t" + r[4] + "\t" + r[5];
  EXPECT_EQ(hashes.size(), 3u);
  EXPECT_EQ(hashOf.count(fileKeyOf["tool.exe"]), 0u);
  for (const char* name : {"readme.txt", "my notes.txt"})
    EXPECT_EQ(hashOf[fileKeyOf[name]], "0|" + md5Words(std::string("src/App Files/") + name)) << name;
  EXPECT_EQ(hashOf[fileKeyOf[utf8(kUnicodeName)]], "0|" + md5Words("src/App Files/" + utf8(kUnicodeName)));

  // Components, their feature links and the registry row.
  auto components = rows(exportTable("src/author.msi", "Component"));
  ASSERT_EQ(components.size(), 5u);
  int fileKind = 0, registryKind = 0;
  for (auto& r : components) {
    EXPECT_EQ(r[2], "APPDIR");
    if (r[3] == "2") ++fileKind;
    if (r[3] == "4") ++registryKind;
  }
  EXPECT_EQ(fileKind, 4);
  EXPECT_EQ(registryKind, 1);
  EXPECT_EQ(rows(exportTable("src/author.msi", "FeatureComponents")).size(), 5u);
  auto features = rows(exportTable("src/author.msi", "Feature"));
  ASSERT_EQ(features.size(), 1u);
  EXPECT_EQ(features[0][0], "Main");
  EXPECT_EQ(features[0][6], "APPDIR");
  auto registry = rows(exportTable("src/author.msi", "Registry"));
  ASSERT_EQ(registry.size(), 1u);
  EXPECT_EQ(registry[0][1], "2");
  EXPECT_EQ(registry[0][2], "Software\\Korvane\\Author");
  EXPECT_EQ(registry[0][4], "#42");
  std::string directories = exportTable("src/author.msi", "Directory");
  for (const char* folder : {"PersonalFolder\tTARGETDIR\t.", "ProgramFilesFolder\tTARGETDIR\t.",
                             "TARGETDIR\t\tSourceDir", "APPDIR\tTARGETDIR\t"})
    EXPECT_NE(directories.find(folder), std::string::npos) << folder;

  // Read back through the model: the kinds and the links.
  auto again = Msi::MsiPackage::open(u"C:\\src\\author.msi", true);
  EXPECT_EQ(again->componentKeys().size(), 5u);
  EXPECT_EQ(again->find<Msi::MsiFeature>(u"Main")->componentKeys().size(), 5u);
  Msi::MsiFile* tool = again->find<Msi::MsiFile>(std::u16string(fileKeyOf["tool.exe"].begin(), fileKeyOf["tool.exe"].end()));
  ASSERT_NE(tool, nullptr);
  EXPECT_FALSE(tool->hash(nullptr, nullptr, nullptr, nullptr));
  std::u16string key(fileKeyOf["readme.txt"].begin(), fileKeyOf["readme.txt"].end());
  std::u16string part1;
  ASSERT_TRUE(again->find<Msi::MsiFile>(key)->hash(&part1, nullptr, nullptr, nullptr));
  EXPECT_EQ(model_test::narrow(part1), md5Words("src/App Files/readme.txt").substr(0, md5Words("src/App Files/readme.txt").find('\t')));
}

// Files read from rows are not measured again: their sources may be gone.
TEST_F(FileAuthoring, FilesReadFromRowsKeepTheirMeasuresAtCommit) {
  try {
    auto package = Msi::MsiPackage::open(buildSources(), false);
    auto* app = static_cast<Msi::MsiDirectory*>(package->rootDirectory()->createSubdirectory(u"APPDIR"));
    app->setDefaultDir(u"App Files");
    Msi::MsiComponent* c =
        package->addFeature(u"Main", u"Main", app)->createFileComponent(u"{11111111-2222-3333-4444-555555555555}");
    package->find<Msi::MsiFile>(c->keyPath())->setFileName(u"readme.txt");
    package->commit();
  } catch (const Common::Error& e) {
    FAIL() << chain(e);
  }
  std::string before = exportTable("src/author.msi", "File") + exportTable("src/author.msi", "MsiFileHash");
  std::filesystem::remove_all(c("src/App Files"));
  {
    auto package = Msi::MsiPackage::open(u"C:\\src\\author.msi", false);
    for (const std::u16string& key : package->fileKeys().keys()) {
      Msi::MsiFile* file = package->find<Msi::MsiFile>(key);
      ASSERT_NE(file, nullptr);
      EXPECT_FALSE(file->isModified());
    }
    package->addProperty(u"Changed", u"1");
    try {
      package->commit();
    } catch (const Common::Error& e) {
      FAIL() << chain(e);
    }
  }
  EXPECT_EQ(exportTable("src/author.msi", "File") + exportTable("src/author.msi", "MsiFileHash"), before);

  // A file changed on purpose is measured, and a missing source refuses the commit.
  auto package = Msi::MsiPackage::open(u"C:\\src\\author.msi", false);
  ASSERT_EQ(package->fileKeys().size(), 1u);
  Msi::MsiFile* file = package->find<Msi::MsiFile>(package->fileKeys().keys().front());
  file->setAttributes(0x09);
  try {
    package->commit();
    ADD_FAILURE() << "a missing source committed";
  } catch (const Common::Error& e) {
    EXPECT_TRUE(hasErrorNumber(e, 120));
  }
  put("elsewhere/other.txt", "0123456789abcdef");
  file->setSourceFile(u"C:\\elsewhere\\other.txt");
  EXPECT_EQ(model_test::narrow(file->sourcePath()), "C:\\elsewhere\\other.txt");
  try {
    package->commit();
  } catch (const Common::Error& e) {
    FAIL() << chain(e);
  }
  auto files = rows(exportTable("src/author.msi", "File"));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0][3], "16");
  EXPECT_EQ(files[0][6], "513");
}

// 8.3 names of new files are unique among the files of their folder.
TEST_F(FileAuthoring, ShortNamesOfNewFilesDifferInTheirFolder) {
  auto package = Msi::MsiPackage::open(buildSources(), false);
  auto* app = static_cast<Msi::MsiDirectory*>(package->rootDirectory()->createSubdirectory(u"APPDIR"));
  auto* other = static_cast<Msi::MsiDirectory*>(package->rootDirectory()->createSubdirectory(u"OTHER"));
  Msi::MsiFeature* here = package->addFeature(u"Here", u"Here", app);
  Msi::MsiFeature* there = package->addFeature(u"There", u"There", other);
  struct Case {
    Msi::MsiFeature* feature;
    const char16_t* name;
    const char* stored;
  } cases[] = {
      {here, u"Long File Name A.txt", "LONG_F~1.TXT|Long File Name A.txt"},
      {here, u"Long File Name B.txt", "LONG_F~2.TXT|Long File Name B.txt"},
      {there, u"Long File Name C.txt", "LONG_F~1.TXT|Long File Name C.txt"},
      {here, u"X|given.txt", "X|given.txt"},
      {here, u"archive.tar.gz", "ARCHIV~1.GZ|archive.tar.gz"},
  };
  int n = 0;
  for (const Case& c : cases) {
    char guid[64];
    std::snprintf(guid, sizeof guid, "{21111111-2222-3333-4444-%012d}", ++n);
    Msi::MsiComponent* component = c.feature->createFileComponent(std::u16string(guid, guid + 38));
    Msi::MsiFile* file = package->find<Msi::MsiFile>(component->keyPath());
    file->setFileName(c.name);
    EXPECT_EQ(model_test::narrow(file->fileName()), c.stored);
  }
}

TEST(FileFlags, MapOneToOneAndDropOtherBits) {
  struct Case {
    std::int32_t flags, attributes;
  } cases[] = {{0x88, 16896}, {0x01, 1}, {0x08, 512}, {0xFF, 1 | 2 | 4 | 512 | 1024 | 4096 | 8192 | 16384}};
  for (const Case& c : cases) {
    EXPECT_EQ(Msi::fileAttributesFromFlags(c.flags), c.attributes);
    EXPECT_EQ(Msi::fileFlagsFromAttributes(c.attributes), c.flags);
  }
  EXPECT_EQ(Msi::fileFlagsFromAttributes(16896 | 256), 0x88);
}

}  // namespace
