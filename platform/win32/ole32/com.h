// COM as the layer serves it: apartments per thread, the task allocator,
// in-process class objects by class id, BSTR, VARIANT and byte SAFEARRAYs,
// and structured exceptions.
//
// Interfaces are plain C++ abstract classes with the Win32 method order; every
// object is in-process, so no marshalling exists.
#pragma once

#include "platform/win32/layer/types.h"

using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPOLESTR = WCHAR*;
using LPCOLESTR = const WCHAR*;
using BSTR = WCHAR*;
using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;

inline bool IsEqualGUID(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         a.Data4[0] == b.Data4[0] && a.Data4[1] == b.Data4[1] && a.Data4[2] == b.Data4[2] &&
         a.Data4[3] == b.Data4[3] && a.Data4[4] == b.Data4[4] && a.Data4[5] == b.Data4[5] &&
         a.Data4[6] == b.Data4[6] && a.Data4[7] == b.Data4[7];
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005L)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000AL)
#define E_ACCESSDENIED ((HRESULT)0x80070005L)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000DL)
#ifndef E_UNEXPECTED
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#endif

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define CLSCTX_INPROC_SERVER 0x1

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IMalloc : IUnknown {
  virtual void* Alloc(SIZE_T size) = 0;
  virtual void* Realloc(void* block, SIZE_T size) = 0;
  virtual void Free(void* block) = 0;
  virtual SIZE_T GetSize(void* block) = 0;
  virtual int DidAlloc(void* block) = 0;
  virtual void HeapMinimize() = 0;

 protected:
  ~IMalloc() = default;
};

extern const IID IID_IUnknown;
extern const IID IID_IMalloc;

// Per thread: the first call on a thread answers S_OK, later ones S_FALSE; a
// call with another threading model than the thread's answers
// RPC_E_CHANGED_MODE. Every successful call needs one CoUninitialize.
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
// Classes the layer (or a test, through win32::register_class) serves. On a
// thread without COM: CO_E_NOTINITIALIZED. Unknown class: REGDB_E_CLASSNOTREG.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);
void* CoTaskMemAlloc(SIZE_T size);
void* CoTaskMemRealloc(void* block, SIZE_T size);
void CoTaskMemFree(void* block);
HRESULT CoGetMalloc(DWORD context, IMalloc** malloc);

BSTR SysAllocString(const WCHAR* text);
BSTR SysAllocStringLen(const WCHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

#define VT_EMPTY 0
#define VT_NULL 1
#define VT_I2 2
#define VT_I4 3
#define VT_BSTR 8
#define VT_DISPATCH 9
#define VT_BOOL 11
#define VT_UNKNOWN 13
#define VT_UI2 18
#define VT_UI1 17
#define VT_UI4 19
#define VT_I8 20
#define VT_UI8 21
#define VT_ARRAY 0x2000

struct IDispatch;  // oleauto.h

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    ULONGLONG ullVal;
    LONG lVal;
    ULONG ulVal;
    BYTE bVal;
    VARIANT_BOOL boolVal;
    SHORT iVal;
    USHORT uiVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;  // the same object as punkVal: IDispatch derives from IUnknown first
    BSTR bstrVal;
    SAFEARRAY* parray;
  };
};

// One-dimensional arrays of VT_UI1 are all the layer makes.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG elements);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);

void VariantInit(VARIANT* value);
HRESULT VariantClear(VARIANT* value);
// The conversions between the integer kinds, VT_BSTR (decimal text) and
// VT_ARRAY | VT_UI1, and an object kind to itself (a new reference); others
// give DISP_E_TYPEMISMATCH. `dest` may be `source`. VariantClear releases an
// object's reference.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, USHORT flags, VARTYPE vt);

// Structured exceptions. RaiseException throws win32::structured_exception,
// so that a handler on the way up (a guarded call) receives its code; without
// a handler the process ends as on Windows.
#define EXCEPTION_ACCESS_VIOLATION 0xC0000005L
#define EXCEPTION_NONCONTINUABLE 0x1
void RaiseException(DWORD code, DWORD flags, DWORD argument_count, const ULONG_PTR* arguments);

namespace win32 {

struct structured_exception {
  DWORD code;
};

// The class factory the layer consults in CoCreateInstance: `make` answers a
// new object with one reference for `riid`, or an HRESULT failure.
using class_maker = HRESULT (*)(REFIID riid, void** object);
void register_class(REFCLSID clsid, class_maker make);
void unregister_class(REFCLSID clsid);

}  // namespace win32
