#include "platform/win32/ole32/com.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/win32/ole32/com_internal.h"
#include "platform/win32/shell32/shobj.h"

// Interface and class ids, as Windows numbers them.
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellFolder = {0x000214E6, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellFolder2 = {0x93F2F68C, 0x1D1B, 0x11D3, {0xA3, 0x0E, 0x00, 0xC0, 0x4F, 0x79, 0xAB, 0xD1}};
const IID IID_IEnumIDList = {0x000214F2, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellLinkW = {0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// ---------------------------------------------------------------------------
// Apartments: one count and one model per thread.

struct Apartment {
  int count = 0;
  DWORD model = 0;
};
thread_local Apartment t_apartment;

// ---------------------------------------------------------------------------
// Classes.

struct ClassRow {
  CLSID clsid;
  win32::class_maker make;
};

std::mutex& class_lock() {
  static std::mutex m;
  return m;
}

// The layer's own classes are rows from the start, so that a program that
// never names them still links their code.
std::vector<ClassRow>& class_table() {
  static std::vector<ClassRow> rows{{CLSID_ShellLink, &win32::make_shell_link}};
  return rows;
}

// ---------------------------------------------------------------------------
// The task allocator keeps each block's size in front of it, so that GetSize
// and Realloc know it; the header keeps the caller's block 16-byte aligned.

constexpr std::size_t kHeader = 16;

std::size_t& block_size(void* block) { return *reinterpret_cast<std::size_t*>(static_cast<char*>(block) - kHeader); }

class TaskMalloc final : public IMalloc {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMalloc)) {
      *object = static_cast<IMalloc*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The process's one allocator lives as long as the process.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  void* Alloc(SIZE_T size) override { return CoTaskMemAlloc(size); }
  void* Realloc(void* block, SIZE_T size) override { return CoTaskMemRealloc(block, size); }
  void Free(void* block) override { CoTaskMemFree(block); }
  SIZE_T GetSize(void* block) override { return block ? block_size(block) : static_cast<SIZE_T>(-1); }
  // Blocks carry no mark that could be read safely from a foreign pointer.
  int DidAlloc(void*) override { return -1; }
  void HeapMinimize() override {}
};

TaskMalloc g_task_malloc;

// ---------------------------------------------------------------------------
// BSTR: the byte length in the four bytes before the text, a terminator after.

BSTR make_bstr(const WCHAR* text, std::size_t length) {
  if (length > (std::numeric_limits<UINT>::max() - 8) / 2) return nullptr;
  auto* block = static_cast<char*>(std::malloc(4 + length * 2 + 2));
  if (!block) return nullptr;
  auto bytes = static_cast<std::uint32_t>(length * 2);
  std::memcpy(block, &bytes, 4);
  auto* out = reinterpret_cast<WCHAR*>(block + 4);
  if (text && length) std::memcpy(out, text, length * 2);
  else if (length) std::memset(out, 0, length * 2);
  out[length] = 0;
  return out;
}

UINT bstr_bytes(BSTR text) {
  if (!text) return 0;
  std::uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<char*>(text) - 4, 4);
  return bytes;
}

// ---------------------------------------------------------------------------
// VARIANT conversions.

bool is_integer_kind(VARTYPE vt) {
  return vt == VT_I4 || vt == VT_UI4 || vt == VT_I8 || vt == VT_UI8 || vt == VT_UI1 || vt == VT_BOOL || vt == VT_I2 ||
         vt == VT_UI2;
}

// An integer kind's value as sign and magnitude, so that every kind fits.
struct Wide {
  bool negative = false;
  ULONGLONG magnitude = 0;
};

Wide widen(const VARIANT& v) {
  Wide w;
  auto from_signed = [&](LONGLONG x) {
    w.negative = x < 0;
    w.magnitude = x < 0 ? ULONGLONG(0) - static_cast<ULONGLONG>(x) : static_cast<ULONGLONG>(x);
  };
  switch (v.vt) {
    case VT_I4: from_signed(v.lVal); break;
    case VT_I8: from_signed(v.llVal); break;
    case VT_BOOL: from_signed(v.boolVal); break;
    case VT_I2: from_signed(v.iVal); break;
    case VT_UI2: w.magnitude = v.uiVal; break;
    case VT_UI1: w.magnitude = v.bVal; break;
    case VT_UI4: w.magnitude = v.ulVal; break;
    case VT_UI8: w.magnitude = v.ullVal; break;
    default: break;
  }
  return w;
}

// Stores a widened value into an integer kind; DISP_E_OVERFLOW when it does
// not fit. A boolean takes any non-zero value as true.
HRESULT narrow(const Wide& w, VARTYPE vt, VARIANT& out) {
  auto fits_signed = [&](ULONGLONG max_positive) {
    return w.negative ? w.magnitude <= max_positive + 1 : w.magnitude <= max_positive;
  };
  auto as_signed = [&]() -> LONGLONG {
    return w.negative ? static_cast<LONGLONG>(ULONGLONG(0) - w.magnitude) : static_cast<LONGLONG>(w.magnitude);
  };
  out.vt = vt;
  switch (vt) {
    case VT_I4:
      if (!fits_signed(0x7FFFFFFF)) return DISP_E_OVERFLOW;
      out.lVal = static_cast<LONG>(as_signed());
      return S_OK;
    case VT_I8:
      if (!fits_signed(0x7FFFFFFFFFFFFFFFull)) return DISP_E_OVERFLOW;
      out.llVal = as_signed();
      return S_OK;
    case VT_I2:
      if (!fits_signed(0x7FFF)) return DISP_E_OVERFLOW;
      out.iVal = static_cast<SHORT>(as_signed());
      return S_OK;
    case VT_UI2:
      if ((w.negative && w.magnitude) || w.magnitude > 0xFFFF) return DISP_E_OVERFLOW;
      out.uiVal = static_cast<USHORT>(w.magnitude);
      return S_OK;
    case VT_UI1:
      if ((w.negative && w.magnitude) || w.magnitude > 0xFF) return DISP_E_OVERFLOW;
      out.bVal = static_cast<BYTE>(w.magnitude);
      return S_OK;
    case VT_UI4:
      if ((w.negative && w.magnitude) || w.magnitude > 0xFFFFFFFFull) return DISP_E_OVERFLOW;
      out.ulVal = static_cast<ULONG>(w.magnitude);
      return S_OK;
    case VT_UI8:
      if (w.negative && w.magnitude) return DISP_E_OVERFLOW;
      out.ullVal = w.magnitude;
      return S_OK;
    case VT_BOOL:
      out.boolVal = w.magnitude ? VARIANT_BOOL(-1) : VARIANT_BOOL(0);
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

bool blank(char16_t c) { return c == u' ' || c == u'\t'; }

// Decimal text with optional blanks around it and an optional sign.
HRESULT parse_decimal(const BSTR text, Wide& w) {
  std::u16string_view s(text ? text : u"", text ? SysStringLen(text) : 0);
  std::size_t i = 0, end = s.size();
  while (i < end && blank(s[i])) ++i;
  while (end > i && blank(s[end - 1])) --end;
  if (i < end && (s[i] == u'-' || s[i] == u'+')) w.negative = s[i++] == u'-';
  if (i == end) return DISP_E_TYPEMISMATCH;
  bool overflow = false;
  for (; i < end; ++i) {
    if (s[i] < u'0' || s[i] > u'9') return DISP_E_TYPEMISMATCH;
    ULONGLONG digit = s[i] - u'0';
    if (w.magnitude > (std::numeric_limits<ULONGLONG>::max() - digit) / 10) overflow = true;
    else w.magnitude = w.magnitude * 10 + digit;
  }
  if (w.magnitude == 0) w.negative = false;
  return overflow ? DISP_E_OVERFLOW : S_OK;
}

BSTR decimal(const Wide& w) {
  std::u16string text;
  ULONGLONG m = w.magnitude;
  do {
    text.insert(text.begin(), static_cast<char16_t>(u'0' + m % 10));
    m /= 10;
  } while (m);
  if (w.negative && w.magnitude) text.insert(text.begin(), u'-');
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

SAFEARRAY* byte_vector(const void* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return nullptr;
  SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
  if (a && size) std::memcpy(a->pvData, data, size);
  return a;
}

bool is_byte_vector(const SAFEARRAY* a) { return a && a->cDims == 1 && a->cbElements == 1; }

// A converted copy of `source` in `out` (which the caller then owns).
HRESULT convert(const VARIANT& source, VARTYPE vt, VARIANT& out) {
  VariantInit(&out);
  const VARTYPE from = source.vt;
  if (vt == VT_EMPTY) return S_OK;
  if ((from == VT_DISPATCH || from == VT_UNKNOWN) && vt == from) {
    out = source;
    if (out.punkVal) out.punkVal->AddRef();
    return S_OK;
  }
  if (from == VT_DISPATCH || from == VT_UNKNOWN || vt == VT_DISPATCH || vt == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  if (from == vt && vt != VT_BSTR && vt != (VT_ARRAY | VT_UI1)) {
    out = source;
    return S_OK;
  }
  if (from == VT_NULL || vt == VT_NULL) return DISP_E_TYPEMISMATCH;
  if (from == VT_EMPTY) {
    if (is_integer_kind(vt)) return narrow(Wide{}, vt, out);
    if (vt == VT_BSTR) {
      out.bstrVal = SysAllocString(u"");
      out.vt = VT_BSTR;
      return out.bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    return DISP_E_TYPEMISMATCH;
  }
  if (is_integer_kind(from)) {
    if (is_integer_kind(vt)) return narrow(widen(source), vt, out);
    if (vt == VT_BSTR) {
      out.bstrVal = decimal(widen(source));
      if (!out.bstrVal) return E_OUTOFMEMORY;
      out.vt = VT_BSTR;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  if (from == VT_BSTR) {
    if (is_integer_kind(vt)) {
      Wide w;
      HRESULT hr = parse_decimal(source.bstrVal, w);
      if (FAILED(hr)) return hr;
      return narrow(w, vt, out);
    }
    if (vt == VT_BSTR) {
      out.bstrVal = SysAllocStringLen(source.bstrVal, SysStringLen(source.bstrVal));
      if (!out.bstrVal && source.bstrVal) return E_OUTOFMEMORY;
      out.vt = VT_BSTR;
      return S_OK;
    }
    if (vt == (VT_ARRAY | VT_UI1)) {  // the text's bytes
      out.parray = byte_vector(source.bstrVal, bstr_bytes(source.bstrVal));
      if (!out.parray) return E_OUTOFMEMORY;
      out.vt = vt;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  if (from == (VT_ARRAY | VT_UI1)) {
    if (!is_byte_vector(source.parray)) return DISP_E_TYPEMISMATCH;
    const ULONG n = source.parray->rgsabound[0].cElements;
    if (vt == (VT_ARRAY | VT_UI1)) {
      out.parray = byte_vector(source.parray->pvData, n);
      if (!out.parray) return E_OUTOFMEMORY;
      out.vt = vt;
      return S_OK;
    }
    if (vt == VT_BSTR) {  // the bytes as the text's bytes; an odd last byte is padded
      BSTR text = make_bstr(nullptr, (n + 1) / 2);
      if (!text) return E_OUTOFMEMORY;
      if (n) std::memcpy(text, source.parray->pvData, n);
      std::uint32_t bytes = n;
      std::memcpy(reinterpret_cast<char*>(text) - 4, &bytes, 4);
      out.bstrVal = text;
      out.vt = VT_BSTR;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  return DISP_E_TYPEMISMATCH;
}

}  // namespace

// ---------------------------------------------------------------------------

HRESULT CoInitializeEx(void* reserved, DWORD coinit) {
  if (reserved) return E_INVALIDARG;
  const DWORD model = coinit & COINIT_APARTMENTTHREADED;
  Apartment& a = t_apartment;
  if (a.count > 0) {
    if (a.model != model) return RPC_E_CHANGED_MODE;
    ++a.count;
    return S_FALSE;
  }
  a.count = 1;
  a.model = model;
  return S_OK;
}

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (t_apartment.count > 0) --t_apartment.count;
}

namespace win32 {

void register_class(REFCLSID clsid, class_maker make) {
  std::lock_guard<std::mutex> g(class_lock());
  for (ClassRow& row : class_table())
    if (IsEqualCLSID(row.clsid, clsid)) {
      row.make = make;
      return;
    }
  class_table().push_back({clsid, make});
}

void unregister_class(REFCLSID clsid) {
  std::lock_guard<std::mutex> g(class_lock());
  auto& rows = class_table();
  for (auto it = rows.begin(); it != rows.end(); ++it)
    if (IsEqualCLSID(it->clsid, clsid)) {
      rows.erase(it);
      return;
    }
}

}  // namespace win32

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (t_apartment.count == 0) return CO_E_NOTINITIALIZED;
  if (outer) return CLASS_E_NOAGGREGATION;
  win32::class_maker make = nullptr;
  {
    std::lock_guard<std::mutex> g(class_lock());
    for (const ClassRow& row : class_table())
      if (IsEqualCLSID(row.clsid, clsid)) make = row.make;
  }
  // Every class here is in-process.
  if (!make || !(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  HRESULT hr = make(riid, object);
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

void* CoTaskMemAlloc(SIZE_T size) {
  if (size > std::numeric_limits<SIZE_T>::max() - kHeader) return nullptr;
  auto* block = static_cast<char*>(std::malloc(kHeader + size));
  if (!block) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size;
  return block + kHeader;
}

void* CoTaskMemRealloc(void* block, SIZE_T size) {
  if (!block) return CoTaskMemAlloc(size);
  if (size == 0) {
    CoTaskMemFree(block);
    return nullptr;
  }
  if (size > std::numeric_limits<SIZE_T>::max() - kHeader) return nullptr;
  auto* moved = static_cast<char*>(std::realloc(static_cast<char*>(block) - kHeader, kHeader + size));
  if (!moved) return nullptr;
  *reinterpret_cast<std::size_t*>(moved) = size;
  return moved + kHeader;
}

void CoTaskMemFree(void* block) {
  if (block) std::free(static_cast<char*>(block) - kHeader);
}

HRESULT CoGetMalloc(DWORD context, IMalloc** malloc) {
  if (!malloc) return E_POINTER;
  *malloc = nullptr;
  if (context != 1) return E_INVALIDARG;  // MEMCTX_TASK only
  *malloc = &g_task_malloc;
  return S_OK;
}

IMalloc* win32::task_malloc() { return &g_task_malloc; }

BSTR SysAllocString(const WCHAR* text) {
  if (!text) return nullptr;
  return make_bstr(text, std::char_traits<char16_t>::length(text));
}

BSTR SysAllocStringLen(const WCHAR* text, UINT length) { return make_bstr(text, length); }

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<char*>(text) - 4);
}

UINT SysStringLen(BSTR text) { return bstr_bytes(text) / 2; }

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG elements) {
  if (vt != VT_UI1) return nullptr;
  // The data follows the descriptor in the same block.
  const std::size_t head = (sizeof(SAFEARRAY) + 15) / 16 * 16;
  auto* block = static_cast<char*>(std::calloc(1, head + elements));
  if (!block) return nullptr;
  auto* a = reinterpret_cast<SAFEARRAY*>(block);
  a->cDims = 1;
  a->fFeatures = 0x2000 | 0x0080;  // FADF_CREATEVECTOR | FADF_HAVEVARTYPE
  a->cbElements = 1;
  a->cLocks = 0;
  a->pvData = block + head;
  a->rgsabound[0].cElements = elements;
  a->rgsabound[0].lLbound = lower_bound;
  return a;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (!array) return S_OK;
  if (array->cLocks) return DISP_E_ARRAYISLOCKED;
  std::free(array);
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
  if (!array || !data) return E_INVALIDARG;
  ++array->cLocks;
  *data = array->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
  if (!array) return E_INVALIDARG;
  if (array->cLocks == 0) return E_UNEXPECTED;
  --array->cLocks;
  return S_OK;
}

void VariantInit(VARIANT* value) {
  if (!value) return;
  std::memset(value, 0, sizeof *value);
  value->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* value) {
  if (!value) return E_INVALIDARG;
  if (value->vt == VT_BSTR) {
    SysFreeString(value->bstrVal);
  } else if (value->vt == VT_DISPATCH || value->vt == VT_UNKNOWN) {
    if (value->punkVal) value->punkVal->Release();
  } else if (value->vt & VT_ARRAY) {
    HRESULT hr = SafeArrayDestroy(value->parray);
    if (FAILED(hr)) return hr;
  }
  VariantInit(value);
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, USHORT, VARTYPE vt) {
  if (!dest || !source) return E_INVALIDARG;
  VARIANT converted;
  HRESULT hr = convert(*source, vt, converted);
  if (FAILED(hr)) {
    VariantClear(&converted);
    return hr;
  }
  // Clearing `dest` may clear `source` too; the copy is already made.
  VariantClear(dest);
  *dest = converted;
  return S_OK;
}

void RaiseException(DWORD code, DWORD, DWORD, const ULONG_PTR*) { throw win32::structured_exception{code}; }
