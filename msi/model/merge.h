// The merge-module automation object "Msm.Merge2.1", reached by late binding:
// a manager that opens a package and a module, merges, and reads the object's
// error records into plain ones with a readable description. Diagnostics go
// to standard output; nothing here throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Msi {

struct MergeError {
  std::u16string databaseTable;
  std::vector<std::u16string> databaseKeys;
  std::u16string moduleTable;
  std::vector<std::u16string> moduleKeys;
  std::int32_t language = 0;
  std::int32_t type = 0;
  std::u16string path;
  std::u16string description;

  // " Type = ..." and the other lines, each ending in a line feed; kept once made.
  const std::u16string& describe();
  // The name of an error type 1 to 14; null for any other number.
  static const char* typeName(std::int32_t type);
};

class MergeErrorList {
 public:
  std::int32_t count() const { return static_cast<std::int32_t>(errors_.size()); }
  // A copy of the record; an index outside the list is reported and answers
  // an empty record.
  MergeError at(std::int32_t index) const;
  void append(MergeError error) { errors_.push_back(std::move(error)); }
  void clear() { errors_.clear(); }

 private:
  std::vector<MergeError> errors_;
};

class MergeManagerImpl {
 public:
  virtual ~MergeManagerImpl() = default;
  virtual bool openDatabase(const std::u16string& path) = 0;
  virtual bool openModule(const std::u16string& path, std::uint16_t language) = 0;
  virtual bool merge(const std::u16string& feature, const std::u16string& directory) = 0;
  virtual bool closeDatabase() = 0;
  virtual bool closeModule() = 0;
  virtual MergeErrorList errors() = 0;
};

class MergeManager {
 public:
  // Initialises COM for this thread and creates the object, registering it
  // first when its ProgID is unknown; without it every operation fails.
  MergeManager();
  MergeManager(const MergeManager&) = delete;
  MergeManager& operator=(const MergeManager&) = delete;
  virtual ~MergeManager();

  bool openDatabase(const std::u16string& path) { return impl_->openDatabase(path); }
  bool openModule(const std::u16string& path, std::uint16_t language) { return impl_->openModule(path, language); }
  bool merge(const std::u16string& feature, const std::u16string& directory) {
    return impl_->merge(feature, directory);
  }
  bool closeDatabase() { return impl_->closeDatabase(); }
  bool closeModule() { return impl_->closeModule(); }
  MergeErrorList errors() { return impl_->errors(); }

 private:
  std::unique_ptr<MergeManagerImpl> impl_;
  bool comReady_ = false;
};

}  // namespace Msi
