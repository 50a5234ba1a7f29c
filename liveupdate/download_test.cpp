#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "core/error.h"
#include "liveupdate/repository.h"
#include "liveupdate/test_update_service.h"
#include "network/ssl/ssl.h"
#include "network/ssl/test_pki.h"
#include "network/http_client.h"
#include "system/trace.h"

namespace {

using namespace LiveUpdate;
using UpdateTest::Folder;
using UpdateTest::Service;

std::mutex tracedLock;
std::vector<std::string> traced;

void ignoreText(int, std::uint32_t, std::uint32_t, const char16_t*) {}
int keepPattern(int level, std::uint32_t facility, std::uint32_t number, const char16_t* pattern,
                const Common::TraceArgument* arguments, int count) {
  std::u16string t = Common::traceArgumentsText(pattern, arguments, count);
  std::lock_guard<std::mutex> g(tracedLock);
  traced.push_back(std::to_string(level) + "/" + std::to_string(number) + " " + std::string(t.begin(), t.end()));
  return 0;
}

// Counts the warnings of the update client while alive.
struct Warnings {
  Warnings() : threshold(Common::traceThreshold()) {
    Common::setTraceThreshold(0);
    Common::addTraceSink(sink);
    std::lock_guard<std::mutex> g(tracedLock);
    traced.clear();
  }
  ~Warnings() {
    Common::removeTraceSink(sink);
    Common::setTraceThreshold(threshold);
  }
  int count(std::uint32_t number) const {
    std::lock_guard<std::mutex> g(tracedLock);
    int n = 0;
    for (const auto& t : traced) n += t.rfind("3/" + std::to_string(number) + " ", 0) == 0;
    return n;
  }
  const Common::TraceSink sink{&ignoreText, &keepPattern, nullptr};
  int threshold;
};

template <class F>
Common::Error errorOf(F&& f) {
  try {
    f();
  } catch (const Common::Error& e) {
    return e;
  }
  return {};
}

constexpr std::size_t kSize = 300'000;

class Download : public ::testing::Test {
 protected:
  void SetUp() override {
    content = UpdateTest::packageBytes(kSize);
    UpdateTest::writeFile(folder.file("full-7.2.msi"), content);
    UpdateTest::writeFile(folder.file("fix.msp"), "patch bytes");
    UpdateTest::writeFile(folder.file("catalogue.xml"),
                          "<update version=\"7.1.0.3\" description=\"a fix\"><type>Patch</type>"
                          "<file name=\"fix.msp\" size=\"11\"/></update>"
                          "<update version=\"7.2.0.0\" description=\"the new one\">"
                          "<file name=\"full-7.2.msi\" size=\"" + std::to_string(kSize) + "\"/></update>");
  }

  std::vector<Processor::RefPtr<Package>> query(const Service& service) {
    auto repository = createRepositoryHTTP(createUriResource(wide(service.url())), applicationConfigurationAccessor());
    auto product = createProduct(
        createProductInformation(Processor::String("Vazedi"), "{PKG}", 2, 1033, createVersion("7.0.0.0")));
    std::vector<Processor::RefPtr<Package>> packages;
    repository->queryUpdates(product.get(), packages);
    return packages;
  }
  static std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

  static std::string readAll(PackageInput& input, std::uint32_t chunk = 64 * 1024) {
    std::string out;
    std::string buf(chunk, '\0');
    for (;;) {
      std::uint32_t n = 0;
      input.read(buf.data(), chunk, n);
      if (!n) break;
      out.append(buf, 0, n);
    }
    return out;
  }

  Folder folder;
  std::string content;
};

TEST_F(Download, QueryMakesPackagesAndTheReaderAsksLazilyOnce) {
  Service service(folder.path, {});
  auto packages = query(service);
  ASSERT_EQ(packages.size(), 2u);
  EXPECT_TRUE(packages[0]->isPatch());
  EXPECT_FALSE(packages[1]->isPatch());
  EXPECT_EQ(packages[1]->productInformation()->version()->text(), "7.2.0.0");
  EXPECT_EQ(packages[1]->productInformation()->packageId(), "{PKG}");
  EXPECT_EQ(packages[1]->size(), kSize);
  EXPECT_EQ(packages[1]->name().toNarrow(), "full-7.2.msi");
  // Only the infoUpdates POST so far.
  EXPECT_EQ(service.requests().size(), 1u);

  auto input = packages[1]->input();
  EXPECT_EQ(readAll(*input), content);
  // The service writes the hash in capitals; md5sum is the witness.
  std::string witness = UpdateTest::md5sum(folder.file("full-7.2.msi"));
  for (char& c : witness) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(packages[1]->hash(), witness);
  auto lines = service.requests();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "POST /service HTTP/1.0");
  EXPECT_EQ(lines[2], "GET /files/full-7.2.msi HTTP/1.0");  // from 0: no range line
}

