// The TLS client against nginx and against a small TLS echo server, both on
// 127.0.0.1, with certificates made by the openssl command.
// This file also uses the C library's socket headers.
#define WIN32_LEAN_AND_MEAN

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include <poll.h>

#include "core/error.h"
#include "network/http_client.h"
#include "network/http_test_support.h"
#include "network/ssl/https.h"
#include "network/ssl/ssl.h"
#include "network/ssl/ssl_internal.h"
#include "network/ssl/test_pki.h"
#include "network/test_http_server.h"
#include "network/test_nginx.h"
#include "platform/win32/windows.h"
#include "platform/win32/testing/test_world.h"
#include "system/thread.h"

// The layer's own call; winsock.h cannot join the system's socket headers here.
int closesocket(SOCKET s);

namespace {

using Network::CertificateCheckInfo;
using Network::CertificateObject;
using PkiTest::Pki;

std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

std::string randomBytes(std::size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(g());
  return s;
}

std::string thumbOf(CertificateObject* c) {
  Network::Bytes sha1;
  c->thumbprint(sha1);
  return narrow(Network::thumbprintText(sha1));
}

// Records every question and answers as told.
class Recorder : public Network::CheckCertificateCallback {
 public:
  Recorder(bool answer, bool everyOne) : answer_(answer), everyOne_(everyOne) {}
  bool check(CertificateObject* c, const CertificateCheckInfo& info) override {
    seen.push_back({thumbOf(c), info});
    return answer_;
  }
  bool checkEveryCertificate() override { return everyOne_; }
  struct Seen {
    std::string thumb;
    CertificateCheckInfo info;
  };
  std::vector<Seen> seen;

 private:
  bool answer_, everyOne_;
};

class Thrower : public Network::CheckCertificateCallback {
 public:
  bool check(CertificateObject*, const CertificateCheckInfo&) override { throw Common::Error(KV_SITE, 0x12345); }
};

// 127.0.0.1 at the given port (0: any).
sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

// A server of one connection on 127.0.0.1, at a port the system picks; the
// derived server runs its connection on thread_.
class LoopbackServer {
 public:
  std::uint16_t port() const { return port_; }
  // Waits until the one connection is over.
  void finish() {
    if (thread_.joinable()) thread_.join();
  }

 protected:
  LoopbackServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 4);
    socklen_t n = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
  }
  // Derived servers call this first in their destructors, while their
  // members still live for the thread.
  void stop() {
    ::shutdown(listener_, SHUT_RDWR);
    finish();
  }
  ~LoopbackServer() { ::close(listener_); }
  int listener_;
  std::uint16_t port_;
  std::thread thread_;
};

// A TLS server that echoes what it reads until the peer ends sending, then
// closes.
class EchoServer : public LoopbackServer {
 public:
  EchoServer() { thread_ = std::thread([this] { run(); }); }
  ~EchoServer() { stop(); }
  std::atomic<bool> sawEnd{false};
  std::atomic<std::size_t> echoed{0};

 private:
  void run() {
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(ctx, Pki::get().path("server.pem").c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx, Pki::get().path("server.key").c_str(), SSL_FILETYPE_PEM);
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
      char buffer[8192];
      for (;;) {
        int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0) break;
        if (SSL_write(ssl, buffer, n) != n) break;
        echoed += static_cast<std::size_t>(n);
      }
      sawEnd = true;
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    ::close(fd);
    ERR_clear_error();
  }
};


// A TLS server with a certificate of the test's choice: it reads one request
// head per connection, writes the scripted answer and closes, with the close
// notification or (cleanEnd false) cutting the stream off without one.
class AnswerServer : public LoopbackServer {
 public:
  AnswerServer(const std::string& certificate, const std::string& key, std::string answer, bool cleanEnd)
      : certificate_(certificate), key_(key), answer_(std::move(answer)), cleanEnd_(cleanEnd) {
    thread_ = std::thread([this] { run(); });
  }
  ~AnswerServer() { stop(); }

