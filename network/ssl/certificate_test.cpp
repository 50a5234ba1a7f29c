#include <openssl/asn1.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <algorithm>
#include <ctime>
#include <filesystem>

#include "core/error.h"
#include "network/ssl/cert_store.h"
#include "network/ssl/locator.h"
#include "network/ssl/openssl_certificate.h"
#include "network/ssl/test_pki.h"
#include "network/uri.h"
#include "platform/win32/testing/test_world.h"

namespace {

using Network::Bytes;
using Network::CertificateObject;
using PkiTest::Pki;

std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }
std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::uint32_t codeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Common::Error& e) {
    return e.code();
  }
  return 0;
}

std::string thumb(CertificateObject* c) {
  Bytes sha1;
  c->thumbprint(sha1);
  return narrow(Network::thumbprintText(sha1));
}

// Seconds since 1970 of a `openssl x509 -enddate`/`-startdate` answer.
std::int64_t opensslDate(const std::string& file, const char* option) {
  std::string out = PkiTest::run("openssl x509 -noout " + std::string(option) + " -in " + Pki::get().path(file));
  std::string text = out.substr(out.find('=') + 1);
  std::tm tm{};
  strptime(text.c_str(), "%b %d %H:%M:%S %Y GMT", &tm);
  return static_cast<std::int64_t>(timegm(&tm));
}

