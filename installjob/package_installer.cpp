#include "installjob/package_installer.h"

#include <memory>

#include "core/catalogue.h"
#include "core/file_identifier.h"
#include "core/message_format.h"
#include "core/resource_archive.h"
#include "core/utilities.h"
#include "files/file_object.h"
#include "files/windows_dir.h"
#include "files/zip_file.h"
#include "installjob/driver.h"
#include "platform/msi/engine.h"
#include "platform/win32/windows.h"
#include "system/machine.h"
#include "system/regkey.h"
#include "system/registry.h"
#include "system/trace.h"
#include "xml/product_configuration.h"

namespace installjob {

namespace {

ConfigLookup configLookup = &Common::getConfigString;

std::uint32_t runProgram(const std::u16string& path, bool wait) {
  std::u16string line = u"\"" + path + u"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return GetLastError();
  DWORD code = 0;
  if (wait) {
    WaitForSingleObject(process.hProcess, INFINITE);
    if (!GetExitCodeProcess(process.hProcess, &code)) code = GetLastError();
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code;
}

ProgramRunner programRunner = &runProgram;

bool endsWithIgnoringCase(const std::u16string& name, const char16_t* suffix) {
  std::u16string s = suffix;
  if (name.size() < s.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (win32::upcase(name[name.size() - s.size() + i]) != win32::upcase(s[i])) return false;
  return true;
}

std::u16string folderOf(const std::u16string& path) {
  std::size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::u16string(u".\\") : path.substr(0, slash + 1);
}

std::u16string programFile() {
  std::u16string buf(1024, u'\0');
  DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  buf.resize(n < buf.size() ? n : 0);
  return buf;
}

bool fileOpens(const std::u16string& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool folderOpens(const std::u16string& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::u16string guidText() {
  UUID id{};
  UuidCreate(&id);
  static const char16_t digits[] = u"0123456789ABCDEF";
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&id);
  // Data1..Data3 are little-endian numbers, the rest bytes in order.
  int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::u16string out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += u'-';
    out += digits[b[order[i]] >> 4];
    out += digits[b[order[i]] & 15];
  }
  return out;
}

// Copies an archive member to the target with the copy routine's progress,
// cancelling and failure messages; a copy that does not complete leaves no
// partial file.
bool copyMember(ri_file* member, const FileTarget& target, Processor::Messenger* messenger,
                Processor::Progress* progress, Processor::Cancelable* cancel) {
  if (!member) return false;
  std::unique_ptr<ri_file> in(member);
  std::unique_ptr<ri_dir> opened(current_dir()->open_dir(target.folder.empty() ? u"." : target.folder.c_str()));
  auto* folder = dynamic_cast<rio_dir*>(opened.get());
  if (!folder) return false;
  Processor::FileIdentifier file(folder, Processor::String(target.name.c_str()));
  std::unique_ptr<ro_file> out(file.create());
  if (!out) return false;
  const bool copied = Processor::copyFileReporting(out.get(), in.get(), 2, messenger, progress, cancel);
  out.reset();
  if (!copied) {
    folder->remove_file(target.name.c_str());
    folder->clear_error();
  }
  return copied;
}

Processor::String win32Text(std::uint32_t code, std::uint32_t low) {
  return Processor::formatWin32Error(code, jobSite(low));
}

bool fileExists(const std::u16string& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool isBracedGuid(const std::u16string& text) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const char16_t c = text[i];
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (c != u'-') return false;
    } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) {
      return false;
    }
  }
  return true;
}

std::u16string FileTarget::path() const {
  if (folder.empty()) return name;
  return folder.back() == u'\\' || folder.back() == u'/' ? folder + name : folder + u"\\" + name;
}

void setConfigLookup(ConfigLookup lookup) { configLookup = lookup ? lookup : &Common::getConfigString; }
const char16_t* lookupConfig(const char* key) { return configLookup(key); }
void setProgramRunner(ProgramRunner runner) { programRunner = runner ? runner : &runProgram; }

bool isNt4WithoutServicePack6() {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (!GetVersionExA(&v)) return false;
  if (v.dwPlatformId != VER_PLATFORM_WIN32_NT || v.dwMajorVersion != 4 || v.dwMinorVersion != 0) return false;
  std::size_t length = strnlen(v.szCSDVersion, sizeof v.szCSDVersion);
  return length < 14 || v.szCSDVersion[13] != '6';
}

PackageInstaller::PackageInstaller(std::u16string packageName, JobMode mode)
    : packageName_(std::move(packageName)), mode_(mode) {}

PackageInstaller::~PackageInstaller() { removeTemporaryCopy(); }

void PackageInstaller::removeTemporaryCopy() {
  if (tempFolder_.empty()) return;
  DeleteFileW(FileTarget{tempFolder_, packageName_}.path().c_str());
  RemoveDirectoryW(tempFolder_.c_str());
  tempFolder_.clear();
}

bool PackageInstaller::isAvailable() {
  if (zip_file* archive = Common::programArchive()) {
    std::unique_ptr<ri_file> member(archive->open_file(packageName_.c_str(), false));
    if (member) return true;
  }
  if (!packageFile_.empty()) {
    std::unique_ptr<Common::ResourceAccessor> accessor(Common::ResourceAccessor::create(packageFile_.c_str()));
    std::unique_ptr<ri_file> member(accessor ? accessor->open(packageName_.c_str()) : nullptr);
    return member != nullptr;
  }
  return false;
}

std::uint32_t PackageInstaller::prepare() {
  if (isNt4WithoutServicePack6()) {
    if (!messenger_) return 1610;
    Processor::MessengerMessage m;
    m.errorCode = 0x620018;
    m.flags = 0x80000002;
    m.text = Common::catalogueText(1653, u"Cannot install the Korvane product.");
    m.details = Processor::formatMessage2(
        Common::catalogueText(1652,
                                 u"Cannot install the product on Windows NT 4.0 without Service Pack 6. Please "
                                 u"install Service Pack 6, and then restart Korvane Setup program."),
        Processor::Variant(std::uint32_t(1610)), Processor::Variant(win32Text(1610, 1)));
    messenger_->show(m);
    return 1610;
  }

  if (endsWithIgnoringCase(packageName_, u".msi"))
    kind_ = Database;
  else if (endsWithIgnoringCase(packageName_, u".exe"))
    kind_ = Program;
  else if (endsWithIgnoringCase(packageName_, u".msp"))
    kind_ = Patch;
  else
    kind_ = Unrecognised;
  if (kind_ == Unrecognised) {
    // Nothing could install it: say so rather than report success.
    reportInstallError(messenger_, win32Text(ERROR_INSTALL_PACKAGE_INVALID, 3), Common::Error());
    return ERROR_INSTALL_PACKAGE_INVALID;
  }

  if (kind_ == Patch) {
    Common::Error error = resolvePatchTarget();
    if (error.code() != 0) {
      Common::traceError(4, error);
      return ERROR_INSTALL_FAILURE;
    }
  }

  std::u16string search = folderOf(packageFile_.empty() ? programFile() : packageFile_);
  if (!folderOpens(search)) return ERROR_PATH_NOT_FOUND;
  std::u16string onDisk = FileTarget{search, packageName_}.path();
  if (fileOpens(onDisk)) {
    packagePath_ = onDisk;
  } else {
    WCHAR temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    std::u16string folder = n && n < MAX_PATH ? std::u16string(temp, n) : std::u16string();
    if (!folder.empty() && folder.back() != u'\\') folder += u'\\';
    folder += guidText() + u"\\";
    // Without the folder there is nothing to install from.
    if (n == 0 || n >= MAX_PATH || !CreateDirectoryW(folder.c_str(), nullptr)) return ERROR_INSTALL_FAILURE;
    tempFolder_ = folder;
    if (!extract(FileTarget{tempFolder_, packageName_})) {
      removeTemporaryCopy();
      return ERROR_INSTALL_FAILURE;
    }
    packagePath_ = FileTarget{tempFolder_, packageName_}.path();
  }

  if (kind_ == Database && mode_ == MenuJob) {
    InstallerEngine engine(200, u"", false);
    std::uint32_t r = engine.ensure();
    if (r != ERROR_SUCCESS) {
      if (messenger_) {
        Processor::MessengerMessage q;
        q.errorCode = 0x620018;
        q.flags = 0xD3;
        q.text = Common::catalogueText(1651, u"Windows Installer is not present");
        q.details = Common::catalogueText(
            1650,
            u"Windows Installer is not installed on your system. This service is required for proceeding "
            u"installation.\nDo you want to install it now?");
        if (messenger_->show(q) != Processor::MessageFlag::yes) {
          removeTemporaryCopy();
          return r;
        }
      }
      std::uint32_t e = installWindowsInstaller();
      if (e != ERROR_SUCCESS) {
        if (messenger_ && e != ERROR_SUCCESS_REBOOT_INITIATED) {
          Processor::MessengerMessage m;
          m.errorCode = 0x620019;
          m.flags = 0x80000011;
          m.text = Common::catalogueText(1649, u"Windows Installer was not installed correctly.");
          m.details = Processor::formatMessage2(
              Common::catalogueText(1648,
                                       u"You cannot continue installation until Windows Installer is installed.\n"
                                       u"Korvane installation program encountered the error "
                                       u"#{0,number,integer,####}: \"{1}\""),
              Processor::Variant(e), Processor::Variant(win32Text(e, 4)));
          messenger_->show(m);
        }
        removeTemporaryCopy();
        return e;
      }
    }
  }
  return ERROR_SUCCESS;
}

std::uint32_t PackageInstaller::installWindowsInstaller() {
  const char16_t* name = (GetVersion() & 0x80000000u) ? u"instmsia.exe" : u"instmsiw.exe";
  PackageInstaller nested(name, RedistributableJob);
  nested.setProgress(progress_);
  nested.setMessenger(messenger_);
  std::uint32_t r = nested.prepare();
  if (r == ERROR_SUCCESS) r = nested.run(true, nullptr);
  return r;
}

std::uint32_t PackageInstaller::run(bool wait, const char16_t* extraProperties) {
  std::uint32_t result = ERROR_SUCCESS;
  switch (kind_) {
    case Program:
      result = programRunner(packagePath_, wait);
      return commonTail(result);
    case Patch: {
      std::u16string patchCode;
      readPackageCode(packagePath_, patchCode);
      // The code becomes a registry key's name: a '\\' in it would name the
      // Uninstall key itself or keys below another's.
      if (!isBracedGuid(patchCode)) {
        Common::Error e(jobSite(0x28), 0x620026);
        e.setWin32Cause(ERROR_PATCH_PACKAGE_INVALID);
        reportInstallError(messenger_, win32Text(ERROR_PATCH_PACKAGE_INVALID, 7), e);
        removeTemporaryCopy();
        return ERROR_PATCH_PACKAGE_INVALID;
      }
      if (!patchCode.empty() && MsiGetPatchInfoW(patchCode.c_str(), u"LocalPackage", nullptr, nullptr) == 0) {
        reportInstallError(messenger_,
                           Common::catalogueText(1886, u"Vazedi for Dovecrest 2013 is already installed."),
                           Common::Error());
        removeTemporaryCopy();
        return ERROR_SUCCESS;
      }
      result = MsiApplyPatchW(packagePath_.c_str(), nullptr, INSTALLTYPE_DEFAULT, u" REINSTALLMODE=o ");
      return patchOutcome(result, patchCode);
    }
    case Database: {
      InstallDriver driver;
      driver.setPackage(packagePath_);
      driver.setMode(InstallDriver::Install, u"");
      std::u16string line = u" REBOOT=ReallySuppress ";
      const char16_t* abs = lookupConfig("registry_abs_settings");
      if (abs && Windows::Registry(HKEY_LOCAL_MACHINE, 0).checkKey(abs, 0, false)) line += u" ABS_INSTALL=1 ";
      if (!packageFile_.empty()) line += u"BOOTSTRAP_EXE=\"" + packageFile_ + u"\" ";
      if (extraProperties) line += extraProperties;
      commandLine_ = line;
      driver.extraProperties = line;
      result = driver.install();
      logPath_ = driver.logPath.empty() ? u"install_log.txt" : driver.logPath;
      return commonTail(result);
    }
    case Unrecognised:
      break;
  }
  return commonTail(ERROR_INSTALL_PACKAGE_INVALID);
}

std::uint32_t PackageInstaller::patchOutcome(std::uint32_t r, const std::u16string& patchCode) {
  if (r == ERROR_SUCCESS || r == ERROR_SUCCESS_REBOOT_REQUIRED || r == ERROR_SUCCESS_REBOOT_INITIATED) {
    Common::Error e =
        writeUninstallEntry(Common::catalogueText(1982, u"Vazedi for Dovecrest 2013"), patchCode, productCode_);
    if (e.code() != 0) Common::traceError(3, e);
    if (messenger_ && r == ERROR_SUCCESS) {
      Processor::MessengerMessage m;
      m.flags = 0x80000022;
      m.caption = Common::catalogueText(480, u"Installation complete");
      m.text = m.caption;
      m.details = Common::catalogueText(1885, u"Vazedi for Dovecrest 2013 successfully installed.");
      messenger_->show(m);
    }
    return commonTail(r);
  }
  if (r == ERROR_INSTALL_USEREXIT || !messenger_) return commonTail(r);
  if (r == ERROR_PATCH_TARGET_NOT_FOUND) {
    Common::Error e(jobSite(0x22), 0x620021);
    reportInstallError(
        messenger_,
        Processor::formatMessage3(
            Common::catalogueText(1892,
                                     u"The program being updated may be missing or the update patch refers to a "
                                     u"different version of the program. This patch for Dovecrest "
                                     u"{0}.{1}.{2,number,integer,####}"),
            Processor::Variant(kHotfixMajor), Processor::Variant(kHotfixMinor), Processor::Variant(kHotfixBuild)),
        e);
    removeTemporaryCopy();
    return r;
  }
  Common::Error e(jobSite(0x26), 0x620026);
  e.setWin32Cause(r);
  reportInstallError(messenger_, Common::catalogueText(1894, u"Unknown error"), e);
  removeTemporaryCopy();
  return r;
}

std::uint32_t PackageInstaller::commonTail(std::uint32_t result) {
  removeTemporaryCopy();
  if (result == ERROR_SUCCESS || !messenger_) return result;
  if (result != ERROR_INSTALL_USEREXIT && result != ERROR_SUCCESS_REBOOT_REQUIRED &&
      result != ERROR_SUCCESS_REBOOT_INITIATED && result != 1001) {
    Processor::MessengerMessage m;
    m.errorCode = 0x62001A;
    m.text = Common::catalogueText(1087, u"The error was encountered while the installation.");
    if (result == ERROR_PRODUCT_VERSION) {
      m.details = Common::catalogueText(
          1656,
          u"Another version of this product is already installed. Installation of this version cannot be "
          u"continued. In <bold>Control Panel</bold>, open <bold>Add/Remove Programs</bold> to configure or remove "
          u"the existing version of this product.");
    } else {
      m.details = Processor::formatMessage2(
          Common::catalogueText(1086,
                                   u"Korvane installation program encountered the error #{0,number,integer,####}: "
                                   u"\"{1}\"\nA possible reason might be that you do not have enough privileges. "
                                   u"Please check the installation troubleshooting section of the product "
                                   u"documentation."),
          Processor::Variant(result), Processor::Variant(win32Text(result, 5)));
    }
    // "View log" only when there is a log to open.
    if (!logPath_.empty()) {
      m.flags = 0x80001031;
      m.buttonTexts = Common::catalogueText(1090, u"View log");
    } else {
      m.flags = 0x80000031;
    }
    if (messenger_->show(m) == Processor::MessageFlag::custom1 && !logPath_.empty())
      ShellExecuteW(nullptr, u"open", logPath_.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
  if (result == ERROR_SUCCESS_REBOOT_REQUIRED) {
    Processor::MessengerMessage q;
    q.errorCode = 0x62001B;
    q.flags = 0x183;
    q.text = Common::catalogueText(
        1654,
        u"You must restart your system for the configuration changes made by the installation program to take "
        u"effect. Click <bold>Reboot</bold> to restart now or <bold>No</bold> if you plan to manually restart "
        u"later.");
    if (messenger_->show(q) == Processor::MessageFlag::restart) {
      Windows::restartSystem(false);
      restartChosen_ = true;
    }
  }
  if (result == 1001) {
    Processor::MessengerMessage m;
    m.errorCode = 0x62001A;
    m.flags = 0x80000001;
    m.text = Common::catalogueText(1087, u"The error was encountered while the installation.");
    m.details = Common::catalogueText(
        2148, u"Please remove old version of the product and try again. For more information, see Installation "
              u"Guide.");
    messenger_->show(m);
  }
  return result;
}

Common::Error PackageInstaller::writeUninstallEntry(const std::u16string& displayName, const std::u16string& patchCode,
                                                    const std::u16string& productCode) {
  const char16_t* failed = Common::catalogueText(693, u"Failed to create custom uninstall registry key.");
  auto failure = [&](const Common::Error& cause) {
    Common::Error e(jobSite(0x27), 0x620027, failed);
    if (cause) e.setCause(cause);
    return e;
  };
  // Anything but a GUID could name the Uninstall key itself or nest keys.
  if (!isBracedGuid(patchCode)) {
    Common::Error e = failure(Common::Error());
    Common::traceError(3, e);
    return e;
  }
  // Everything is read before anything is written, so the entry is whole or absent.
  const char16_t* settings = lookupConfig("registry_settings");
  const char16_t* valueName = lookupConfig("live_update_installer_path");
  if (!settings || !valueName) return failure(Common::Error());
  std::unique_ptr<Common::RegKey> settingsKey;
  Common::Error error = Common::openRegKey(settingsKey, HKEY_LOCAL_MACHINE, settings, true, Common::View32);
  if (error) return failure(error);
  std::unique_ptr<Common::RegValue> value;
  error = settingsKey->existingValue(valueName, value);
  if (error) return failure(error);
  Common::RegValue::Data data;
  error = value->read(data, false);
  if (error) return failure(error);
  const std::u16string* installer = boost::get<std::u16string>(&data);
  if (!installer) return failure(Common::Error());

  std::unique_ptr<Common::RegKey> root;
  error = Common::openRegRoot(root, HKEY_LOCAL_MACHINE, false, Common::View32);
  if (error) return failure(error);
  const std::u16string entryPath = std::u16string(u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + patchCode;
  std::unique_ptr<Common::RegKey> entry;
  error = root->createKey(entryPath, entry);
  if (error) return failure(error);
  const char16_t* parent = Common::catalogueText(506, u"Dovecrest 2013");
  struct Row {
    const char16_t* name;
    Common::RegValue::Data data;
  } rows[] = {
      {u"DisplayName", displayName},
      {u"NoModify", std::uint32_t(1)},
      {u"NoRepair", std::uint32_t(1)},
      {u"ParentKeyName", std::u16string(parent)},
      {u"ParentDisplayName", std::u16string(parent)},
      {u"Publisher", std::u16string(Common::catalogueText(275, u"Korvane"))},
      {u"UninstallString", *installer + u" " + patchCode + u" " + productCode},
  };
  for (const Row& row : rows) {
    std::unique_ptr<Common::RegValue> v;
    entry->value(row.name, v);
    error = v ? v->write(row.data, false) : failure(Common::Error());
    if (error) {
      root->deleteKey(entryPath);
      return failure(error);
    }
  }
  return {};
}

bool PackageInstaller::extract(const FileTarget& target) {
  if (!packageFile_.empty()) {
    std::unique_ptr<Common::ResourceAccessor> accessor(Common::ResourceAccessor::create(packageFile_.c_str()));
    ri_file* member = accessor ? accessor->open(packageName_.c_str()) : nullptr;
    if (!member && !fileExists(packageFile_) && !fileExists(Common::archiveDatPath(packageFile_.c_str()))) {
      // Neither the package nor a bundle holding it is there: say that, not
      // that the bundle is for another language.
      WCHAR why[256];
      DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               ERROR_FILE_NOT_FOUND, 0, why, 256, nullptr);
      while (n && (why[n - 1] == u'\n' || why[n - 1] == u'\r' || why[n - 1] == u' ')) --n;
      std::u16string text = packageFile_ + u": " + std::u16string(why, n);
      reportInstallError(messenger_, Processor::String(text.c_str()), Common::Error());
      return false;
    }
    if (!member) {
      reportInstallError(messenger_,
                         Common::catalogueText(1895,
                                                  u"The update patch refers to a different language of the program."),
                         Common::Error());
      return false;
    }
    return copyMember(member, target, messenger_, progress_, cancelable_);
  }
  zip_file* archive = Common::programArchive();
  if (!archive) return false;
  // The program's own archive is copied without a cancel flag.
  return copyMember(archive->open_file(packageName_.c_str(), false), target, messenger_, progress_, nullptr);
}

}  // namespace installjob
