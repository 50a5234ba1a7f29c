// The package's authoring operations: what each adds or forgets, and the
// error each raises before changing anything.
#include <filesystem>
#include <functional>

#include "msi/entities/actions.h"
#include "msi/entities/cabinet.h"
#include "msi/entities/directory.h"
#include "msi/entities/registry.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/model_fixture.h"
#include "msi/model/package.h"

namespace {

constexpr std::uint32_t kPackageModule = 0x6e1fbba0;

class PackageAuthoring : public model_test::PackageWorld {
 protected:
  std::unique_ptr<Msi::MsiPackage> open() {
    std::filesystem::create_directories(c("pkg"));
    build("pkg/a.msi",
          {{"Property", propertyIdt({{"ProductName", "Authoring"}})},
           {"Directory", "Directory\tDirectory_Parent\tDefaultDir\ns72\tS72\tl255\nDirectory\tDirectory\n"
                         "TARGETDIR\t\tSourceDir\n"},
           {"Feature", "Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes\n"
                       "s38\tS38\tL64\tL255\tI2\ti2\tS72\ti2\nFeature\tFeature\n"
                       "Top\t\tTop\t\t2\t1\tTARGETDIR\t0\nChild\tTop\tChild\t\t4\t1\tTARGETDIR\t0\n"},
           {"Media", "DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource\ni2\ti4\tL64\tS255\tS32\tS72\n"
                     "Media\tDiskId\n1\t0\t\t#one.cab\t\t\n"}});
    put("src/helper.dll", "MZ helper");
    return Msi::MsiPackage::open(u"C:\\pkg\\a.msi", false);
  }
};

TEST_F(PackageAuthoring, ErrorsComeBeforeAnyChange) {
  auto package = open();
  Msi::MsiPackage* p = package.get();
  Msi::MsiBinary* dll = p->addDll(u"C:\\src\\helper.dll");
  Msi::MsiFeature stray(p, u"Stray", u"Stray", u"TARGETDIR");
  Msi::MsiComponent strayComponent(p);
  Msi::MsiDll strayDll(p, u"C:\\src\\other.dll");
  Msi::MsiCab strayCab(p, u"stray.cab", Msi::MsiCab::kDdfFileName);
  strayCab.setDiskId(u"9");
  struct Case {
    const char* what;
    std::function<void()> call;
    std::uint32_t number;
  } cases[] = {
      {"remove a feature the package does not list", [&] { p->removeFeature(&stray); }, 20},
      {"remove a component the package does not list", [&] { p->removeComponent(&strayComponent); }, 30},
      {"custom action on a DLL not in the package", [&] { p->addCustomActionDll(u"Run", &strayDll); }, 50},
      {"the same DLL twice", [&] { p->addDll(u"C:\\src\\helper.dll"); }, 51},
      {"embed no cabinet", [&] { p->embedCabinet(nullptr); }, 91},
      {"remove a cabinet the package does not list", [&] { p->removeCabinet(&strayCab); }, 91},
      {"a cabinet name in use (stored as #one.cab)", [&] { p->addCabinet(u"one.cab"); }, 92},
      {"the same name with #", [&] { p->addCabinet(u"#one.cab"); }, 92},
  };
  for (const Case& k : cases) {
    std::size_t features = p->featureKeys().size(), components = p->componentKeys().size(),
                binaries = p->binaryKeys().size(), cabinets = p->cabinetKeys().size(),
                actions = p->customActionKeys().size();
    try {
      k.call();
      ADD_FAILURE() << k.what;
    } catch (const Msi::Error& e) {
      EXPECT_EQ(e.code(), k.number) << k.what;
      EXPECT_EQ(e.module(), kPackageModule) << k.what;
    }
    EXPECT_EQ(p->featureKeys().size(), features) << k.what;
    EXPECT_EQ(p->componentKeys().size(), components) << k.what;
    EXPECT_EQ(p->binaryKeys().size(), binaries) << k.what;
    EXPECT_EQ(p->cabinetKeys().size(), cabinets) << k.what;
    EXPECT_EQ(p->customActionKeys().size(), actions) << k.what;
  }
  // The adds that succeed.
  EXPECT_EQ(p->findDll(dll->name()), dll);
  EXPECT_EQ(p->findDll(u"nothing"), nullptr);
  Msi::MsiCustomAction* action = p->addCustomActionDll(u"Run", dll);
  EXPECT_EQ(action->source(), dll->name());
  EXPECT_EQ(p->addCabinet(u"two.cab")->diskId(), u"2");
  EXPECT_EQ(p->addCabinet(u"three.cab")->diskId(), u"3");
  Msi::MsiFeature* plain = p->addFeature(u"Plain", u"Plain", nullptr);
  EXPECT_EQ(plain->directoryKey(), u"TARGETDIR");
}

TEST_F(PackageAuthoring, RemovesForgetObjectsAndKeepRows) {
  auto package = open();
  Msi::MsiPackage* p = package.get();
  Msi::MsiFeature* top = p->findFeature(u"Top");
  ASSERT_NE(top, nullptr);
  Msi::MsiFeature* made = p->addFeature(u"Made", u"Made", nullptr);
  Msi::MsiComponent* component = made->createFileComponent(u"{44444444-2222-3333-4444-555555555555}");
  std::u16string componentKey = component->key();
  p->removeComponent(component);
  EXPECT_FALSE(p->componentKeys().contains(componentKey));
  EXPECT_EQ(p->identityMap<Msi::MsiComponent>().find(componentKey), nullptr);
  EXPECT_FALSE(p->dropComponent(componentKey));

  // A feature goes with its children; their rows stay in the file.
  p->removeFeature(top);
  EXPECT_FALSE(p->featureKeys().contains(u"Top"));
  EXPECT_FALSE(p->featureKeys().contains(u"Child"));
  EXPECT_EQ(p->identityMap<Msi::MsiFeature>().find(u"Child"), nullptr);
  std::string features = exportTable("pkg/a.msi", "Feature");
  EXPECT_NE(features.find("Child\tTop"), std::string::npos);
}

TEST_F(PackageAuthoring, ComponentRefusedForItsKeyPathLeavesNoKeyBehind) {
  auto package = open();
  Msi::MsiPackage* p = package.get();
  Msi::MsiFeature* feature = p->addFeature(u"Main", u"Main", nullptr);
  Msi::MsiComponent* first = feature->createFileComponent(u"{55555555-2222-3333-4444-555555555555}");
  Msi::MsiFile* taken = p->find<Msi::MsiFile>(first->keyPath());
  Msi::MsiComponent* registry = feature->createRegistryComponent(u"{66666666-2222-3333-4444-555555555555}");
  Msi::MsiRegistry* value = p->find<Msi::MsiRegistry>(registry->keyPath());
  std::size_t components = p->componentKeys().size();
  struct Case {
    const char* what;
    std::function<void()> call;
    std::uint32_t number;
  } cases[] = {
      {"a file with a component",
       [&] { Msi::MsiComponent::createFile(p, u"{77777777-2222-3333-4444-555555555555}", taken, u"TARGETDIR"); },
       62},
      {"a registry value with a component",
       [&] {
         Msi::MsiComponent::createRegistry(p, u"{88888888-2222-3333-4444-555555555555}", value, u"TARGETDIR");
       },
       70},
  };
  for (const Case& k : cases) {
    try {
      k.call();
      ADD_FAILURE() << k.what;
    } catch (const Msi::Error& e) {
      EXPECT_EQ(e.code(), k.number) << k.what;
    }
    EXPECT_EQ(p->componentKeys().size(), components) << k.what;
  }
}

}  // namespace
