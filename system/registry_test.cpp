#include "system/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/testing/test_world.h"
#include "system/layer.h"

namespace {

using Windows::Registry;

class Accessor : public win32_test::World {
 protected:
  // Stores raw bytes the way another program might have left them.
  void raw(const char16_t* key, const char16_t* name, DWORD type, const void* data, DWORD size,
           REGSAM view = 0) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(k);
  }
  bool exists(const char16_t* key, REGSAM view = 0) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
  }
  Registry reg{HKEY_LOCAL_MACHINE, 0};
};

TEST_F(Accessor, NumbersAndStringsByStoredSize) {
  const BYTE one[] = {'a', 0, 0, 0};                // REG_SZ "a" with its terminator: 4 bytes
  const BYTE qword[] = {1, 2, 3, 4, 5, 6, 7, 8};
  const BYTE odd[] = {'a', 0, 'b', 0, 'c'};         // half a unit at the end
  const BYTE three[] = {'x', 0, 'y'};
  struct Case {
    const char16_t* name;
    DWORD type;
    const BYTE* data;
    DWORD size;
    DWORD dword;           // getDword with default 77
    std::u16string text;   // getString with default "def"
  } cases[] = {
      {u"sz1", REG_SZ, one, 4, 0x61, u"a"},
      {u"qword", REG_QWORD, qword, 8, 77, std::u16string(u"\u0201\u0403\u0605", 3)},
      {u"empty", REG_SZ, nullptr, 0, 77, u"def"},
      {u"byte", REG_BINARY, one, 1, 77, u"def"},
      {u"two", REG_SZ, one + 2, 2, 77, u""},
      {u"odd", REG_SZ, odd, 5, 77, u"a"},
      {u"three", REG_SZ, three, 3, 77, u""},
  };
  for (const auto& c : cases) raw(u"Num", c.name, c.type, c.data, c.size);
  for (const auto& c : cases) {
    EXPECT_EQ(reg.getDword(u"Num", c.name, 77), c.dword) << std::string(c.name, c.name + 3);
    EXPECT_EQ(reg.getString(u"Num", c.name, u"def"), c.text) << std::string(c.name, c.name + 3);
  }
  EXPECT_EQ(reg.getDword(u"Num", u"missing", 5), 5u);
  EXPECT_EQ(reg.getString(u"Missing", u"x", u"d"), u"d");

  for (const std::u16string& s : {std::u16string(u"plain"), std::u16string(u""), std::u16string(u"\U0001F600 \u00E9"),
                                  std::u16string(u"a\0b", 3)}) {
    ASSERT_TRUE(reg.setString(u"Str", u"v", s, REG_SZ));
    EXPECT_EQ(reg.getString(u"Str", u"v", u"def"), s);
  }
  ASSERT_TRUE(reg.setDword(u"Str", u"d", 0xDEADBEEF));
  DWORD size = 0, type = 0;
  ASSERT_TRUE(reg.queryValue(u"Str", u"d", &size, &type, nullptr));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, DWORD{REG_DWORD});
  EXPECT_EQ(reg.getDword(u"Str", u"d", 0), 0xDEADBEEFu);
}

TEST_F(Accessor, BinaryAndQueries) {
  const BYTE bytes[] = {9, 8, 7, 6, 5};
  raw(u"Bin", u"b", REG_BINARY, bytes, 5);
  BYTE buffer[8] = {};
  EXPECT_EQ(reg.getBinary(u"Bin", u"b", buffer, 4), 5u);  // too small: size only
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(reg.getBinary(u"Bin", u"b", buffer, 8), 5u);
  EXPECT_EQ(std::memcmp(buffer, bytes, 5), 0);
  EXPECT_EQ(reg.getBinary(u"Bin", u"none", buffer, 8), 0u);

  bool notFound = true;
  DWORD size = 0;
  EXPECT_FALSE(reg.queryValue(u"NoKey", u"b", &size, nullptr, &notFound));
  EXPECT_FALSE(notFound);  // the key did not open: not a missing value
  EXPECT_FALSE(reg.queryValue(u"Bin", u"none", &size, nullptr, &notFound));
  EXPECT_TRUE(notFound);
  EXPECT_TRUE(reg.deleteValue(u"Bin", u"b", &notFound));
  EXPECT_FALSE(notFound);
  EXPECT_FALSE(reg.deleteValue(u"Bin", u"b", &notFound));
  EXPECT_TRUE(notFound);
}

// Answers every value's size but fails to read its data.
class UnreadableLayer final : public Windows::LayerNT {
 public:
  LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                        LPDWORD dataSize) override {
    if (data) return ERROR_ACCESS_DENIED;
    return LayerNT::RegQueryValueExW(key, name, reserved, type, data, dataSize);
  }
};

