// Cabinets: files authored into new cabinets, numbered after the package's
// own, built by makecab.exe and embedded; read with msiinfo, gcab and cabextract.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>

#include "msi/entities/cabinet.h"
#include "msi/entities/directory.h"
#include "msi/entities/entity_fixture.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/model_fixture.h"
#include "msi/model/package.h"

namespace {

using entity_test::lines;
using entity_test::rows;
using model_test::run;
using model_test::shellQuote;

std::string chain(const Common::Error& e) {
  std::string out;
  Common::Error at = e;
  for (int depth = 0; depth < 8 && (at.code() || depth == 0); ++depth, at = at.cause())
    out += std::to_string(at.code()) + " " + model_test::narrow(at.text()) + "; ";
  return out;
}

bool hasNumber(const Common::Error& e, std::uint32_t number) {
  Common::Error at = e;
  for (int depth = 0; depth < 10 && at.code(); ++depth, at = at.cause())
    if (at.code() == number) return true;
  return false;
}

std::string mediaIdt(const std::vector<std::string>& rowsText) {
  std::string text = "DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource\ni2\ti4\tL64\tS255\tS32\tS72\n"
                     "Media\tDiskId\n";
  for (const std::string& r : rowsText) text += r + "\n";
  return text;
}

const char kFileIdt[] =
    "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n"
    "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\nFile\tFile\n";

class Cabinets : public model_test::PackageWorld {
 protected:
  // C:\pkg\cab.msi with the tables given beside a property; sources under C:\src.
  std::u16string makePackage(std::map<std::string, std::string> tables = {}) {
    tables["Property"] = propertyIdt({{"ProductName", "Cab Demo"}});
    std::filesystem::create_directories(c("pkg"));
    return build("pkg/cab.msi", tables);
  }
  // `count` new file components of one feature, each file with a source of
  // its own; their keys in order.
  std::vector<Msi::MsiFile*> author(Msi::MsiPackage& package, int count, const std::string& prefix = "f") {
    Msi::MsiFeature* feature = package.findFeature(u"Main");
    if (!feature) feature = package.addFeature(u"Main", u"Main", package.rootDirectory());
    std::vector<Msi::MsiFile*> files;
    for (int i = 0; i < count; ++i) {
      std::string name = prefix + std::to_string(i) + ".txt";
      put("src/" + name, "contents of " + name + "\n");
      char guid[64];
      std::snprintf(guid, sizeof guid, "{22222222-3333-4444-5555-%012d}", ++guids_);
      Msi::MsiComponent* component = feature->createFileComponent(std::u16string(guid, guid + 38));
      Msi::MsiFile* file = package.find<Msi::MsiFile>(component->keyPath());
      file->setFileName(std::u16string(name.begin(), name.end()));
      file->setSourceFile(u"C:\\src\\" + std::u16string(name.begin(), name.end()));
      files.push_back(file);
    }
    return files;
  }
  void commit(Msi::MsiPackage& package) {
    try {
      package.commit();
    } catch (const Common::Error& e) {
      FAIL() << chain(e);
    }
  }
  std::map<std::string, std::vector<std::string>> filesByKey(const std::string& pkg) {
    std::map<std::string, std::vector<std::string>> out;
    for (auto& r : rows(exportTable(pkg, "File"))) out[r[0]] = r;
    return out;
  }
  // The names gcab lists in a cabinet file.
  std::vector<std::string> gcabNames(const std::string& cab) {
    std::vector<std::string> names = lines(run("gcab -t " + shellQuote(c(cab))));
    std::sort(names.begin(), names.end());
    return names;
  }
  int guids_ = 0;
};

std::vector<std::string> keysOf(const std::vector<Msi::MsiFile*>& files) {
  std::vector<std::string> keys;
  for (Msi::MsiFile* f : files) keys.push_back(model_test::narrow(f->key()));
  return keys;
}

TEST_F(Cabinets, EmbeddedCabinetHoldsTheFilesNumberedAfterThePackagesOwn) {
  // The package has one file (Sequence 4) in an external cabinet of its own.
  put("pkg/old.cab", "precious bytes");
  auto pkg = makePackage({{"Media", mediaIdt({"1\t4\tDisk One\told.cab\tVOL1\tsrcprop"})},
                          {"File", std::string(kFileIdt) + "OLD\tC0\told.txt\t3\t\t\t16384\t4\n"}});
  std::vector<std::string> keys;
  {
    auto package = Msi::MsiPackage::open(pkg, false);
    std::vector<Msi::MsiFile*> files = author(*package, 3);
    keys = keysOf(files);
    Msi::MsiCab* cab = package->addCabinet(u"new.cab");
    EXPECT_EQ(cab->diskId(), u"2");
    for (Msi::MsiFile* f : files) cab->addFile(f);
    package->embedCabinet(cab);
    commit(*package);
  }
  // The stream, and in it the file keys.
  EXPECT_NE(run("msiinfo streams " + shellQuote(c("pkg/cab.msi"))).find("new.cab"), std::string::npos);
  run("msiinfo extract " + shellQuote(c("pkg/cab.msi")) + " new.cab > " + shellQuote(c("out.cab")));
  std::vector<std::string> sorted = keys;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(gcabNames("out.cab"), sorted);
  std::string listing = run("cabextract -l " + shellQuote(c("out.cab")));
  for (const std::string& k : keys) EXPECT_NE(listing.find(k), std::string::npos) << listing;
  run("cd " + shellQuote(c()) + " && mkdir -p x && cabextract -q -d x out.cab");
  EXPECT_EQ(get("x/" + keys[1]), "contents of f1.txt\n");

  // Media: the old row whole, the new one "#name" with the last number.
  auto media = rows(exportTable("pkg/cab.msi", "Media"));
  ASSERT_EQ(media.size(), 2u);
  std::sort(media.begin(), media.end());
  EXPECT_EQ(media[0], (std::vector<std::string>{"1", "4", "Disk One", "old.cab", "VOL1", "srcprop"}));
  EXPECT_EQ(media[1], (std::vector<std::string>{"2", "7", "", "#new.cab", "", ""}));
  // Sequences 5 to 7 in the order added, compressed and vital.
  auto files = filesByKey("pkg/cab.msi");
  EXPECT_EQ(files["OLD"][7], "4");
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(files[keys[i]][7], std::to_string(5 + i));
    EXPECT_EQ(files[keys[i]][6], "16896");
  }
  // The external cabinet untouched; nothing left behind beside the package or here.
  EXPECT_EQ(get("pkg/old.cab"), "precious bytes");
  std::vector<std::string> left;
  for (auto& e : std::filesystem::directory_iterator(c("pkg"))) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"cab.msi", "old.cab"}));
  EXPECT_FALSE(std::filesystem::exists(c(model_test::narrow(Msi::MsiCab::kDdfFileName))));
}

