// Late binding: IDispatch and its argument records, and class ids found by
// ProgID. Objects the layer serves by ProgID register both names.
#pragma once

#include "platform/win32/ole32/com.h"

using DISPID = LONG;

#define DISPID_UNKNOWN (-1)
#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4

#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

#define CO_E_CLASSSTRING ((HRESULT)0x800401F3L)
#define REGDB_E_WRITEREGDB ((HRESULT)0x80040151L)
#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001L)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003L)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004L)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006L)
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007L)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009L)
#define DISP_E_BADINDEX ((HRESULT)0x8002000BL)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000EL)

struct DISPPARAMS {
  VARIANT* rgvarg;  // the arguments, last one first
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  HRESULT scode;
};

struct ITypeInfo;

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argument_error) = 0;

 protected:
  ~IDispatch() = default;
};

extern const IID IID_IDispatch;  // {00020400-0000-0000-C000-000000000046}
extern const IID IID_NULL;

// The class id registered for a ProgID (compared ignoring case);
// CO_E_CLASSSTRING when none is.
HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid);

namespace win32 {

void register_progid(const char16_t* progid, REFCLSID clsid);
void unregister_progid(const char16_t* progid);

}  // namespace win32
