#include "platform/win32/kernel32/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/process.h"
#include "platform/win32/kernel32/thread.h"
#include "platform/win32/kernel32/waitable.h"

extern char** environ;

namespace win32 {

namespace {

// The exit status Windows gives a process that a fault ends: what the fault's
// exception code is there. An abort is the release runtime's fast fail. Other
// signals keep 128 plus their number, as a Unix shell reports them.
DWORD status_of_signal(int sig) {
  switch (sig) {
    case SIGSEGV:
    case SIGBUS:
      return 0xC0000005;  // STATUS_ACCESS_VIOLATION
    case SIGILL:
      return 0xC000001D;  // STATUS_ILLEGAL_INSTRUCTION
    case SIGFPE:
      return 0xC0000094;  // STATUS_INTEGER_DIVIDE_BY_ZERO
    case SIGABRT:
      return 0xC0000409;  // STATUS_STACK_BUFFER_OVERRUN
    case SIGTRAP:
      return 0x80000003;  // STATUS_BREAKPOINT
    default:
      return 128 + static_cast<DWORD>(sig);
  }
}

// A child until its end is seen. The end is first observed without reaping
// (WNOWAIT), so that a kill racing with it can never reach a reused pid.
// A child of the layer leaves its full 32-bit code in the record pipe before
// it exits (ExitProcess); the wait status carries only the low byte, so the
// record wins when its low byte agrees with it.
class ProcessObject : public Signal {
 public:
  ProcessObject(pid_t pid, int record, int gate)
      : Signal(ObjectKind::Process, true, false), pid_(pid), record_(record), gate_(gate) {}
  ~ProcessObject() override {
    if (gate_ >= 0) ::close(gate_);
  }

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
  // The suspend count before: 1 for a child started suspended and not yet
  // resumed, else 0.
  DWORD resume() {
    std::lock_guard<std::mutex> g(m_);
    if (gate_ < 0) return 0;
    const char go = 1;
    while (::write(gate_, &go, 1) < 0 && errno == EINTR) {
    }
    ::close(gate_);
    gate_ = -1;
    return 1;
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
            self->code_ = self->recorded_code(static_cast<DWORD>(info.si_status));
          else
            self->code_ = status_of_signal(info.si_status);
        }
        if (self->record_ >= 0) ::close(self->record_);
        self->record_ = -1;
        self->ended_ = true;
        int status = 0;
        while (::waitpid(self->pid_, &status, 0) < 0 && errno == EINTR) {
        }
      }
      self->set();
    }).detach();
  }

 private:
  DWORD recorded_code(DWORD low_byte) {
    if (record_ < 0) return low_byte;
    unsigned char b[4];
    ssize_t n;
    while ((n = ::read(record_, b, sizeof b)) < 0 && errno == EINTR) {
    }
    if (n != 4) return low_byte;
    DWORD code = b[0] | (DWORD{b[1]} << 8) | (DWORD{b[2]} << 16) | (DWORD{b[3]} << 24);
    return (code & 0xFF) == low_byte ? code : low_byte;
  }

  pid_t pid_;
  int record_;  // read end, non-blocking; -1 once read
  int gate_;    // write end of a suspended child's start gate; -1 once opened
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

