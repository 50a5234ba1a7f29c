// Test packages built at test time with msitools, inside a private world, and
// the msitools programs as independent witnesses. Header-only; for tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/msi/msi.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/testing/test_world.h"

namespace msi_test {

inline std::string quote(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

// Runs a shell command; its standard output, and its exit status in *status.
inline std::string run(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = ::pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// One IDT text file: name ("Property.idt") and content (tab-separated lines).
struct Idt {
  std::string file;
  std::string text;
};

// Summary fields that msibuild -s sets: subject, author, template, revision number.
struct SummarySpec {
  std::string subject = "Demo Product";
  std::string author = "Acme Corp";
  std::string templ = "Intel;1033";
  std::string revision = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
};

// Builds `msi` from IDT texts with msibuild (one table per call), then sets the
// summary. False when msibuild fails.
inline bool buildIdtPackage(const std::string& msi, const std::vector<Idt>& tables,
                            const SummarySpec& summary = SummarySpec()) {
  std::filesystem::path dir = std::filesystem::path(msi).parent_path() / "idt";
  std::filesystem::create_directories(dir);
  for (const Idt& t : tables) {
    writeFile((dir / t.file).string(), t.text);
    int st;
    run("msibuild " + quote(msi) + " -i " + quote((dir / t.file).string()), &st);
    if (st != 0) return false;
  }
  int st;
  run("msibuild " + quote(msi) + " -s " + quote(summary.subject) + " " + quote(summary.author) + " " +
          quote(summary.templ) + " " + quote(summary.revision),
      &st);
  return st == 0;
}

// A small package: Property (with ProductShortName), Media keyed by an integer,
// and Binary with one stream.
inline std::vector<Idt> smallTables() {
  return {
      {"Property.idt",
       "Property\tValue\ns72\tl0\nProperty\tProperty\n"
       "ProductShortName\tDemo\nProductName\tDemo Product\n"
       "ProductCode\t{11111111-2222-3333-4444-555555555555}\nProductVersion\t1.2.3\nManufacturer\tAcme Corp\n"},
      {"Media.idt",
       "DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource\ni2\ti2\tL64\tS255\tS32\tS72\n"
       "Media\tDiskId\n1\t5\t\tdata1.cab\t\t\n2\t9\tDisk 2\t\t\t\n"},
  };
}

// The WiX source of a realistic package: two features, three components, two
// files in an embedded cabinet, registry values, an advertised shortcut.
inline const char* demoWxs() {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="12345678-1234-1234-1234-123456789ABC" Name="Demo Product" Language="1033" Version="1.2.3.4"
           Manufacturer="Acme Corp" UpgradeCode="87654321-4321-4321-4321-CBA987654321">
    <Package InstallerVersion="200" Compressed="yes" Comments="Demo package" Description="Demo Product Installer"/>
    <Media Id="1" Cabinet="demo.cab" EmbedCab="yes"/>
    <Property Id="ProductShortName" Value="Demo"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Demo">
          <Component Id="MainExe" Guid="11111111-2222-3333-4444-555555555555">
            <File Id="ToolExe" Name="tool.exe" Source="tool.exe" KeyPath="yes">
              <Shortcut Id="ToolShortcut" Directory="ProgramMenuDir" Name="Demo Tool" Advertise="yes"/>
            </File>
            <RegistryValue Root="HKLM" Key="Software\Acme\Demo" Name="Version" Type="string" Value="1.2.3.4"/>
          </Component>
          <Component Id="Docs" Guid="22222222-3333-4444-5555-666666666666">
            <File Id="Readme" Name="readme.txt" Source="readme.txt" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
      <Directory Id="ProgramMenuFolder">
        <Directory Id="ProgramMenuDir" Name="Demo">
          <Component Id="MenuDir" Guid="33333333-4444-5555-6666-777777777777">
            <RemoveFolder Id="ProgramMenuDir" On="uninstall"/>
            <RegistryValue Root="HKCU" Key="Software\Acme\Demo" Name="installed" Type="integer" Value="1" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Title="Demo" Level="1">
      <ComponentRef Id="MainExe"/>
      <ComponentRef Id="MenuDir"/>
      <Feature Id="Documentation" Title="Docs" Level="1">
        <ComponentRef Id="Docs"/>
      </Feature>
    </Feature>
  </Product>
</Wix>
)";
}

// Builds the demo package at `msi` with wixl (its payload files beside the source).
inline bool buildWixPackage(const std::string& msi) {
  std::filesystem::path dir = std::filesystem::path(msi).parent_path() / "wix";
  writeFile((dir / "demo.wxs").string(), demoWxs());
  writeFile((dir / "tool.exe").string(), std::string("MZ demo tool\0\x01\x02", 16));
  writeFile((dir / "readme.txt").string(), "Read me.\n");
  int st;
  run("cd " + quote(dir.string()) + " && wixl -o " + quote(msi) + " demo.wxs", &st);
  return st == 0;
}

// `msiinfo export` of one table (the witness of a table's content and types).
inline std::string exportTable(const std::string& msi, const std::string& table) {
  return run("msiinfo export " + quote(msi) + " " + quote(table));
}
inline std::string suminfo(const std::string& msi) { return run("msiinfo suminfo " + quote(msi)); }

// A private world with a packages folder on drive C.
class PackageWorld : public win32_test::World {
 protected:
  PackageWorld() : win32_test::World("msi-") {}
  // The Unix and Windows paths of a package name on drive C (folder "pkg").
  std::string unixPackage(const std::string& name) const { return c("pkg/" + name); }
  static std::u16string windowsPackage(const std::string& name) {
    std::u16string w = u"C:\\pkg\\";
    for (char ch : name) w += static_cast<char16_t>(ch);
    return w;
  }
  std::string buildSmall(const std::string& name = "small.msi") {
    std::string path = unixPackage(name);
    EXPECT_TRUE(buildIdtPackage(path, smallTables())) << "msibuild failed";
    return path;
  }
  std::string buildWix(const std::string& name = "demo.msi") {
    std::string path = unixPackage(name);
    EXPECT_TRUE(buildWixPackage(path)) << "wixl failed";
    return path;
  }
};

// Closes an installer handle at scope end.
class Handle {
 public:
  Handle() = default;
  explicit Handle(MSIHANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }
  void reset(MSIHANDLE h = 0) {
    if (h_) MsiCloseHandle(h_);
    h_ = h;
  }
  MSIHANDLE* out() {
    reset();
    return &h_;
  }
  MSIHANDLE get() const { return h_; }
  operator MSIHANDLE() const { return h_; }

 private:
  MSIHANDLE h_ = 0;
};

// A record field's text by the two-call size protocol.
inline std::u16string recordString(MSIHANDLE rec, UINT field) {
  DWORD n = 0;
  WCHAR empty[1] = {0};
  if (MsiRecordGetStringW(rec, field, empty, &n) != ERROR_MORE_DATA && n != 0) return u"<error>";
  std::u16string s(n + 1, u'\0');
  DWORD room = n + 1;
  if (MsiRecordGetStringW(rec, field, s.data(), &room) != ERROR_SUCCESS) return u"<error>";
  s.resize(room);
  return s;
}

inline std::string narrow(const std::u16string& s) {
  std::string r;
  for (char16_t c : s) r += c < 0x80 ? static_cast<char>(c) : '?';
  return r;
}

}  // namespace msi_test