TEST_F(Cabinets, ExternalCabinetStaysBesideThePackage) {
  auto pkg = makePackage();
  std::vector<std::string> keys;
  {
    auto package = Msi::MsiPackage::open(pkg, false);
    std::vector<Msi::MsiFile*> files = author(*package, 2);
    keys = keysOf(files);
    Msi::MsiCab* cab = package->addCabinet(u"side.cab");
    EXPECT_EQ(cab->diskId(), u"1");
    for (Msi::MsiFile* f : files) cab->addFile(f);
    commit(*package);
    // A second commit without new files builds nothing again and keeps the file.
    std::string before = get("pkg/side.cab");
    commit(*package);
    EXPECT_EQ(get("pkg/side.cab"), before);
  }
  std::string listing = run("cabextract -l " + shellQuote(c("pkg/side.cab")));
  for (const std::string& k : keys) EXPECT_NE(listing.find(k), std::string::npos) << listing;
  EXPECT_EQ(run("msiinfo streams " + shellQuote(c("pkg/cab.msi"))).find("side.cab"), std::string::npos);
  auto media = rows(exportTable("pkg/cab.msi", "Media"));
  ASSERT_EQ(media.size(), 1u);
  EXPECT_EQ(media[0][3], "side.cab");
  EXPECT_EQ(media[0][1], "2");
}

