#include "installjob/package_installer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "installjob/job_fixture.h"
#include "platform/win32/windows.h"
#include "system/security.h"

namespace {

using installjob::PackageInstaller;
using job_test::ProductSpec;
using job_test::RecordingMessenger;
using Processor::MessageFlag::custom1;
using Processor::MessageFlag::no;

const char16_t kUninstall[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// A registry value read straight from the store (32-bit view), or "<absent>".
std::string regText(const std::u16string& key, const char16_t* name) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &h) != ERROR_SUCCESS)
    return "<no key>";
  BYTE data[2048];
  DWORD size = sizeof data, type = 0;
  LONG r = RegQueryValueExW(h, name, nullptr, &type, data, &size);
  RegCloseKey(h);
  if (r != ERROR_SUCCESS) return "<absent>";
  if (type == REG_DWORD) return "dword:" + std::to_string(*reinterpret_cast<DWORD*>(data));
  std::u16string s(reinterpret_cast<char16_t*>(data), size / 2);
  while (!s.empty() && s.back() == 0) s.pop_back();
  return msi_test::narrow(s);
}

void setRegText(const std::u16string& key, const char16_t* name, const std::u16string& value,
                REGSAM view = KEY_WOW64_32KEY) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                            &h, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * 2));
  RegCloseKey(h);
}

class JobTest : public job_test::JobWorld {
 protected:
  void SetUp() override {
    job_test::JobWorld::SetUp();
    messenger = Processor::makeRef<RecordingMessenger>();
    win32::record_shell_calls(true);
  }
  void TearDown() override {
    win32::record_shell_calls(false);
    messenger = nullptr;
    job_test::JobWorld::TearDown();
  }
  // The uninstall entry's settings: where the live-update installer lies.
  void configureUninstall() {
    job_test::config()["registry_settings"] = u"SOFTWARE\\Korvane\\Vazedi";
    job_test::config()["live_update_installer_path"] = u"LiveUpdateInstaller";
    setRegText(u"SOFTWARE\\Korvane\\Vazedi", u"LiveUpdateInstaller", u"C:\\Korvane\\lu.exe");
  }
  // Installs the hotfix's product in the given language.
  void installProduct(const std::string& language = "1") {
    ProductSpec spec;
    spec.language = language;
    product("vazedi.msi", spec);
    installDirectly("vazedi.msi");
  }
  std::uint32_t prepareAndRun(PackageInstaller& job, UINT expectedPrepare = 0) {
    job.setMessenger(messenger.get());
    job.setPackageFile(u"C:\\pkg\\hotfix_bundle.zip");
    UINT p = job.prepare();
    EXPECT_EQ(p, expectedPrepare);
    return p ? p : job.run(true, nullptr);
  }
  std::u16string entryKey() const { return kUninstall + std::u16string(job_test::widen(job_test::kPatchCode)); }

  Processor::RefPtr<RecordingMessenger> messenger;
};

// ---- the patch's target and language ---------------------------------------

