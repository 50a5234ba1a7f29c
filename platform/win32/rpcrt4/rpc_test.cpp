#include "platform/win32/rpcrt4/rpc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

TEST(Rpc, UuidCreateGivesDistinctVersionFourUuids) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    UUID u{};
    ASSERT_EQ(UuidCreate(&u), RPC_S_OK);
    EXPECT_EQ(u.Data3 >> 12, 4);
    EXPECT_EQ(u.Data4[0] & 0xC0, 0x80);
    seen.insert(std::string(reinterpret_cast<const char*>(&u), sizeof u));
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(Rpc, UuidFromStringIsStrict) {
  UUID u{};
  ASSERT_EQ(UuidFromStringA(reinterpret_cast<const unsigned char*>("12345678-9abc-DEF0-1234-56789ABCDEF0"), &u),
            RPC_S_OK);
  EXPECT_EQ(u.Data1, 0x12345678u);
  EXPECT_EQ(u.Data2, 0x9ABC);
  EXPECT_EQ(u.Data3, 0xDEF0);
  const BYTE data4[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  EXPECT_EQ(std::memcmp(u.Data4, data4, 8), 0);
  for (const char* bad : {"", "{12345678-9ABC-DEF0-1234-56789ABCDEF0}", "12345678-9ABC-DEF0-1234-56789ABCDEF0 ",
                          " 12345678-9ABC-DEF0-1234-56789ABCDEF0", "12345678-9ABC-DEF0-1234-56789ABCDEF",
                          "12345678-9ABC-DEF0-1234-56789ABCDEFG", "12345678+9ABC-DEF0-1234-56789ABCDEF0",
                          "123456789ABCDEF0123456789ABCDEF0", "12345678-9ABC-DEF0-123456789ABCDEF0"})
    EXPECT_EQ(UuidFromStringA(reinterpret_cast<const unsigned char*>(bad), &u), RPC_S_INVALID_STRING_UUID) << bad;
  EXPECT_EQ(UuidFromStringW(u"12345678-9ABC-DEF0-1234-56789ABCDEF0", &u), RPC_S_OK);
  EXPECT_EQ(UuidFromStringW(u"12345678-9ABC-DEF0-1234-56789ABCDE\u00C40", &u), RPC_S_INVALID_STRING_UUID);
  EXPECT_EQ(UuidFromStringA(nullptr, &u), RPC_S_OK);
  EXPECT_EQ(u.Data1, 0u);
}

}  // namespace
