#include "platform/win32/advapi32/registry.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/kernel32/handles.h"
#include "platform/win32/testing/test_world.h"

namespace {

std::u16string Wide(const char* s) {
  std::u16string w;
  for (; *s; ++s) w += static_cast<char16_t>(static_cast<unsigned char>(*s));  // 1252 below 0x80 and A0-FF
  return w;
}

class Registry : public win32_test::World {
 protected:
  HKEY make(const char16_t* path, REGSAM view = 0) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    return k;
  }
};

TEST_F(Registry, ValueTypesRoundTripWithWin32SizeRules) {
  HKEY k = make(u"Software\\Test");
  const BYTE sz[] = {'a', 0, 'b', 0, 0, 0};
  const BYTE multi[] = {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0};
  const BYTE dw[] = {0x78, 0x56, 0x34, 0x12};
  const BYTE qw[] = {1, 2, 3, 4, 5, 6, 7, 8};
  const BYTE bin[] = {0, 0xFF, 0x10};
  struct Case { const char16_t* name; DWORD type; const BYTE* data; DWORD size; } cases[] = {
      {u"s", REG_SZ, sz, sizeof sz},           {u"e", REG_EXPAND_SZ, sz, sizeof sz},
      {u"m", REG_MULTI_SZ, multi, sizeof multi}, {u"d", REG_DWORD, dw, sizeof dw},
      {u"q", REG_QWORD, qw, sizeof qw},        {u"b", REG_BINARY, bin, sizeof bin},
      {u"", REG_SZ, sz, sizeof sz},            {u"empty", REG_BINARY, nullptr, 0},
  };
  for (const auto& c : cases) ASSERT_EQ(RegSetValueExW(k, c.name, 0, c.type, c.data, c.size), ERROR_SUCCESS) << c.type;
  for (const auto& c : cases) {
    DWORD type = 99, size = 0;
    ASSERT_EQ(RegQueryValueExW(k, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.size);
    if (c.size) {
      BYTE small[1];
      DWORD one = c.size - 1;
      EXPECT_EQ(RegQueryValueExW(k, c.name, nullptr, nullptr, small, &one), c.size > 1 ? ERROR_MORE_DATA : ERROR_SUCCESS);
      if (c.size > 1) {
        EXPECT_EQ(one, c.size);
      }
    }
    std::vector<BYTE> buf(c.size + 4, 0xCC);
    size = static_cast<DWORD>(buf.size());
    ASSERT_EQ(RegQueryValueExW(k, c.name, nullptr, nullptr, buf.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, c.size);
    if (c.size) {
      EXPECT_EQ(std::memcmp(buf.data(), c.data, c.size), 0);
    }
  }
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(k, u"S", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);  // names ignore case
  EXPECT_EQ(RegQueryValueExW(k, u"missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(k, u"s"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(k, u"s"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(k);
}

TEST_F(Registry, ViewsAreSeparateForMachineButSharedForUser) {
  HKEY k = make(u"Software\\V", KEY_WOW64_32KEY);
  RegCloseKey(k);
  HKEY o = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\v", 0, KEY_READ | KEY_WOW64_32KEY, &o), ERROR_SUCCESS);
  RegCloseKey(o);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\V", 0, KEY_READ | KEY_WOW64_64KEY, &o), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\V", 0, KEY_READ, &o), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, u"Software\\V", KEY_WOW64_64KEY, 0), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, u"Software\\V", KEY_WOW64_32KEY, 0), ERROR_SUCCESS);

  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"U", 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &k,
                            nullptr), ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"U", 0, KEY_READ | KEY_WOW64_64KEY, &o), ERROR_SUCCESS);
  RegCloseKey(o);
}

