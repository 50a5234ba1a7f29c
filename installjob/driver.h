// Installing one installer database: reading its identity and the installed
// product's, building the command line for a first installation, a
// reinstallation, a maintenance run or a removal, and calling the engine.
// Also the check that an installer engine of a required version is present.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "installjob/msidb.h"
#include "platform/win32/windows.h"

namespace installjob {

struct FeatureInfo {
  std::u16string title, description, parent;
};

struct ProductState {
  std::uint32_t version = 0;  // major << 24 | minor << 16 | build
  std::u16string packageCode;
  std::map<std::u16string, FeatureInfo> features;
};

struct ProductInfo {
  std::u16string productCode, productName;
  ProductState installed, package;
};

// Reads the rows of one table through generated SQL.
class Fetch {
 public:
  // `definition`: the table name, a blank and the blank-separated key columns.
  explicit Fetch(const std::u16string& definition);
  virtual ~Fetch();
  virtual bool select(msidb& database);
  virtual bool update(msidb& database);
  virtual std::size_t rowCount() const;
  virtual std::vector<const std::u16string*> row(std::size_t index) const;
  virtual const std::vector<std::u16string>& valueColumnList() const = 0;
  virtual const char16_t* whereClause() const = 0;

  std::u16string selectText() const;
  std::u16string updateText() const;

  std::u16string table;
  std::vector<std::u16string> keyColumns;
  msidb::rows rows;
  std::vector<std::u16string> valueColumns;
};

class FeaturesFetch : public Fetch {
 public:
  FeaturesFetch();
  const std::vector<std::u16string>& valueColumnList() const override;
  const char16_t* whereClause() const override;
};

// The revision number of a package's summary (its package code, or a patch's
// code), read into 64 characters: empty when it does not fit.
// With `database` open, the summary is read from it rather than from the file again.
UINT readPackageCode(const std::u16string& path, std::u16string& code, MSIHANDLE database = 0);
// "MsigenProductEdition" of a package as a number, -1 when it has none.
std::int64_t packageEdition(const std::u16string& path);

class InstallDriver {
 public:
  enum Mode : std::uint32_t { Install = 1, Remove = 2 };

  void setPackage(const std::u16string& path);
  void setMode(std::uint32_t mode, const std::u16string& features);
  // On success *productCode (when given) points at product.productCode; else null.
  UINT readPackageInfo(const std::u16string** productCode = nullptr);
  UINT install();

  bool silent = false;
  bool logEnabled = true;
  std::u16string logPath;
  std::u16string packagePath;
  std::uint32_t mode = Install;
  std::u16string features;
  std::u16string extraProperties;
  ProductInfo product;

 private:
  UINT readProperties(msidb& database);
};

// Packs "major.minor.build" (further parts ignored); false for a part the number
// parser refuses or out of range.
bool packProductVersion(const std::u16string& text, std::uint32_t& packed);

class InstallerEngine {
 public:
  // `requiredVersion`: major * 100 + minor.
  InstallerEngine(std::uint32_t requiredVersion, std::u16string redistributablePath, bool quiet);
  ~InstallerEngine();
  InstallerEngine(const InstallerEngine&) = delete;
  InstallerEngine& operator=(const InstallerEngine&) = delete;
  UINT ensure();

  std::uint32_t requiredVersion;
  HMODULE library = nullptr;
  std::u16string redistributablePath;
  bool quiet;
};

}  // namespace installjob
