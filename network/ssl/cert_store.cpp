#include "network/ssl/cert_store.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <vector>

#include "network/ssl/openssl_certificate.h"
#include "network/uri.h"
#include "platform/win32/windows.h"

namespace Network {
namespace {

Common::Error withCause(std::uint64_t site, std::uint32_t code, DWORD lastError, const char16_t* text = nullptr) {
  Common::Error e = text ? Common::Error(site, code, text) : Common::Error(site, code);
  if (lastError & 0x80000000u)
    e.setHResultCause(static_cast<std::int32_t>(lastError));
  else
    e.setWin32Cause(lastError);
  return e;
}

[[noreturn]] void raiseLast(std::uint64_t site, std::uint32_t code, const char16_t* text = nullptr) {
  throw withCause(site, code, GetLastError(), text);
}

class CertificateImpl : public CertificateObject {
 public:
  CertificateImpl(PCCERT_CONTEXT context, const Uri* origin)
      : context_(context), origin_(origin ? origin->clone() : nullptr) {}
  ~CertificateImpl() override {
    CertFreeCertificateContext(context_);
  }

  CertificateObject* clone() const override {
    return new CertificateImpl(CertDuplicateCertificateContext(context_), origin_.get());
  }

  std::u16string displayName() override {
    char16_t buffer[1024] = {};
    CertGetNameStringW(context_, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, buffer, 1024);
    return buffer;
  }

  bool isTrusted() override { return chainStatus().dwErrorStatus == 0; }
  bool isSelfSigned() override { return (chainStatus().dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) != 0; }
  bool isTimeInvalid() override {
    return (chainStatus().dwErrorStatus & (CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED)) != 0;
  }

  bool hasPrivateKey() override {
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
    DWORD spec = 0;
    BOOL callerFree = FALSE;
    return CryptAcquireCertificatePrivateKey(context_, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &key, &spec, &callerFree);
  }

  KeyData* privateKey() override {
    HCERTSTORE memory = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (!memory) memory = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    if (!memory) raiseLast(KV_SITE, 0x303F0);
    if (!CertAddCertificateContextToStore(memory, context_, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      DWORD last = GetLastError();
      CertCloseStore(memory, 0);
      throw withCause(KV_SITE, 0x303F0, last);
    }
    CRYPT_DATA_BLOB blob{0, nullptr};
    PFXExportCertStoreEx(memory, &blob, u"", nullptr, EXPORT_PRIVATE_KEYS);
    std::vector<BYTE> bytes(blob.cbData);
    blob.pbData = bytes.data();
    if (!PFXExportCertStoreEx(memory, &blob, u"", nullptr, EXPORT_PRIVATE_KEYS)) {
      DWORD last = GetLastError();
      CertCloseStore(memory, 0);
      throw withCause(KV_SITE, 0x303F0, last);
    }
    CertCloseStore(memory, 0);
    BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(blob.cbData));
    if (!bio) throw Common::Error(KV_SITE, 0x30002, "Memory BIO was failed to create.");
    PKCS12* p12 = d2i_PKCS12_bio(bio, nullptr);
    BIO_free(bio);
    if (!p12) {
      ERR_clear_error();
      throw Common::Error(KV_SITE, 0x303FC);
    }
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    int parsed = PKCS12_parse(p12, "", &key, &cert, nullptr);
    PKCS12_free(p12);
    ERR_clear_error();
    if (parsed != 1 || !key || !cert) {
      EVP_PKEY_free(key);
      X509_free(cert);
      throw withCause(KV_SITE, 0x303F0, CRYPT_E_NO_KEY_PROPERTY);
    }
    std::unique_ptr<CertificateObject> temporary;
    try {
      temporary = makeCertificateObject(cert, key, nullptr, 0);
    } catch (...) {
      EVP_PKEY_free(key);
      X509_free(cert);
      throw;
    }
    EVP_PKEY_free(key);
    X509_free(cert);
    return temporary->privateKey();
  }

  std::u16string locator() override {
    if (!origin_) return {};
    return origin_->text() + u"#" + thumbprintTextCached();
  }

  void encoded(Bytes& der) override { der.assign(context_->pbCertEncoded, context_->pbCertEncoded + context_->cbCertEncoded); }

  std::u16string issuer() override { return name(CERT_NAME_ISSUER_FLAG); }
  std::u16string subject() override { return name(0); }