class Certificates : public win32_test::World {
 protected:
  Certificates() : win32_test::World("certs-") {}
  void SetUp() override {
    win32_test::World::SetUp();
    root_ = dir_ + "/roots";
    std::filesystem::create_directories(root_);
    ::setenv("KV_CERT_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("KV_CERT_ROOT");
    win32_test::World::TearDown();
  }
  void trustCa() { std::filesystem::copy_file(Pki::get().path("ca.pem"), root_ + "/ca.pem"); }
  std::unique_ptr<Network::Uri> uri(const std::string& text) { return Network::createUri(wide(text)); }
  std::string fileUri(const std::string& name) { return "file:///" + narrow(Pki::get().windowsPath(name)); }
  std::unique_ptr<Network::CertIterator<CertificateObject>> pem(const std::string& text) {
    auto u = uri(text);
    return Network::pemCertificatesAt(u.get());
  }
  std::string root_;
};

TEST_F(Certificates, PemFileYieldsItsCertificatesInFileOrderWithTheKeyOfTheirEntry) {
  auto it = pem(fileUri("bundle.pem"));
  std::vector<std::string> subjects;
  std::vector<bool> keys;
  for (; it->isValid(); it->next()) {
    subjects.push_back(narrow(it->current()->subject()));
    keys.push_back(it->current()->hasPrivateKey());
    EXPECT_TRUE(it->current()->isTrusted());  // nothing was verified
  }
  EXPECT_EQ(subjects, (std::vector<std::string>{"/C=DE/O=Korvane/CN=localhost", "/O=Korvane Test/CN=Test CA",
                                                "/O=Elsewhere/CN=other.test"}));
  // The key follows the third certificate, so the library reads it into that entry.
  EXPECT_EQ(keys, (std::vector<bool>{false, false, true}));
}

TEST_F(Certificates, ThumbprintFragmentKeepsOnlyThatCertificateAndIsCaseSensitive) {
  std::string ca = Pki::get().fingerprint("ca.pem");
  ASSERT_EQ(ca.size(), 40u);
  auto it = pem(fileUri("bundle.pem") + "#" + ca);
  ASSERT_TRUE(it->isValid());
  EXPECT_EQ(thumb(it->current()), ca);
  EXPECT_EQ(narrow(it->current()->locator()), fileUri("bundle.pem") + "#" + ca);
  it->next();
  EXPECT_FALSE(it->isValid());

  std::string lower = ca;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_FALSE(pem(fileUri("bundle.pem") + "#" + lower)->isValid());
}

TEST_F(Certificates, FolderScanLoadsEveryPemFileBelowAndSkipsOthers) {
  auto it = pem(fileUri("tree"));
  std::vector<std::string> found;
  for (; it->isValid(); it->next()) found.push_back(thumb(it->current()));
  std::sort(found.begin(), found.end());
  std::vector<std::string> expected{Pki::get().fingerprint("ca.pem"), Pki::get().fingerprint("other.pem")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(found, expected);

  auto missing = pem(fileUri("no-such.pem"));
  EXPECT_FALSE(missing->isValid());
  EXPECT_EQ(codeOf([&] { pem("store:///LM?Root"); }), 0x30406u);
  EXPECT_EQ(codeOf([&] { Network::pemCertificatesAt(nullptr); }), 0x303E9u);
}

TEST_F(Certificates, FieldsAgreeWithTheOpensslCommand) {
  auto it = pem(fileUri("serverkey.pem"));
  ASSERT_TRUE(it->isValid());
  CertificateObject* c = it->current();
  EXPECT_EQ(thumb(c), Pki::get().fingerprint("server.pem"));
  Bytes der;
  c->encoded(der);
  EXPECT_EQ(std::string(der.begin(), der.end()), Pki::get().der("server.pem"));
  EXPECT_EQ(narrow(c->issuer()), "/O=Korvane Test/CN=Test CA");
  EXPECT_EQ(narrow(c->displayName()), "/C=DE/O=Korvane/CN=localhost");
  EXPECT_FALSE(c->isSelfSigned());
  EXPECT_FALSE(c->isTimeInvalid());
  std::int64_t from = 0, to = 0;
  c->validity(from, to);
  EXPECT_EQ(from, opensslDate("server.pem", "-startdate") * 1000);
  EXPECT_EQ(to, opensslDate("server.pem", "-enddate") * 1000);

  Network::ExtensionList list{{u"kept", u"pair"}};
  EXPECT_TRUE(c->extensions(list));
  EXPECT_EQ(list.front().first, u"kept");
  auto comment = std::find_if(list.begin(), list.end(), [](auto& p) { return p.first == u"nsComment"; });
  ASSERT_NE(comment, list.end());
  EXPECT_EQ(narrow(comment->second), "made for tests");
  // CA:FALSE is an empty sequence, two bytes in all: nothing may be read
  // beyond them.
  auto constraints = std::find_if(list.begin(), list.end(), [](auto& p) { return p.first == u"basicConstraints"; });
  ASSERT_NE(constraints, list.end());
  EXPECT_EQ(constraints->second, u"");

  auto other = pem(fileUri("other.pem"));
  EXPECT_TRUE(other->current()->isSelfSigned());
}

TEST_F(Certificates, PrivateKeyBlobCarriesTypeAndMatchingKey) {
  auto it = pem(fileUri("serverkey.pem"));
  ASSERT_TRUE(it->current()->hasPrivateKey());
  std::unique_ptr<Network::KeyData> key(it->current()->privateKey());
  EXPECT_EQ(key->keyType(), 1u);
  Bytes blob, bytes;
  key->blob(blob);
  ASSERT_TRUE(key->keyBytes(bytes));
  ASSERT_EQ(blob.size(), bytes.size() + 4);
  EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 4), (Bytes{1, 0, 0, 0}));
  bool unknown = true;
  EVP_PKEY* pkey = Network::keyFromBlob(blob, unknown);
  ASSERT_NE(pkey, nullptr);
  FILE* f = std::fopen(Pki::get().path("server.pem").c_str(), "r");
  X509* x = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  EXPECT_EQ(X509_check_private_key(x, pkey), 1);
  X509_free(x);
  EVP_PKEY_free(pkey);

  // A clone keeps the key; the copy of a key-less certificate has none.
  std::unique_ptr<CertificateObject> copy(it->current()->clone());
  EXPECT_TRUE(copy->hasPrivateKey());
  auto bare = pem(fileUri("server.pem"));
  EXPECT_EQ(codeOf([&] { delete bare->current()->privateKey(); }), 0x303F0u);
  blob[0] = 9;
  EXPECT_EQ(Network::keyFromBlob(blob, unknown), nullptr);
  EXPECT_TRUE(unknown);
}

