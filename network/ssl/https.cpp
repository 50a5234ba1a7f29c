#include "network/ssl/https.h"

#include "network/http_client.h"
#include "network/ssl/ssl.h"

namespace Network {
namespace {

// Forwards to the callback of the moment; without one, a certificate the
// library rejects is refused.
class CheckCertificateCallbackProxy : public CheckCertificateCallback {
 public:
  bool check(CertificateObject* certificate, const CertificateCheckInfo& info) override {
    CheckCertificateCallback* callback = LiveUpdate::checkCertificateCallback();
    return callback && callback->check(certificate, info);
  }
  bool checkEveryCertificate() override {
    CheckCertificateCallback* callback = LiveUpdate::checkCertificateCallback();
    return callback && callback->checkEveryCertificate();
  }
};

std::unique_ptr<StreamSocket> connectTls(std::unique_ptr<TCPSocket> transport, const LiveUpdate::UriResource& target) {
  SSLSettings settings;
  settings.policy = 2;
  settings.checkCallback = std::make_shared<CheckCertificateCallbackProxy>();
  settings.cipherKind = 0;
  settings.serverName = target.host().toNarrow();
  std::unique_ptr<SSLClient> client = createSSLClient(settings, transport.release());
  return std::unique_ptr<StreamSocket>(client.release());
}

}  // namespace

void useTlsForHttps() { LiveUpdate::setTlsConnector(connectTls); }

}  // namespace Network
