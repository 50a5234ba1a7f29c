// kvtool: the project's archive tool. main() dispatches to commands that
// register themselves from their own files:
//   kvtool_zip.cpp        list, extract, build, append
//   kvtool_catalogue.cpp  catalogue (message catalogue slots)
//   kvtool_xml.cpp        XML and binary-XML commands
// See kvtool.h for how to add one.
#include "tools/kvtool.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "core/text_convert.h"

namespace kvtool {

namespace {
std::vector<command>& registry() {
  static std::vector<command> commands;
  return commands;
}

void print_usage(std::ostream& out) {
  std::vector<command> sorted = registry();
  std::sort(sorted.begin(), sorted.end(), [](const command& a, const command& b) { return a.name < b.name; });
  out << "usage: kvtool COMMAND [ARGUMENTS]\n\ncommands:\n";
  for (const command& c : sorted) {
    out << "  " << c.name << ' ' << c.usage << '\n';
    std::string_view help = c.help;
    while (!help.empty()) {
      const std::size_t nl = help.find('\n');
      out << "      " << help.substr(0, nl) << '\n';
      help = nl == std::string_view::npos ? std::string_view() : help.substr(nl + 1);
    }
  }
  out << "\nkvtool alone or kvtool help prints this text. Exit status: 0 done, 1 failed, 2 usage error.\n";
}
}  // namespace

bool add_command(const command& c) {
  registry().push_back(c);
  return true;
}

const command* find_command(std::string_view name) {
  for (const command& c : registry())
    if (c.name == name) return &c;
  return nullptr;
}

int usage_error(std::string_view name) {
  if (const command* c = find_command(name)) std::cerr << "usage: kvtool " << c->name << ' ' << c->usage << '\n';
  return 2;
}

int fail(std::string_view message) {
  std::cerr << "kvtool: " << message << '\n';
  return 1;
}

std::string to_utf8(std::u16string_view text) {
  // The common converter stops at a NUL; one inside the text is kept.
  std::string out, part;
  for (;;) {
    const std::size_t nul = std::min(text.find(u'\0'), text.size());
    Common::toUtf8(part, text.data(), static_cast<std::ptrdiff_t>(nul));
    out += part;
    if (nul == text.size()) return out;
    out += '\0';
    text.remove_prefix(nul + 1);
  }
}

std::string describe(const Common::Error& e) {
  std::string out;
  for (Common::Error at = e; at; at = at.cause()) {
    if (!out.empty()) out += "; cause: ";
    const std::string text = to_utf8(at.text());
    char code[16];
    std::snprintf(code, sizeof code, "0x%x", at.code());
    out += text.empty() ? code : text + " (" + code + ")";
  }
  return out;
}

std::u16string member_name(std::string_view bytes) {
  std::u16string name;
  for (unsigned char b : bytes) name.push_back(b);
  return name;
}

std::string member_bytes(std::u16string_view name) {
  std::string bytes;
  for (char16_t c : name) bytes.push_back(static_cast<char>(c));
  return bytes;
}

std::unique_ptr<stream_file> open_input(const std::string& path, std::string& why) {
  auto f = std::make_unique<stream_file>(path);
  if (!f->is_open()) {
    why = path + ": cannot open for reading";
    return nullptr;
  }
  return f;
}

int store(const std::string& target, std::initializer_list<std::string_view> pieces) {
  const std::string temporary = target + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return fail(temporary + ": cannot open for writing");
    for (std::string_view piece : pieces) out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return fail(temporary + ": write failed");
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, target, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    return fail(target + ": cannot replace: " + ec.message());
  }
  return 0;
}

}  // namespace kvtool

int main(int argc, char** argv) {
  const std::string_view name = argc < 2 ? "help" : argv[1];
  if (name == "help" || name == "--help" || name == "-h") {
    kvtool::print_usage(std::cout);
    return 0;
  }
  const kvtool::command* c = kvtool::find_command(name);
  if (!c) {
    std::cerr << "kvtool: unknown command '" << name << "'\n\n";
    kvtool::print_usage(std::cerr);
    return 2;
  }
  return c->run(kvtool::arguments(argv + 2, argv + argc));
}