TEST_F(JobTest, PatchNameFollowsTheInstalledLanguage) {
  struct Case {
    std::string language;
    const char* name;  // null: no name for it
  } cases[] = {{"22", "VDHM_Vazedi_uk_english.msp"}, {"1", "VDHM_Vazedi_english.msp"},
               {"0x11", "VDHM_Vazedi_thefrench.msp"}, {"2h", "VDHM_Vazedi_german.msp"}, {"3", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    installProduct(c.language);
    messenger->shown.clear();
    PackageInstaller job(u"VDHM_Vazedi_{0}.msp", installjob::MenuJob);
    job.setMessenger(messenger.get());
    Common::Error e = job.resolvePatchTarget();
    if (c.name) {
      EXPECT_FALSE(e);
      EXPECT_EQ(msi_test::narrow(job.packageName()), c.name);
      EXPECT_TRUE(messenger->shown.empty());
    } else {
      EXPECT_EQ(e.code(), 0x62001Cu);
      ASSERT_EQ(messenger->shown.size(), 1u);
      EXPECT_EQ(messenger->shown[0].details, "The update patch refers to a different language of the program.");
    }
    EXPECT_EQ(job.productCode(), braced(job_test::kProductCode));
    ASSERT_EQ(MsiInstallProductW(windowsPackage("vazedi.msi").c_str(), u"REMOVE=ALL"), 0u);
  }
  // A name without a placeholder stays as it is.
  installProduct("2");
  PackageInstaller plain(u"fix.msp", installjob::MenuJob);
  EXPECT_FALSE(plain.resolvePatchTarget());
  EXPECT_EQ(plain.packageName(), u"fix.msp");
}

TEST_F(JobTest, PatchWithoutItsProductStopsPreparationWithTheVersionMessage) {
  PackageInstaller job(u"VDHM_Vazedi_{0}.msp", installjob::MenuJob);
  EXPECT_EQ(prepareAndRun(job, 1603), 1603u);
  ASSERT_EQ(messenger->shown.size(), 1u);
  const auto& m = messenger->shown[0];
  EXPECT_EQ(m.errorCode, 0x620021u);
  EXPECT_EQ(m.flags, 0x80000031u | 0x4000000u);
  EXPECT_EQ(m.caption, "Error");
  EXPECT_EQ(m.text, "Installation failed");
  EXPECT_NE(m.details.find("This patch for Dovecrest 16.0.5555"), std::string::npos) << m.details;
  EXPECT_EQ(m.linkText.rfind("Event code: 0x00620021+", 0), 0u) << m.linkText;
  EXPECT_EQ(m.link.rfind("http://", 0), 0u);
  EXPECT_EQ(m.reportFields.at(8), "16.0");
  EXPECT_EQ(m.reportFields.at(9), "5555");
}

TEST_F(JobTest, InstalledLanguageFailuresCarryTheirCodes) {
  ProductSpec spec;
  spec.language = "";  // no MsigenProductLanguage row
  product("vazedi.msi", spec);
  installDirectly("vazedi.msi");
  bool match = true;
  std::u16string name;
  Common::Error e = installjob::checkInstalledLanguage(braced(job_test::kProductCode), match, name);
  EXPECT_EQ(e.code(), 0x620020u);
  EXPECT_EQ(e.cause().numberField("code"), 0x80070000u | 1620);  // the HRESULT of 1620
  EXPECT_FALSE(match);

  e = installjob::checkInstalledLanguage(u"{00000000-0000-0000-0000-000000000000}", match, name);
  EXPECT_EQ(e.code(), 0x62001Eu);
}

// ---- outcomes on the engine ------------------------------------------------

TEST_F(JobTest, AppliedPatchSaysCompleteAndWritesTheWholeUninstallEntry) {
  installProduct();
  configureUninstall();
  ASSERT_TRUE(job_test::buildPatch(unixPackage("fix.msp"), std::string("{") + job_test::kProductCode + "}"));
  PackageInstaller job(u"fix.msp", installjob::MenuJob);
  EXPECT_EQ(prepareAndRun(job), 0u);
  ASSERT_EQ(messenger->shown.size(), 1u);
  const auto& m = messenger->shown[0];
  EXPECT_EQ(m.flags, 0x80000022u);
  EXPECT_EQ(m.errorCode, 0u);
  EXPECT_EQ(m.caption, "Installation complete");
  EXPECT_EQ(m.text, "Installation complete");
  EXPECT_EQ(m.details, "Vazedi for Dovecrest 2013 successfully installed.");

  std::u16string key = entryKey();
  EXPECT_EQ(regText(key, u"DisplayName"), "Vazedi for Dovecrest 2013");
  EXPECT_EQ(regText(key, u"NoModify"), "dword:1");
  EXPECT_EQ(regText(key, u"NoRepair"), "dword:1");
  EXPECT_EQ(regText(key, u"ParentKeyName"), "Dovecrest 2013");
  EXPECT_EQ(regText(key, u"ParentDisplayName"), "Dovecrest 2013");
  EXPECT_EQ(regText(key, u"Publisher"), "Korvane");
  EXPECT_EQ(regText(key, u"UninstallString"),
            std::string("C:\\Korvane\\lu.exe ") + job_test::kPatchCode + " {" + job_test::kProductCode + "}");

  // The same patch again: already installed, nothing applied.
  messenger->shown.clear();
  msi_engine::clear_recorded_installs();
  PackageInstaller again(u"fix.msp", installjob::MenuJob);
  EXPECT_EQ(prepareAndRun(again), 0u);
  ASSERT_EQ(messenger->shown.size(), 1u);
  EXPECT_EQ(messenger->shown[0].details, "Vazedi for Dovecrest 2013 is already installed.");
  EXPECT_TRUE(msi_engine::recorded_installs().empty());
}

TEST_F(JobTest, PatchNeedingARestartAsksAndNoLeavesTheMachineRunning) {
  installProduct();
  configureUninstall();
  ASSERT_TRUE(
      job_test::buildPatch(unixPackage("fix.msp"), std::string("{") + job_test::kProductCode + "}", job_test::kPatchCode,
                           "3010"));
  messenger->answers = {no};
  PackageInstaller job(u"fix.msp", installjob::MenuJob);
  EXPECT_EQ(prepareAndRun(job), 3010u);
  ASSERT_EQ(messenger->shown.size(), 1u);
  EXPECT_EQ(messenger->shown[0].errorCode, 0x62001Bu);
  EXPECT_EQ(messenger->shown[0].flags, 0x183u);
  EXPECT_FALSE(job.restartChosen());
  EXPECT_TRUE(win32::shutdown_requests().empty());
  EXPECT_EQ(regText(entryKey(), u"Publisher"), "Korvane");
  auto calls = msi_engine::recorded_installs();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().commandLine, u" REINSTALLMODE=o ");
}