  void validity(std::int64_t& notBefore, std::int64_t& notAfter) override {
    const unsigned char* p = context_->pbCertEncoded;
    X509* x = d2i_X509(nullptr, &p, context_->cbCertEncoded);
    if (!x) {
      ERR_clear_error();
      notBefore = notAfter = 0;
      return;
    }
    auto ms = [](const ASN1_TIME* t) {
      return certificateTimeMs(ASN1_STRING_type(t), reinterpret_cast<const char*>(ASN1_STRING_get0_data(t)),
                               static_cast<std::size_t>(ASN1_STRING_length(t)));
    };
    try {
      notBefore = ms(X509_get0_notBefore(x));
      notAfter = ms(X509_get0_notAfter(x));
    } catch (...) {
      X509_free(x);
      throw;
    }
    X509_free(x);
  }

  void thumbprint(Bytes& sha1) override {
    BYTE small[20];
    DWORD size = sizeof small;
    if (CertGetCertificateContextProperty(context_, CERT_SHA1_HASH_PROP_ID, small, &size)) {
      sha1.assign(small, small + size);
      return;
    }
    if (GetLastError() != 234) raiseLast(KV_SITE, 0x303F2);
    std::vector<BYTE> large(size);
    if (!CertGetCertificateContextProperty(context_, CERT_SHA1_HASH_PROP_ID, large.data(), &size))
      raiseLast(KV_SITE, 0x303F2);
    sha1.assign(large.begin(), large.begin() + size);
  }

  bool extensions(ExtensionList& list) override {
    const unsigned char* p = context_->pbCertEncoded;
    X509* x = d2i_X509(nullptr, &p, context_->cbCertEncoded);
    if (!x) {
      ERR_clear_error();
      return false;  // a decoding failure is reported by the result alone
    }
    list.clear();
    int index = X509_get_ext_by_NID(x, NID_netscape_comment, -1);
    if (index >= 0) {
      auto* comment = static_cast<ASN1_IA5STRING*>(X509V3_EXT_d2i(X509_get_ext(x, index)));
      if (comment) {
        std::u16string value;
        const unsigned char* d = ASN1_STRING_get0_data(comment);
        for (int i = 0; i < ASN1_STRING_length(comment); ++i) value.push_back(d[i]);
        list.emplace_back(u"nsComment", value);
        ASN1_IA5STRING_free(comment);
      }
    }
    ERR_clear_error();
    X509_free(x);
    return true;
  }

  CertIterator<CertificateObject>* chainOfTrust() override;

  void addChainCertificate(const Bytes&) override {}

 private:
  const CERT_TRUST_STATUS& chainStatus() {
    if (status_.dwErrorStatus == 0xFFFFFFFFu) {
      PCCERT_CHAIN_CONTEXT chain = buildChain();
      status_ = chain->TrustStatus;
      CertFreeCertificateChain(chain);
    }
    return status_;
  }

  std::u16string name(DWORD flags) {
    DWORD type = CERT_X500_NAME_STR;
    DWORD n = CertGetNameStringW(context_, CERT_NAME_RDN_TYPE, flags, &type, nullptr, 0);
    std::u16string out(n, u'\0');
    CertGetNameStringW(context_, CERT_NAME_RDN_TYPE, flags, &type, out.data(), n);
    out.resize(n ? n - 1 : 0);
    return out;
  }

  std::u16string thumbprintTextCached() {
    if (thumbprintText_.empty()) {
      Bytes sha1;
      thumbprint(sha1);
      thumbprintText_ = thumbprintText(sha1);
    }
    return thumbprintText_;
  }

 public:
  PCCERT_CHAIN_CONTEXT buildChain() {
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, context_, nullptr, nullptr, &para, 0, nullptr, &chain))
      raiseLast(KV_SITE, 0x303F1);
    return chain;
  }

 private:
  PCCERT_CONTEXT context_;
  std::unique_ptr<Uri> origin_;
  std::u16string thumbprintText_;
  CERT_TRUST_STATUS status_{0xFFFFFFFFu, 0};
};

class ChainOfTrust : public CertIterator<CertificateObject> {
 public:
  ChainOfTrust(PCCERT_CHAIN_CONTEXT chain, const Uri* origin)
      : chain_(chain), origin_(origin ? origin->clone() : nullptr) {
    if (chain_->cChain == 0 || chain_->rgpChain[0]->cElement == 0) {
      CertFreeCertificateChain(chain_);
      chain_ = nullptr;
      throw Common::Error(KV_SITE, 0x30002, u"Certificate chain is empty");
    }
    settle();
  }
  ~ChainOfTrust() override {
    current_.reset();
    if (chain_) CertFreeCertificateChain(chain_);
  }
  void next() override {
    current_.reset();
    if (!context_) return;
    if (++element_ >= chain_->rgpChain[simple_]->cElement) {
      element_ = 0;
      ++simple_;
    }
    settle();
  }
  bool isValid() override { return context_ != nullptr; }
  CertificateObject* current() override { return current_.get(); }
  const CertificateObject* current() const override { return current_.get(); }

