// Installing a 200-file database package end to end: `kvinstall` (the install
// job preparing and running it through the layer's installer engine: files
// out of the embedded cabinet into their folders, the cached package, the
// product's registration) against `msiextract` writing the same files out of
// the same package. Both sides are whole processes on a fresh folder, and the
// folder's removal is timed with each run. Goal: within 2x.
//
//   bench_install [files] [runs]
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_util.h"

namespace {

int shell(const std::string& command) {
  int st = std::system(command.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

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
  return shell("cd " + quote(dir + "/src") + " && wixl -o " + quote(dir + "/bench.msi") + " bench.wxs") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 200;
  int runs = argc > 2 ? std::atoi(argv[2]) : 7;
  std::string kvinstall =
      (std::filesystem::absolute(argv[0]).parent_path() / ".." / "tools" / "kvinstall").lexically_normal().string();
  bench::temp_folder tmp("bench-install-");
  const std::string base = tmp.path.string();
  if (base.empty() || !buildPackage(base, files)) {
    std::fprintf(stderr, "cannot build the package (wixl)\n");
    return 1;
  }
  std::string world = base + "/world";
  std::vector<double> ours, reference;
  for (int r = 0; r < runs; ++r) {
    // Ours: a fresh drive C holding the package, the job installs it, the world goes.
    std::filesystem::create_directories(world + "/c/pkg");
    std::filesystem::copy_file(base + "/bench.msi", world + "/c/pkg/bench.msi");
    auto t = bench::clock_type::now();
    int st = shell("cd " + quote(world + "/c") + " && KV_WORLD_ROOT=" + quote(world + "/root") +
                   " KV_DRIVE_C=" + quote(world + "/c") + " " + quote(kvinstall) +
                   " 'C:\\pkg\\bench.msi' > /dev/null && rm -rf " + quote(world + "/c/Program Files"));
    ours.push_back(bench::seconds_since(t));
    if (st != 0 || r == 0) {
      if (st != 0) {
        std::fprintf(stderr, "kvinstall failed (%d)\n", st);
        return 1;
      }
    }
    std::filesystem::remove_all(world);

    std::string out = base + "/extract";
    t = bench::clock_type::now();
    st = shell("msiextract -C " + quote(out) + " " + quote(base + "/bench.msi") + " > /dev/null && rm -rf " +
               quote(out));
    reference.push_back(bench::seconds_since(t));
    if (st != 0) {
      std::fprintf(stderr, "msiextract failed (%d)\n", st);
      return 1;
    }
  }
  std::sort(ours.begin(), ours.end());
  std::sort(reference.begin(), reference.end());
  double a = ours[ours.size() / 2], b = reference[reference.size() / 2];
  std::printf("%d files, %d runs (medians)\n", files, runs);
  std::printf("kvinstall (prepare + run + removal of the files)  %8.1f ms\n", a * 1000);
  std::printf("msiextract (extract + removal)                     %8.1f ms\n", b * 1000);
  std::printf("ratio ours / msiextract                            %8.2f (goal <= 2)\n", a / b);
  return 0;
}