TEST_F(JobTest, RestartAnswerRequestsTheRestartAndEndsTheMenu) {
  installProduct();
  configureUninstall();
  ASSERT_TRUE(
      job_test::buildPatch(unixPackage("fix.msp"), std::string("{") + job_test::kProductCode + "}", job_test::kPatchCode,
                           "3010"));
  messenger->answers = {Processor::MessageFlag::restart};
  PackageInstaller job(u"fix.msp", installjob::MenuJob);
  EXPECT_EQ(prepareAndRun(job), 3010u);
  EXPECT_TRUE(job.restartChosen());
  EXPECT_EQ(win32::shutdown_requests(), std::vector<std::string>{"restart"});
}

// The patch code names the uninstall entry's key: a '\\' in it would write
// into the Uninstall key itself or below another key, so only a braced GUID
// is taken; anything else is refused before the patch is applied.
TEST_F(JobTest, PatchCodeThatIsNoBracedGuidIsRefusedAndWritesNoEntry) {
  installProduct();
  configureUninstall();
  setRegText(kUninstall, u"Other", u"kept");
  const std::string codes[] = {"\\", "a\\b", "{" + std::string(70, 'C') + "}",  // too long for its buffer
                               "{C0FFEE00-1234-4ABC-9DEF-00112233AAB}", "C0FFEE00-1234-4ABC-9DEF-00112233AABB",
                               "{C0FFEE00-1234-4ABC-9DEF-00112233AAB\\}", "{C0FFEE00x1234-4ABC-9DEF-00112233AABB}"};
  for (const std::string& code : codes) {
    SCOPED_TRACE(code);
    messenger->shown.clear();
    msi_engine::clear_recorded_installs();
    std::filesystem::remove_all(c("pkg/idt"));
    ASSERT_TRUE(job_test::buildPatch(unixPackage("fix.msp"), std::string("{") + job_test::kProductCode + "}", code));
    PackageInstaller job(u"fix.msp", installjob::MenuJob);
    EXPECT_EQ(prepareAndRun(job), 1636u);
    EXPECT_TRUE(msi_engine::recorded_installs().empty());  // never applied
    ASSERT_EQ(messenger->shown.size(), 1u);
    EXPECT_EQ(messenger->shown[0].errorCode, 0x620026u);
    EXPECT_EQ(messenger->shown[0].text, "Installation failed");
    EXPECT_NE(messenger->shown[0].details.find("This update package could not be opened"), std::string::npos)
        << messenger->shown[0].details;
    EXPECT_EQ(regText(kUninstall, u"DisplayName"), "<absent>");
    EXPECT_EQ(regText(kUninstall, u"UninstallString"), "<absent>");
    EXPECT_EQ(regText(kUninstall + std::u16string(u"a"), u"DisplayName"), "<no key>");
    EXPECT_EQ(regText(kUninstall, u"Other"), "kept");
  }
  // The entry itself refuses such codes too, whoever asks.
  PackageInstaller entry(u"fix.msp", installjob::MenuJob);
  for (const char16_t* code : {u"\\", u"a\\b", u"", u"{AAAA}"})
    EXPECT_EQ(entry.writeUninstallEntry(u"Vazedi", code, u"{P}").code(), 0x620027u);
  EXPECT_EQ(regText(kUninstall, u"DisplayName"), "<absent>");
  EXPECT_EQ(regText(kUninstall + std::u16string(u"a"), u"DisplayName"), "<no key>");
  EXPECT_TRUE(installjob::isBracedGuid(u"{c0ffee00-1234-4abc-9def-00112233aabb}"));
}

