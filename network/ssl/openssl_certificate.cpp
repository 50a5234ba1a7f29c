#include "network/ssl/openssl_certificate.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <string>

#include "core/error.h"
#include "files/file_object.h"
#include "files/windows_dir.h"
#include "network/uri.h"
#include "platform/win32/windows.h"

namespace Network {
namespace {

[[noreturn]] void raise(std::uint64_t site, std::uint32_t code) { throw Common::Error(site, code); }

std::u16string widen(const char* s, std::size_t n = std::string::npos) {
  std::u16string out;
  for (std::size_t i = 0; s && i < n && s[i]; ++i) out.push_back(static_cast<unsigned char>(s[i]));
  return out;
}

std::string narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(static_cast<char>(c));
  return out;
}

X509* copyCertificate(X509* x) {
  X509* copy = x ? X509_dup(x) : nullptr;
  if (!copy) raise(KV_SITE, 0x303F6);
  return copy;
}

Bytes sha1Of(X509* x) {
  Bytes out(20);
  unsigned int n = 0;
  X509_digest(x, EVP_sha1(), out.data(), &n);
  return out;
}

std::u16string oneLine(X509_NAME* name) {
  char buffer[256] = {};
  if (!name || !X509_NAME_oneline(name, buffer, sizeof buffer)) return {};
  return widen(buffer);
}

class KeyDataImpl : public KeyData {
 public:
  explicit KeyDataImpl(Bytes blob) : blob_(std::move(blob)) {}
  bool keyBytes(Bytes& der) override {
    if (blob_.size() <= 4) return false;
    der.assign(blob_.begin() + 4, blob_.end());
    return true;
  }
  std::uint32_t keyType() override {
    if (blob_.size() < 4) return 0;
    return blob_[0] | blob_[1] << 8 | blob_[2] << 16 | static_cast<std::uint32_t>(blob_[3]) << 24;
  }
  void blob(Bytes& out) override { out = blob_; }

 private:
  Bytes blob_;
};

class CertificateObjectImpl;

class X509ChainOfTrust : public CertIterator<CertificateObject> {
 public:
  explicit X509ChainOfTrust(std::vector<X509*> chain) : chain_(std::move(chain)) {}
  ~X509ChainOfTrust() override {
    for (X509* x : chain_) X509_free(x);
  }
  void next() override {
    current_.reset();
    if (position_ < chain_.size()) ++position_;
  }
  bool isValid() override { return position_ < chain_.size(); }
  CertificateObject* current() override {
    if (!current_ && position_ < chain_.size())
      current_ = makeCertificateObject(chain_[position_], nullptr, nullptr, 0);
    return current_.get();
  }
  const CertificateObject* current() const override { return current_.get(); }

 private:
  std::vector<X509*> chain_;
  std::size_t position_ = 0;
  std::unique_ptr<CertificateObject> current_;
};

class CertIteratorImpl : public CertIterator<CertificateObject> {
 public:
  explicit CertIteratorImpl(CertificateList list) : list_(std::move(list)) {}
  void next() override {
    if (position_ < list_.size()) ++position_;
  }
  bool isValid() override { return position_ < list_.size(); }
  CertificateObject* current() override { return position_ < list_.size() ? list_[position_].get() : nullptr; }
  const CertificateObject* current() const override {
    return position_ < list_.size() ? list_[position_].get() : nullptr;
  }

 private:
  CertificateList list_;
  std::size_t position_ = 0;
};

class CertificateObjectImpl : public CertificateObject {
 public:
  CertificateObjectImpl(X509* certificate, EVP_PKEY* key, const Uri* origin, int verifyError)
      : certificate_(certificate), key_(key), verifyError_(verifyError), origin_(origin ? origin->clone() : nullptr) {}
  ~CertificateObjectImpl() override {
    X509_free(certificate_);
    EVP_PKEY_free(key_);
    for (X509* x : chain_) X509_free(x);
  }

  void takeChainOf(SSL* session) {
    STACK_OF(X509)* sent = SSL_get_peer_cert_chain(session);
    for (int i = 0; sent && i < sk_X509_num(sent); ++i) chain_.push_back(copyCertificate(sk_X509_value(sent, i)));
  }

  CertificateObject* clone() const override {
    X509* copy = copyCertificate(certificate_);
    EVP_PKEY* key = nullptr;
    if (key_) {
      key = EVP_PKEY_dup(key_);
      if (!key) {
        X509_free(copy);
        raise(KV_SITE, 0x303F6);
      }
    }
    return new CertificateObjectImpl(copy, key, origin_.get(), 0);
  }

