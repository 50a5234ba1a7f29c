#include "system/regkey.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/testing/test_world.h"

namespace {

using Common::Error;
using Common::RegKey;
using Common::RegValue;
using Data = RegValue::Data;

class RegModel : public win32_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    ASSERT_FALSE(Common::openRegKey(root_, HKEY_LOCAL_MACHINE, u"", false, Common::DefaultView));
  }
  void raw(const char16_t* key, const char16_t* name, DWORD type, const void* data, DWORD size) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &k,
                              nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(k);
  }
  std::vector<BYTE> stored(const char16_t* key, const char16_t* name, DWORD* type) {
    HKEY k = nullptr;
    std::vector<BYTE> out(256);
    DWORD size = 256;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &k), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(k, name, nullptr, type, out.data(), &size), ERROR_SUCCESS);
    RegCloseKey(k);
    out.resize(size);
    return out;
  }
  Data read(const char16_t* key, const char16_t* name, bool expand = false, Error* error = nullptr) {
    std::unique_ptr<RegKey> k;
    Data d = std::u16string(u"untouched");
    Error e = Common::openRegSubKey(HKEY_LOCAL_MACHINE, key, k, true, Common::DefaultView);
    if (!e) {
      std::unique_ptr<RegValue> v;
      k->value(name, v);
      e = v->read(d, expand);
    }
    if (error) *error = e;
    return d;
  }
  std::unique_ptr<RegKey> root_;
};

std::vector<BYTE> units(std::u16string s) {
  std::vector<BYTE> b(s.size() * 2);
  std::memcpy(b.data(), s.data(), b.size());
  return b;
}

TEST_F(RegModel, ReadsByStoredType) {
  using List = std::vector<std::u16string>;
  using Bytes = std::vector<std::uint8_t>;
  const BYTE eight[] = {1, 0, 0, 0, 0, 0, 0, 0};
  const BYTE five[] = {1, 2, 3, 4, 5};
  SetEnvironmentVariableW(u"KV_MODEL", u"x");
  struct Case {
    const char16_t* name;
    DWORD type;
    std::vector<BYTE> data;
    Data expected;
  } cases[] = {
      {u"sz", REG_SZ, units(std::u16string(u"ab\0\0", 4)), std::u16string(u"ab")},  // two terminators
      {u"sz1", REG_SZ, units(std::u16string(u"ab\0", 3)), std::u16string(u"ab")},
      {u"exp", REG_EXPAND_SZ, units(std::u16string(u"%KV_MODEL%\0", 11)), std::u16string(u"%KV_MODEL%")},
      {u"multi", REG_MULTI_SZ, units(std::u16string(u"a\0\0b\0\0", 6)), List{u"a"}},  // the empty element ends it
      {u"multi2", REG_MULTI_SZ, units(std::u16string(u"a\0bc\0\0", 6)), List{u"a", u"bc"}},
      // Set without its terminator, the text is stored with one (as Windows
      // does): a list that lacks only its closing empty element.
      {u"noend", REG_MULTI_SZ, units(std::u16string(u"a\0b", 3)), List{u"a", u"b"}},
      {u"dword", REG_DWORD, {4, 3, 2, 1}, std::uint32_t{0x01020304}},
      {u"dword8", REG_DWORD, std::vector<BYTE>(eight, eight + 8), std::uint32_t{0}},
      {u"qword", REG_QWORD, std::vector<BYTE>(eight, eight + 8), std::uint64_t{1}},
      {u"bin0", REG_BINARY, {}, Bytes{}},
      {u"bin", REG_BINARY, std::vector<BYTE>(five, five + 5), Bytes{1, 2, 3, 4, 5}},
      {u"none", REG_NONE, {7}, Bytes{7}},
      {u"big", 5, {0, 0, 0, 1}, Bytes{0, 0, 0, 1}},
      {u"link", 6, {1, 2}, Bytes{1, 2}},
      {u"high", 99, {3}, Bytes{3}},
  };
  for (const auto& c : cases)
    raw(u"Types", c.name, c.type, c.data.empty() ? nullptr : c.data.data(), static_cast<DWORD>(c.data.size()));
  for (const auto& c : cases) {
    Error e;
    Data d = read(u"Types", c.name, false, &e);
    EXPECT_FALSE(e) << std::string(c.name, c.name + 3);
    EXPECT_TRUE(d == c.expected) << std::string(c.name, c.name + 3) << " alternative " << d.which();
  }
  EXPECT_TRUE(read(u"Types", u"exp", true) == Data(std::u16string(u"x")));
  SetEnvironmentVariableW(u"KV_MODEL", nullptr);

  Error e;
  Data d = read(u"Types", u"absent", false, &e);
  EXPECT_EQ(e.code(), 0xBE0082u);
  EXPECT_EQ(std::u16string(e.wideField("path")), u"Types");
  EXPECT_EQ(std::u16string(e.wideField("name")), u"absent");
  EXPECT_STREQ(e.fieldNames(), "path,name");
  EXPECT_EQ(e.text(), u"The value cannot be found.");
  EXPECT_EQ(e.site() >> 32, 0x8a55ceeeu);
  EXPECT_TRUE(d == Data(std::u16string(u"untouched")));  // left alone
}

