// The TLS client: wraps a connected stream in a TLS session and is itself a
// stream, so that "https" servers are talked to exactly as plain ones.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/error.h"
#include "network/ssl/certificate.h"
#include "network/stream_socket.h"

namespace Network {

struct CertificateCheckInfo {
  // The library's verification error of the certificate; -1 when it verified.
  std::int32_t error;
  // Failed: the error depth. Verified: 0 for the peer's own certificate, -1
  // for any other certificate of the chain.
  std::int32_t depth;
  // 3: failed verification; 1: verified, shown because every certificate is asked about.
  std::uint32_t reason;
};

// Asked about each server certificate that the library rejects; called on
// the handshaking thread.
class CheckCertificateCallback {
 public:
  virtual ~CheckCertificateCallback() = default;
  // True accepts the certificate.
  virtual bool check(CertificateObject* certificate, const CertificateCheckInfo& info) = 0;
  virtual bool checkEveryCertificate() { return false; }
};

struct SSLSettings {
  // 0 to 3: whether an own certificate is presented and the peer verified.
  // 2, the default, verifies the server against the machine's trusted roots
  // and `serverName`.
  std::uint32_t policy = 2;
  std::shared_ptr<CheckCertificateCallback> checkCallback;
  // Locator of the own certificate; `certificate` takes precedence.
  std::u16string certificateLocator;
  std::shared_ptr<CertificateObject> certificate;
  // 0 library default, 1 anonymous DH, 2 all but anonymous DH, 3 DHE-RSA first.
  std::uint32_t cipherKind = 0;
  // The server's host name: sent for name-based hosting and, when the peer is
  // verified, checked against its certificate. A client that verifies needs
  // one (the failed check "!settings.serverName.empty()" otherwise).
  std::string serverName;
};

class SSLClient : public virtual StreamSocket {
 public:
  // A new session over the same transport, from the stored settings.
  virtual void reconnect() = 0;
};

// Takes over `transport` (deleted also on failure) and returns the client
// with the handshake done. Throws Common::Error; a refused server certificate
// gives 0x30412 "SSL connection failed." caused by 0x30408, whose text names
// the verification result ("certificate has expired", "hostname mismatch" …).
// `receive` throws 0x30412 when the stream breaks off or ends without the
// peer's close notification (the data may have been cut short), unless the
// connection was interrupted.
std::unique_ptr<SSLClient> createSSLClient(const SSLSettings& settings, StreamSocket* transport);

// `given` with one record (code 0x30411) per entry of the library's error
// queue as its causes, the last entry first; the queue is emptied.
Common::Error makeLibraryError(const Common::Error& given);

}  // namespace Network
