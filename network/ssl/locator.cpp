#include "network/ssl/locator.h"

#include "core/error.h"
#include "network/ssl/cert_store.h"
#include "network/uri.h"

namespace Network {

std::unique_ptr<CertIterator<CertificateObject>> findCertificates(const Uri* uri, PasswordProvider* provider) {
  if (!uri) throw Common::Error(KV_SITE, 0x30406);
  if (uri->scheme() == u"store") {
    std::unique_ptr<CertificateFolder> store = openCertificateStore(*uri, true);
    return std::unique_ptr<CertIterator<CertificateObject>>(store->certificates());
  }
  if (uri->scheme() == u"file") {
    std::unique_ptr<CertIterator<CertificateObject>> out;
    if (!importPfxCertificates(*uri, provider, out)) return out;
    if (!openCertificateFileStore(*uri, out)) return out;
    return pemCertificatesAt(uri);
  }
  throw Common::Error(KV_SITE, 0x303F8);
}

std::unique_ptr<CertificateObject> findCertificate(const Uri* uri) {
  if (!uri) throw Common::Error(KV_SITE, 0x30406);
  std::unique_ptr<CertIterator<CertificateObject>> it;
  if (uri->scheme() == u"store") {
    std::unique_ptr<CertificateFolder> store = openCertificateStore(*uri, true);
    it.reset(store->certificates());
  } else if (uri->scheme() == u"file") {
    it = findCertificates(uri, nullptr);
  } else {
    throw Common::Error(KV_SITE, 0x303EB, "Unsupported scheme");
  }
  if (it->isValid() && uri->fragment().empty()) return std::unique_ptr<CertificateObject>(it->current()->clone());
  std::u16string wanted = uri->text();
  for (; it->isValid(); it->next())
    if (it->current()->locator() == wanted) return std::unique_ptr<CertificateObject>(it->current()->clone());
  throw Common::Error(KV_SITE, 0x303F3);
}

}  // namespace Network