TEST_F(RegModel, WritesWithTheTypeOfTheAlternative) {
  std::unique_ptr<RegKey> k;
  ASSERT_FALSE(root_->createKey(u"Out\\Deep", k));
  struct Case {
    const char16_t* name;
    Data data;
    bool expandable;
    DWORD type;
    std::vector<BYTE> bytes;
  } cases[] = {
      {u"s", std::u16string(u"hi"), false, REG_SZ, {'h', 0, 'i', 0, 0, 0}},
      {u"e", std::u16string(u"hi"), true, REG_EXPAND_SZ, {'h', 0, 'i', 0, 0, 0}},
      {u"m", std::vector<std::u16string>{u"a", u"b"}, false, REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
      {u"d", std::uint32_t{0x11223344}, true, REG_DWORD, {0x44, 0x33, 0x22, 0x11}},
      {u"q", std::uint64_t{0x0102030405060708}, false, REG_QWORD, {8, 7, 6, 5, 4, 3, 2, 1}},
      {u"b", std::vector<std::uint8_t>{0, 255}, false, REG_BINARY, {0, 255}},
      {u"b0", std::vector<std::uint8_t>{}, false, REG_BINARY, {}},
  };
  for (const auto& c : cases) {
    std::unique_ptr<RegValue> v;
    k->value(c.name, v);
    ASSERT_FALSE(v->write(c.data, c.expandable));
    DWORD type = 0;
    EXPECT_EQ(stored(u"Out\\Deep", c.name, &type), c.bytes) << std::string(c.name, c.name + 2);
    EXPECT_EQ(type, c.type);
    Data back;
    ASSERT_FALSE(Common::readRegValue(*k, c.name, back));
    EXPECT_TRUE(back == c.data);
  }
  std::unique_ptr<RegValue> v;
  root_->value(u"Missing\\Made", v);  // a path, not a name: the value sits on the root
  std::u16string name;
  v->name(name);
  EXPECT_EQ(name, u"Missing\\Made");
}

TEST_F(RegModel, OpeningCreatingAndNames) {
  std::unique_ptr<RegKey> k;
  std::u16string name = u"x";
  root_->name(name);
  EXPECT_EQ(name, u"");  // the root, opened without touching the registry
  ASSERT_FALSE(Common::openRegKey(k, HKEY_LOCAL_MACHINE, nullptr, true, 42));
  k->name(name);
  EXPECT_EQ(name, u"");

  struct Case { const char16_t* path; const char16_t* name; } names[] = {
      {u"Software\\Example\\", u"Example\\"}, {u"Software", u"Software"}, {u"A\\B", u"B"}};
  for (const auto& c : names) {
    ASSERT_FALSE(root_->createKey(c.path, k));
    k->name(name);
    EXPECT_EQ(name, c.name);
  }

  Error e = Common::openRegSubKey(HKEY_LOCAL_MACHINE, u"Nowhere", k, true, Common::DefaultView);
  EXPECT_EQ(e.code(), 0xBE0081u);
  EXPECT_STREQ(e.fieldNames(), "");  // a plain text record
  std::unique_ptr<RegKey> before;
  ASSERT_FALSE(root_->openKey(u"Software", before));
  RegKey* kept = before.get();
  EXPECT_TRUE(root_->openKey(u"Nowhere", before));
  EXPECT_EQ(before.get(), kept);  // a failed open keeps the holder's key

  // A read-only key hands out read-only keys: creating below it fails.
  std::unique_ptr<RegKey> ro;
  ASSERT_FALSE(Common::openRegSubKey(HKEY_LOCAL_MACHINE, u"Software", ro, true, Common::DefaultView));
  EXPECT_EQ(ro->createKey(u"Sub", k).code(), 0xBE0081u);
  ASSERT_FALSE(root_->createKey(u"Software\\Sub", k));  // writable: created
  std::unique_ptr<RegValue> v;
  k->value(u"v", v);
  EXPECT_FALSE(v->write(std::uint32_t{1}, false));

  // A key the user may only read, opened writable: access denied as the cause.
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"Software", KEY_WOW64_64KEY, win32::kRegistryReadOnly),
            ERROR_SUCCESS);
  for (bool create : {false, true}) {
    e = create ? root_->createKey(u"Software", k) : root_->openKey(u"Software", k);
    EXPECT_EQ(e.code(), 0xBE0010u);
    EXPECT_EQ(e.cause().code(), 0xFFF0u);
    EXPECT_EQ(static_cast<std::uint32_t>(e.cause().numberField("code")), 0x80070005u);
  }
  EXPECT_FALSE(Common::openRegSubKey(HKEY_LOCAL_MACHINE, u"Software", k, true, Common::DefaultView));
}

