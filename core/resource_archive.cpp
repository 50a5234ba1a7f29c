#include "core/resource_archive.h"

#include <atomic>
#include <new>

#include "core/resource_testing.h"
#include "files/windows_dir.h"
#include "files/zip_file.h"
#include "system/locks.h"

namespace Common {

namespace {

// The raw file and the archive read over it; the archive is released first.
struct ArchiveFiles {
  ri_file* raw = nullptr;
  zip_file* archive = nullptr;

  void release() {
    delete archive;
    archive = nullptr;
    delete raw;
    raw = nullptr;
  }
};

ri_file* openPlain(const char16_t* path) {
  i_dir* dir = current_dir();
  return dir ? dir->open_file(path, false) : nullptr;
}

// The archive for a program path: its ".dat" file, else the program file. A
// ".dat" file that is not a readable ZIP does not hide the program's own
// archive; when neither reads, the ".dat" file's archive keeps the reason.
zip_file* openArchive(const char16_t* path, ArchiveFiles& files) {
  if (files.archive) return files.archive;
  if (!path) return nullptr;
  const std::u16string dat = archiveDatPath(path);
  ArchiveFiles fromDat;
  fromDat.raw = openPlain(dat.c_str());
  if (fromDat.raw) {
    fromDat.archive = new (std::nothrow) zip_file(fromDat.raw);
    if (fromDat.archive && fromDat.archive->Good()) {
      files = fromDat;
      return files.archive;
    }
  }
  ArchiveFiles fromProgram;
  fromProgram.raw = openPlain(path);
  if (fromProgram.raw) fromProgram.archive = new (std::nothrow) zip_file(fromProgram.raw);
  if (fromProgram.archive && (fromProgram.archive->Good() || !fromDat.archive)) {
    fromDat.release();
    files = fromProgram;
  } else {
    fromProgram.release();
    if (!fromDat.archive) fromDat.release();
    files = fromDat;
  }
  return files.archive;
}

// The shared archive. Zero-initialised, so it works during static
// initialisation; its destructor closes the archive at exit.
struct SharedArchive {
  RecursiveLock lock;
  std::atomic<zip_file*> ready{nullptr};
  ArchiveFiles files;
  const char16_t* pathOverride = nullptr;  // tests only

  ~SharedArchive() {
    ready.store(nullptr, std::memory_order_release);
    files.release();
  }
};
constinit SharedArchive shared;

}  // namespace

std::u16string archiveDatPath(const char16_t* path) {
  std::u16string result = path ? path : u"";
  std::size_t name = 0;
  for (std::size_t i = 0; i < result.size(); ++i)
    if (result[i] == u'\\' || result[i] == u'/') name = i + 1;
  const std::size_t dot = result.rfind(u'.');
  if (dot != std::u16string::npos && dot > name) result.resize(dot);
  return result + u".dat";
}

zip_file* programArchive() {
  if (zip_file* a = shared.ready.load(std::memory_order_acquire)) return a;
  RecursiveLockGuard guard(shared.lock);
  if (!shared.files.archive) {
    const char16_t* path = shared.pathOverride ? shared.pathOverride : module_path();
    openArchive(path, shared.files);
  }
  shared.ready.store(shared.files.archive, std::memory_order_release);
  return shared.files.archive;
}

ri_file* openArchivedFile(const char16_t* name) {
  zip_file* archive = programArchive();
  return archive && name ? archive->open_file(name, false) : nullptr;
}

ResourceAccessor* ResourceAccessor::create(const char16_t* archivePath) {
  return new (std::nothrow) ResourceAccessorImpl(archivePath);
}

ResourceAccessorImpl::ResourceAccessorImpl(const char16_t* archivePath)
    : shared_(!archivePath || !*archivePath || archivePath == module_path()) {
  if (!shared_) {
    ArchiveFiles files;
    openArchive(archivePath, files);
    raw_ = files.raw;
    archive_ = files.archive;
  }
}

ResourceAccessorImpl::~ResourceAccessorImpl() {
  delete archive_;
  delete raw_;
}

zip_file* ResourceAccessorImpl::archive() { return shared_ ? programArchive() : archive_; }

ri_file* ResourceAccessorImpl::open(const char16_t* name) {
  zip_file* a = archive();
  if (!a) return nullptr;
  if (!name) {
    char16_t configuration[sizeof configurationMemberName];
    for (std::size_t i = 0; i < sizeof configurationMemberName; ++i)
      configuration[i] = static_cast<unsigned char>(configurationMemberName[i]);
    return a->open_file(configuration, false);
  }
  return a->open_file(name, false);
}

namespace testing {

void setProgramArchivePath(const char16_t* path) {
  RecursiveLockGuard guard(shared.lock);
  shared.ready.store(nullptr, std::memory_order_release);
  shared.files.release();
  shared.pathOverride = path;
}

}  // namespace testing

}  // namespace Common
