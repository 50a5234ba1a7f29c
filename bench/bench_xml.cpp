// Reading a large configuration-like document: our text-XML reader and our
// binary-XML reader against `xmllint --noout` (libxml2) on the same text.
//
//   bench_xml [TOTAL_MB]      (default 40)
//
// Generates a document shaped like the product configuration (named strings,
// kml menus, groups of items with attributes, titles with markup in CDATA,
// references, non-ASCII text) and writes it into a private temp folder.
// Against xmllint, both sides are whole processes that read the file, build
// their tree and free it (`bench_xml --load FILE` is ours), taking turns.
// In process, loads from memory are timed with the freeing of the tree, and
// the first load of the process is shown apart.
// Goals: whole process at most 0.7 of xmllint's time; binary XML at least
// twice as fast as text.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "bench/bench_util.h"
#include "files/memory_file.h"
#include "tools/stream_file.h"
#include "xml/xml_node.h"

namespace fs = std::filesystem;
using bench::clock_type;
using bench::seconds_since;

namespace {

std::string make_document(std::size_t target, std::size_t& elements) {
  std::mt19937 rng(2013);
  static const char* words[] = {"install", "hotfix",  "Dovecrest", "package",  "update",  "support",
                                "r\xC3\xA9sum\xC3\xA9", "menu", "Korvane", "\xE2\x82\xAC\x35", "archive", "language"};
  auto phrase = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      if (i) s += ' ';
      s += words[rng() % 12];
    }
    return s;
  };
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- generated -->\n<resource>\n";
  elements = 1;
  for (std::size_t n = 0; doc.size() < target; ++n) {
    switch (n % 4) {
      case 0:
      case 1:
        doc += "  <string name=\"key_" + std::to_string(n) + "\">" + phrase(1 + rng() % 8) + " &amp; " +
               phrase(2) + "</string>\n";
        elements += 1;
        break;
      case 2:
        doc += "  <kml:menu xmlns:kml=\"https://www.korvane.example/schemas/kml\" name=\"menu_" + std::to_string(n) +
               "\">\n"
               "    <kml:item flags=\"default\" title=\"" + phrase(2) + "\" verb=\"install\"/>\n"
               "    <separator/>\n"
               "    <kml:item title=\"" + phrase(3) + "\" verb=\"show\" help=\"" + phrase(6) + "\"/>\n"
               "  </kml:menu>\n";
        elements += 4;
        break;
      default:
        doc += "  <group xmlns:kml=\"https://www.korvane.example/schemas/kml\" name=\"g" + std::to_string(n) +
               "\" title=\"" + phrase(2) + "\">\n"
               "    <kml:item name=\"item_" + std::to_string(n) + "\" verb=\"item_" + std::to_string(n) +
               "\" help=\"" + phrase(5) + "\">\n"
               "      <title type=\"small\"><![CDATA[<font stock=bootmenu_title>" + phrase(3) +
               "</font><br/><font stock=bootmenu_comment>" + phrase(9) + "</font>]]></title>\n"
               "      <icon type=\"extra\" href=\"item_" + std::to_string(n % 7) + "_48.png\"/>\n"
               "      <file name=\"locale_imager\" dynamic_href=\"VDHM_Vazedi_{0}.msp\"/>\n"
               "    </kml:item>\n"
               "  </group>\n";
        elements += 5;
        break;
    }
  }
  doc += "</resource>\n";
  return doc;
}

// One whole process: wall and CPU time (user + system), or a negative wall
// time when it could not run or failed.
struct process_time {
  double wall = -1;
  double cpu = 0;
};

process_time run_process(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto t = clock_type::now();
  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid) return {};
  process_time r;
  r.wall = seconds_since(t);
  r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) r.wall = -1;
  return r;
}

using bench::median;