TEST_F(RegModel, DeletingValuesAndKeys) {
  std::unique_ptr<RegKey> k;
  ASSERT_FALSE(root_->createKey(u"Del", k));
  std::unique_ptr<RegValue> v;
  k->value(u"v", v);
  ASSERT_FALSE(v->write(std::u16string(u"x"), false));
  EXPECT_FALSE(k->existingValue(u"v", v));
  EXPECT_FALSE(k->deleteValue(u"v"));
  EXPECT_EQ(k->deleteValue(u"v").code(), 0xBE0082u);
  EXPECT_EQ(k->existingValue(u"v", v).code(), 0xBE0082u);

  std::unique_ptr<RegKey> sub;
  ASSERT_FALSE(k->createKey(u"a\\b\\c", sub));
  EXPECT_FALSE(k->deleteKey(u"a"));
  Error e = k->deleteKey(u"a");
  EXPECT_EQ(e.code(), 0xBE0081u);
  EXPECT_EQ(std::u16string(e.wideField("path")), u"Del");
  EXPECT_EQ(std::u16string(e.wideField("name")), u"a");

  ASSERT_FALSE(k->createKey(u"p\\q", sub));
  ASSERT_FALSE(k->createKey(u"p\\r", sub));
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"Del\\p\\q", KEY_WOW64_64KEY, win32::kRegistryReadOnly),
            ERROR_SUCCESS);
  EXPECT_EQ(k->deleteKey(u"p").code(), 0xBE0011u);
  EXPECT_FALSE(k->forceDeleteKey(u"p", KEY_WOW64_64KEY));  // takes the read-only subkey over
  EXPECT_EQ(k->openKey(u"p", sub).code(), 0xBE0081u);

  ASSERT_FALSE(k->createKey(u"s\\t", sub));
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"Del\\s\\t", KEY_WOW64_64KEY, win32::kRegistrySealed),
            ERROR_SUCCESS);
  e = k->forceDeleteKey(u"s", KEY_WOW64_64KEY);
  EXPECT_EQ(e.code(), 0xBE0012u);
  EXPECT_EQ(static_cast<std::uint32_t>(e.cause().numberField("code")), 0x80070005u);
}

