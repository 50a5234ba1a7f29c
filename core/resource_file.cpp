#include <atomic>
#include <memory>
#include <string>

#include "core/catalogue.h"
#include "core/resource_archive.h"
#include "core/resource_testing.h"
#include "files/file_object.h"
#include "files/windows_dir.h"

namespace Common {

namespace {
// 0 not decided, 1 the first resource sought was on disk, 2 it was not.
constinit std::atomic<int> resourceState{0};

// `name` in the current directory, else in the program's directory.
ri_file* openOnDisk(const char16_t* name) {
  i_dir* current = current_dir();
  if (!current) return nullptr;
  if (ri_file* f = current->open_file(name, false)) return f;
  const char16_t* program = module_path();
  if (!program) return nullptr;
  std::unique_ptr<ri_dir> programDir(current->open_parent(&program));
  return programDir ? programDir->open_file(name, false) : nullptr;
}
}  // namespace

ri_file* openResourceFile(const char* name) {
  if (!name) return nullptr;
  std::u16string wide;
  for (const char* p = name; *p; ++p) wide.push_back(static_cast<unsigned char>(*p));

  ri_file* file = nullptr;
  if (resourceState.load(std::memory_order_acquire) != 2) file = openOnDisk(wide.c_str());
  int undecided = 0;
  resourceState.compare_exchange_strong(undecided, file ? 1 : 2, std::memory_order_acq_rel);
  if (!file) file = openArchivedFile(wide.c_str());
  return file;
}

bool loadMessageCatalogue(const char* name, const char16_t** slots, std::uint32_t expected, void** block) {
  *block = nullptr;
  ri_file* file = openResourceFile(name);
  if (!file) return false;
  std::uint32_t size = 0;
  const bool ok = readMessageCatalogue(file, slots, expected, block, &size);
  delete file;
  if (ok) setCatalogueBlock(*block, size);
  return ok;
}

namespace testing {
int resourceFileState() { return resourceState.load(); }
void setResourceFileState(int state) { resourceState.store(state); }
}  // namespace testing

}  // namespace Common