TEST_F(Cabinets, TwoCabinetsNumberTheirFilesInCabinetOrder) {
  auto pkg = makePackage();
  std::vector<std::string> first, second;
  {
    auto package = Msi::MsiPackage::open(pkg, false);
    std::vector<Msi::MsiFile*> a = author(*package, 2, "a");
    std::vector<Msi::MsiFile*> b = author(*package, 3, "b");
    first = keysOf(a), second = keysOf(b);
    Msi::MsiCab* one = package->addCabinet(u"one.cab");
    Msi::MsiCab* two = package->addCabinet(u"two.cab");
    EXPECT_EQ(two->diskId(), u"2");
    for (Msi::MsiFile* f : a) one->addFile(f);
    for (Msi::MsiFile* f : b) two->addFile(f);
    package->embedCabinet(one);
    package->embedCabinet(two);
    commit(*package);
  }
  auto media = rows(exportTable("pkg/cab.msi", "Media"));
  std::sort(media.begin(), media.end());
  ASSERT_EQ(media.size(), 2u);
  EXPECT_EQ(media[0][1], "2");
  EXPECT_EQ(media[1][1], "5");
  auto files = filesByKey("pkg/cab.msi");
  int n = 0;
  for (const auto& k : first) EXPECT_EQ(files[k][7], std::to_string(++n));
  for (const auto& k : second) EXPECT_EQ(files[k][7], std::to_string(++n));
  run("msiinfo extract " + shellQuote(c("pkg/cab.msi")) + " two.cab > " + shellQuote(c("two.cab")));
  std::sort(second.begin(), second.end());
  EXPECT_EQ(gcabNames("two.cab"), second);
}

TEST_F(Cabinets, ReadCabinetsKeepTheirRowsAndAreNotRebuilt) {
  put("pkg/ext.cab", "external cabinet bytes");
  auto pkg = makePackage({{"Media", mediaIdt({"1\t2\tDisk 1\text.cab\tVOL\tSRC", "3\t5\t\t#in.cab\t\t"})}});
  {
    auto package = Msi::MsiPackage::open(pkg, false);
    Msi::MsiCab* ext = package->find<Msi::MsiCab>(u"1");
    Msi::MsiCab* in = package->find<Msi::MsiCab>(u"3");
    ASSERT_TRUE(ext && in);
    EXPECT_TRUE(ext->isExternal());
    EXPECT_FALSE(in->isExternal());
    EXPECT_EQ(in->cabinetName(), u"in.cab");
    // Non-contiguous ids: the next is after the highest.
    EXPECT_EQ(package->addCabinet(u"n.cab")->diskId(), u"4");
    // Rewriting the embedded one keeps its single "#"; the external one is
    // embedded as the file it is.
    in->markModified();
    package->embedCabinet(ext);
    commit(*package);
  }
  auto media = rows(exportTable("pkg/cab.msi", "Media"));
  std::sort(media.begin(), media.end());
  ASSERT_EQ(media.size(), 3u);
  EXPECT_EQ(media[0], (std::vector<std::string>{"1", "2", "Disk 1", "#ext.cab", "VOL", "SRC"}));
  EXPECT_EQ(media[1], (std::vector<std::string>{"3", "5", "", "#in.cab", "", ""}));
  EXPECT_EQ(media[2], (std::vector<std::string>{"4", "0", "", "n.cab", "", ""}));
  EXPECT_EQ(run("msiinfo extract " + shellQuote(c("pkg/cab.msi")) + " ext.cab"), "external cabinet bytes");
  // The user's file stays; no cabinet was made for the one without files.
  EXPECT_EQ(get("pkg/ext.cab"), "external cabinet bytes");
  EXPECT_FALSE(std::filesystem::exists(c("pkg/n.cab")));
}

