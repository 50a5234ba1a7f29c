#include "platform/win32/ole32/com.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32/shell32/shobj.h"

namespace {

// Leaves the calling thread without COM, whatever a test left behind.
void uninitialize_all() {
  for (int i = 0; i < 64; ++i) CoUninitialize();
}

TEST(Com, ApartmentsCountPerThread) {
  uninitialize_all();
  int reserved = 0;
  EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);  // the refused call counted nothing
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);  // apartment on a multithreaded thread
  // Another thread has its own apartment, of its own model.
  HRESULT other[3] = {};
  std::thread([&] {
    other[0] = CoInitialize(nullptr);
    other[1] = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    other[2] = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | 0x4);  // extra flags keep the model
    CoUninitialize();
    CoUninitialize();
  }).join();
  EXPECT_EQ(other[0], S_OK);
  EXPECT_EQ(other[1], RPC_E_CHANGED_MODE);
  EXPECT_EQ(other[2], S_FALSE);
  // Two successful calls need two uninitialisations; the changed mode counted nothing.
  CoUninitialize();
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitialize(nullptr), S_OK);  // gone: a new model may start
  CoUninitialize();
  CoUninitialize();  // one too many does no harm
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

// A test class: counts its references.
struct Counted final : IUnknown {
  ULONG refs = 1;
  static int alive;
  Counted() { ++alive; }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!IsEqualIID(riid, IID_IUnknown)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = this;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    ULONG n = --refs;
    if (!n) {
      --alive;
      delete this;
    }
    return n;
  }
};
int Counted::alive = 0;

HRESULT make_counted(REFIID riid, void** object) {
  auto* c = new Counted;
  HRESULT hr = c->QueryInterface(riid, object);
  c->Release();
  return hr;
}

const CLSID kTestClass = {0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(Com, CreateInstanceAnswersWindowsCodes) {
  uninitialize_all();
  win32::register_class(kTestClass, &make_counted);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  struct Case {
    const CLSID* clsid;
    bool outer;
    DWORD context;
    const IID* iid;
    HRESULT result;
  } cases[] = {
      {&kTestClass, false, CLSCTX_INPROC_SERVER, &IID_IUnknown, S_OK},
      {&kTestClass, false, CLSCTX_INPROC_SERVER, &IID_IMalloc, E_NOINTERFACE},
      {&kTestClass, true, CLSCTX_INPROC_SERVER, &IID_IUnknown, CLASS_E_NOAGGREGATION},
      {&kTestClass, false, 0x4 /* local server */, &IID_IUnknown, REGDB_E_CLASSNOTREG},
      {&IID_IMalloc, false, CLSCTX_INPROC_SERVER, &IID_IUnknown, REGDB_E_CLASSNOTREG},
  };
  Counted outer;
  const int before = Counted::alive;
  for (const Case& k : cases) {
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(*k.clsid, k.outer ? &outer : nullptr, k.context, *k.iid, &object), k.result);
    if (SUCCEEDED(k.result)) {
      ASSERT_NE(object, nullptr);
      EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 0u);
    } else {
      EXPECT_EQ(object, nullptr);
    }
  }
  EXPECT_EQ(Counted::alive, before);  // every made object released
  win32::unregister_class(kTestClass);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  CoUninitialize();
}

// Fixed byte forms of the ids, as Windows spells them.
TEST(Com, InterfaceIdsAreWindowsValues) {
  auto text = [](const GUID& g) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return std::string(buf);
  };
  EXPECT_EQ(text(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
  EXPECT_EQ(text(IID_IMalloc), "{00000002-0000-0000-C000-000000000046}");
  EXPECT_EQ(text(IID_IShellFolder), "{000214E6-0000-0000-C000-000000000046}");
  EXPECT_EQ(text(IID_IShellFolder2), "{93F2F68C-1D1B-11D3-A30E-00C04F79ABD1}");
  EXPECT_EQ(text(IID_IEnumIDList), "{000214F2-0000-0000-C000-000000000046}");
  EXPECT_EQ(text(IID_IShellLinkW), "{000214F9-0000-0000-C000-000000000046}");
  EXPECT_EQ(text(IID_IShellLinkA), "{000214EE-0000-0000-C000-000000000046}");
  EXPECT_EQ(text(IID_IPersistFile), "{0000010B-0000-0000-C000-000000000046}");
  EXPECT_EQ(text(CLSID_ShellLink), "{00021401-0000-0000-C000-000000000046}");
}

TEST(Com, TaskAllocatorAndMalloc) {
  IMalloc* m = nullptr;
  EXPECT_EQ(CoGetMalloc(0, &m), E_INVALIDARG);
  ASSERT_EQ(CoGetMalloc(1, &m), S_OK);
  void* a = m->Alloc(10);
  ASSERT_NE(a, nullptr);
  std::memcpy(a, "0123456789", 10);
  EXPECT_EQ(m->GetSize(a), 10u);
  a = CoTaskMemRealloc(a, 100000);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(std::memcmp(a, "0123456789", 10), 0);
  EXPECT_EQ(m->GetSize(a), 100000u);
  m->Free(a);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(CoTaskMemRealloc(CoTaskMemAlloc(4), 0), nullptr);  // frees
  void* zero = CoTaskMemAlloc(0);
  EXPECT_NE(zero, nullptr);
  CoTaskMemFree(zero);
  m->Release();
}

TEST(Com, StringsAndByteArrays) {
  BSTR s = SysAllocString(u"abc");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(std::u16string(s), u"abc");
  SysFreeString(s);
  BSTR z = SysAllocStringLen(u"a\0b", 3);  // embedded zero kept
  EXPECT_EQ(SysStringLen(z), 3u);
  EXPECT_EQ(z[2], u'b');
  EXPECT_EQ(z[3], 0);
  SysFreeString(z);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);

  EXPECT_EQ(SafeArrayCreateVector(VT_I4, 0, 4), nullptr);  // only bytes
  SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, 5);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->cDims, 1);
  EXPECT_EQ(a->cbElements, 1u);
  EXPECT_EQ(a->rgsabound[0].cElements, 5u);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
  EXPECT_EQ(std::memcmp(data, "\0\0\0\0\0", 5), 0);  // zeroed
  EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(a), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(a), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

