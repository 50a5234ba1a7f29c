// COM registration and file associations read from a package that msibuild
// makes from IDT texts, checked against msiinfo, msidiff and md5sum.
#include <algorithm>
#include <functional>
#include <set>

#include "msi/entities/com.h"
#include "msi/entities/directory.h"
#include "msi/entities/entity_fixture.h"
#include "msi/entities/resources.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/model_fixture.h"
#include "msi/model/package.h"
#include "msi/model/text.h"

namespace {

using entity_test::all;
using model_test::narrow;
using model_test::run;
using model_test::shellQuote;
using Msi::MsiPackage;

const std::map<std::string, std::string>& comTables() {
  static const std::map<std::string, std::string> tables = {
      {"Property", "Property\tValue\ns72\tl0\nProperty\tProperty\nProductName\tCom Demo\nSERVER\thost1\n"},
      {"Directory",
       "Directory\tDirectory_Parent\tDefaultDir\ns72\tS72\tl255\nDirectory\tDirectory\n"
       "TARGETDIR\t\tSourceDir\nINSTALLDIR\tTARGETDIR\tDemo\n"},
      {"Component",
       "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\ns72\tS38\ts72\ti2\tS255\tS72\n"
       "Component\tComponent\nC1\t{11111111-2222-3333-4444-555555555555}\tINSTALLDIR\t0\t\t\n"
       "C2\t{11111111-2222-3333-4444-555555555556}\tINSTALLDIR\t0\t\t\n"},
      {"Feature",
       "Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes\n"
       "s38\tS38\tL64\tL255\tI2\ti2\tS72\ti2\nFeature\tFeature\nF1\t\tDemo\t\t2\t1\tINSTALLDIR\t0\n"},
      {"FeatureComponents", "Feature_\tComponent_\ns38\ts72\nFeatureComponents\tFeature_\tComponent_\nF1\tC1\nF1\tC2\n"},
      {"TypeLib",
       "LibID\tLanguage\tComponent_\tVersion\tDescription\tDirectory_\tFeature_\tCost\n"
       "s38\ti2\ts72\tI2\tL128\tS72\ts32\tI4\nTypeLib\tLibID\tLanguage\tComponent_\n"
       "{AAAAAAAA-0000-0000-0000-000000000001}\t1033\tC1\t1\tDemo types\tINSTALLDIR\tF1\t\n"
       "{AAAAAAAA-0000-0000-0000-000000000001}\t0\tC1\t1\tDemo types\t\tF1\t512\n"
       // Joined without a separator, these two were one key.
       "{AAAAAAAA-0000-0000-0000-000000000002}\t1\t2K\t2\tOne\t\tF1\t\n"
       "{AAAAAAAA-0000-0000-0000-000000000002}\t12\tK\t2\tTwelve\t\tF1\t\n"},
      {"AppId",
       "AppId\tRemoteServerName\tLocalService\tServiceParameters\tDllSurrogate\tActivateAtStorage\t"
       "RunAsInteractiveUser\ns38\tS255\tS255\tS255\tS255\tI2\tI2\nAppId\tAppId\n"
       "{BBBBBBBB-0000-0000-0000-000000000001}\t[SERVER]\t\t\t\t\t1\n"
       "{BBBBBBBB-0000-0000-0000-000000000002}\t\tDemoSvc\t-run\tdllhost\t1\t0\n"},
      {"Class",
       "CLSID\tContext\tComponent_\tProgId_Default\tDescription\tAppId_\tFileTypeMask\tIcon_\tIconIndex\t"
       "DefInprocHandler\tArgument\tFeature_\tAttributes\n"
       "s38\ts32\ts72\tS255\tL255\tS38\tS255\tS72\tI2\tS32\tS255\ts38\tI2\nClass\tCLSID\tContext\tComponent_\n"
       "{CCCCCCCC-0000-0000-0000-000000000001}\tLocalServer32\tC1\tDemo.Doc.1\tDemo document\t"
       "{BBBBBBBB-0000-0000-0000-000000000001}\t\tDemoIcon\t\t\t-embed [ProductName]\tF1\t\n"
       "{CCCCCCCC-0000-0000-0000-000000000001}\tInprocServer32\tC2\tDemo.Doc.1\tDemo document\t\t\t\t0\t2\t\tF1\t1\n"},
      {"ProgId",
       "ProgId\tProgId_Parent\tClass_\tDescription\tIcon_\tIconIndex\ns255\tS255\tS38\tL255\tS72\tI2\nProgId\tProgId\n"
       "Demo.Doc.1\t\t{CCCCCCCC-0000-0000-0000-000000000001}\tDemo Document\tDemoIcon\t0\n"
       "Demo.Doc\tDemo.Doc.1\t\tDemo Document, any version\t\t\n"
       "Other.1\tNo.Such\t{CCCCCCCC-0000-0000-0000-000000000009}\tOther\t\t\n"},
      {"Extension",
       "Extension\tComponent_\tProgId_\tMIME_\tFeature_\ns255\ts72\tS255\tS64\ts38\nExtension\tExtension\tComponent_\n"
       "dmo\tC1\tDemo.Doc.1\tapplication/x-demo\tF1\ndmo\tC2\tDemo.Doc.1\tapplication/x-demo\tF1\n"
       "dmx\tC1\tDemo.Doc\t\tF1\n"},
      {"Verb",
       "Extension_\tVerb\tSequence\tCommand\tArgument\ns255\ts32\tI2\tL255\tS255\nVerb\tExtension_\tVerb\n"
       "dmo\topen\t1\t&Open with [ProductName]\t\"%1\"\ndmo\tprint\t\t&Print\t/p \"%1\"\n"},
      {"MIME",
       "ContentType\tExtension_\tCLSID\ns64\ts255\tS38\nMIME\tContentType\n"
       "application/x-demo\tdmo\t{CCCCCCCC-0000-0000-0000-000000000001}\n"},
  };
  return tables;
}

std::string le32(std::uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

std::string utf16le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

class ComTest : public model_test::PackageWorld {
 protected:
  std::u16string buildCom() {
    std::u16string path = build("com.msi", comTables());
    // The stream column's file is found beside the IDT file, below the table's name.
    put("idt/Icon/DemoIcon.ibd", "ICONBYTES");
    put("idt/Icon.idt", "Name\tData\ns72\tv0\nIcon\tName\nDemoIcon\tDemoIcon.ibd\n");
    int rc = 0;
    run("cd " + shellQuote(c("idt")) + " && msibuild " + shellQuote(c("com.msi")) + " -i Icon.idt", &rc);
    EXPECT_EQ(rc, 0);
    return path;
  }
  // MD5 of the bytes, as md5sum gives it, in upper case.
  std::string md5(const std::string& bytes) {
    put("digest.bin", bytes);
    std::string hex = run("md5sum " + shellQuote(c("digest.bin"))).substr(0, 32);
    std::transform(hex.begin(), hex.end(), hex.begin(), ::toupper);
    return hex;
  }
  // The parts as the keys join them: each text after its length in code units.
  std::string joined(const std::vector<std::string>& parts) {
    std::string bytes;
    for (const std::string& p : parts) bytes += le32(static_cast<std::uint32_t>(p.size())) + utf16le(p);
    return bytes;
  }
};

TEST_F(ComTest, DigestKeysAreMd5OfLengthPrefixedParts) {
  struct Case {
    std::vector<std::u16string> parts;
    std::vector<std::string> ascii;
  };
  const Case cases[] = {
      {{u"a", u"bc"}, {"a", "bc"}},
      {{u"ab", u"c"}, {"ab", "c"}},
      {{u"P", u"QR"}, {"P", "QR"}},
      {{u"PQ", u"R"}, {"PQ", "R"}},
      {{u"{LIB}", u"1", u"2K"}, {"{LIB}", "1", "2K"}},
      {{u"{LIB}", u"12", u"K"}, {"{LIB}", "12", "K"}},
      {{u"dmo", u"C1"}, {"dmo", "C1"}},
  };
  std::set<std::u16string> seen;
  for (const Case& k : cases) {
    std::vector<const std::u16string*> parts;
    for (const std::u16string& p : k.parts) parts.push_back(&p);
    std::u16string key = Msi::digestKey(parts);
    EXPECT_EQ(narrow(key), md5(joined(k.ascii))) << k.ascii[0] << "|" << k.ascii[1];
    seen.insert(key);
  }
  EXPECT_EQ(seen.size(), std::size(cases));
  // A number part: its four bytes, least significant first, after the text.
  std::u16string p = u"P";
  std::int32_t order = 1;
  EXPECT_EQ(narrow(Msi::digestKey({&p}, &order)), md5(std::string("\x01\0\0\0P\0\x01\0\0\0", 10)));
  order = 0x01020304;
  EXPECT_EQ(narrow(Msi::digestKey({&p}, &order)), md5(std::string("\x01\0\0\0P\0\x04\x03\x02\x01", 10)));
}

TEST_F(ComTest, TypeLibrariesAndAppIds) {
  auto package = MsiPackage::open(buildCom(), true);
  std::list<std::u16string> keys;
  Msi::loadTableKeys<Msi::MsiTypeLib>(package.get(), keys);
  ASSERT_EQ(keys.size(), 4u);  // the two that collided stay apart
  EXPECT_EQ(std::set<std::u16string>(keys.begin(), keys.end()).size(), 4u);
  // Picked by their columns: the engine keeps its own row order.
  std::map<std::u16string, Msi::MsiTypeLib*> byText;
  for (const std::u16string& k : keys) {
    Msi::MsiTypeLib* lib = package->find<Msi::MsiTypeLib>(k);
    ASSERT_NE(lib, nullptr);
    byText[lib->description() + u"/" + Msi::toString(lib->language())] = lib;
  }
  ASSERT_EQ(byText.size(), 4u);
  Msi::MsiTypeLib* english = byText[u"Demo types/1033"];
  Msi::MsiTypeLib* neutral = byText[u"Demo types/0"];
  ASSERT_NE(english, nullptr);
  ASSERT_NE(neutral, nullptr);
  EXPECT_NE(byText[u"One/1"], nullptr);
  EXPECT_NE(byText[u"Twelve/12"], nullptr);
  EXPECT_EQ(narrow(english->key()), md5(joined({"{AAAAAAAA-0000-0000-0000-000000000001}", "1033", "C1"})));
  EXPECT_EQ(english->component(), package->find<Msi::MsiComponent>(u"C1"));
  EXPECT_EQ(english->directory(), package->find<Msi::MsiDirectory>(u"INSTALLDIR"));
  EXPECT_EQ(neutral->directory(), nullptr);
  EXPECT_EQ(english->feature(), package->findFeature(u"F1"));
  EXPECT_EQ(english->version(), 1);
  EXPECT_EQ(english->cost(), std::nullopt);
  EXPECT_EQ(neutral->cost(), 512);
  // A component's list holds its own rows, keyed as the whole table's.
  std::list<std::u16string> ofC1;
  Msi::loadLinkedKeys<Msi::MsiTypeLib>(package.get(), u"Component_", u"C1", ofC1);
  EXPECT_EQ(std::set<std::u16string>(ofC1.begin(), ofC1.end()),
            (std::set<std::u16string>{english->key(), neutral->key()}));
  Msi::MsiTypeLib half(package.get());
  EXPECT_EQ(half.key(), u"");

  Msi::MsiAppId* first = package->find<Msi::MsiAppId>(u"{BBBBBBBB-0000-0000-0000-000000000001}");
  Msi::MsiAppId* second = package->find<Msi::MsiAppId>(u"{BBBBBBBB-0000-0000-0000-000000000002}");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->remoteServerName(), u"host1");
  EXPECT_EQ(second->remoteServerName(), u"");
  EXPECT_EQ(first->activateAtStorage(), std::nullopt);  // a null reads as absent
  EXPECT_EQ(first->runAsInteractiveUser(), 1);
  EXPECT_EQ(second->activateAtStorage(), 1);
  EXPECT_EQ(second->runAsInteractiveUser(), 0);
  EXPECT_EQ(second->localService(), u"DemoSvc");
  EXPECT_EQ(second->serviceParameters(), u"-run");
  EXPECT_EQ(second->dllSurrogate(), u"dllhost");
  EXPECT_EQ(package->find<Msi::MsiAppId>(u"{nope}"), nullptr);
}

TEST_F(ComTest, ClassToVerbAndBack) {
  auto package = MsiPackage::open(buildCom(), true);
  std::list<std::u16string> c1, c2;
  Msi::loadLinkedKeys<Msi::MsiClass>(package.get(), u"Component_", u"C1", c1);
  Msi::loadLinkedKeys<Msi::MsiClass>(package.get(), u"Component_", u"C2", c2);
  ASSERT_EQ(c1.size(), 1u);
  ASSERT_EQ(c2.size(), 1u);
  Msi::MsiClass* local = package->find<Msi::MsiClass>(c1.front());
  Msi::MsiClass* inproc = package->find<Msi::MsiClass>(c2.front());
  ASSERT_NE(local, nullptr);
  ASSERT_NE(inproc, nullptr);
  EXPECT_NE(local->key(), inproc->key());
  EXPECT_EQ(narrow(local->key()), md5(joined({"{CCCCCCCC-0000-0000-0000-000000000001}", "LocalServer32", "C1"})));
  EXPECT_EQ(local->context(), u"LocalServer32");
  EXPECT_EQ(local->component(), package->find<Msi::MsiComponent>(u"C1"));
  EXPECT_EQ(local->argument(), u"-embed Com Demo");
  EXPECT_EQ(local->attributes(), std::nullopt);
  EXPECT_EQ(inproc->attributes(), 1);
  EXPECT_EQ(local->iconIndex(), u"");
  EXPECT_EQ(inproc->defInprocHandler(), u"2");
  EXPECT_EQ(local->feature(), package->findFeature(u"F1"));
  EXPECT_EQ(local->appId(), package->find<Msi::MsiAppId>(u"{BBBBBBBB-0000-0000-0000-000000000001}"));
  EXPECT_EQ(inproc->appId(), nullptr);
  ASSERT_NE(local->icon(), nullptr);
  EXPECT_EQ(local->icon()->name(), u"DemoIcon");
  EXPECT_EQ(local->icon()->data(), u"");  // the stream is never read back

  // The ProgId list holds keys only until the iterator yields them.
  std::size_t before = package->identityMap<Msi::MsiProgId>().size();
  auto progIds = local->progIds();
  EXPECT_EQ(package->identityMap<Msi::MsiProgId>().size(), before);
  ASSERT_TRUE(progIds->valid());
  Msi::MsiProgId* doc = progIds->current();
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->progId(), u"Demo.Doc.1");
  progIds->next();
  EXPECT_FALSE(progIds->valid());
  EXPECT_EQ(all(inproc->progIds()), std::vector<Msi::MsiProgId*>{doc});  // same CLSID, same objects
  EXPECT_EQ(local->defaultProgId(), doc);
  EXPECT_EQ(doc->classId(), local->clsid());
  EXPECT_EQ(doc->parent(), nullptr);
  EXPECT_EQ(doc->icon(), local->icon());
  EXPECT_EQ(doc->iconIndex(), u"0");

