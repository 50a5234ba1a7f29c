// Library-side certificate objects, for the TLS client and the stores. Only
// the OpenSSL type names are declared here, so the header stays light.
#pragma once

#include <memory>
#include <vector>

#include "network/ssl/certificate.h"

typedef struct x509_st X509;
typedef struct evp_pkey_st EVP_PKEY;
typedef struct ssl_st SSL;
class ri_file;

namespace Network {

using CertificateList = std::vector<std::unique_ptr<CertificateObject>>;

// Takes copies of the certificate and the key (either may be shared with the
// caller afterwards); the origin is cloned. With a session, the chain holds
// copies of the peer's chain as it was sent.
std::unique_ptr<CertificateObject> makeCertificateObject(X509* certificate, EVP_PKEY* key, const Uri* origin,
                                                         int verifyError, SSL* session = nullptr);

// The key of a key blob (u32 type, DER); null for an unknown type or bad bytes.
EVP_PKEY* keyFromBlob(const Bytes& blob, bool& unknownType);

void loadPemCertificates(ri_file* file, const Uri& origin, CertificateList& out);
// Every PEM file below a folder (a Windows path); throws 0x30406 when it is missing.
void scanCertificateDirectory(const std::u16string& folder, CertificateList& out);

// An iterator over a list it owns.
std::unique_ptr<CertIterator<CertificateObject>> listIterator(CertificateList list);

}  // namespace Network