// A package that is neither on disk nor in a bundle beside it: the user is
// told it is missing, not that it is for another language.
TEST_F(JobTest, MissingPackageSaysSo) {
  std::filesystem::create_directories(c("pkg"));
  PackageInstaller job(u"gone.msi", installjob::MenuJob);
  job.setMessenger(messenger.get());
  job.setPackageFile(u"C:\\pkg\\gone.msi");
  EXPECT_EQ(job.prepare(), 1603u);
  ASSERT_EQ(messenger->shown.size(), 1u);
  EXPECT_EQ(messenger->shown[0].details, "C:\\pkg\\gone.msi: The system cannot find the file specified.");
  EXPECT_TRUE(msi_engine::recorded_installs().empty());
}

TEST_F(JobTest, PatchForAProductThatIsNotThereGives1642WithTheVersionMessage) {
  installProduct();
  ASSERT_TRUE(job_test::buildPatch(unixPackage("fix.msp"), "{0BADF00D-0000-4000-8000-000000000000}"));
  PackageInstaller job(u"fix.msp", installjob::MenuJob);
  EXPECT_EQ(prepareAndRun(job), 1642u);
  ASSERT_EQ(messenger->shown.size(), 1u);
  EXPECT_EQ(messenger->shown[0].errorCode, 0x620021u);
  EXPECT_NE(messenger->shown[0].details.find("16.0.5555"), std::string::npos);
  EXPECT_EQ(regText(entryKey(), u"Publisher"), "<no key>");
}

TEST_F(JobTest, FailedDatabaseShowsTheErrorAndViewLogOpensTheLog) {
  ::setenv("KV_MSI_FORCED_RESULT", "vazedi.msi=1603", 1);
  product("vazedi.msi");
  messenger->answers = {custom1};
  PackageInstaller job(u"vazedi.msi", installjob::MenuJob);
  EXPECT_EQ(prepareAndRun(job), 1603u);
  ASSERT_EQ(messenger->shown.size(), 1u);
  const auto& m = messenger->shown[0];
  EXPECT_EQ(m.errorCode, 0x62001Au);
  EXPECT_EQ(m.flags, 0x80001031u);
  EXPECT_EQ(m.buttonTexts, "View log");
  EXPECT_EQ(m.text, "The error was encountered while the installation.");
  EXPECT_NE(m.details.find("#1603: \""), std::string::npos) << m.details;
  auto shell = win32::recorded_shell_calls();
  ASSERT_EQ(shell.size(), 1u);
  EXPECT_EQ(shell[0].verb, u"open");
  EXPECT_EQ(shell[0].file, u"install_log.txt");
  EXPECT_NE(get("install_log.txt").find("MainEngineThread is returning 1603"), std::string::npos);
}

TEST_F(JobTest, ProgramExitCodesChooseTheirMessages) {
  put("pkg/setup.exe", "#!/bin/sh\nexit 0\n");
  struct Case {
    std::uint32_t exitCode;
    std::uint32_t flags;  // of the one message, 0 for none
    const char* details;
  } cases[] = {
      {1001, 0x80000001u, "Please remove old version of the product and try again."},
      {5, 0x80000031u, "#5: \""},  // no log: no "View log" button
      {1641, 0, ""},
      {0, 0, ""},
  };
  static std::uint32_t exitCode;
  installjob::setProgramRunner([](const std::u16string&, bool) { return exitCode; });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exitCode);
    exitCode = c.exitCode;
    messenger->shown.clear();
    PackageInstaller job(u"setup.exe", installjob::MenuJob);
    EXPECT_EQ(prepareAndRun(job), c.exitCode);
    if (!c.flags) {
      EXPECT_TRUE(messenger->shown.empty());
      continue;
    }
    ASSERT_EQ(messenger->shown.size(), 1u);
    EXPECT_EQ(messenger->shown[0].flags, c.flags);
    EXPECT_EQ(messenger->shown[0].buttonTexts, "");
    EXPECT_NE(messenger->shown[0].details.find(c.details), std::string::npos) << messenger->shown[0].details;
  }
}

