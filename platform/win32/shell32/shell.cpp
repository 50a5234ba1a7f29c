#include "platform/win32/shell32/shell.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/process.h"

namespace win32 {

namespace {

std::mutex g_record_lock;
bool g_recording = false;
std::vector<ShellCall> g_record;

std::u16string text(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

HINSTANCE instance(ULONG_PTR value) { return reinterpret_cast<HINSTANCE>(value); }

ULONG_PTR instance_for(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return SE_ERR_FNF;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
      return SE_ERR_PNF;
    case ERROR_ACCESS_DENIED:
      return SE_ERR_ACCESSDENIED;
    case ERROR_BAD_EXE_FORMAT:
      return SE_ERR_BADFORMAT;
    case ERROR_NOT_ENOUGH_MEMORY:
      return SE_ERR_OOM;
    default:
      return SE_ERR_NOASSOC;
  }
}

// "scheme:" of two or more letters (a drive letter is one).
bool is_url(const std::u16string& s) {
  std::size_t colon = s.find(u':');
  if (colon == std::u16string::npos || colon < 2) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    char16_t c = s[i];
    bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
              (i > 0 && ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'));
    if (!ok) return false;
  }
  return true;
}

bool ends_with_ignore_case(const std::u16string& s, std::u16string_view tail) {
  return s.size() >= tail.size() && equal_ignore_case(std::u16string_view(s).substr(s.size() - tail.size()), tail);
}

std::string find_on_path(const char* name) {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::string all = path;
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    if (end > start) {
      std::string candidate = all.substr(start, end - start) + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return {};
}

BOOL fail(SHELLEXECUTEINFOW* info, DWORD error) {
  info->hInstApp = instance(instance_for(error));
  if (info->fMask & SEE_MASK_NOCLOSEPROCESS) info->hProcess = nullptr;
  SetLastError(error);
  return FALSE;
}

BOOL start(SHELLEXECUTEINFOW* info, std::u16string line, LPCWSTR directory, LPCWSTR application) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = static_cast<WORD>(info->nShow);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &si, &pi))
    return fail(info, GetLastError());
  CloseHandle(pi.hThread);
  if (info->fMask & SEE_MASK_NOCLOSEPROCESS)
    info->hProcess = pi.hProcess;
  else
    CloseHandle(pi.hProcess);
  info->hInstApp = instance(42);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // namespace

void record_shell_calls(bool on) {
  std::lock_guard<std::mutex> g(g_record_lock);
  g_recording = on;
  if (on) g_record.clear();
}

std::vector<ShellCall> recorded_shell_calls() {
  std::lock_guard<std::mutex> g(g_record_lock);
  return g_record;
}

}  // namespace win32

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  using namespace win32;
  if (!info || info->cbSize != sizeof(SHELLEXECUTEINFOW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string verb = text(info->lpVerb), file = text(info->lpFile);
  if (file.empty()) return fail(info, ERROR_FILE_NOT_FOUND);
  if (!verb.empty() && !equal_ignore_case(verb, u"open")) return fail(info, ERROR_NO_ASSOCIATION);

  // Where the file is: a URL as it stands, else a path from the given folder.
  bool url = is_url(file);
  std::u16string full = file;
  std::string unix_path;
  bool program = false;
  if (!url) {
    std::u16string dir = text(info->lpDirectory);
    bool absolute = file.size() >= 2 && (file[1] == u':' || file[0] == u'\\' || file[0] == u'/');
    if (!absolute && !dir.empty()) {
      if (dir.back() != u'\\' && dir.back() != u'/') dir += u'\\';
      full = dir + file;
    }
    MappedPath m;
    if (!map_path(full.c_str(), m) || m.state != PathState::Exists) {
      // A bare program name may still be found on the search path.
      if (file.find_first_of(u"\\/:") == std::u16string::npos)
        program = true;
      else
        return fail(info, m.state == PathState::ParentMissing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    } else {
      unix_path = m.unix_path;
      full = m.full_path;
      struct stat st;
      bool regular = ::stat(unix_path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
      program = regular && (ends_with_ignore_case(full, u".exe") || ends_with_ignore_case(full, u".com") ||
                            (st.st_mode & S_IXUSR) != 0);
    }
  }

  {
    std::lock_guard<std::mutex> g(g_record_lock);
    if (g_recording) {
      g_record.push_back({verb, file, text(info->lpParameters), text(info->lpDirectory), info->nShow, program});
      info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(42));
      if (info->fMask & SEE_MASK_NOCLOSEPROCESS) info->hProcess = nullptr;
      SetLastError(ERROR_SUCCESS);
      return TRUE;
    }
  }

  LPCWSTR directory = info->lpDirectory && *info->lpDirectory ? info->lpDirectory : nullptr;
  if (program) {
    std::u16string line = u"\"" + (unix_path.empty() ? file : full) + u"\"";
    if (info->lpParameters && *info->lpParameters) line += u" " + std::u16string(info->lpParameters);
    return start(info, line, directory, unix_path.empty() ? nullptr : full.c_str());
  }
  std::string opener = find_on_path("xdg-open");
  if (opener.empty()) return fail(info, ERROR_NO_ASSOCIATION);
  std::u16string target = url ? file : utf8_to_utf16(unix_path);
  // The opener's argument goes through the command-line rules: quote it so
  // that blanks, quotes and backslashes arrive unchanged.
  const std::u16string quoted = quote_argument(target, true);
  std::u16string app = to_windows_path(opener);
  return start(info, u"xdg-open " + quoted, directory, app.c_str());
}

HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters, LPCWSTR lpDirectory,
                        INT nShowCmd) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.hwnd = hwnd;
  info.lpVerb = lpOperation;
  info.lpFile = lpFile;
  info.lpParameters = lpParameters;
  info.lpDirectory = lpDirectory;
  info.nShow = nShowCmd;
  ShellExecuteExW(&info);
  return info.hInstApp;
}
