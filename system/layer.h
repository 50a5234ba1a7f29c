// The operating-system layer object: one virtual operation per wide Win32
// function, so that code which must also run on Windows 9x calls the
// operation of the same name on Windows::layer and the ANSI twin
// (Windows::Layer9x) converts. Windows::LayerNT passes the caller's
// arguments unchanged and returns the function's result; a call the
// platform does not serve yet fails with ERROR_CALL_NOT_IMPLEMENTED.
#pragma once

#include <cstdarg>

#include "platform/win32/windows.h"

namespace Windows {

class LayerNT {
 public:
  LayerNT() = default;
  LayerNT(const LayerNT&) = delete;
  LayerNT& operator=(const LayerNT&) = delete;
  virtual ~LayerNT();  // 0
  virtual ATOM RegisterClassExW(const WNDCLASSEXW* wc);  // 1
  virtual LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);  // 2
  virtual LONG GetWindowLongW(HWND hwnd, int index);  // 3
  virtual LONG SetWindowLongW(HWND hwnd, int index, LONG value);  // 4
  virtual LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);  // 5
  virtual BOOL SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);  // 6
  virtual BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);  // 7
  virtual HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND parent, DLGPROC dialogProc, LPARAM initParam);  // 8
  virtual BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg);  // 9
  virtual LRESULT DispatchMessageW(const MSG* msg);  // 10
  virtual UINT RegisterClipboardFormatW(LPCWSTR format);  // 11
  virtual int GetClipboardFormatNameW(UINT format, LPWSTR name, int capacity);  // 12
  virtual BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);  // 13
  virtual HANDLE FindFirstFileW(LPCWSTR name, LPWIN32_FIND_DATAW data);  // 14
  virtual DWORD GetCurrentDirectoryW(DWORD capacity, LPWSTR buffer);  // 15
  virtual BOOL SetCurrentDirectoryW(LPCWSTR path);  // 16
  virtual HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags, HANDLE templateFile);  // 17
  virtual BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR item);  // 18
  virtual BOOL ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR item);  // 19
  virtual DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size, va_list* arguments);  // 20
  virtual DWORD GetTempPathW(DWORD capacity, LPWSTR buffer);  // 21
  virtual UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR name);  // 22
  virtual DWORD GetLogicalDriveStringsW(DWORD capacity, LPWSTR buffer);  // 23
  virtual UINT GetDriveTypeW(LPCWSTR root);  // 24
  virtual UINT GetSystemDirectoryW(LPWSTR buffer, UINT capacity);  // 25
  virtual UINT GetWindowsDirectoryW(LPWSTR buffer, UINT capacity);  // 26
  virtual DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD capacity);  // 27
  virtual BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);  // 28
  virtual BOOL RemoveDirectoryW(LPCWSTR path);  // 29
  virtual DWORD GetFileAttributesW(LPCWSTR name);  // 30
  virtual BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes);  // 31
  virtual BOOL DeleteFileW(LPCWSTR name);  // 32
  virtual BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists);  // 33
  virtual BOOL MoveFileW(LPCWSTR from, LPCWSTR to);  // 34
  virtual BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);  // 35
  virtual DWORD GetFullPathNameW(LPCWSTR name, DWORD capacity, LPWSTR buffer, LPWSTR* filePart);  // 36
  virtual BOOL SetWindowTextW(HWND hwnd, LPCWSTR text);  // 37
  virtual void OutputDebugStringW(LPCWSTR text);  // 38
  virtual LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);  // 39
  virtual LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);  // 40
  virtual LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPWSTR keyClass, LPDWORD classSize, PFILETIME lastWrite);  // 41
  virtual LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);  // 42
  virtual LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);  // 43
  virtual LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);  // 44
  virtual LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);  // 45
  virtual LONG RegDeleteValueW(HKEY key, LPCWSTR name);  // 46
  virtual BOOL SystemParametersInfoW(UINT action, UINT param, PVOID data, UINT winIni);  // 47
  virtual HFONT CreateFontIndirectW(const LOGFONTW* font);  // 48
  virtual BOOL GetTextMetricsW(HDC dc, LPTEXTMETRICW metrics);  // 49
  virtual int EnumFontFamiliesExW(HDC dc, LOGFONTW* font, FONTENUMPROCW proc, LPARAM lParam, DWORD flags);  // 50
  virtual DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR buffer, DWORD capacity);  // 51
  virtual BOOL GetOpenFileNameW(LPOPENFILENAMEW request);  // 52
  virtual BOOL GetSaveFileNameW(LPOPENFILENAMEW request);  // 53
  virtual SHORT VkKeyScanW(WCHAR ch);  // 54
  virtual SHORT VkKeyScanExW(WCHAR ch, HKL layout);  // 55
  virtual BOOL WinHelpW(HWND hwnd, LPCWSTR helpFile, UINT command, ULONG_PTR data);  // 56
  virtual HMODULE LoadLibraryW(LPCWSTR name);  // 57
  virtual HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);  // 58
  virtual BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity, LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags, LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information);  // 59
  virtual void GetStartupInfoW(LPSTARTUPINFOW startup);  // 60
  virtual BOOL GetUserNameW(LPWSTR buffer, LPDWORD size);  // 61
  virtual BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size);  // 62
  virtual BOOL SetComputerNameW(LPCWSTR name);  // 63
  virtual DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity);  // 64
  virtual int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int capacity);  // 65
  virtual int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR buffer, int capacity);  // 66
  virtual int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCWSTR format, LPWSTR buffer, int capacity);  // 67
  virtual int GetNumberFormatW(LCID locale, DWORD flags, LPCWSTR value, const NUMBERFMTW* format, LPWSTR buffer, int capacity);  // 68
  virtual HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show);  // 69
  virtual BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);  // 70
  virtual DWORD_PTR SHGetFileInfoW(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT infoSize, UINT flags);  // 71
  virtual BOOL SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path);  // 72
  virtual BOOL Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data);  // 73
  virtual BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry);  // 74
  virtual BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry);  // 75
  virtual BOOL Module32FirstW(HANDLE snapshot, LPMODULEENTRY32W entry);  // 76
  virtual DWORD GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle);  // 77
  virtual BOOL GetFileVersionInfoW(LPCWSTR name, DWORD handle, DWORD size, LPVOID data);  // 78
  virtual BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length);  // 79
  virtual BOOL CredWriteW(PCREDENTIALW credential, DWORD flags);  // 80
  virtual BOOL CredReadW(LPCWSTR target, DWORD type, DWORD flags, PCREDENTIALW* credential);  // 81
  virtual BOOL CredDeleteW(LPCWSTR target, DWORD type, DWORD flags);  // 82
  virtual void CredFree(PVOID buffer);  // 83
  virtual BOOL CredEnumerateW(LPCWSTR filter, DWORD flags, DWORD* count, PCREDENTIALW** credentials);  // 84
  virtual BOOL CredMarshalCredentialW(CRED_MARSHAL_TYPE type, PVOID credential, LPWSTR* marshaled);  // 85
  virtual BOOL CredUnmarshalCredentialW(LPCWSTR marshaled, PCRED_MARSHAL_TYPE type, PVOID* credential);  // 86
  virtual BOOL WriteConsoleW(HANDLE console, const void* buffer, DWORD count, LPDWORD written, LPVOID reserved);  // 87
  virtual DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD capacity);  // 88
  virtual BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value);  // 89
  virtual LONG RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM access, DWORD reserved);  // 90
  virtual BOOL Wow64DisableWow64FsRedirection(PVOID* oldValue);  // 91
  virtual BOOL Wow64RevertWow64FsRedirection(PVOID oldValue);  // 92
  virtual void GetNativeSystemInfo(LPSYSTEM_INFO info);  // 93
};