TEST_F(JobTest, MissingEngineAndNoEndsPreparationWith1602) {
  actAsAdministrator(true);
  ::setenv("KV_MSI_ENGINE_VERSION", "absent", 1);
  product("vazedi.msi");
  messenger->answers = {no};
  PackageInstaller job(u"vazedi.msi", installjob::MenuJob);
  // Someone who is no administrator is refused before any redistributable.
  const UINT expected = Windows::isAdministrator(0) ? 1602u : 1314u;
  EXPECT_EQ(prepareAndRun(job, expected), expected);
  ASSERT_EQ(messenger->shown.size(), 1u);
  EXPECT_EQ(messenger->shown[0].errorCode, 0x620018u);
  EXPECT_EQ(messenger->shown[0].flags, 0xD3u);
  EXPECT_EQ(messenger->shown[0].text, "Windows Installer is not present");
  EXPECT_TRUE(msi_engine::recorded_installs().empty());
}

TEST_F(JobTest, DatabaseCommandLineWithAndWithoutTheAbsKey) {
  product("vazedi.msi");
  PackageInstaller plain(u"vazedi.msi", installjob::MenuJob);
  EXPECT_EQ(prepareAndRun(plain), 0u);  // no "registry_abs_settings": installs all the same
  EXPECT_EQ(plain.commandLine(), u" REBOOT=ReallySuppress BOOTSTRAP_EXE=\"C:\\pkg\\hotfix_bundle.zip\" ");
  EXPECT_TRUE(std::filesystem::exists(c("Program Files/Vazedi/help.txt")));
  EXPECT_TRUE(plain.tempFolder().empty());  // used where it lies
  EXPECT_EQ(plain.packagePath(), u"C:\\pkg\\vazedi.msi");
  EXPECT_EQ(plain.logPath(), u"install_log.txt");

  job_test::config()["registry_abs_settings"] = u"SOFTWARE\\Korvane\\ABS";
  setRegText(u"SOFTWARE\\Korvane\\ABS", u"x", u"y", 0);  // the default view
  PackageInstaller abs(u"vazedi.msi", installjob::MenuJob);
  abs.setMessenger(messenger.get());
  abs.setPackageFile(u"C:\\pkg\\hotfix_bundle.zip");
  ASSERT_EQ(abs.prepare(), 0u);
  EXPECT_EQ(abs.run(true, u"CUSTOM_XML=\"C:\\Temp\\\u00e9t\u00e9\\custom.xml\""), 0u);
  EXPECT_EQ(abs.commandLine(), u" REBOOT=ReallySuppress  ABS_INSTALL=1 BOOTSTRAP_EXE=\"C:\\pkg\\hotfix_bundle.zip\" "
                               u"CUSTOM_XML=\"C:\\Temp\\\u00e9t\u00e9\\custom.xml\"");
  auto calls = msi_engine::recorded_installs();
  ASSERT_FALSE(calls.empty());
  EXPECT_NE(calls.back().commandLine.find(u"\u00e9t\u00e9"), std::u16string::npos);  // stays wide to the engine
}

// ---- package kinds, archives, the uninstall entry's faults -----------------

TEST_F(JobTest, KindsAreRecognisedIgnoringCaseAndAnUnknownKindIsAnError) {
  struct Case {
    const char16_t* name;
    installjob::PackageKind kind;
  } cases[] = {{u"a.MSI", installjob::Database}, {u"a.Msp", installjob::Patch}, {u"a.EXE", installjob::Program}};
  installProduct();
  for (const Case& c : cases) {
    PackageInstaller job(c.name, installjob::MenuJob);
    job.prepare();
    EXPECT_EQ(job.kind(), c.kind) << msi_test::narrow(c.name);
  }
  PackageInstaller unknown(u"readme.txt", installjob::MenuJob);
  unknown.setMessenger(messenger.get());
  messenger->shown.clear();
  EXPECT_EQ(unknown.prepare(), 1620u);
  EXPECT_EQ(unknown.kind(), installjob::Unrecognised);
  EXPECT_EQ(messenger->shown.size(), 1u);
}

