// The update client's versions and product identities: what the update
// service knows a product by.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/object.h"
#include "core/string.h"

namespace LiveUpdate {

class Version : public Processor::RefObject {
 public:
  virtual std::int32_t major() const = 0;
  virtual std::int32_t minor() const = 0;
  virtual std::int32_t build() const = 0;
  virtual std::int32_t revision() const = 0;
  // Exactly the text the version was made from.
  virtual std::string text() const = 0;
};

class ProductInformation : public Processor::RefObject {
 public:
  virtual Processor::String name() const = 0;
  virtual std::string packageId() const = 0;
  virtual std::int32_t edition() const = 0;
  virtual std::int32_t language() const = 0;
  virtual Processor::RefPtr<Version> version() const = 0;
};

class Product : public Processor::RefObject {
 public:
  virtual Processor::RefPtr<ProductInformation> productInformation() const = 0;
  // Replaces `list` with the versions the product's applied patches bring.
  virtual void patchVersions(std::vector<Processor::RefPtr<Version>>& list) const = 0;
};

// Numbers as "%d.%d.%d.%d" reads them; those not read stay 0.
Processor::RefPtr<Version> createVersion(const std::string& text);
// -1, 0 or 1 by major, minor, build, revision; the texts are not compared.
int compareVersions(const Version& a, const Version& b);

// A null version is the failed check "version".
Processor::RefPtr<ProductInformation> createProductInformation(const Processor::String& name,
                                                               const std::string& packageId, std::int32_t edition,
                                                               std::int32_t language,
                                                               Processor::RefPtr<Version> version);
// A product whose identity the caller already knows (the application's own).
Processor::RefPtr<Product> createProduct(Processor::RefPtr<ProductInformation> information,
                                         std::vector<Processor::RefPtr<Version>> patches = {});

// Equal length and equal bytes after upper-casing ASCII letters.
bool equalsIgnoreCase(const std::string& a, const std::string& b);

// The package ID of the maker's product identity table for (product code,
// package code); a non-empty short name must equal the row's.
std::optional<std::string> lookupProductIdentity(const std::string& productCode, const std::string& packageCode,
                                                 const std::string& shortName);
// The package ID a product without its own "MsigenProductId" gets from the
// fixed translations, after the rename pair.
std::string translatePackageId(const std::string& propertyId, const std::string& productCode);

}  // namespace LiveUpdate