VARIANT make(VARTYPE vt, LONGLONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  switch (vt) {
    case VT_I4: v.lVal = static_cast<LONG>(value); break;
    case VT_UI4: v.ulVal = static_cast<ULONG>(value); break;
    case VT_I8: v.llVal = value; break;
    case VT_UI8: v.ullVal = static_cast<ULONGLONG>(value); break;
    case VT_UI1: v.bVal = static_cast<BYTE>(value); break;
    case VT_BOOL: v.boolVal = static_cast<VARIANT_BOOL>(value); break;
    default: break;
  }
  return v;
}

VARIANT text(const char16_t* s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

TEST(Com, ChangeTypeBetweenNumbersAndText) {
  // Numbers to decimal text.
  struct ToText {
    VARTYPE vt;
    LONGLONG value;
    const char16_t* text;
  } to_text[] = {
      {VT_I4, -2147483647 - 1, u"-2147483648"},
      {VT_UI4, 4294967295LL, u"4294967295"},
      {VT_I8, -1, u"-1"},
      {VT_UI8, static_cast<LONGLONG>(18446744073709551615ull), u"18446744073709551615"},
      {VT_UI1, 255, u"255"},
      {VT_UI8, 0, u"0"},
  };
  for (const ToText& k : to_text) {
    VARIANT v = make(k.vt, k.value);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);  // in place
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(v.bstrVal), k.text);
    VariantClear(&v);
  }
  // Text to numbers.
  struct FromText {
    const char16_t* text;
    VARTYPE vt;
    HRESULT result;
    ULONGLONG value;
  } from_text[] = {
      {u"18446744073709551615", VT_UI8, S_OK, 18446744073709551615ull},
      {u"18446744073709551616", VT_UI8, DISP_E_OVERFLOW, 0},
      {u" 42 ", VT_I4, S_OK, 42},
      {u"-5", VT_UI4, DISP_E_OVERFLOW, 0},
      {u"-0", VT_UI4, S_OK, 0},
      {u"256", VT_UI1, DISP_E_OVERFLOW, 0},
      {u"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
      {u"-2147483648", VT_I4, S_OK, static_cast<ULONGLONG>(-2147483648LL)},
      {u"12x", VT_I8, DISP_E_TYPEMISMATCH, 0},
      {u"", VT_I8, DISP_E_TYPEMISMATCH, 0},
      {u"-", VT_I8, DISP_E_TYPEMISMATCH, 0},
  };
  for (const FromText& k : from_text) {
    VARIANT source = text(k.text);
    VARIANT dest;
    VariantInit(&dest);
    EXPECT_EQ(VariantChangeType(&dest, &source, 0, k.vt), k.result) << std::string(k.text, k.text + 3);
    if (k.result == S_OK) {
      EXPECT_EQ(dest.vt, k.vt);
      ULONGLONG got = k.vt == VT_UI8 ? dest.ullVal : k.vt == VT_I4 ? static_cast<ULONGLONG>(LONGLONG(dest.lVal))
                                                  : k.vt == VT_UI4 ? dest.ulVal
                                                                   : static_cast<ULONGLONG>(dest.llVal);
      EXPECT_EQ(got, k.value);
    } else {
      EXPECT_EQ(dest.vt, VT_EMPTY);  // untouched
    }
    VariantClear(&source);
    VariantClear(&dest);
  }
  // Between integer kinds, with range checks.
  VARIANT v = make(VT_I8, 300), out;
  VariantInit(&out);
  EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_UI1), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_UI4), S_OK);
  EXPECT_EQ(out.ulVal, 300u);
  v = make(VT_I4, -1);
  EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_UI8), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_BOOL), S_OK);
  EXPECT_EQ(out.boolVal, -1);
  // Empty is zero or empty text; null converts to nothing.
  VariantInit(&v);
  EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 0);
  v.vt = VT_NULL;
  EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
}

TEST(Com, ChangeTypeOfByteArrays) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = SafeArrayCreateVector(VT_UI1, 0, 4);
  std::memcpy(v.parray->pvData, "a\0b\0", 4);
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantChangeType(&copy, &v, 0, VT_ARRAY | VT_UI1), S_OK);
  ASSERT_NE(copy.parray, v.parray);  // a copy of its own
  EXPECT_EQ(std::memcmp(copy.parray->pvData, "a\0b\0", 4), 0);
  ASSERT_EQ(VariantChangeType(&copy, &copy, 0, VT_BSTR), S_OK);  // the bytes become the text
  EXPECT_EQ(std::u16string(copy.bstrVal, SysStringLen(copy.bstrVal)), u"ab");
  ASSERT_EQ(VariantChangeType(&copy, &copy, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_EQ(copy.parray->rgsabound[0].cElements, 4u);
  EXPECT_EQ(VariantChangeType(&copy, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&copy);
  VariantClear(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(Com, RaisedExceptionsCarryTheirCode) {
  DWORD code = 0;
  try {
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  } catch (const win32::structured_exception& e) {
    code = e.code;
  }
  EXPECT_EQ(code, 0xC0000005u);
  EXPECT_TRUE(FAILED(static_cast<HRESULT>(code)));
}

}  // namespace
