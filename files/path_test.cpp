#include "files/path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct resolve_case {
  const char16_t* base;
  const char16_t* path;
  bool stream;
  const char16_t* expected;  // null: invalid
};

std::string narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

const resolve_case resolve_cases[] = {
    // relative and absolute
    {u"C:\\a\\", u"b\\..\\c", false, u"C:\\a\\c\\"},
    {u"C:\\a\\", u"b/c", false, u"C:\\a\\b\\c\\"},
    {u"C:\\a\\", u"b\\\\c", false, u"C:\\a\\b\\c\\"},
    {u"C:\\a\\", u"./b/.", false, u"C:\\a\\b\\"},
    {u"C:\\a\\", u"\\x", false, u"C:\\x\\"},
    {u"", u"\\x", false, nullptr},
    {u"\\\\srv\\share\\d\\", u"\\x", false, u"\\\\srv\\share\\x\\"},
    {u"C:\\a\\", u"", false, nullptr},
    {u"", u"x", false, nullptr},
    {u"", u".", false, u""},
    // drive forms
    {u"D:\\w\\", u"d:y", false, u"D:\\w\\y\\"},
    {u"C:\\a\\", u"d:y", false, u"D:\\y\\"},
    {u"C:\\a\\", u"c:", false, u"C:\\a\\"},
    {u"C:\\a\\", u"e:", false, u"E:\\"},
    {u"C:\\a\\", u"d:\\q", false, u"D:\\q\\"},
    {u"", u"c:/x/y", false, u"C:\\x\\y\\"},
    // parents
    {u"", u"C:\\..", false, u""},
    {u"", u"C:\\..\\..", false, u""},
    {u"C:\\a\\b\\", u"..\\..", false, u"C:\\"},
    {u"C:\\a\\", u"..\\..\\x", false, nullptr},
    {u"", u"\\\\srv\\share\\..", false, u""},
    // network and long forms
    {u"", u"//srv/share/f", false, u"\\\\srv\\share\\f\\"},
    {u"", u"\\\\?\\UNC\\srv\\share", false, u"\\\\srv\\share\\"},
    {u"", u"\\\\?\\unc\\srv\\share", false, u"\\\\srv\\share\\"},
    {u"", u"\\\\?\\c:\\x", false, u"C:\\x\\"},
    {u"", u"\\\\?\\c:", false, u"C:\\"},
    {u"", u"\\\\?\\Volume{1234}\\d", false, u"\\\\?\\Volume{1234}\\d\\"},
    {u"", u"\\\\?\\\\UNC\\srv\\share", false, u"\\\\srv\\share\\"},  // extra separators
    {u"", u"\\\\?\\/\\c:\\x", false, u"C:\\x\\"},
    {u"", u"\\\\?\\UNC", false, nullptr},  // the network form with no server
    {u"", u"\\\\?\\UNC\\", false, nullptr},
    {u"", u"\\\\?\\UNCx\\y", false, u"\\\\?\\UNCx\\y\\"},
    {u"", u"\\\\?\\x\\UNC\\..\\UNC", false, u"\\\\?\\x\\UNC\\"},
    {u"", u"\\\\?\\", false, nullptr},
    {u"", u"\\\\", false, nullptr},
    {u"C:\\", u"\\\\srv", false, u"\\\\srv\\"},
    // component trimming and limits
    {u"C:\\", u"a.. ", false, u"C:\\a\\"},
    {u"C:\\", u"...", false, nullptr},
    {u"C:\\", u" . ", false, nullptr},
    {u"C:\\", u"x\\ \\y", false, nullptr},
    // invalid characters
    {u"C:\\", u"a*b", false, nullptr},
    {u"C:\\", u"a?b", false, nullptr},
    {u"C:\\", u"a|b", false, nullptr},
    {u"C:\\", u"a<b", false, nullptr},
    {u"C:\\", u"a>b", false, nullptr},
    {u"C:\\", u"a\"b", false, nullptr},
    {u"C:\\", u"a\tb", false, nullptr},
    {u"C:\\",
     u"a\x1f"
     u"b",
     false, nullptr},
    // streams
    {u"", u"C:\\f.txt:s", true, u"C:\\f.txt:s\\"},
    {u"", u"C:\\f.txt:s", false, nullptr},
    {u"", u"C:\\f:s\\g", true, nullptr},
    {u"", u"C:\\f:s\\", true, u"C:\\f:s\\"},  // the separator that ends the canonical form
    {u"", u"C:\\f:s//", true, nullptr},  // only one separator may end it
    {u"", u"C:\\f:s\\\\g", true, nullptr},
    {u"", u"C:\\f:s:t", true, nullptr},
    {u"C:\\d\\", u"fi:s", true, u"C:\\d\\fi:s\\"},
    {u"C:\\d\\", u"f:s", true, u"F:\\s\\"},  // a one-letter name is a drive
    {u"C:\\d\\", u"\\e\\:s", true, u"C:\\e:s\\"},
    {u"", u"C:\\:s", true, u"C:\\s\\"},
    {u"C:\\d\\", u":s", true, nullptr},
    {u"", u"C:\\..:s", true, nullptr},
};

