#include "installmenu/app/command_line.h"

#include "platform/win32/windows.h"

InstallMenuCommandLine splitCommandLine(int argc, const char16_t* const* argv) {
  static const std::u16string key = u"/package_file";
  InstallMenuCommandLine out;
  for (int i = 0; i < argc; ++i) {
    const std::u16string arg = argv[i] ? argv[i] : u"";
    if (arg.find(key) != std::u16string::npos) {
      // The skip counts from the argument's start: the fourteen characters of
      // "/package_file=" wherever the key stood.
      out.packageFile = arg.size() < 15 ? std::u16string() : arg.substr(14);
      out.hasPackageFile = true;
      continue;
    }
    std::string narrow;
    if (!arg.empty()) {
      const int n = WideCharToMultiByte(CP_ACP, 0, arg.c_str(), static_cast<int>(arg.size()), nullptr, 0, nullptr, nullptr);
      if (n > 0) {
        narrow.resize(static_cast<std::size_t>(n));
        WideCharToMultiByte(CP_ACP, 0, arg.c_str(), static_cast<int>(arg.size()), narrow.data(), n, nullptr, nullptr);
      }
    }
    out.arguments.push_back(std::move(narrow));
  }
  return out;
}
