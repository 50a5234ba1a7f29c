// The program's command line: "/package_file=" arguments give the package
// path (the last one wins); every other argument goes on to the toolkit in the
// system's ANSI code page. No FOX here.
#pragma once

#include <string>
#include <vector>

struct InstallMenuCommandLine {
  std::vector<std::string> arguments;  // for the toolkit, the program path first
  std::u16string packageFile;          // empty when none was given
  bool hasPackageFile = false;
};

InstallMenuCommandLine splitCommandLine(int argc, const char16_t* const* argv);
