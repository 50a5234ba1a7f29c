// HTTPS against nginx on 127.0.0.1, certificates from a test CA. The trusted
// roots are the machine's real ones (every entry of /etc/ssl/certs, Debian's
// 140-odd roots, linked into a folder) plus the test CA; curl and openssl
// get the same roots as one bundle (Debian's ca-certificates.crt and the CA).
//  1. Downloading a large file through the HTTP client and the TLS client,
//     against `curl -o /dev/null`: whole processes, both verifying the server.
//  2. TLS handshakes per second (new sessions, server verified), against
//     `openssl s_time -new`: both one process doing handshakes back to back.
// Goal: download within 1.2x of curl.
//
// bench_https [MB]   (default 200)
// This file also uses the C library's socket headers.
#define WIN32_LEAN_AND_MEAN

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_tls.h"
#include "bench_util.h"
#include "network/http_client.h"
#include "network/ssl/https.h"
#include "network/ssl/ssl.h"
#include "network/ssl/test_pki.h"
#include "network/test_nginx.h"
#include "network/uri_resource.h"

namespace {

class Configuration final : public LiveUpdate::ProtocolConfiguration {
 public:
  bool useProxy() const override { return false; }
  Processor::String proxyHost() const override { return Processor::String(); }
  std::uint16_t proxyPort() const override { return 0; }
  bool proxyAuthentication() const override { return false; }
  Processor::String proxyCredentials() const override { return Processor::String(); }
  bool reservedFlag() const override { return false; }
  void reserved7() override {}
  void reserved8() override {}
  void reserved9() override {}
  void reserved10() override {}
  void reserved11() override {}
  void reserved12() override {}
  void reserved13() override {}
};

class Accessor final : public LiveUpdate::ProtocolConfigurationAccessor {
 public:
  Processor::RefPtr<LiveUpdate::ProtocolConfiguration> configuration(const LiveUpdate::UriResource&) override {
    return Processor::makeRef<Configuration>();
  }
};

// The child side: one download to nowhere; prints the byte count.
int fetch(const std::string& url) {
  Network::useTlsForHttps();
  auto accessor = Processor::makeRef<Accessor>();
  auto uri = LiveUpdate::createUriResource(std::u16string(url.begin(), url.end()));
  auto connection = LiveUpdate::httpGetRange(*accessor, *uri, 0, 0);
  std::string piece(256 * 1024, '\0');
  std::uint64_t total = 0;
  for (;;) {
    std::size_t n = connection->receive(piece.data(), piece.size(), nullptr, 0, false);
    total += n;
    if (n < piece.size()) break;
  }
  std::printf("%llu\n", static_cast<unsigned long long>(total));
  return 0;
}

// The child side: handshakes for `seconds`; prints the count.
int handshakes(std::uint16_t port, double seconds, bool noDelay) {
  Network::SSLSettings s;
  s.policy = 2;
  s.serverName = "localhost";
  int count = 0;
  const auto start = bench::clock_type::now();
  while (bench::seconds_since(start) < seconds) {
    auto* tcp = new Network::TCPSocket("127.0.0.1", port);
    if (noDelay) tcp->setNoDelay(true);
    auto client = Network::createSSLClient(s, tcp);
    ++count;
  }
  std::printf("%d %.3f\n", count, bench::seconds_since(start));
  return 0;
}

using bench::median;

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "--fetch") return fetch(argv[2]);
    if (argc == 5 && std::string(argv[1]) == "--handshakes")
      return handshakes(std::atoi(argv[2]), std::atof(argv[3]), argv[4][0] == '1');
  } catch (const Common::Error& e) {
    std::fprintf(stderr, "error 0x%x\n", e.code());
    return 1;
  }
  const int mb = argc > 1 ? std::atoi(argv[1]) : 200;

  const PkiTest::Pki& pki = PkiTest::Pki::get();
  bench::temp_folder world("https-world-");
  const std::string bundle = bench::trust_system_and_test_roots(world.path);
  ::setenv("KV_WORLD_ROOT", (world.path.string() + "/world").c_str(), 1);
  ::setenv("KV_DRIVE_C", (world.path.string() + "/c").c_str(), 1);

  const std::uint16_t tls = NetTest::freeLoopbackPort();
  const std::string block = "  server {\n    listen 127.0.0.1:" + std::to_string(tls) + " ssl;\n    ssl_certificate " +
                            pki.path("server.pem") + ";\n    ssl_certificate_key " + pki.path("server.key") +
                            ";\n    root @DIR@/www;\n  }\n";
  NetTest::Nginx nginx(block, {tls});
  {
    std::ofstream out(nginx.www() / "big.bin", std::ios::binary);
    std::string chunk(1 << 20, '\0');
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 2654435761u >> 13);
    for (int i = 0; i < mb; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  ::chmod((nginx.www() / "big.bin").c_str(), 0644);

  const std::string url = "https://localhost:" + std::to_string(tls) + "/big.bin";
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const std::vector<std::string> ours = {self, "--fetch", url};
  const std::vector<std::string> curl = {"/usr/bin/curl", "-s", "--cacert", bundle, "-o", "/dev/null", url};
  const int runs = mb <= 20 ? 15 : 5;
  std::printf("download of %d MB over HTTPS, whole processes (%d runs each, alternating)\n", mb, runs);
  std::vector<double> oursWall, oursCpu, curlWall, curlCpu;
  bench::run_process(curl);  // warms the page cache
  for (int i = 0; i < runs; ++i) {
    bench::process_cost o = bench::run_process(ours), c = bench::run_process(curl);
    oursWall.push_back(o.wall);
    oursCpu.push_back(o.cpu);
    curlWall.push_back(c.wall);
    curlCpu.push_back(c.cpu);
  }
  const double ow = median(oursWall), oc = median(oursCpu), cw = median(curlWall), cc = median(curlCpu);
  std::printf("  ours   median wall %.3f s (%.0f MB/s), cpu %.3f s\n", ow, mb / ow, oc);
  std::printf("  curl   median wall %.3f s (%.0f MB/s), cpu %.3f s\n", cw, mb / cw, cc);
  std::printf("  ratio ours/curl: wall %.2f, cpu %.2f (goal <= 1.2)\n", ow / cw, oc / cc);

  std::printf("TLS handshakes per second, new sessions, 5 s each\n");
  int count = 0, countNoDelay = 0;
  double secs = 1, secsNoDelay = 1;
  std::sscanf(PkiTest::run(self + " --handshakes " + std::to_string(tls) + " 5 0").c_str(), "%d %lf", &count, &secs);
  std::sscanf(PkiTest::run(self + " --handshakes " + std::to_string(tls) + " 5 1").c_str(), "%d %lf", &countNoDelay,
              &secsNoDelay);
  std::string st = PkiTest::run("openssl s_time -connect 127.0.0.1:" + std::to_string(tls) + " -new -time 5 -CAfile " +
                                bundle + " -verify 10");
  int stCount = 0;
  double stReal = 1;
  std::size_t at = st.find("connections in ");
  at = at == std::string::npos ? at : st.rfind('\n', at);
  // "<n> connections in <t> real seconds"
  for (std::size_t p = st.find("real seconds"); p != std::string::npos;) {
    std::size_t line = st.rfind('\n', p);
    std::sscanf(st.c_str() + (line == std::string::npos ? 0 : line + 1), "%d connections in %lf", &stCount, &stReal);
    break;
  }
  std::printf("  ours            %.0f /s (%d in %.2f s)\n", count / secs, count, secs);
  std::printf("  ours, no-delay  %.0f /s (%d in %.2f s)\n", countNoDelay / secsNoDelay, countNoDelay, secsNoDelay);
  std::printf("  openssl s_time  %.0f /s (%d in %.2f s)\n", stCount / stReal, stCount, stReal);
  if (stCount)
    std::printf("  ratio ours/s_time %.2f, with no-delay %.2f\n", (count / secs) / (stCount / stReal),
                (countNoDelay / secsNoDelay) / (stCount / stReal));
  return 0;
}