TEST_F(Certificates, ChainCertificatesAndTheirFailures) {
  auto it = pem(fileUri("server.pem"));
  std::unique_ptr<CertificateObject> c(it->current()->clone());
  std::string caDer = Pki::get().der("ca.pem");
  c->addChainCertificate(Bytes(caDer.begin(), caDer.end()));
  std::unique_ptr<Network::CertIterator<CertificateObject>> chain(c->chainOfTrust());
  ASSERT_TRUE(chain->isValid());
  EXPECT_EQ(thumb(chain->current()), Pki::get().fingerprint("ca.pem"));
  // Made without an origin, so it has no locator.
  EXPECT_EQ(codeOf([&] { chain->current()->locator(); }), 0x30406u);
  chain->next();
  EXPECT_FALSE(chain->isValid());

  try {
    c->addChainCertificate(Bytes{0x30, 0x03, 1, 2, 3});
    FAIL();
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.code(), 0x30411u);
    EXPECT_EQ(narrow(e.text()).rfind("CertDeserializer: failed restore certificate from DER data!: \n", 0), 0u);
  }
}

struct TimeCase {
  int type;
  const char* text;
  std::int64_t ms;  // from Python's calendar.timegm
};

TEST(CertificateTime, UtcAndGeneralizedTextsWithGregorianLeapYears) {
  const TimeCase cases[] = {
      {V_ASN1_UTCTIME, "491231235959Z", 2524607999000},
      {V_ASN1_UTCTIME, "500101000000Z", -631152000000},
      {V_ASN1_UTCTIME, "4912312359", 2524607940000},
      {V_ASN1_GENERALIZEDTIME, "20240229120000Z", 1709208000000},
      {V_ASN1_GENERALIZEDTIME, "21000301000000Z", 4107542400000},  // 2100 has no 29 February
      {V_ASN1_GENERALIZEDTIME, "20000301000000Z", 951868800000},   // 2000 has one
  };
  for (const auto& c : cases)
    EXPECT_EQ(Network::certificateTimeMs(c.type, c.text, std::strlen(c.text)), c.ms) << c.text;
  const TimeCase bad[] = {{V_ASN1_UTCTIME, "491331235959Z", 0},
                          {V_ASN1_UTCTIME, "4912312", 0},
                          {V_ASN1_UTCTIME, "49123123x9Z", 0},
                          {V_ASN1_GENERALIZEDTIME, "2024022912", 0},
                          {V_ASN1_OCTET_STRING, "491231235959Z", 0}};
  for (const auto& c : bad)
    EXPECT_EQ(codeOf([&] { Network::certificateTimeMs(c.type, c.text, std::strlen(c.text)); }), 0x30002u) << c.text;
}

TEST_F(Certificates, SystemStoresGiveStoreLocatorsAndChains) {
  trustCa();
  std::string ca = Pki::get().fingerprint("ca.pem");
  auto lm = uri("store:///LM?Root");
  auto store = Network::openCertificateStore(*lm, true);
  EXPECT_EQ(narrow(store->displayName()), "Trusted Root Certification Authorities");
  EXPECT_EQ(narrow(store->locator()->text()), "store:///LM?Root");
  std::unique_ptr<Network::CertIterator<Network::CertificateFolder>> folders(store->folders());
  EXPECT_FALSE(folders->isValid());
  std::unique_ptr<Network::CertIterator<CertificateObject>> certs(store->certificates());
  ASSERT_TRUE(certs->isValid());
  EXPECT_EQ(thumb(certs->current()), ca);
  EXPECT_EQ(narrow(certs->current()->locator()), "store:///LM?Root#" + ca);
  EXPECT_TRUE(certs->current()->isTrusted());
  EXPECT_TRUE(certs->current()->isSelfSigned());
  EXPECT_EQ(narrow(certs->current()->subject()), "O=Korvane Test, CN=Test CA");
  certs->next();
  EXPECT_FALSE(certs->isValid());

  auto cu = Network::findCertificate(uri("store:///CU?Root").get());
  EXPECT_EQ(thumb(cu.get()), ca);
  EXPECT_EQ(narrow(cu->locator()), "store:///CU?Root#" + ca);

  EXPECT_EQ(codeOf([&] { Network::openCertificateStore(*uri("store:///XX?Root"), true); }), 0x30002u);
  EXPECT_EQ(codeOf([&] { Network::openCertificateStore(*uri("store:///CU?Nothing"), true); }), 0x303E9u);
}