TEST_F(Download, SeeksReconnectWithARange) {
  Service service(folder.path, {});
  auto input = query(service)[1]->input();
  EXPECT_EQ(errorOf([&] { input->seek_set(kSize); }).code(), kIncorrectPosition);
  EXPECT_EQ(input->seek_set(kSize - 1), static_cast<std::int64_t>(kSize - 1));
  input->seek_set(1000);
  input->seek_set(1000);  // the same place resets nothing
  std::string first(500, '\0');
  std::uint32_t n = 0;
  input->read(first.data(), 500, n);
  EXPECT_EQ(n, 500u);
  EXPECT_EQ(first, content.substr(1000, 500));
  input->read(first.data(), 500, n);  // goes on on the same connection
  EXPECT_EQ(first, content.substr(1500, 500));
  input->seek_set(0);
  input->read(first.data(), 500, n);
  EXPECT_EQ(first, content.substr(0, 500));
  EXPECT_EQ(errorOf([&] { input->seek_cur(1); }).code(), kInternalError);
  EXPECT_EQ(errorOf([&] { input->rewind(); }).code(), kInternalError);
  auto lines = service.requests();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "GET /files/full-7.2.msi HTTP/1.0 bytes=1000-" + std::to_string(kSize - 1));
  EXPECT_EQ(lines[3], "POST /service HTTP/1.0");  // a seek back asks for the file again
  EXPECT_EQ(lines[4], "GET /files/full-7.2.msi HTTP/1.0");
}

TEST_F(Download, HashBeforeAnyReadAsksOnce) {
  Service service(folder.path, {});
  auto package = query(service)[1];
  const std::string hash = package->hash();
  EXPECT_EQ(hash.size(), 32u);
  EXPECT_EQ(package->hash(), hash);
  EXPECT_EQ(service.requests().size(), 2u);
}

TEST_F(Download, ADroppedConnectionResumesWithARange) {
  // Two drops after 100,000 bytes: two warnings, the file whole.
  Service service(folder.path, {"--drop-after", "100000", "--drop-times", "2"});
  Warnings warnings;
  auto input = query(service)[1]->input();
  EXPECT_EQ(readAll(*input), content);
  EXPECT_EQ(warnings.count(0x567533), 2);
  auto lines = service.requests();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], "GET /files/full-7.2.msi HTTP/1.0 bytes=100000-" + std::to_string(kSize - 1));
  EXPECT_EQ(lines[4], "GET /files/full-7.2.msi HTTP/1.0 bytes=200000-" + std::to_string(kSize - 1));
}

TEST_F(Download, RetriesAreCountedOverTheReadersLife) {
  Service service(folder.path, {"--drop-after", "10", "--drop-times", "7"});
  Warnings warnings;
  auto input = query(service)[1]->input();
  std::string got;
  Common::Error e = errorOf([&] { got = readAll(*input); });
  EXPECT_EQ(e.code(), kMaxRetryExceeded);
  EXPECT_EQ(warnings.count(0x567533), 5);
  // After the limit, the first failure ends the call at once.
  std::string buf(64, '\0');
  std::uint32_t n = 0;
  EXPECT_EQ(errorOf([&] { input->read(buf.data(), 64, n); }).code(), kMaxRetryExceeded);
}

TEST_F(Download, AWholeFileAnsweredToARangeIsNeverTakenAsThePart) {
  Service service(folder.path, {"--ignore-range"});
  auto input = query(service)[1]->input();
  input->seek_set(5000);
  std::string buf(100, '\0');
  std::uint32_t n = 0;
  EXPECT_EQ(errorOf([&] { input->read(buf.data(), 100, n); }).code(), kMaxRetryExceeded);
  EXPECT_EQ(n, 0u);
}

TEST_F(Download, InterruptReachesAnExchangeWaitingForItsAnswer) {
  Service service(folder.path, {});
  auto package = query(service)[1];
  Service stalled(folder.path, {"--stall"});
  auto input = Processor::makeRef<HTTPInput>(applicationConfigurationAccessor(),
                                             createUriResource(wide(stalled.url())), std::vector<unsigned char>{'x'},
                                             100);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    input->interrupt();
  });
  std::string buf(10, '\0');
  std::uint32_t n = 0;
  Common::Error e = errorOf([&] { input->read(buf.data(), 10, n); });
  canceller.join();
  // The read ends with what came (nothing); the caller looks at its cancel.
  EXPECT_EQ(e.code(), 0u);
  EXPECT_EQ(n, 0u);
  // The reader stays interrupted: a later read does not block.
  input->read(buf.data(), 10, n);
  EXPECT_EQ(n, 0u);
}

TEST_F(Download, TheExchangeRetriesFiveTimes) {
  struct Case {
    std::vector<std::string> arguments;
    std::uint32_t code;
    int warnings;
    std::size_t posts;
  } cases[] = {
      {{"--drop-posts", "2"}, 0, 2, 3},
      {{"--drop-posts", "5"}, kCannotConnect, 5, 5},
      {{"--error-root"}, kProtocolError, 0, 1},  // not retried
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    Service service(folder.path, c.arguments);
    Warnings warnings;
    Common::Error e = errorOf([&] { EXPECT_EQ(query(service).size(), 2u); });
    EXPECT_EQ(e.code(), c.code);
    EXPECT_EQ(warnings.count(0x567531), c.warnings);
    EXPECT_EQ(service.requests().size(), c.posts);
  }
}

