// Listing a folder of 100,000 entries through the NT directory (iterate, with
// each entry's name, kind, size and write time) against `ls -f` and `find` on
// the same folder: whole processes each side, best of several runs.
// Goal: within 1.5x of `find`/`ls -f`.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/bench_util.h"
#include "files/windows_dir.h"

namespace {

int list(const char* windows_path) {
  std::unique_ptr<win32_dir> dir(root_dir()->open_dir_path(reinterpret_cast<const char16_t*>(
      std::u16string(windows_path, windows_path + std::char_traits<char>::length(windows_path)).c_str())));
  if (!dir) return 1;
  std::unique_ptr<i_dir::iterator> it(dir->iterate());
  if (!it) return 1;
  long n = 0;
  std::uint64_t sum = 0;
  for (; it->Good(); it->next()) {
    sum += it->size() + static_cast<std::uint64_t>(it->write_time()) + static_cast<std::uint64_t>(it->kind());
    if (it->name()) ++n;
  }
  std::printf("%ld %llu\n", n, static_cast<unsigned long long>(sum));
  return 0;
}

struct timing {
  double wall = 1e30, cpu = 1e30;  // best of the runs, seconds
};

double children_cpu() {
  rusage u{};
  ::getrusage(RUSAGE_CHILDREN, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

timing run(const std::string& command, int runs) {
  timing t;
  for (int i = 0; i < runs; ++i) {
    const double cpu = children_cpu();
    const auto start = bench::clock_type::now();
    if (std::system((command + " > /dev/null").c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    t.wall = std::min(t.wall, bench::seconds_since(start));
    t.cpu = std::min(t.cpu, children_cpu() - cpu);
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--list") return list(argv[2]);
  const long count = argc > 1 ? std::atol(argv[1]) : 100000;
  bench::temp_folder tmp("bench-dir-");
  if (tmp.path.empty()) return 1;
  const std::string drive = tmp.path.string() + "/c";
  const std::string big = drive + "/big";
  std::filesystem::create_directories(big);
  for (long i = 0; i < count; ++i) {
    const std::string name = big + "/entry_" + std::to_string(i) + ".dat";
    const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd >= 0) {
      if (i % 7 == 0 && ::write(fd, "data", 4) != 4) std::perror("write");
      ::close(fd);
    }
  }
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const std::string env = "KV_WORLD_ROOT='" + tmp.path.string() + "/world' KV_DRIVE_C='" + drive + "' ";
  const int runs = 5;
  run(env + "'" + self + "' --list 'C:\\big'", 1);  // warm the caches
  const timing ours = run(env + "'" + self + "' --list 'C:\\big'", runs);
  const timing ls = run("ls -f '" + big + "'", runs);
  const timing find = run("find '" + big + "' -maxdepth 1", runs);
  const timing find_stat = run("find '" + big + "' -maxdepth 1 -printf '%s %T@ %y %p\\n'", runs);
  std::printf("%ld entries, best of %d whole processes: wall ms, CPU ms, ratios of ours\n", count, runs);
  auto row = [&](const char* what, const timing& t) {
    std::printf("  %-32s %8.1f %8.1f   wall %.2f  CPU %.2f\n", what, t.wall * 1e3, t.cpu * 1e3, ours.wall / t.wall,
                ours.cpu / t.cpu);
  };
  row("ours (name, kind, size, time)", ours);
  row("ls -f", ls);
  row("find -maxdepth 1", find);
  row("find -printf size, time, type", find_stat);
  return 0;
}