 private:
  void run() {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(ctx, Pki::get().path(certificate_).c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx, Pki::get().path(key_).c_str(), SSL_FILETYPE_PEM);
    for (;;) {
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) break;
      SSL* ssl = SSL_new(ctx);
      SSL_set_fd(ssl, fd);
      if (SSL_accept(ssl) == 1) {
        std::string head;
        char c;
        while (head.find("\r\n\r\n") == std::string::npos && SSL_read(ssl, &c, 1) == 1) head.push_back(c);
        SSL_write(ssl, answer_.data(), static_cast<int>(answer_.size()));
        if (cleanEnd_) SSL_shutdown(ssl);
      }
      SSL_free(ssl);
      ::close(fd);
    }
    SSL_CTX_free(ctx);
    ERR_clear_error();
  }
  std::string certificate_, key_, answer_;
  bool cleanEnd_;
};

// A CONNECT proxy on 127.0.0.1 for one tunnel: it records the request head,
// connects to the asked port on 127.0.0.1 and relays bytes both ways.
class TunnelProxy : public LoopbackServer {
 public:
  TunnelProxy() { thread_ = std::thread([this] { run(); }); }
  ~TunnelProxy() { stop(); }
  std::string head;

 private:
  void run() {
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && ::recv(client, &c, 1, 0) == 1) head.push_back(c);
    std::size_t colon = head.find(':');
    int target = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(static_cast<std::uint16_t>(std::atoi(head.c_str() + colon + 1)));
    if (head.rfind("CONNECT ", 0) == 0 && ::connect(target, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      const char ok[] = "HTTP/1.0 200 Connection established\r\n\r\n";
      ::send(client, ok, sizeof ok - 1, MSG_NOSIGNAL);
      pollfd fds[2] = {{client, POLLIN, 0}, {target, POLLIN, 0}};
      char buffer[16384];
      for (bool open = true; open;) {
        if (::poll(fds, 2, 10000) <= 0) break;
        for (int i = 0; i < 2 && open; ++i) {
          if (!fds[i].revents) continue;
          ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
          if (n <= 0 || ::send(fds[1 - i].fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) open = false;
        }
      }
    }
    ::close(target);
    ::close(client);
  }
};

class Tls : public win32_test::World {
 protected:
  Tls() : win32_test::World("tls-") {}
  static void SetUpTestSuite() {
    Pki::get();
    if (!NetTest::Nginx::available()) return;
    tlsPort = NetTest::freeLoopbackPort();
    const Pki& pki = Pki::get();
    std::string block = "  server {\n    listen 127.0.0.1:" + std::to_string(tlsPort) +
                        " ssl;\n    ssl_certificate " + pki.path("server.pem") + ";\n    ssl_certificate_key " +
                        pki.path("server.key") + ";\n    root @DIR@/www;\n" +
                        "    location = /away { return 302 http://127.0.0.1:9/package.bin; }\n  }\n";
    server = new NetTest::Nginx(block, {tlsPort});
    content = new std::string(randomBytes(5 * 1000 * 1000 + 321, 23));
    server->serve("package.bin", *content);
    server->serve("small.txt", "hello over tls\n");
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
    delete content;
    content = nullptr;
  }
  void SetUp() override {
    win32_test::World::SetUp();
    if (!server) GTEST_SKIP() << "nginx is not installed";
    root_ = dir_ + "/roots";
    std::filesystem::create_directories(root_);
    ::setenv("KV_CERT_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("KV_CERT_ROOT");
    LiveUpdate::setCheckCertificateCallback(nullptr);
    Network::setHostResolver(nullptr);
    win32_test::World::TearDown();
  }
  void trustCa() { std::filesystem::copy_file(Pki::get().path("ca.pem"), root_ + "/ca.pem"); }

  static std::unique_ptr<Network::SSLClient> connect(const Network::SSLSettings& s, std::uint16_t port = 0) {
    return Network::createSSLClient(s, new Network::TCPSocket("127.0.0.1", port ? port : tlsPort));
  }
  static Network::SSLSettings settings(std::uint32_t policy, const char* name = "localhost",
                                       std::shared_ptr<Network::CheckCertificateCallback> callback = nullptr) {
    Network::SSLSettings s;
    s.policy = policy;
    s.serverName = name;
    s.checkCallback = std::move(callback);
    return s;
  }
  // The whole answer to an HTTP/1.0 GET, head included.
  static std::string get(Network::StreamSocket& c, const std::string& path) {
    std::string request = "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
    EXPECT_TRUE(c.send(request.data(), request.size(), nullptr, 0, nullptr, 0));
    std::string answer, piece(64 * 1024, '\0');
    for (;;) {
      std::size_t n = c.receive(piece.data(), piece.size(), nullptr, 0, false);
      answer.append(piece, 0, n);
      if (n < piece.size()) break;
    }
    return answer;
  }
  static std::string body(const std::string& answer) {
    std::size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : answer.substr(at + 4);
  }
  static Common::Error refusal(const std::function<void()>& f) {
    try {
      f();
    } catch (const Common::Error& e) {
      return e;
    }
    return Common::Error();
  }

  static std::uint16_t tlsPort;
  static NetTest::Nginx* server;
  static std::string* content;
  std::string root_;
};
std::uint16_t Tls::tlsPort = 0;
NetTest::Nginx* Tls::server = nullptr;
std::string* Tls::content = nullptr;

TEST_F(Tls, VerifiedServerServesTheWholeFile) {
  trustCa();
  for (const char* name : {"localhost", "127.0.0.1"}) {
    auto c = connect(settings(2, name));
    std::string got = body(get(*c, "/package.bin"));
    EXPECT_EQ(got.size(), content->size()) << name;
    EXPECT_TRUE(got == *content) << name;
  }
}

TEST_F(Tls, ServerIsRefusedWithoutTheCaOrUnderAnotherName) {
  struct Case {
    bool ca;
    const char* name;
  } cases[] = {{false, "localhost"}, {true, "other.test"}, {true, "127.0.0.2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(root_ + "/ca.pem");
    if (c.ca) trustCa();
    Common::Error e = refusal([&] { connect(settings(2, c.name)); });
    ASSERT_EQ(e.code(), 0x30412u);
    EXPECT_EQ(narrow(e.text()), "SSL connection failed.");
    ASSERT_EQ(e.cause().code(), 0x30408u);
    const Common::Error library = e.cause().cause();
    ASSERT_TRUE(library);
    EXPECT_EQ(library.code(), 0x30411u);
    EXPECT_STREQ(library.fieldNames(), "CryptoThreadID,ErrorString,File,Line,Data");
    EXPECT_EQ(narrow(library.text()), "certificate verify failed");
  }
}

// What `openssl verify` says of a certificate: the text after "lookup: ".
std::string verifyVerdict(const std::string& arguments) {
  std::string out = PkiTest::run("{ openssl verify " + arguments + "; } 2>&1 | cat");
  std::size_t at = out.find("lookup: ");
  if (at == std::string::npos) return "(openssl verify found nothing wrong: " + out + ")";
  std::size_t end = out.find('\n', at);
  return out.substr(at + 8, end - at - 8);
}

TEST_F(Tls, ARefusedServerSaysWhy) {
  const Pki& pki = Pki::get();
  struct Case {
    const char* name;
    const char* certificate;
    const char* key;
    const char* host;
    bool trusted;
    std::string witness;  // the arguments of `openssl verify` that find the same fault
  } cases[] = {
      {"expired", "expired.pem", "server.key", "localhost", true, "-CAfile " + pki.path("ca.pem") + " " + pki.path("expired.pem")},
      {"not yet valid", "notyet.pem", "server.key", "localhost", true,
       "-CAfile " + pki.path("ca.pem") + " " + pki.path("notyet.pem")},
      {"another host's", "server.pem", "server.key", "other.test", true,
       "-verify_hostname other.test -CAfile " + pki.path("ca.pem") + " " + pki.path("server.pem")},
      {"issued by no trusted root", "server.pem", "server.key", "localhost", false,
       "-no-CAfile -no-CApath " + pki.path("server.pem")},
      {"self-signed", "selfsigned.pem", "selfsigned.key", "localhost", true,
       "-no-CAfile -no-CApath " + pki.path("selfsigned.pem")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(root_ + "/ca.pem");
    if (c.trusted) trustCa();
    const std::string verdict = verifyVerdict(c.witness);
    AnswerServer server(c.certificate, c.key, "HTTP/1.0 200 OK\r\n\r\nhello", true);
    Common::Error e = refusal([&] { connect(settings(2, c.host), server.port()); });
    ASSERT_EQ(e.code(), 0x30412u);
    ASSERT_EQ(e.cause().code(), 0x30408u);
    EXPECT_EQ(narrow(e.cause().text()).rfind(verdict + " (verify result ", 0), 0u)
        << narrow(e.cause().text()) << " / " << verdict;
    EXPECT_EQ(narrow(e.cause().cause().text()), "certificate verify failed");
  }
}

TEST_F(Tls, DefaultsVerifyAndVerifyingNeedsAName) {
  Network::SSLSettings defaults;
  EXPECT_EQ(defaults.policy, 2u);
  defaults.serverName = "localhost";
  EXPECT_EQ(refusal([&] { connect(defaults); }).code(), 0x30412u);  // the CA is not trusted yet
  trustCa();
  EXPECT_EQ(body(get(*connect(defaults), "/small.txt")), "hello over tls\n");

  // Without a name any trusted certificate would pass.
  defaults.serverName.clear();
  Common::Error e = refusal([&] { connect(defaults); });
  EXPECT_EQ(e.code(), 0x564E20u);
  EXPECT_EQ(narrow(e.text()), "!settings.serverName.empty()");
  // A client that does not verify needs none.
  EXPECT_EQ(body(get(*connect(settings(0, "")), "/small.txt")), "hello over tls\n");
}

TEST_F(Tls, TrustedRootsAreReadOnceAndAgainWhenTheFolderChanges) {
  trustCa();
  X509_STORE* first = win32::root_trust_store();
  X509_STORE* second = win32::root_trust_store();
  EXPECT_EQ(first, second);
  EXPECT_EQ(body(get(*connect(settings(2)), "/small.txt")), "hello over tls\n");
  X509_STORE* third = win32::root_trust_store();
  EXPECT_EQ(third, first);

  std::filesystem::remove(root_ + "/ca.pem");
  X509_STORE* changed = win32::root_trust_store();
  EXPECT_NE(changed, first);
  EXPECT_EQ(refusal([&] { connect(settings(2)); }).code(), 0x30412u);
  trustCa();
  EXPECT_EQ(body(get(*connect(settings(2)), "/small.txt")), "hello over tls\n");
  for (X509_STORE* s : {first, second, third, changed}) X509_STORE_free(s);
}

// The system's folder holds each root under its name, under its hash link and
// in the bundle of all: the store has each once.
TEST_F(Tls, TheRootStoreHoldsEveryCertificateOfTheSystemFolderOnce) {
  const std::string bundle = PkiTest::readFile("/etc/ssl/certs/ca-certificates.crt");
  if (bundle.empty()) GTEST_SKIP() << "no /etc/ssl/certs/ca-certificates.crt";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/etc/ssl/certs", ec))
    if (entry.is_regular_file(ec))
      std::filesystem::create_symlink(std::filesystem::canonical(entry.path()),
                                      std::filesystem::path(root_) / entry.path().filename(), ec);
  trustCa();
  std::size_t expected = 1;  // the test CA
  for (std::size_t at = bundle.find("-----BEGIN CERTIFICATE-----"); at != std::string::npos;
       at = bundle.find("-----BEGIN CERTIFICATE-----", at + 1))
    ++expected;
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                  CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, u"ROOT");
  ASSERT_NE(root, nullptr);
  std::set<std::string> thumbs;
  std::size_t count = 0;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(root, nullptr); c; c = CertEnumCertificatesInStore(root, c)) {
    ++count;
    thumbs.insert(std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded));
  }
  CertCloseStore(root, 0);
  EXPECT_EQ(count, expected);
  EXPECT_EQ(thumbs.size(), expected);
  EXPECT_EQ(body(get(*connect(settings(2)), "/small.txt")), "hello over tls\n");
}

TEST_F(Tls, AStreamCutOffWithoutCloseNotificationIsAnError) {
  trustCa();
  for (bool clean : {true, false}) {
    SCOPED_TRACE(clean ? "with close notification" : "cut off");
    AnswerServer server("server.pem", "server.key", "HTTP/1.0 200 OK\r\n\r\nhello", clean);
    auto c = connect(settings(2), server.port());
    std::string request = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_TRUE(c->send(request.data(), request.size(), nullptr, 0, nullptr, 0));
    std::string got;
    Common::Error e = refusal([&] {
      char buffer[256];
      while (std::size_t n = c->receive(buffer, sizeof buffer, nullptr, 0, true)) got.append(buffer, n);
    });
    if (clean) {
      EXPECT_FALSE(e) << narrow(e.text());
      EXPECT_EQ(got, "HTTP/1.0 200 OK\r\n\r\nhello");
    } else {
      EXPECT_EQ(e.code(), 0x30412u);
      ASSERT_TRUE(e.cause());
      EXPECT_EQ(narrow(e.cause().text()), "unexpected eof while reading");
    }
  }
}

TEST_F(Tls, CallbackHearsTheRealErrorAndDecides) {
  struct Case {
    bool ca;
    const char* name;
    std::int32_t error, depth;
  } cases[] = {{false, "localhost", X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, 0},
               {true, "other.test", X509_V_ERR_HOSTNAME_MISMATCH, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(root_ + "/ca.pem");
    if (c.ca) trustCa();
    for (bool answer : {true, false}) {
      auto recorder = std::make_shared<Recorder>(answer, false);
      Common::Error e = refusal([&] {
        auto client = connect(settings(2, c.name, recorder));
        EXPECT_EQ(body(get(*client, "/small.txt")), "hello over tls\n");
      });
      ASSERT_FALSE(recorder->seen.empty());
      const auto& first = recorder->seen.front();
      EXPECT_EQ(first.thumb, Pki::get().fingerprint("server.pem"));
      EXPECT_EQ(first.info.error, c.error);
      EXPECT_EQ(first.info.depth, c.depth);
      EXPECT_EQ(first.info.reason, 3u);
      if (answer) {
        EXPECT_FALSE(e) << narrow(e.text());
      } else {
        EXPECT_EQ(e.code(), 0x30412u);
        EXPECT_EQ(narrow(e.text()), "SSL connection failed.");
        EXPECT_EQ(e.cause().code(), 0x30408u);
      }
    }
  }
}

TEST_F(Tls, EveryCertificateOfTheChainIsShownWhenAsked) {
  trustCa();
  auto recorder = std::make_shared<Recorder>(true, true);
  auto c = connect(settings(2, "localhost", recorder));
  ASSERT_EQ(recorder->seen.size(), 2u);
  // The library walks from the root down to the server.
  EXPECT_EQ(recorder->seen[0].thumb, Pki::get().fingerprint("ca.pem"));
  EXPECT_EQ(recorder->seen[0].info.depth, -1);
  EXPECT_EQ(recorder->seen[1].thumb, Pki::get().fingerprint("server.pem"));
  EXPECT_EQ(recorder->seen[1].info.depth, 0);
  for (const auto& s : recorder->seen) {
    EXPECT_EQ(s.info.error, -1);
    EXPECT_EQ(s.info.reason, 1u);
  }
}

TEST_F(Tls, ErrorsOfTheCallbackPassThrough) {
  EXPECT_EQ(refusal([&] { connect(settings(2, "localhost", std::make_shared<Thrower>())); }).code(), 0x12345u);
}

struct PolicyCase {
  std::uint32_t policy;
  std::int16_t role;
  bool source;
  int outcome;  // 0 neither, 1 own, 2 verify, 3 both, -1 corrupt, -2 disabled
};

TEST(TlsPolicy, PolicyTable) {
  const PolicyCase cases[] = {
      {0, 0, false, 0}, {0, 1, true, 0},   {0, 5, false, 0},  {1, 0, false, -1}, {1, 0, true, -2},
      {1, 1, false, -2}, {1, 1, true, -2}, {1, 5, false, -2}, {2, 0, false, 2},  {2, 0, true, 2},
      {2, 1, false, -1}, {2, 1, true, 1},  {2, 5, false, 0},  {2, 5, true, 0},   {3, 0, false, -1},
      {3, 1, false, -1}, {3, 0, true, 3},  {3, 1, true, 3},   {3, 5, true, 3},   {7, 0, true, -1},
      {4, 1, true, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.policy << "/" << c.role << "/" << c.source);
    try {
      Network::PolicyFlags f = Network::applyPolicy(c.policy, c.role, c.source);
      EXPECT_EQ((f.own ? 1 : 0) | (f.verify ? 2 : 0), c.outcome);
    } catch (const Common::Error& e) {
      EXPECT_EQ(e.code(), 0x303F3u);
      EXPECT_EQ(narrow(e.text()), c.outcome == -1 ? "The certificate policy is corrupt."
                                                  : "The required certificate policy is disabled.");
      EXPECT_LT(c.outcome, 0);
    }
  }
}

TEST_F(Tls, OwnCertificateFromALocator) {
  trustCa();
  const Pki& pki = Pki::get();
  auto s = settings(3);
  s.certificateLocator = u"file:///" + pki.windowsPath("serverkey.pem");
  auto c = connect(s);
  EXPECT_EQ(body(get(*c, "/small.txt")), "hello over tls\n");

  // A key that belongs to another certificate.
  PkiTest::writeFile(dir_ + "/mismatch.pem", PkiTest::readFile(pki.path("server.pem")) +
                                                 PkiTest::readFile(pki.path("other.key")));
  s.certificateLocator = u"file:///Z:" + std::u16string(dir_.begin(), dir_.end()) + u"/mismatch.pem";
  Common::Error e = refusal([&] { connect(s); });
  EXPECT_EQ(e.code(), 0x3041Du);
  EXPECT_EQ(narrow(e.text()), "SSL: The private key does not match.");

  s.certificateLocator.clear();
  e = refusal([&] { connect(s); });
  EXPECT_EQ(narrow(e.text()), "The certificate policy is corrupt.");
  s.certificateLocator = u"file:///" + pki.windowsPath("server.pem");  // no key beside it
  EXPECT_EQ(refusal([&] { connect(s); }).code(), 0x303F0u);
}

TEST_F(Tls, CipherKinds) {
  trustCa();
  for (std::uint32_t kind : {0u, 2u, 3u, 9u}) {
    SCOPED_TRACE(kind);
    auto s = settings(2);
    s.cipherKind = kind;
    Common::Error e = refusal([&] {
      auto c = connect(s);
      EXPECT_EQ(body(get(*c, "/small.txt")), "hello over tls\n");
    });
    EXPECT_FALSE(e) << std::hex << e.code() << " " << narrow(e.text()) << " " << narrow(e.cause().text());
  }
  // Anonymous DH only: nginx authenticates itself, so it will not agree.
  auto s = settings(2);
  s.cipherKind = 1;
  Common::Error e = refusal([&] { connect(s); });
  EXPECT_EQ(e.code(), 0x30412u);
  EXPECT_EQ(narrow(e.text()), "SSL connection failed.");
  EXPECT_GE(Network::sharedDhBits(), 2048);
}

TEST_F(Tls, DetachBlobLayout) {
  trustCa();
  auto s = settings(2);
  s.cipherKind = 2;
  auto c = connect(s);
  EXPECT_EQ(body(get(*c, "/small.txt")), "hello over tls\n");
  std::vector<unsigned char> blob;
  SOCKET handle = INVALID_SOCKET;
  c->detach(blob, handle);
  EXPECT_NE(handle, INVALID_SOCKET);
  ASSERT_GE(blob.size(), 24u);
  auto u32 = [&](std::size_t at) {
    return blob[at] | blob[at + 1] << 8 | blob[at + 2] << 16 | static_cast<std::uint32_t>(blob[at + 3]) << 24;
  };
  EXPECT_EQ(blob[0], 1);
  EXPECT_EQ(u32(1), 0u);  // role
  EXPECT_EQ(blob[5], 2);  // policy
  EXPECT_EQ(blob[6], 0);  // family
  EXPECT_EQ(u32(7), 2u);  // cipher kind
  std::uint32_t n = u32(11);
  ASSERT_EQ(blob.size(), 15u + n + 4 + 4 + 1);
  const unsigned char* p = blob.data() + 15;
  SSL_SESSION* session = d2i_SSL_SESSION(nullptr, &p, n);
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(p, blob.data() + 15 + n);
  SSL_SESSION_free(session);
  EXPECT_EQ(u32(15 + n), 0u);      // no own certificate
  EXPECT_EQ(u32(19 + n), 0u);      // no key
  EXPECT_EQ(blob.back(), 0);       // the TCP socket's own blob
  closesocket(handle);
}

TEST_F(Tls, ReadThatMeetsTheEndReturnsWhatItRead) {
  trustCa();
  auto c = connect(settings(2));
  std::string request = "GET /small.txt HTTP/1.0\r\nHost: localhost\r\n\r\n";
  ASSERT_TRUE(c->send(request.data(), request.size(), nullptr, 0, nullptr, 0));
  std::string buffer(1 << 20, '\0');
  // nginx closes after the answer: the read ends early but keeps its bytes.
  std::size_t n = c->receive(buffer.data(), buffer.size(), nullptr, 0, false);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(body(buffer.substr(0, n)), "hello over tls\n");
  EXPECT_EQ(c->receive(buffer.data(), buffer.size(), nullptr, 0, false), 0u);
  c->close();
  c->close();  // harmless
}

TEST_F(Tls, PiecesOfSendAndReceive) {
  trustCa();
  EchoServer echo;
  auto c = connect(settings(2), echo.port());
  ASSERT_TRUE(c->send("ab", 2, "", 0, "cd", 2));
  char first[8] = {}, second[8] = {};
  // The first buffer fills, so the second is read too.
  EXPECT_EQ(c->receive(first, 2, second, 2, false), 4u);
  EXPECT_EQ(std::string(first, 2) + std::string(second, 2), "abcd");
  ASSERT_TRUE(c->send("xyz", 3, nullptr, 0, nullptr, 0));
  char big[64] = {};
  EXPECT_EQ(c->receive(big, sizeof big, second, 2, true), 3u);
  EXPECT_EQ(std::string(big, 3), "xyz");
}

TEST_F(Tls, BackgroundEchoAndDestructionEndsBothThreads) {
  trustCa();
  EchoServer echo;
  long before = Common::detail::liveThreadControls();
  {
    auto c = connect(settings(2), echo.port());
    c->startTransferThreads();
    c->startTransferThreads();  // a second start changes nothing
    std::string data = randomBytes(1 << 20, 5);
    std::string back;
    std::thread sender([&] {
      for (std::size_t at = 0; at < data.size(); at += 50'000)
        EXPECT_TRUE(c->send(data.data() + at, std::min<std::size_t>(50'000, data.size() - at), nullptr, 0, nullptr, 0));
    });
    std::string piece(70'000, '\0');
    while (back.size() < data.size()) {
      std::size_t n = c->receive(piece.data(), piece.size(), nullptr, 0, true);
      if (n == 0) break;
      back.append(piece, 0, n);
    }
    sender.join();
    EXPECT_TRUE(back == data);
    EXPECT_EQ(Common::detail::liveThreadControls(), before + 2);
  }
  // Both transfer threads are gone with their control blocks, and the
  // server saw the end of the connection.
  echo.finish();
  EXPECT_TRUE(echo.sawEnd);
  EXPECT_EQ(Common::detail::liveThreadControls(), before);
}

TEST(TlsErrors, LibraryQueueBecomesTheCauses) {
  ERR_clear_error();
  ERR_raise_data(ERR_LIB_SSL, SSL_R_CERTIFICATE_VERIFY_FAILED, "first %d", 1);
  ERR_raise(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE);
  Common::Error e = Network::makeLibraryError(Common::Error(KV_SITE, 0x30412, u"SSL connection failed."));
  EXPECT_EQ(e.code(), 0x30412u);
  Common::Error last = e.cause();
  EXPECT_EQ(last.code(), 0x30411u);
  EXPECT_EQ(narrow(last.text()), "cert already in hash table");
  Common::Error first = last.cause();
  EXPECT_EQ(narrow(first.text()), "certificate verify failed");
  EXPECT_STREQ(first.narrowField("Data"), "first 1");
  EXPECT_STREQ(last.narrowField("Data"), "");
  EXPECT_NE(std::string(first.narrowField("ErrorString")).find("certificate verify failed"), std::string::npos);
  EXPECT_EQ(first.numberField("CryptoThreadID"), static_cast<std::uint64_t>(GetCurrentThreadId()));
  EXPECT_GT(first.numberField("Line"), 0u);
  EXPECT_FALSE(first.cause());
  EXPECT_EQ(ERR_peek_error(), 0u);
  // An empty queue gives the error back as it was.
  EXPECT_EQ(Network::makeLibraryError(Common::Error(KV_SITE, 7)).code(), 7u);
}

// The update client's road: the HTTP client over the TLS client.
class Https : public Tls {
 protected:
  void SetUp() override {
    Tls::SetUp();
    Network::useTlsForHttps();
  }
  static std::string fetch(const std::string& url) {
    auto a = NetTest::accessor();
    auto connection = LiveUpdate::httpGetRange(*a, *NetTest::uri(url), 0, 0);
    std::string got, piece(64 * 1024, '\0');
    for (;;) {
      std::size_t n = connection->receive(piece.data(), piece.size(), nullptr, 0, false);
      got.append(piece, 0, n);
      // A short count may come before a break; only 0 is the end.
      if (n == 0) break;
    }
    return got;
  }
  std::string url(const std::string& host, const std::string& path) {
    return "https://" + host + ":" + std::to_string(tlsPort) + path;
  }
};

bool toLoopback(std::vector<Network::SocketAddress>& list, const std::string&, std::uint16_t port) {
  Network::SocketAddress a;
  const sockaddr_in in = loopback(port);
  std::memcpy(a.address, &in, sizeof in);
  a.length = sizeof(sockaddr_in);
  list.push_back(a);
  return true;
}

TEST_F(Https, VerifiesTheServerAgainstTheWorldsRootStore) {
  trustCa();
  std::string got = fetch(url("localhost", "/package.bin"));
  EXPECT_TRUE(got == *content);

  Network::setHostResolver(toLoopback);
  EXPECT_EQ(refusal([&] { fetch(url("other.test", "/package.bin")); }).code(), 0x30412u);
  std::filesystem::remove(root_ + "/ca.pem");
  EXPECT_EQ(refusal([&] { fetch(url("localhost", "/package.bin")); }).code(), 0x30412u);

  // The process-wide callback may still take the server.
  Recorder accept(true, false);
  LiveUpdate::setCheckCertificateCallback(&accept);
  EXPECT_EQ(fetch(url("localhost", "/small.txt")), "hello over tls\n");
  EXPECT_FALSE(accept.seen.empty());
}

TEST_F(Https, ThroughAProxyTheSessionRunsInATunnel) {
  trustCa();
  TunnelProxy proxy;
  NetTest::ProxySettings settings;
  settings.useProxy = true;
  settings.host = "127.0.0.1";
  settings.port = proxy.port();
  auto a = NetTest::accessor(settings);
  auto connection = LiveUpdate::httpGetRange(*a, *NetTest::uri(url("localhost", "/small.txt")), 0, 0);
  char buffer[64] = {};
  std::size_t n = connection->receive(buffer, sizeof buffer, nullptr, 0, false);
  EXPECT_EQ(std::string(buffer, n), "hello over tls\n");
  connection.reset();
  EXPECT_EQ(proxy.head.rfind("CONNECT localhost:" + std::to_string(tlsPort) + " HTTP/1.0\r\n", 0), 0u) << proxy.head;
}

TEST_F(Https, RedirectToPlainHttpIsRefused) {
  trustCa();
  EXPECT_EQ(refusal([&] { fetch(url("localhost", "/away")); }).code(), LiveUpdate::kHttpStatusError);
}

TEST_F(Https, AnInterruptReachesAQueryInItsHandshake) {
  // Accepts and never answers: the handshake waits for the server's hello.
  NetTest::HttpServer silent([](const std::string&, int) { return NetTest::Reply{}; });
  LiveUpdate::HttpInterrupt token;
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    token.interrupt();
  });
  auto a = NetTest::accessor();
  Common::Error e = refusal([&] {
    LiveUpdate::httpGetRange(*a, *NetTest::uri("https://localhost:" + std::to_string(silent.port()) + "/f"), 0, 0,
                             &token);
  });
  other.join();
  EXPECT_EQ(e.code(), 0x4000Fu);
  EXPECT_EQ(narrow(e.text()), "Canceled.");
}

TEST_F(Https, ABodyCutOffWithoutCloseNotificationIsATransferError) {
  trustCa();
  struct Case {
    const char* name;
    std::string answer;
    bool clean;
    std::uint32_t code;
  } cases[] = {
      {"no length, closed cleanly", "HTTP/1.0 200 OK\r\n\r\nhello", true, 0},
      {"no length, cut off", "HTTP/1.0 200 OK\r\n\r\nhello", false, LiveUpdate::kHttpTransferError},
      {"length announced and sent, cut off after", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, 0},
      {"length announced, cut off before", "HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\nhello", false,
       LiveUpdate::kHttpTransferError},
      {"length announced, closed cleanly before", "HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\nhello", true,
       LiveUpdate::kHttpTransferError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnswerServer server("server.pem", "server.key", c.answer, c.clean);
    std::string got;
    Common::Error e = refusal([&] { got = fetch("https://localhost:" + std::to_string(server.port()) + "/f"); });
    EXPECT_EQ(e.code(), c.code) << narrow(e.text());
    if (!c.code) { EXPECT_EQ(got, "hello"); }
    if (c.code) { EXPECT_TRUE(LiveUpdate::isRetryableHttpError(e.code())); }
  }
}

}  // namespace