TEST_F(Cabinets, AuthoringErrors) {
  put("pkg/ext.cab", "x");
  auto pkg = makePackage({{"Media", mediaIdt({"1\t1\t\t#ext.cab\t\t", "2\t1\t\tplain.cab\t\t"})}});
  auto package = Msi::MsiPackage::open(pkg, false);
  std::vector<Msi::MsiFile*> files = author(*package, 1);
  Msi::MsiCab* read = package->find<Msi::MsiCab>(u"1");
  ASSERT_NE(read, nullptr);
  struct Case {
    const char* what;
    std::function<void()> call;
    std::uint32_t module, number;
  } cases[] = {
      {"name of an embedded cabinet", [&] { package->addCabinet(u"ext.cab"); }, 0x6e1fbba0, 92},
      {"that name with #", [&] { package->addCabinet(u"#ext.cab"); }, 0x6e1fbba0, 92},
      {"external name with #", [&] { package->addCabinet(u"#plain.cab"); }, 0x6e1fbba0, 92},
      {"null cabinet to embed", [&] { package->embedCabinet(nullptr); }, 0x6e1fbba0, 91},
      {"files into a read cabinet", [&] { read->addFile(files[0]); }, Msi::MsiCab::kModule, 96},
  };
  for (const Case& k : cases) {
    try {
      k.call();
      ADD_FAILURE() << k.what;
    } catch (const Msi::Error& e) {
      EXPECT_EQ(e.module(), k.module) << k.what;
      EXPECT_EQ(e.code(), k.number) << k.what;
    }
  }
  Msi::MsiCab* cab = package->addCabinet(u"new.cab");
  EXPECT_EQ(cab->diskId(), u"3");
  cab->addFile(files[0]);
  try {
    cab->addFile(files[0]);
    ADD_FAILURE() << "a file twice";
  } catch (const Msi::Error& e) {
    EXPECT_EQ(e.code(), 92u);
    EXPECT_EQ(e.module(), Msi::MsiCab::kModule);
  }
  // A file may be in two cabinets: the later number wins.
  Msi::MsiCab* other = package->addCabinet(u"other.cab");
  other->addFile(files[0]);
  package->renumberCabinets();
  EXPECT_EQ(cab->lastSequence(), 2);
  EXPECT_EQ(other->lastSequence(), 3);
  EXPECT_EQ(files[0]->sequence(), u"3");

  // Removed, the cabinet is forgotten; its id is not handed out again while its row stays.
  other->remove();
  EXPECT_EQ(package->find<Msi::MsiCab>(u"4"), nullptr);
  package->removeCabinet(cab);
  // The removed object is gone: one of the same disk stands in for it.
  Msi::MsiCab again(package.get(), u"new.cab", Msi::MsiCab::kDdfFileName);
  again.setDiskId(u"3");
  try {
    package->removeCabinet(&again);
    ADD_FAILURE() << "a removed cabinet";
  } catch (const Msi::Error& e) {
    EXPECT_EQ(e.code(), 91u);
  }
  Msi::MsiCab* reread = package->find<Msi::MsiCab>(u"2");
  ASSERT_NE(reread, nullptr);
  package->removeCabinet(reread);
  // DiskId 2 is still a row of the table: find brings it back, a new cabinet does not take it.
  EXPECT_NE(package->find<Msi::MsiCab>(u"2"), nullptr);
  EXPECT_EQ(package->addCabinet(u"later.cab")->diskId(), u"3");
}

TEST_F(Cabinets, DirectiveFileQuotesSourcePaths) {
  auto pkg = makePackage();
  auto package = Msi::MsiPackage::open(pkg, false);
  std::vector<Msi::MsiFile*> files = author(*package, 1);
  files[0]->setSourceFile(u"C:\\Src Files\\a b.txt");
  Msi::MsiCab* cab = package->addCabinet(u"data1.cab");
  cab->addFile(files[0]);
  std::string expected =
      ".OPTION EXPLICIT\r\n.Set UniqueFiles=\"ON\"\r\n.Set MaxDiskSize=0\r\n.Set MaxCabinetSize=0\r\n"
      ";.Set GenerateInf=OFF\r\n;.Set CompressionType=LZX\r\n.Set Compress=ON\r\n"
      ".Set CabinetNameTemplate=data1.cab\r\n.Set DiskDirectory1=C:\\Pkg\r\n"
      "\"C:\\Src Files\\a b.txt\" " +
      model_test::narrow(files[0]->key()) + "\r\n";
  EXPECT_EQ(cab->ddfText(u"data1.cab", u"C:\\Pkg"), expected);
  files[0]->setSourceFile(u"C:\\Src\\a\"b.txt");
  try {
    cab->ddfText(u"data1.cab", u"C:\\Pkg");
    ADD_FAILURE() << "a quote inside a path";
  } catch (const Msi::Error& e) {
    EXPECT_EQ(e.code(), 97u);
  }
}

// makecab.exe stand-ins in the current folder, found before the layer's own.
class FailingMakecab : public Cabinets {
 protected:
  void install(const std::string& script) {
    put("makecab.exe", "#!/bin/sh\n" + script);
    ::chmod(c("makecab.exe").c_str(), 0755);
  }
};