// The ANSI twin for Windows 9x: each override calls the ANSI function of the
// same name and converts texts and structures between UTF-16 and the ANSI
// code page both ways, so that callers keep the wide function's contract.
// Calls the platform serves in neither form keep the LayerNT operation.
class Layer9x : public LayerNT {
 public:
  ATOM RegisterClassExW(const WNDCLASSEXW* wc) override;
  LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  LONG GetWindowLongW(HWND hwnd, int index) override;
  LONG SetWindowLongW(HWND hwnd, int index, LONG value) override;
  LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) override;
  LRESULT DispatchMessageW(const MSG* msg) override;
  BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) override;
  HANDLE FindFirstFileW(LPCWSTR name, LPWIN32_FIND_DATAW data) override;
  DWORD GetCurrentDirectoryW(DWORD capacity, LPWSTR buffer) override;
  BOOL SetCurrentDirectoryW(LPCWSTR path) override;
  HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags, HANDLE templateFile) override;
  DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size, va_list* arguments) override;
  DWORD GetTempPathW(DWORD capacity, LPWSTR buffer) override;
  UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR name) override;
  DWORD GetLogicalDriveStringsW(DWORD capacity, LPWSTR buffer) override;
  UINT GetDriveTypeW(LPCWSTR root) override;
  UINT GetSystemDirectoryW(LPWSTR buffer, UINT capacity) override;
  UINT GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) override;
  DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD capacity) override;
  BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) override;
  BOOL RemoveDirectoryW(LPCWSTR path) override;
  DWORD GetFileAttributesW(LPCWSTR name) override;
  BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) override;
  BOOL DeleteFileW(LPCWSTR name) override;
  BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) override;
  BOOL MoveFileW(LPCWSTR from, LPCWSTR to) override;
  BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) override;
  DWORD GetFullPathNameW(LPCWSTR name, DWORD capacity, LPWSTR buffer, LPWSTR* filePart) override;
  LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) override;
  LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) override;
  LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPWSTR keyClass, LPDWORD classSize, PFILETIME lastWrite) override;
  LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) override;
  LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) override;
  LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize) override;
  LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) override;
  LONG RegDeleteValueW(HKEY key, LPCWSTR name) override;
  DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR buffer, DWORD capacity) override;
  HMODULE LoadLibraryW(LPCWSTR name) override;
  HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) override;
  DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity) override;
  int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int capacity) override;
  int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR buffer, int capacity) override;
  int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCWSTR format, LPWSTR buffer, int capacity) override;
  int GetNumberFormatW(LCID locale, DWORD flags, LPCWSTR value, const NUMBERFMTW* format, LPWSTR buffer, int capacity) override;
  BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) override;
  BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) override;
  BOOL Module32FirstW(HANDLE snapshot, LPMODULEENTRY32W entry) override;
  DWORD GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle) override;
  BOOL GetFileVersionInfoW(LPCWSTR name, DWORD handle, DWORD size, LPVOID data) override;
  BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) override;
  DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD capacity) override;
  BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) override;
  BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity, LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags, LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) override;
  void GetStartupInfoW(LPSTARTUPINFOW startup) override;
  HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show) override;
  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) override;
  BOOL SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path) override;
  void OutputDebugStringW(LPCWSTR text) override;
  BOOL SystemParametersInfoW(UINT action, UINT param, PVOID data, UINT winIni) override;
  HFONT CreateFontIndirectW(const LOGFONTW* font) override;
  BOOL GetTextMetricsW(HDC dc, LPTEXTMETRICW metrics) override;
  int EnumFontFamiliesExW(HDC dc, LOGFONTW* font, FONTENUMPROCW proc, LPARAM lParam, DWORD flags) override;
  BOOL GetOpenFileNameW(LPOPENFILENAMEW request) override;
  BOOL GetSaveFileNameW(LPOPENFILENAMEW request) override;
  SHORT VkKeyScanW(WCHAR ch) override;
  SHORT VkKeyScanExW(WCHAR ch, HKL layout) override;
  DWORD_PTR SHGetFileInfoW(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT infoSize, UINT flags) override;
  BOOL WriteConsoleW(HANDLE console, const void* buffer, DWORD count, LPDWORD written, LPVOID reserved) override;
  // Takes the wide record and hands the ANSI one to Shell_NotifyIconA.
  virtual BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAW data);  // 94
};

