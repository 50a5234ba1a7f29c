#include "platform/win32/kernel32/console.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/lasterror.h"

namespace {

bool consoleFd(HANDLE h, int& fd) {
  win32::FileHandleFacts facts;
  if (!win32::file_handle_facts(h, facts) || facts.fd < 0 || facts.o_path || !::isatty(facts.fd)) return false;
  fd = facts.fd;
  return true;
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::mutex g_debugLock;
bool g_recording = false;
std::vector<std::u16string>& debugStrings() {
  static auto* v = new std::vector<std::u16string>;
  return *v;
}

}  // namespace

UINT GetConsoleOutputCP() { return GetOEMCP(); }

BOOL WriteConsoleW(HANDLE hConsoleOutput, const void* lpBuffer, DWORD nNumberOfCharsToWrite,
                   LPDWORD lpNumberOfCharsWritten, LPVOID) {
  int fd = -1;
  if (!consoleFd(hConsoleOutput, fd)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!lpBuffer && nNumberOfCharsToWrite) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto* units = static_cast<const WCHAR*>(lpBuffer);
  std::string bytes(3 * static_cast<std::size_t>(nNumberOfCharsToWrite), '\0');
  const int n = nNumberOfCharsToWrite ? WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(nNumberOfCharsToWrite),
                                                            bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                                            nullptr)
                                      : 0;
  bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (!writeAll(fd, bytes)) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  if (lpNumberOfCharsWritten) *lpNumberOfCharsWritten = nNumberOfCharsToWrite;
  return TRUE;
}

BOOL WriteConsoleA(HANDLE hConsoleOutput, const void* lpBuffer, DWORD nNumberOfCharsToWrite,
                   LPDWORD lpNumberOfCharsWritten, LPVOID lpReserved) {
  std::u16string wide(nNumberOfCharsToWrite, u'\0');
  int n = 0;
  if (lpBuffer && nNumberOfCharsToWrite) {
    n = MultiByteToWideChar(GetConsoleOutputCP(), 0, static_cast<const char*>(lpBuffer),
                            static_cast<int>(nNumberOfCharsToWrite), wide.data(), static_cast<int>(wide.size()));
  }
  DWORD written = 0;
  const BOOL ok = WriteConsoleW(hConsoleOutput, lpBuffer ? wide.data() : nullptr, n > 0 ? static_cast<DWORD>(n) : 0,
                                &written, lpReserved);
  // One byte is one character of a single-byte console code page.
  if (ok && lpNumberOfCharsWritten) *lpNumberOfCharsWritten = nNumberOfCharsToWrite;
  return ok;
}

void OutputDebugStringW(LPCWSTR lpOutputString) {
  std::lock_guard<std::mutex> g(g_debugLock);
  if (g_recording && lpOutputString) debugStrings().emplace_back(lpOutputString);
}

void OutputDebugStringA(LPCSTR lpOutputString) {
  if (!lpOutputString) return;
  const DWORD error = GetLastError();
  const int n = MultiByteToWideChar(CP_ACP, 0, lpOutputString, -1, nullptr, 0);
  std::u16string wide(n > 0 ? static_cast<std::size_t>(n) : 1, u'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, lpOutputString, -1, wide.data(), n);
  OutputDebugStringW(wide.c_str());
  SetLastError(error);
}

namespace win32 {
void record_debug_strings(bool on) {
  std::lock_guard<std::mutex> g(g_debugLock);
  g_recording = on;
  debugStrings().clear();
}
std::vector<std::u16string> recorded_debug_strings() {
  std::lock_guard<std::mutex> g(g_debugLock);
  return debugStrings();
}
}  // namespace win32
