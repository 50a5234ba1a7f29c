// makecab.exe: found by bare name in a fresh world's system folder, building
// cabinets that Debian's cabinet readers list and unpack.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "platform/tools/ddf.h"
#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

namespace {

std::string quote(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

std::string run(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = ::pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

// The header a package's cabinet builder writes, lines ending in CR LF.
std::string header(const std::string& cabinet, const std::string& folder) {
  return ".OPTION EXPLICIT\r\n.Set UniqueFiles=\"ON\"\r\n.Set MaxDiskSize=0\r\n.Set MaxCabinetSize=0\r\n"
         ";.Set GenerateInf=OFF\r\n;.Set CompressionType=LZX\r\n.Set Compress=ON\r\n"
         ".Set CabinetNameTemplate=" + cabinet + "\r\n.Set DiskDirectory1=" + folder + "\r\n";
}

class Makecab : public win32_test::World {
 protected:
  Makecab() : win32_test::World("cab-") {}

  // Starts "makecab.exe /f NAME" as a Windows program would, in C:\; its exit code.
  DWORD start(const std::u16string& ddf) {
    std::u16string line = u"makecab.exe /f " + ddf;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0x08000020, nullptr, nullptr, &si, &pi)) {
      ADD_FAILURE() << "CreateProcessW: " << GetLastError();
      return 9999;
    }
    EXPECT_EQ(WaitForMultipleObjects(1, &pi.hProcess, FALSE, INFINITE), WAIT_OBJECT_0);
    DWORD code = 9999;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
  }
  // The same from a shell, for its messages: exit status and standard error.
  std::string messages(const std::string& ddf, int& status) {
    std::string system = c("Windows/System32/makecab.exe");
    return run("cd " + quote(c()) + " && " + quote(system) + " /f " + quote(ddf) + " 2>&1 >/dev/null", &status);
  }
};

TEST_F(Makecab, BuildsTheCabinetOfAPackageDirectiveFile) {
  put("Src/a.txt", "alpha\n");
  put("Src dir/b c.txt", std::string(70000, 'b'));  // more than one data block
  put("Pkg/keep", "");
  put("~_tmp_ddf_file_name.ddf", header("data1.cab", "C:\\Pkg") + "C:\\Src\\a.txt F1\r\n" +
                                     "\"C:\\Src dir\\b c.txt\" F2\r\n" + "c:\\src\\A.TXT \"F 3\"\r\n");
  ASSERT_EQ(start(u"~_tmp_ddf_file_name.ddf"), 0u);

  const std::string cab = c("Pkg/data1.cab");
  int st = -1;
  const std::string listed = run("cabextract -l " + quote(cab) + " 2>&1", &st);
  EXPECT_EQ(st, 0) << listed;
  EXPECT_NE(listed.find("| F1\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("| F2\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("| F 3\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("All done, no errors."), std::string::npos) << listed;
  EXPECT_EQ(run("gcab -t " + quote(cab), &st), "F1\nF2\nF 3\n");
  EXPECT_EQ(st, 0);
  // The contents, unpacked by the independent reader, and the compression used.
  EXPECT_EQ(run("cabextract -q -p -F F1 " + quote(cab)), "alpha\n");
  EXPECT_EQ(run("cabextract -q -p -F F2 " + quote(cab)), std::string(70000, 'b'));
  // The one folder's compression type (bytes 42-43 of the file) is MSZIP, 1.
  const std::string bytes = get("Pkg/data1.cab");
  ASSERT_GT(bytes.size(), 44u);
  EXPECT_EQ(bytes.substr(42, 2), std::string("\x01\x00", 2));
  EXPECT_LT(bytes.size(), 2000u);
  // No temporary file is left beside the cabinet.
  EXPECT_EQ(run("ls -A " + quote(c("Pkg"))), "data1.cab\nkeep\n");
}

TEST_F(Makecab, IsFoundInEveryNewWorld) {
  WCHAR system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  EXPECT_NE(GetFileAttributesW((std::u16string(system) + u"\\MAKECAB.EXE").c_str()), INVALID_FILE_ATTRIBUTES);
  // A relative DiskDirectory1 and no file list: nothing to build, success.
  put("empty.ddf", header("none.cab", "."));
  EXPECT_EQ(start(u"empty.ddf"), 0u);
  EXPECT_EQ(GetFileAttributesW(u"C:\\none.cab"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Makecab, RefusesWithAMessageAndLeavesNoCabinet) {
  put("Src/a.txt", "alpha\n");
  put("Out/old.cab", "old");
  struct Case {
    const char* what;
    std::string ddf;
    const char* message;
  } cases[] = {
      {"missing source", header("old.cab", "C:\\Out") + "C:\\Src\\a.txt F1\r\nC:\\Src\\gone.txt F2\r\n",
       "(11): cannot open C:\\Src\\gone.txt"},
      {"unknown variable", header("old.cab", "C:\\Out") + ".Set Colour=blue\r\nC:\\Src\\a.txt F1\r\n",
       "(10): undefined variable COLOUR"},
      {"unknown directive", header("old.cab", "C:\\Out") + ".New Cabinet\r\n", "(10): unsupported directive .NEW"},
      {"unterminated quote", header("old.cab", "C:\\Out") + "\"C:\\Src\\a.txt F1\r\n", "(10): unterminated"},
      {"same name twice", header("old.cab", "C:\\Out") + "C:\\Src\\a.txt F1\r\nC:\\Src\\a.txt f1\r\n",
       "(11): the name f1 is used twice"},
      {"missing output folder", header("old.cab", "C:\\Nowhere") + "C:\\Src\\a.txt F1\r\n",
       ": the output folder C:\\Nowhere does not exist"},
      {"a folder as source", header("old.cab", "C:\\Out") + "C:\\Src F1\r\n", "(10): cannot open C:\\Src"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    put("bad.ddf", k.ddf);
    EXPECT_EQ(start(u"bad.ddf"), 1u);
    int st = -1;
    const std::string text = messages("bad.ddf", st);
    EXPECT_EQ(st, 1);
    EXPECT_NE(text.find(std::string("makecab: ERROR: bad.ddf") + k.message), std::string::npos) << text;
    EXPECT_EQ(get("Out/old.cab"), "old");
    EXPECT_EQ(run("ls -A " + quote(c("Out"))), "old.cab\n");
  }
  EXPECT_EQ(start(u"missing.ddf"), 1u);
  EXPECT_EQ(start(u""), 1u);
}

struct ParseCase {
  const char* what;
  std::string text;
  int error_line;  // 0: accepted
};

TEST(Ddf, ReadsTheSubsetAndRefusesTheRest) {
  const ParseCase cases[] = {
      {"header and files", header("x.cab", "C:\\P") + "a F1\n\"b c\" \"F \"\"2\"\"\"\n", 0},
      {"LF only, blank lines, comments", "\n; note\n.Set Compress=OFF\n\n  a  \n", 0},
      {"byte-order mark", "\xEF\xBB\xBF.Set Compress=ON\r\n", 0},
      {"variables are free without EXPLICIT", ".Set Mine=1\n", 0},
      {"EXPLICIT refuses unknown variables", ".Option Explicit\n.Set Mine=1\n", 2},
      {"spanning is not made", ".Set MaxDiskSize=1440000\n", 1},
      {"LZX is not made", ".Set CompressionType=LZX\n", 1},
      {"ON or OFF", ".Set Compress=maybe\n", 1},
      {"a cabinet name has no folder", ".Set CabinetNameTemplate=a\\b.cab\n", 1},
      {".Set without a value", ".Set Compress\n", 1},
      {"text glued to a quote", "\"a\"b F1\n", 1},
      {"three fields", "a F1 /inf=no\n", 1},
      {"a name past 255 bytes", "a " + std::string(256, 'n') + "\n", 1},
      {"a source that names no file", "C:\\Src\\\n", 1},
      {"one name twice while UniqueFiles is OFF", ".Set UniqueFiles=OFF\na F1\nb F1\n", 0},
      {"a name from the OFF stretch again once ON", ".Set UniqueFiles=OFF\na F1\n.Set UniqueFiles=ON\nb f1\n", 4},
  };
  for (const ParseCase& k : cases) {
    SCOPED_TRACE(k.what);
    layer_tools::Ddf ddf;
    layer_tools::DdfError error;
    const bool ok = layer_tools::parse_ddf(k.text, ddf, error);
    EXPECT_EQ(ok, k.error_line == 0) << error.message;
    if (!ok) {
      EXPECT_EQ(error.line, k.error_line) << error.message;
    }
  }
  layer_tools::Ddf ddf;
  layer_tools::DdfError error;
  ASSERT_TRUE(layer_tools::parse_ddf(header("d*.cab", "C:\\P") + "\"C:\\a b\\c.txt\"\r\nx \"F \"\"2\"\"\"\r\n", ddf,
                                     error));
  EXPECT_EQ(ddf.cabinet_name, u"d1.cab");
  EXPECT_EQ(ddf.disk_directory, u"C:\\P");
  ASSERT_EQ(ddf.files.size(), 2u);
  EXPECT_EQ(ddf.files[0].source, u"C:\\a b\\c.txt");
  EXPECT_EQ(ddf.files[0].name, u"c.txt");
  EXPECT_EQ(ddf.files[1].name, u"F \"2\"");
  // Not UTF-8: the ANSI code page (1252 here).
  ASSERT_TRUE(layer_tools::parse_ddf("caf\xE9.txt\n", ddf, error));
  EXPECT_EQ(ddf.files[0].name, u"caf\u00E9.txt");
}

}  // namespace
