// The package's cabinets and the removal of the objects it lists.
#include <algorithm>
#include <set>

#include "msi/entities/actions.h"
#include "msi/entities/cabinet.h"
#include "msi/entities/tree.h"
#include "msi/model/command.h"
#include "msi/model/error.h"
#include "msi/model/package.h"
#include "msi/model/text.h"

namespace Msi {

namespace {

constexpr std::uint32_t kModule = 0x6e1fbba0;

std::int32_t diskNumber(const std::u16string& text) { return isNumber(text) ? toInt(text) : 0; }

}  // namespace

MsiCab* MsiPackage::addCabinet(const std::u16string& name) {
  needTree();
  std::int32_t highest = 0;
  for (const std::u16string& key : cabinets_.keys()) {
    highest = std::max(highest, diskNumber(key));
    MsiCab* cab = find<MsiCab>(key);
    if (cab && (cab->cabinetName() == name || u"#" + cab->cabinetName() == name || cab->cabinetName() == u"#" + name))
      throw Error(MSI_LOCATION, kModule, 92, u"the cabinet " + name + u" exists already");
  }
  // Rows no longer listed (a removed cabinet) keep their ids in the table:
  // a new one must not take them.
  if (hasTable(tableName<MediaTableDescription>())) {
    MsiRecordset rows;
    MsiCommand select(&database_);
    select.setText(u"Select `DiskId` From `Media`");
    select.run(&rows);
    for (MsiRow* row : rows) highest = std::max(highest, diskNumber(row->fieldAt(0)));
  }
  for (const auto& [key, cab] : identityMap<MsiCab>().entries())
    if (cab) highest = std::max(highest, diskNumber(key));
  // DiskId is a 16-bit column.
  if (highest >= 0x7FFF) throw Error(MSI_LOCATION, kModule, 92, u"no disk number is left for " + name);
  auto cab = std::make_unique<MsiCab>(this, name, MsiCab::kDdfFileName);
  cab->setDiskId(toString(highest + 1));
  ++cabinetCounter_;
  if (!add(cab.get())) throw Error(MSI_LOCATION, kModule, 92, u"the disk " + cab->diskId() + u" exists already");
  MsiCab* held = cab.release();
  cabinets_.append(held->diskId());
  held->markModified();
  return held;
}

void MsiPackage::embedCabinet(MsiCab* cabinet) {
  if (!cabinet) throw Error(MSI_LOCATION, kModule, 91);
  cabinet->setExternal(false);
}

void MsiPackage::removeCabinet(MsiCab* cabinet) {
  needTree();
  if (!cabinet || !cabinets_.contains(cabinet->diskId())) throw Error(MSI_LOCATION, kModule, 91);
  std::u16string key = cabinet->diskId();
  identityMap<MsiCab>().release(key);
  cabinets_.erase(key);
}

void MsiPackage::renumberCabinets() {
  // An unread tree holds no cabinet with new files.
  if (tree_ != Tree::Read) return;
  std::set<std::u16string> listed;
  std::int32_t highest = 0;
  for (const std::u16string& key : cabinets_.keys()) {
    MsiCab* cab = find<MsiCab>(key);
    if (!cab) continue;
    if (cab->hasNewFiles())
      listed.insert(cab->fileKeys().begin(), cab->fileKeys().end());
    else
      highest = std::max(highest, cab->lastSequence());
  }
  if (listed.empty()) return;
  // After every file the cabinets do not number now: those of the package,
  // those of cabinets built before and those installed uncompressed.
  std::int32_t running = std::max(highest, maxFileSequence(&listed));
  for (const std::u16string& key : cabinets_.keys())
    if (MsiCab* cab = find<MsiCab>(key); cab && cab->hasNewFiles()) running = cab->renumberFiles(running);
}

void MsiPackage::removeFeature(MsiFeature* feature) {
  needTree();
  if (!feature || !features_.contains(feature->key())) throw Error(MSI_LOCATION, kModule, 20);
  std::u16string key = feature->key();
  // Taken out before its children go, so that a looping parent chain ends.
  std::unique_ptr<MsiFeature> held(identityMap<MsiFeature>().detach(key));
  features_.erase(key);
  if (!held) return;
  std::list<std::u16string> children;
  for (const auto& [k, f] : identityMap<MsiFeature>().entries())
    if (f && f->parentKey() == key) children.push_back(k);
  for (const std::u16string& child : children) {
    MsiFeature* f = identityMap<MsiFeature>().find(child);
    if (!f) continue;
    if (features_.contains(child))
      removeFeature(f);
    else
      identityMap<MsiFeature>().release(child);
  }
}

void MsiPackage::removeComponent(MsiComponent* component) {
  needTree();
  if (!component || !components_.contains(component->key())) throw Error(MSI_LOCATION, kModule, 30);
  std::u16string key = component->key();
  dropComponent(key);
  components_.erase(key);
}

bool MsiPackage::dropComponent(const std::u16string& key) {
  IdentityMap<MsiComponent>& map = identityMap<MsiComponent>();
  if (!map.find(key)) return false;
  map.release(key);
  return true;
}

MsiBinary* MsiPackage::findDll(const std::u16string& name) {
  for (const std::u16string& key : binaries_.keys())
    if (MsiBinary* b = find<MsiBinary>(key); b && b->name() == name) return b;
  return nullptr;
}

}  // namespace Msi
