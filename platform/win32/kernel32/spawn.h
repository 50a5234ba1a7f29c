// Child processes. CreateProcessW splits the command line as a Windows
// program's C runtime does and starts the program with posix_spawn, handing it
// those arguments; no shell stands between. A process handle is waitable with
// the other kinds of the layer and becomes signalled when the child ends.
//
// The program: lpApplicationName when given, else the command line's first
// argument. A name with a drive or a separator is a Windows path; a bare name
// is looked for in the program's folder, the current folder, the system and
// Windows folders, then the Unix PATH. A name that is not found as given is
// tried again with ".exe" appended when it has no extension. A file that
// cannot be run here (a Windows executable, a text file, anything but an ELF
// program or a script with an interpreter line) fails with
// ERROR_BAD_EXE_FORMAT; a folder, or a file without execute permission, with
// ERROR_ACCESS_DENIED.
//
// Exit codes are 32-bit for a child that ends with ExitProcess. A child that a
// fault ends gets the exception code Windows gives it: SIGSEGV and SIGBUS
// 0xC0000005, SIGILL 0xC000001D, SIGFPE 0xC0000094, SIGABRT 0xC0000409 (the
// release runtime's abort), SIGTRAP 0x80000003; any other signal other than
// through TerminateProcess ends it with 128 plus the signal's number, as a
// Unix shell reports it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/layer/forward.h"
#include "platform/win32/layer/types.h"

#define DETACHED_PROCESS 0x00000008
#define CREATE_NEW_CONSOLE 0x00000010
#define CREATE_NEW_PROCESS_GROUP 0x00000200
#define CREATE_UNICODE_ENVIRONMENT 0x00000400
#define CREATE_NO_WINDOW 0x08000000

#define STARTF_USESHOWWINDOW 0x00000001
#define STARTF_USESTDHANDLES 0x00000100

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOW 5

struct STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

// Window placement and console requests of the start-up record are ignored.
// The child shares this process's standard streams unless STARTF_USESTDHANDLES
// gives its own: a file handle of the layer, or for any other handle (null
// included) a stream that reads and writes nothing.
// CREATE_NEW_PROCESS_GROUP puts the child in a process group of its own; a
// non-null environment is a block of "NAME=value" texts, UTF-16 with
// CREATE_UNICODE_ENVIRONMENT, else ANSI. With CREATE_SUSPENDED the program
// starts at ResumeThread(hThread); until then the child holds copies of this
// process's descriptors. hThread waits like hProcess, answers
// GetExitCodeThread with the process's code and is closed the same.
BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation);
// This process's start-up record: no flags, the desktop "WinSta0\Default" and
// the program's path as title, both living as long as the process.
void GetStartupInfoW(LPSTARTUPINFOW lpStartupInfo);
// STILL_ACTIVE while the child runs; GetCurrentProcess() is always running.
BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
// Kills the child; its exit code becomes uExitCode. ERROR_ACCESS_DENIED once
// it has ended, as on Windows.
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);
DWORD GetProcessId(HANDLE Process);

// The arguments of a command line by the shell's rules: those of the C
// runtime, except that "" inside quotes gives a literal quote and ends the
// quoting (as the runtimes before 2008 did). An empty or null line gives the
// program's path alone; a line that starts with a blank gives an empty first
// argument. One LocalAlloc block holds the null-terminated array and the
// texts (free it with LocalFree). A null pNumArgs: ERROR_INVALID_PARAMETER.
LPWSTR* CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs);

namespace win32 {

// The arguments a Windows C runtime makes of a command line: the first by the
// program-name rule (a leading quote runs to the next quote, else up to a
// blank), the rest by the backslash-and-quote rules (2n backslashes before a
// quote give n and the quote toggles quoting; 2n+1 give n and a literal quote;
// "" inside quotes is a literal quote).
// `shell_rule` splits as CommandLineToArgvW does.
std::vector<std::u16string> split_command_line(std::u16string_view line, bool shell_rule = false);
// The thread calls on PROCESS_INFORMATION.hThread; false when `h` names no
// child process.
bool process_thread_exit_code(HANDLE h, DWORD& code);
bool resume_process_thread(HANDLE h, DWORD& previous);

}  // namespace win32
