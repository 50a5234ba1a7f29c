#include "network/uri_resource.h"

#include <map>
#include <mutex>

#include "core/catalogue.h"
#include "core/error.h"
#include "system/number_text.h"

namespace LiveUpdate {
namespace {

class UriResourceImpl final : public UriResource {
 public:
  UriResourceImpl(const std::u16string& text, const std::u16string& scheme, const std::u16string& host,
                  std::uint16_t port, const std::u16string& path)
      : text_(text.c_str()), scheme_(scheme.c_str()), host_(host.c_str()), port_(port), path_(path.c_str()) {}

  Processor::String scheme() const override { return scheme_; }
  Processor::String host() const override { return host_; }
  std::uint16_t port() const override { return port_; }
  Processor::String path() const override { return path_; }
  Processor::String text() const override { return text_; }

 private:
  Processor::String text_, scheme_, host_;
  std::uint16_t port_;
  Processor::String path_;
};

[[noreturn]] void throwInternalError(std::uint64_t site) {
  throw Common::Error(site, kInternalError, Common::catalogueText(1294, u"Internal error."));
}

class ProtocolConfigurationImpl final : public ProtocolConfiguration {
 public:
  bool useProxy() const override { return false; }
  Processor::String proxyHost() const override { return {}; }
  std::uint16_t proxyPort() const override { return 0; }
  bool proxyAuthentication() const override { return false; }
  Processor::String proxyCredentials() const override { return {}; }
  bool reservedFlag() const override { return false; }
  void reserved7() override { throwInternalError(KV_SITE); }
  void reserved8() override { throwInternalError(KV_SITE); }
  void reserved9() override { throwInternalError(KV_SITE); }
  void reserved10() override { throwInternalError(KV_SITE); }
  void reserved11() override { throwInternalError(KV_SITE); }
  void reserved12() override { throwInternalError(KV_SITE); }
  void reserved13() override { throwInternalError(KV_SITE); }
};

class ProtocolConfigurationAccessorImpl final : public ProtocolConfigurationAccessor {
 public:
  Processor::RefPtr<ProtocolConfiguration> configuration(const UriResource& resource) override {
    const Processor::String scheme = resource.scheme();
    std::lock_guard<std::mutex> g(lock_);
    auto& kept = byScheme_[std::u16string(scheme.getBuffer(), static_cast<std::size_t>(scheme.length()))];
    if (!kept) kept = createDefaultProtocolConfiguration();
    return kept;
  }

 private:
  std::mutex lock_;
  std::map<std::u16string, Processor::RefPtr<ProtocolConfiguration>> byScheme_;
};

}  // namespace

bool ParseUrl(const std::u16string& text, std::u16string& scheme, std::u16string& host, std::uint16_t& port,
              std::u16string& path) {
  constexpr auto npos = std::u16string::npos;
  const std::size_t mark = text.find(u"://");
  if (mark == npos) return false;
  scheme = text.substr(0, mark);
  const std::size_t start = mark + 3;
  std::size_t end = text.find(u'/', start);
  if (end == npos) end = text.size();
  const std::size_t colon = text.find(u':', start);
  std::size_t hostEnd;
  if (colon != npos && colon + 1 < end) {
    std::uint64_t value;
    const std::u16string portText = text.substr(colon + 1, end - colon - 1);
    // A port beyond 16 bits names no port; wrapping it would reach another.
    if (!Common::parseNumberW(&value, portText.c_str(), 10) || value > 0xFFFF) return false;
    port = static_cast<std::uint16_t>(value);
    hostEnd = colon;
  } else {
    port = scheme == u"http" ? 80 : scheme == u"https" ? 443 : 0;
    hostEnd = end;
  }
  host = text.substr(start, hostEnd - start);
  const std::size_t slash = text.find(u'/', hostEnd);
  path = slash == npos ? std::u16string(u"/") : text.substr(slash);
  return true;
}

Processor::RefPtr<UriResource> createUriResource(const std::u16string& text) {
  std::u16string scheme, host, path;
  std::uint16_t port = 0;
  if (!ParseUrl(text, scheme, host, port, path))
    throw Common::Error(KV_SITE, kFailedCheck, "ParseUrl(uri, Scheme, Host, Port, Path)");
  return Processor::makeRef<UriResourceImpl>(text, scheme, host, port, path);
}

Processor::RefPtr<ProtocolConfiguration> createDefaultProtocolConfiguration() {
  return Processor::makeRef<ProtocolConfigurationImpl>();
}

Processor::RefPtr<ProtocolConfigurationAccessor> applicationConfigurationAccessor() {
  // Lives until the process ends; never released during static destruction.
  static auto* accessor =
      new Processor::RefPtr<ProtocolConfigurationAccessor>(Processor::makeRef<ProtocolConfigurationAccessorImpl>());
  return *accessor;
}

}  // namespace LiveUpdate
