#include "system/layer.h"

#include <cstdlib>
#include <new>

namespace Windows {

namespace entry {
DWORD_PTR (*SHGetFileInfoW)(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT infoSize, UINT flags) = nullptr;
BOOL (*SHGetPathFromIDListW)(LPCITEMIDLIST list, LPWSTR path) = nullptr;
BOOL (*Shell_NotifyIconW)(DWORD message, PNOTIFYICONDATAW data) = nullptr;
BOOL (*Process32FirstW)(HANDLE snapshot, LPPROCESSENTRY32W entry) = nullptr;
BOOL (*Process32NextW)(HANDLE snapshot, LPPROCESSENTRY32W entry) = nullptr;
BOOL (*Module32FirstW)(HANDLE snapshot, LPMODULEENTRY32W entry) = nullptr;
DWORD (*GetFileVersionInfoSizeW)(LPCWSTR name, LPDWORD handle) = nullptr;
BOOL (*GetFileVersionInfoW)(LPCWSTR name, DWORD handle, DWORD size, LPVOID data) = nullptr;
BOOL (*VerQueryValueW)(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) = nullptr;
BOOL (*CredWriteW)(PCREDENTIALW credential, DWORD flags) = nullptr;
BOOL (*CredReadW)(LPCWSTR target, DWORD type, DWORD flags, PCREDENTIALW* credential) = nullptr;
BOOL (*CredDeleteW)(LPCWSTR target, DWORD type, DWORD flags) = nullptr;
void (*CredFree)(PVOID buffer) = nullptr;
BOOL (*CredEnumerateW)(LPCWSTR filter, DWORD flags, DWORD* count, PCREDENTIALW** credentials) = nullptr;
BOOL (*CredMarshalCredentialW)(CRED_MARSHAL_TYPE type, PVOID credential, LPWSTR* marshaled) = nullptr;
BOOL (*CredUnmarshalCredentialW)(LPCWSTR marshaled, PCRED_MARSHAL_TYPE type, PVOID* credential) = nullptr;
LONG (*RegDeleteKeyExW)(HKEY key, LPCWSTR subKey, REGSAM access, DWORD reserved) = nullptr;
BOOL (*Wow64DisableWow64FsRedirection)(PVOID* oldValue) = nullptr;
BOOL (*Wow64RevertWow64FsRedirection)(PVOID oldValue) = nullptr;
void (*GetNativeSystemInfo)(LPSYSTEM_INFO info) = nullptr;
BOOL (*Process32First)(HANDLE snapshot, void* entry) = nullptr;
BOOL (*Process32Next)(HANDLE snapshot, void* entry) = nullptr;
BOOL (*Module32First)(HANDLE snapshot, void* entry) = nullptr;
}  // namespace entry

namespace {

// A call the platform does not serve yet.
template <class R>
R notServed(R failure) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return failure;
}

// An optional entry point this system lacks: a clean failure, never a call
// through a null pointer.
template <class R>
R missing(R failure) {
  SetLastError(ERROR_PROC_NOT_FOUND);
  return failure;
}

template <class F>
F lookUp(const char* module, const char* name) {
  HMODULE m = GetModuleHandleA(module);
  if (!m) return nullptr;
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

// The file dialogs live with the GUI, which registers them when the
// program has one: looked up at each call, as the GUI registers after the
// layer starts.
template <class F>
F dialogEntry(const char* name) {
  return lookUp<F>("comdlg32", name);
}

void lookUpAll() {
  using namespace entry;
  SHGetFileInfoW = lookUp<decltype(SHGetFileInfoW)>("shell32", "SHGetFileInfoW");
  SHGetPathFromIDListW = lookUp<decltype(SHGetPathFromIDListW)>("shell32", "SHGetPathFromIDListW");
  Shell_NotifyIconW = lookUp<decltype(Shell_NotifyIconW)>("shell32", "Shell_NotifyIconW");
  Process32FirstW = lookUp<decltype(Process32FirstW)>("kernel32", "Process32FirstW");
  Process32NextW = lookUp<decltype(Process32NextW)>("kernel32", "Process32NextW");
  Module32FirstW = lookUp<decltype(Module32FirstW)>("kernel32", "Module32FirstW");
  GetFileVersionInfoSizeW = lookUp<decltype(GetFileVersionInfoSizeW)>("version", "GetFileVersionInfoSizeW");
  GetFileVersionInfoW = lookUp<decltype(GetFileVersionInfoW)>("version", "GetFileVersionInfoW");
  VerQueryValueW = lookUp<decltype(VerQueryValueW)>("version", "VerQueryValueW");
  CredWriteW = lookUp<decltype(CredWriteW)>("advapi32", "CredWriteW");
  CredReadW = lookUp<decltype(CredReadW)>("advapi32", "CredReadW");
  CredDeleteW = lookUp<decltype(CredDeleteW)>("advapi32", "CredDeleteW");
  CredFree = lookUp<decltype(CredFree)>("advapi32", "CredFree");
  CredEnumerateW = lookUp<decltype(CredEnumerateW)>("advapi32", "CredEnumerateW");
  CredMarshalCredentialW = lookUp<decltype(CredMarshalCredentialW)>("advapi32", "CredMarshalCredentialW");
  CredUnmarshalCredentialW = lookUp<decltype(CredUnmarshalCredentialW)>("advapi32", "CredUnmarshalCredentialW");
  RegDeleteKeyExW = lookUp<decltype(RegDeleteKeyExW)>("advapi32", "RegDeleteKeyExW");
  Wow64DisableWow64FsRedirection = lookUp<decltype(Wow64DisableWow64FsRedirection)>("kernel32", "Wow64DisableWow64FsRedirection");
  Wow64RevertWow64FsRedirection = lookUp<decltype(Wow64RevertWow64FsRedirection)>("kernel32", "Wow64RevertWow64FsRedirection");
  GetNativeSystemInfo = lookUp<decltype(GetNativeSystemInfo)>("kernel32", "GetNativeSystemInfo");
  Process32First = lookUp<decltype(Process32First)>("kernel32", "Process32First");
  Process32Next = lookUp<decltype(Process32Next)>("kernel32", "Process32Next");
  Module32First = lookUp<decltype(Module32First)>("kernel32", "Module32First");
}

void deleteLayer() {
  delete layer;
  layer = nullptr;
}

// The program's first initialiser: the entry points, then the layer, whose
// deletion is registered first and so runs last at exit.
struct Start {
  Start() {
    lookUpAll();
    layer = createLayer();
    std::atexit(deleteLayer);
  }
};
__attribute__((init_priority(500))) Start start;

// After the catalogue (a default-priority initialiser).
struct Versions {
  Versions() {
    const VersionValues v = versionValuesFor(GetVersion());
    isXpOrLater = v.isXpOrLater;
    keyWow64Flag64 = v.keyWow64Flag64;
    keyWow64Flag32 = v.keyWow64Flag32;
  }
} versions;

}  // namespace

LayerNT* layer = nullptr;
bool isXpOrLater = false;
REGSAM keyWow64Flag64 = 0;
REGSAM keyWow64Flag32 = 0;

LayerNT* createLayerFor(DWORD version) {
  if (version < 0x80000000u) return new (std::nothrow) LayerNT;
  return new (std::nothrow) Layer9x;
}

LayerNT* createLayer() { return createLayerFor(GetVersion()); }

VersionValues versionValuesFor(DWORD version) {
  const unsigned major = version & 0xFF, minor = (version >> 8) & 0xFF;
  const bool xp = major > 5 || (major == 5 && minor >= 1);
  return {xp, xp ? REGSAM{0x100} : 0, xp ? REGSAM{0x200} : 0};
}

void testing::lookUpEntryPoints() { lookUpAll(); }

LayerNT::~LayerNT() = default;

ATOM LayerNT::RegisterClassExW(const WNDCLASSEXW* wc) {
  return ::RegisterClassExW(wc);
}

LRESULT LayerNT::DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

LONG LayerNT::GetWindowLongW(HWND hwnd, int index) {
  return ::GetWindowLongW(hwnd, index);
}

LONG LayerNT::SetWindowLongW(HWND hwnd, int index, LONG value) {
  return ::SetWindowLongW(hwnd, index, value);
}

LRESULT LayerNT::SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(hwnd, msg, wParam, lParam);
}