TEST_F(Download, QueryChecks) {
  auto repository = createRepositoryHTTP(createUriResource(u"http://127.0.0.1:9/"), applicationConfigurationAccessor());
  std::vector<Processor::RefPtr<Package>> packages;
  EXPECT_EQ(errorOf([&] { repository->queryUpdates(nullptr, packages); }).code(), kNoSuchProduct);
  EXPECT_EQ(errorOf([&] { repository->publish(); }).code(), kInternalError);
  EXPECT_EQ(errorOf([&] { createRepositoryHTTP(nullptr, applicationConfigurationAccessor()); }).code(), kFailedCheck);
  EXPECT_EQ(repository->uri().toNarrow(), "http://127.0.0.1:9/");
}

}  // namespace

namespace {

// End to end over HTTPS: a CA made for the test is the only trusted root.
class HttpsDownload : public Download {
 protected:
  void SetUp() override {
    Download::SetUp();
    const auto& pki = PkiTest::Pki::get();
    roots = folder.path + "/roots";
    std::filesystem::create_directories(roots);
    std::filesystem::copy_file(pki.path("ca.pem"), roots + "/ca.pem");
    ::setenv("KV_CERT_ROOT", roots.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("KV_CERT_ROOT"); }
  std::vector<std::string> tlsArguments(std::vector<std::string> more = {}) {
    const auto& pki = PkiTest::Pki::get();
    std::vector<std::string> a = {"--tls-port", "0", "--cert", pki.path("chain.pem"), "--key", pki.path("server.key")};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  // The application's road: the newest full package, downloaded, its hash compared.
  std::string fetchNewest(const Service& service) {
    auto repository =
        createRepositoryHTTP(createUriResource(wide(service.httpsUrl())), applicationConfigurationAccessor());
    auto product = createProduct(
        createProductInformation(Processor::String("Vazedi"), "{PKG}", 2, 1033, createVersion("7.0.0.0")));
    std::vector<Processor::RefPtr<Package>> packages;
    repository->queryUpdates(product.get(), packages);
    Processor::RefPtr<Package> newest;
    for (auto& p : packages)
      if (!p->isPatch() && (!newest || compareVersions(*p->productInformation()->version(),
                                                      *newest->productInformation()->version()) > 0))
        newest = p;
    EXPECT_TRUE(newest);
    const std::string got = readAll(*newest->input());
    const std::string local = folder.file("downloaded.msi");
    UpdateTest::writeFile(local, got);
    EXPECT_TRUE(equalsIgnoreCase(newest->hash(), UpdateTest::md5sum(local)));
    return got;
  }
  std::string roots;
};

TEST_F(HttpsDownload, NewestPackageOverTls) {
  Service service(folder.path, tlsArguments());
  EXPECT_EQ(fetchNewest(service), content);
}

TEST_F(HttpsDownload, NewestPackageOverTlsWithTwoDrops) {
  Service service(folder.path, tlsArguments({"--drop-after", "70000", "--drop-times", "2"}));
  Warnings warnings;
  EXPECT_EQ(fetchNewest(service), content);
  EXPECT_EQ(warnings.count(0x567533), 2);
}

TEST_F(HttpsDownload, AnUntrustedServerIsRefused) {
  ::setenv("KV_CERT_ROOT", (folder.path + "/nothing").c_str(), 1);
  Service service(folder.path, tlsArguments());
  EXPECT_EQ(errorOf([&] { fetchNewest(service); }).code(), 0x30412u);
}

}  // namespace

namespace {

TEST_F(HttpsDownload, ATlsStreamCutWithoutCloseNotificationResumes) {
  Service service(folder.path, tlsArguments({"--drop-after", "70000", "--drop-times", "2", "--abrupt"}));
  Warnings warnings;
  EXPECT_EQ(fetchNewest(service), content);
  EXPECT_EQ(warnings.count(0x567533), 2);
}

TEST_F(HttpsDownload, ATlsReadThatBreaksOffKeepsWhatCame) {
  Service service(folder.path, tlsArguments({"--drop-after", "1000", "--abrupt"}));
  Network::SSLSettings settings;
  settings.serverName = "localhost";
  auto tls = Network::createSSLClient(settings, new Network::TCPSocket("127.0.0.1", service.httpsPort));
  const std::string request = "GET /files/full-7.2.msi HTTP/1.0\r\n\r\n";
  ASSERT_TRUE(tls->send(request.data(), request.size(), nullptr, 0, nullptr, 0));
  std::string buf(kSize, '\0');
  std::size_t n = 0;
  EXPECT_EQ(errorOf([&] { n = tls->receive(buf.data(), buf.size(), nullptr, 0, false); }).code(), 0u);
  const std::string got = buf.substr(0, n);
  const std::size_t body = got.find("\r\n\r\n");
  ASSERT_NE(body, std::string::npos);
  EXPECT_EQ(got.substr(body + 4), content.substr(0, 1000));
  // The break itself comes with the next call.
  EXPECT_EQ(errorOf([&] { tls->receive(buf.data(), buf.size(), nullptr, 0, false); }).code(), 0x30412u);
}

}  // namespace
