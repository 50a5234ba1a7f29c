// Copying one large file through the processor utilities' list copy, against
// `cp` on the same data. Both sides are whole processes started the same way
// (this program with --copy is ours), taking turns, the side that goes first
// alternating; removing the copy is timed with each side. The source is
// written at start in a private folder. Goal: within 1.2x of `cp`.
//
//   bench_copy [MB]     (default 1024)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "core/utilities.h"
#include "files/windows_dir.h"
#include "platform/win32/windows.h"

namespace {

int copy_with_utilities(const std::string& from_folder, const std::string& to_folder, const std::string& name) {
  std::u16string from = win32::to_windows_path(from_folder), to = win32::to_windows_path(to_folder);
  std::u16string wname(name.begin(), name.end());
  std::unique_ptr<ri_dir> src(current_dir()->open_dir(from.c_str()));
  std::unique_ptr<rio_dir> dst(dynamic_cast<rio_dir*>(current_dir()->open_dir(to.c_str())));
  if (!src || !dst) return 2;
  Processor::CopyList list{new Processor::CopyItem{new Processor::FileIdentifier(dst.get(), wname.c_str()),
                                                   new Processor::FileIdentifier(static_cast<i_dir*>(src.get()),
                                                                                 wname.c_str())}};
  bool ok = Processor::copyFiles(list, Processor::CopyFlag::overwrite, nullptr, nullptr, nullptr);
  Processor::freeCopyList(list);
  return ok ? 0 : 1;
}

// Wall seconds of one whole process; its CPU seconds (user and system) go
// to `cpu`.
double run(const std::vector<std::string>& argv, double& cpu) {
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  auto t = bench::clock_type::now();
  pid_t pid = fork();
  if (pid == 0) {
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  double s = bench::seconds_since(t);
  cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("  %s failed (%d)\n", argv[0].c_str(), status);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--copy") return copy_with_utilities(argv[2], argv[3], argv[4]);
  long mb = argc > 1 ? std::atol(argv[1]) : 1024;
  bench::temp_folder folder("bench-copy-");
  if (folder.path.empty()) return 1;
  std::string base = folder.path.string();
  std::string src = base + "/src", dst = base + "/dst";
  std::filesystem::create_directories(src);
  std::filesystem::create_directories(dst);
  {
    std::ofstream out(src + "/big.bin", std::ios::binary);
    std::vector<char> block(1 << 20);
    for (long i = 0; i < mb; ++i) {
      for (std::size_t k = 0; k < block.size(); k += 4096) block[k] = static_cast<char>(i + k);
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  std::string self = std::filesystem::canonical("/proc/self/exe").string();
  std::vector<double> ours, theirs, ours_cpu, theirs_cpu;
  // Removing the copy is part of each side's work.
  auto removed = [&] {
    const auto t = bench::clock_type::now();
    std::filesystem::remove(dst + "/big.bin");
    return bench::seconds_since(t);
  };
  auto check = [&] {
    if (std::filesystem::file_size(dst + "/big.bin") != static_cast<std::uintmax_t>(mb) << 20)
      std::printf("  copy has the wrong size\n");
  };
  std::filesystem::remove(dst + "/big.bin");
  for (int round = 0; round < 6; ++round) {
    double a = 0, b = 0, ac = 0, bc = 0;
    auto ours_side = [&] {
      a = run({self, "--copy", src, dst, "big.bin"}, ac);
      check();
      a += removed();
    };
    auto cp_side = [&] {
      b = run({"cp", src + "/big.bin", dst + "/big.bin"}, bc);
      check();
      b += removed();
    };
    if (round % 2 == 0) {
      ours_side();
      cp_side();
    } else {
      cp_side();
      ours_side();
    }
    if (round == 0) continue;  // the first round warms the cache
    ours.push_back(a);
    theirs.push_back(b);
    ours_cpu.push_back(ac);
    theirs_cpu.push_back(bc);
  }
  using bench::median;
  const double o = median(ours), t = median(theirs), oc = median(ours_cpu), tc = median(theirs_cpu);
  std::printf("copy of %ld MB, whole processes with removing the copy, median of %zu\n", mb, ours.size());
  std::printf("  utilities (copyFiles) %.3f s   cp %.3f s   ratio %.2f (goal <= 1.2)\n", o, t, o / t);
  std::printf("  CPU of the processes: %.3f s   cp %.3f s   ratio %.2f\n", oc, tc, oc / tc);
  return 0;
}