TEST(ResolvePath, Table) {
  for (const auto& c : resolve_cases) {
    std::u16string out = u"unchanged";
    const bool ok = resolve_path(c.base, out, c.path, c.stream);
    SCOPED_TRACE("base '" + narrow(c.base) + "' path '" + narrow(c.path) + "'" + (c.stream ? " stream" : ""));
    if (c.expected) {
      EXPECT_TRUE(ok);
      EXPECT_EQ(narrow(out), narrow(c.expected));
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(narrow(out), "unchanged");
    }
  }
}

// A canonical result is a fixed point: resolving it again, against the same
// base and with the same stream flag, gives it back unchanged.
TEST(ResolvePath, CanonicalResultsResolveToThemselves) {
  for (const auto& c : resolve_cases) {
    if (!c.expected || !*c.expected) continue;  // the computer level is the empty base, not a path
    SCOPED_TRACE("path '" + narrow(c.path) + "' gave '" + narrow(c.expected) + "'");
    for (const char16_t* base : {c.base, u"", u"D:\\w\\"}) {
      std::u16string out;
      EXPECT_TRUE(resolve_path(base, out, c.expected, c.stream)) << narrow(base);
      EXPECT_EQ(narrow(out), narrow(c.expected)) << narrow(base);
    }
  }
}

TEST(ResolvePath, ComponentLengthLimit) {
  const std::u16string ok(255, u'a');
  const std::u16string too_long(256, u'a');
  std::u16string out;
  EXPECT_TRUE(resolve_path(u"C:\\", out, ok.c_str(), false));
  EXPECT_EQ(out, u"C:\\" + ok + u"\\");
  EXPECT_FALSE(resolve_path(u"C:\\", out, too_long.c_str(), false));
  // Trailing dots and blanks are removed before the length is checked.
  EXPECT_TRUE(resolve_path(u"C:\\", out, (ok + u". .").c_str(), false));
}

TEST(ResolvePath, NullPathIsInvalid) {
  std::u16string out;
  EXPECT_FALSE(resolve_path(u"C:\\", out, nullptr, false));
}

TEST(RootLength, Forms) {
  const struct {
    const char16_t* path;
    std::size_t root;
  } cases[] = {
      {u"", 0},
      {u"C:", 0},
      {u"C:\\", 3},
      {u"C:\\a\\b\\", 3},
      {u"\\\\srv\\", 0},
      {u"\\\\srv\\share\\", 12},
      {u"\\\\srv\\share\\d\\", 12},
      {u"\\\\?\\Volume{x}\\d\\", 14},
  };
  for (const auto& c : cases) EXPECT_EQ(root_length(c.path), c.root) << narrow(c.path);
}

TEST(IsValidFileName, Table) {
  const struct {
    const char16_t* name;
    bool drive;
    bool valid;
  } cases[] = {
      {u"file.txt", false, true}, {u"con", false, true},  // device names are not checked
      {u"a?b", false, false},     {u"a*b", false, false},   {u"a/b", false, false},  {u"a\\b", false, false},
      {u"a:b", false, false},     {u"a|b", false, false},   {u"a\"b", false, false}, {u"a<b", false, false},
      {u"a>b", false, false},     {u"a\x01", false, false}, {u"", false, false},     {nullptr, false, false},
      {u" . ", false, false},     {u"..", false, false},    {u".a", false, true},    {u"C:", true, true},
      {u"z:", true, true},        {u"C", true, false},      {u"C:\\", true, false},  {u"1:", true, false},
      {u"C:", false, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(is_valid_file_name(c.name, c.drive), c.valid)
        << (c.name ? narrow(c.name) : std::string("(null)")) << (c.drive ? " drive" : "");
}

}  // namespace