BOOL LayerNT::SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::SendNotifyMessageW(hwnd, msg, wParam, lParam);
}

BOOL LayerNT::PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageW(hwnd, msg, wParam, lParam);
}

HWND LayerNT::CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND parent, DLGPROC dialogProc, LPARAM initParam) {
  return notServed<HWND>(nullptr);
}

BOOL LayerNT::PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
  return ::PeekMessageW(msg, hwnd, filterMin, filterMax, removeMsg);
}

LRESULT LayerNT::DispatchMessageW(const MSG* msg) {
  return ::DispatchMessageW(msg);
}

UINT LayerNT::RegisterClipboardFormatW(LPCWSTR format) {
  return notServed<UINT>(0);
}

int LayerNT::GetClipboardFormatNameW(UINT format, LPWSTR name, int capacity) {
  return notServed<int>(0);
}

BOOL LayerNT::FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  return ::FindNextFileW(find, data);
}

HANDLE LayerNT::FindFirstFileW(LPCWSTR name, LPWIN32_FIND_DATAW data) {
  return ::FindFirstFileW(name, data);
}

DWORD LayerNT::GetCurrentDirectoryW(DWORD capacity, LPWSTR buffer) {
  return ::GetCurrentDirectoryW(capacity, buffer);
}

BOOL LayerNT::SetCurrentDirectoryW(LPCWSTR path) {
  return ::SetCurrentDirectoryW(path);
}

