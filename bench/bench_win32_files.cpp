// The file layer's costs against plain POSIX calls doing the same work in the
// same process: open/read/close of a small file, a large sequential read,
// making files in folders of 1,000, 3,000 and 10,000 entries (each new name is
// looked up ignoring case), and finding a name given in the wrong case.
//
// Goals (time of the layer over time of POSIX): open+read+close within 2×;
// create within 2× and flat in the folder's size; a wrong-case lookup within 3×
// of an exact one; sequential read within 1.05×.
//
// Each figure is the median of several rounds; the side that runs first
// alternates from round to round, so that neither gains from warmer caches.
// Times are the thread's CPU time (user and system), steadier than wall time
// on a shared machine; the wall-time ratio is shown beside.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "platform/win32/windows.h"

namespace {

using Clock = bench::clock_type;
using bench::seconds_since;

constexpr int kRounds = 5;

using bench::median;

struct Pair {
  double layer, posix;            // CPU seconds per batch, medians
  double layer_wall, posix_wall;  // wall seconds per batch, medians
};

double cpu_now() {
  struct timespec t;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Runs both sides `kRounds` times, the first side alternating; round(i) tells
// each side which round it is in, for fresh names.
Pair measure(const std::function<void(int)>& layer, const std::function<void(int)>& posix, int rounds = kRounds) {
  std::vector<double> l, p, lw, pw;
  for (int r = 0; r < rounds; ++r) {
    auto time = [&](const std::function<void(int)>& f, std::vector<double>& cpu, std::vector<double>& wall) {
      const auto t = Clock::now();
      const double c = cpu_now();
      f(r);
      cpu.push_back(cpu_now() - c);
      wall.push_back(seconds_since(t));
    };
    if (r % 2 == 0) {
      time(layer, l, lw);
      time(posix, p, pw);
    } else {
      time(posix, p, pw);
      time(layer, l, lw);
    }
  }
  return {median(l), median(p), median(lw), median(pw)};
}

// Per-operation times and the layer's time over POSIX's.
void report(const char* what, const Pair& m, double ops, const char* unit = "µs/op", double scale = 1e6) {
  std::printf("%-44s layer %8.2f %s  posix %8.2f %s  ratio %6.3f×  (wall %6.3f×)\n", what, m.layer / ops * scale,
              unit, m.posix / ops * scale, unit, m.layer / m.posix, m.layer_wall / m.posix_wall);
}

std::u16string wide(const std::string& s) { return win32::utf8_to_utf16(s); }

void fill(const std::string& folder, int n) {
  std::filesystem::create_directories(folder);
  for (int i = 0; i < n; ++i) ::close(::open((folder + "/file" + std::to_string(i) + ".txt").c_str(), O_WRONLY | O_CREAT, 0666));
}

}  // namespace

// `bench_win32_files trace open|create N`: only N of those operations through
// the layer (after one of each, so that the folder is read), for counting
// system calls with `strace -c -f`.
int trace(const std::string& dir, const std::string& what, int n) {
  const char payload[100] = {};
  char buf[4096];
  fill(dir + "/c/t", 1000);
  FILE* f = std::fopen((dir + "/c/small.bin").c_str(), "wb");
  std::fwrite(buf, 1, sizeof buf, f);
  std::fclose(f);
  for (int i = -1; i < n; ++i) {
    if (what == "open") {
      HANDLE h = CreateFileW(u"C:\\small.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      DWORD got;
      ReadFile(h, buf, sizeof buf, &got, nullptr);
      CloseHandle(h);
    } else {
      const std::u16string file = u"C:\\t\\new" + wide(std::to_string(i + 1)) + u".txt";
      HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      DWORD put;
      WriteFile(h, payload, sizeof payload, &put, nullptr);
      CloseHandle(h);
      if (what == "create-delete") DeleteFileW(file.c_str());
    }
    if (i == -1) std::fprintf(stderr, "-- traced part --\n");
  }
  return 0;
}

int main(int argc, char** argv) {
  const bench::temp_folder folder("kv-bench-files-");
  if (folder.path.empty()) return 1;
  const std::string dir = folder.path.string();
  ::setenv("KV_WORLD_ROOT", (dir + "/world").c_str(), 1);
  ::setenv("KV_DRIVE_C", (dir + "/c").c_str(), 1);
  std::filesystem::create_directories(dir + "/c");
  if (argc == 4 && std::string(argv[1]) == "trace") return trace(dir, argv[2], std::atoi(argv[3]));

  // Small files: open, read 4 KiB, close.
  {
    std::string data(4096, 'd');
    FILE* f = std::fopen((dir + "/c/small.bin").c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    const int n = 5000;
    const std::string path = dir + "/c/small.bin";
    char buf[4096];
    Pair m = measure(
        [&](int) {
          for (int i = 0; i < n; ++i) {
            HANDLE h =
                CreateFileW(u"C:\\small.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            DWORD got;
            ReadFile(h, buf, sizeof buf, &got, nullptr);
            CloseHandle(h);
          }
        },
        [&](int) {
          for (int i = 0; i < n; ++i) {
            int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (::read(fd, buf, sizeof buf) < 0) std::abort();
            ::close(fd);
          }
        });
    report("open + read 4 KiB + close", m, n);

    // A file shorter than the read asks for.
    FILE* s = std::fopen((dir + "/c/short.bin").c_str(), "wb");
    std::fwrite(data.data(), 1, 100, s);
    std::fclose(s);
    const std::string short_path = dir + "/c/short.bin";
    m = measure(
        [&](int) {
          for (int i = 0; i < n; ++i) {
            HANDLE h =
                CreateFileW(u"C:\\short.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            DWORD got;
            ReadFile(h, buf, sizeof buf, &got, nullptr);
            CloseHandle(h);
          }
        },
        [&](int) {
          for (int i = 0; i < n; ++i) {
            int fd = ::open(short_path.c_str(), O_RDONLY | O_CLOEXEC);
            if (::read(fd, buf, sizeof buf) < 0) std::abort();
            ::close(fd);
          }
        });
    report("open + read 100 of 4 KiB asked + close", m, n);
  }

  // A large sequential read in 64 KiB chunks, from the page cache.
  {
    const std::size_t size = 256u << 20;
    std::vector<char> chunk(1 << 16, 'x');
    const std::string path = dir + "/c/big.bin";
    FILE* f = std::fopen(path.c_str(), "wb");
    for (std::size_t done = 0; done < size; done += chunk.size()) std::fwrite(chunk.data(), 1, chunk.size(), f);
    std::fclose(f);
    Pair m = measure(
        [&](int) {
          HANDLE h = CreateFileW(u"C:\\big.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
          DWORD got = 1;
          while (ReadFile(h, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got) {
          }
          CloseHandle(h);
        },
        [&](int) {
          int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
          while (::read(fd, chunk.data(), chunk.size()) > 0) {
          }
          ::close(fd);
        });
    std::printf("%-44s layer %8.0f MiB/s  posix %8.0f MiB/s  ratio %6.3f×  (wall %6.3f×)\n",
                "sequential read, 64 KiB chunks", size / 1048576.0 / m.layer, size / 1048576.0 / m.posix,
                m.layer / m.posix, m.layer_wall / m.posix_wall);
  }

  // New files in folders that already hold 1,000, 3,000 and 10,000 entries:
  // each made new, given 100 bytes and closed, then (timed apart) removed
  // again by the same side, the layer with DeleteFileW, POSIX with unlink.
  // Two folders are made and filled alike; each side makes its files in one
  // of them, then they swap, so that where a folder lies on disk (the file
  // system's own cost of a new inode depends on it and swings widely on a
  // busy disk) weighs the same on both sides. The layer reads a folder's
  // listing once when it first looks a name up in it; that one-time cost is
  // shown apart.
  for (int entries : {1000, 3000, 10000}) {
    const std::string name[2] = {"a" + std::to_string(entries), "b" + std::to_string(entries)};
    for (const std::string& f : name) fill(dir + "/c/" + f, entries);
    // Small batches, many rounds: the disk's cost of a new inode swings from
    // one moment to the next, and both sides must meet the same swings.
    const int n = 20, rounds = 25;
    const char payload[100] = {};
    std::vector<double> l, p, lw, pw, ld, pd;
    double first_read = 0;
    for (int half = 0; half < 2; ++half) {
      const std::string& mine = name[half];
      const std::string& theirs = name[1 - half];
      const std::u16string probe = u"C:\\" + wide(mine) + u"\\NO-SUCH-NAME";
      const double c = cpu_now();
      GetFileAttributesW(probe.c_str());
      first_read += (cpu_now() - c) / 2;
      std::vector<double> l_del, p_del;
      Pair m = measure(
          [&](int round) {
            const std::u16string base =
                u"C:\\" + wide(mine) + u"\\layer" + wide(std::to_string(half * rounds + round)) + u"-";
            std::vector<std::u16string> files;
            for (int i = 0; i < n; ++i) files.push_back(base + wide(std::to_string(i)) + u".txt");
            for (const auto& file : files) {
              HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
              DWORD put = 0;
              if (h == INVALID_HANDLE_VALUE || !WriteFile(h, payload, sizeof payload, &put, nullptr)) std::abort();
              CloseHandle(h);
            }
            const double c1 = cpu_now();
            for (const auto& file : files)
              if (!DeleteFileW(file.c_str())) std::abort();
            l_del.push_back(cpu_now() - c1);
          },
          [&](int round) {
            const std::string base = dir + "/c/" + theirs + "/posix" + std::to_string(half * rounds + round) + "-";
            std::vector<std::string> files;
            for (int i = 0; i < n; ++i) files.push_back(base + std::to_string(i) + ".txt");
            for (const auto& file : files) {
              int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
              if (fd < 0 || ::write(fd, payload, sizeof payload) != static_cast<ssize_t>(sizeof payload)) std::abort();
              ::close(fd);
            }
            const double c1 = cpu_now();
            for (const auto& file : files)
              if (::unlink(file.c_str()) != 0) std::abort();
            p_del.push_back(cpu_now() - c1);
          },
          rounds);
      l.push_back(m.layer);
      p.push_back(m.posix);
      lw.push_back(m.layer_wall);
      pw.push_back(m.posix_wall);
      ld.push_back(median(l_del));
      pd.push_back(median(p_del));
    }
    // The mean of the two halves' medians.
    auto mean = [](const std::vector<double>& v) { return (v[0] + v[1]) / 2; };
    char what[80];
    std::snprintf(what, sizeof what, "create+write+close+delete, %d entries", entries);
    report(what, Pair{mean(l), mean(p), mean(lw), mean(pw)}, n);
    const Pair del{mean(ld), mean(pd), mean(ld), mean(pd)};
    report("  of which the delete", del, n);
    report("  the create + write + close alone",
           Pair{mean(l) - mean(ld), mean(p) - mean(pd), mean(lw) - mean(ld), mean(pw) - mean(pd)}, n);
    std::printf("%-44s %8.2f ms CPU, once\n", "  (first look-up there: reads the folder)", first_read * 1e3);
  }

  // A name in the wrong case (folder and file) in a folder of 3,000 entries,
  // against the same lookup in the right case and against stat.
  {
    const int n = 20000;
    const std::string path = dir + "/c/a3000/file1500.txt";
    auto wrong = [&](int) {
      for (int i = 0; i < n; ++i) GetFileAttributesW(u"C:\\A3000\\FILE1500.TXT");
    };
    auto exact = [&](int) {
      for (int i = 0; i < n; ++i) GetFileAttributesW(u"C:\\a3000\\file1500.txt");
    };
    auto posix = [&](int) {
      for (int i = 0; i < n; ++i) {
        struct stat st;
        ::stat(path.c_str(), &st);
      }
    };
    report("wrong-case lookup, 3000 entries (vs exact)", measure(wrong, exact), n);
    report("wrong-case lookup, 3000 entries (vs stat)", measure(wrong, posix), n);
    report("exact lookup (vs stat)", measure(exact, posix), n);
  }
  return 0;
}
