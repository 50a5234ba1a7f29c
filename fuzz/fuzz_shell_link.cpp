// Shell-link files (.lnk) as anyone may leave them in a folder: the link
// object loads any bytes without crashing or reading past them, and every
// answer of a loaded link fits the buffer it was given.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "platform/win32/windows.h"

namespace {

bool terminatedWithin(const char16_t* s, int size) {
  for (int i = 0; i < size; ++i)
    if (s[i] == 0) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = [] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CreateDirectoryW(u"C:\\fuzz", nullptr);
    return true;
  }();
  (void)ready;
  const char16_t* path = u"C:\\fuzz\\input.lnk";
  HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  FUZZ_CHECK(h != INVALID_HANDLE_VALUE);
  DWORD written = 0;
  FUZZ_CHECK(size == 0 || WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr));
  CloseHandle(h);

  IPersistFile* file = nullptr;
  FUZZ_CHECK(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistFile,
                                        reinterpret_cast<void**>(&file))));
  if (SUCCEEDED(file->Load(path, 0))) {
    IShellLinkW* link = nullptr;
    FUZZ_CHECK(SUCCEEDED(file->QueryInterface(IID_IShellLinkW, reinterpret_cast<void**>(&link))));
    for (int room : {1, 5, MAX_PATH}) {
      char16_t buffer[MAX_PATH];
      std::memset(buffer, 0xAB, sizeof buffer);
      WIN32_FIND_DATAW found;
      if (SUCCEEDED(link->GetPath(buffer, room, &found, 0))) FUZZ_CHECK(terminatedWithin(buffer, room));
      if (SUCCEEDED(link->GetDescription(buffer, room))) FUZZ_CHECK(terminatedWithin(buffer, room));
      if (SUCCEEDED(link->GetWorkingDirectory(buffer, room))) FUZZ_CHECK(terminatedWithin(buffer, room));
      if (SUCCEEDED(link->GetArguments(buffer, room))) FUZZ_CHECK(terminatedWithin(buffer, room));
      int icon = 0;
      if (SUCCEEDED(link->GetIconLocation(buffer, room, &icon))) FUZZ_CHECK(terminatedWithin(buffer, room));
    }
    LPITEMIDLIST list = nullptr;
    if (link->GetIDList(&list) == S_OK) CoTaskMemFree(list);
    WORD hotkey = 0;
    int show = 0;
    link->GetHotkey(&hotkey);
    link->GetShowCmd(&show);
    IShellLinkA* narrow = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IShellLinkA, reinterpret_cast<void**>(&narrow)))) {
      char a[MAX_PATH];
      narrow->GetPath(a, MAX_PATH, nullptr, 0);
      narrow->GetArguments(a, MAX_PATH);
      narrow->Release();
    }
    link->Release();
  }
  file->Release();
  return 0;
}