HANDLE LayerNT::CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags, HANDLE templateFile) {
  return ::CreateFileW(name, access, share, security, disposition, flags, templateFile);
}

BOOL LayerNT::AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR item) {
  return notServed<BOOL>(FALSE);
}

BOOL LayerNT::ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR item) {
  return notServed<BOOL>(FALSE);
}

DWORD LayerNT::FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size, va_list* arguments) {
  return ::FormatMessageW(flags, source, messageId, languageId, buffer, size, arguments);
}

DWORD LayerNT::GetTempPathW(DWORD capacity, LPWSTR buffer) {
  return ::GetTempPathW(capacity, buffer);
}

UINT LayerNT::GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR name) {
  return ::GetTempFileNameW(path, prefix, unique, name);
}

DWORD LayerNT::GetLogicalDriveStringsW(DWORD capacity, LPWSTR buffer) {
  return ::GetLogicalDriveStringsW(capacity, buffer);
}

UINT LayerNT::GetDriveTypeW(LPCWSTR root) {
  return ::GetDriveTypeW(root);
}

UINT LayerNT::GetSystemDirectoryW(LPWSTR buffer, UINT capacity) {
  return ::GetSystemDirectoryW(buffer, capacity);
}

UINT LayerNT::GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) {
  return ::GetWindowsDirectoryW(buffer, capacity);
}

DWORD LayerNT::GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD capacity) {
  return ::GetShortPathNameW(longPath, shortPath, capacity);
}

BOOL LayerNT::CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  return ::CreateDirectoryW(path, security);
}

BOOL LayerNT::RemoveDirectoryW(LPCWSTR path) {
  return ::RemoveDirectoryW(path);
}

DWORD LayerNT::GetFileAttributesW(LPCWSTR name) {
  return ::GetFileAttributesW(name);
}

BOOL LayerNT::SetFileAttributesW(LPCWSTR name, DWORD attributes) {
  return ::SetFileAttributesW(name, attributes);
}

BOOL LayerNT::DeleteFileW(LPCWSTR name) {
  return ::DeleteFileW(name);
}

BOOL LayerNT::CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  return ::CopyFileW(from, to, failIfExists);
}

BOOL LayerNT::MoveFileW(LPCWSTR from, LPCWSTR to) {
  return ::MoveFileW(from, to);
}

BOOL LayerNT::MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  return ::MoveFileExW(from, to, flags);
}

DWORD LayerNT::GetFullPathNameW(LPCWSTR name, DWORD capacity, LPWSTR buffer, LPWSTR* filePart) {
  return ::GetFullPathNameW(name, capacity, buffer, filePart);
}

BOOL LayerNT::SetWindowTextW(HWND hwnd, LPCWSTR text) {
  return notServed<BOOL>(FALSE);
}

void LayerNT::OutputDebugStringW(LPCWSTR text) { ::OutputDebugStringW(text); }

LONG LayerNT::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  return ::RegOpenKeyExW(key, subKey, options, access, result);
}

LONG LayerNT::RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  return ::RegCreateKeyExW(key, subKey, reserved, keyClass, options, access, security, result, disposition);
}

LONG LayerNT::RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPWSTR keyClass, LPDWORD classSize, PFILETIME lastWrite) {
  return ::RegEnumKeyExW(key, index, name, nameSize, reserved, keyClass, classSize, lastWrite);
}

LONG LayerNT::RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  return ::RegEnumValueW(key, index, name, nameSize, reserved, type, data, dataSize);
}

LONG LayerNT::RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  return ::RegDeleteKeyW(key, subKey);
}

LONG LayerNT::RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize) {
  return ::RegSetValueExW(key, name, reserved, type, data, dataSize);
}

LONG LayerNT::RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  return ::RegQueryValueExW(key, name, reserved, type, data, dataSize);
}

LONG LayerNT::RegDeleteValueW(HKEY key, LPCWSTR name) {
  return ::RegDeleteValueW(key, name);
}

