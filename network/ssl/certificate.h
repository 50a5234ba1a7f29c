// The certificate vocabulary of the network library: one certificate, a
// private key as bytes, a container of certificates and iterators over them.
// Objects are plain abstract classes handed out as owned pointers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Network {

class Uri;
class KeyData;
template <class T>
class CertIterator;

using Bytes = std::vector<std::uint8_t>;
using ExtensionList = std::vector<std::pair<std::u16string, std::u16string>>;

// Key types of a key blob.
enum KeyType : std::uint32_t { keyRsa = 1, keyRsa2 = 2, keyDsa = 3, keyDsa2 = 4, keyDh = 5, keyEc = 6 };

class CertificateObject {
 public:
  virtual ~CertificateObject() = default;
  virtual CertificateObject* clone() const = 0;
  virtual std::u16string displayName() = 0;
  virtual bool isTrusted() = 0;
  virtual bool isSelfSigned() = 0;
  virtual bool isTimeInvalid() = 0;
  virtual bool hasPrivateKey() = 0;
  virtual KeyData* privateKey() = 0;
  // The locator that names exactly this certificate (ends in "#" and the
  // thumbprint text).
  virtual std::u16string locator() = 0;
  virtual void encoded(Bytes& der) = 0;
  virtual std::u16string issuer() = 0;
  virtual std::u16string subject() = 0;
  // Milliseconds since 1 January 1970, UTC.
  virtual void validity(std::int64_t& notBefore, std::int64_t& notAfter) = 0;
  virtual void thumbprint(Bytes& sha1) = 0;
  virtual bool extensions(ExtensionList& list) = 0;
  virtual CertIterator<CertificateObject>* chainOfTrust() = 0;
  virtual void addChainCertificate(const Bytes& der) = 0;
};

class KeyData {
 public:
  // The key's DER bytes without the type; false when there are none.
  virtual bool keyBytes(Bytes& der) = 0;
  virtual std::uint32_t keyType() = 0;
  // u32 key type (little-endian) followed by the DER bytes.
  virtual void blob(Bytes& out) = 0;
  virtual ~KeyData() = default;
};

// Stands on its first element when made; the current element is borrowed
// until next() or destruction.
template <class T>
class CertIterator {
 public:
  virtual void next() = 0;
  virtual bool isValid() = 0;
  virtual T* current() = 0;
  virtual const T* current() const = 0;
  virtual ~CertIterator() = default;
};

class CertificateFolder {
 public:
  virtual CertificateFolder* clone() const = 0;
  virtual std::u16string displayName() = 0;
  virtual const Uri* locator() = 0;
  virtual CertIterator<CertificateFolder>* folders() = 0;
  virtual CertIterator<CertificateObject>* certificates() = 0;
  virtual CertificateObject* addCertificate(const Bytes& der) = 0;
  virtual bool removeCertificate(const Bytes& sha1) = 0;
  virtual ~CertificateFolder() = default;
};

// Supplies a password for a protected file; true when it gave one.
class PasswordProvider {
 public:
  virtual bool password(std::u16string& out) = 0;
  virtual ~PasswordProvider() = default;
};

// The 20 digest bytes as 40 upper-case hexadecimal digits.
std::u16string thumbprintText(const Bytes& sha1);

// Certificates of PEM files: a file (the uri's fragment, when present, keeps
// only the certificate with that thumbprint) or every file below a folder.
std::unique_ptr<CertIterator<CertificateObject>> pemCertificatesAt(const Uri* uri);

// A certificate time (ASN.1 type 23 UTCTime or 24 GeneralizedTime and its
// characters) as milliseconds since 1970 UTC. Throws 0x30002 on a bad text.
std::int64_t certificateTimeMs(int type, const char* text, std::size_t length);

}  // namespace Network