  std::u16string displayName() override {
    std::u16string line = oneLine(X509_get_subject_name(certificate_));
    if (!line.empty()) return line;
    X509_NAME* name = X509_get_subject_name(certificate_);
    for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
      char text[1024] = {};
      if (X509_NAME_get_text_by_NID(name, nid, text, sizeof text) > 0) return widen(text);
    }
    return {};
  }

  bool isTrusted() override { return verifyError_ == 0; }
  bool isSelfSigned() override { return X509_check_issued(certificate_, certificate_) == X509_V_OK; }
  bool isTimeInvalid() override {
    return verifyError_ == X509_V_ERR_CERT_NOT_YET_VALID || verifyError_ == X509_V_ERR_CERT_HAS_EXPIRED;
  }
  bool hasPrivateKey() override { return key_ != nullptr; }

  KeyData* privateKey() override {
    if (!key_) raise(KV_SITE, 0x303F0);
    int n = i2d_PrivateKey(key_, nullptr);
    if (n <= 0) raise(KV_SITE, 0x303FD);
    std::uint32_t type;
    switch (EVP_PKEY_get_base_id(key_)) {
      case EVP_PKEY_RSA:
        type = keyRsa;
        break;
      case EVP_PKEY_DH:
        type = keyDh;
        break;
      case EVP_PKEY_DSA:
        type = keyDsa;
        break;
      case EVP_PKEY_EC:
        type = keyEc;
        break;
      default:
        raise(KV_SITE, 0x303FC);
    }
    Bytes blob(4 + static_cast<std::size_t>(n));
    for (int i = 0; i < 4; ++i) blob[i] = static_cast<std::uint8_t>(type >> (8 * i));
    unsigned char* p = blob.data() + 4;
    i2d_PrivateKey(key_, &p);
    return new KeyDataImpl(std::move(blob));
  }

  std::u16string locator() override {
    if (!certificate_ || !origin_) raise(KV_SITE, 0x30406);
    return u"file:///" + origin_->path() + u"#" + thumbprintText(sha1Of(certificate_));
  }

  void encoded(Bytes& der) override {
    int n = i2d_X509(certificate_, nullptr);
    if (n < 1) raise(KV_SITE, 0x303F5);
    der.resize(static_cast<std::size_t>(n));
    unsigned char* p = der.data();
    i2d_X509(certificate_, &p);
  }

  std::u16string issuer() override { return oneLine(X509_get_issuer_name(certificate_)); }
  std::u16string subject() override { return oneLine(X509_get_subject_name(certificate_)); }

  void validity(std::int64_t& notBefore, std::int64_t& notAfter) override {
    notBefore = timeOf(X509_get0_notBefore(certificate_));
    notAfter = timeOf(X509_get0_notAfter(certificate_));
  }

  void thumbprint(Bytes& sha1) override { sha1 = sha1Of(certificate_); }

  bool extensions(ExtensionList& list) override {
    int count = X509_get_ext_count(certificate_);
    for (int i = 0; i < count; ++i) {
      X509_EXTENSION* ext = X509_get_ext(certificate_, i);
      ASN1_OBJECT* object = X509_EXTENSION_get_object(ext);
      const char* shortName = OBJ_nid2sn(OBJ_obj2nid(object));
      char oid[128] = {};
      if (!shortName || OBJ_obj2nid(object) == NID_undef) {
        OBJ_obj2txt(oid, sizeof oid, object, 1);
        shortName = oid;
      }
      list.emplace_back(widen(shortName), valueText(X509_EXTENSION_get_data(ext)));
    }
    return count > 0;
  }

  CertIterator<CertificateObject>* chainOfTrust() override {
    std::vector<X509*> copies;
    try {
      for (X509* x : chain_) copies.push_back(copyCertificate(x));
    } catch (...) {
      for (X509* x : copies) X509_free(x);
      throw;
    }
    return new X509ChainOfTrust(std::move(copies));
  }

  void addChainCertificate(const Bytes& der) override {
    const unsigned char* p = der.data();
    X509* x = der.empty() ? nullptr : d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (!x) {
      std::string text = "CertDeserializer: failed restore certificate from DER data!: \n";
      while (unsigned long e = ERR_get_error()) {
        char line[120] = {};
        ERR_error_string_n(e, line, sizeof line);
        text += line;
        text += "\n";
      }
      throw Common::Error(KV_SITE, 0x30411, text.c_str());
    }
    chain_.push_back(x);
  }

 private:
  static std::int64_t timeOf(const ASN1_TIME* t) {
    if (!t) throw Common::Error(KV_SITE, 0x30002);
    return certificateTimeMs(ASN1_STRING_type(t), reinterpret_cast<const char*>(ASN1_STRING_get0_data(t)),
                             static_cast<std::size_t>(ASN1_STRING_length(t)));
  }

