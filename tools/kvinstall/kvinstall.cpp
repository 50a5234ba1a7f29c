// kvinstall: runs the install job on one package without a user interface.
// Every message the job shows is printed (code, flags, texts) and answered
// from the command line; the job's result ends the output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "core/messenger.h"
#include "core/text_convert.h"
#include "installjob/package_installer.h"
#include "platform/win32/windows.h"

namespace {

std::string utf8(const std::u16string& s) {
  std::string out;
  Common::toUtf8(out, s.c_str());
  return out;
}
std::string utf8(const Processor::String& s) {
  return utf8(std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length())));
}
std::u16string wide(const char* s) {
  std::u16string out;
  Common::fromUtf8(out, s);
  return out;
}

class PrintingMessenger final : public Processor::Messenger {
 public:
  std::deque<std::uint32_t> answers;
  std::uint32_t show(const Processor::MessengerMessage& m) override {
    std::printf("message: code=0x%08X flags=0x%08X\n", m.errorCode, m.flags);
    auto line = [](const char* name, const Processor::String& s) {
      if (s.length()) std::printf("  %s: %s\n", name, utf8(s).c_str());
    };
    line("caption", m.caption);
    line("text", m.text);
    line("details", m.details);
    line("buttons", m.buttonTexts);
    line("link text", m.linkText);
    line("link", m.link);
    for (const auto& [number, value] : m.reportFields) std::printf("  field %u: %s\n", number, value.c_str());
    std::uint32_t answer = 0;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    std::printf("  answer: 0x%X\n", answer);
    std::fflush(stdout);
    return answer;
  }
  void close(std::uint32_t) override {}
  void closeAll() override {}
};

std::map<std::string, std::u16string> configValues;
const char16_t* config(const char* key) {
  auto it = configValues.find(key);
  return it == configValues.end() ? nullptr : it->second.c_str();
}

const char kUsage[] =
    "usage: kvinstall [--answer HEX]... [--config KEY=VALUE]... [--package-file PATH]\n"
    "                 [--extra PROPERTIES] [--extract FOLDER NAME] PACKAGE\n"
    "PACKAGE is a Windows path (C:\\...) or a Unix path; the job looks for it in the folder of\n"
    "the package file, which is PACKAGE itself unless --package-file names another.\n"
    "Answers are button flags: 0x20 OK, 0x40 Yes, 0x80 No, 0x100 Restart, 0x1000 View log.\n"
    "Exit status: 0 when the job succeeded, 1 when it failed (its result is the last line),\n"
    "2 for a usage error.\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// The result as a number and in words, as Windows words it.
std::string describe(std::uint32_t result) {
  std::string line = std::to_string(result);
  if (result == 0) return line;
  WCHAR text[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, result, 0, text,
                           512, nullptr);
  std::u16string words(text, n);
  while (!words.empty() && (words.back() == u'\n' || words.back() == u'\r' || words.back() == u' '))
    words.pop_back();
  if (!words.empty()) line += " (" + utf8(words) + ")";
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1 || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  auto messenger = Processor::makeRef<PrintingMessenger>();
  std::u16string packageFile, extra, extractFolder, extractName, package;
  bool haveExtra = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--answer") {
      const char* v = next();
      if (!v) return usage();
      messenger->answers.push_back(static_cast<std::uint32_t>(std::strtoul(v, nullptr, 16)));
    } else if (a == "--config") {
      const char* v = next();
      const char* eq = v ? std::strchr(v, '=') : nullptr;
      if (!eq) return usage();
      configValues[std::string(v, eq)] = wide(eq + 1);
    } else if (a == "--package-file") {
      const char* v = next();
      if (!v) return usage();
      packageFile = wide(v);
    } else if (a == "--extra") {
      const char* v = next();
      if (!v) return usage();
      extra = wide(v);
      haveExtra = true;
    } else if (a == "--extract") {
      const char* f = next();
      const char* n = next();
      if (!f || !n) return usage();
      extractFolder = wide(f);
      extractName = wide(n);
    } else if (!a.empty() && a[0] == '-') {
      return usage();
    } else if (package.empty()) {
      package = wide(argv[i]);
    } else {
      return usage();
    }
  }
  if (package.empty()) return usage();
  if (package[0] == u'/') package = win32::to_windows_path(utf8(package));
  if (!packageFile.empty() && packageFile[0] == u'/') packageFile = win32::to_windows_path(utf8(packageFile));
  if (packageFile.empty()) packageFile = package;
  std::size_t slash = package.find_last_of(u"\\/");
  std::u16string name = slash == std::u16string::npos ? package : package.substr(slash + 1);
  installjob::setConfigLookup(&config);

  installjob::PackageInstaller job(name, installjob::MenuJob);
  job.setMessenger(messenger.get());
  job.setPackageFile(packageFile);
  if (!extractName.empty()) {
    bool ok = job.extract({extractFolder, extractName});
    std::printf("extract: %s\n", ok ? "done" : "failed");
    return ok ? 0 : 1;
  }
  std::uint32_t result = job.prepare();
  std::printf("prepare: %u\n", result);
  if (result == 0) {
    result = job.run(true, haveExtra ? extra.c_str() : nullptr);
    if (!job.commandLine().empty()) std::printf("command line: %s\n", utf8(job.commandLine()).c_str());
    std::printf("run: %u\n", result);
  }
  std::printf("restart chosen: %s\n", job.restartChosen() ? "yes" : "no");
  std::printf("result: %s\n", describe(result).c_str());
  return result == 0 ? 0 : 1;
}
