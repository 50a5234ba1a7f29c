// Reading a large configuration-like document: our text-XML reader and our
// binary-XML reader against `xmllint --noout` (libxml2) on the same text.
//
//   bench_xml [TOTAL_MB]      (default 40)
//
// Generates a document shaped like the product configuration (named strings,
// kml menus, groups of items with attributes, titles with markup in CDATA,
// references, non-ASCII text), writes it as UTF-8 text and as binary XML into
// a private temp folder, and times a full load into a fresh element tree.
// xmllint builds and frees its tree; its process start-up is subtracted.
// Goals: text no slower than xmllint; binary XML at least twice as fast as
// text.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "bench/bench_util.h"
#include "files/memory_file.h"
#include "xml/xml_node.h"

namespace fs = std::filesystem;
using bench::best_of;
using bench::clock_type;
using bench::seconds_since;

namespace {

std::string make_document(std::size_t target, std::size_t& elements) {
  std::mt19937 rng(2013);
  static const char* words[] = {"install", "hotfix",  "Dovecrest", "package",  "update",  "support",
                                "r\xC3\xA9sum\xC3\xA9", "menu", "Korvane", "\xE2\x82\xAC" "5", "archive", "language"};
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

double run_xmllint(const std::string& path) {
  const std::string command = "xmllint --noout '" + path + "' > /dev/null 2>&1";
  const auto t = clock_type::now();
  const int rc = std::system(command.c_str());
  const double s = seconds_since(t);
  return rc == 0 ? s : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 40;
  const bench::temp_folder folder("bench_xml.");
  if (folder.path.empty()) return 1;
  const fs::path& dir = folder.path;
  const std::string text_path = (dir / "config.xml").string();

  std::size_t elements = 0;
  const std::string text = make_document(mb << 20, elements);
  std::ofstream(text_path, std::ios::binary) << text;

  // Each run loads into a fresh document and frees it outside the timing;
  // freeing is timed on its own. Text is read from memory, and through a
  // memory file (the way archive members and downloads reach the reader).
  bool ok = true;
  auto load_time = [&](int runs, auto load) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
      auto doc = std::make_unique<xml_document>();
      const auto t = clock_type::now();
      ok = load(*doc) && ok;
      best = std::min(best, seconds_since(t));
    }
    return best;
  };
  const double t_text = load_time(5, [&](xml_document& d) { return d.load_memory(text.data(), text.size()); });
  std::unique_ptr<Common::MemoryFile> file(Common::CreateMemoryFile());
  file->write_exact(text.data(), static_cast<std::uint32_t>(text.size()));
  const double t_text_file = load_time(3, [&](xml_document& d) {
    file->rewind();
    return d.load(*file);
  });

  xml_document doc;
  ok = doc.load_memory(text.data(), text.size()) && ok;
  std::string binary;
  ok = doc.write_memory(binary, xml_document::write_binary) && ok;
  const double t_bxml = load_time(5, [&](xml_document& d) { return d.load_memory(binary.data(), binary.size()); });
  const auto t_free_start = clock_type::now();
  doc.set_root(nullptr);
  const double t_free = seconds_since(t_free_start);
  if (!ok) {
    std::fprintf(stderr, "bench_xml: a load failed\n");
    return 1;
  }

  // xmllint: start-up measured on a tiny document and subtracted.
  const std::string tiny_path = (dir / "tiny.xml").string();
  std::ofstream(tiny_path) << "<resource/>\n";
  double t_lint = best_of(5, [&] { run_xmllint(text_path); });
  const double t_lint_start = best_of(5, [&] { run_xmllint(tiny_path); });
  // A report per element would make the comparison meaningless: xmllint must
  // take the document without a word.
  const std::string report = (dir / "xmllint.txt").string();
  const bool have_lint = run_xmllint(tiny_path) >= 0 &&
                         std::system(("xmllint --noout '" + text_path + "' > '" + report + "' 2>&1").c_str()) == 0 &&
                         fs::file_size(report) == 0;

  const double text_mb = text.size() / 1048576.0;
  std::printf("document: %.1f MB text, %.1f MB binary XML, %zu elements\n", text_mb, binary.size() / 1048576.0,
              elements);
  std::printf("%-34s %9.1f ms %8.1f MB/s (of text)\n", "our text reader, from memory", t_text * 1e3,
              text_mb / t_text);
  std::printf("%-34s %9.1f ms %8.1f MB/s\n", "our text reader, from a memory file", t_text_file * 1e3,
              text_mb / t_text_file);
  std::printf("%-34s %9.1f ms %8.1f MB/s (of text)\n", "our binary-XML reader", t_bxml * 1e3, text_mb / t_bxml);
  std::printf("%-34s %9.1f ms\n", "freeing the element tree", t_free * 1e3);
  if (have_lint) {
    const double net = std::max(1e-6, t_lint - t_lint_start);
    std::printf("%-34s %9.1f ms %8.1f MB/s (start-up %.1f ms subtracted)\n", "xmllint --noout", net * 1e3,
                text_mb / net, t_lint_start * 1e3);
    std::printf("ratio text / xmllint:      %.2f  (goal <= 1)\n", t_text / net);
  } else {
    std::printf("xmllint not found or it rejected the document: no comparison\n");
  }
  std::printf("ratio text / binary XML:   %.2f  (goal >= 2)\n", t_text / t_bxml);
  return 0;
}