bool is_folder(const std::u16string& windows_path) {
  MappedPath m;
  struct stat st;
  return map_path(windows_path.c_str(), m) && m.state == PathState::Exists && ::stat(m.unix_path.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
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
    if (found.empty()) SetLastError(is_folder(name) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
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

// Only an ELF program or a script with an interpreter line runs here: a
// Windows executable, a text file or anything else named ".exe" is no program
// of this machine. A file that cannot be read is left to the start to judge.
bool runnable_format(const std::string& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  unsigned char head[4] = {};
  ssize_t n;
  while ((n = ::read(fd, head, sizeof head)) < 0 && errno == EINTR) {
  }
  ::close(fd);
  if (n >= 2 && head[0] == '#' && head[1] == '!') return true;
  return n == 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
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

std::vector<std::u16string> split_command_line(std::u16string_view line, bool shell_rule) {
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
            if (shell_rule) quoted = false;
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

namespace win32 {
namespace {

// A descriptor of this process, closed when it goes.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  int release() {
    int f = fd;
    fd = -1;
    return f;
  }
};

// The child's standard stream from a start-up record's handle: a private copy
// of a file handle's descriptor, above the standard three so that the moves
// into 0, 1 and 2 cannot overwrite one another; anything else reads and
// writes nothing.
int stream_for(HANDLE h, bool input) {
  FileHandleFacts f;
  if (h && h != INVALID_HANDLE_VALUE && file_handle_facts(h, f) && f.fd >= 0 && !f.o_path) {
    int copy = ::fcntl(f.fd, F_DUPFD_CLOEXEC, 3);
    if (copy >= 0) return copy;
  }
  return ::open("/dev/null", (input ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
}

struct Launch {
  std::string file;
  std::string folder;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  bool new_group = false;
  int streams[3] = {-1, -1, -1};  // moved into 0, 1, 2 when set
  int record = -1;                // kept open in the child under its own number
};

int spawn_now(const Launch& l, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  if (!l.folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, l.folder.c_str());
  for (int i = 0; i < 3; ++i)
    if (l.streams[i] >= 0) posix_spawn_file_actions_adddup2(&actions, l.streams[i], i);
  // A move onto itself clears close-on-exec: the record survives the start.
  if (l.record >= 0) posix_spawn_file_actions_adddup2(&actions, l.record, l.record);
  // The child starts with the default signal dispositions and an empty mask,
  // whatever this process blocks or ignores.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (l.new_group) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attr, 0);
  }
  posix_spawnattr_setflags(&attr, flags);
  int err = posix_spawn(&pid, l.file.c_str(), &actions, &attr, l.argv, l.envp);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return err;
}

// A child that waits at `gate` (a pipe's read end) before it starts the
// program: one byte lets it go, the end of the pipe ends it. Between fork and
// exec it makes only async-signal-safe calls. Until it is let go it holds
// copies of this process's descriptors, as a child of fork does.
int spawn_suspended(const Launch& l, int gate, pid_t& pid) {
  sigset_t all, none, old;
  sigfillset(&all);
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pid = ::fork();
  if (pid == 0) {
    char go = 0;
    ssize_t n;
    while ((n = ::read(gate, &go, 1)) < 0 && errno == EINTR) {
    }
    if (n != 1) ::_exit(1);
    if (l.new_group) ::setpgid(0, 0);
    if (!l.folder.empty() && ::chdir(l.folder.c_str()) != 0) ::_exit(127);
    for (int i = 0; i < 3; ++i)
      if (l.streams[i] >= 0) ::dup2(l.streams[i], i);
    if (l.record >= 0) ::fcntl(l.record, F_SETFD, 0);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(l.file.c_str(), l.argv, l.envp);
    ::_exit(127);
  }
  int err = pid < 0 ? errno : 0;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return err;
}

}  // namespace
}  // namespace win32

BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                    LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
  using namespace win32;
  if ((!lpApplicationName || !*lpApplicationName) && (!lpCommandLine || !*lpCommandLine)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<std::u16string> args;
  std::u16string line;
  if (lpCommandLine && *lpCommandLine) {
    line = lpCommandLine;
    args = split_command_line(line);
  }
  std::u16string program = lpApplicationName && *lpApplicationName ? std::u16string(lpApplicationName) : args[0];
  if (args.empty()) {
    args.push_back(program);
    line = quote_argument(program);
  }
  Launch launch;
  launch.file = find_program(program);
  if (launch.file.empty()) return FALSE;
  if (!runnable_format(launch.file)) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return FALSE;
  }

  if (lpCurrentDirectory && *lpCurrentDirectory) {
    MappedPath m;
    struct stat st;
    if (!map_path(lpCurrentDirectory, m) || m.state != PathState::Exists || ::stat(m.unix_path.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
      SetLastError(ERROR_DIRECTORY);
      return FALSE;
    }
    launch.folder = m.unix_path;
  }

  std::vector<std::string> argv8;
  for (const auto& a : args) argv8.push_back(utf16_to_utf8(a));
  std::vector<char*> argv;
  for (auto& a : argv8) argv.push_back(a.data());
  argv.push_back(nullptr);
  launch.argv = argv.data();

  Fd record_read, record_write;
  {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) == 0) {
      record_read.fd = ends[0];
      record_write.fd = ends[1];
      ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    }
  }
  launch.record = record_write.fd;

  std::vector<std::string> env8;
  if (lpEnvironment) {
    env8 = environment_block(lpEnvironment, (dwCreationFlags & CREATE_UNICODE_ENVIRONMENT) != 0);
  } else {
    for (char** e = environ; e && *e; ++e) env8.emplace_back(*e);
  }
  child_records(env8, line, record_write.fd);
  std::vector<char*> envp;
  for (auto& e : env8) envp.push_back(e.data());
  envp.push_back(nullptr);
  launch.envp = envp.data();

  Fd streams[3];
  if (lpStartupInfo && (lpStartupInfo->dwFlags & STARTF_USESTDHANDLES)) {
    const HANDLE given[3] = {lpStartupInfo->hStdInput, lpStartupInfo->hStdOutput, lpStartupInfo->hStdError};
    for (int i = 0; i < 3; ++i) launch.streams[i] = streams[i].fd = stream_for(given[i], i == 0);
  }
  launch.new_group = (dwCreationFlags & CREATE_NEW_PROCESS_GROUP) != 0;

  pid_t pid = 0;
  int err;
  Fd gate_read, gate_write;
  if (dwCreationFlags & CREATE_SUSPENDED) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      SetLastError(spawn_error(errno));
      return FALSE;
    }
    gate_read.fd = ends[0];
    gate_write.fd = ends[1];
    err = spawn_suspended(launch, gate_read.fd, pid);
  } else {
    err = spawn_now(launch, pid);
  }
  if (err != 0) {
    SetLastError(spawn_error(err));
    return FALSE;
  }
  auto process = std::make_shared<ProcessObject>(pid, record_read.release(), gate_write.release());
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

namespace win32 {

bool process_thread_exit_code(HANDLE h, DWORD& code) {
  auto p = process_of(h);
  if (!p) return false;
  code = p->exit_code();
  return true;
}

bool resume_process_thread(HANDLE h, DWORD& previous) {
  auto p = process_of(h);
  if (!p) return false;
  previous = p->resume();
  return true;
}

}  // namespace win32

LPWSTR* CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs) {
  if (!pNumArgs) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<std::u16string> args;
  if (!lpCmdLine || !*lpCmdLine)
    args.push_back(win32::module_path());
  else
    args = win32::split_command_line(lpCmdLine, true);
  std::size_t chars = 0;
  for (const auto& a : args) chars += a.size() + 1;
  const std::size_t table = (args.size() + 1) * sizeof(LPWSTR);
  auto* block = static_cast<unsigned char*>(LocalAlloc(LMEM_FIXED, table + chars * sizeof(WCHAR)));
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto** argv = reinterpret_cast<LPWSTR*>(block);
  auto* text = reinterpret_cast<WCHAR*>(block + table);
  for (std::size_t i = 0; i < args.size(); ++i) {
    argv[i] = text;
    std::copy(args[i].begin(), args[i].end(), text);
    text += args[i].size();
    *text++ = 0;
  }
  argv[args.size()] = nullptr;
  *pNumArgs = static_cast<int>(args.size());
  return argv;
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