TEST_F(JobTest, PackageOnlyInTheBundleIsCopiedToAFreshFolderAndRemovedAfterTheRun) {
  installProduct();
  configureUninstall();
  ASSERT_TRUE(job_test::buildPatch(c("staging/fix.msp"), std::string("{") + job_test::kProductCode + "}"));
  int st;
  msi_test::run("cd " + msi_test::quote(c("staging")) + " && zip -q " + msi_test::quote(c("pkg/hotfix_bundle.zip")) +
                    " fix.msp",
                &st);
  ASSERT_EQ(st, 0);

  PackageInstaller job(u"fix.msp", installjob::MenuJob);
  job.setMessenger(messenger.get());
  job.setPackageFile(u"C:\\pkg\\hotfix_bundle.zip");
  ASSERT_EQ(job.prepare(), 0u);
  std::u16string folder = job.tempFolder();
  ASSERT_FALSE(folder.empty());
  std::string copy = win32::to_unix_path(job.packagePath().c_str());
  EXPECT_EQ(msi_test::readFile(copy), msi_test::readFile(c("staging/fix.msp")));
  EXPECT_EQ(job.run(true, nullptr), 0u);
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_FALSE(std::filesystem::exists(win32::to_unix_path(folder.c_str())));

  // Extraction to a chosen file; a member the bundle lacks copies nothing.
  std::filesystem::create_directories(c("out"));
  PackageInstaller extractor(u"fix.msp", installjob::MenuJob);
  extractor.setPackageFile(u"C:\\pkg\\hotfix_bundle.zip");
  EXPECT_TRUE(extractor.isAvailable());
  EXPECT_TRUE(extractor.extract({u"C:\\out", u"saved.msp"}));
  EXPECT_EQ(get("out/saved.msp"), msi_test::readFile(c("staging/fix.msp")));
  PackageInstaller missing(u"other.msp", installjob::MenuJob);
  missing.setPackageFile(u"C:\\pkg\\hotfix_bundle.zip");
  missing.setMessenger(messenger.get());
  EXPECT_FALSE(missing.isAvailable());
  messenger->shown.clear();
  EXPECT_FALSE(missing.extract({u"C:\\out", u"other.msp"}));
  EXPECT_FALSE(std::filesystem::exists(c("out/other.msp")));
  ASSERT_EQ(messenger->shown.size(), 1u);
  EXPECT_EQ(messenger->shown[0].details, "The update patch refers to a different language of the program.");
}

TEST_F(JobTest, UninstallEntryIsWholeOrAbsentAndAnEmptyPatchCodeWritesNothing) {
  PackageInstaller job(u"fix.msp", installjob::MenuJob);
  configureUninstall();
  setRegText(kUninstall, u"Other", u"kept");
  Common::Error e = job.writeUninstallEntry(u"Vazedi", u"", u"{P}");
  EXPECT_EQ(e.code(), 0x620027u);
  EXPECT_EQ(regText(kUninstall, u"DisplayName"), "<absent>");
  EXPECT_EQ(regText(kUninstall, u"UninstallString"), "<absent>");

  // The installer path's value is missing: no entry at all.
  job_test::config()["live_update_installer_path"] = u"NoSuchValue";
  e = job.writeUninstallEntry(u"Vazedi", u"{AAAA}", u"{P}");
  EXPECT_EQ(e.code(), 0x620027u);
  EXPECT_EQ(regText(kUninstall + std::u16string(u"{AAAA}"), u"DisplayName"), "<no key>");

  job_test::config().erase("registry_settings");
  EXPECT_EQ(job.writeUninstallEntry(u"Vazedi", u"{AAAA}", u"{P}").code(), 0x620027u);
  EXPECT_EQ(regText(kUninstall + std::u16string(u"{AAAA}"), u"DisplayName"), "<no key>");
}

TEST_F(JobTest, PreparationFailsWhenTheTemporaryFolderCannotBeMade) {
  ASSERT_TRUE(SetEnvironmentVariableW(u"TMP", u"C:\\no\\such\\folder"));
  ASSERT_TRUE(SetEnvironmentVariableW(u"TEMP", u"C:\\no\\such\\folder"));
  PackageInstaller job(u"absent.msi", installjob::MenuJob);
  job.setPackageFile(u"C:\\pkg\\hotfix_bundle.zip");
  std::filesystem::create_directories(c("pkg"));
  EXPECT_EQ(job.prepare(), 1603u);
  EXPECT_TRUE(job.tempFolder().empty());
  SetEnvironmentVariableW(u"TMP", nullptr);
  SetEnvironmentVariableW(u"TEMP", nullptr);
}

