#include "installmenu/app/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, PackageFileArgumentsTable) {
  struct Case {
    const char* name;
    std::vector<std::u16string> argv;
    std::vector<std::string> arguments;
    std::u16string package;
    bool hasPackage;
  } cases[] = {
      {"program path only", {u"C:\\menu.exe"}, {"C:\\menu.exe"}, u"", false},
      {"the package is taken out",
       {u"C:\\menu.exe", u"/package_file=D:\\hotfix.msi", u"-x"},
       {"C:\\menu.exe", "-x"},
       u"D:\\hotfix.msi",
       true},
      {"the last of two wins",
       {u"menu", u"/package_file=first.msi", u"/package_file=second.msi"},
       {"menu"},
       u"second.msi",
       true},
      // The skip counts from the argument's start, not from the key.
      {"two characters before the key", {u"menu", u"xx/package_file=p.msi"}, {"menu"}, u"e=p.msi", true},
      {"shorter than fifteen characters", {u"menu", u"/package_file="}, {"menu"}, u"", true},
      {"the key is case-sensitive", {u"menu", u"/PACKAGE_FILE=p.msi"}, {"menu", "/PACKAGE_FILE=p.msi"}, u"", false},
      {"an empty argument stays", {u"menu", u"", u"b"}, {"menu", "", "b"}, u"", false},
      // Latin-1 letters reach the toolkit in the ANSI code page (1252).
      {"ANSI conversion", {u"menu", u"caf\u00e9"}, {"menu", "caf\xe9"}, u"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<const char16_t*> argv;
    for (const auto& a : c.argv) argv.push_back(a.c_str());
    const InstallMenuCommandLine line = splitCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(line.arguments, c.arguments);
    EXPECT_EQ(line.packageFile, c.package);
    EXPECT_EQ(line.hasPackageFile, c.hasPackage);
  }
}

}  // namespace