BOOL LayerNT::SystemParametersInfoW(UINT action, UINT param, PVOID data, UINT winIni) {
  return ::SystemParametersInfoW(action, param, data, winIni);
}

HFONT LayerNT::CreateFontIndirectW(const LOGFONTW* font) { return ::CreateFontIndirectW(font); }

BOOL LayerNT::GetTextMetricsW(HDC dc, LPTEXTMETRICW metrics) { return ::GetTextMetricsW(dc, metrics); }

int LayerNT::EnumFontFamiliesExW(HDC dc, LOGFONTW* font, FONTENUMPROCW proc, LPARAM lParam, DWORD flags) {
  return ::EnumFontFamiliesExW(dc, font, proc, lParam, flags);
}

DWORD LayerNT::ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR buffer, DWORD capacity) {
  return ::ExpandEnvironmentStringsW(source, buffer, capacity);
}

BOOL LayerNT::GetOpenFileNameW(LPOPENFILENAMEW request) {
  const auto dialog = dialogEntry<BOOL (*)(LPOPENFILENAMEW)>("GetOpenFileNameW");
  return dialog ? dialog(request) : notServed<BOOL>(FALSE);
}

BOOL LayerNT::GetSaveFileNameW(LPOPENFILENAMEW request) {
  const auto dialog = dialogEntry<BOOL (*)(LPOPENFILENAMEW)>("GetSaveFileNameW");
  return dialog ? dialog(request) : notServed<BOOL>(FALSE);
}

SHORT LayerNT::VkKeyScanW(WCHAR ch) { return ::VkKeyScanW(ch); }

SHORT LayerNT::VkKeyScanExW(WCHAR ch, HKL layout) { return ::VkKeyScanExW(ch, layout); }

// The system has no WinHelp viewer: the call fails as where it is missing.
BOOL LayerNT::WinHelpW(HWND, LPCWSTR, UINT, ULONG_PTR) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

HMODULE LayerNT::LoadLibraryW(LPCWSTR name) {
  return ::LoadLibraryW(name);
}

HMODULE LayerNT::LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  return ::LoadLibraryExW(name, file, flags);
}

BOOL LayerNT::CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity, LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags, LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
  return ::CreateProcessW(application, commandLine, processSecurity, threadSecurity, inheritHandles, flags, environment, currentDirectory, startup, information);
}

void LayerNT::GetStartupInfoW(LPSTARTUPINFOW startup) {
  ::GetStartupInfoW(startup);
}

BOOL LayerNT::GetUserNameW(LPWSTR buffer, LPDWORD size) {
  return ::GetUserNameW(buffer, size);
}

BOOL LayerNT::GetComputerNameW(LPWSTR buffer, LPDWORD size) {
  return ::GetComputerNameW(buffer, size);
}

BOOL LayerNT::SetComputerNameW(LPCWSTR name) {
  return notServed<BOOL>(FALSE);
}

DWORD LayerNT::GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity) {
  return ::GetModuleFileNameW(module, buffer, capacity);
}

int LayerNT::GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int capacity) {
  return ::GetLocaleInfoW(locale, type, data, capacity);
}

int LayerNT::GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR buffer, int capacity) {
  return ::GetTimeFormatW(locale, flags, time, format, buffer, capacity);
}

int LayerNT::GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCWSTR format, LPWSTR buffer, int capacity) {
  return ::GetDateFormatW(locale, flags, date, format, buffer, capacity);
}

int LayerNT::GetNumberFormatW(LCID locale, DWORD flags, LPCWSTR value, const NUMBERFMTW* format, LPWSTR buffer, int capacity) {
  return ::GetNumberFormatW(locale, flags, value, format, buffer, capacity);
}

HINSTANCE LayerNT::ShellExecuteW(HWND hwnd, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show) {
  return ::ShellExecuteW(hwnd, operation, file, parameters, directory, show);
}

BOOL LayerNT::ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  return ::ShellExecuteExW(info);
}

DWORD_PTR LayerNT::SHGetFileInfoW(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT infoSize, UINT flags) {
  if (!entry::SHGetFileInfoW) return missing<DWORD_PTR>(0);
  return entry::SHGetFileInfoW(path, attributes, info, infoSize, flags);
}

BOOL LayerNT::SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path) {
  if (!entry::SHGetPathFromIDListW) return missing<BOOL>(FALSE);
  return entry::SHGetPathFromIDListW(list, path);
}

BOOL LayerNT::Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data) {
  if (!entry::Shell_NotifyIconW) return missing<BOOL>(FALSE);
  return entry::Shell_NotifyIconW(message, data);
}

