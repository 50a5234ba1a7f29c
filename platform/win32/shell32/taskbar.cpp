#include "platform/win32/shell32/taskbar.h"

#include <atomic>
#include <map>
#include <mutex>

const CLSID CLSID_TaskbarList = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const IID IID_ITaskbarList = {0x56FDF342, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const IID IID_ITaskbarList2 = {0x602D4995, 0xB13A, 0x429B, {0xA6, 0x6E, 0x19, 0x35, 0xE4, 0x4F, 0x43, 0x17}};
const IID IID_ITaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

namespace {

std::mutex& button_lock() {
  static std::mutex m;
  return m;
}
std::map<HWND, win32::taskbar_button>& buttons() {
  static std::map<HWND, win32::taskbar_button> b;
  return b;
}

class TaskbarList final : public ITaskbarList3 {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITaskbarList) || IsEqualIID(riid, IID_ITaskbarList2) ||
        IsEqualIID(riid, IID_ITaskbarList3)) {
      *object = static_cast<ITaskbarList3*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT HrInit() override { return S_OK; }
  HRESULT AddTab(HWND) override { return S_OK; }
  HRESULT DeleteTab(HWND) override { return S_OK; }
  HRESULT ActivateTab(HWND) override { return S_OK; }
  HRESULT SetActiveAlt(HWND) override { return S_OK; }
  HRESULT MarkFullscreenWindow(HWND, BOOL) override { return S_OK; }
  HRESULT SetProgressValue(HWND hwnd, std::uint64_t completed, std::uint64_t total) override {
    if (!hwnd) return E_INVALIDARG;
    std::lock_guard<std::mutex> g(button_lock());
    auto& b = buttons()[hwnd];
    b.known = true;
    b.completed = completed > total ? total : completed;
    b.total = total;
    return S_OK;
  }
  HRESULT SetProgressState(HWND hwnd, TBPFLAG flags) override {
    if (!hwnd) return E_INVALIDARG;
    std::lock_guard<std::mutex> g(button_lock());
    auto& b = buttons()[hwnd];
    b.known = true;
    b.state = flags;
    return S_OK;
  }
  HRESULT RegisterTab(HWND, HWND) override { return S_OK; }
  HRESULT UnregisterTab(HWND) override { return S_OK; }
  HRESULT SetTabOrder(HWND, HWND) override { return S_OK; }
  HRESULT SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
  HRESULT ThumbBarAddButtons(HWND, UINT, void*) override { return E_NOTIMPL; }
  HRESULT ThumbBarUpdateButtons(HWND, UINT, void*) override { return E_NOTIMPL; }
  HRESULT ThumbBarSetImageList(HWND, void*) override { return E_NOTIMPL; }
  HRESULT SetOverlayIcon(HWND, void*, const WCHAR*) override { return S_OK; }
  HRESULT SetThumbnailTooltip(HWND, const WCHAR*) override { return S_OK; }
  HRESULT SetThumbnailClip(HWND, void*) override { return S_OK; }

 private:
  ~TaskbarList() = default;
  std::atomic<ULONG> refs_{1};
};

HRESULT make_taskbar_list(REFIID riid, void** object) {
  auto* list = new TaskbarList;
  const HRESULT hr = list->QueryInterface(riid, object);
  list->Release();
  return hr;
}

// Linked in with the taskbar's names: whoever names them can create the class.
const bool registered = [] {
  win32::register_class(CLSID_TaskbarList, &make_taskbar_list);
  return true;
}();

}  // namespace

namespace win32 {

taskbar_button taskbar_state(HWND hwnd) {
  std::lock_guard<std::mutex> g(button_lock());
  auto it = buttons().find(hwnd);
  return it == buttons().end() ? taskbar_button{} : it->second;
}

void taskbar_forget(HWND hwnd) {
  std::lock_guard<std::mutex> g(button_lock());
  buttons().erase(hwnd);
}

}  // namespace win32