TEST_F(FailingMakecab, FailureOrNoCabinetFailsTheCommitAndLeavesNoFileBehind) {
  const char* scripts[] = {"exit 3\n", "exit 0\n"};
  for (const char* script : scripts) {
    install(script);
    put("setup.inf", "the user's own");
    auto pkg = makePackage();
    put("pkg/side.cab", "not ours");
    auto package = Msi::MsiPackage::open(pkg, false);
    std::vector<Msi::MsiFile*> files = author(*package, 1);
    Msi::MsiCab* cab = package->addCabinet(u"new.cab");
    cab->addFile(files[0]);
    package->embedCabinet(cab);
    try {
      package->commit();
      ADD_FAILURE() << script;
    } catch (const Common::Error& e) {
      EXPECT_TRUE(hasNumber(e, 94)) << chain(e);
    }
    EXPECT_FALSE(std::filesystem::exists(c(model_test::narrow(Msi::MsiCab::kDdfFileName))));
    EXPECT_EQ(get("setup.inf"), "the user's own");
    package.reset();
    std::vector<std::string> left;
    for (auto& e : std::filesystem::directory_iterator(c("pkg"))) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"cab.msi", "side.cab"})) << script;
    std::filesystem::remove(c("pkg/cab.msi"));
  }
  // With the layer's makecab back, the same package object builds the cabinet
  // from a directive file of its own, nothing left over from the failure.
  auto pkg = makePackage();
  auto package = Msi::MsiPackage::open(pkg, false);
  std::vector<Msi::MsiFile*> files = author(*package, 2);
  Msi::MsiCab* cab = package->addCabinet(u"again.cab");
  for (Msi::MsiFile* f : files) cab->addFile(f);
  package->embedCabinet(cab);
  EXPECT_THROW(package->commit(), Common::Error);
  std::filesystem::remove(c("makecab.exe"));
  commit(*package);
  std::vector<std::string> keys = keysOf(files);
  package.reset();
  run("msiinfo extract " + shellQuote(c("pkg/cab.msi")) + " again.cab > " + shellQuote(c("again.cab")));
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(gcabNames("again.cab"), keys);
}

TEST_F(Cabinets, EmbeddingOverAStreamOfTheSameNameReplacesIt) {
  auto pkg = makePackage();
  put("stale.bin", "stale stream bytes");
  run("msibuild " + shellQuote(c("pkg/cab.msi")) + " -a fresh.cab " + shellQuote(c("stale.bin")));
  std::vector<std::string> keys;
  {
    auto package = Msi::MsiPackage::open(pkg, false);
    std::vector<Msi::MsiFile*> files = author(*package, 2);
    keys = keysOf(files);
    Msi::MsiCab* cab = package->addCabinet(u"fresh.cab");
    for (Msi::MsiFile* f : files) cab->addFile(f);
    package->embedCabinet(cab);
    commit(*package);
  }
  run("msiinfo extract " + shellQuote(c("pkg/cab.msi")) + " fresh.cab > " + shellQuote(c("fresh.cab")));
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(gcabNames("fresh.cab"), keys);
}

TEST_F(Cabinets, MediaRowThatDoesNotReadLeavesThePackageOpen) {
  std::string idt = mediaIdt({"1			x.cab		", "2	3		y.cab		"});
  idt.replace(idt.find("\ti4\t"), 4, "\tI4\t");
  auto pkg = makePackage({{"Media", idt}});
  auto package = Msi::MsiPackage::open(pkg, true);
  EXPECT_EQ(package->cabinetKeys().size(), 1u);
  EXPECT_NE(package->find<Msi::MsiCab>(u"2"), nullptr);
  EXPECT_EQ(package->addCabinet(u"z.cab")->diskId(), u"3");
}

TEST_F(Cabinets, ExternalCabinetNeverReplacesAFileItDidNotWrite) {
  auto pkg = makePackage();
  put("pkg/side.cab", "not ours");
  auto package = Msi::MsiPackage::open(pkg, false);
  std::vector<Msi::MsiFile*> files = author(*package, 1);
  Msi::MsiCab* cab = package->addCabinet(u"side.cab");
  cab->addFile(files[0]);
  try {
    package->commit();
    ADD_FAILURE() << "committed over side.cab";
  } catch (const Common::Error& e) {
    EXPECT_TRUE(hasNumber(e, 95)) << chain(e);
  }
  EXPECT_EQ(get("pkg/side.cab"), "not ours");
}

}  // namespace
