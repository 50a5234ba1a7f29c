#include "platform/win32/crypt32/crypt32.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/win32/testing/test_world.h"

namespace {

// A self-signed certificate and its key, made with the library.
struct Made {
  std::vector<BYTE> der;
  EVP_PKEY* key = nullptr;
  X509* x509 = nullptr;
  ~Made() {
    EVP_PKEY_free(key);
    X509_free(x509);
  }
};

void make(Made& m, const char* cn) {
  m.key = EVP_RSA_gen(2048);
  m.x509 = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(m.x509), 7);
  X509_gmtime_adj(X509_getm_notBefore(m.x509), 0);
  X509_gmtime_adj(X509_getm_notAfter(m.x509), 3600);
  X509_set_pubkey(m.x509, m.key);
  X509_NAME* name = X509_get_subject_name(m.x509);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Layer"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(m.x509, name);
  X509_sign(m.x509, m.key, EVP_sha256());
  int n = i2d_X509(m.x509, nullptr);
  m.der.resize(static_cast<std::size_t>(n));
  unsigned char* p = m.der.data();
  i2d_X509(m.x509, &p);
}

std::vector<BYTE> sha1(const Made& m) {
  std::vector<BYTE> out(20);
  unsigned int n = 0;
  X509_digest(m.x509, EVP_sha1(), out.data(), &n);
  return out;
}

class Crypt32 : public win32_test::World {
 protected:
  Crypt32() : win32_test::World("crypt32-") {}
};

TEST_F(Crypt32, SystemStoreFolderAddsFindsDeletesAndNamesItself) {
  Made a, b;
  make(a, "first");
  make(b, "second");
  // Created on demand without the open-existing flag.
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"my");
  ASSERT_TRUE(store);
  DWORD size = 0;
  EXPECT_FALSE(CertGetStoreProperty(store, CERT_STORE_LOCALIZED_NAME_PROP_ID, nullptr, &size));
  EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
  for (Made* m : {&a, &b}) {
    PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, m->der.data(), static_cast<DWORD>(m->der.size()));
    ASSERT_TRUE(c);
    PCCERT_CONTEXT stored = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_REPLACE_EXISTING, &stored));
    EXPECT_EQ(stored->hCertStore, store);
    CertFreeCertificateContext(stored);
    CertFreeCertificateContext(c);
  }
  CertCloseStore(store, 0);

  store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                        CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_SET_LOCALIZED_NAME_FLAG,
                        u"MY");
  ASSERT_TRUE(store);
  char16_t name[64];
  size = sizeof name;
  ASSERT_TRUE(CertGetStoreProperty(store, CERT_STORE_LOCALIZED_NAME_PROP_ID, name, &size));
  EXPECT_EQ(std::u16string(name), u"Personal");
  int count = 0;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c; c = CertEnumCertificatesInStore(store, c)) ++count;
  EXPECT_EQ(count, 2);

  std::vector<BYTE> hash = sha1(b);
  CRYPT_HASH_BLOB blob{20, hash.data()};
  PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
  ASSERT_TRUE(found);
  EXPECT_EQ(std::vector<BYTE>(found->pbCertEncoded, found->pbCertEncoded + found->cbCertEncoded), b.der);
  char16_t text[64];
  CertGetNameStringW(found, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, text, 64);
  EXPECT_EQ(std::u16string(text), u"second");
  DWORD type = CERT_X500_NAME_STR;
  CertGetNameStringW(found, CERT_NAME_RDN_TYPE, CERT_NAME_ISSUER_FLAG, &type, text, 64);
  EXPECT_EQ(std::u16string(text), u"O=Layer, CN=second");
  EXPECT_TRUE(CertDeleteCertificateFromStore(found));
  EXPECT_FALSE(CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr));
  CertCloseStore(store, 0);

  // The deletion reached the folder.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir_ + "/world/certstores/10000/MY")) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
  EXPECT_FALSE(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG, u"MY"));
  EXPECT_EQ(GetLastError(), 2u);
}

