// Inputs the fuzz targets in fuzz/ found, kept as ordinary cases.
#include <gtest/gtest.h>

#include <string>

#include "files/path.h"

namespace {

// A canonical stream path ends in a separator, and resolves to itself.
TEST(FuzzFound, CanonicalStreamPathResolvesToItself) {
  struct {
    const char16_t* path;
    const char16_t* expected;  // null: refused
  } cases[] = {
      {u"C:\\f.txt:s", u"C:\\f.txt:s\\"},
      {u"C:\\f.txt:s\\", u"C:\\f.txt:s\\"},
      {u"\\\\s\\h\\f:st\\", u"\\\\s\\h\\f:st\\"},
      {u"C:\\e\\:s\\", u"C:\\e:s\\"},
      {u"C:\\f.txt:s\\\\", nullptr},
      {u"C:\\f.txt:\\", nullptr},  // no stream name
      {u"\\x:\\", nullptr},
      {u"C:\\f.txt:s\\g", nullptr},
  };
  for (const auto& c : cases) {
    std::u16string out = u"unchanged";
    const bool ok = resolve_path(u"D:\\base\\", out, c.path, true);
    const std::string shown(c.path, c.path + std::char_traits<char16_t>::length(c.path));
    if (c.expected) {
      EXPECT_TRUE(ok) << shown;
      EXPECT_TRUE(out == c.expected) << shown;
    } else {
      EXPECT_FALSE(ok) << shown;
    }
  }
}

// A kept long form whose first component trims to "UNC" would name a network
// path when resolved again: refused.
TEST(FuzzFound, LongFormWhoseFirstComponentBecomesUncIsRefused) {
  const char16_t* refused[] = {u"\\\\?\\UNC. .\\x", u"\\\\?\\a\\..\\unc\\x"};
  for (const char16_t* path : refused) {
    std::u16string out = u"unchanged";
    EXPECT_FALSE(resolve_path(u"D:\\base\\", out, path, false));
    EXPECT_TRUE(out == u"unchanged");
  }
  std::u16string out;
  ASSERT_TRUE(resolve_path(u"D:\\base\\", out, u"\\\\?\\UNCX\\x", false));
  EXPECT_TRUE(out == u"\\\\?\\UNCX\\x\\");
}

}  // namespace