 private:
  void settle() {
    context_ = nullptr;
    while (simple_ < chain_->cChain && element_ >= chain_->rgpChain[simple_]->cElement) {
      element_ = 0;
      ++simple_;
    }
    if (simple_ >= chain_->cChain) return;
    context_ = chain_->rgpChain[simple_]->rgpElement[element_]->pCertContext;
    current_ = std::make_unique<CertificateImpl>(CertDuplicateCertificateContext(context_), origin_.get());
  }

  PCCERT_CHAIN_CONTEXT chain_;
  PCCERT_CONTEXT context_ = nullptr;
  DWORD simple_ = 0;
  DWORD element_ = 0;
  std::unique_ptr<CertificateImpl> current_;
  std::unique_ptr<Uri> origin_;
};

CertIterator<CertificateObject>* CertificateImpl::chainOfTrust() {
  return new ChainOfTrust(buildChain(), origin_.get());
}

class WinCertFolders : public CertIterator<CertificateFolder> {
 public:
  // Lists no folders, for any location.
  explicit WinCertFolders(std::uint32_t) {}
  void next() override {}
  bool isValid() override { return false; }
  CertificateFolder* current() override { return nullptr; }
  const CertificateFolder* current() const override { return nullptr; }
};

class CertificateStore : public CertificateFolder, public CertIterator<CertificateObject> {
 public:
  // Opens the system store a locator names.
  CertificateStore(const Uri& uri, bool readOnly) : origin_(uri.clone()), readOnly_(readOnly) {
    origin_->removeFragment();
    storeName_ = uri.query();
    locationName_ = uri.path();
    DWORD flags = systemStoreLocation(locationName_) | CERT_STORE_OPEN_EXISTING_FLAG |
                  CERT_STORE_SET_LOCALIZED_NAME_FLAG | (readOnly ? CERT_STORE_READONLY_FLAG : 0);
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, flags, storeName_.c_str());
    if (!store_) raiseLast(KV_SITE, 0x303E9);
    if (!readLocalizedName()) {
      DWORD last = GetLastError();
      CertCloseStore(store_, 0);
      throw withCause(KV_SITE, 0x303E9, last);
    }
    first();
  }
  // Takes over an open store.
  CertificateStore(HCERTSTORE store, const Uri* uri, bool readOnly)
      : origin_(uri ? uri->clone() : nullptr), store_(store), readOnly_(readOnly) {
    if (origin_) {
      origin_->removeFragment();
      storeName_ = origin_->query();
      locationName_ = origin_->path();
    }
    readLocalizedName();
    first();
  }
  ~CertificateStore() override {
    current_.reset();
    if (context_) CertFreeCertificateContext(context_);
    CertCloseStore(store_, 0);
  }

  CertificateFolder* clone() const override {
    return new CertificateStore(CertDuplicateStore(store_), origin_.get(), readOnly_);
  }
  std::u16string displayName() override { return displayName_; }
  const Uri* locator() override { return origin_.get(); }
  CertIterator<CertificateFolder>* folders() override {
    std::uint32_t location = 0;
    try {
      location = systemStoreLocation(locationName_);
    } catch (const Common::Error&) {
    }
    return new WinCertFolders(location);
  }
  CertIterator<CertificateObject>* certificates() override {
    return new CertificateStore(CertDuplicateStore(store_), origin_.get(), readOnly_);
  }

  CertificateObject* addCertificate(const Bytes& der) override {
    if (der.empty()) return nullptr;
    if (readOnly_) throw Common::Error(KV_SITE, 0x303ED, u"Unable to add certificate to read-only store");
    PCCERT_CONTEXT created =
        CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (!created) throw Common::Error(KV_SITE, 0x303EC);
    PCCERT_CONTEXT stored = nullptr;
    BOOL ok = CertAddCertificateContextToStore(store_, created, CERT_STORE_ADD_REPLACE_EXISTING, &stored);
    DWORD last = GetLastError();
    CertFreeCertificateContext(created);
    if (!ok) throw withCause(KV_SITE, 0x303ED, last, u"Add certificate failed");
    return new CertificateImpl(stored, nullptr);
  }

  bool removeCertificate(const Bytes& sha1) override {
    if (sha1.empty()) return false;
    if (readOnly_) throw Common::Error(KV_SITE, 0x303EE, u"Unable to delete certificate from read-only store");
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(sha1.size()), const_cast<BYTE*>(sha1.data())};
    PCCERT_CONTEXT found = CertFindCertificateInStore(store_, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (!found) return false;
    if (!CertDeleteCertificateFromStore(found))
      raiseLast(KV_SITE, 0x303EE, u"Delete certificate failed");
    return true;
  }

  void next() override {
    current_.reset();
    if (!context_) return;
    context_ = CertEnumCertificatesInStore(store_, context_);
    wrap();
  }
  bool isValid() override { return context_ != nullptr; }
  CertificateObject* current() override { return current_.get(); }
  const CertificateObject* current() const override { return current_.get(); }

 private:
  bool readLocalizedName() {
    char16_t buffer[1024];
    DWORD size = sizeof buffer;
    if (!CertGetStoreProperty(store_, CERT_STORE_LOCALIZED_NAME_PROP_ID, buffer, &size)) return false;
    displayName_.assign(buffer, size / sizeof(char16_t));
    while (!displayName_.empty() && displayName_.back() == 0) displayName_.pop_back();
    return true;
  }
  void first() {
    context_ = CertEnumCertificatesInStore(store_, nullptr);
    wrap();
  }
  void wrap() {
    if (context_) current_ = std::make_unique<CertificateImpl>(CertDuplicateCertificateContext(context_), origin_.get());
  }

  std::unique_ptr<Uri> origin_;
  std::u16string displayName_;
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT context_ = nullptr;
  std::unique_ptr<CertificateImpl> current_;
  std::u16string storeName_;
  std::u16string locationName_;
  bool readOnly_;
};

}  // namespace