  // A string value's own characters; for other values the bytes after the
  // two-byte header, within the value's length, up to a NUL.
  static std::u16string valueText(const ASN1_OCTET_STRING* value) {
    const unsigned char* data = ASN1_STRING_get0_data(value);
    long length = ASN1_STRING_length(value);
    const unsigned char* p = data;
    ASN1_TYPE* inner = d2i_ASN1_TYPE(nullptr, &p, length);
    std::u16string out;
    if (inner) {
      int type = ASN1_TYPE_get(inner);
      if (type == V_ASN1_IA5STRING || type == V_ASN1_UTF8STRING || type == V_ASN1_PRINTABLESTRING ||
          type == V_ASN1_VISIBLESTRING || type == V_ASN1_T61STRING || type == V_ASN1_BMPSTRING) {
        unsigned char* utf8 = nullptr;
        int n = ASN1_STRING_to_UTF8(&utf8, inner->value.asn1_string);
        if (n >= 0) {
          // Widening byte by byte, as the other library texts are.
          out = widen(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(n));
          OPENSSL_free(utf8);
        }
        ASN1_TYPE_free(inner);
        return out;
      }
      ASN1_TYPE_free(inner);
    }
    ERR_clear_error();
    if (length > 2) out = widen(reinterpret_cast<const char*>(data + 2), static_cast<std::size_t>(length - 2));
    return out;
  }

  X509* certificate_;
  EVP_PKEY* key_;
  int verifyError_;
  std::vector<X509*> chain_;
  std::unique_ptr<Uri> origin_;
};

// BIO over an ri_file that serves line reads only.
int riGets(BIO* bio, char* buffer, int size) {
  auto* file = static_cast<ri_file*>(BIO_get_data(bio));
  if (!file || size <= 1) return 0;
  std::uint32_t count = 0;
  file->read(buffer, static_cast<std::uint32_t>(size - 1), count);
  if (count == 0 || buffer[0] == '\0') return 0;
  std::uint32_t kept = 0;
  while (kept < count && buffer[kept] != '\n') ++kept;
  if (kept < count) ++kept;  // the line feed stays
  buffer[kept] = '\0';
  if (kept < count) file->seek_cur(-static_cast<std::int64_t>(count - kept));
  return static_cast<int>(kept);
}

long riControl(BIO*, int command, long, void*) {
  switch (command) {
    case BIO_CTRL_RESET:
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
      return 1;
    default:
      return 0;
  }
}

int riCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* riFileMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ri_file");
    BIO_meth_set_gets(m, riGets);
    BIO_meth_set_ctrl(m, riControl);
    BIO_meth_set_create(m, riCreate);
    return m;
  }();
  return method;
}

bool isDigits(const char* s, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int number(const char* s, std::size_t n) {
  int v = 0;
  for (std::size_t i = 0; i < n; ++i) v = v * 10 + (s[i] - '0');
  return v;
}

bool leapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1970-01-01 to the first of the given month (proleptic Gregorian).
std::int64_t daysBefore(std::int64_t year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::int64_t total = 0;
  for (std::int64_t y = 1970; y < year; ++y) total += leapYear(y) ? 366 : 365;
  for (std::int64_t y = year; y < 1970; ++y) total -= leapYear(y) ? 366 : 365;
  for (int m = 1; m < month; ++m) total += days[m - 1] + (m == 2 && leapYear(year) ? 1 : 0);
  return total;
}

}  // namespace

std::u16string thumbprintText(const Bytes& sha1) {
  static const char digits[] = "0123456789ABCDEF";
  std::u16string out;
  for (std::uint8_t b : sha1) {
    out.push_back(static_cast<char16_t>(digits[b >> 4]));
    out.push_back(static_cast<char16_t>(digits[b & 15]));
  }
  return out;
}

std::int64_t certificateTimeMs(int type, const char* text, std::size_t length) {
  int year, month, day, hour, minute, second = 0;
  std::size_t at;
  if (type == V_ASN1_UTCTIME) {
    if (!text || length < 10 || !isDigits(text, 10)) raise(KV_SITE, 0x30002);
    year = number(text, 2);
    year += year < 50 ? 2000 : 1900;
    at = 2;
  } else if (type == V_ASN1_GENERALIZEDTIME) {
    if (!text || length < 12 || !isDigits(text, 12)) raise(KV_SITE, 0x30002);
    year = number(text, 4);
    at = 4;
  } else {
    raise(KV_SITE, 0x30002);
  }
  month = number(text + at, 2);
  day = number(text + at + 2, 2);
  hour = number(text + at + 4, 2);
  minute = number(text + at + 6, 2);
  if (month < 1 || month > 12) raise(KV_SITE, 0x30002);
  if (length >= at + 10 && isDigits(text + at + 8, 2)) second = number(text + at + 8, 2);
  // Times ending in "Z" are UTC already; others carry no zone and are read as
  // UTC too, so both store sides agree.
  std::int64_t days = daysBefore(year, month) + (day - 1);
  return days * 86400000LL + hour * 3600000LL + minute * 60000LL + second * 1000LL;
}