BOOL LayerNT::Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  if (!entry::Process32FirstW) return missing<BOOL>(FALSE);
  return entry::Process32FirstW(snapshot, entry);
}

BOOL LayerNT::Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  if (!entry::Process32NextW) return missing<BOOL>(FALSE);
  return entry::Process32NextW(snapshot, entry);
}

BOOL LayerNT::Module32FirstW(HANDLE snapshot, LPMODULEENTRY32W entry) {
  if (!entry::Module32FirstW) return missing<BOOL>(FALSE);
  return entry::Module32FirstW(snapshot, entry);
}

DWORD LayerNT::GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle) {
  if (!entry::GetFileVersionInfoSizeW) return missing<DWORD>(0);
  return entry::GetFileVersionInfoSizeW(name, handle);
}

BOOL LayerNT::GetFileVersionInfoW(LPCWSTR name, DWORD handle, DWORD size, LPVOID data) {
  if (!entry::GetFileVersionInfoW) return missing<BOOL>(FALSE);
  return entry::GetFileVersionInfoW(name, handle, size, data);
}

BOOL LayerNT::VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) {
  if (!entry::VerQueryValueW) return missing<BOOL>(FALSE);
  return entry::VerQueryValueW(block, subBlock, buffer, length);
}

BOOL LayerNT::CredWriteW(PCREDENTIALW credential, DWORD flags) {
  if (!entry::CredWriteW) return missing<BOOL>(FALSE);
  return entry::CredWriteW(credential, flags);
}

BOOL LayerNT::CredReadW(LPCWSTR target, DWORD type, DWORD flags, PCREDENTIALW* credential) {
  if (!entry::CredReadW) return missing<BOOL>(FALSE);
  return entry::CredReadW(target, type, flags, credential);
}

BOOL LayerNT::CredDeleteW(LPCWSTR target, DWORD type, DWORD flags) {
  if (!entry::CredDeleteW) return missing<BOOL>(FALSE);
  return entry::CredDeleteW(target, type, flags);
}

void LayerNT::CredFree(PVOID buffer) {
  if (!entry::CredFree) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return;
  }
  entry::CredFree(buffer);
}

BOOL LayerNT::CredEnumerateW(LPCWSTR filter, DWORD flags, DWORD* count, PCREDENTIALW** credentials) {
  if (!entry::CredEnumerateW) return missing<BOOL>(FALSE);
  return entry::CredEnumerateW(filter, flags, count, credentials);
}

BOOL LayerNT::CredMarshalCredentialW(CRED_MARSHAL_TYPE type, PVOID credential, LPWSTR* marshaled) {
  if (!entry::CredMarshalCredentialW) return missing<BOOL>(FALSE);
  return entry::CredMarshalCredentialW(type, credential, marshaled);
}

BOOL LayerNT::CredUnmarshalCredentialW(LPCWSTR marshaled, PCRED_MARSHAL_TYPE type, PVOID* credential) {
  if (!entry::CredUnmarshalCredentialW) return missing<BOOL>(FALSE);
  return entry::CredUnmarshalCredentialW(marshaled, type, credential);
}

BOOL LayerNT::WriteConsoleW(HANDLE console, const void* buffer, DWORD count, LPDWORD written, LPVOID reserved) {
  return ::WriteConsoleW(console, buffer, count, written, reserved);
}

DWORD LayerNT::GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD capacity) {
  return ::GetEnvironmentVariableW(name, buffer, capacity);
}

BOOL LayerNT::SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
  return ::SetEnvironmentVariableW(name, value);
}
LONG LayerNT::RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM access, DWORD reserved) {
  if (entry::RegDeleteKeyExW) return entry::RegDeleteKeyExW(key, subKey, access, reserved);
  return RegDeleteKeyW(key, subKey);  // this object's slot: the ANSI twin converts
}

BOOL LayerNT::Wow64DisableWow64FsRedirection(PVOID* oldValue) {
  return entry::Wow64DisableWow64FsRedirection ? entry::Wow64DisableWow64FsRedirection(oldValue) : FALSE;
}

BOOL LayerNT::Wow64RevertWow64FsRedirection(PVOID oldValue) {
  return entry::Wow64RevertWow64FsRedirection ? entry::Wow64RevertWow64FsRedirection(oldValue) : FALSE;
}

void LayerNT::GetNativeSystemInfo(LPSYSTEM_INFO info) {
  if (entry::GetNativeSystemInfo)
    entry::GetNativeSystemInfo(info);
  else
    ::GetSystemInfo(info);
}

}  // namespace Windows
