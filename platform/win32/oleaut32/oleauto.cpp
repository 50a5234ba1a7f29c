#include "platform/win32/oleaut32/oleauto.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/kernel32/paths.h"

const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

namespace {

struct ProgIdRow {
  std::u16string progid;
  CLSID clsid;
};

std::mutex& progid_lock() {
  static std::mutex m;
  return m;
}
std::vector<ProgIdRow>& progids() {
  static std::vector<ProgIdRow> rows;
  return rows;
}

}  // namespace

HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid) {
  if (!progid || !clsid) return E_INVALIDARG;
  std::lock_guard<std::mutex> g(progid_lock());
  for (const ProgIdRow& row : progids())
    if (win32::equal_ignore_case(row.progid, progid)) {
      *clsid = row.clsid;
      return S_OK;
    }
  *clsid = IID_NULL;
  return CO_E_CLASSSTRING;
}

namespace win32 {

void register_progid(const char16_t* progid, REFCLSID clsid) {
  std::lock_guard<std::mutex> g(progid_lock());
  for (ProgIdRow& row : progids())
    if (equal_ignore_case(row.progid, progid)) {
      row.clsid = clsid;
      return;
    }
  progids().push_back({progid, clsid});
}

void unregister_progid(const char16_t* progid) {
  std::lock_guard<std::mutex> g(progid_lock());
  auto& rows = progids();
  for (auto it = rows.begin(); it != rows.end(); ++it)
    if (equal_ignore_case(it->progid, progid)) {
      rows.erase(it);
      return;
    }
}

}  // namespace win32
