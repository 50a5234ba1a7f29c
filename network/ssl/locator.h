// Certificate locators: "store:///LM?Root#<thumbprint>" names a certificate of
// a system store, "file:///<path>#<thumbprint>" one of a PKCS #12, certificate
// or PEM file or of a folder of PEM files.
#pragma once

#include <memory>

#include "network/ssl/certificate.h"

namespace Network {

// Every certificate the locator names, the iterator standing on the first.
std::unique_ptr<CertIterator<CertificateObject>> findCertificates(const Uri* uri, PasswordProvider* provider);
// One certificate: the first, or with a fragment the one whose own locator is
// exactly the uri's text.
std::unique_ptr<CertificateObject> findCertificate(const Uri* uri);

}  // namespace Network
