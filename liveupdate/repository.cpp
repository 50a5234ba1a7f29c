#include "liveupdate/repository.h"

#include <mutex>

#include "core/catalogue.h"
#include "core/error.h"
#include "core/trace.h"
#include "network/ssl/https.h"
#include "xml/xml_node.h"

namespace LiveUpdate {
namespace {

[[noreturn]] void internalError(std::uint64_t site) {
  throw Common::Error(site, kInternalError, Common::catalogueText(1294, u"Internal error."));
}

class RepositoryHTTP final : public Repository {
 public:
  RepositoryHTTP(Processor::RefPtr<UriResource> uri, Processor::RefPtr<ProtocolConfigurationAccessor> accessor,
                 const HttpInterrupt* interrupt)
      : uri_(std::move(uri)), accessor_(std::move(accessor)) {
    if (interrupt) interrupt_ = *interrupt;
  }

  Processor::String uri() const override { return uri_->text(); }

  void queryUpdates(const Product* product, std::vector<Processor::RefPtr<Package>>& packages) override {
    if (!product)
      throw Common::Error(KV_SITE, kNoSuchProduct, Common::catalogueText(1287, u"There is no such product."));
    Processor::RefPtr<ProductInformation> info = product->productInformation();
    if (!info) Processor::throwNullReference();
    auto request = writeInfoUpdatesRequest(info->packageId(), info->edition(), info->language(), *info->version());
    std::unique_ptr<xml_document> answer = exchange(*request, *uri_, *accessor_, &interrupt_);
    const std::vector<const xml_node*> updates = parseInfoUpdatesResponse(answer->root());
    packages.clear();
    for (const xml_node* element : updates) {
      UpdateInfo update = parseUpdate(element);
      auto newInfo =
          createProductInformation(info->name(), info->packageId(), info->edition(), info->language(), update.version);
      auto getUpdates = writeGetUpdatesRequest(newInfo->packageId(), newInfo->edition(), newInfo->language(),
                                               *info->version(), update.fileName);
      auto input = Processor::makeRef<HTTPInput>(accessor_, uri_, requestBytes(*getUpdates), update.size);
      PatchSequenceTable table;
      const bool supersedes = buildPatchSequenceTable(*element, table);
      packages.push_back(createPackage(newInfo, update.isPatch, update.hasPatchSequence, supersedes, input,
                                       std::move(table), update.fileName, update.description, update.importance));
    }
    const std::pair<std::string, Processor::Variant> count{"packageCount",
                                                           Processor::Variant(static_cast<std::uint32_t>(packages.size()))};
    Processor::traceValues(0, 86, 4, Processor::String("Server return"), &count, 1);
  }

  void queryPackage() override { internalError(KV_SITE); }
  void queryProducts() override { internalError(KV_SITE); }
  void publish() override { internalError(KV_SITE); }
  void remove() override { internalError(KV_SITE); }
  void synchronize() override { internalError(KV_SITE); }

 private:
  Processor::RefPtr<UriResource> uri_;
  Processor::RefPtr<ProtocolConfigurationAccessor> accessor_;
  HttpInterrupt interrupt_;
};

}  // namespace

Processor::RefPtr<Repository> createRepositoryHTTP(Processor::RefPtr<UriResource> uri,
                                                   Processor::RefPtr<ProtocolConfigurationAccessor> accessor,
                                                   const HttpInterrupt* interrupt) {
  if (!uri) throw Common::Error(KV_SITE, kFailedCheck, "uri");
  if (!accessor) throw Common::Error(KV_SITE, kFailedCheck, "protocolConfigurationAccessor");
  // The service and its files may be "https" addresses.
  static std::once_flag tls;
  std::call_once(tls, [] { Network::useTlsForHttps(); });
  return Processor::makeRef<RepositoryHTTP>(std::move(uri), std::move(accessor), interrupt);
}

std::unique_ptr<xml_document> exchange(const xml_document& request, const UriResource& uri,
                                       ProtocolConfigurationAccessor& accessor, HttpInterrupt* interrupt) {
  const std::vector<unsigned char> body = requestBytes(request);
  for (int attempt = 0; attempt < httpAttemptLimit(); ++attempt) {
    try {
      std::unique_ptr<Network::StreamSocket> connection =
          httpPost(accessor, uri, body.data(), static_cast<std::uint32_t>(body.size()), interrupt);
      if (!connection)
        throw Common::Error(KV_SITE, kHttpConnectionError, Common::catalogueText(1283, u"Connection via HTTP error."));
      auto answer = std::make_unique<xml_document>();
      readResponseDocument(*connection, *answer);
      return answer;
    } catch (const Common::Error& e) {
      if (!isRetryableHttpError(e.code())) throw;
      const std::vector<std::pair<std::string, Processor::Variant>> values = {
          {"errorCode", Processor::Variant(e.code())},
          {"errorText", Processor::Variant(Processor::String(e.text().c_str()))}};
      Processor::traceValues(3, 86, 0x567531,
                             Processor::String(u"Connection to the update server has failed while obtaining new "
                                               u"packages. Retrying connection."),
                             values.data(), static_cast<std::int32_t>(values.size()));
    }
  }
  throw Common::Error(KV_SITE, kCannotConnect,
                      Common::catalogueText(1284, u"Cannot connect to the update server. Please try again later."));
}

}  // namespace LiveUpdate