// The twin's conversions, all in the ANSI code page.
// A new ANSI copy of a UTF-16 text (delete[]); null gives null.
char* narrowCopy(const WCHAR* text);
// A new UTF-16 copy of an ANSI text (delete[]); null gives null.
WCHAR* wideCopy(const char* text);
// Up to and including the first NUL among the first `count` characters (all
// of them without one), within the destination's size; the units written.
int wideToAnsi(char* destination, int destinationBytes, const WCHAR* source, int count);
int ansiToWide(WCHAR* destination, int destinationChars, const char* source, int bytes);
// Hands each font the ANSI enumeration finds to the caller's wide callback
// (a FontEnumRequest behind `request`), LOGFONT and TEXTMETRIC converted;
// the callback's answer goes back to the enumeration.
struct FontEnumRequest {
  FONTENUMPROCW proc;
  LPARAM data;
};
int fontEnumThunk(const LOGFONTA* font, const TEXTMETRICA* metrics, DWORD type, LPARAM request);

// The process's one layer object: made before every other global of the
// program, deleted last at exit.
extern LayerNT* layer;

// A new LayerNT on the NT family, a Layer9x on Windows 9x (null when memory
// runs out); the caller owns it.
LayerNT* createLayer();
LayerNT* createLayerFor(DWORD version);

