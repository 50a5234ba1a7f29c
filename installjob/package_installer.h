// The install job: prepares one package of the hotfix (finds it on disk or
// copies it out of an archive, checks the system and the installer engine,
// finds a patch's installed target), runs it (a database through the install
// driver, a patch through the engine, a program directly) and reports the
// outcome through a messenger; a successful patch records the hotfix's
// uninstall entry.
#pragma once

#include <cstdint>
#include <string>

#include "core/error.h"
#include "core/messenger.h"
#include "installjob/msidb.h"
#include "network/kblink.h"

namespace installjob {

enum PackageKind : std::uint32_t { Database = 0, Patch = 1, Program = 2, Unrecognised = 3 };
enum JobMode : std::uint32_t { MenuJob = 1, RedistributableJob = 2 };

// The product the hotfix updates.
inline constexpr char16_t kHotfixUpgradeCode[] = u"{6D2B7A4E-91C3-4F58-A0E7-3B5C8D19F264}";
inline constexpr std::uint32_t kHotfixMajor = 16, kHotfixMinor = 0, kHotfixBuild = 5555;

// A file to write: a folder (Windows path) and a name in it.
struct FileTarget {
  std::u16string folder;
  std::u16string name;
  std::u16string path() const;
};

// Where the job reads configuration strings (the product configuration by
// default); null for a missing one.
using ConfigLookup = const char16_t* (*)(const char* key);
void setConfigLookup(ConfigLookup lookup);
const char16_t* lookupConfig(const char* key);

// Starts a program package and waits for it: its exit code, or the Win32
// error when it cannot start. Replaceable so that exit codes beyond what a
// process here can return are reachable.
using ProgramRunner = std::uint32_t (*)(const std::u16string& path, bool wait);
void setProgramRunner(ProgramRunner runner);

class PackageInstaller {
 public:
  PackageInstaller(std::u16string packageName, JobMode mode);
  ~PackageInstaller();
  PackageInstaller(const PackageInstaller&) = delete;
  PackageInstaller& operator=(const PackageInstaller&) = delete;

  void setMessenger(Processor::Messenger* messenger) { messenger_ = messenger; }
  void setProgress(Processor::Progress* progress) { progress_ = progress; }
  void setCancelable(Processor::Cancelable* cancelable) { cancelable_ = cancelable; }
  void setPackageFile(std::u16string path) { packageFile_ = std::move(path); }

  bool restartChosen() const { return restartChosen_; }
  bool isAvailable();
  std::uint32_t prepare();
  // `extraProperties` follow the job's own properties unchanged (databases only).
  std::uint32_t run(bool wait, const char16_t* extraProperties);
  bool extract(const FileTarget& target);

  Common::Error resolvePatchTarget();
  Common::Error writeUninstallEntry(const std::u16string& displayName, const std::u16string& patchCode,
                                    const std::u16string& productCode);

  PackageKind kind() const { return kind_; }
  const std::u16string& packageName() const { return packageName_; }
  const std::u16string& packagePath() const { return packagePath_; }
  const std::u16string& productCode() const { return productCode_; }
  const std::u16string& tempFolder() const { return tempFolder_; }
  const std::u16string& commandLine() const { return commandLine_; }
  const std::u16string& logPath() const { return logPath_; }

 private:
  std::uint32_t installWindowsInstaller();
  std::uint32_t patchOutcome(std::uint32_t result, const std::u16string& patchCode);
  std::uint32_t commonTail(std::uint32_t result);
  void removeTemporaryCopy();

  std::u16string packageName_;
  std::u16string tempFolder_;  // empty when the package was found on disk
  std::u16string packagePath_;
  Processor::Progress* progress_ = nullptr;
  Processor::Messenger* messenger_ = nullptr;
  Processor::Cancelable* cancelable_ = nullptr;
  JobMode mode_;
  PackageKind kind_ = Unrecognised;
  std::u16string packageFile_;
  bool restartChosen_ = false;
  std::u16string productCode_;
  std::u16string commandLine_;
  std::u16string logPath_;
};

// Messages and error reports.
void reportInstallError(Processor::Messenger* messenger, const Processor::String& text, const Common::Error& error);
void attachErrorReport(const Common::Error& error, Processor::MessengerMessage& message);
KbLink::ProductInfo reportProductInfo();

// The installed product's language.
Common::Error checkInstalledLanguage(const std::u16string& productCode, bool& match, std::u16string& language);
std::uint32_t queryProductLanguage(msidb& database, std::u16string& value);
const char16_t* languageName(std::uint64_t number);

bool isNt4WithoutServicePack6();
// A GUID in braces, 38 characters: the only patch code the job accepts.
bool isBracedGuid(const std::u16string& text);

// The job's raise sites: 0xAD997C19 in the high half.
constexpr std::uint64_t jobSite(std::uint32_t low) { return 0xAD997C1900000000ull | low; }

}  // namespace installjob
