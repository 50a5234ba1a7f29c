// Certificates of the system stores, of PKCS #12 files and of certificate
// files, through the crypt32 calls of the platform layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/error.h"
#include "network/ssl/certificate.h"

namespace Network {

// The store location flag of a locator's path ("CU", "LM", ...); any other
// name throws 0x30002.
std::uint32_t systemStoreLocation(const std::u16string& name);

// The system store a "store" locator names (path: location, query: store
// name); throws 0x303E9 when it cannot be opened.
std::unique_ptr<CertificateFolder> openCertificateStore(const Uri& uri, bool readOnly);

// Both return their error rather than throwing, so that the caller can try
// the next reading.
Common::Error importPfxCertificates(const Uri& uri, PasswordProvider* provider,
                                    std::unique_ptr<CertIterator<CertificateObject>>& out);
Common::Error openCertificateFileStore(const Uri& uri, std::unique_ptr<CertIterator<CertificateObject>>& out);

}  // namespace Network