TEST_F(Certificates, WritableStoreAddsAndRemovesAndReadOnlyRefuses) {
  trustCa();
  std::filesystem::create_directories(dir_ + "/world/certstores/10000/MY");
  auto my = uri("store:///CU?My");
  std::string serverDer = Pki::get().der("server.pem"), otherDer = Pki::get().der("other.pem");
  {
    auto store = Network::openCertificateStore(*my, false);
    EXPECT_EQ(store->addCertificate(Bytes()), nullptr);
    EXPECT_EQ(codeOf([&] { store->addCertificate(Bytes{1, 2, 3}); }), 0x303ECu);
    std::unique_ptr<CertificateObject> added(store->addCertificate(Bytes(serverDer.begin(), serverDer.end())));
    ASSERT_TRUE(added);
    EXPECT_EQ(thumb(added.get()), Pki::get().fingerprint("server.pem"));
    delete store->addCertificate(Bytes(otherDer.begin(), otherDer.end()));
  }
  auto reopened = Network::openCertificateStore(*my, true);
  std::unique_ptr<Network::CertIterator<CertificateObject>> it(reopened->certificates());
  int count = 0;
  for (; it->isValid(); it->next()) {
    ++count;
    if (thumb(it->current()) == Pki::get().fingerprint("server.pem")) {
      EXPECT_TRUE(it->current()->isTrusted());  // issued by the trusted test CA
      EXPECT_FALSE(it->current()->isSelfSigned());
      std::unique_ptr<Network::CertIterator<CertificateObject>> chain(it->current()->chainOfTrust());
      std::vector<std::string> order;
      for (; chain->isValid(); chain->next()) order.push_back(thumb(chain->current()));
      EXPECT_EQ(order, (std::vector<std::string>{Pki::get().fingerprint("server.pem"), Pki::get().fingerprint("ca.pem")}));
    } else {
      EXPECT_FALSE(it->current()->isTrusted());  // self-signed, not a trusted root
      EXPECT_TRUE(it->current()->isSelfSigned());
    }
  }
  EXPECT_EQ(count, 2);
  try {
    reopened->addCertificate(Bytes(otherDer.begin(), otherDer.end()));
    FAIL();
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.code(), 0x303EDu);
    EXPECT_EQ(narrow(e.text()), "Unable to add certificate to read-only store");
  }
  Bytes sha1;
  {
    auto probe = Network::findCertificate(uri("store:///CU?My").get());
    probe->thumbprint(sha1);
  }
  try {
    reopened->removeCertificate(sha1);
    FAIL();
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.code(), 0x303EEu);
    EXPECT_EQ(narrow(e.text()), "Unable to delete certificate from read-only store");
  }
  auto writable = Network::openCertificateStore(*my, false);
  EXPECT_TRUE(writable->removeCertificate(sha1));
  EXPECT_FALSE(writable->removeCertificate(sha1));
  EXPECT_FALSE(writable->removeCertificate(Bytes()));
  std::unique_ptr<Network::CertIterator<CertificateObject>> left(Network::openCertificateStore(*my, true)->certificates());
  ASSERT_TRUE(left->isValid());
  left->next();
  EXPECT_FALSE(left->isValid());
}

class Provider : public Network::PasswordProvider {
 public:
  explicit Provider(const char* answer) : answer_(answer) {}
  bool password(std::u16string& out) override {
    ++asked;
    if (!answer_) return false;
    out = wide(answer_);
    return true;
  }
  int asked = 0;

 private:
  const char* answer_;
};

TEST_F(Certificates, Pkcs12WithEmptyPasswordImportsWithItsKey) {
  Provider provider("unused");
  std::unique_ptr<Network::CertIterator<CertificateObject>> it;
  ASSERT_FALSE(Network::importPfxCertificates(*uri(fileUri("empty.p12")), &provider, it));
  EXPECT_EQ(provider.asked, 0);  // the empty password came first
  ASSERT_TRUE(it->isValid());
  EXPECT_EQ(thumb(it->current()), Pki::get().fingerprint("server.pem"));
  EXPECT_TRUE(it->current()->hasPrivateKey());
  std::unique_ptr<Network::KeyData> key(it->current()->privateKey());
  EXPECT_EQ(key->keyType(), 1u);

  auto found = Network::findCertificate(uri(fileUri("empty.p12")).get());
  EXPECT_EQ(narrow(found->locator()), fileUri("empty.p12") + "#" + Pki::get().fingerprint("server.pem"));
  auto again = Network::findCertificate(uri(narrow(found->locator())).get());
  EXPECT_EQ(thumb(again.get()), Pki::get().fingerprint("server.pem"));
}

