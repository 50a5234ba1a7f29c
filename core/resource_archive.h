// The program archive: a ZIP holding the program's resources (catalogue,
// product configuration, help, images, installer packages), either in a ".dat"
// file beside the program (same name, extension ".dat") or appended to the
// program file itself. Opened once on first use and shared until exit.
#pragma once

#include <string>

class ri_file;
class zip_file;

namespace Common {

inline constexpr char configurationMemberName[] = "DovecrestVazediInstallMenu.xml";

// The shared archive, opened on the first call; null when neither the ".dat"
// file nor the program file could be opened. A file that is not a ZIP still
// gives an archive object, Bad with the reason, whose member opens fail.
zip_file* programArchive();

// A member of the shared archive opened for reading, or null.
ri_file* openArchivedFile(const char16_t* name);

// The ".dat" file named like `path`: the path with its file name's extension
// replaced by ".dat", or ".dat" appended when the file name has none (a leading
// '.' does not start an extension). Dots in directory names do not count.
std::u16string archiveDatPath(const char16_t* path);

// Opens resources by name in an archive.
class ResourceAccessor {
 public:
  virtual ~ResourceAccessor() = default;
  // The member `name`, or the product configuration when `name` is null; null
  // when the archive or the member is missing.
  virtual ri_file* open(const char16_t* name) = 0;

  // An accessor owned by the caller (null when memory runs out). An empty or
  // null path, or the very buffer module_path() hands out, reads the shared
  // program archive; any other path opens an archive of its own for that
  // program (its ".dat" file, else the file itself).
  static ResourceAccessor* create(const char16_t* archivePath);
};

class ResourceAccessorImpl final : public ResourceAccessor {
 public:
  explicit ResourceAccessorImpl(const char16_t* archivePath);
  ~ResourceAccessorImpl() override;
  ri_file* open(const char16_t* name) override;

  bool shared() const { return shared_; }
  // The archive this accessor reads (opening the shared one on demand).
  zip_file* archive();

 private:
  ri_file* raw_ = nullptr;       // own archive only
  zip_file* archive_ = nullptr;  // own archive only
  bool shared_;
};

}  // namespace Common
