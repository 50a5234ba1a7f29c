// Installing a 200-file database package end to end: `kvinstall` (the install
// job preparing and running it through the layer's installer engine: files
// out of the embedded cabinet into their folders, the cached package, the
// product's registration, the log) against `msiextract` writing the same
// files out of the same package. Both sides are whole processes started
// directly (no shell), and everything each side wrote is removed within its
// timed run: the whole world (drive C, registry store, log) for ours, the
// output folder for msiextract. The sides alternate in batches, and a run of
// ours counts only when kvinstall's exit status says the job succeeded.
// Goal: within 1.5x.
//
//   bench_install [files] [rounds] [batch]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_util.h"

extern char** environ;

namespace {

double cpuOf(const struct rusage& u) {
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

// This process's CPU seconds so far (the removals run here).
double selfCpu() {
  struct rusage u {};
  ::getrusage(RUSAGE_SELF, &u);
  return cpuOf(u);
}

// Runs a program in `dir` with the environment given (plus the process's
// own), its output dropped; the exit status, -1 when it could not run. `cpu`
// receives the program's CPU seconds.
int run(const std::vector<std::string>& argv, const std::string& dir, const std::vector<std::string>& env = {},
        double* cpu = nullptr) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid) return -1;
  if (cpu) *cpu = cpuOf(usage);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool buildPackage(const std::string& dir, int files) {
  std::string wxs =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
      "<Product Id=\"7B0C5E1A-3D42-4F6B-9A18-5E2D7C4B8F10\" Name=\"Bench\" Language=\"1033\" Version=\"1.0.0\"\n"
      " Manufacturer=\"Korvane\" UpgradeCode=\"1C8E4A2B-6F3D-4B79-8E05-A7D2C9B13F64\">\n"
      "<Package InstallerVersion=\"200\" Compressed=\"yes\"/>\n"
      "<Media Id=\"1\" Cabinet=\"bench.cab\" EmbedCab=\"yes\"/>\n"
      "<Directory Id=\"TARGETDIR\" Name=\"SourceDir\"><Directory Id=\"ProgramFilesFolder\">"
      "<Directory Id=\"INSTALLDIR\" Name=\"Bench\">\n";
  std::filesystem::create_directories(dir + "/src");
  std::string refs;
  for (int i = 0; i < files; ++i) {
    std::string name = "file" + std::to_string(i) + ".dat";
    std::ofstream out(dir + "/src/" + name, std::ios::binary);
    std::string block(4096 + (i % 7) * 1024, static_cast<char>('a' + i % 26));
    for (std::size_t k = 0; k < block.size(); k += 97) block[k] = static_cast<char>(i * 31 + k);
    out << block;
    char guid[48];
    std::snprintf(guid, sizeof guid, "4F2A%04X-1B3C-4D5E-8F60-%012X", i, i + 1);
    wxs += "<Component Id=\"C" + std::to_string(i) + "\" Guid=\"" + guid + "\"><File Id=\"F" + std::to_string(i) +
           "\" Name=\"" + name + "\" Source=\"" + name + "\" KeyPath=\"yes\"/></Component>\n";
    refs += "<ComponentRef Id=\"C" + std::to_string(i) + "\"/>";
  }
  wxs += "</Directory></Directory></Directory>\n<Feature Id=\"All\" Level=\"1\">" + refs +
         "</Feature>\n</Product>\n</Wix>\n";
  std::ofstream(dir + "/src/bench.wxs") << wxs;
  std::filesystem::create_directories(dir + "/pkg");
  return run({"wixl", "-o", dir + "/pkg/bench.msi", "bench.wxs"}, dir + "/src") == 0;
}

std::size_t filesUnder(const std::string& dir) {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file()) ++n;
  return n;
}

