// Late-binding pieces of COM: ProgIDs, object and 16-bit variants, and the
// system folder among the special folders.
#include "platform/win32/oleaut32/oleauto.h"

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

namespace {

const CLSID kClass = {0x11112222, 0x3333, 0x4444, {0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC}};

TEST(OleAuto, ProgIdsAreFoundIgnoringCaseUntilUnregistered) {
  CLSID found;
  EXPECT_EQ(CLSIDFromProgID(u"Test.Thing.1", &found), CO_E_CLASSSTRING);
  win32::register_progid(u"Test.Thing.1", kClass);
  EXPECT_EQ(CLSIDFromProgID(u"TEST.thing.1", &found), S_OK);
  EXPECT_TRUE(IsEqualCLSID(found, kClass));
  win32::unregister_progid(u"test.thing.1");
  EXPECT_EQ(CLSIDFromProgID(u"Test.Thing.1", &found), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &found), E_INVALIDARG);
}

struct Counted : IUnknown {
  int refs = 1;
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
};

TEST(OleAuto, VariantsHoldObjectReferencesAndShortIntegers) {
  Counted object;
  VARIANT v, copy;
  VariantInit(&v);
  VariantInit(&copy);
  v.vt = VT_UNKNOWN;
  v.punkVal = &object;
  ASSERT_EQ(VariantChangeType(&copy, &v, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(object.refs, 2);
  EXPECT_EQ(VariantChangeType(&copy, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(object.refs, 0);

  struct Case {
    VARTYPE from;
    LONG value;
    VARTYPE to;
    HRESULT result;
    LONG back;
  } cases[] = {
      {VT_I2, -1033, VT_I4, S_OK, -1033},
      {VT_I4, 40000, VT_I2, DISP_E_OVERFLOW, 0},
      {VT_I4, -32768, VT_I2, S_OK, -32768},
      {VT_I4, 65535, VT_UI2, S_OK, 65535},
      {VT_I4, -1, VT_UI2, DISP_E_OVERFLOW, 0},
  };
  for (const Case& k : cases) {
    VARIANT in, out, wide;
    VariantInit(&in);
    VariantInit(&out);
    VariantInit(&wide);
    in.vt = k.from;
    if (k.from == VT_I2) in.iVal = static_cast<SHORT>(k.value);
    else in.lVal = k.value;
    EXPECT_EQ(VariantChangeType(&out, &in, 0, k.to), k.result) << k.value;
    if (k.result != S_OK) continue;
    ASSERT_EQ(VariantChangeType(&wide, &out, 0, VT_I4), S_OK);
    EXPECT_EQ(wide.lVal, k.back);
  }
}

class SpecialFolders : public win32_test::World {};

TEST_F(SpecialFolders, TheSystemFolderIsTheWorldsSystem32) {
  WCHAR path[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_SYSTEM, FALSE));
  EXPECT_EQ(std::u16string(path), u"C:\\Windows\\System32");
  EXPECT_NE(GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_WINDOWS, FALSE));
  EXPECT_EQ(std::u16string(path), u"C:\\Windows");
  EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, path, 0x7e, FALSE));
  EXPECT_EQ(path[0], 0);
}

}  // namespace