TEST_F(JobTest, WindowsNt4PassesWithServicePack6AsLaterSystemsDo) {
  for (const char* system : {"nt4", "2000", "10"}) {
    ::setenv("KV_WINDOWS_VERSION", system, 1);
    EXPECT_FALSE(installjob::isNt4WithoutServicePack6()) << system;
  }
  ::unsetenv("KV_WINDOWS_VERSION");
}

}  // namespace

namespace {

// Keeps every progress record; raises the cancel flag at the record given.
class ProgressLog final : public Processor::Progress {
 public:
  bool report(const Processor::ProgressInfo& info) override {
    texts.push_back(msi_test::narrow(std::u16string(reinterpret_cast<const char16_t*>(info.text.getBuffer()),
                                                    static_cast<std::size_t>(info.text.length()))));
    percents.push_back(info.value);
    if (cancel && texts.size() == cancelAt) cancel->cancel();
    return true;
  }
  std::vector<std::string> texts;
  std::vector<std::uint32_t> percents;
  Processor::Cancelable* cancel = nullptr;
  std::size_t cancelAt = 0;
};

class Extraction : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    // Stored, so that the member's bytes stand in the bundle as they are.
    std::string body(300000, 'x');
    body.replace(150000, 13, "MIDDLE-MARKER");
    std::filesystem::create_directories(c("staging"));
    std::filesystem::create_directories(c("out"));
    std::filesystem::create_directories(c("pkg"));
    std::ofstream(c("staging/big.msp"), std::ios::binary) << body;
    int st = 0;
    msi_test::run("cd " + msi_test::quote(c("staging")) + " && zip -q -0 " +
                      msi_test::quote(c("pkg/hotfix_bundle.zip")) + " big.msp",
                  &st);
    ASSERT_EQ(st, 0);
    expected_ = body;
  }
  bool extract(Processor::Progress* progress, Processor::Cancelable* cancel) {
    PackageInstaller job(u"big.msp", installjob::MenuJob);
    job.setPackageFile(u"C:\\pkg\\hotfix_bundle.zip");
    job.setMessenger(messenger.get());
    job.setProgress(progress);
    job.setCancelable(cancel);
    return job.extract({u"C:\\out", u"big.msp"});
  }
  std::string expected_;
};

TEST_F(Extraction, CopiesWithProgressAndLeavesNoPartialFileWhenCancelledOrBroken) {
  ProgressLog progress;
  Processor::Cancelable flag;
  ASSERT_TRUE(extract(&progress, &flag));
  EXPECT_EQ(get("out/big.msp"), expected_);
  ASSERT_GE(progress.texts.size(), 4u);  // one before the copy, one for each of its three chunks
  for (const std::string& t : progress.texts) EXPECT_EQ(t, "File copying...");
  EXPECT_TRUE(messenger->shown.empty());

  // Cancelled after the first chunk: nothing is left, and nothing is said.
  std::filesystem::remove(c("out/big.msp"));
  ProgressLog cancelling;
  Processor::Cancelable raised;
  cancelling.cancel = &raised;
  cancelling.cancelAt = 2;
  EXPECT_FALSE(extract(&cancelling, &raised));
  EXPECT_FALSE(std::filesystem::exists(c("out/big.msp")));
  EXPECT_TRUE(messenger->shown.empty());

  // A member whose data no longer matches its checksum fails to read at its
  // end: the user is told, and the copy made so far goes again.
  std::string bundle = msi_test::readFile(c("pkg/hotfix_bundle.zip"));
  const std::size_t marker = bundle.find("MIDDLE-MARKER");
  ASSERT_NE(marker, std::string::npos);
  bundle[marker] = 'm';
  std::ofstream(c("pkg/hotfix_bundle.zip"), std::ios::binary | std::ios::trunc) << bundle;
  EXPECT_FALSE(extract(nullptr, nullptr));
  EXPECT_FALSE(std::filesystem::exists(c("out/big.msp")));
  ASSERT_EQ(messenger->shown.size(), 1u);
  EXPECT_EQ(messenger->shown[0].errorCode, 0x1006Fu);
  EXPECT_EQ(messenger->shown[0].text, "Failed to read the file.");
}

}  // namespace
