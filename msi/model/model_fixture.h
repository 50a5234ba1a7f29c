// Packages built at test time with msibuild, and the msitools witnesses
// (msiinfo, msidiff) run over them, in a private world.
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"

namespace model_test {

inline std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a command; its standard output, or "<rc=N>" appended when it failed.
inline std::string run(const std::string& command, int* rc = nullptr) {
  std::string out;
  FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) return "<popen failed>";
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  if (rc) *rc = status;
  // msiinfo export ends its lines with CR LF.
  std::string clean;
  for (char ch : out)
    if (ch != '\r') clean += ch;
  return clean;
}

inline std::string narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(static_cast<char>(c));
  return out;
}

class PackageWorld : public win32_test::World {
 protected:
  PackageWorld() : World("msim-") {}

  // Builds C:\<name> from IDT texts (table name -> text), with a summary.
  std::u16string build(const std::string& name, const std::map<std::string, std::string>& tables,
                       const std::string& subject = "Widget Pro", const std::string& author = "Korvane",
                       const std::string& templ = "Intel;1033",
                       const std::string& revision = "{12345678-1234-1234-1234-123456789ABC}") {
    std::string path = c(name);
    std::string cmd = "msibuild " + shellQuote(path) + " -s " + shellQuote(subject) + " " + shellQuote(author) + " " +
                      shellQuote(templ) + " " + shellQuote(revision);
    int rc = 0;
    run(cmd, &rc);
    EXPECT_EQ(rc, 0) << cmd;
    for (const auto& [table, text] : tables) {
      put("idt/" + table + ".idt", text);
      std::string import = "msibuild " + shellQuote(path) + " -i " + shellQuote(c("idt/" + table + ".idt"));
      run(import, &rc);
      EXPECT_EQ(rc, 0) << import;
    }
    return windowsPath(name);
  }
  std::u16string windowsPath(const std::string& name) const {
    std::u16string p = u"C:\\";
    for (char ch : name) p.push_back(ch == '/' ? u'\\' : static_cast<char16_t>(ch));
    return p;
  }
  std::string bytes(const std::string& name) const { return get(name); }
  std::string exportTable(const std::string& name, const std::string& table) const {
    return run("msiinfo export " + shellQuote(c(name)) + " " + shellQuote(table));
  }
  std::string suminfo(const std::string& name) const { return run("msiinfo suminfo " + shellQuote(c(name))); }
  // The changed lines of msidiff's table diff ("-old" / "+new"), headers left out.
  std::vector<std::string> diff(const std::string& before, const std::string& after) const {
    std::string text = run("msidiff " + shellQuote(c(before)) + " " + shellQuote(c(after)));
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if ((line.rfind("+", 0) == 0 || line.rfind("-", 0) == 0) && line.rfind("+++", 0) != 0 &&
          line.rfind("---", 0) != 0)
        lines.push_back(line);
      start = end + 1;
    }
    return lines;
  }
  void copy(const std::string& from, const std::string& to) const { put(to, get(from)); }
  // The value of one "Label: value" line of msiinfo suminfo.
  static std::string field(const std::string& suminfo, const std::string& label) {
    std::size_t p = suminfo.find(label + ": ");
    if (p == std::string::npos) return "<none>";
    p += label.size() + 2;
    return suminfo.substr(p, suminfo.find('\n', p) - p);
  }

  static std::string propertyIdt(const std::vector<std::pair<std::string, std::string>>& rows) {
    std::string text = "Property\tValue\ns72\tl0\nProperty\tProperty\n";
    for (const auto& [k, v] : rows) text += k + "\t" + v + "\n";
    return text;
  }
};

}  // namespace model_test