// Read once from GetVersion after the catalogue has loaded.
extern bool isXpOrLater;
extern REGSAM keyWow64Flag64;
extern REGSAM keyWow64Flag32;
struct VersionValues {
  bool isXpOrLater;
  REGSAM keyWow64Flag64;
  REGSAM keyWow64Flag32;
};
VersionValues versionValuesFor(DWORD version);

// The optional entry points, null where the system lacks them; looked up by
// name at start-up in modules the program has loaded already.
namespace entry {
extern DWORD_PTR (*SHGetFileInfoW)(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT infoSize, UINT flags);
extern BOOL (*SHGetPathFromIDListW)(LPCITEMIDLIST list, LPWSTR path);
extern BOOL (*Shell_NotifyIconW)(DWORD message, PNOTIFYICONDATAW data);
extern BOOL (*Process32FirstW)(HANDLE snapshot, LPPROCESSENTRY32W entry);
extern BOOL (*Process32NextW)(HANDLE snapshot, LPPROCESSENTRY32W entry);
extern BOOL (*Module32FirstW)(HANDLE snapshot, LPMODULEENTRY32W entry);
extern DWORD (*GetFileVersionInfoSizeW)(LPCWSTR name, LPDWORD handle);
extern BOOL (*GetFileVersionInfoW)(LPCWSTR name, DWORD handle, DWORD size, LPVOID data);
extern BOOL (*VerQueryValueW)(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length);
extern BOOL (*CredWriteW)(PCREDENTIALW credential, DWORD flags);
extern BOOL (*CredReadW)(LPCWSTR target, DWORD type, DWORD flags, PCREDENTIALW* credential);
extern BOOL (*CredDeleteW)(LPCWSTR target, DWORD type, DWORD flags);
extern void (*CredFree)(PVOID buffer);
extern BOOL (*CredEnumerateW)(LPCWSTR filter, DWORD flags, DWORD* count, PCREDENTIALW** credentials);
extern BOOL (*CredMarshalCredentialW)(CRED_MARSHAL_TYPE type, PVOID credential, LPWSTR* marshaled);
extern BOOL (*CredUnmarshalCredentialW)(LPCWSTR marshaled, PCRED_MARSHAL_TYPE type, PVOID* credential);
extern LONG (*RegDeleteKeyExW)(HKEY key, LPCWSTR subKey, REGSAM access, DWORD reserved);
extern BOOL (*Wow64DisableWow64FsRedirection)(PVOID* oldValue);
extern BOOL (*Wow64RevertWow64FsRedirection)(PVOID oldValue);
extern void (*GetNativeSystemInfo)(LPSYSTEM_INFO info);
extern BOOL (*Process32First)(HANDLE snapshot, void* entry);  // ANSI twin
extern BOOL (*Process32Next)(HANDLE snapshot, void* entry);  // ANSI twin
extern BOOL (*Module32First)(HANDLE snapshot, void* entry);  // ANSI twin
}  // namespace entry

namespace testing {
// Looks every optional entry point up again (after a test has hidden or
// provided one with win32::register_export).
void lookUpEntryPoints();
}  // namespace testing

}  // namespace Windows