TEST_F(Crypt32, ReadOnlyStoreRefusesChanges) {
  Made a;
  make(a, "ro");
  std::filesystem::create_directories(dir_ + "/world/certstores/20000/CA");
  std::ofstream(dir_ + "/world/certstores/20000/CA/a.cer", std::ios::binary)
      .write(reinterpret_cast<const char*>(a.der.data()), static_cast<std::streamsize>(a.der.size()));
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, u"CA");
  ASSERT_TRUE(store);
  PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_TRUE(c);
  EXPECT_FALSE(CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
  EXPECT_FALSE(CertDeleteCertificateFromStore(CertDuplicateCertificateContext(c)));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/world/certstores/20000/CA/a.cer"));
  CertFreeCertificateContext(c);
  // A context outlives the closed store it came from.
  c = CertEnumCertificatesInStore(store, nullptr);
  CertCloseStore(store, 0);
  EXPECT_EQ(std::vector<BYTE>(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded), a.der);
  CertFreeCertificateContext(c);
}

TEST_F(Crypt32, PfxRoundTripKeepsTheKeyAndTheChainSeesTheRootFolder) {
  Made a;
  make(a, "pfx");
  HCERTSTORE memory = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  ASSERT_TRUE(memory);
  // A certificate with its key, as an import leaves it.
  PKCS12* p12 = PKCS12_create("", nullptr, a.key, a.x509, nullptr, 0, 0, 0, 0, 0);
  std::vector<BYTE> bytes(static_cast<std::size_t>(i2d_PKCS12(p12, nullptr)));
  unsigned char* p = bytes.data();
  i2d_PKCS12(p12, &p);
  PKCS12_free(p12);
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), bytes.data()};
  ASSERT_TRUE(PFXIsPFXBlob(&blob));
  EXPECT_FALSE(PFXImportCertStore(&blob, u"wrong", 0));
  EXPECT_EQ(GetLastError(), 86u);
  HCERTSTORE imported = PFXImportCertStore(&blob, u"", 0);
  ASSERT_TRUE(imported);
  PCCERT_CONTEXT c = CertEnumCertificatesInStore(imported, nullptr);
  ASSERT_TRUE(c);
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
  EXPECT_TRUE(CryptAcquireCertificatePrivateKey(c, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &key, nullptr, nullptr));

  ASSERT_TRUE(CertAddCertificateContextToStore(memory, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
  CRYPT_DATA_BLOB out{0, nullptr};
  ASSERT_TRUE(PFXExportCertStoreEx(memory, &out, u"", nullptr, EXPORT_PRIVATE_KEYS));
  std::vector<BYTE> exported(out.cbData);
  out.pbData = exported.data();
  ASSERT_TRUE(PFXExportCertStoreEx(memory, &out, u"", nullptr, EXPORT_PRIVATE_KEYS));
  const unsigned char* q = exported.data();
  PKCS12* back = d2i_PKCS12(nullptr, &q, out.cbData);
  EVP_PKEY* k = nullptr;
  X509* x = nullptr;
  ASSERT_EQ(PKCS12_parse(back, "", &k, &x, nullptr), 1);
  EXPECT_EQ(EVP_PKEY_eq(k, a.key), 1);
  EXPECT_EQ(X509_cmp(x, a.x509), 0);
  EVP_PKEY_free(k);
  X509_free(x);
  PKCS12_free(back);

  // Self-signed and not in the root folder: an untrusted root.
  std::filesystem::create_directories(dir_ + "/roots");
  ::setenv("KV_CERT_ROOT", (dir_ + "/roots").c_str(), 1);
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  ASSERT_TRUE(CertGetCertificateChain(nullptr, c, nullptr, nullptr, nullptr, 0, nullptr, &chain));
  EXPECT_TRUE(chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_UNTRUSTED_ROOT);
  EXPECT_TRUE(chain->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED);
  CertFreeCertificateChain(chain);
  FILE* f = std::fopen((dir_ + "/roots/pfx.pem").c_str(), "w");
  PEM_write_X509(f, a.x509);
  std::fclose(f);
  ASSERT_TRUE(CertGetCertificateChain(nullptr, c, nullptr, nullptr, nullptr, 0, nullptr, &chain));
  EXPECT_EQ(chain->TrustStatus.dwErrorStatus, 0u);
  ASSERT_EQ(chain->cChain, 1u);
  EXPECT_EQ(chain->rgpChain[0]->cElement, 1u);
  CertFreeCertificateChain(chain);
  ::unsetenv("KV_CERT_ROOT");

  CertFreeCertificateContext(c);
  CertCloseStore(imported, 0);
  CertCloseStore(memory, 0);
}

}  // namespace