TEST_F(Registry, EnumerationAndInfo) {
  HKEY k = make(u"E");
  for (auto n : {u"b", u"A", u"c"}) RegCloseKey(make((std::u16string(u"E\\") + n).c_str()));
  const BYTE d[4] = {};
  RegSetValueExW(k, u"long name", 0, REG_DWORD, d, 4);
  std::set<std::u16string> seen;
  char16_t name[64];
  DWORD i = 0, n = 64;
  for (; RegEnumKeyExW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i, n = 64) {
    EXPECT_EQ(n, std::char_traits<char16_t>::length(name));
    seen.insert(name);
  }
  EXPECT_EQ(seen, (std::set<std::u16string>{u"A", u"b", u"c"}));
  n = 64;
  EXPECT_EQ(RegEnumKeyExW(k, 3, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  n = 1;
  EXPECT_EQ(RegEnumKeyExW(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  DWORD type = 0, size = 0;
  n = 64;
  ASSERT_EQ(RegEnumValueW(k, 0, name, &n, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"long name");
  EXPECT_EQ(n, 9u);
  EXPECT_EQ(type, DWORD{REG_DWORD});
  EXPECT_EQ(size, 4u);
  n = 9;  // no room for the terminator
  EXPECT_EQ(RegEnumValueW(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  n = 64;
  EXPECT_EQ(RegEnumValueW(k, 1, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  DWORD subs = 0, maxSub = 0, vals = 0, maxName = 0, maxVal = 0;
  ASSERT_EQ(RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subs, &maxSub, nullptr, &vals, &maxName, &maxVal, nullptr,
                             nullptr), ERROR_SUCCESS);
  EXPECT_EQ(subs, 3u);
  EXPECT_EQ(maxSub, 1u);
  EXPECT_EQ(vals, 1u);
  EXPECT_EQ(maxName, 9u);
  EXPECT_EQ(maxVal, 4u);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"E"), ERROR_ACCESS_DENIED);  // has subkeys
  RegCloseKey(k);
}

// Value names are kept unit for unit, whatever UTF-16 they hold: U+FFFF,
// U+FFFE and lone surrogates once came back as U+FFFD, and a leading U+FEFF
// was dropped, so that "\uFEFFx" and "x" were one value.
TEST_F(Registry, ValueNamesRoundTripWhateverUnitsTheyHold) {
  HKEY k = make(u"Names");
  const std::u16string names[] = {
      u"x", u"\uFEFFx", u"\uFEFF", u"\uFFFF", u"\uFFFE", u"a\uFFFFb", std::u16string(1, u'\xD800'),
      std::u16string(u"a") + u'\xDC00', std::u16string(1, u'\xDBFF') + u'\xD800', u"\U0001F600xyz", u"\u00E9t\u00E9",
      u"\uFFFD",
  };
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const DWORD v = static_cast<DWORD>(i);
    ASSERT_EQ(RegSetValueExW(k, names[i].c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS)
        << i;
  }
  std::set<std::u16string> seen;
  char16_t name[64];
  DWORD n = 64;
  for (DWORD i = 0; RegEnumValueW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i, n = 64) {
    const std::u16string got(name, n);
    seen.insert(got);
    DWORD v = 99, size = 4;
    EXPECT_EQ(RegQueryValueExW(k, got.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
    ASSERT_LT(v, std::size(names));
    EXPECT_EQ(names[v], got) << v;
  }
  EXPECT_EQ(seen, std::set<std::u16string>(std::begin(names), std::end(names)));
  DWORD maxName = 0;
  ASSERT_EQ(RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(maxName, 5u);  // the face and "xyz": five units
  EXPECT_EQ(RegDeleteValueW(k, u"\uFEFFx"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(k, u"x", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  RegCloseKey(k);
}

// A store written before names were kept exactly (through the store's own
// UTF-16 binding) still reads and matches.
TEST_F(Registry, OlderStoresKeepTheirNames) {
  HKEY k = make(u"Old");
  ASSERT_EQ(RegSetValueExW(k, u"probe", 0, REG_SZ, reinterpret_cast<const BYTE*>(u""), 2), ERROR_SUCCESS);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(win32::registry_path().c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 10000);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "INSERT INTO vals(key, lname, name, type, data) SELECT key, ?1, ?2, 4, x'07000000' "
                               "FROM vals WHERE name='probe'",
                               -1, &st, nullptr),
            SQLITE_OK);
  const std::u16string lower = u"caf\u00E9 \U0001F600", upper = u"CAF\u00C9 \U0001F600";
  sqlite3_bind_text16(st, 1, lower.data(), static_cast<int>(lower.size() * 2), SQLITE_TRANSIENT);
  sqlite3_bind_text16(st, 2, upper.data(), static_cast<int>(upper.size() * 2), SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
  sqlite3_finalize(st);
  sqlite3_close(db);
  DWORD v = 0, size = 4;
  EXPECT_EQ(RegQueryValueExW(k, u"Caf\u00E9 \U0001F600", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(v, 7u);
  std::set<std::u16string> seen;
  char16_t name[64];
  DWORD n = 64;
  for (DWORD i = 0; RegEnumValueW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i, n = 64)
    seen.insert(std::u16string(name, n));
  EXPECT_EQ(seen, (std::set<std::u16string>{u"probe", upper}));
  RegCloseKey(k);
}

TEST_F(Registry, ForgedClosedAndForeignHandlesAreInvalid) {
  HKEY k = make(u"H");
  ASSERT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  const BYTE d[4] = {};
  DWORD size = 4, n = 8;
  WCHAR name[8];
  HKEY closed = k, forged = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x7fff1230)),
       odd = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x13)), foreign = reinterpret_cast<HKEY>(event);
  for (HKEY bad : {closed, forged, odd, foreign, HKEY{}}) {
    HKEY out = nullptr;
    EXPECT_EQ(RegOpenKeyExW(bad, u"x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExW(bad, u"x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExW(bad, u"v", 0, REG_DWORD, d, 4), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(bad, u"v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumKeyExW(bad, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueW(bad, u"v"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
  }
  EXPECT_TRUE(CloseHandle(event));  // the event was not closed as a key
}

TEST_F(Registry, KeysLeaveNoHandlesBehind) {
  std::size_t before = win32::handle_count();
  HKEY k = make(u"L");
  HKEY sub = nullptr;
  ASSERT_EQ(RegOpenKeyExW(k, u"", 0, KEY_READ, &sub), ERROR_SUCCESS);
  EXPECT_EQ(win32::handle_count(), before + 2);
  RegCloseKey(sub);
  RegCloseKey(k);
  EXPECT_EQ(win32::handle_count(), before);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // predefined keys stay
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"L", 0, KEY_READ, &sub), ERROR_SUCCESS);
  RegCloseKey(sub);
}

// String data crosses in code page 1252: sizes count ANSI bytes.
TEST_F(Registry, AnsiFormsConvertNamesAndStringData) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Soft\xE9", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  HKEY w = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Soft\u00E9", 0, KEY_READ, &w), ERROR_SUCCESS);
  struct Case {
    const char* name;
    DWORD type;
    std::string ansi;       // written through the ANSI form
    std::u16string stored;  // what the wide form then reads
    std::optional<std::string> read;  // what the ANSI form reads, when not `ansi`
  } cases[] = {
      {"caf\xE9", REG_SZ, std::string("caf\xE9\0", 5), std::u16string(u"caf\u00E9\0", 5), {}},
      {"e", REG_EXPAND_SZ, std::string("%X%\0", 4), std::u16string(u"%X%\0", 4), {}},
      {"m", REG_MULTI_SZ, std::string("a\0\x80\0\0", 5), std::u16string(u"a\0\u20AC\0\0", 5), {}},
      // Windows stores text given without its terminator with one.
      {"no terminator", REG_SZ, "ab", std::u16string(u"ab\0", 3), std::string("ab\0", 3)},
      {"empty", REG_SZ, "", u"", {}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(RegSetValueExA(k, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.ansi.data()),
                             static_cast<DWORD>(c.ansi.size())), ERROR_SUCCESS) << c.name;
    std::vector<BYTE> raw(64);
    DWORD type = 0, size = static_cast<DWORD>(raw.size());
    std::u16string name = Wide(c.name);
    ASSERT_EQ(RegQueryValueExW(w, name.c_str(), nullptr, &type, raw.data(), &size), ERROR_SUCCESS) << c.name;
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(raw.data()), size / 2), c.stored) << c.name;
    // Size query, exact read, short read.
    const std::string& read = c.read ? *c.read : c.ansi;
    size = 0;
    ASSERT_EQ(RegQueryValueExA(k, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, read.size()) << c.name;
    std::string back(read.size() + 3, '#');
    size = static_cast<DWORD>(read.size());
    ASSERT_EQ(RegQueryValueExA(k, c.name, nullptr, nullptr, reinterpret_cast<BYTE*>(back.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(back, read + "###") << c.name;
    if (!read.empty()) {
      size = static_cast<DWORD>(read.size() - 1);
      EXPECT_EQ(RegQueryValueExA(k, c.name, nullptr, nullptr, reinterpret_cast<BYTE*>(back.data()), &size),
                ERROR_MORE_DATA);
      EXPECT_EQ(size, read.size());
    }
  }
  // Wide text without an ANSI form reads as '?'; other types pass unchanged.
  const char16_t han[] = u"\u4E2Dx";
  RegSetValueExW(k, u"han", 0, REG_SZ, reinterpret_cast<const BYTE*>(han), sizeof han);
  char text[8] = {};
  DWORD size = sizeof text;
  ASSERT_EQ(RegQueryValueExA(k, "han", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(text, size), std::string("?x\0", 3));
  const BYTE dw[] = {1, 2, 3, 4};
  ASSERT_EQ(RegSetValueExA(k, "d", 0, REG_DWORD, dw, 4), ERROR_SUCCESS);
  DWORD v = 0;
  size = 4;
  ASSERT_EQ(RegQueryValueExA(k, "D", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(v, 0x04030201u);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(RegQueryValueExA(k, "missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(w);
  RegCloseKey(k);
}

TEST_F(Registry, AnsiEnumerationAndDeletion) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Enum", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyExW(k, u"\u00C4rger", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_SUCCESS);
  RegCloseKey(sub);
  char name[16];
  DWORD n = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), "\xC4rger");
  EXPECT_EQ(n, 5u);
  n = 5;  // no room for the terminator
  EXPECT_EQ(RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  n = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(k, 1, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  const char16_t text[] = u"\u00FCber";
  ASSERT_EQ(RegSetValueExW(k, u"gr\u00FC\u00DF", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  BYTE data[16];
  DWORD type = 0, size = sizeof data;
  n = sizeof name;
  ASSERT_EQ(RegEnumValueA(k, 0, name, &n, nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name), "gr\xFC\xDF");
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("\xFC" "ber\0", 5));
  size = 4;
  n = sizeof name;
  EXPECT_EQ(RegEnumValueA(k, 0, name, &n, nullptr, nullptr, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);

  DWORD subs = 0, vals = 0;
  ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subs, nullptr, nullptr, &vals, nullptr, nullptr, nullptr,
                             nullptr), ERROR_SUCCESS);
  EXPECT_EQ(subs, 1u);
  EXPECT_EQ(vals, 1u);
  EXPECT_EQ(RegDeleteValueA(k, "GR\xDC\xDF"), ERROR_SUCCESS);  // names ignore case in 1252 too
  EXPECT_EQ(RegDeleteKeyA(k, "\xE4rger"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyExA(HKEY_CURRENT_USER, "Enum", KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Enum", 0, KEY_READ, &sub), ERROR_FILE_NOT_FOUND);
  RegCloseKey(k);
}

TEST_F(Registry, ProtectedKeyRefusesWrites) {
  RegCloseKey(make(u"P\\Inner"));
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"P", 0, true), ERROR_SUCCESS);
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"P", 0, KEY_WRITE, &k), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"P", 0, KEY_READ, &k), ERROR_SUCCESS);
  const BYTE d[4] = {};
  EXPECT_EQ(RegSetValueExW(k, u"x", 0, REG_DWORD, d, 4), ERROR_ACCESS_DENIED);
  RegCloseKey(k);
  HKEY c = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"P\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &c, nullptr),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"P\\Inner", 0, true), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"P\\Inner"), ERROR_ACCESS_DENIED);
}

TEST_F(Registry, HandleOfADeletedKeyWritesNowhere) {
  HKEY k = make(u"Gone");
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Gone"), ERROR_SUCCESS);
  const BYTE d[4] = {9, 0, 0, 0};
  EXPECT_EQ(RegSetValueExW(k, u"v", 0, REG_DWORD, d, 4), ERROR_KEY_DELETED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyExW(k, u"s", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_KEY_DELETED);
  HKEY again = make(u"Gone");  // a new key of the same name holds nothing of the old handle's
  DWORD vals = 9, subs = 9;
  ASSERT_EQ(RegQueryInfoKeyW(again, nullptr, nullptr, nullptr, &subs, nullptr, nullptr, &vals, nullptr, nullptr,
                             nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(vals, 0u);
  EXPECT_EQ(subs, 0u);
  RegCloseKey(again);
  RegCloseKey(k);
}

// A read-only key's owner may give itself write access again through a new
// DACL; a sealed key (owned by another) refuses the DACL and the owner change.
TEST_F(Registry, KeySecurityLiftsReadOnlyButNotSealed) {
  RegCloseKey(make(u"Sec\\ReadOnly"));
  RegCloseKey(make(u"Sec\\Sealed"));
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"Sec\\ReadOnly", 0, win32::kRegistryReadOnly), ERROR_SUCCESS);
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"Sec\\Sealed", 0, win32::kRegistrySealed), ERROR_SUCCESS);

  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD need = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &need);
  std::vector<BYTE> user(need);
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(), need, &need));
  CloseHandle(token);
  PSID me = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  auto dacl_for = [&](DWORD rights) {
    EXPLICIT_ACCESS_W ea{};
    ea.grfAccessPermissions = rights;
    ea.grfAccessMode = SET_ACCESS;
    ea.grfInheritance = CONTAINER_INHERIT_ACE;
    ea.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    ea.Trustee.ptstrName = static_cast<LPWSTR>(me);
    PACL acl = nullptr;
    EXPECT_EQ(SetEntriesInAclW(1, &ea, nullptr, &acl), 0u);
    return acl;
  };

  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Sec\\ReadOnly", 0, WRITE_DAC | WRITE_OWNER, &k), ERROR_SUCCESS);
  EXPECT_EQ(SetSecurityInfo(k, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, me, nullptr, nullptr, nullptr), 0u);
  SECURITY_DESCRIPTOR sd{};
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  PACL readOnly = dacl_for(KEY_READ);
  SetSecurityDescriptorDacl(&sd, TRUE, readOnly, FALSE);
  EXPECT_EQ(RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
  HKEY w = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Sec\\ReadOnly", 0, KEY_WRITE, &w), ERROR_ACCESS_DENIED);
  PACL full = dacl_for(KEY_ALL_ACCESS);
  SetSecurityDescriptorDacl(&sd, TRUE, full, FALSE);
  EXPECT_EQ(RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Sec\\ReadOnly", 0, KEY_WRITE, &w), ERROR_SUCCESS);
  RegCloseKey(w);
  RegCloseKey(k);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Sec\\ReadOnly", 0, KEY_READ, &k), ERROR_SUCCESS);
  EXPECT_EQ(RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, &sd), ERROR_ACCESS_DENIED);  // no WRITE_DAC
  RegCloseKey(k);

  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Sec\\Sealed", 0, WRITE_DAC, &k), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Sec\\Sealed", 0, WRITE_OWNER, &k), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Sec\\Sealed", 0, KEY_READ, &k), ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Sec\\Sealed"), ERROR_ACCESS_DENIED);
  LocalFree(readOnly);
  LocalFree(full);
}

TEST_F(Registry, TwoProcessesSeeEachOthersWrites) {
  HKEY k = make(u"Shared");
  pid_t pid = ::fork();
  if (pid == 0) {
    HKEY c = nullptr;
    const BYTE d[4] = {7, 0, 0, 0};
    bool ok = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Shared", 0, KEY_ALL_ACCESS, &c) == ERROR_SUCCESS &&
              RegSetValueExW(c, u"child", 0, REG_DWORD, d, 4) == ERROR_SUCCESS;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  DWORD v = 0, size = 4;
  ASSERT_EQ(RegQueryValueExW(k, u"child", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(v, 7u);
  RegCloseKey(k);
}

TEST_F(Registry, AcknowledgedWritesSurviveKillOfTheWriter) {
  RegCloseKey(make(u"Crash"));
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    HKEY c = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Crash", 0, KEY_ALL_ACCESS, &c) != ERROR_SUCCESS) ::_exit(1);
    for (DWORD i = 0;; ++i) {
      std::u16string name = u"v";
      for (char ch : std::to_string(i)) name += static_cast<char16_t>(ch);
      if (RegSetValueExW(c, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&i), 4) != ERROR_SUCCESS) ::_exit(2);
      if (::write(fds[1], &i, 4) != 4) ::_exit(3);
    }
  }
  ::close(fds[1]);
  DWORD last = 0, got = 0;
  bool any = false;
  while (!(any && last >= 50) && ::read(fds[0], &got, 4) == 4) last = got, any = true;
  ::kill(pid, SIGKILL);
  while (::read(fds[0], &got, 4) == 4) last = got;  // acknowledged before it died
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  ASSERT_TRUE(any);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Crash", 0, KEY_READ, &k), ERROR_SUCCESS);
  for (DWORD i = 0; i <= last; ++i) {
    std::u16string name = u"v";
    for (char ch : std::to_string(i)) name += static_cast<char16_t>(ch);
    DWORD v = 0, size = 4;
    ASSERT_EQ(RegQueryValueExW(k, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS)
        << i;
    EXPECT_EQ(v, i);
  }
  RegCloseKey(k);
}

}  // namespace

namespace {

std::vector<std::u16string> value_names(HKEY k) {
  std::vector<std::u16string> out;
  char16_t name[300];
  DWORD n = 300;
  for (DWORD i = 0; RegEnumValueW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i, n = 300)
    out.emplace_back(name, n);
  return out;
}

DWORD stored_size(HKEY k, const char16_t* name) {
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(k, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  return size;
}

}  // namespace

// Text set without its terminator reads back with it, as Windows adds it.
TEST_F(Registry, TextWithoutTerminatorIsStoredWithOne) {
  HKEY k = make(u"Terminators");
  struct Row {
    const char16_t* name;
    DWORD type;
    std::u16string data;  // given with exactly these units
    DWORD read_size;      // what Windows then reports
  } rows[] = {
      {u"sz", REG_SZ, u"ab", 6},
      {u"sz with", REG_SZ, std::u16string(u"ab\0", 3), 6},
      {u"expand", REG_EXPAND_SZ, u"%X%", 8},
      {u"multi", REG_MULTI_SZ, std::u16string(u"a\0b", 3), 8},
      {u"multi with", REG_MULTI_SZ, std::u16string(u"a\0b\0\0", 5), 10},
      {u"binary", REG_BINARY, u"ab", 4},  // other types are kept as given
  };
  for (const Row& r : rows) {
    ASSERT_EQ(RegSetValueExW(k, r.name, 0, r.type, reinterpret_cast<const BYTE*>(r.data.data()),
                             static_cast<DWORD>(r.data.size() * 2)), ERROR_SUCCESS);
    EXPECT_EQ(stored_size(k, r.name), r.read_size) << r.type;
  }
  char16_t text[8] = {u'#', u'#', u'#', u'#'};
  DWORD size = sizeof text;
  ASSERT_EQ(RegQueryValueExW(k, u"sz", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(text, 3), std::u16string(u"ab\0", 3));
  RegCloseKey(k);
}

// Setting a value again under another case keeps the stored spelling and the
// value's place; values enumerate in the order they were made.
TEST_F(Registry, ValuesKeepSpellingAndCreationOrder) {
  HKEY k = make(u"Order");
  const DWORD one = 1, two = 2;
  for (auto n : {u"zeta", u"MixedCase", u"alpha", u"Beta"})
    ASSERT_EQ(RegSetValueExW(k, n, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);
  EXPECT_EQ(value_names(k), (std::vector<std::u16string>{u"zeta", u"MixedCase", u"alpha", u"Beta"}));
  ASSERT_EQ(RegSetValueExW(k, u"MIXEDCASE", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4), ERROR_SUCCESS);
  EXPECT_EQ(value_names(k), (std::vector<std::u16string>{u"zeta", u"MixedCase", u"alpha", u"Beta"}));
  DWORD v = 0, size = 4;
  ASSERT_EQ(RegQueryValueExW(k, u"mixedcase", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(v, 2u);
  // Deleted and made again, a value goes to the end.
  ASSERT_EQ(RegDeleteValueW(k, u"zeta"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(k, u"Zeta", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_SUCCESS);
  EXPECT_EQ(value_names(k), (std::vector<std::u16string>{u"MixedCase", u"alpha", u"Beta", u"Zeta"}));
  RegCloseKey(k);
}

// A store written before values kept their order opens, keeps its values
// (first, by name) and puts new ones after them.
TEST_F(Registry, StoresWithoutValueOrderStillOpen) {
  const std::string path = win32::registry_path();
  ::unlink(path.c_str());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, lname TEXT NOT "
                         "NULL, name TEXT NOT NULL, protected INTEGER NOT NULL DEFAULT 0, UNIQUE(parent, lname));"
                         "CREATE TABLE vals(key INTEGER NOT NULL, lname TEXT NOT NULL, name TEXT NOT NULL,"
                         " type INTEGER NOT NULL, data BLOB, PRIMARY KEY(key, lname)) WITHOUT ROWID;"
                         "INSERT INTO keys(id, parent, lname, name) VALUES"
                         " (1,0,'hklm64','HKEY_LOCAL_MACHINE'),(2,0,'hklm32','HKEY_LOCAL_MACHINE'),"
                         " (3,0,'hkcu','HKEY_CURRENT_USER'),(4,0,'hkcr64','HKEY_CLASSES_ROOT'),"
                         " (5,0,'hkcr32','HKEY_CLASSES_ROOT'),(6,1,'old','Old');"
                         "INSERT INTO vals VALUES (6,'b','B',4,x'02000000'),(6,'a','A',4,x'01000000');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Old", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  const DWORD three = 3;
  ASSERT_EQ(RegSetValueExW(k, u"0", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&three), 4), ERROR_SUCCESS);
  EXPECT_EQ(value_names(k), (std::vector<std::u16string>{u"A", u"B", u"0"}));
  DWORD v = 0, size = 4;
  ASSERT_EQ(RegQueryValueExW(k, u"b", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(v, 2u);
  RegCloseKey(k);
}

TEST_F(Registry, KeyPathsAndNameLengths) {
  const std::u16string longest(255, u'k'), too_long(256, u'k');
  struct Row {
    std::u16string path;
    LONG create;  // RegCreateKeyExW's answer
    LONG open;    // RegOpenKeyExW's answer afterwards
  } rows[] = {
      {u"\\Lead", ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {u"Paths\\" + longest, ERROR_SUCCESS, ERROR_SUCCESS},
      {u"Paths\\" + too_long, ERROR_INVALID_PARAMETER, ERROR_FILE_NOT_FOUND},
      {u"Paths\\" + too_long + u"\\x", ERROR_INVALID_PARAMETER, ERROR_FILE_NOT_FOUND},
      {u"Paths\\trailing\\", ERROR_SUCCESS, ERROR_SUCCESS},
  };
  for (const Row& r : rows) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, r.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              r.create) << r.path.size();
    if (k) RegCloseKey(k);
    k = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, r.path.c_str(), 0, KEY_READ, &k), r.open) << r.path.size();
    if (k) RegCloseKey(k);
  }
}

TEST_F(Registry, GetValueFiltersTypesAndTerminatesText) {
  ASSERT_TRUE(SetEnvironmentVariableW(u"KV_REG_GET", u"there"));
  HKEY k = make(u"Get\\Sub");
  const DWORD dw = 0x11223344;
  const unsigned long long qw = 0x1122334455667788ull;
  const BYTE bin4[4] = {1, 2, 3, 4};
  const char16_t sz[] = u"text", ex[] = u"to %KV_REG_GET%";
  const char16_t multi[] = u"a\0b\0";  // with the array's own NUL: two at the end
  RegSetValueExW(k, u"dw", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw), 4);
  RegSetValueExW(k, u"qw", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&qw), 8);
  RegSetValueExW(k, u"bin4", 0, REG_BINARY, bin4, 4);
  RegSetValueExW(k, u"sz", 0, REG_SZ, reinterpret_cast<const BYTE*>(sz), sizeof sz);
  RegSetValueExW(k, u"ex", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(ex), sizeof ex);
  RegSetValueExW(k, u"multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi);
  RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(sz), sizeof sz);
  RegCloseKey(k);

  struct Row {
    const char16_t* value;
    DWORD flags;
    LONG rc;
    DWORD type;             // on success
    std::u16string text;    // string data on success (with terminators)
    DWORD size;             // on success
  } rows[] = {
      {u"dw", RRF_RT_REG_DWORD, ERROR_SUCCESS, REG_DWORD, u"", 4},
      {u"dw", RRF_RT_DWORD, ERROR_SUCCESS, REG_DWORD, u"", 4},
      {u"dw", RRF_RT_ANY, ERROR_SUCCESS, REG_DWORD, u"", 4},
      {u"dw", RRF_RT_REG_SZ, ERROR_UNSUPPORTED_TYPE, 0, u"", 0},
      {u"dw", RRF_RT_QWORD, ERROR_UNSUPPORTED_TYPE, 0, u"", 0},
      {u"qw", RRF_RT_QWORD, ERROR_SUCCESS, REG_QWORD, u"", 8},
      {u"bin4", RRF_RT_DWORD, ERROR_SUCCESS, REG_BINARY, u"", 4},
      {u"bin4", RRF_RT_REG_DWORD, ERROR_UNSUPPORTED_TYPE, 0, u"", 0},
      {u"sz", RRF_RT_REG_SZ, ERROR_SUCCESS, REG_SZ, std::u16string(u"text\0", 5), 10},
      {u"sz", RRF_RT_REG_MULTI_SZ, ERROR_UNSUPPORTED_TYPE, 0, u"", 0},
      {u"ex", RRF_RT_REG_SZ, ERROR_SUCCESS, REG_SZ, std::u16string(u"to there\0", 9), 18},
      {u"ex", RRF_RT_ANY, ERROR_SUCCESS, REG_SZ, std::u16string(u"to there\0", 9), 18},
      {u"ex", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, ERROR_SUCCESS, REG_EXPAND_SZ,
       std::u16string(u"to %KV_REG_GET%\0", 16), 32},
      {u"ex", RRF_RT_REG_SZ | RRF_NOEXPAND, ERROR_UNSUPPORTED_TYPE, 0, u"", 0},
      {u"ex", RRF_RT_REG_EXPAND_SZ, ERROR_INVALID_PARAMETER, 0, u"", 0},
      {u"multi", RRF_RT_REG_MULTI_SZ, ERROR_SUCCESS, REG_MULTI_SZ, std::u16string(u"a\0b\0\0", 5), 10},
      {u"missing", RRF_RT_ANY, ERROR_FILE_NOT_FOUND, 0, u"", 0},
      {nullptr, RRF_RT_REG_SZ, ERROR_SUCCESS, REG_SZ, std::u16string(u"text\0", 5), 10},
      {u"sz", 0, ERROR_INVALID_PARAMETER, 0, u"", 0},
  };
  for (const Row& r : rows) {
    const std::u16string what = r.value ? r.value : u"(default)";
    const std::string shown = std::string(what.begin(), what.end()) + " " + std::to_string(r.flags);
    BYTE buf[64];
    std::memset(buf, 0xCC, sizeof buf);
    DWORD type = 99, size = sizeof buf;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, u"Get\\Sub", r.value, r.flags, &type, buf, &size), r.rc) << shown;
    if (r.rc != ERROR_SUCCESS) continue;
    EXPECT_EQ(type, r.type) << shown;
    EXPECT_EQ(size, r.size) << shown;
    if (!r.text.empty()) {
      EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buf), size / 2), r.text) << shown;
    }
    // The size alone, then a buffer one byte short.
    DWORD asked = 0;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, u"Get\\Sub", r.value, r.flags, nullptr, nullptr, &asked),
              ERROR_SUCCESS) << shown;
    EXPECT_EQ(asked, r.size) << shown;
    asked = r.size - 1;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, u"Get\\Sub", r.value, r.flags, nullptr, buf, &asked), ERROR_MORE_DATA)
        << shown;
    EXPECT_EQ(asked, r.size) << shown;
  }
  // Through the key itself, without a subkey; a missing subkey is not found.
  HKEY sub = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Get\\Sub", 0, KEY_READ, &sub), ERROR_SUCCESS);
  DWORD v = 0, size = 4;
  EXPECT_EQ(RegGetValueW(sub, nullptr, u"dw", RRF_RT_REG_DWORD, nullptr, &v, &size), ERROR_SUCCESS);
  EXPECT_EQ(v, dw);
  EXPECT_EQ(RegGetValueW(sub, u"", u"dw", RRF_RT_REG_DWORD, nullptr, &v, &size), ERROR_SUCCESS);
  RegCloseKey(sub);
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, u"Get\\None", u"dw", RRF_RT_ANY, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  // RRF_ZEROONFAILURE clears the buffer a failing read was given.
  BYTE buf[4] = {9, 9, 9, 9};
  size = 3;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, u"Get\\Sub", u"dw", RRF_RT_ANY | RRF_ZEROONFAILURE, nullptr, buf, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(buf[0] | buf[1] | buf[2], 0);
  EXPECT_EQ(buf[3], 9);
  SetEnvironmentVariableW(u"KV_REG_GET", nullptr);
}

