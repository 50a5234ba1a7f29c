// One instance per application name: a later start hands its arguments to
// the running one through a named mapping and its hidden window, raises the
// running one's window and ends with exit code 1 before showing anything.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "gui/app/korvane_app.h"
#include "gui/dialogs/credentials.h"
#include "platform/win32/windows.h"
#include "system/machine.h"

using namespace FX;

namespace {

constexpr UINT kNewInstance = 3025;
constexpr UINT kRunOnGuiThread = 3024;

// Wide, as the application name is: a name that differs from another only in
// a character beyond one byte names objects of its own.
std::u16string mappingName(const std::u16string& app) { return u"Global\\" + app + u"_ARGS_SHARED_MEM"; }
std::u16string className(const std::u16string& app) { return app + u"_DUMMY_APPLICATION_WINDOW"; }

// A view of a named mapping, closed with the object. Created with default
// security: the mapping is the user's own.
struct Mapping {
  HANDLE handle = nullptr;
  void* view = nullptr;
  ~Mapping() {
    if (view) UnmapViewOfFile(view);
    if (handle) CloseHandle(handle);
  }
};

}  // namespace

void FXKorvaneApp::init(int& argc, char** argv, bool connect) {
  handOver_.reset();
  handOverSize_ = 5;
  for (int i = 0; i < argc; ++i)
    if (argv[i] && *argv[i]) handOverSize_ += static_cast<std::uint32_t>(std::strlen(argv[i])) + 1;
  handOver_.reset(new std::uint8_t[handOverSize_]);
  std::uint32_t count = 0;
  std::size_t at = 4;
  for (int i = 0; i < argc; ++i) {
    if (!argv[i] || !*argv[i]) continue;
    const std::size_t n = std::strlen(argv[i]) + 1;
    std::memcpy(handOver_.get() + at, argv[i], n);
    at += n;
    ++count;
  }
  handOver_[at] = 0;
  std::memcpy(handOver_.get(), &count, 4);  // little-endian, as the reader expects
  FXExtApp::init(argc, argv, connect);
}

bool FXKorvaneApp::handOverArguments() {
  if (applicationName_.empty()) return false;
  Mapping mapping;
  try {
    const std::u16string name = mappingName(applicationNameWide_);
    mapping.handle = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, handOverSize_, name.c_str());
    if (mapping.handle && GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(mapping.handle);  // someone else's: never written to
      mapping.handle = nullptr;
    }
    if (mapping.handle) mapping.view = MapViewOfFile(mapping.handle, FILE_MAP_WRITE, 0, 0, handOverSize_);
    if (mapping.view && handOver_) std::memcpy(mapping.view, handOver_.get(), handOverSize_);
  } catch (const Common::Error&) {
  }
  const std::u16string cls = className(applicationNameWide_);
  HWND running = FindWindowW(cls.c_str(), nullptr);
  if (!running) return false;
  const HWND answer = reinterpret_cast<HWND>(SendMessageW(running, kNewInstance, 0, handOverSize_));
  if (!answer) return false;
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (GetWindowPlacement(answer, &placement)) {
    if (placement.showCmd == SW_SHOWMINIMIZED || placement.showCmd == SW_MINIMIZE) ShowWindow(answer, SW_RESTORE);
    SetForegroundWindow(answer);
  }
  return true;
}

HWND FXKorvaneApp::onNewInstance(WPARAM, LPARAM) { return nullptr; }

void FXKorvaneApp::onNewInstanceArgs(std::uint32_t, const char**) {}

LRESULT FXKorvaneApp::hiddenWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // Nothing may escape into the layer's message core.
  try {
    if (message == WM_CREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      return 0;
    }
    auto* app = reinterpret_cast<FXKorvaneApp*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == kNewInstance) {
      if (!app) return 0;
      try {
        const std::size_t size = static_cast<std::size_t>(lParam);
        Mapping mapping;
        const std::u16string name = mappingName(app->applicationNameWide_);
        if (size >= 5 && size <= (std::size_t(1) << 24)) {
          mapping.handle = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
          if (mapping.handle) mapping.view = MapViewOfFile(mapping.handle, FILE_MAP_READ, 0, 0, size);
        }
        if (mapping.view) {
          const auto* bytes = static_cast<const char*>(mapping.view);
          std::uint32_t count = 0;
          std::memcpy(&count, bytes, 4);
          // Every string must end inside the block; a count larger than the
          // strings present is cut to those present.
          std::vector<const char*> args;
          std::size_t at = 4;
          while (args.size() < count && at < size && bytes[at]) {
            const void* nul = std::memchr(bytes + at, 0, size - at);
            if (!nul) break;
            args.push_back(bytes + at);
            at = static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) + 1;
          }
          if (!args.empty()) app->onNewInstanceArgs(static_cast<std::uint32_t>(args.size()), args.data());
        }
      } catch (...) {
      }
      return reinterpret_cast<LRESULT>(app->onNewInstance(wParam, lParam));
    }
    if (message == kRunOnGuiThread) {
      if (!app) return 0;
      auto function = reinterpret_cast<LRESULT (*)(void*)>(wParam);
      auto* request = reinterpret_cast<hiddenRequest*>(lParam);
      ++app->hiddenDepth_;
      try {
        const LRESULT r = function(request->argument);
        --app->hiddenDepth_;
        return r;
      } catch (const Common::Error& e) {
        --app->hiddenDepth_;
        request->error = e;
        return 0;
      }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

void FXKorvaneApp::create() {
  if (!applicationName_.empty()) {
    mutex_ = CreateMutexW(nullptr, FALSE, applicationNameWide_.c_str());
    mutexError_ = GetLastError();
    if (mutex_) WaitForSingleObject(mutex_, INFINITE);
  }
  handOverArguments();
  if (mutexError_ == ERROR_ALREADY_EXISTS) std::exit(1);
  comInitialized_ = SUCCEEDED(CoInitialize(nullptr));
  Common::createLocaleFormats();
  FXExtApp::create();
  FXKInstallCredentialHandler(this);
  if (!applicationName_.empty()) {
    const std::u16string cls = className(applicationNameWide_);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = 3;
    wc.lpfnWndProc = &FXKorvaneApp::hiddenWindowProc;
    wc.cbWndExtra = 4;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = cls.c_str();
    if (!RegisterClassExW(&wc)) fxerror("Failed to register class with code %d", static_cast<int>(GetLastError()));
    hidden_ = CreateWindowExW(0, cls.c_str(), nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, this);
    if (!hidden_) fxerror("Failed to create dummy window with code %d", static_cast<int>(GetLastError()));
  }
  if (mutex_) ReleaseMutex(mutex_);
}

void FXKorvaneApp::destroy() {
  removeCredentialCallback();
  FXKRemoveCredentialHandler();
  if (hidden_) {
    DestroyWindow(hidden_);
    hidden_ = nullptr;
    UnregisterClassW(className(applicationNameWide_).c_str(), GetModuleHandleW(nullptr));
  }
  if (busyWindow_) {
    doneModal(busyWindow_, true, 0);
    busyWindow_->destroy();
    delete busyWindow_;
    busyWindow_ = nullptr;
  }
  FXExtApp::destroy();
  Common::destroyLocaleFormats();
  if (comInitialized_) CoUninitialize();
  comInitialized_ = false;
}