TEST_F(Accessor, AFailedBinaryReadIsNoValue) {
  const BYTE bytes[] = {9, 8, 7, 6, 5};
  raw(u"Bin", u"b", REG_BINARY, bytes, 5);
  UnreadableLayer unreadable;
  Windows::LayerNT* saved = Windows::layer;
  Windows::layer = &unreadable;
  BYTE buffer[8] = {};
  const DWORD got = reg.getBinary(u"Bin", u"b", buffer, 8);
  Windows::layer = saved;
  EXPECT_EQ(got, 0u);
}

TEST_F(Accessor, ExpandedStrings) {
  SetEnvironmentVariableW(u"KV_REG_TEST", u"expanded");
  const char16_t expand[] = u"<%KV_REG_TEST%>";
  raw(u"Exp", u"e", REG_EXPAND_SZ, expand, sizeof expand);
  raw(u"Exp", u"s", REG_SZ, expand, sizeof expand);
  EXPECT_EQ(reg.getExpandedString(u"Exp", u"e", u"d"), u"<expanded>");
  EXPECT_EQ(reg.getExpandedString(u"Exp", u"s", u"d"), u"<%KV_REG_TEST%>");  // only REG_EXPAND_SZ expands
  EXPECT_EQ(reg.getString(u"Exp", u"e", u"d"), u"<%KV_REG_TEST%>");
  SetEnvironmentVariableW(u"KV_REG_TEST", nullptr);
}

TEST_F(Accessor, KeysViewsAndAccess) {
  EXPECT_TRUE(reg.setDword(u"New\\Deep", u"v", 1));  // the missing subkey is created
  EXPECT_TRUE(exists(u"New\\Deep"));

  Registry r32(HKEY_LOCAL_MACHINE, Windows::keyWow64Flag32), r64(HKEY_LOCAL_MACHINE, Windows::keyWow64Flag64);
  ASSERT_TRUE(r32.setDword(u"View", u"v", 32));
  EXPECT_EQ(r64.getDword(u"View", u"v", 0), 0u);
  EXPECT_EQ(r32.getDword(u"View", u"v", 0), 32u);
  EXPECT_TRUE(exists(u"View", KEY_WOW64_32KEY));
  EXPECT_FALSE(exists(u"View", KEY_WOW64_64KEY));
  Registry user32(HKEY_CURRENT_USER, Windows::keyWow64Flag32), user64(HKEY_CURRENT_USER, Windows::keyWow64Flag64);
  ASSERT_TRUE(user32.setDword(u"View", u"v", 7));
  EXPECT_EQ(user64.getDword(u"View", u"v", 0), 7u);  // the user's hive has one view

  LONG error = -1;
  EXPECT_TRUE(reg.createKey(u"Made", 0, nullptr, &error));
  EXPECT_EQ(error, ERROR_SUCCESS);
  EXPECT_FALSE(reg.checkKey(u"Nope", 0, true, &error));
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"Made", 0, win32::kRegistryReadOnly), ERROR_SUCCESS);
  EXPECT_TRUE(reg.checkKey(u"Made", 0, true, &error));
  EXPECT_FALSE(reg.checkKey(u"Made", 0, false, &error));
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(reg.setDword(u"Made", u"v", 1));
}

// Subkeys are taken from the last index down; the first that cannot go stops
// the walk, so those after it are gone and it, those before it and the key stay.
TEST_F(Accessor, DeleteTreeStopsAtTheFirstSubkeyThatStays) {
  bool notFound = false;
  EXPECT_FALSE(reg.deleteTree(u"Absent", &notFound));
  EXPECT_TRUE(notFound);

  for (const char16_t* k : {u"T\\a\\x", u"T\\b", u"T\\c\\y\\z", u"T\\d"}) ASSERT_TRUE(reg.createKey(k, 0, nullptr));
  ASSERT_TRUE(reg.setDword(u"T\\c\\y", u"v", 1));
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"T\\b", 0, win32::kRegistryReadOnly), ERROR_SUCCESS);
  EXPECT_FALSE(reg.deleteTree(u"T", &notFound));
  EXPECT_FALSE(notFound);
  struct Case { const char16_t* key; bool stays; } cases[] = {
      {u"T", true}, {u"T\\a", true}, {u"T\\a\\x", true}, {u"T\\b", true}, {u"T\\c", false}, {u"T\\d", false},
  };
  for (const auto& c : cases) EXPECT_EQ(exists(c.key), c.stays) << std::string(c.key, c.key + 5);

  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"T\\b", 0, win32::kRegistryOpen), ERROR_SUCCESS);
  EXPECT_TRUE(reg.deleteTree(u"T", &notFound));
  EXPECT_FALSE(exists(u"T"));

  // Each view deletes only its own tree.
  Registry r32(HKEY_LOCAL_MACHINE, Windows::keyWow64Flag32), r64(HKEY_LOCAL_MACHINE, Windows::keyWow64Flag64);
  ASSERT_TRUE(r32.createKey(u"V\\sub", 0, nullptr));
  ASSERT_TRUE(r64.createKey(u"V\\sub", 0, nullptr));
  EXPECT_TRUE(r32.deleteTree(u"V"));
  EXPECT_FALSE(exists(u"V", KEY_WOW64_32KEY));
  EXPECT_TRUE(exists(u"V\\sub", KEY_WOW64_64KEY));
}

