#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "platform/msi/msi.h"
#include "platform/msi/msi_fixture.h"
#include "platform/win32/testing/test_world.h"

namespace {

class FileHash : public win32_test::World {};

// md5sum's digest as four little-endian 32-bit words, in decimal.
std::string md5Words(const std::string& path) {
  std::string hex = msi_test::run("md5sum " + msi_test::quote(path)).substr(0, 32);
  std::string words;
  for (int w = 0; w < 4; ++w) {
    unsigned long value = 0;
    for (int b = 3; b >= 0; --b) value = value << 8 | std::stoul(hex.substr(8 * w + 2 * b, 2), nullptr, 16);
    words += (w ? " " : "") + std::to_string(value);
  }
  return words;
}

TEST_F(FileHash, WordsAreMd5sumsDigestLittleEndian) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty.txt", ""},
      {"text.txt", "hello, world\n"},
      {"large.bin", std::string(200000, 'z') + "end"},
      {"\xc3\x9cnicode \xd0\xb6.txt", "named outside Latin-1"},
  };
  for (const Case& c : cases) {
    msi_test::writeFile(this->c(c.name), c.bytes);
    std::u16string path = u"C:\\" + win32::utf8_to_utf16(c.name);
    MSIFILEHASHINFO info{sizeof(MSIFILEHASHINFO), {}};
    ASSERT_EQ(MsiGetFileHashW(path.c_str(), 0, &info), 0u) << c.name;
    std::string words = std::to_string(info.dwData[0]) + " " + std::to_string(info.dwData[1]) + " " +
                        std::to_string(info.dwData[2]) + " " + std::to_string(info.dwData[3]);
    EXPECT_EQ(words, md5Words(this->c(c.name))) << c.name;
  }
}

TEST_F(FileHash, BadArgumentsAndMissingFilesAreRefused) {
  msi_test::writeFile(c("a.txt"), "a");
  MSIFILEHASHINFO info{sizeof(MSIFILEHASHINFO), {}};
  EXPECT_EQ(MsiGetFileHashW(u"C:\\a.txt", 1, &info), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiGetFileHashW(u"C:\\a.txt", 0, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  MSIFILEHASHINFO wrongSize{16, {}};
  EXPECT_EQ(MsiGetFileHashW(u"C:\\a.txt", 0, &wrongSize), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiGetFileHashW(u"C:\\none.txt", 0, &info), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(MsiGetFileHashW(u"C:\\", 0, &info) == 0, false);
}

}  // namespace