using bench::median;

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 200;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 6;
  int batch = argc > 3 ? std::atoi(argv[3]) : 3;
  const auto tools = std::filesystem::absolute(argv[0]).parent_path() / ".." / "tools";
  const std::string kvinstall = (tools / "kvinstall").lexically_normal().string();
  const std::string kvreg = (tools / "kvreg").lexically_normal().string();
  bench::temp_folder tmp("bench-install-");
  const std::string base = tmp.path.string();
  if (base.empty() || !buildPackage(base, files)) {
    std::fprintf(stderr, "cannot build the package (wixl)\n");
    return 1;
  }
  const std::string package = base + "/pkg/bench.msi";
  const std::string world = base + "/world", out = base + "/extract";
  const std::vector<std::string> env = {"KV_WORLD_ROOT=" + world + "/root", "KV_DRIVE_C=" + world + "/c"};

  // The world holds all ours writes, the log included (it goes to the
  // current folder); the package stays outside it, read through drive Z:.
  // With `machine`, the world starts as a copy of one whose registry store
  // exists (a machine is installed on, not made, by an install); without,
  // the run also makes the store. Either way the whole world is removed
  // within the timed run.
  const std::string machine = base + "/machine";
  std::filesystem::create_directories(machine + "/c");
  if (run({kvreg, "add", "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"}, machine + "/c",
          {"KV_WORLD_ROOT=" + machine + "/root", "KV_DRIVE_C=" + machine + "/c"}) != 0) {
    std::fprintf(stderr, "cannot make the machine's registry store (kvreg)\n");
    return 1;
  }
  struct Timing {
    double wall, cpu;
  };
  auto ours = [&](bool fromMachine, bool check) -> Timing {
    if (fromMachine)
      std::filesystem::copy(machine, world, std::filesystem::copy_options::recursive);
    else
      std::filesystem::create_directories(world + "/c");
    auto t = bench::clock_type::now();
    double self = selfCpu(), child = 0;
    int st = run({kvinstall, package}, world + "/c", env, &child);
    if (check) {
      std::size_t n = filesUnder(world + "/c/Program Files/Bench");
      if (st != 0 || n != static_cast<std::size_t>(files)) {
        std::fprintf(stderr, "kvinstall failed (exit %d, %zu files of %d)\n", st, n, files);
        std::exit(1);
      }
    }
    std::filesystem::remove_all(world);
    Timing s{bench::seconds_since(t), child + selfCpu() - self};
    if (st != 0) {
      std::fprintf(stderr, "kvinstall failed (exit %d)\n", st);
      std::exit(1);
    }
    return s;
  };
  auto reference = [&](bool check) -> Timing {
    auto t = bench::clock_type::now();
    double self = selfCpu(), child = 0;
    int st = run({"msiextract", "-C", out, package}, base, {}, &child);
    if (check && (st != 0 || filesUnder(out) != static_cast<std::size_t>(files))) {
      std::fprintf(stderr, "msiextract failed (exit %d)\n", st);
      std::exit(1);
    }
    std::filesystem::remove_all(out);
    Timing s{bench::seconds_since(t), child + selfCpu() - self};
    if (st != 0) {
      std::fprintf(stderr, "msiextract failed (exit %d)\n", st);
      std::exit(1);
    }
    return s;
  };
  ours(false, true);  // warm-up runs that also check both sides' work
  ours(true, true);
  reference(true);

  std::printf("%d files, %d rounds of %d runs a side, alternating (medians)\n", files, rounds, batch);
  for (bool fromMachine : {true, false}) {
    std::vector<double> a, b, ac, bc;
    for (int r = 0; r < rounds; ++r) {
      for (int side = 0; side < 2; ++side) {
        bool oursNow = (side == 0) == (r % 2 == 0);
        for (int i = 0; i < batch; ++i) {
          Timing t = oursNow ? ours(fromMachine, false) : reference(false);
          (oursNow ? a : b).push_back(t.wall);
          (oursNow ? ac : bc).push_back(t.cpu);
        }
      }
    }
    std::printf("%s:\n",
                fromMachine ? "on a machine (registry store there before)" : "in a new world (the run makes the store)");
    std::printf("  kvinstall (prepare + run + removal of its world)  %8.1f ms wall %8.1f ms CPU\n", median(a) * 1000,
                median(ac) * 1000);
    std::printf("  msiextract (extract + removal)                     %8.1f ms wall %8.1f ms CPU\n", median(b) * 1000,
                median(bc) * 1000);
    std::printf("  ratio ours / msiextract: wall %.2f, CPU %.2f (goal <= 1.5)\n", median(a) / median(b),
                median(ac) / median(bc));
  }
  return 0;
}