TEST_F(Certificates, Pkcs12WithPasswordNeedsTheProvider) {
  std::unique_ptr<Network::CertIterator<CertificateObject>> it;
  EXPECT_EQ(Network::importPfxCertificates(*uri(fileUri("locked.p12")), nullptr, it).code(), 0x303E9u);
  Provider none(nullptr);
  EXPECT_EQ(Network::importPfxCertificates(*uri(fileUri("locked.p12")), &none, it).code(), 0x303E9u);
  EXPECT_EQ(none.asked, 1);
  Provider right("secret");
  ASSERT_FALSE(Network::importPfxCertificates(*uri(fileUri("locked.p12")), &right, it));
  EXPECT_TRUE(it->current()->hasPrivateKey());
  EXPECT_EQ(Network::importPfxCertificates(*uri(fileUri("server.pem")), nullptr, it).code(), 0x303E9u);
  // Without a provider the locator finds nothing in it.
  EXPECT_EQ(codeOf([&] { Network::findCertificate(uri(fileUri("locked.p12")).get()); }), 0x303F3u);
}

struct LocatorCase {
  std::string text;
  std::string thumbOf;  // file whose certificate is the answer; empty: an error
  std::uint32_t code;
};

TEST_F(Certificates, LocatorTable) {
  trustCa();
  std::string ca = Pki::get().fingerprint("ca.pem"), other = Pki::get().fingerprint("other.pem");
  std::string lower = other;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const LocatorCase cases[] = {
      {"store:///LM?Root", "ca.pem", 0},
      {"store:///LM?Root#" + ca, "ca.pem", 0},
      {"store:///LM?Root#" + other, "", 0x303F3},
      {fileUri("bundle.pem"), "server.pem", 0},
      {fileUri("bundle.pem") + "#" + other, "other.pem", 0},
      {fileUri("bundle.pem") + "#" + lower, "", 0x303F3},
      {fileUri("other.cer"), "other.pem", 0},  // a certificate file the store reads
      {fileUri("other.cer") + "#" + other, "other.pem", 0},
      {fileUri("tree") + "#" + ca, "", 0x303F3},  // found certificates name their own files
      {fileUri("empty.p12"), "server.pem", 0},
      {narrow(Pki::get().windowsPath("other.pem")), "other.pem", 0},  // a plain path reads as "file"
      {"ldap://host/cn=x", "", 0x303EB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto u = uri(c.text);
    if (c.thumbOf.empty()) {
      EXPECT_EQ(codeOf([&] { Network::findCertificate(u.get()); }), c.code);
      continue;
    }
    auto found = Network::findCertificate(u.get());
    EXPECT_EQ(thumb(found.get()), Pki::get().fingerprint(c.thumbOf));
    // Its own locator finds it again.
    EXPECT_EQ(thumb(Network::findCertificate(uri(narrow(found->locator())).get()).get()), thumb(found.get()));
  }
  try {
    Network::findCertificate(uri("ldap://host/cn=x").get());
  } catch (const Common::Error& e) {
    EXPECT_EQ(narrow(e.text()), "Unsupported scheme");
  }
  EXPECT_EQ(codeOf([&] { Network::findCertificates(uri("ldap://host/cn=x").get(), nullptr); }), 0x303F8u);
  EXPECT_EQ(codeOf([&] { Network::findCertificates(nullptr, nullptr); }), 0x30406u);
  EXPECT_EQ(codeOf([&] { Network::findCertificate(nullptr); }), 0x30406u);
  auto tree = Network::findCertificates(uri(fileUri("tree")).get(), nullptr);
  EXPECT_TRUE(tree->isValid());
}

}  // namespace