// The driver: what a program of ours does with a document file. Reads it
// through the file library, builds the tree and frees it.
int load_file(const char* path) {
  kvtool::stream_file file(path);
  if (!file.is_open()) return 1;
  auto doc = std::make_unique<xml_document>();
  if (!doc->load(file)) return 1;
  doc.reset();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--load") return load_file(argv[2]);
  const std::size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 40;
  const bench::temp_folder folder("bench_xml.");
  if (folder.path.empty()) return 1;
  const fs::path& dir = folder.path;
  const std::string text_path = (dir / "config.xml").string();

  std::size_t elements = 0;
  const std::string text = make_document(mb << 20, elements);
  std::ofstream(text_path, std::ios::binary) << text;

  // In process, from memory: the first load of the process on its own (it
  // pays for fresh memory), then the best of five; each followed by freeing
  // the tree, timed apart and together.
  bool ok = true;
  // Wall time, and the process's CPU time (the machines are shared).
  struct load_free {
    double load = 0, free = 0, cpu = 0;
  };
  auto cpu_now = [] { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; };
  auto timed = [&](auto load) {
    load_free r;
    auto doc = std::make_unique<xml_document>();
    const double c = cpu_now();
    auto t = clock_type::now();
    ok = load(*doc) && ok;
    r.load = seconds_since(t);
    t = clock_type::now();
    doc.reset();
    r.free = seconds_since(t);
    r.cpu = cpu_now() - c;
    return r;
  };
  auto best = [&](int runs, auto load) {
    load_free b{1e30, 1e30, 1e30};
    for (int i = 0; i < runs; ++i) {
      const load_free r = timed(load);
      if (r.cpu < b.cpu) b = r;
    }
    return b;
  };
  auto from_text = [&](xml_document& d) { return d.load_memory(text.data(), text.size()); };
  const load_free first = timed(from_text);
  const load_free t_text = best(5, from_text);
  std::unique_ptr<Common::MemoryFile> file(Common::CreateMemoryFile());
  file->write_exact(text.data(), static_cast<std::uint32_t>(text.size()));
  const load_free t_text_file = best(3, [&](xml_document& d) {
    file->rewind();
    return d.load(*file);
  });
  std::string binary;
  {
    xml_document doc;
    ok = doc.load_memory(text.data(), text.size()) && ok;
    ok = doc.write_memory(binary, xml_document::write_binary) && ok;
  }
  const load_free t_bxml = best(5, [&](xml_document& d) { return d.load_memory(binary.data(), binary.size()); });
  if (!ok) {
    std::fprintf(stderr, "bench_xml: a load failed\n");
    return 1;
  }

  // Whole processes from the file, taking turns: our driver (this program
  // with --load) and xmllint --noout, each reading the file, building its
  // tree and freeing it. A report per element would make the comparison
  // meaningless: xmllint must take the document without a word.
  const std::string self = fs::canonical("/proc/self/exe").string();
  const std::string report = (dir / "xmllint.txt").string();
  const bool have_lint = std::system(("xmllint --noout '" + text_path + "' > '" + report + "' 2>&1").c_str()) == 0 &&
                         fs::file_size(report) == 0;
  std::vector<double> ours_wall, ours_cpu, lint_wall, lint_cpu;
  const int rounds = 7;
  for (int i = 0; i < rounds; ++i) {
    for (int side = 0; side < 2; ++side) {
      const bool lint_turn = (side == 0) == (i % 2 == 0);
      if (lint_turn && !have_lint) continue;
      const process_time p = lint_turn ? run_process({"xmllint", "--noout", text_path})
                                       : run_process({self, "--load", text_path});
      if (p.wall < 0) {
        std::fprintf(stderr, "bench_xml: %s failed\n", lint_turn ? "xmllint" : "the driver");
        return 1;
      }
      (lint_turn ? lint_wall : ours_wall).push_back(p.wall);
      (lint_turn ? lint_cpu : ours_cpu).push_back(p.cpu);
    }
  }

  const double text_mb = text.size() / 1048576.0;
  std::printf("document: %.1f MB text, %.1f MB binary XML, %zu elements\n\n", text_mb, binary.size() / 1048576.0,
              elements);
  std::printf("in process, load + free (least CPU of 5; first of the process apart):\n");
  auto row = [&](const char* what, const load_free& r) {
    std::printf("  %-28s wall: load %7.1f ms  free %6.1f ms;  cpu both %7.1f ms %6.1f MB/s (of text)\n", what,
                r.load * 1e3, r.free * 1e3, r.cpu * 1e3, text_mb / r.cpu);
  };
  row("text, first load", first);
  row("text, from memory", t_text);
  row("text, from a memory file", t_text_file);
  row("binary XML, from memory", t_bxml);
  std::printf("\nwhole processes from the file (median of %d, taking turns):\n", rounds);
  std::printf("  %-32s wall %7.1f ms  cpu %7.1f ms\n", "ours (bench_xml --load)", median(ours_wall) * 1e3,
              median(ours_cpu) * 1e3);
  if (have_lint) {
    std::printf("  %-32s wall %7.1f ms  cpu %7.1f ms\n", "xmllint --noout", median(lint_wall) * 1e3,
                median(lint_cpu) * 1e3);
    std::printf("ratio ours / xmllint, whole processes: wall %.2f, cpu %.2f  (goal <= 0.7)\n",
                median(ours_wall) / median(lint_wall), median(ours_cpu) / median(lint_cpu));
  } else {
    std::printf("xmllint not found or it rejected the document: no comparison\n");
  }
  std::printf("ratio text / binary XML, cpu of load + free: %.2f  (goal >= 2)\n", t_text.cpu / t_bxml.cpu);
  return 0;
}
