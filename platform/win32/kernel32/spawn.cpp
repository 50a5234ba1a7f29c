#include "platform/win32/kernel32/spawn.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/process.h"
#include "platform/win32/kernel32/thread.h"
#include "platform/win32/kernel32/waitable.h"

extern char** environ;

namespace win32 {

namespace {

// A child until its end is seen. The end is first observed without reaping
// (WNOWAIT), so that a kill racing with it can never reach a reused pid.
class ProcessObject : public Signal {
 public:
  explicit ProcessObject(pid_t pid) : Signal(ObjectKind::Process, true, false), pid_(pid) {}

  pid_t pid() const { return pid_; }
  DWORD exit_code() {
    std::lock_guard<std::mutex> g(m_);
    return ended_ ? code_ : STILL_ACTIVE;
  }
  // False when the child has already ended.
  bool terminate(DWORD code) {
    std::lock_guard<std::mutex> g(m_);
    if (ended_) return false;
    if (!terminated_) {
      terminated_ = true;
      code_ = code;
      ::kill(pid_, SIGKILL);
    }
    return true;
  }
  void watch(std::shared_ptr<ProcessObject> self) {
    std::thread([self] {
      siginfo_t info{};
      while (::waitid(P_PID, static_cast<id_t>(self->pid_), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
      }
      {
        std::lock_guard<std::mutex> g(self->m_);
        if (!self->terminated_) {
          if (info.si_code == CLD_EXITED)
            self->code_ = static_cast<DWORD>(info.si_status);
          else
            self->code_ = 128 + static_cast<DWORD>(info.si_status);
        }
        self->ended_ = true;
        int status = 0;
        while (::waitpid(self->pid_, &status, 0) < 0 && errno == EINTR) {
        }
      }
      self->set();
    }).detach();
  }

 private:
  pid_t pid_;
  std::mutex m_;
  bool ended_ = false;
  bool terminated_ = false;
  DWORD code_ = 0;
};

bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

bool has_extension(std::u16string_view name) {
  for (std::size_t i = name.size(); i-- > 0;) {
    if (is_separator(name[i])) return false;
    if (name[i] == u'.') return true;
  }
  return false;
}

bool is_file(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The Unix file of a Windows path that names an existing file, else empty.
std::string existing_file(const std::u16string& windows_path) {
  MappedPath m;
  if (!map_path(windows_path.c_str(), m) || m.state != PathState::Exists) return {};
  return is_file(m.unix_path) ? m.unix_path : std::string();
}

std::string find_with_extension(const std::u16string& path) {
  std::string found = existing_file(path);
  if (found.empty() && !has_extension(path)) found = existing_file(path + u".exe");
  return found;
}

std::u16string folder_of(std::u16string path) {
  while (!path.empty() && !is_separator(path.back())) path.pop_back();
  return path;
}

// The Unix file of the program, or empty with the last error set.
std::string find_program(const std::u16string& name) {
  if (name.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return {};
  }
  bool bare = true;
  for (char16_t c : name)
    if (is_separator(c) || c == u':') bare = false;
  if (!bare) {
    std::string found = find_with_extension(name);
    if (found.empty()) SetLastError(ERROR_FILE_NOT_FOUND);
    return found;
  }
  std::vector<std::u16string> folders;
  folders.push_back(folder_of(module_path()));
  WCHAR buffer[MAX_PATH + 1];
  if (DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, buffer); n > 0 && n <= MAX_PATH)
    folders.emplace_back(buffer, n);
  if (UINT n = GetSystemDirectoryW(buffer, MAX_PATH + 1); n > 0 && n <= MAX_PATH) folders.emplace_back(buffer, n);
  if (UINT n = GetWindowsDirectoryW(buffer, MAX_PATH + 1); n > 0 && n <= MAX_PATH) folders.emplace_back(buffer, n);
  if (const char* path = std::getenv("PATH")) {
    std::string all = path;
    std::size_t start = 0;
    while (start <= all.size()) {
      std::size_t end = all.find(':', start);
      if (end == std::string::npos) end = all.size();
      if (end > start && all[start] == '/') folders.push_back(to_windows_path(all.substr(start, end - start)));
      start = end + 1;
    }
  }
  for (auto& folder : folders) {
    if (folder.empty()) continue;
    if (!is_separator(folder.back())) folder += u'\\';
    std::string found = find_with_extension(folder + name);
    if (!found.empty()) return found;
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return {};
}

std::vector<std::string> environment_block(const void* block, bool wide) {
  std::vector<std::string> out;
  if (wide) {
    const char16_t* p = static_cast<const char16_t*>(block);
    while (*p) {
      std::size_t n = wcslen16(p);
      out.push_back(utf16_to_utf8(std::u16string_view(p, n)));
      p += n + 1;
    }
  } else {
    const char* p = static_cast<const char*>(block);
    while (*p) {
      std::size_t n = std::char_traits<char>::length(p);
      int wn = MultiByteToWideChar(CP_ACP, 0, p, static_cast<int>(n), nullptr, 0);
      std::u16string w(static_cast<std::size_t>(wn), u'\0');
      MultiByteToWideChar(CP_ACP, 0, p, static_cast<int>(n), w.data(), wn);
      out.push_back(utf16_to_utf8(w));
      p += n + 1;
    }
  }
  return out;
}

DWORD spawn_error(int err) {
  switch (err) {
    case ENOEXEC:
    case ELIBBAD:
      return ERROR_BAD_EXE_FORMAT;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return set_last_error_from_errno(err);
  }
}

std::shared_ptr<ProcessObject> process_of(HANDLE h) { return handle_lookup_as<ProcessObject>(h); }

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) {
  std::vector<std::u16string> args;
  std::size_t i = 0;
  const std::size_t n = line.size();
  auto blank = [&](std::size_t k) { return line[k] == u' ' || line[k] == u'\t'; };

  // The program name: quotes toggle and vanish, backslashes are plain.
  std::u16string first;
  bool in_quotes = false;
  while (i < n && (in_quotes || !blank(i))) {
    if (line[i] == u'"')
      in_quotes = !in_quotes;
    else
      first += line[i];
    ++i;
  }
  args.push_back(first);

  for (;;) {
    while (i < n && blank(i)) ++i;
    if (i >= n) break;
    std::u16string arg;
    bool quoted = false;
    for (;;) {
      std::size_t slashes = 0;
      while (i < n && line[i] == u'\\') {
        ++slashes;
        ++i;
      }
      bool copy = true;
      if (i < n && line[i] == u'"') {
        if (slashes % 2 == 0) {
          if (quoted && i + 1 < n && line[i + 1] == u'"') {
            ++i;  // "" inside quotes: one literal quote
          } else {
            copy = false;
            quoted = !quoted;
          }
        }
        slashes /= 2;
      }
      arg.append(slashes, u'\\');
      if (i >= n || (!quoted && blank(i))) break;
      if (copy) arg += line[i];
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace win32

BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW,
                    LPPROCESS_INFORMATION lpProcessInformation) {
  using namespace win32;
  if ((!lpApplicationName || !*lpApplicationName) && (!lpCommandLine || !*lpCommandLine)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (dwCreationFlags & CREATE_SUSPENDED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  std::vector<std::u16string> args;
  if (lpCommandLine && *lpCommandLine) args = split_command_line(lpCommandLine);
  std::u16string program = lpApplicationName && *lpApplicationName ? std::u16string(lpApplicationName) : args[0];
  if (args.empty()) args.push_back(program);
  std::string file = find_program(program);
  if (file.empty()) return FALSE;

  std::string folder;
  if (lpCurrentDirectory && *lpCurrentDirectory) {
    MappedPath m;
    struct stat st;
    if (!map_path(lpCurrentDirectory, m) || m.state != PathState::Exists || ::stat(m.unix_path.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
      SetLastError(ERROR_DIRECTORY);
      return FALSE;
    }
    folder = m.unix_path;
  }

  std::vector<std::string> argv8;
  for (const auto& a : args) argv8.push_back(utf16_to_utf8(a));
  std::vector<char*> argv;
  for (auto& a : argv8) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env8;
  std::vector<char*> envp;
  char** env = environ;
  if (lpEnvironment) {
    env8 = environment_block(lpEnvironment, (dwCreationFlags & CREATE_UNICODE_ENVIRONMENT) != 0);
    for (auto& e : env8) envp.push_back(e.data());
    envp.push_back(nullptr);
    env = envp.data();
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  // The child starts with the default signal dispositions and an empty mask,
  // whatever this process blocks or ignores.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (dwCreationFlags & CREATE_NEW_PROCESS_GROUP) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attr, 0);
  }
  posix_spawnattr_setflags(&attr, flags);
  pid_t pid = 0;
  int err = posix_spawn(&pid, file.c_str(), &actions, &attr, argv.data(), env);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (err != 0) {
    SetLastError(spawn_error(err));
    return FALSE;
  }
  auto process = std::make_shared<ProcessObject>(pid);
  process->watch(process);
  if (lpProcessInformation) {
    lpProcessInformation->hProcess = handle_insert(process);
    lpProcessInformation->hThread = handle_insert(process);
    lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  if (hProcess == GetCurrentProcess()) {
    if (lpExitCode) *lpExitCode = STILL_ACTIVE;
    return TRUE;
  }
  auto p = win32::process_of(hProcess);
  if (!p || !lpExitCode) {
    SetLastError(p ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *lpExitCode = p->exit_code();
  return TRUE;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  auto p = win32::process_of(hProcess);
  if (!p) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!p->terminate(uExitCode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

DWORD GetProcessId(HANDLE Process) {
  if (Process == GetCurrentProcess()) return GetCurrentProcessId();
  auto p = win32::process_of(Process);
  if (!p) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(p->pid());
}
