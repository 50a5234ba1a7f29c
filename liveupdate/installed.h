// The maker's products installed on the machine, as the update service knows
// them: identity from each product's cached package, versions from its
// applied patches.
#pragma once

#include <string>
#include <vector>

#include "liveupdate/version.h"

namespace Msi {
class IMsiPackage;
class IMsiProduct;
}  // namespace Msi

namespace LiveUpdate {

// Replaces `list` with one product per installed product whose publisher is
// exactly the maker's name; a product that cannot be read is left out.
void enumerateInstalledProducts(std::vector<Processor::RefPtr<Product>>& list);
// One installed product; failed checks "msiProduct", "msiPackage.get()",
// "prop", "summary", or the installer's errors, are thrown.
Processor::RefPtr<Product> makeInstalledProduct(const Msi::IMsiProduct* product);

// "MsigenProductId", else the fixed translations, else the product identity
// table by product code, package code and "ProductShortName"; may be empty.
std::string packageIdFromPackage(Msi::IMsiPackage& package, const std::string& productCode);
// The "UpdatedVersion" the patch file's description names, or null.
Processor::RefPtr<Version> versionFromPatch(const std::u16string& path);

}  // namespace LiveUpdate
