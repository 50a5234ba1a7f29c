#include "installjob/driver.h"

#include <new>

#include "platform/msi/engine.h"
#include "platform/win32/windows.h"
#include "system/machine.h"
#include "system/number_text.h"
#include "system/security.h"

#ifndef CREATE_DEFAULT_ERROR_MODE
#define CREATE_DEFAULT_ERROR_MODE 0x04000000
#endif

namespace {
constexpr UINT kPrivilegeNotHeld = 1314;
constexpr UINT kPackageVersionTooOld = 1613;
constexpr UINT kBadPathname = 161;
constexpr UINT kModuleNotFound = 126;
}  // namespace

namespace installjob {

namespace {

std::vector<std::u16string> splitBlanks(const std::u16string& s) {
  std::vector<std::u16string> out;
  std::u16string cur;
  for (char16_t c : s) {
    if (c == u' ') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

std::u16string quoted(const std::u16string& name) { return u"`" + name + u"`"; }

// Keeps the interface level of the caller on every road.
class UiLevelScope {
 public:
  explicit UiLevelScope(INSTALLUILEVEL level) : previous_(MsiSetInternalUI(level, nullptr)) {}
  ~UiLevelScope() { MsiSetInternalUI(previous_, nullptr); }

 private:
  INSTALLUILEVEL previous_;
};

UINT programPath(std::u16string& path) {
  try {
    for (DWORD size = 260;; size += 260) {
      std::u16string buf(size, u'\0');
      SetLastError(0);
      DWORD n = GetModuleFileNameW(nullptr, buf.data(), size);
      if (n == 0) return GetLastError() ? GetLastError() : ERROR_INVALID_FUNCTION;
      if (n < size) {
        path.assign(buf.data(), n);
        return ERROR_SUCCESS;
      }
    }
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

std::u16string installedLocalPackage(const std::u16string& productCode) {
  WCHAR buf[260];
  DWORD n = 260;
  if (MsiGetProductInfoW(productCode.c_str(), u"LocalPackage", buf, &n) != ERROR_SUCCESS) return {};
  return std::u16string(buf, n);
}

// Loads the engine at `path`; its version from the file, else from the layer's
// engine (its msi.dll carries no version resource here). 0 when not present.
HMODULE loadEngine(const std::u16string& path, DWORD& version) {
  version = msi_engine::engine_file_version();
  if (version == 0) return nullptr;
  HMODULE h = LoadLibraryW(path.c_str());
  if (!h) return nullptr;
  DWORD most = 0;
  if (Windows::getFileVersion(path.c_str(), &most, nullptr) == 0) version = most;
  return h;
}

}  // namespace

// ---- Fetch -----------------------------------------------------------------

Fetch::Fetch(const std::u16string& definition) {
  std::vector<std::u16string> words = splitBlanks(definition);
  if (!words.empty()) {
    table = words[0];
    keyColumns.assign(words.begin() + 1, words.end());
  }
}

Fetch::~Fetch() = default;

std::u16string Fetch::selectText() const {
  std::u16string q = u"SELECT ";
  for (const auto& c : valueColumnList()) q += quoted(c) + u",";
  for (std::size_t i = 0; i < keyColumns.size(); ++i) q += (i ? u"," : u"") + quoted(keyColumns[i]);
  q += u" FROM " + quoted(table);
  if (const char16_t* where = whereClause()) q += u" WHERE " + std::u16string(where);
  return q;
}

std::u16string Fetch::updateText() const {
  std::u16string q = u"UPDATE " + quoted(table) + u" SET ";
  for (std::size_t i = 0; i < valueColumns.size(); ++i) q += (i ? u"," : u"") + quoted(valueColumns[i]) + u"=?";
  q += u" WHERE ";
  for (std::size_t i = 0; i < keyColumns.size(); ++i) q += (i ? u" AND " : u"") + quoted(keyColumns[i]) + u"=?";
  return q;
}

bool Fetch::select(msidb& database) {
  valueColumns = valueColumnList();
  try {
    database.read_query(selectText(), {}, rows);
  } catch (const msier::system& e) {
    if (e.code != 0) {
      rows.clear();
      valueColumns.clear();
      return false;
    }
  }
  return true;
}

bool Fetch::update(msidb& database) {
  if (rows.empty()) return true;
  std::u16string q = updateText();
  for (const auto& r : rows) {
    msidb::params params;
    for (const auto& field : r) params.push_back({field, false});
    msidb::rows none;
    try {
      database.read_query(q, params, none);
    } catch (const msier::system& e) {
      if (e.code != 0) return false;
    }
  }
  return true;
}

std::size_t Fetch::rowCount() const { return rows.size(); }

std::vector<const std::u16string*> Fetch::row(std::size_t index) const {
  std::vector<const std::u16string*> out;
  const auto& r = rows.at(index);
  for (std::size_t i = 0; i < valueColumns.size() && i < r.size(); ++i) out.push_back(&r[i]);
  return out;
}

FeaturesFetch::FeaturesFetch() : Fetch(u"Feature Feature") {}

const std::vector<std::u16string>& FeaturesFetch::valueColumnList() const {
  static const std::vector<std::u16string> columns = {u"Feature", u"Feature_Parent", u"Title",      u"Description",
                                                      u"Display", u"Level",          u"Directory_", u"Attributes"};
  return columns;
}

const char16_t* FeaturesFetch::whereClause() const { return u"`Level`<>0"; }

// ---- package identity ------------------------------------------------------

UINT readPackageCode(const std::u16string& path, std::u16string& code, MSIHANDLE database) {
  code.clear();
  MSIHANDLE summary = 0;
  UINT r = MsiGetSummaryInformationW(database, database ? nullptr : path.c_str(), 0, &summary);
  if (r != ERROR_SUCCESS) return r;
  WCHAR buf[64];
  DWORD n = 64;
  UINT type = 0;
  INT value = 0;
  r = MsiSummaryInfoGetPropertyW(summary, PID_REVNUMBER, &type, &value, nullptr, buf, &n);
  if (r == ERROR_SUCCESS) code.assign(buf, n);
  MsiCloseHandle(summary);
  return r;
}

std::int64_t packageEdition(const std::u16string& path) {
  msiquery database;
  try {
    database.open(path, true);
  } catch (const msier::system&) {
    return -1;
  }
  std::u16string text = msidb::property_value(database, u"MsigenProductEdition");
  std::uint64_t number = 0;
  if (text.empty() || !Common::parseNumberW(&number, text.c_str(), 10) || number >= (std::uint64_t(1) << 32))
    return -1;
  return static_cast<std::int64_t>(number);
}

bool packProductVersion(const std::u16string& text, std::uint32_t& packed) {
  std::uint64_t parts[3] = {0, 0, 0};
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    std::size_t dot = text.find(u'.', start);
    std::u16string part = text.substr(start, dot == std::u16string::npos ? std::u16string::npos : dot - start);
    if (!part.empty() && !Common::parseNumberW(&parts[i], part.c_str(), 10)) return false;
    if (dot == std::u16string::npos) break;
    start = dot + 1;
  }
  if (parts[0] > 255 || parts[1] > 255 || parts[2] > 65535) return false;
  packed = static_cast<std::uint32_t>(parts[0] << 24 | parts[1] << 16 | parts[2]);
  return true;
}

// ---- InstallDriver ---------------------------------------------------------

void InstallDriver::setPackage(const std::u16string& path) {
  packagePath = path;
  product.package.packageCode.clear();
}

void InstallDriver::setMode(std::uint32_t newMode, const std::u16string& newFeatures) {
  if (newMode != Install && newMode != Remove) return;
  mode = newMode;
  features = newFeatures;
}

UINT InstallDriver::readProperties(msidb& database) {
  msidb::rows rows;
  auto query = [&](const std::u16string& q) -> UINT {
    try {
      database.read_query(q, {}, rows);
      return ERROR_SUCCESS;
    } catch (const msier::system& e) {
      rows.clear();
      return e.code;
    }
  };
  UINT r = query(u"SELECT `Property`.`Value` FROM `Property` WHERE `Property`.`Property`='ProductCode'");
  if (r) return r;
  product.productCode = rows.size() == 1 && !rows[0].empty() ? rows[0][0] : std::u16string();
  if (product.productCode.empty()) return ERROR_INSTALL_PACKAGE_INVALID;

  r = query(u"SELECT `Value` FROM `Property` WHERE `Property`='ProductName'");
  if (r) return r;
  product.productName = !rows.empty() && !rows[0].empty() ? rows[0][0] : std::u16string();

  r = query(u"SELECT `Property`.`Value` FROM `Property` WHERE `Property`.`Property`='ProductVersion'");
  if (r) return r;
  if (rows.size() != 1 || rows[0].empty() || rows[0][0].empty()) return ERROR_INSTALL_PACKAGE_INVALID;
  if (!packProductVersion(rows[0][0], product.package.version)) return ERROR_INSTALL_PACKAGE_INVALID;

  FeaturesFetch fetch;
  if (!fetch.select(database)) return ERROR_INSTALL_PACKAGE_INVALID;
  product.package.features.clear();
  for (std::size_t i = 0; i < fetch.rowCount(); ++i) {
    auto f = fetch.row(i);
    if (f.size() < 4) continue;
    product.package.features[*f[0]] = {*f[2], *f[3], *f[1]};
  }
  return ERROR_SUCCESS;
}

UINT InstallDriver::readPackageInfo(const std::u16string** productCode) {
  INSTALLUILEVEL previous = silent ? MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr) : INSTALLUILEVEL_NOCHANGE;
  // The package is read once: the summary comes from the open database.
  UINT r = ERROR_SUCCESS;
  {
    msiquery database;
    try {
      database.open(packagePath, true);
    } catch (const msier::system& e) {
      r = e.code;
    }
    // A package that does not open answers as its summary would.
    r = readPackageCode(packagePath, product.package.packageCode, r == ERROR_SUCCESS ? database.handle : 0);
    if (r == ERROR_SUCCESS) {
      try {
        r = readProperties(database);
      } catch (const msier::system& e) {
        r = e.code;
      }
    }
  }
  if (r == ERROR_SUCCESS) {
    INSTALLSTATE state = MsiQueryProductStateW(product.productCode.c_str());
    if (state == INSTALLSTATE_ADVERTISED || state == INSTALLSTATE_DEFAULT) {
      WCHAR buf[64];
      DWORD n = 64;
      r = MsiGetProductInfoW(product.productCode.c_str(), u"PackageCode", buf, &n);
      if (r == ERROR_SUCCESS) {
        product.installed.packageCode.assign(buf, n);
        n = 64;
        r = MsiGetProductInfoW(product.productCode.c_str(), u"Version", buf, &n);
        std::uint64_t number = 0;
        if (r == ERROR_SUCCESS && Common::parseNumberW(&number, std::u16string(buf, n).c_str(), 10))
          product.installed.version = static_cast<std::uint32_t>(number);
      }
    } else {
      product.installed.packageCode.clear();
    }
  }
  MsiSetInternalUI(previous, nullptr);
  if (r != ERROR_SUCCESS) product.package.packageCode.clear();
  if (productCode) *productCode = r == ERROR_SUCCESS ? &product.productCode : nullptr;
  return r;
}

UINT InstallDriver::install() {
  if (product.package.packageCode.empty()) {
    UINT r = readPackageInfo();
    if (r != ERROR_SUCCESS) return r;
  }
  UiLevelScope level(silent ? INSTALLUILEVEL_NONE : INSTALLUILEVEL_FULL);
  std::u16string program;
  UINT r = programPath(program);
  if (r != ERROR_SUCCESS) return r;
  std::u16string line = u" BOOTSTRAP_EXE=\"" + program + u"\"";
  line += extraProperties;
  bool same = product.installed.packageCode == product.package.packageCode;
  bool isInstalled = !product.installed.packageCode.empty();
  std::u16string list = features;
  if (mode == Install) {
    if (!isInstalled) {
      if (!list.empty()) line += u" ADDLOCAL=" + list;
    } else {
      if (packageEdition(packagePath) != packageEdition(installedLocalPackage(product.productCode)))
        return ERROR_PRODUCT_VERSION;
      if (list.empty() && !same) list = u"ALL";
      if (!list.empty()) line += u" REINSTALL=" + list;
      if (same) {
        if (!list.empty()) line += u" REINSTALL=ALL REINSTALLMODE=amus";
      } else {
        line += u" REINSTALL=ALL REINSTALLMODE=vamus";
      }
    }
  } else if (mode == Remove) {
    if (!isInstalled) return ERROR_SUCCESS;
    if (list.empty()) list = u"ALL";
    line += u" REMOVE=" + list;
    if (!same) line += u" REINSTALLMODE=vamus";
  } else {
    return ERROR_INVALID_COMMAND_LINE;
  }
  if (logEnabled)
    MsiEnableLogW(0x1FDF, logPath.empty() ? u"install_log.txt" : logPath.c_str(), INSTALLLOGATTRIBUTES_FLUSHEACHLINE);
  return MsiInstallProductW(packagePath.c_str(), line.c_str());
}

// ---- InstallerEngine -------------------------------------------------------

InstallerEngine::InstallerEngine(std::uint32_t required, std::u16string redistributable, bool beQuiet)
    : requiredVersion(required), redistributablePath(std::move(redistributable)), quiet(beQuiet) {}

InstallerEngine::~InstallerEngine() {
  if (library) FreeLibrary(library);
}

UINT InstallerEngine::ensure() {
  WCHAR system[260];
  UINT length = GetSystemDirectoryW(system, 260);
  if (length != 0 && length < 252) {
    std::u16string path(system, length);
    if (path.back() != u'\\') path += u'\\';
    path += u"msi.dll";
    DWORD version = 0;
    HMODULE h = loadEngine(path, version);
    if (h && (version >> 16) * 100 + (version & 0xFFFF) >= requiredVersion) {
      library = h;
      return ERROR_SUCCESS;
    }
    if (h) FreeLibrary(h);
  }
  if (!Windows::isAdministrator(0)) return kPrivilegeNotHeld;

  DWORD most = 0;
  bool newEnough = !redistributablePath.empty() &&
                   Windows::getFileVersion(redistributablePath.c_str(), &most, nullptr) == 0 &&
                   static_cast<std::uint32_t>(((most >> 16) - 10) * 100 + (most & 0xFFFF)) >= requiredVersion;
  if (!newEnough) return quiet ? kPackageVersionTooOld : ERROR_INSTALL_USEREXIT;

  std::u16string line = u"\"" + redistributablePath + u"\"" +
                        (quiet ? u" /q /c:\"msiinst /delayrebootq\"" : u" /c:\"msiinst /delayreboot\"");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  DWORD result;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr,
                      &startup, &process)) {
    result = GetLastError();
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
    if (!GetExitCodeProcess(process.hProcess, &result)) result = GetLastError();
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  if (result != ERROR_SUCCESS && result != ERROR_SUCCESS_REBOOT_REQUIRED) return result;

  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return kBadPathname;
  WCHAR location[260] = {};
  DWORD size = sizeof location, type = 0;
  LONG q = RegQueryValueExW(key, u"InstallerLocation", nullptr, &type, reinterpret_cast<BYTE*>(location), &size);
  RegCloseKey(key);
  if (q != ERROR_SUCCESS || size == 0 || size > 503) return kBadPathname;
  std::u16string path(location, size / 2);
  while (!path.empty() && path.back() == 0) path.pop_back();
  if (path.empty() || path.back() != u'\\') path += u'\\';
  path += u"msi.dll";
  DWORD version = 0;
  library = loadEngine(path, version);
  if (!library) return GetLastError() ? GetLastError() : kModuleNotFound;
  return result;
}

}  // namespace installjob
