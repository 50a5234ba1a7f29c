// Packages of the hotfix's product built at test time with wixl and msibuild,
// a messenger that records every message and answers from a script, and the
// job's configuration strings. Header-only; for tests.
#pragma once

#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/messenger.h"
#include "installjob/package_installer.h"
#include "platform/msi/engine.h"
#include "platform/msi/msi_fixture.h"
#include "platform/win32/windows.h"

namespace job_test {

inline std::u16string u16(const Processor::String& s) {
  return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}
inline std::string text(const Processor::String& s) { return msi_test::narrow(u16(s)); }
inline std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// The hotfix's product: the upgrade code the job looks for.
inline const char kProductCode[] = "5A1F0C3B-7E24-4D9A-8B61-2C9E4F7A0D13";
inline const char kPatchCode[] = "{C0FFEE00-1234-4ABC-9DEF-00112233AABB}";

struct ProductSpec {
  std::string packageCode = "11111111-AAAA-4BBB-8CCC-000000000001";
  std::string productCode = kProductCode;
  std::string version = "16.0.5555";
  std::string edition = "1";
  std::string language = "1";  // MsigenProductLanguage; empty leaves it out
  std::string forcedResult;     // KvForcedResult, empty for none
};

inline std::string productWxs(const ProductSpec& s) {
  std::string upgrade(installjob::kHotfixUpgradeCode + 1, installjob::kHotfixUpgradeCode + 37);
  std::string language =
      s.language.empty() ? "" : "    <Property Id=\"MsigenProductLanguage\" Value=\"" + s.language + "\"/>\n";
  std::string forced =
      s.forcedResult.empty() ? "" : "    <Property Id=\"KvForcedResult\" Value=\"" + s.forcedResult + "\"/>\n";
  return R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id=")" + s.productCode + R"(" Name="Vazedi" Language="1033" Version=")" + s.version + R"("
           Manufacturer="Korvane" UpgradeCode=")" + upgrade + R"(">
    <Package Id=")" + s.packageCode + R"(" InstallerVersion="200" Compressed="yes" Description="Vazedi"/>
    <Media Id="1" Cabinet="vazedi.cab" EmbedCab="yes"/>
    <Property Id="MsigenProductEdition" Value=")" + s.edition + R"("/>
)" + language + forced + R"(    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Vazedi">
          <Component Id="Main" Guid="21111111-2222-3333-4444-555555555555">
            <File Id="MainExe" Name="vazedi.exe" Source="vazedi.exe" KeyPath="yes"/>
          </Component>
          <Component Id="Help" Guid="32222222-3333-4444-5555-666666666666">
            <File Id="HelpFile" Name="help.txt" Source="help.txt" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Core" Title="Core" Description="The program" Level="1">
      <ComponentRef Id="Main"/>
    </Feature>
    <Feature Id="Docs" Title="Docs" Description="The help" Level="1">
      <ComponentRef Id="Help"/>
    </Feature>
  </Product>
</Wix>
)";
}

inline bool buildProduct(const std::string& msi, const ProductSpec& spec) {
  std::filesystem::path dir = std::filesystem::path(msi).parent_path() / ("wix-" + spec.packageCode);
  msi_test::writeFile((dir / "p.wxs").string(), productWxs(spec));
  msi_test::writeFile((dir / "vazedi.exe").string(), "MZ vazedi " + spec.version);
  msi_test::writeFile((dir / "help.txt").string(), "Help for " + spec.version + "\n");
  int st;
  msi_test::run("cd " + msi_test::quote(dir.string()) + " && wixl -o " + msi_test::quote(msi) + " p.wxs", &st);
  return st == 0;
}

// A patch package: its summary's template names the target, its revision
// number is the patch code.
inline bool buildPatch(const std::string& msp, const std::string& target, const std::string& patchCode = kPatchCode,
                       const std::string& forcedResult = "") {
  std::string props = "Property\tValue\ns72\tl0\nProperty\tProperty\nPatchName\tVazedi hotfix\n";
  if (!forcedResult.empty()) props += "KvForcedResult\t" + forcedResult + "\n";
  msi_test::SummarySpec spec;
  spec.templ = target;
  spec.revision = patchCode;
  return msi_test::buildIdtPackage(msp, {{"Property.idt", props}}, spec);
}

// Records every message; answers from a queue (0 when it runs dry).
class RecordingMessenger final : public Processor::Messenger {
 public:
  struct Shown {
    std::uint32_t errorCode, flags;
    std::string text, details, caption, buttonTexts, linkText, link;
    std::map<std::uint32_t, std::string> reportFields;
  };
  std::vector<Shown> shown;
  std::deque<std::uint32_t> answers;

  std::uint32_t show(const Processor::MessengerMessage& m) override {
    shown.push_back({m.errorCode, m.flags, text(m.text), text(m.details), text(m.caption), text(m.buttonTexts),
                     text(m.linkText), text(m.link), m.reportFields});
    if (answers.empty()) return 0;
    std::uint32_t a = answers.front();
    answers.pop_front();
    return a;
  }
  void close(std::uint32_t) override {}
  void closeAll() override {}
};

// The job's configuration strings, set per test.
inline std::map<std::string, std::u16string>& config() {
  static std::map<std::string, std::u16string> values;
  return values;
}
inline const char16_t* configLookup(const char* key) {
  auto it = config().find(key);
  return it == config().end() ? nullptr : it->second.c_str();
}

class JobWorld : public msi_test::PackageWorld {
 protected:
  void SetUp() override {
    msi_test::PackageWorld::SetUp();
    ::unsetenv("KV_MSI_FORCED_RESULT");
    ::unsetenv("KV_MSI_ENGINE_VERSION");
    msi_engine::clear_recorded_installs();
    config().clear();
    installjob::setConfigLookup(&configLookup);
    installjob::setProgramRunner(nullptr);
    installjob::setMsiApiLogPath(u"C:\\msiapi.log");
  }
  void TearDown() override {
    installjob::setConfigLookup(nullptr);
    installjob::setProgramRunner(nullptr);
    MsiEnableLogW(0, nullptr, 0);
    ::unsetenv("KV_MSI_FORCED_RESULT");
    ::unsetenv("KV_MSI_ENGINE_VERSION");
    installjob::setMsiApiLogPath(u"C:/WORK/project/inst_supp/msigen/msiapi.log");
    win32::set_process_token(nullptr);
    msi_test::PackageWorld::TearDown();
  }
  // The process acts as a member of the administrators (or not), whoever runs the test.
  static void actAsAdministrator(bool admin) {
    auto token = std::make_shared<win32::TokenData>(*win32::default_process_token());
    const win32::SidBytes admins = win32::sid_from_text("S-1-5-32-544");
    for (auto& group : token->groups)
      if (group.first == admins)
        group.second = admin ? SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED
                             : SE_GROUP_USE_FOR_DENY_ONLY;
    win32::set_process_token(token);
  }
  std::string product(const std::string& name, const ProductSpec& spec = ProductSpec()) {
    std::string path = unixPackage(name);
    EXPECT_TRUE(buildProduct(path, spec)) << "wixl failed";
    return path;
  }
  // Installs a package straight through the engine.
  void installDirectly(const std::string& name) {
    ASSERT_EQ(MsiInstallProductW(windowsPackage(name).c_str(), u""), 0u);
  }
  static std::u16string braced(const std::string& code) { return u"{" + widen(code) + u"}"; }
};

}  // namespace job_test
