// The merge-module object through late binding: a module made by msibuild
// (with a cabinet made by gcab) merged into a wixl package, checked with
// msiinfo and msiextract.
#include "platform/msi/merge_module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/msi/msi_fixture.h"
#include "platform/win32/windows.h"

using msi_test::quote;
using msi_test::run;

namespace {

// One late-bound object, called by name.
class Auto {
 public:
  explicit Auto(IDispatch* d = nullptr) : d_(d) {}
  Auto(Auto&& o) noexcept : d_(o.d_) { o.d_ = nullptr; }
  Auto(const Auto&) = delete;
  ~Auto() {
    if (d_) d_->Release();
  }
  IDispatch* get() const { return d_; }

  // Arguments in call order; the result in `out` (cleared by the caller).
  HRESULT call(const char16_t* name, std::vector<VARIANT> args, VARIANT* out = nullptr, WORD flags = DISPATCH_METHOD,
               EXCEPINFO* exception = nullptr) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = d_->GetIDsOfNames(IID_NULL, names, 1, 0x0800, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    hr = d_->Invoke(id, IID_NULL, GetUserDefaultLCID(), flags, &params, out, exception, nullptr);
    for (VARIANT& v : reversed) VariantClear(&v);
    return hr;
  }
  Auto object(const char16_t* name, std::vector<VARIANT> args = {}) {
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(call(name, std::move(args), &out, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK) << "object";
    EXPECT_EQ(out.vt, VT_DISPATCH);
    return Auto(out.vt == VT_DISPATCH ? out.pdispVal : nullptr);
  }
  LONG number(const char16_t* name) {
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(call(name, {}, &out, DISPATCH_PROPERTYGET), S_OK);
    VARIANT n;
    VariantInit(&n);
    EXPECT_EQ(VariantChangeType(&n, &out, 0, VT_I4), S_OK);
    VariantClear(&out);
    return n.lVal;
  }
  std::string text(const char16_t* name, std::vector<VARIANT> args = {}) {
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(call(name, std::move(args), &out, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
    std::string s = out.vt == VT_BSTR ? win32::utf16_to_utf8(std::u16string(out.bstrVal, SysStringLen(out.bstrVal)))
                                      : "<not text>";
    VariantClear(&out);
    return s;
  }

 private:
  IDispatch* d_;
};

VARIANT str(const char16_t* s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}
VARIANT i2(SHORT n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I2;
  v.iVal = n;
  return v;
}
VARIANT yes() {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = -1;
  return v;
}
VARIANT i4(LONG n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

const char kModFileKey[] = "ModFile.6A0F2C1E";
const std::string kBinary("\x00\x01" "binary\xff", 9);

struct ModuleSpec {
  std::string extraTables;  // "Property" rows, when not empty
  bool withCabinet = true;
  std::string language = "1033";
  std::size_t cabinetBytes = std::string::npos;  // cut the cabinet to this size
};

class MergeModule : public msi_test::PackageWorld {
 protected:
  void SetUp() override {
    msi_test::PackageWorld::SetUp();
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    msi_test::PackageWorld::TearDown();
  }

  // A module with one component, one file in its cabinet, a directory under
  // TARGETDIR, a custom action sequenced after InstallFiles.
  std::string buildModule(const ModuleSpec& spec, const std::string& name = "mod.msm") {
    const std::string path = unixPackage(name);
    const std::string lang = spec.language;
    std::vector<msi_test::Idt> tables = {
        {"ModuleSignature.idt", "ModuleID\tLanguage\tVersion\ns72\ti2\ts32\nModuleSignature\tModuleID\tLanguage\n"
                                "Mod.6A0F2C1E\t" + lang + "\t1.0.0\n"},
        {"ModuleComponents.idt", "Component\tModuleID\tLanguage\ns72\ts72\ti2\nModuleComponents\tComponent\tModuleID\t"
                                 "Language\nModComp.6A0F2C1E\tMod.6A0F2C1E\t" + lang + "\n"},
        {"Component.idt", "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\n"
                          "s72\tS38\ts72\ti2\tS255\tS72\nComponent\tComponent\n"
                          "ModComp.6A0F2C1E\t{44444444-5555-6666-7777-888888888888}\tModDir.6A0F2C1E\t0\t\t" +
                              std::string(kModFileKey) + "\n"},
        {"Directory.idt", "Directory\tDirectory_Parent\tDefaultDir\ns72\tS72\tl255\nDirectory\tDirectory\n"
                          "TARGETDIR\t\tSourceDir\nModDir.6A0F2C1E\tTARGETDIR\tModDir\n"},
        {"File.idt", "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n"
                     "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\nFile\tFile\n" +
                         std::string(kModFileKey) + "\tModComp.6A0F2C1E\tmodfile.txt\t12\t\t\t512\t1\n"},
        {"CustomAction.idt", "Action\tType\tSource\tTarget\ns72\ti2\tS72\tS255\nCustomAction\tAction\n"
                             "ModAction.6A0F2C1E\t51\tModProp\t1\n"},
        {"ModuleInstallExecuteSequence.idt",
         "Action\tSequence\tBaseAction\tAfter\tCondition\ns72\tI2\tS72\tI2\tS255\nModuleInstallExecuteSequence\tAction\n"
         "ModAction.6A0F2C1E\t\tInstallFiles\t1\tNOT Installed\nInstallFiles\t4000\t\t\t\n"},
    };
    if (!spec.extraTables.empty())
      tables.push_back({"Property.idt", "Property\tValue\ns72\tl0\nProperty\tProperty\n" + spec.extraTables});
    EXPECT_TRUE(msi_test::buildIdtPackage(path, tables)) << "msibuild";
    // A table with a stream column: msibuild reads the stream from Binary/ beside the table.
    const std::string idt = c("binidt");
    msi_test::writeFile(idt + "/Binary/ModBin.ibd", kBinary);
    msi_test::writeFile(idt + "/Binary.idt", "Name\tData\ns72\tv0\nBinary\tName\nModBin.6A0F2C1E\tModBin.ibd\n");
    int built = -1;
    run("cd " + quote(idt) + " && msibuild " + quote(path) + " -i Binary.idt", &built);
    EXPECT_EQ(built, 0) << "msibuild Binary";
    if (spec.withCabinet) {
      const std::string folder = c("modsrc");
      msi_test::writeFile(folder + "/" + kModFileKey, "module file\n");
      int st = -1;
      run("cd " + quote(folder) + " && gcab -c -z -n ../mod.cab " + quote(kModFileKey), &st);
      EXPECT_EQ(st, 0) << "gcab";
      if (spec.cabinetBytes != std::string::npos)
        msi_test::writeFile(c("mod.cab"), msi_test::readFile(c("mod.cab")).substr(0, spec.cabinetBytes));
      run("msibuild " + quote(path) + " -a MergeModule.CABinet " + quote(c("mod.cab")), &st);
      EXPECT_EQ(st, 0) << "msibuild -a";
    }
    return path;
  }

  Auto create() {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"Msm.Merge2.1", &clsid), S_OK);
    IDispatch* d = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    return Auto(d);
  }

  // The whole road the package model takes; the result of Merge.
  HRESULT mergeInto(const std::u16string& package, const std::u16string& module, const char16_t* feature,
                    const char16_t* directory, Auto& merger, SHORT language = 1033) {
    EXPECT_EQ(merger.call(u"OpenDatabase", {str(package.c_str())}), S_OK);
    EXPECT_EQ(merger.call(u"OpenModule", {str(module.c_str()), i2(language)}), S_OK);
    return merger.call(u"Merge", {str(feature), str(directory)});
  }
  void close(Auto& merger) {
    EXPECT_EQ(merger.call(u"CloseModule", {}), S_OK);
    EXPECT_EQ(merger.call(u"CloseDatabase", {yes()}), S_OK);
  }
  static bool has(std::string text, const std::string& line) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
  }
  // The Sequence of each action in an exported sequence table.
  static std::map<std::string, int> sequenceOf(const std::string& text) {
    std::map<std::string, int> out;
    std::istringstream in(text);
    std::string line;
    for (int n = 0; std::getline(in, line); ++n) {
      if (n < 3) continue;
      const std::size_t a = line.find('\t'), b = line.rfind('\t');
      if (a != std::string::npos && b != a) out[line.substr(0, a)] = std::atoi(line.c_str() + b + 1);
    }
    return out;
  }
  // Every table of a package as msiinfo exports it.
  static std::string dump(const std::string& msi) {
    std::string all;
    for (const char* t : {"Component", "Directory", "File", "FeatureComponents", "Media", "Property",
                          "InstallExecuteSequence", "CustomAction"})
      all += msi_test::exportTable(msi, t);
    return all + run("msiinfo streams " + quote(msi));
  }
};

TEST_F(MergeModule, MergesTablesFilesAndSequencesUnderTheFeature) {
  const std::string pkg = buildWix();
  const std::string mod = buildModule({"ModProp\t1\n"});
  const std::string moduleBefore = msi_test::readFile(mod);
  Auto merger = create();
  ASSERT_EQ(mergeInto(windowsPackage("demo.msi"), windowsPackage("mod.msm"), u"Complete", u"INSTALLDIR", merger),
            S_OK);
  EXPECT_EQ(merger.object(u"Errors").number(u"Count"), 0);
  close(merger);

  EXPECT_EQ(msi_test::readFile(mod), moduleBefore);
  const std::string tables = run("msiinfo tables " + quote(pkg));
  EXPECT_EQ(tables.find("ModuleSignature"), std::string::npos) << tables;
  EXPECT_EQ(tables.find("ModuleComponents"), std::string::npos) << tables;
  EXPECT_EQ(tables.find("ModuleInstallExecuteSequence"), std::string::npos) << tables;
  const std::string component = msi_test::exportTable(pkg, "Component");
  EXPECT_TRUE(has(component, "ModComp.6A0F2C1E\t{44444444-5555-6666-7777-888888888888}\tModDir.6A0F2C1E\t0\t\t" +
                                 std::string(kModFileKey)))
      << component;
  const std::string directory = msi_test::exportTable(pkg, "Directory");
  EXPECT_TRUE(has(directory, "ModDir.6A0F2C1E\tINSTALLDIR\tModDir")) << directory;
  EXPECT_TRUE(has(directory, "TARGETDIR\t\tSourceDir")) << directory;
  EXPECT_TRUE(has(msi_test::exportTable(pkg, "FeatureComponents"), "Complete\tModComp.6A0F2C1E"));
  EXPECT_TRUE(has(msi_test::exportTable(pkg, "Property"), "ModProp\t1"));
  // The package's table has a later column than the module's: it stays empty.
  EXPECT_TRUE(has(msi_test::exportTable(pkg, "CustomAction"), "ModAction.6A0F2C1E\t51\tModProp\t1\t"));
  EXPECT_EQ(run("msiinfo extract " + quote(pkg) + " Binary.ModBin.6A0F2C1E"), kBinary);
  // The wixl package holds two files in cabinet 1: the module's file comes third,
  // in a new cabinet stream of the package.
  const std::string file = msi_test::exportTable(pkg, "File");
  EXPECT_TRUE(has(file, std::string(kModFileKey) + "\tModComp.6A0F2C1E\tmodfile.txt\t12\t\t\t512\t3")) << file;
  const std::string media = msi_test::exportTable(pkg, "Media");
  EXPECT_TRUE(has(media, "1\t2\t\t#demo.cab\t\t")) << media;
  EXPECT_TRUE(has(media, "2\t3\t\t#merged2.cab\t\t")) << media;
  const std::string cab = run("msiinfo extract " + quote(pkg) + " merged2.cab");
  msi_test::writeFile(c("merged2.cab"), cab);
  EXPECT_EQ(run("gcab -t " + quote(c("merged2.cab"))), std::string(kModFileKey) + "\n");
  // Placed after InstallFiles, before the action that followed it, condition kept.
  const std::string sequence = msi_test::exportTable(pkg, "InstallExecuteSequence");
  const auto numbers = sequenceOf(sequence);
  ASSERT_TRUE(numbers.count("ModAction.6A0F2C1E")) << sequence;
  const int placed = numbers.at("ModAction.6A0F2C1E");
  EXPECT_GT(placed, 4000);
  EXPECT_EQ(numbers.at("InstallFiles"), 4000);
  for (const auto& [action, number] : numbers)
    if (action != "ModAction.6A0F2C1E") {
      EXPECT_TRUE(number <= 4000 || number > placed) << action;
    }
  EXPECT_NE(sequence.find("ModAction.6A0F2C1E\tNOT Installed\t"), std::string::npos) << sequence;
  // The files as an independent installer-package reader lays them out.
  const std::string out = c("extracted");
  int st = -1;
  run("msiextract -C " + quote(out) + " " + quote(pkg), &st);
  EXPECT_EQ(st, 0);
  const std::string found = run("cd " + quote(out) + " && find . -name modfile.txt");
  ASSERT_FALSE(found.empty()) << run("cd " + quote(out) + " && find .");
  EXPECT_NE(found.find("Demo/ModDir/modfile.txt"), std::string::npos) << found;
  EXPECT_EQ(msi_test::readFile(out + "/" + found.substr(2, found.size() - 3)), "module file\n");
  EXPECT_EQ(run("cd " + quote(out) + " && find . -name readme.txt | wc -l"), "1\n");
}

TEST_F(MergeModule, ConflictingRowsBecomeErrorRecordsAndTheOthersStillMerge) {
  const std::string pkg = buildWix();
  buildModule({"ModProp\t1\nProductShortName\tOther\n"});
  Auto merger = create();
  EXCEPINFO exception{};
  ASSERT_EQ(merger.call(u"OpenDatabase", {str(windowsPackage("demo.msi").c_str())}), S_OK);
  ASSERT_EQ(merger.call(u"OpenModule", {str(windowsPackage("mod.msm").c_str()), i2(1033)}), S_OK);
  EXPECT_EQ(merger.call(u"Merge", {str(u"Complete"), str(u"INSTALLDIR")}, nullptr, DISPATCH_METHOD, &exception),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, E_FAIL);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);

