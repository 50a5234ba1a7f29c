// The file layer's costs against plain POSIX calls: open/read/close of a small
// file, a large sequential read, making many files in one folder (each new name
// is looked up ignoring case), and finding a name given in the wrong case.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "platform/win32/windows.h"

namespace {

using Clock = bench::clock_type;
using bench::seconds_since;

void report(const char* what, double layer, double posix, const char* unit, double count) {
  std::printf("%-44s layer %9.2f %s  posix %9.2f %s  ratio %.2f\n", what, count / layer, unit, count / posix, unit,
              posix / layer);
}

std::u16string wide(const std::string& s) { return win32::utf8_to_utf16(s); }

}  // namespace

int main() {
  const bench::temp_folder folder("kv-bench-files-");
  if (folder.path.empty()) return 1;
  const std::string dir = folder.path.string();
  ::setenv("KV_WORLD_ROOT", (dir + "/world").c_str(), 1);
  ::setenv("KV_DRIVE_C", (dir + "/c").c_str(), 1);
  std::filesystem::create_directories(dir + "/c/many");
  std::filesystem::create_directories(dir + "/c/posix");

  // Small files: open, read 4 KiB, close.
  {
    std::string data(4096, 'd');
    FILE* f = std::fopen((dir + "/c/small.bin").c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    const int n = 20000;
    char buf[4096];
    auto t = Clock::now();
    for (int i = 0; i < n; ++i) {
      HANDLE h = CreateFileW(u"C:\\small.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      DWORD got;
      ReadFile(h, buf, sizeof buf, &got, nullptr);
      CloseHandle(h);
    }
    double layer = seconds_since(t);
    t = Clock::now();
    for (int i = 0; i < n; ++i) {
      int fd = ::open((dir + "/c/small.bin").c_str(), O_RDONLY);
      if (::read(fd, buf, sizeof buf) < 0) return 1;
      ::close(fd);
    }
    double posix = seconds_since(t);
    report("open + read 4 KiB + close", layer, posix, "ops/s", n);
  }

  // A large sequential read in 64 KiB chunks.
  {
    const std::size_t size = 256u << 20;
    std::vector<char> chunk(1 << 16, 'x');
    FILE* f = std::fopen((dir + "/c/big.bin").c_str(), "wb");
    for (std::size_t done = 0; done < size; done += chunk.size()) std::fwrite(chunk.data(), 1, chunk.size(), f);
    std::fclose(f);
    HANDLE h = CreateFileW(u"C:\\big.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    auto t = Clock::now();
    DWORD got = 1;
    while (ReadFile(h, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got) {
    }
    double layer = seconds_since(t);
    CloseHandle(h);
    int fd = ::open((dir + "/c/big.bin").c_str(), O_RDONLY);
    t = Clock::now();
    while (::read(fd, chunk.data(), chunk.size()) > 0) {
    }
    double posix = seconds_since(t);
    ::close(fd);
    report("sequential read, 64 KiB chunks", layer, posix, "MiB/s", size / 1048576.0);
  }

  // Many new files in one folder.
  const int files = 3000;
  {
    auto t = Clock::now();
    for (int i = 0; i < files; ++i) {
      std::u16string name = u"C:\\many\\file" + wide(std::to_string(i)) + u".txt";
      HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      CloseHandle(h);
    }
    double layer = seconds_since(t);
    t = Clock::now();
    for (int i = 0; i < files; ++i) {
      std::string name = dir + "/c/posix/file" + std::to_string(i) + ".txt";
      ::close(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
    }
    double posix = seconds_since(t);
    report("create files in one folder (3000)", layer, posix, "files/s", files);
  }

  // A name in the wrong case in a folder of 3000 entries.
  {
    const int n = 2000;
    auto t = Clock::now();
    for (int i = 0; i < n; ++i) GetFileAttributesW(u"C:\\MANY\\FILE1500.TXT");
    double layer = seconds_since(t);
    t = Clock::now();
    for (int i = 0; i < n; ++i) {
      struct stat st;
      ::stat((dir + "/c/many/file1500.txt").c_str(), &st);
    }
    double posix = seconds_since(t);
    report("wrong-case lookup in 3000 entries (vs stat)", layer, posix, "ops/s", n);
  }
  return 0;
}