std::uint32_t systemStoreLocation(const std::u16string& name) {
  static const struct {
    const char16_t* name;
    std::uint32_t flag;
  } table[] = {{u"CU", 0x10000}, {u"CS", 0x40000},   {u"LM", 0x20000},   {u"LMGP", 0x80000},
               {u"CUGP", 0x70000}, {u"SVCS", 0x50000}, {u"USRS", 0x60000}, {u"LME", 0x90000}};
  for (const auto& row : table)
    if (name == row.name) return row.flag;
  throw Common::Error(KV_SITE, 0x30002);
}

std::unique_ptr<CertificateFolder> openCertificateStore(const Uri& uri, bool readOnly) {
  return std::make_unique<CertificateStore>(uri, readOnly);
}

Common::Error importPfxCertificates(const Uri& uri, PasswordProvider* provider,
                                    std::unique_ptr<CertIterator<CertificateObject>>& out) {
  HANDLE file = CreateFileW(uri.path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return withCause(KV_SITE, 0x303E9, GetLastError());
  LARGE_INTEGER size{};
  std::vector<BYTE> bytes;
  bool read = GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart < (1LL << 30);
  if (read) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    read = bytes.empty() || (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                             got == bytes.size());
  }
  DWORD last = GetLastError();
  CloseHandle(file);
  if (!read) return withCause(KV_SITE, 0x303E9, last);
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), bytes.data()};
  if (!PFXIsPFXBlob(&blob)) return withCause(KV_SITE, 0x303E9, GetLastError());
  DWORD flags = CRYPT_EXPORTABLE | CRYPT_USER_KEYSET;
  HCERTSTORE store = PFXImportCertStore(&blob, nullptr, flags);
  if (!store) store = PFXImportCertStore(&blob, u"", flags);
  std::u16string password;
  if (!store && provider && provider->password(password)) store = PFXImportCertStore(&blob, password.c_str(), flags);
  if (!store) return withCause(KV_SITE, 0x303E9, GetLastError());
  out = std::make_unique<CertificateStore>(store, &uri, true);
  return Common::Error();
}

Common::Error openCertificateFileStore(const Uri& uri, std::unique_ptr<CertIterator<CertificateObject>>& out) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_FILENAME_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                   CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, uri.path().c_str());
  if (!store) return withCause(KV_SITE, 0x303E9, GetLastError());
  out = std::make_unique<CertificateStore>(store, &uri, true);
  return Common::Error();
}

}  // namespace Network
