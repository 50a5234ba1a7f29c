// How a component maps to its row and joins the features that hold it.
#include "msi/entities/resources.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/package.h"

namespace Msi {

void MsiComponent::writeTo(MsiRow& row) const {
  MsiRowEntity::writeTo(row);
  if (directoryKey().empty()) row.field(name(2)) = u"TARGETDIR";
}

void MsiComponent::joinFeature(MsiFeature* feature) {
  const std::u16string& key = feature->key();
  for (const std::u16string& k : featureKeys_)
    if (k == key) throw Error(MSI_LOCATION, 0x69b0d5c4, 21, u"the component " + this->key() + u" is in " + key);
  featureKeys_.push_back(key);
  if (directoryKey().empty()) values_[2] = feature->directoryKey();
  markModified();
}

MsiAssemblyName* MsiComponent::findAssemblyName(const std::u16string& name) {
  std::list<std::u16string> keys;
  loadComponentResources<MsiAssemblyName>(package_, key(), keys);
  for (const std::u16string& k : keys) {
    MsiAssemblyName* n = package_->identityMap<MsiAssemblyName>().find(k);
    if (n && n->name() == name) return n;
  }
  return nullptr;
}

MsiAssembly* MsiComponent::assembly() const {
  return kind_ == Kind::Assembly ? package_->assemblyForComponent(key()) : nullptr;
}

}  // namespace Msi