  Auto errors = merger.object(u"Errors");
  ASSERT_EQ(errors.number(u"Count"), 1);
  Auto error = errors.object(u"Item", {i4(1)});
  EXPECT_EQ(error.number(u"Type"), msmErrorTableMerge);
  EXPECT_EQ(error.text(u"DatabaseTable"), "Property");
  EXPECT_EQ(error.text(u"ModuleTable"), "Property");
  EXPECT_EQ(error.number(u"Language"), 1033);
  EXPECT_EQ(error.text(u"Path"), "");
  Auto keys = error.object(u"DatabaseKeys");
  ASSERT_EQ(keys.number(u"Count"), 1);
  EXPECT_EQ(keys.text(u"Item", {i4(0)}), "ProductShortName");
  EXPECT_EQ(error.object(u"ModuleKeys").text(u"Item", {i4(0)}), "ProductShortName");
  // Past the ends of the lists.
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(errors.call(u"Item", {i4(2)}, &out), DISP_E_BADINDEX);
  EXPECT_EQ(errors.call(u"Item", {i4(0)}, &out), DISP_E_BADINDEX);
  EXPECT_EQ(keys.call(u"Item", {i4(1)}, &out), DISP_E_BADINDEX);
  close(merger);

  const std::string property = msi_test::exportTable(pkg, "Property");
  EXPECT_TRUE(has(property, "ProductShortName\tDemo")) << property;
  EXPECT_TRUE(has(property, "ModProp\t1")) << property;
  EXPECT_TRUE(has(msi_test::exportTable(pkg, "FeatureComponents"), "Complete\tModComp.6A0F2C1E"));
  EXPECT_TRUE(has(msi_test::exportTable(pkg, "Media"), "2\t3\t\t#merged2.cab\t\t"));
}

TEST_F(MergeModule, AModuleThatCannotMergeWholeChangesNothing) {
  struct Case {
    const char* what;
    ModuleSpec spec;
    const char16_t* feature;
    const char16_t* directory;
    int type;
    const char* table;
  } cases[] = {
      {"no such feature", {}, u"Missing", u"INSTALLDIR", msmErrorFeatureRequired, "Feature"},
      {"no such directory", {}, u"Complete", u"NOWHERE", msmErrorTableMerge, "Directory"},
      {"file missing from the cabinet", {"", false}, u"Complete", u"INSTALLDIR", msmErrorFileCreate, "File"},
      {"damaged cabinet", {"", true, "1033", 60}, u"Complete", u"INSTALLDIR", msmErrorFileCreate, "File"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string pkg = buildWix();
    buildModule(k.spec);
    const std::string before = dump(pkg);
    Auto merger = create();
    EXPECT_EQ(mergeInto(windowsPackage("demo.msi"), windowsPackage("mod.msm"), k.feature, k.directory, merger),
              DISP_E_EXCEPTION);
    Auto errors = merger.object(u"Errors");
    ASSERT_EQ(errors.number(u"Count"), 1);
    Auto error = errors.object(u"Item", {i4(1)});
    EXPECT_EQ(error.number(u"Type"), k.type);
    EXPECT_EQ(error.text(u"DatabaseTable"), k.table);
    close(merger);
    EXPECT_EQ(dump(pkg), before);
    std::filesystem::remove(pkg);
    std::filesystem::remove(unixPackage("mod.msm"));
  }
}

TEST_F(MergeModule, ALanguageOtherThanTheModulesIsRefused) {
  buildWix();
  buildModule({});
  Auto merger = create();
  ASSERT_EQ(merger.call(u"OpenDatabase", {str(windowsPackage("demo.msi").c_str())}), S_OK);
  EXPECT_EQ(merger.call(u"OpenModule", {str(windowsPackage("mod.msm").c_str()), i2(1031)}), DISP_E_EXCEPTION);
  Auto error = merger.object(u"Errors").object(u"Item", {i4(1)});
  EXPECT_EQ(error.number(u"Type"), msmErrorLanguageUnsupported);
  EXPECT_EQ(error.number(u"Language"), 1033);
  // Neutral asks take any module.
  EXPECT_EQ(merger.call(u"OpenModule", {str(windowsPackage("mod.msm").c_str()), i2(0)}), S_OK);
  close(merger);
}

TEST_F(MergeModule, LateBindingAnswersAsAutomationDoes) {
  Auto merger = create();
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"merge")};
  EXPECT_EQ(merger.get()->GetIDsOfNames(IID_NULL, names, 1, 0x0800, &id), S_OK);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"ExtractEverything")};
  EXPECT_EQ(merger.get()->GetIDsOfNames(IID_NULL, unknown, 1, 0x0800, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  EXPECT_EQ(merger.call(u"OpenDatabase", {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(merger.call(u"OpenDatabase", {i4(3)}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(merger.call(u"Merge", {str(u"F"), str(u"D")}), DISP_E_EXCEPTION);  // nothing open
  EXPECT_EQ(merger.call(u"OpenDatabase", {str(u"C:\\pkg\\none.msi")}), DISP_E_EXCEPTION);
  EXPECT_EQ(merger.call(u"CloseDatabase", {yes()}), DISP_E_EXCEPTION);
  // Unknown ProgIDs and unregistered ones answer as Windows does.
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(u"Msm.Merge9.9", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"msm.merge2.1", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_MsmMerge2));
}

}  // namespace
