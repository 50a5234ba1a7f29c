// The shell's taskbar list (ITaskbarList3) as the layer serves it: there is no
// taskbar, so the object only keeps the last progress value and state set for
// each window, for tests to read.
#pragma once

#include <cstdint>

#include "platform/win32/ole32/com.h"

enum TBPFLAG {
  TBPF_NOPROGRESS = 0,
  TBPF_INDETERMINATE = 0x1,
  TBPF_NORMAL = 0x2,
  TBPF_ERROR = 0x4,
  TBPF_PAUSED = 0x8,
};

struct ITaskbarList : IUnknown {
  virtual HRESULT HrInit() = 0;
  virtual HRESULT AddTab(HWND hwnd) = 0;
  virtual HRESULT DeleteTab(HWND hwnd) = 0;
  virtual HRESULT ActivateTab(HWND hwnd) = 0;
  virtual HRESULT SetActiveAlt(HWND hwnd) = 0;

 protected:
  ~ITaskbarList() = default;
};

struct ITaskbarList2 : ITaskbarList {
  virtual HRESULT MarkFullscreenWindow(HWND hwnd, BOOL fullscreen) = 0;

 protected:
  ~ITaskbarList2() = default;
};

struct ITaskbarList3 : ITaskbarList2 {
  virtual HRESULT SetProgressValue(HWND hwnd, std::uint64_t completed, std::uint64_t total) = 0;
  virtual HRESULT SetProgressState(HWND hwnd, TBPFLAG flags) = 0;
  virtual HRESULT RegisterTab(HWND tab, HWND mdi) = 0;
  virtual HRESULT UnregisterTab(HWND tab) = 0;
  virtual HRESULT SetTabOrder(HWND tab, HWND insertBefore) = 0;
  virtual HRESULT SetTabActive(HWND tab, HWND mdi, DWORD reserved) = 0;
  // The thumbnail calls take records the layer has no use for.
  virtual HRESULT ThumbBarAddButtons(HWND hwnd, UINT count, void* buttons) = 0;
  virtual HRESULT ThumbBarUpdateButtons(HWND hwnd, UINT count, void* buttons) = 0;
  virtual HRESULT ThumbBarSetImageList(HWND hwnd, void* images) = 0;
  virtual HRESULT SetOverlayIcon(HWND hwnd, void* icon, const WCHAR* description) = 0;
  virtual HRESULT SetThumbnailTooltip(HWND hwnd, const WCHAR* tip) = 0;
  virtual HRESULT SetThumbnailClip(HWND hwnd, void* clip) = 0;

 protected:
  ~ITaskbarList3() = default;
};

extern const CLSID CLSID_TaskbarList;
extern const IID IID_ITaskbarList;
extern const IID IID_ITaskbarList2;
extern const IID IID_ITaskbarList3;

namespace win32 {

// What the taskbar button of a window would show.
struct taskbar_button {
  bool known = false;  // some progress call named the window
  std::uint64_t completed = 0;
  std::uint64_t total = 0;
  TBPFLAG state = TBPF_NOPROGRESS;
};
taskbar_button taskbar_state(HWND hwnd);
void taskbar_forget(HWND hwnd);

}  // namespace win32
