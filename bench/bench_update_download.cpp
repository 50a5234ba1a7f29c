// A package download through the update client against kvupdated over HTTPS
// (a test CA among the machine's roots): the application's road — infoUpdates,
// getUpdates, ranged GET written to a file in 64 KiB chunks, MD5 of the file
// checked against the service's hash — as one whole process, against
// `curl -o FILE URL` followed by `md5sum FILE` (two whole processes, their
// times added). Both write the file fresh each run; batches alternate.
//  1. the whole download, ours against curl + md5sum (goal <= 1.2x);
//  2. the MD5 pass alone, ours (the worker's file_md5_hex) against md5sum
//     (goal <= 1.1x), on the same file in the page cache;
//  3. a resume after a drop: the connections and file requests it costs,
//     from kvupdated's request log.
//
// bench_update_download [MB] [BATCHES]   (default 200 MB, 5 batches)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "bench_tls.h"
#include "bench_util.h"
#include "files/windows_dir.h"
#include "installmenu/update/newest_package.h"
#include "installmenu/update/update_client.h"
#include "liveupdate/test_update_service.h"
#include "network/ssl/test_pki.h"
#include "platform/win32/windows.h"

extern char** environ;

namespace {

std::u16string windowsPath(const std::string& unix) {
  std::u16string p = u"Z:";
  for (char ch : unix) p += ch == '/' ? u'\\' : static_cast<char16_t>(static_cast<unsigned char>(ch));
  return p;
}

class Waiter final : public InstallMenuHelper::DownloadHandler {
 public:
  void progress(std::uint32_t) override {}
  void downloaded() override { end(0); }
  void failed(const Common::Error& e) override {
    std::fprintf(stderr, "download failed: 0x%x\n", e.code());
    end(1);
  }
  void cancelled() override { end(2); }
  int wait() {
    std::unique_lock<std::mutex> g(lock_);
    done_.wait(g, [&] { return result_ >= 0; });
    return result_;
  }