  // The version-independent ProgId and back.
  auto children = all(doc->children());
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0]->progId(), u"Demo.Doc");
  EXPECT_EQ(children[0]->parent(), doc);
  EXPECT_TRUE(all(children[0]->children()).empty());
  Msi::MsiProgId* other = package->find<Msi::MsiProgId>(u"Other.1");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->parent(), nullptr);  // names a missing row

  // Extensions of the ProgId: one per component, then verbs and back.
  auto extensions = all(doc->extensions());
  ASSERT_EQ(extensions.size(), 2u);
  EXPECT_NE(extensions[0]->key(), extensions[1]->key());
  EXPECT_EQ(extensions[0]->component(), package->find<Msi::MsiComponent>(u"C1"));
  EXPECT_EQ(extensions[1]->component(), package->find<Msi::MsiComponent>(u"C2"));
  EXPECT_EQ(extensions[0]->progId(), doc);
  EXPECT_EQ(extensions[0]->feature(), package->findFeature(u"F1"));
  auto verbs = all(extensions[0]->verbs());
  ASSERT_EQ(verbs.size(), 2u);
  EXPECT_EQ(all(extensions[1]->verbs()), verbs);  // refused copies; the same objects
  EXPECT_EQ(verbs[0]->verb(), u"open");
  EXPECT_EQ(verbs[0]->sequence(), u"1");
  EXPECT_EQ(verbs[1]->sequence(), u"");
  EXPECT_EQ(verbs[0]->command(), u"&Open with Com Demo");
  EXPECT_EQ(verbs[1]->argument(), u"/p \"%1\"");
  EXPECT_EQ(all(verbs[1]->extensions()), extensions);
  EXPECT_EQ(all(verbs[0]->extensions())[0]->progId()->classId(), local->clsid());
  Msi::MsiMIME* mime = extensions[0]->mime();
  ASSERT_NE(mime, nullptr);
  EXPECT_EQ(mime->clsid(), local->clsid());
  EXPECT_EQ(mime->extension(), u"dmo");
  EXPECT_EQ(all(extensions[0]->mimeTypes()), std::vector<Msi::MsiMIME*>{mime});

  auto independent = all(children[0]->extensions());
  ASSERT_EQ(independent.size(), 1u);
  EXPECT_EQ(independent[0]->extension(), u"dmx");
  EXPECT_EQ(independent[0]->mime(), nullptr);
  EXPECT_TRUE(all(independent[0]->verbs()).empty());
}

TEST_F(ComTest, EveryRowWritesBackUnchanged) {
  std::u16string path = buildCom();
  copy("com.msi", "before.msi");
  {
    auto package = MsiPackage::open(path, false);
    entity_test::WriteBackCheck check(*package);
    check.everyRow<Msi::MsiTypeLib>();
    check.everyRow<Msi::MsiAppId>();
    check.everyRow<Msi::MsiClass>();
    check.everyRow<Msi::MsiProgId>();
    check.everyRow<Msi::MsiIcon>();
    check.everyRow<Msi::MsiExtension>();
    check.everyRow<Msi::MsiVerb>();
    check.everyRow<Msi::MsiMIME>();
    EXPECT_EQ(check.checked(), 4u + 2 + 2 + 3 + 1 + 3 + 2 + 1);
    check.saveAll();
    package->commit();
  }
  EXPECT_EQ(diff("before.msi", "com.msi"), std::vector<std::string>{});
  EXPECT_EQ(run("msiinfo extract " + shellQuote(c("com.msi")) + " Icon.DemoIcon"), "ICONBYTES");
}

}  // namespace
