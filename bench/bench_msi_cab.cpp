// Authoring 1,000 files into one embedded cabinet through the installer model
// (feature, a component and a File row per file measured at the commit,
// MsiFileHash rows, one cabinet built by makecab.exe and embedded, commit)
// against `gcab -c` of the same files plus `msibuild` importing the same rows
// and the cabinet stream into the same empty package.
//
// Both sides are whole child processes on a fresh copy of the empty package
// (the copy not timed), alternating run by run. The rows msibuild imports are
// the ones a first, untimed model run wrote. Goal: the model within 1.5x, its
// cabinet no larger than gcab's.
//   bench_msi_cab [files] [runs]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "msi/entities/cabinet.h"
#include "msi/entities/directory.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/package.h"

namespace {

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string fileName(int i) {
  char b[32];
  std::snprintf(b, sizeof b, "file%04d.txt", i);
  return b;
}

// --- the model's side (child) ----------------------------------------------------

int author(int files) {
  try {
    auto package = Msi::MsiPackage::open(u"C:\\pkg\\p.msi", false);
    package->ensureSystemFolders();
    auto* app = static_cast<Msi::MsiDirectory*>(
        package->find<Msi::MsiDirectory>(u"ProgramFilesFolder")->createSubdirectory(u"APPDIR"));
    app->setDefaultDir(u"Bench");
    Msi::MsiFeature* feature = package->addFeature(u"Main", u"Main", app);
    Msi::MsiCab* cab = package->addCabinet(u"bench.cab");
    for (int i = 0; i < files; ++i) {
      char guid[64];
      std::snprintf(guid, sizeof guid, "{33333333-4444-5555-6666-%012d}", i);
      Msi::MsiComponent* component = feature->createFileComponent(std::u16string(guid, guid + 38));
      Msi::MsiFile* file = package->find<Msi::MsiFile>(component->keyPath());
      file->setFileName(wide(fileName(i)));
      file->setSourceFile(u"C:\\src\\" + wide(fileName(i)));
      cab->addFile(file);
    }
    package->embedCabinet(cab);
    package->commit();
    return 0;
  } catch (const Common::Error& e) {
    std::fprintf(stderr, "model: error %u\n", e.code());
    return 1;
  }
}

// --- driver ------------------------------------------------------------------------

using Figure = bench::child_figure;

int shell(const std::string& command) { return std::system(command.c_str()); }

std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

long sizeOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<long>(in.tellg()) : -1;
}

using bench::median;

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--author") == 0) return author(std::atoi(argv[2]));
  int files = argc > 1 ? std::atoi(argv[1]) : 1000;
  int runs = argc > 2 ? std::atoi(argv[2]) : 10;
  bench::temp_folder tmp("bench-msi-cab-");
  if (tmp.path.empty()) return 1;
  const std::string root = tmp.path.string();
  ::setenv("KV_WORLD_ROOT", (root + "/world").c_str(), 1);
  ::setenv("KV_DRIVE_C", (root + "/c").c_str(), 1);
  const std::string c = root + "/c";
  std::filesystem::create_directories(c + "/src");
  std::filesystem::create_directories(c + "/pkg");

  // Sources: text-like files of 1 to 16 KiB, the same every time.
  std::mt19937 random(7);
  const char* words[] = {"cabinet ", "folder ", "component ", "file ", "sequence ", "stream ", "merge ", "row "};
  long total = 0;
  for (int i = 0; i < files; ++i) {
    std::string text;
    std::size_t size = 1024 + random() % (15 * 1024);
    while (text.size() < size) text += words[random() % 8];
    std::ofstream(c + "/src/" + fileName(i), std::ios::binary) << text;
    total += static_cast<long>(text.size());
  }
  const std::string empty = root + "/empty.msi";
  if (shell("msibuild " + quote(empty) +
            " -s Bench Korvane 'Intel;1033' '{12345678-1234-1234-1234-123456789ABC}'") != 0)
    return 1;
  const std::string pkg = c + "/pkg/p.msi";
  auto fresh = [&] {
    std::filesystem::copy_file(empty, pkg, std::filesystem::copy_options::overwrite_existing);
  };

  // One untimed model run gives the rows and the cabinet to compare with.
  std::string self = std::filesystem::canonical("/proc/self/exe").string();
  fresh();
  bench::run_forked({self, "--author", std::to_string(files)});
  const std::string idt = root + "/idt";
  std::filesystem::create_directories(idt);
  const char* tables[] = {"Directory", "Feature", "Component", "File", "FeatureComponents", "Media", "MsiFileHash"};
  std::string imports;
  for (const char* t : tables) {
    if (shell("cd " + quote(idt) + " && msiinfo export " + quote(pkg) + " " + t + " > " + t + ".idt") != 0) return 1;
    imports += " -i " + quote(idt + "/" + t + ".idt");
  }
  shell("msiinfo extract " + quote(pkg) + " bench.cab > " + quote(root + "/model.cab"));
  long modelCab = sizeOf(root + "/model.cab");
  // gcab names each file by its key, as the model's cabinet does.
  const std::string stage = root + "/stage";
  std::filesystem::create_directories(stage);
  {
    std::ifstream in(idt + "/File.idt");
    std::string line;
    for (int n = 0; std::getline(in, line); ++n) {
      if (n < 3 || line.empty()) continue;
      std::string key = line.substr(0, line.find('\t'));
      std::string rest = line.substr(line.find('\t') + 1);
      rest = rest.substr(rest.find('\t') + 1);
      std::string name = rest.substr(0, rest.find('\t'));
      name = name.substr(name.find('|') + 1);
      if (!key.empty() && key.back() == '\r') key.pop_back();
      std::filesystem::create_symlink(c + "/src/" + name, stage + "/" + key);
    }
  }
  const std::string reference = "cd " + quote(stage) + " && gcab -c -z " + quote(root + "/gcab.cab") +
                                " * && msibuild " + quote(pkg) + imports + " -a bench.cab " +
                                quote(root + "/gcab.cab");

  std::vector<double> model, ref;
  long modelPeak = 0, refPeak = 0, gcabCab = -1;
  for (int r = 0; r < runs; ++r) {
    for (int side = 0; side < 2; ++side) {
      bool modelFirst = r % 2 == 0;
      bool isModel = (side == 0) == modelFirst;
      fresh();
      std::filesystem::remove(root + "/gcab.cab");
      Figure f = isModel ? bench::run_forked({self, "--author", std::to_string(files)})
                         : bench::run_forked({"/bin/sh", "-c", reference});
      (isModel ? model : ref).push_back(f.seconds * 1000);
      long& peak = isModel ? modelPeak : refPeak;
      peak = std::max(peak, f.peakKb);
      if (!isModel) gcabCab = sizeOf(root + "/gcab.cab");
    }
  }
  std::printf("%d files, %.1f MiB of sources, %d runs each, alternating\n", files, total / 1048576.0, runs);
  std::printf("model  (author + makecab + embed + commit): median %.1f ms  peak %.1f MiB\n", median(model),
              modelPeak / 1024.0);
  std::printf("gcab -c + msibuild -i -a:                    median %.1f ms  peak %.1f MiB\n", median(ref),
              refPeak / 1024.0);
  std::printf("ratio %.2f  (goal <= 1.5)\n", median(model) / median(ref));
  std::printf("cabinet bytes: model %ld, gcab %ld (%s)\n", modelCab, gcabCab,
              modelCab <= gcabCab ? "no larger" : "LARGER");
  return 0;
}