 private:
  void end(int r) {
    std::lock_guard<std::mutex> g(lock_);
    result_ = r;
    done_.notify_all();
  }
  std::mutex lock_;
  std::condition_variable done_;
  int result_ = -1;
};

// The child side: the newest package to `destination`, checked.
int fetch(const std::string& destination) {
  auto info = LiveUpdate::createProductInformation(Processor::String("Vazedi"), "{PKG}", 2, 1033,
                                                   LiveUpdate::createVersion("7.0.0.0"));
  auto newest = InstallMenuHelper::newestPackageFor(InstallMenuHelper::createProductImpl(info));
  if (!newest) return 3;
  Waiter waiter;
  newest->download(windowsPath(destination), &waiter);
  const int r = waiter.wait();
  newest.reset();
  return r;
}

// The child side: the worker's MD5 pass over a file; prints the digest.
int md5(const std::string& path) {
  std::unique_ptr<ri_file> file(current_dir()->open_file(windowsPath(path).c_str(), true));
  if (!file || !file->Good()) return 1;
  std::printf("%s\n", InstallMenuHelper::file_md5_hex(*file).c_str());
  return 0;
}

using bench::median;

void pointAt(const std::string& url) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Korvane\\Update\\Debug", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr);
  const std::u16string v(url.begin(), url.end());
  RegSetValueExW(key, u"ServerUrl", 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                 static_cast<DWORD>((v.size() + 1) * 2));
  RegCloseKey(key);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "--fetch") return fetch(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--md5") return md5(argv[2]);
  } catch (const Common::Error& e) {
    std::fprintf(stderr, "error 0x%x\n", e.code());
    return 1;
  }
  const int mb = argc > 1 ? std::atoi(argv[1]) : 200;
  const int batches = argc > 2 ? std::atoi(argv[2]) : 5;

  const PkiTest::Pki& pki = PkiTest::Pki::get();
  bench::temp_folder world("update-download-");
  const std::string bundle = bench::trust_system_and_test_roots(world.path);
  ::setenv("KV_WORLD_ROOT", (world.path.string() + "/world").c_str(), 1);
  ::setenv("KV_DRIVE_C", (world.path.string() + "/c").c_str(), 1);

  const std::string service = world.path.string() + "/service";
  std::filesystem::create_directories(service);
  {
    std::ofstream out(service + "/full-7.3.msi", std::ios::binary);
    std::string chunk = UpdateTest::packageBytes(1 << 20, 5);
    for (int i = 0; i < mb; ++i) {
      chunk[0] = static_cast<char>(i);
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
  }
  const std::uint64_t size = static_cast<std::uint64_t>(mb) << 20;
  UpdateTest::writeFile(service + "/catalogue.xml", "<update version=\"7.3\" description=\"the newest\">"
                                                    "<file name=\"full-7.3.msi\" size=\"" +
                                                        std::to_string(size) + "\"/></update>");
  const std::vector<std::string> tls = {"--tls-port", "0", "--cert", pki.path("chain.pem"), "--key",
                                        pki.path("server.key")};
  UpdateTest::Service kvupdated(service, tls);
  pointAt(kvupdated.httpsUrl());

  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const std::string ourFile = world.path.string() + "/ours.msi", curlFile = world.path.string() + "/curl.msi";
  const std::string fileUrl = "https://localhost:" + std::to_string(kvupdated.httpsPort) + "/files/full-7.3.msi";
  const std::vector<std::string> ours = {self, "--fetch", ourFile};
  const std::vector<std::string> curl = {"/usr/bin/curl", "-s", "--cacert", bundle, "-o", curlFile, fileUrl};
  const std::vector<std::string> md5sum = {"/usr/bin/md5sum", curlFile};
  const std::vector<std::string> ourMd5 = {self, "--md5", curlFile};

  // Warm up both roads (and the service's hash of the package) once.
  std::filesystem::remove(ourFile);
  bench::run_process(ours);
  bench::run_process(curl);
  bench::run_process(md5sum);
  const std::string expected = UpdateTest::md5sum(curlFile);
  if (!LiveUpdate::equalsIgnoreCase(UpdateTest::md5sum(ourFile), expected)) {
    std::fprintf(stderr, "the downloaded files differ\n");
    return 1;
  }

  std::printf("download of %d MB over HTTPS and its MD5, whole processes (%d batches of 3 each, alternating)\n", mb,
              batches);
  std::vector<double> oursWall, oursCpu, curlWall, curlCpu, oursMd5, md5sumWall;
  for (int b = 0; b < batches; ++b) {
    for (int i = 0; i < 3; ++i) {
      std::filesystem::remove(ourFile);
      bench::process_cost o = bench::run_process(ours);
      oursWall.push_back(o.wall);
      oursCpu.push_back(o.cpu);
    }
    for (int i = 0; i < 3; ++i) {
      std::filesystem::remove(curlFile);
      bench::process_cost c = bench::run_process(curl), m = bench::run_process(md5sum);
      curlWall.push_back(c.wall + m.wall);
      curlCpu.push_back(c.cpu + m.cpu);
    }
    for (int i = 0; i < 3; ++i) oursMd5.push_back(bench::run_process(ourMd5).wall);
    for (int i = 0; i < 3; ++i) md5sumWall.push_back(bench::run_process(md5sum).wall);
  }
  const double ow = median(oursWall), oc = median(oursCpu), cw = median(curlWall), cc = median(curlCpu);
  std::printf("  ours           median wall %.3f s (%.0f MB/s), cpu %.3f s\n", ow, mb / ow, oc);
  std::printf("  curl + md5sum  median wall %.3f s (%.0f MB/s), cpu %.3f s\n", cw, mb / cw, cc);
  std::printf("  ratio ours/(curl + md5sum): wall %.2f, cpu %.2f (goal <= 1.2)\n", ow / cw, oc / cc);
  const double om = median(oursMd5), mm = median(md5sumWall);
  std::printf("MD5 pass over the %d MB file in the page cache, whole processes\n", mb);
  std::printf("  ours %.3f s, md5sum %.3f s, ratio %.2f (goal <= 1.1)\n", om, mm, om / mm);

  // The exchanges of one download without trouble, then with a drop halfway:
  // the resume asks for the rest only, on one new connection.
  auto exchanges = [](const UpdateTest::Service& s, std::size_t from, int& posts, int& gets, std::string& ranges) {
    posts = gets = 0;
    ranges.clear();
    const auto lines = s.requests();
    for (std::size_t k = from; k < lines.size(); ++k) {
      const std::string& line = lines[k];
      posts += line.rfind("POST ", 0) == 0;
      if (line.rfind("GET /files/", 0) == 0) {
        ++gets;
        ranges += " [" + line.substr(line.find("HTTP/1.0") + 8) + " ]";
      }
    }
  };
  {
    const std::size_t before = kvupdated.requests().size();
    std::filesystem::remove(ourFile);
    bench::run_process(ours);
    int posts, gets;
    std::string ranges;
    exchanges(kvupdated, before, posts, gets, ranges);
    std::printf("one download: %d connections (%d queries, %d file requests:%s)\n", posts + gets, posts, gets,
                ranges.c_str());
  }
  {
    UpdateTest::Service dropping(service, {"--tls-port", "0", "--cert", pki.path("chain.pem"), "--key",
                                           pki.path("server.key"), "--drop-after", std::to_string(size / 2),
                                           "--drop-times", "1"});
    pointAt(dropping.httpsUrl());
    std::filesystem::remove(ourFile);
    bench::process_cost r = bench::run_process(ours);
    int posts, gets;
    std::string ranges;
    exchanges(dropping, 0, posts, gets, ranges);
    std::printf("a drop after %llu of %llu bytes: %.3f s, %d connections (%d queries, %d file requests:%s), MD5 %s\n",
                static_cast<unsigned long long>(size / 2), static_cast<unsigned long long>(size), r.wall, posts + gets,
                posts, gets, ranges.c_str(),
                LiveUpdate::equalsIgnoreCase(UpdateTest::md5sum(ourFile), expected) ? "matches" : "DIFFERS");
  }
  return 0;
}
