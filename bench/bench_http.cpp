// Downloading a large file over HTTP from nginx on loopback: the update
// client's HTTP/1.0 client against `curl -o /dev/null` on the same address.
//
//   bench_http [MB]      (default 200)
//
// Both sides are whole processes that fetch the whole file and drop it
// (`bench_http --get URL SIZE` is ours: a GET through the client, read in
// pieces of 64 KiB as the package download reads, checking the size),
// taking turns. Wall time and CPU time (user + system of the child) are
// medians of the runs.
// Goal: within 1.2x of curl.
// This file also uses the C library's socket headers.
#define WIN32_LEAN_AND_MEAN

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "network/http_client.h"
#include "network/test_nginx.h"

namespace {

int download(const char* url, unsigned long long expected) {
  auto accessor = LiveUpdate::applicationConfigurationAccessor();
  const std::string text = url;
  auto connection = LiveUpdate::httpGetRange(*accessor, *LiveUpdate::createUriResource(std::u16string(text.begin(), text.end())), 0, 0);
  std::vector<char> piece(64 * 1024);
  unsigned long long total = 0;
  for (;;) {
    std::size_t n = connection->receive(piece.data(), piece.size(), nullptr, 0, false);
    total += n;
    if (n < piece.size()) break;
  }
  if (total != expected) {
    std::fprintf(stderr, "got %llu bytes of %llu\n", total, expected);
    return 1;
  }
  return 0;
}

using bench::median;

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--get") return download(argv[2], std::strtoull(argv[3], nullptr, 10));
  const unsigned long long mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  if (!NetTest::Nginx::available()) {
    std::printf("nginx is not installed\n");
    return 1;
  }
  NetTest::Nginx server;
  std::string content(mb * 1024 * 1024, '\0');
  unsigned x = 12345;
  for (auto& c : content) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
  server.serve("large.bin", content);
  const std::string size = std::to_string(content.size());
  content.clear();
  content.shrink_to_fit();
  const std::string url = server.url("/large.bin");
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();

  const int runs = 7;
  std::vector<double> oursWall, oursCpu, curlWall, curlCpu;
  bench::run_process({"/usr/bin/curl", "-s", "-o", "/dev/null", url});  // warms the page cache
  for (int i = 0; i < runs; ++i) {
    bench::process_cost c = bench::run_process({"/usr/bin/curl", "-s", "-o", "/dev/null", url});
    bench::process_cost o = bench::run_process({self, "--get", url, size});
    oursWall.push_back(o.wall);
    oursCpu.push_back(o.cpu);
    curlWall.push_back(c.wall);
    curlCpu.push_back(c.cpu);
  }
  const double ow = median(oursWall), oc = median(oursCpu), cw = median(curlWall), cc = median(curlCpu);
  std::printf("%llu MB over loopback HTTP, medians of %d runs\n", mb, runs);
  std::printf("  ours: wall %.3f s (%.0f MB/s), cpu %.3f s\n", ow, static_cast<double>(mb) / ow, oc);
  std::printf("  curl: wall %.3f s (%.0f MB/s), cpu %.3f s\n", cw, static_cast<double>(mb) / cw, cc);
  std::printf("  ratio ours/curl: wall %.2f, cpu %.2f (goal <= 1.2)\n", ow / cw, oc / cc);
  return 0;
}
