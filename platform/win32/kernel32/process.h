// Process facts: the program's module and the system modules, exported entry
// points, the environment, the command line and exit.
//
// The program file is /proc/self/exe as a Windows path, or KV_PROGRAM_PATH (a
// Windows path, or a Unix path starting with '/') when set. System modules
// (kernel32, ntdll, user32, gdi32, advapi32, shell32, version, ole32, ws2_32,
// msi, ...) are names of the layer: they "load" by name wherever the path
// points, and GetProcAddress hands out only the entry points the layer has
// (platform/win32/layer/exports.cpp); any other name fails with ERROR_PROC_NOT_FOUND
// so that the caller's fallback runs. Other libraries fail with
// ERROR_MOD_NOT_FOUND.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/layer/types.h"

#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

// Fills the buffer and returns the length; a buffer too small gets the
// truncated path with its terminator and the result is nSize, with
// ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
HMODULE GetModuleHandleA(LPCSTR lpModuleName);
HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
BOOL FreeLibrary(HMODULE hLibModule);
// lpProcName below 0x10000 is an ordinal.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

// Names ignore case. A variable that the Unix environment lacks answers the
// world's value for the usual Windows names (SystemRoot, windir, SystemDrive,
// TEMP, TMP, ProgramFiles, CommonProgramFiles, ProgramData, ALLUSERSPROFILE,
// USERPROFILE, APPDATA, LOCALAPPDATA, USERNAME, COMPUTERNAME, OS).
DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);
DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
BOOL SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue);
BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue);
// Returns the size needed, terminator included; unknown %names% stay as written.
DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize);

// A child that CreateProcessW of the layer started answers the command line
// it was given, exactly. Any other process answers its arguments joined by
// Windows quoting rules, the program as a Windows path first.
LPWSTR GetCommandLineW();
LPSTR GetCommandLineA();
// The whole 32-bit code reaches a parent of the layer (GetExitCodeProcess);
// other parents see its low byte.
[[noreturn]] void ExitProcess(UINT uExitCode);
DWORD GetCurrentProcessId();

#define MAX_COMPUTERNAME_LENGTH 15
#ifndef ERROR_BUFFER_OVERFLOW
#define ERROR_BUFFER_OVERFLOW 111L
#endif
// The account's name (the Unix user's). *pcbBuffer is the size in characters;
// it receives the characters copied with the terminator, or, with
// ERROR_INSUFFICIENT_BUFFER, the size needed with the terminator.
BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer);
// The machine's NetBIOS name: the host name in capitals, at most 15
// characters. *nSize receives the length without the terminator, or, with
// ERROR_BUFFER_OVERFLOW, the size needed with the terminator.
BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize);

struct SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
using LPSYSTEM_INFO = SYSTEM_INFO*;

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_ARM64 12

// The machine as a 64-bit process sees it: pages of 4096 bytes, allocations
// of 64 KB, the processors this process may run on. GetNativeSystemInfo is
// an export of kernel32 (looked up at run time) and answers the same.
void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);
void GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo);

namespace win32 {

// Makes GetProcAddress hand out `entry` for `module`!`name` (module without
// ".dll", any case; name "#n" for an ordinal). For entry points that exist only
// at run time, such as tests' stand-ins.
// A null entry hides the name, built-in or not, as on a system without it.
void register_export(const char* module, const char* name, FARPROC entry);
// Undoes register_export: the built-in answer (or none) again.
void unregister_export(const char* module, const char* name);
// The program file's Windows path.
std::u16string module_path();
// `arg` as one argument of a command line, quoted (or, with `always`, quoted
// even when plain) so that the Windows splitting rules give it back unchanged.
std::u16string quote_argument(const std::u16string& arg, bool always = false);
// Calls `prepare` in the forking thread before a fork, then `parent` in the
// parent and `child` in the new process (which has only the forking thread).
// Libraries that keep worker threads use it; any of the three may be null.
void at_fork(void (*prepare)(), void (*parent)(), void (*child)());
// What CreateProcessW hands a child of the layer in its environment `env`
// ("NAME=value" texts; stale ones of an earlier generation are dropped): its
// command line, and the pipe descriptor it leaves its 32-bit exit code in
// (none when negative). The child takes both at start, only when they come
// from its own parent and match its arguments.
void child_records(std::vector<std::string>& env, const std::u16string& line, int record_fd);

}  // namespace win32