std::unique_ptr<CertificateObject> makeCertificateObject(X509* certificate, EVP_PKEY* key, const Uri* origin,
                                                         int verifyError, SSL* session) {
  X509* copy = copyCertificate(certificate);
  EVP_PKEY* keyCopy = nullptr;
  if (key) {
    keyCopy = EVP_PKEY_dup(key);
    if (!keyCopy) {
      X509_free(copy);
      raise(KV_SITE, 0x303F6);
    }
  }
  auto object = std::make_unique<CertificateObjectImpl>(copy, keyCopy, origin, verifyError);
  if (session) object->takeChainOf(session);
  return object;
}

EVP_PKEY* keyFromBlob(const Bytes& blob, bool& unknownType) {
  unknownType = false;
  if (blob.size() < 4) return nullptr;
  std::uint32_t type = blob[0] | blob[1] << 8 | blob[2] << 16 | static_cast<std::uint32_t>(blob[3]) << 24;
  int id;
  switch (type) {
    case keyRsa:
    case keyRsa2:
      id = EVP_PKEY_RSA;
      break;
    case keyDsa:
    case keyDsa2:
      id = EVP_PKEY_DSA;
      break;
    case keyDh:
      id = EVP_PKEY_DH;
      break;
    default:
      unknownType = true;
      return nullptr;
  }
  const unsigned char* p = blob.data() + 4;
  return d2i_PrivateKey(id, nullptr, &p, static_cast<long>(blob.size() - 4));
}

void loadPemCertificates(ri_file* file, const Uri& origin, CertificateList& out) {
  BIO* bio = BIO_new(riFileMethod());
  if (!bio) raise(KV_SITE, 0x303EB);
  BIO_set_data(bio, file);
  STACK_OF(X509_INFO)* entries = PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (!entries) {
    ERR_clear_error();
    raise(KV_SITE, 0x303E9);
  }
  std::string wanted;
  if (!origin.fragment().empty()) wanted = narrow(origin.fragment().substr(0, 40));
  Common::Error failure;
  while (sk_X509_INFO_num(entries) > 0) {
    X509_INFO* entry = sk_X509_INFO_shift(entries);
    try {
      if (entry->x509 && !failure) {
        bool keep = true;
        if (!origin.fragment().empty()) keep = narrow(thumbprintText(sha1Of(entry->x509))) == wanted;
        if (keep) {
          EVP_PKEY* key = entry->x_pkey ? entry->x_pkey->dec_pkey : nullptr;
          out.push_back(makeCertificateObject(entry->x509, key, &origin, 0));
        }
      }
    } catch (const Common::Error& e) {
      failure = e;
    }
    X509_INFO_free(entry);
  }
  sk_X509_INFO_free(entries);
  ERR_clear_error();
  if (failure) throw failure;
}

void scanCertificateDirectory(const std::u16string& folder, CertificateList& out) {
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) raise(KV_SITE, 0x30406);
  std::u16string base = folder;
  if (base.back() != u'\\' && base.back() != u'/') base.push_back(u'\\');
  // Listing goes through the find calls: the file library lists only drives.
  std::vector<WIN32_FIND_DATAW> entries;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((base + u"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::u16string name = data.cFileName;
      if (name != u"." && name != u"..") entries.push_back(data);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  for (const WIN32_FIND_DATAW& entry : entries) {
    std::u16string path = base + entry.cFileName;
    try {
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        scanCertificateDirectory(path, out);
        continue;
      }
      std::unique_ptr<Uri> uri = createUri(u"file:///" + path);
      std::unique_ptr<ri_file> file(current_dir()->open_file(path.c_str(), false));
      if (file && file->Good()) loadPemCertificates(file.get(), *uri, out);
    } catch (const Common::Error&) {
      // One unreadable entry does not end the scan.
    }
  }
}

std::unique_ptr<CertIterator<CertificateObject>> listIterator(CertificateList list) {
  return std::make_unique<CertIteratorImpl>(std::move(list));
}

std::unique_ptr<CertIterator<CertificateObject>> pemCertificatesAt(const Uri* uri) {
  if (!uri) raise(KV_SITE, 0x303E9);
  if (uri->scheme() != u"file") raise(KV_SITE, 0x30406);
  CertificateList list;
  const std::u16string& path = uri->path();
  DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      scanCertificateDirectory(path, list);
    } else {
      std::unique_ptr<ri_file> file(current_dir()->open_file(path.c_str(), false));
      if (file && file->Good()) loadPemCertificates(file.get(), *uri, list);
    }
  }
  return listIterator(std::move(list));
}

}  // namespace Network