TEST_F(Registry, QueryValueReadsASubkeysDefaultText) {
  HKEY k = make(u"Legacy\\WithDefault");
  const char16_t hello[] = u"hello";
  RegSetValueExW(k, u"", 0, REG_SZ, reinterpret_cast<const BYTE*>(hello), sizeof hello);
  RegCloseKey(k);
  RegCloseKey(make(u"Legacy\\NoDefault"));
  k = make(u"Legacy\\Number");
  const DWORD one = 1;
  RegSetValueExW(k, nullptr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  RegCloseKey(k);

  char16_t text[16];
  LONG size = sizeof text;
  ASSERT_EQ(RegQueryValueW(HKEY_LOCAL_MACHINE, u"Legacy\\WithDefault", text, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 12);
  EXPECT_EQ(std::u16string(text), u"hello");
  size = 0;
  EXPECT_EQ(RegQueryValueW(HKEY_LOCAL_MACHINE, u"Legacy\\WithDefault", nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 12);
  size = 4;
  EXPECT_EQ(RegQueryValueW(HKEY_LOCAL_MACHINE, u"Legacy\\WithDefault", text, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 12);
  size = sizeof text;
  text[0] = u'#';
  ASSERT_EQ(RegQueryValueW(HKEY_LOCAL_MACHINE, u"Legacy\\NoDefault", text, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 2);
  EXPECT_EQ(text[0], u'\0');
  size = sizeof text;
  EXPECT_EQ(RegQueryValueW(HKEY_LOCAL_MACHINE, u"Legacy\\Missing", text, &size), ERROR_FILE_NOT_FOUND);
  size = sizeof text;
  EXPECT_EQ(RegQueryValueW(HKEY_LOCAL_MACHINE, u"Legacy\\Number", text, &size), ERROR_INVALID_DATA);
  // Without a subkey, the key's own default value.
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Legacy\\WithDefault", 0, KEY_READ, &k), ERROR_SUCCESS);
  size = sizeof text;
  ASSERT_EQ(RegQueryValueW(k, nullptr, text, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(text), u"hello");
  RegCloseKey(k);
}

TEST_F(Registry, DeleteTreeRemovesEverythingBelow) {
  const DWORD one = 1;
  for (auto p : {u"Tree\\a\\b\\c", u"Tree\\d", u"Keep\\x\\y"}) {
    HKEY k = make(p);
    RegSetValueExW(k, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    RegCloseKey(k);
  }
  HKEY tree = make(u"Tree");
  RegSetValueExW(tree, u"top", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  EXPECT_EQ(RegDeleteTreeW(tree, u"a"), ERROR_SUCCESS);
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExW(tree, u"a", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeW(tree, u"a"), ERROR_FILE_NOT_FOUND);
  // No subkey: the key stays, emptied.
  EXPECT_EQ(RegDeleteTreeW(tree, nullptr), ERROR_SUCCESS);
  DWORD subs = 9, vals = 9;
  ASSERT_EQ(RegQueryInfoKeyW(tree, nullptr, nullptr, nullptr, &subs, nullptr, nullptr, &vals, nullptr, nullptr, nullptr,
                             nullptr), ERROR_SUCCESS);
  EXPECT_EQ(subs, 0u);
  EXPECT_EQ(vals, 0u);
  RegCloseKey(tree);
  // A guarded key below refuses the deletion and nothing goes.
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"Keep\\x\\y", 0, win32::kRegistryReadOnly), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"Keep"), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Keep\\x", 0, KEY_READ, &k), ERROR_SUCCESS);
  RegCloseKey(k);
  ASSERT_EQ(win32::registry_protect(HKEY_LOCAL_MACHINE, u"Keep\\x\\y", 0, win32::kRegistryOpen), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"Keep"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Keep", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
}