TEST_F(RegModel, IteratorsWalkByIndex) {
  std::unique_ptr<RegKey> k, sub;
  ASSERT_FALSE(root_->createKey(u"It", k));
  for (const char16_t* n : {u"k1", u"k2", u"k3"}) ASSERT_FALSE(k->createKey(n, sub));
  for (const char16_t* n : {u"v1", u"v2"}) {
    std::unique_ptr<RegValue> v;
    k->value(n, v);
    ASSERT_FALSE(v->write(std::uint32_t{1}, false));
  }
  std::unique_ptr<RegKey::KeyIterator> keys;
  k->subkeys(keys);
  std::set<std::u16string> seen;
  for (; keys->hasCurrent(); keys->advance()) {
    std::unique_ptr<RegKey> c;
    keys->takeCurrent(c);
    ASSERT_TRUE(c);
    std::u16string n;
    c->name(n);
    seen.insert(n);
    std::unique_ptr<RegKey> deeper;
    EXPECT_FALSE(c->createKey(u"deeper", deeper));  // writable like the parent
  }
  EXPECT_EQ(seen, (std::set<std::u16string>{u"k1", u"k2", u"k3"}));

  std::unique_ptr<RegKey::ValueIterator> values;
  k->values(values);
  seen.clear();
  for (; values->hasCurrent(); values->advance()) {
    std::unique_ptr<RegValue> v;
    values->takeCurrent(v);
    ASSERT_TRUE(v);
    std::u16string n;
    v->name(n);
    seen.insert(n);
  }
  EXPECT_EQ(seen, (std::set<std::u16string>{u"v1", u"v2"}));
  std::unique_ptr<RegValue> after;
  values->current(after);
  EXPECT_FALSE(after);

  std::unique_ptr<RegKey> gone;
  ASSERT_FALSE(root_->createKey(u"Gone", gone));
  ASSERT_FALSE(root_->deleteKey(u"Gone"));
  gone->values(values);  // its key no longer opens
  EXPECT_FALSE(values->hasCurrent());
  values->current(after);
  EXPECT_FALSE(after);
  gone->subkeys(keys);
  EXPECT_FALSE(keys->hasCurrent());
}

TEST_F(RegModel, ViewsOfTheEntryPoints) {
  std::unique_ptr<RegKey> k32, k64, native;
  ASSERT_FALSE(Common::openRegRoot(k32, HKEY_LOCAL_MACHINE, false, Common::View32));
  ASSERT_FALSE(Common::openRegRoot(k64, HKEY_LOCAL_MACHINE, false, Common::View64));
  ASSERT_FALSE(Common::openRegRoot(native, HKEY_LOCAL_MACHINE, false, Common::NativeView));
  std::unique_ptr<RegValue> v;
  k32->value(u"w", v);
  ASSERT_FALSE(v->write(std::uint32_t{32}, false));
  Data d;
  EXPECT_EQ(Common::readRegValue(*k64, u"w", d).code(), 0xBE0082u);
  EXPECT_EQ(Common::readRegValue(*native, u"w", d).code(), 0xBE0082u);  // the native view here is the 64-bit one
  ASSERT_FALSE(Common::readRegValue(*k32, u"w", d));
  EXPECT_TRUE(d == Data(std::uint32_t{32}));
}

TEST(RegText, JoinAndSplit) {
  EXPECT_EQ(Common::joinRegPath(u"", u"a"), u"a");
  EXPECT_EQ(Common::joinRegPath(u"p\\", u"a"), u"p\\a");
  EXPECT_EQ(Common::joinRegPath(u"p", u"a"), u"p\\a");
  EXPECT_EQ(Common::joinMultiString({u"a", u"b"}), std::u16string(u"a\0b\0", 4));
  EXPECT_EQ(Common::splitMultiString(std::u16string(u"\0a\0", 3)), std::vector<std::u16string>{});
}

}  // namespace
