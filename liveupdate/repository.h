// The client side of the update service: which updates exist for a product.
#pragma once

#include <memory>
#include <vector>

#include "liveupdate/package.h"
#include "network/http_client.h"

namespace LiveUpdate {

class Repository : public Processor::RefObject {
 public:
  virtual Processor::String uri() const = 0;
  // Replaces `packages` with one package per update the service offers.
  virtual void queryUpdates(const Product* product, std::vector<Processor::RefPtr<Package>>& packages) = 0;
  // Nothing calls these; the HTTP repository answers "Internal error.".
  virtual void queryPackage() = 0;
  virtual void queryProducts() = 0;
  virtual void publish() = 0;
  virtual void remove() = 0;
  virtual void synchronize() = 0;
};

// `interrupt` (a copy shares its state) lets another thread end the
// repository's queries; they then fail with "Canceled.".
Processor::RefPtr<Repository> createRepositoryHTTP(Processor::RefPtr<UriResource> uri,
                                                   Processor::RefPtr<ProtocolConfigurationAccessor> accessor,
                                                   const HttpInterrupt* interrupt = nullptr);

// One request and its answer, tried up to five times on connection failures.
std::unique_ptr<xml_document> exchange(const xml_document& request, const UriResource& uri,
                                       ProtocolConfigurationAccessor& accessor, HttpInterrupt* interrupt = nullptr);

}  // namespace LiveUpdate