// The layer's RegDeleteKeyExW keeps the view it is given.
TEST_F(Accessor, LayerDeletesInTheViewAsked) {
  ASSERT_TRUE(Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY).createKey(u"Both", 0, nullptr));
  ASSERT_TRUE(Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY).createKey(u"Both", 0, nullptr));
  EXPECT_EQ(Windows::layer->RegDeleteKeyExW(HKEY_LOCAL_MACHINE, u"Both", KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
  EXPECT_FALSE(exists(u"Both", KEY_WOW64_32KEY));
  EXPECT_TRUE(exists(u"Both", KEY_WOW64_64KEY));
  EXPECT_EQ(Windows::deleteRegKey(HKEY_LOCAL_MACHINE, u"Both", KEY_WOW64_64KEY), ERROR_SUCCESS);
  EXPECT_FALSE(exists(u"Both", KEY_WOW64_64KEY));
}

class ForceDelete : public Accessor {};

TEST_F(ForceDelete, TakesOverReadOnlyKeysOfTheTree) {
  for (const char16_t* k : {u"F\\a\\deep", u"F\\b", u"F\\c"}) ASSERT_TRUE(reg.createKey(k, 0, nullptr));
  ASSERT_TRUE(reg.setDword(u"F\\a\\deep", u"v", 1));
  for (const char16_t* k : {u"F", u"F\\a\\deep", u"F\\b"})
    ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, k, 0, win32::kRegistryReadOnly), ERROR_SUCCESS);
  EXPECT_EQ(Windows::forceDeleteRegKey(HKEY_LOCAL_MACHINE, u"F", 0), ERROR_SUCCESS);
  EXPECT_FALSE(exists(u"F"));
  EXPECT_EQ(Windows::forceDeleteRegKey(HKEY_LOCAL_MACHINE, u"F", 0), ERROR_FILE_NOT_FOUND);
}

// A subkey that cannot be taken over is passed over: the walk ends, every
// other subkey is gone, and its error is returned. A sealed key cannot be
// opened to walk, so its own subkeys stay with it.
TEST_F(ForceDelete, PassesOverASubkeyThatCannotGo) {
  for (const char16_t* k : {u"G\\a", u"G\\b\\inner", u"G\\c", u"G\\d"}) ASSERT_TRUE(reg.createKey(k, 0, nullptr));
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"G\\b", 0, win32::kRegistrySealed), ERROR_SUCCESS);
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"G\\c", 0, win32::kRegistryReadOnly), ERROR_SUCCESS);
  EXPECT_EQ(Windows::forceDeleteRegKey(HKEY_LOCAL_MACHINE, u"G", Windows::keyWow64Flag64), ERROR_ACCESS_DENIED);
  struct Case { const char16_t* key; bool stays; } cases[] = {
      {u"G", true}, {u"G\\a", false}, {u"G\\b", true}, {u"G\\b\\inner", true}, {u"G\\c", false}, {u"G\\d", false},
  };
  for (const auto& c : cases) EXPECT_EQ(exists(c.key), c.stays) << std::string(c.key, c.key + 10);
}

TEST_F(ForceDelete, KeepsToItsView) {
  ASSERT_TRUE(Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY).createKey(u"W\\s", 0, nullptr));
  ASSERT_TRUE(Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY).createKey(u"W\\s", 0, nullptr));
  EXPECT_EQ(Windows::forceDeleteRegKey(HKEY_LOCAL_MACHINE, u"W", KEY_WOW64_32KEY), ERROR_SUCCESS);
  EXPECT_FALSE(exists(u"W", KEY_WOW64_32KEY));
  EXPECT_TRUE(exists(u"W\\s", KEY_WOW64_64KEY));
}

}  // namespace
