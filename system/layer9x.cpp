#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/win32/windows.h"
#include "system/layer.h"

namespace Windows {

char* narrowCopy(const WCHAR* text) {
  if (!text) return nullptr;
  const int length = static_cast<int>(win32::wcslen16(text));
  char* copy = new (std::nothrow) char[3 * static_cast<std::size_t>(length) + 1];
  if (!copy) return nullptr;
  if (WideCharToMultiByte(CP_ACP, 0, text, length + 1, copy, 3 * length + 1, nullptr, nullptr) <= 0) copy[0] = 0;
  return copy;
}

WCHAR* wideCopy(const char* text) {
  if (!text) return nullptr;
  const int length = static_cast<int>(std::strlen(text));
  WCHAR* copy = new (std::nothrow) WCHAR[static_cast<std::size_t>(length) + 1];
  if (!copy) return nullptr;
  if (MultiByteToWideChar(CP_ACP, 0, text, length + 1, copy, length + 1) <= 0) copy[0] = 0;
  return copy;
}

int wideToAnsi(char* destination, int destinationBytes, const WCHAR* source, int count) {
  if (!destination || !source || destinationBytes <= 0 || count <= 0) return 0;
  int n = 0;
  while (n < count && source[n]) ++n;
  if (n < count) ++n;  // the terminator
  std::string out(3 * static_cast<std::size_t>(n), '\0');
  int bytes = WideCharToMultiByte(CP_ACP, 0, source, n, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  if (bytes <= 0) return 0;
  if (bytes > destinationBytes) bytes = destinationBytes;
  std::memcpy(destination, out.data(), static_cast<std::size_t>(bytes));
  return bytes;
}

int ansiToWide(WCHAR* destination, int destinationChars, const char* source, int bytes) {
  if (!destination || !source || destinationChars <= 0 || bytes <= 0) return 0;
  int n = 0;
  while (n < bytes && source[n]) ++n;
  if (n < bytes) ++n;
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  int units = MultiByteToWideChar(CP_ACP, 0, source, n, out.data(), n);
  if (units <= 0) return 0;
  if (units > destinationChars) units = destinationChars;
  std::memcpy(destination, out.data(), static_cast<std::size_t>(units) * sizeof(WCHAR));
  return units;
}

namespace {

// A narrowCopy that lives for one ANSI call.
class Narrow {
 public:
  explicit Narrow(const WCHAR* text) : text_(narrowCopy(text)) {}
  operator const char*() const { return text_.get(); }
  char* get() const { return text_.get(); }

 private:
  std::unique_ptr<char[]> text_;
};

// A zeroed ANSI buffer of the caller's capacity, one byte per character.
class AnsiBuffer {
 public:
  explicit AnsiBuffer(std::size_t capacity) : bytes_(capacity ? new char[capacity]() : nullptr) {}
  char* get() const { return bytes_.get(); }

 private:
  std::unique_ptr<char[]> bytes_;
};

bool isResourceNumber(const void* p) { return reinterpret_cast<ULONG_PTR>(p) <= 0xFFFF; }

// The out rule for calls that answer with the text's length when it fits and
// the size needed otherwise: convert back only what fitted.
template <class N>
N lengthOut(N result, N capacity, const char* ansi, WCHAR* buffer) {
  if (result != 0 && result < capacity && buffer) ansiToWide(buffer, static_cast<int>(capacity), ansi, static_cast<int>(capacity));
  return result;
}

// The wide contract of a fixed-size ANSI answer (at most MAX_PATH): the text
// is copied only when it fits the caller's capacity with its terminator; the
// size needed otherwise.
DWORD pathOut(DWORD result, DWORD capacity, const char* ansi, WCHAR* buffer) {
  if (result == 0 || result >= MAX_PATH) return result;
  if (!buffer || result + 1 > capacity) return result + 1;
  ansiToWide(buffer, static_cast<int>(capacity < MAX_PATH ? capacity : MAX_PATH), ansi, MAX_PATH);
  return result;
}

bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Widens `bytes` ANSI bytes in place, back to front so nothing is
// overwritten before it is read; NULs inside are widened like the rest.
void widenInPlace(BYTE* data, DWORD bytes) {
  for (DWORD i = bytes; i-- > 0;) {
    WCHAR unit = 0;
    const char c = static_cast<char>(data[i]);
    MultiByteToWideChar(CP_ACP, 0, &c, 1, &unit, 1);
    std::memcpy(data + 2 * i, &unit, sizeof unit);
  }
}

void findDataIn(WIN32_FIND_DATAA& a, const WIN32_FIND_DATAW& w) {
  std::memcpy(&a, &w, offsetof(WIN32_FIND_DATAW, cFileName));
  wideToAnsi(a.cFileName, MAX_PATH, w.cFileName, MAX_PATH);
  wideToAnsi(a.cAlternateFileName, 14, w.cAlternateFileName, 14);
}

void findDataOut(WIN32_FIND_DATAW& w, const WIN32_FIND_DATAA& a) {
  std::memcpy(&w, &a, offsetof(WIN32_FIND_DATAA, cFileName));
  ansiToWide(w.cFileName, MAX_PATH, a.cFileName, MAX_PATH);
  ansiToWide(w.cAlternateFileName, 14, a.cAlternateFileName, 14);
}

// The numbers of a process record, which the two forms share; the size
// field stays each record's own.
template <class To, class From>
void processNumbers(To& to, const From& from) {
  to.cntUsage = from.cntUsage;
  to.th32ProcessID = from.th32ProcessID;
  to.th32DefaultHeapID = from.th32DefaultHeapID;
  to.th32ModuleID = from.th32ModuleID;
  to.cntThreads = from.cntThreads;
  to.th32ParentProcessID = from.th32ParentProcessID;
  to.pcPriClassBase = from.pcPriClassBase;
  to.dwFlags = from.dwFlags;
}

void processIn(PROCESSENTRY32& a, const PROCESSENTRY32W& w) {
  processNumbers(a, w);
  wideToAnsi(a.szExeFile, MAX_PATH, w.szExeFile, MAX_PATH);
}

void processOut(PROCESSENTRY32W& w, const PROCESSENTRY32& a) {
  processNumbers(w, a);
  ansiToWide(w.szExeFile, MAX_PATH, a.szExeFile, MAX_PATH);
}

// A zeroed ANSI start-up record of its own size with the caller's numbers;
// its texts stay null.
STARTUPINFOA startupIn(const STARTUPINFOW* w) {
  STARTUPINFOA a{};
  if (w) win32::copy_startup_numbers(a, *w);
  a.cb = sizeof a;
  return a;
}

BOOL processEntry(BOOL (*call)(HANDLE, void*), HANDLE snapshot, PROCESSENTRY32W* entry, bool convertIn) {
  if (!call) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  if (!entry) return call(snapshot, nullptr);
  PROCESSENTRY32 a{};
  if (convertIn) processIn(a, *entry);
  a.dwSize = sizeof a;
  const BOOL ok = call(snapshot, &a);
  if (ok) processOut(*entry, a);
  return ok;
}

}  // namespace

// Window calls: the ANSI functions with the caller's arguments.
ATOM Layer9x::RegisterClassExW(const WNDCLASSEXW* wc) {
  if (!wc) return ::RegisterClassExA(nullptr);
  const bool menuText = !isResourceNumber(wc->lpszMenuName);
  const bool classText = !isResourceNumber(wc->lpszClassName);
  Narrow menu(menuText ? wc->lpszMenuName : nullptr);
  Narrow name(classText ? wc->lpszClassName : nullptr);
  WNDCLASSEXA a{};
  a.cbSize = wc->cbSize == sizeof(WNDCLASSEXW) ? sizeof(WNDCLASSEXA) : wc->cbSize;
  a.style = wc->style;
  a.lpfnWndProc = wc->lpfnWndProc;
  a.cbClsExtra = wc->cbClsExtra;
  a.cbWndExtra = wc->cbWndExtra;
  a.hInstance = wc->hInstance;
  a.hIcon = wc->hIcon;
  a.hCursor = wc->hCursor;
  a.hbrBackground = wc->hbrBackground;
  a.lpszMenuName = menuText ? menu.get() : reinterpret_cast<LPCSTR>(wc->lpszMenuName);
  a.lpszClassName = classText ? name.get() : reinterpret_cast<LPCSTR>(wc->lpszClassName);
  a.hIconSm = wc->hIconSm;
  return ::RegisterClassExA(&a);
}

LRESULT Layer9x::DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}
LONG Layer9x::GetWindowLongW(HWND hwnd, int index) { return ::GetWindowLongA(hwnd, index); }
LONG Layer9x::SetWindowLongW(HWND hwnd, int index, LONG value) { return ::SetWindowLongA(hwnd, index, value); }
LRESULT Layer9x::SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(hwnd, msg, wParam, lParam);
}
BOOL Layer9x::SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::SendNotifyMessageA(hwnd, msg, wParam, lParam);
}
BOOL Layer9x::PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(hwnd, msg, wParam, lParam);
}
BOOL Layer9x::PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
  return ::PeekMessageA(msg, hwnd, filterMin, filterMax, removeMsg);
}
LRESULT Layer9x::DispatchMessageW(const MSG* msg) { return ::DispatchMessageA(msg); }

// Finds.
BOOL Layer9x::FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  if (!data) return ::FindNextFileA(find, nullptr);
  WIN32_FIND_DATAA a{};
  findDataIn(a, *data);
  const BOOL ok = ::FindNextFileA(find, &a);
  if (ok) findDataOut(*data, a);
  return ok;
}

HANDLE Layer9x::FindFirstFileW(LPCWSTR name, LPWIN32_FIND_DATAW data) {
  if (!data) return ::FindFirstFileA(Narrow(name), nullptr);
  WIN32_FIND_DATAA a{};
  HANDLE h = ::FindFirstFileA(Narrow(name), &a);
  const DWORD error = GetLastError();
  findDataOut(*data, a);
  SetLastError(error);
  return h;
}

// Folders and files.
DWORD Layer9x::GetCurrentDirectoryW(DWORD capacity, LPWSTR buffer) {
  char ansi[MAX_PATH] = {};
  return pathOut(::GetCurrentDirectoryA(MAX_PATH, ansi), capacity, ansi, buffer);
}

BOOL Layer9x::SetCurrentDirectoryW(LPCWSTR path) { return ::SetCurrentDirectoryA(Narrow(path)); }

HANDLE Layer9x::CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE templateFile) {
  return ::CreateFileA(Narrow(name), access, share, security, disposition, flags, templateFile);
}

DWORD Layer9x::FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                              DWORD size, va_list*) {
  // The ANSI text cannot take the caller's wide inserts: they stay as written.
  const DWORD ansiFlags = flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
  const void* ansiSource = source;
  std::unique_ptr<char[]> ansiPattern;
  if (flags & FORMAT_MESSAGE_FROM_STRING) {
    ansiPattern.reset(narrowCopy(static_cast<const WCHAR*>(source)));
    ansiSource = ansiPattern.get();
  }
  char* text = nullptr;
  const DWORD length =
      ::FormatMessageA(ansiFlags, ansiSource, messageId, languageId, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length == 0 || !text) return 0;
  WCHAR* target = buffer;
  DWORD capacity = size;
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    // Room for the terminator as well.
    capacity = length + 1;
    target = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, 2 * capacity));
    if (!target) {
      LocalFree(text);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    *reinterpret_cast<WCHAR**>(buffer) = target;
  } else if (!buffer || length + 1 > size) {
    LocalFree(text);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  ansiToWide(target, static_cast<int>(capacity), text, static_cast<int>(length + 1));
  LocalFree(text);
  return length;
}

DWORD Layer9x::GetTempPathW(DWORD capacity, LPWSTR buffer) {
  AnsiBuffer ansi(capacity);
  return lengthOut<DWORD>(::GetTempPathA(capacity, ansi.get()), capacity, ansi.get(), buffer);
}

UINT Layer9x::GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR name) {
  char ansi[MAX_PATH] = {};
  const UINT result = ::GetTempFileNameA(Narrow(path), Narrow(prefix), unique, ansi);
  if (result != 0 && name) {
    std::unique_ptr<WCHAR[]> wide(wideCopy(ansi));
    // The ANSI name had at most MAX_PATH bytes with its terminator.
    if (wide) std::memcpy(name, wide.get(), (win32::wcslen16(wide.get()) + 1) * sizeof(WCHAR));
  }
  return result;
}

DWORD Layer9x::GetLogicalDriveStringsW(DWORD capacity, LPWSTR buffer) {
  AnsiBuffer ansi(capacity);
  const DWORD result = ::GetLogicalDriveStringsA(capacity, ansi.get());
  // The whole list: every drive string and the final empty one.
  if (result != 0 && result < capacity && buffer) {
    for (DWORD i = 0; i <= result; ++i) {
      const char c = ansi.get()[i];
      if (c == 0)
        buffer[i] = 0;
      else
        MultiByteToWideChar(CP_ACP, 0, &c, 1, buffer + i, 1);
    }
  }
  return result;
}

UINT Layer9x::GetDriveTypeW(LPCWSTR root) { return ::GetDriveTypeA(Narrow(root)); }

UINT Layer9x::GetSystemDirectoryW(LPWSTR buffer, UINT capacity) {
  AnsiBuffer ansi(capacity);
  return lengthOut<UINT>(::GetSystemDirectoryA(ansi.get(), capacity), capacity, ansi.get(), buffer);
}

UINT Layer9x::GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) {
  AnsiBuffer ansi(capacity);
  return lengthOut<UINT>(::GetWindowsDirectoryA(ansi.get(), capacity), capacity, ansi.get(), buffer);
}

DWORD Layer9x::GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD capacity) {
  AnsiBuffer ansi(capacity);
  return lengthOut<DWORD>(::GetShortPathNameA(Narrow(longPath), ansi.get(), capacity), capacity, ansi.get(),
                          shortPath);
}

BOOL Layer9x::CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  return ::CreateDirectoryA(Narrow(path), security);
}
BOOL Layer9x::RemoveDirectoryW(LPCWSTR path) { return ::RemoveDirectoryA(Narrow(path)); }
DWORD Layer9x::GetFileAttributesW(LPCWSTR name) { return ::GetFileAttributesA(Narrow(name)); }
BOOL Layer9x::SetFileAttributesW(LPCWSTR name, DWORD attributes) {
  return ::SetFileAttributesA(Narrow(name), attributes);
}
BOOL Layer9x::DeleteFileW(LPCWSTR name) { return ::DeleteFileA(Narrow(name)); }
BOOL Layer9x::CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  return ::CopyFileA(Narrow(from), Narrow(to), failIfExists);
}
BOOL Layer9x::MoveFileW(LPCWSTR from, LPCWSTR to) { return ::MoveFileA(Narrow(from), Narrow(to)); }
// Windows 9x has no such call; the program asks nothing of it there.
BOOL Layer9x::MoveFileExW(LPCWSTR, LPCWSTR, DWORD) { return TRUE; }

DWORD Layer9x::GetFullPathNameW(LPCWSTR name, DWORD capacity, LPWSTR buffer, LPWSTR* filePart) {
  AnsiBuffer ansi(capacity);
  char* ansiPart = nullptr;
  const DWORD result = ::GetFullPathNameA(Narrow(name), capacity, ansi.get(), filePart ? &ansiPart : nullptr);
  lengthOut<DWORD>(result, capacity, ansi.get(), buffer);
  if (filePart && result != 0 && result < capacity && buffer) {
    // The same position in the caller's buffer: one character per ANSI byte.
    *filePart = ansiPart ? buffer + (ansiPart - ansi.get()) : nullptr;
  }
  return result;
}

// Registry.
LONG Layer9x::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  return ::RegOpenKeyExA(key, Narrow(subKey), options, access, result);
}

LONG Layer9x::RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                              REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  Narrow ansiClass(keyClass);
  return ::RegCreateKeyExA(key, Narrow(subKey), reserved, keyClass ? ansiClass.get() : nullptr, options, access,
                           security, result, disposition);
}

LONG Layer9x::RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPWSTR keyClass,
                            LPDWORD classSize, PFILETIME lastWrite) {
  // The capacities are taken as byte counts, so the ANSI call gets half.
  const DWORD nameCapacity = nameSize ? *nameSize : 0;
  const DWORD classCapacity = keyClass && classSize ? *classSize : 0;
  DWORD ansiNameSize = nameCapacity / 2;
  DWORD ansiClassSize = classCapacity / 2;
  AnsiBuffer ansiName(ansiNameSize + 1);
  AnsiBuffer ansiClass(ansiClassSize + 1);
  const LONG r = ::RegEnumKeyExA(key, index, name ? ansiName.get() : nullptr, nameSize ? &ansiNameSize : nullptr,
                                 reserved, keyClass ? ansiClass.get() : nullptr,
                                 keyClass && classSize ? &ansiClassSize : nullptr, lastWrite);
  if (r != ERROR_SUCCESS) return r;
  // Lengths in characters (one per ANSI byte), as the wide call reports them.
  if (name && nameSize) {
    ansiToWide(name, static_cast<int>(nameCapacity), ansiName.get(), static_cast<int>(ansiNameSize + 1));
    *nameSize = ansiNameSize;
  }
  if (keyClass && classSize) {
    ansiToWide(keyClass, static_cast<int>(classCapacity), ansiClass.get(), static_cast<int>(ansiClassSize + 1));
    *classSize = ansiClassSize;
  }
  return r;
}

LONG Layer9x::RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                            LPBYTE data, LPDWORD dataSize) {
  const DWORD nameCapacity = nameSize ? *nameSize : 0;
  const DWORD dataCapacity = dataSize ? *dataSize : 0;
  DWORD ansiNameSize = nameCapacity;
  DWORD ansiDataSize = dataCapacity;
  DWORD storedType = 0;
  AnsiBuffer ansiName(nameCapacity + 1);
  AnsiBuffer ansiData(dataCapacity + 1);
  const LONG r = ::RegEnumValueA(key, index, name ? ansiName.get() : nullptr, nameSize ? &ansiNameSize : nullptr,
                                 reserved, &storedType, data ? reinterpret_cast<LPBYTE>(ansiData.get()) : nullptr,
                                 dataSize ? &ansiDataSize : nullptr);
  if (type) *type = storedType;
  if (r != ERROR_SUCCESS) return r;
  if (name && nameSize) {
    ansiToWide(name, static_cast<int>(nameCapacity), ansiName.get(), static_cast<int>(ansiNameSize + 1));
    *nameSize = ansiNameSize;
  }
  if (!dataSize) return r;
  if (storedType != REG_SZ) {
    if (data) std::memcpy(data, ansiData.get(), ansiDataSize);
    *dataSize = ansiDataSize;
    return r;
  }
  if (data) {
    if (dataCapacity < 2 * ansiDataSize) return ERROR_INVALID_FUNCTION;
    const std::size_t length = strnlen(ansiData.get(), ansiDataSize);
    ansiToWide(reinterpret_cast<WCHAR*>(data), static_cast<int>(dataCapacity / 2), ansiData.get(),
               static_cast<int>(length + 1));
  }
  *dataSize = 2 * ansiDataSize;
  return r;
}

LONG Layer9x::RegDeleteKeyW(HKEY key, LPCWSTR subKey) { return ::RegDeleteKeyA(key, Narrow(subKey)); }

LONG Layer9x::RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize) {
  if (type != REG_SZ || !data) return ::RegSetValueExA(key, Narrow(name), reserved, type, data, dataSize);
  // Up to the first NUL inside the given size, stored with its terminator.
  const WCHAR* text = reinterpret_cast<const WCHAR*>(data);
  const DWORD units = dataSize / 2;
  DWORD n = 0;
  while (n < units && text[n]) ++n;
  std::string ansi(3 * static_cast<std::size_t>(n) + 1, '\0');
  int bytes = n ? WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(n), ansi.data(),
                                      static_cast<int>(ansi.size()), nullptr, nullptr)
                : 0;
  if (bytes < 0) bytes = 0;
  ansi[static_cast<std::size_t>(bytes)] = 0;
  return ::RegSetValueExA(key, Narrow(name), reserved, type, reinterpret_cast<const BYTE*>(ansi.data()),
                          static_cast<DWORD>(bytes) + 1);
}

LONG Layer9x::RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                               LPDWORD dataSize) {
  // The preset type says the caller expects text: the ANSI bytes then widen
  // to twice their size, so half the buffer is asked for.
  const DWORD capacity = dataSize ? *dataSize : 0;
  if (type && dataSize && isStringType(*type)) *dataSize /= 2;
  const LONG r = ::RegQueryValueExA(key, Narrow(name), reserved, type, data, dataSize);
  if (!type || !dataSize || !isStringType(*type)) return r;
  const DWORD bytes = *dataSize;
  *dataSize = 2 * bytes;
  if (r != ERROR_SUCCESS || !data) return r;
  // Without the preset the whole buffer may hold ANSI bytes: widening them
  // must not run past the caller's capacity.
  if (2 * bytes > capacity) return ERROR_MORE_DATA;
  widenInPlace(data, bytes);
  return r;
}

LONG Layer9x::RegDeleteValueW(HKEY key, LPCWSTR name) { return ::RegDeleteValueA(key, Narrow(name)); }

DWORD Layer9x::ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR buffer, DWORD capacity) {
  AnsiBuffer ansi(capacity);
  const DWORD result = ::ExpandEnvironmentStringsA(Narrow(source), ansi.get(), capacity);
  // The count includes the terminator.
  if (result != 0 && result <= capacity && buffer)
    ansiToWide(buffer, static_cast<int>(capacity), ansi.get(), static_cast<int>(capacity));
  return result;
}

// Modules.
HMODULE Layer9x::LoadLibraryW(LPCWSTR name) { return ::LoadLibraryA(Narrow(name)); }
HMODULE Layer9x::LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  return ::LoadLibraryExA(Narrow(name), file, flags);
}

DWORD Layer9x::GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity) {
  AnsiBuffer ansi(capacity);
  const DWORD result = ::GetModuleFileNameA(module, ansi.get(), capacity);
  if (result != 0 && buffer)
    ansiToWide(buffer, static_cast<int>(capacity), ansi.get(), static_cast<int>(capacity));
  return result;
}

// Locale pictures.
int Layer9x::GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int capacity) {
  AnsiBuffer ansi(capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
  const int result = ::GetLocaleInfoA(locale, type, capacity > 0 ? ansi.get() : nullptr, capacity);
  if (result > 0 && capacity > 0 && data) ansiToWide(data, capacity, ansi.get(), capacity);
  return result;
}

namespace {
// The rule of the three format calls: the ANSI answer widened into the
// caller's buffer when there is one, else the ANSI result.
template <class F>
int formatOut(F call, LPWSTR buffer, int capacity) {
  AnsiBuffer ansi(capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
  const int result = call(capacity > 0 ? ansi.get() : nullptr, capacity);
  if (result > 0 && capacity > 0) return MultiByteToWideChar(CP_ACP, 0, ansi.get(), result, buffer, capacity);
  return result;
}
}  // namespace

int Layer9x::GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR buffer,
                            int capacity) {
  Narrow f(format);
  return formatOut([&](LPSTR b, int c) { return ::GetTimeFormatA(locale, flags, time, f, b, c); }, buffer, capacity);
}

int Layer9x::GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCWSTR format, LPWSTR buffer,
                            int capacity) {
  Narrow f(format);
  return formatOut([&](LPSTR b, int c) { return ::GetDateFormatA(locale, flags, date, f, b, c); }, buffer, capacity);
}

int Layer9x::GetNumberFormatW(LCID locale, DWORD flags, LPCWSTR value, const NUMBERFMTW* format, LPWSTR buffer,
                              int capacity) {
  Narrow v(value);
  Narrow decimal(format ? format->lpDecimalSep : nullptr);
  Narrow thousand(format ? format->lpThousandSep : nullptr);
  NUMBERFMTA a{};
  if (format) {
    a = {format->NumDigits, format->LeadingZero, format->Grouping, decimal.get(), thousand.get(),
         format->NegativeOrder};
  }
  const NUMBERFMTA* f = format ? &a : nullptr;
  return formatOut([&](LPSTR b, int c) { return ::GetNumberFormatA(locale, flags, v, f, b, c); }, buffer, capacity);
}

// Tool help, through the ANSI entry points looked up at start-up.
BOOL Layer9x::Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  return processEntry(entry::Process32First, snapshot, entry, false);
}

BOOL Layer9x::Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  return processEntry(entry::Process32Next, snapshot, entry, true);
}

BOOL Layer9x::Module32FirstW(HANDLE snapshot, LPMODULEENTRY32W entry) {
  if (!entry::Module32First) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  if (!entry) return entry::Module32First(snapshot, nullptr);
  MODULEENTRY32 a{};
  a.dwSize = sizeof a;
  const BOOL ok = entry::Module32First(snapshot, &a);
  if (ok) {
    entry->th32ModuleID = a.th32ModuleID;
    entry->th32ProcessID = a.th32ProcessID;
    entry->GlblcntUsage = a.GlblcntUsage;
    entry->ProccntUsage = a.ProccntUsage;
    entry->modBaseAddr = a.modBaseAddr;
    entry->modBaseSize = a.modBaseSize;
    entry->hModule = a.hModule;
    ansiToWide(entry->szModule, MAX_MODULE_NAME32 + 1, a.szModule, MAX_MODULE_NAME32 + 1);
    ansiToWide(entry->szExePath, MAX_PATH, a.szExePath, MAX_PATH);
  }
  return ok;
}

// Version resources: the block stays as the ANSI reader made it, so string
// entries read through VerQueryValueW come back as ANSI text.
DWORD Layer9x::GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle) {
  return ::GetFileVersionInfoSizeA(Narrow(name), handle);
}
BOOL Layer9x::GetFileVersionInfoW(LPCWSTR name, DWORD handle, DWORD size, LPVOID data) {
  return ::GetFileVersionInfoA(Narrow(name), handle, size, data);
}
BOOL Layer9x::VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) {
  return ::VerQueryValueA(block, Narrow(subBlock), buffer, length);
}

// Environment.
DWORD Layer9x::GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD capacity) {
  AnsiBuffer ansi(capacity);
  return lengthOut<DWORD>(::GetEnvironmentVariableA(Narrow(name), ansi.get(), capacity), capacity, ansi.get(),
                          buffer);
}

BOOL Layer9x::SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
  return ::SetEnvironmentVariableA(Narrow(name), Narrow(value));
}

// Processes and shell execution.
BOOL Layer9x::CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                             LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags,
                             LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                             LPPROCESS_INFORMATION information) {
  STARTUPINFOA a = startupIn(startup);
  Narrow line(commandLine);
  return ::CreateProcessA(Narrow(application), line.get(), processSecurity, threadSecurity, inheritHandles,
                          flags, environment, Narrow(currentDirectory), startup ? &a : nullptr, information);
}

void Layer9x::GetStartupInfoW(LPSTARTUPINFOW startup) {
  if (!startup) return ::GetStartupInfoA(nullptr);
  STARTUPINFOA a = startupIn(startup);
  ::GetStartupInfoA(&a);
  win32::copy_startup_numbers(*startup, a);
  // Into the caller's own buffers, when it gave any.
  if (startup->lpDesktop && a.lpDesktop) ansiToWide(startup->lpDesktop, MAX_PATH, a.lpDesktop, MAX_PATH);
  if (startup->lpTitle && a.lpTitle) ansiToWide(startup->lpTitle, MAX_PATH, a.lpTitle, MAX_PATH);
}

HINSTANCE Layer9x::ShellExecuteW(HWND hwnd, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                                 INT show) {
  return ::ShellExecuteA(hwnd, Narrow(operation), Narrow(file), Narrow(parameters), Narrow(directory), show);
}

BOOL Layer9x::ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  if (!info) return ::ShellExecuteExA(nullptr);
  const bool className = (info->fMask & SEE_MASK_CLASSNAME) != 0;
  Narrow verb(info->lpVerb), file(info->lpFile), parameters(info->lpParameters), directory(info->lpDirectory);
  Narrow ansiClass(className ? info->lpClass : nullptr);
  SHELLEXECUTEINFOA a{};
  a.cbSize = sizeof a;
  a.fMask = info->fMask;
  a.hwnd = info->hwnd;
  a.lpVerb = verb;
  a.lpFile = file;
  a.lpParameters = parameters;
  a.lpDirectory = directory;
  a.nShow = info->nShow;
  a.hInstApp = info->hInstApp;
  a.lpIDList = info->lpIDList;
  a.lpClass = className ? ansiClass.get() : nullptr;
  a.hkeyClass = info->hkeyClass;
  a.dwHotKey = info->dwHotKey;
  a.hIcon = info->hIcon;
  a.hProcess = info->hProcess;
  const BOOL ok = ::ShellExecuteExA(&a);
  info->fMask = a.fMask;
  info->hwnd = a.hwnd;
  info->nShow = a.nShow;
  info->hInstApp = a.hInstApp;
  info->lpIDList = a.lpIDList;
  info->hkeyClass = a.hkeyClass;
  info->dwHotKey = a.dwHotKey;
  info->hIcon = a.hIcon;
  info->hProcess = a.hProcess;
  return ok;
}

BOOL Layer9x::SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path) {
  char ansi[MAX_PATH] = {};
  const BOOL ok = ::SHGetPathFromIDListA(list, ansi);
  if (ok && path) ansiToWide(path, MAX_PATH, ansi, MAX_PATH);
  return ok;
}

}  // namespace Windows

namespace Windows {

namespace {

void logFontIn(LOGFONTA& a, const LOGFONTW& w) {
  a = LOGFONTA{};
  std::memcpy(&a, &w, offsetof(LOGFONTW, lfFaceName));  // five longs and eight bytes
  wideToAnsi(a.lfFaceName, LF_FACESIZE, w.lfFaceName, LF_FACESIZE);
}

void logFontOut(LOGFONTW& w, const LOGFONTA& a) {
  std::memcpy(&w, &a, offsetof(LOGFONTA, lfFaceName));
  ansiToWide(w.lfFaceName, LF_FACESIZE, a.lfFaceName, LF_FACESIZE);
}

// The characters widen by value: each ANSI byte becomes the UTF-16 unit of
// the same number.
void textMetricOut(TEXTMETRICW& w, const TEXTMETRICA& a) {
  std::memcpy(&w, &a, offsetof(TEXTMETRICA, tmFirstChar));  // eleven longs
  w.tmFirstChar = a.tmFirstChar;
  w.tmLastChar = a.tmLastChar;
  w.tmDefaultChar = a.tmDefaultChar;
  w.tmBreakChar = a.tmBreakChar;
  w.tmItalic = a.tmItalic;
  w.tmUnderlined = a.tmUnderlined;
  w.tmStruckOut = a.tmStruckOut;
  w.tmPitchAndFamily = a.tmPitchAndFamily;
  w.tmCharSet = a.tmCharSet;
}

// A text list ("a\0b\0\0") in ANSI, its final empty string included.
std::string listIn(const WCHAR* list) {
  std::string out;
  if (!list) return out;
  const WCHAR* p = list;
  while (*p) {
    std::unique_ptr<char[]> one(narrowCopy(p));
    if (one) out.append(one.get());
    out.push_back('\0');
    p += win32::wcslen16(p) + 1;
  }
  out.push_back('\0');
  return out;
}

// A caller's text buffer of `capacity` characters, as ANSI bytes of the same
// capacity holding its current text.
std::unique_ptr<char[]> bufferIn(const WCHAR* text, DWORD capacity) {
  if (!text || capacity == 0) return nullptr;
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[capacity]());
  if (bytes) wideToAnsi(bytes.get(), static_cast<int>(capacity), text, static_cast<int>(capacity));
  return bytes;
}

// Back within the caller's capacity: one text, or with multiple selection
// the folder and names up to the empty one.
void bufferOut(WCHAR* text, DWORD capacity, const char* bytes, bool list) {
  if (!text || !bytes || capacity == 0) return;
  if (!list) {
    ansiToWide(text, static_cast<int>(capacity), bytes, static_cast<int>(capacity));
    return;
  }
  DWORD end = 0;
  while (end + 1 < capacity && (bytes[end] || bytes[end + 1])) ++end;
  const DWORD length = end + 2 <= capacity ? end + 2 : capacity;
  const int units = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(length), text, static_cast<int>(capacity));
  (void)units;
}

constexpr DWORD kAllowMultiSelect = 0x00000200;

BOOL fileDialog(const char* name, OPENFILENAMEW* request) {
  HMODULE dialogs = GetModuleHandleA("comdlg32");
  const auto dialog = reinterpret_cast<BOOL (*)(OPENFILENAMEA*)>(
      reinterpret_cast<void*>(dialogs ? GetProcAddress(dialogs, name) : nullptr));
  if (!dialog) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  if (!request) return dialog(nullptr);
  const std::string filter = listIn(request->lpstrFilter);
  std::unique_ptr<char[]> custom = bufferIn(request->lpstrCustomFilter, request->nMaxCustFilter);
  std::unique_ptr<char[]> file = bufferIn(request->lpstrFile, request->nMaxFile);
  std::unique_ptr<char[]> title = bufferIn(request->lpstrFileTitle, request->nMaxFileTitle);
  Narrow initialDir(request->lpstrInitialDir), dialogTitle(request->lpstrTitle), defExt(request->lpstrDefExt);
  const bool templateText = !isResourceNumber(request->lpTemplateName);
  Narrow templateName(templateText ? request->lpTemplateName : nullptr);
  OPENFILENAMEA a{};
  a.lStructSize = sizeof a;
  a.hwndOwner = request->hwndOwner;
  a.hInstance = request->hInstance;
  a.lpstrFilter = request->lpstrFilter ? filter.c_str() : nullptr;
  a.lpstrCustomFilter = custom.get();
  a.nMaxCustFilter = request->nMaxCustFilter;
  a.nFilterIndex = request->nFilterIndex;
  a.lpstrFile = file.get();
  a.nMaxFile = request->nMaxFile;
  a.lpstrFileTitle = title.get();
  a.nMaxFileTitle = request->nMaxFileTitle;
  a.lpstrInitialDir = initialDir;
  a.lpstrTitle = dialogTitle;
  a.Flags = request->Flags;
  a.nFileOffset = request->nFileOffset;
  a.nFileExtension = request->nFileExtension;
  a.lpstrDefExt = defExt;
  a.lCustData = request->lCustData;
  a.lpfnHook = request->lpfnHook;
  a.lpTemplateName = templateText ? templateName.get() : reinterpret_cast<const char*>(request->lpTemplateName);
  const BOOL ok = dialog(&a);
  if (ok) {
    const bool list = (a.Flags & kAllowMultiSelect) != 0;
    bufferOut(request->lpstrCustomFilter, request->nMaxCustFilter, custom.get(), false);
    bufferOut(request->lpstrFile, request->nMaxFile, file.get(), list);
    bufferOut(request->lpstrFileTitle, request->nMaxFileTitle, title.get(), false);
    request->Flags = a.Flags;
    request->nFilterIndex = a.nFilterIndex;
    request->nFileOffset = a.nFileOffset;
    request->nFileExtension = a.nFileExtension;
  }
  return ok;
}

}  // namespace

int fontEnumThunk(const LOGFONTA* font, const TEXTMETRICA* metrics, DWORD type, LPARAM request) {
  const auto* r = reinterpret_cast<const FontEnumRequest*>(request);
  LOGFONTW w{};
  TEXTMETRICW tm{};
  if (font) logFontOut(w, *font);
  if (metrics) textMetricOut(tm, *metrics);
  return r->proc(font ? &w : nullptr, metrics ? &tm : nullptr, type, r->data);
}

void Layer9x::OutputDebugStringW(LPCWSTR text) { ::OutputDebugStringA(Narrow(text)); }

BOOL Layer9x::SystemParametersInfoW(UINT action, UINT param, PVOID data, UINT winIni) {
  if (action != SPI_GETNONCLIENTMETRICS || !data) return ::SystemParametersInfoA(action, param, data, winIni);
  NONCLIENTMETRICSA a{};
  a.cbSize = sizeof a;
  const BOOL ok = ::SystemParametersInfoA(action, a.cbSize, &a, winIni);
  if (!ok) return ok;
  auto* w = static_cast<NONCLIENTMETRICSW*>(data);
  w->iBorderWidth = a.iBorderWidth;
  w->iScrollWidth = a.iScrollWidth;
  w->iScrollHeight = a.iScrollHeight;
  w->iCaptionWidth = a.iCaptionWidth;
  w->iCaptionHeight = a.iCaptionHeight;
  logFontOut(w->lfCaptionFont, a.lfCaptionFont);
  w->iSmCaptionWidth = a.iSmCaptionWidth;
  w->iSmCaptionHeight = a.iSmCaptionHeight;
  logFontOut(w->lfSmCaptionFont, a.lfSmCaptionFont);
  w->iMenuWidth = a.iMenuWidth;
  w->iMenuHeight = a.iMenuHeight;
  logFontOut(w->lfMenuFont, a.lfMenuFont);
  logFontOut(w->lfStatusFont, a.lfStatusFont);
  logFontOut(w->lfMessageFont, a.lfMessageFont);
  return ok;
}

HFONT Layer9x::CreateFontIndirectW(const LOGFONTW* font) {
  if (!font) return ::CreateFontIndirectA(nullptr);
  LOGFONTA a;
  logFontIn(a, *font);
  return ::CreateFontIndirectA(&a);
}

BOOL Layer9x::GetTextMetricsW(HDC dc, LPTEXTMETRICW metrics) {
  if (!metrics) return ::GetTextMetricsA(dc, nullptr);
  TEXTMETRICA a{};
  const BOOL ok = ::GetTextMetricsA(dc, &a);
  if (ok) textMetricOut(*metrics, a);
  return ok;
}

int Layer9x::EnumFontFamiliesExW(HDC dc, LOGFONTW* font, FONTENUMPROCW proc, LPARAM lParam, DWORD flags) {
  FontEnumRequest request{proc, lParam};
  LOGFONTA a{};
  if (font) logFontIn(a, *font);
  return ::EnumFontFamiliesExA(dc, font ? &a : nullptr, proc ? fontEnumThunk : nullptr,
                               reinterpret_cast<LPARAM>(&request), flags);
}

BOOL Layer9x::GetOpenFileNameW(LPOPENFILENAMEW request) { return fileDialog("GetOpenFileNameA", request); }
BOOL Layer9x::GetSaveFileNameW(LPOPENFILENAMEW request) { return fileDialog("GetSaveFileNameA", request); }

SHORT Layer9x::VkKeyScanW(WCHAR ch) {
  char ansi[2] = {};
  WideCharToMultiByte(CP_ACP, 0, &ch, 1, ansi, 2, nullptr, nullptr);
  return ::VkKeyScanA(ansi[0]);
}

SHORT Layer9x::VkKeyScanExW(WCHAR ch, HKL layout) {
  char ansi[2] = {};
  WideCharToMultiByte(CP_ACP, 0, &ch, 1, ansi, 2, nullptr, nullptr);
  return ::VkKeyScanExA(ansi[0], layout);
}

DWORD_PTR Layer9x::SHGetFileInfoW(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT, UINT flags) {
  const bool itemList = (flags & SHGFI_PIDL) != 0;
  Narrow ansiPath(itemList ? nullptr : path);
  SHFILEINFOA a{};
  if (info) {
    a.hIcon = info->hIcon;
    a.iIcon = info->iIcon;
    a.dwAttributes = info->dwAttributes;
    wideToAnsi(a.szDisplayName, MAX_PATH, info->szDisplayName, MAX_PATH);
    wideToAnsi(a.szTypeName, 80, info->szTypeName, 80);
  }
  const char* p = itemList ? reinterpret_cast<const char*>(path) : ansiPath.get();
  const DWORD_PTR result = ::SHGetFileInfoA(p, attributes, info ? &a : nullptr, sizeof a, flags);
  if (result != 0 && info) {
    info->hIcon = a.hIcon;
    info->iIcon = a.iIcon;
    info->dwAttributes = a.dwAttributes;
    ansiToWide(info->szDisplayName, MAX_PATH, a.szDisplayName, MAX_PATH);
    ansiToWide(info->szTypeName, 80, a.szTypeName, 80);
  }
  return result;
}

BOOL Layer9x::WriteConsoleW(HANDLE console, const void* buffer, DWORD count, LPDWORD written, LPVOID reserved) {
  const UINT page = GetConsoleOutputCP();
  std::string bytes(2 * static_cast<std::size_t>(count), '\0');
  int n = 0;
  if (buffer) {
    n = count ? WideCharToMultiByte(page, 0, static_cast<const WCHAR*>(buffer), static_cast<int>(count),
                                    bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr)
              : 0;
    if (n <= 0) return FALSE;
  }
  return ::WriteConsoleA(console, buffer ? bytes.data() : nullptr, static_cast<DWORD>(n), written, reserved);
}

BOOL Layer9x::Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAW data) {
  if (!data) return ::Shell_NotifyIconA(message, nullptr);
  NOTIFYICONDATAA a{};
  a.cbSize = sizeof a;
  a.hWnd = data->hWnd;
  a.uID = data->uID;
  a.uFlags = data->uFlags;
  a.uCallbackMessage = data->uCallbackMessage;
  a.hIcon = data->hIcon;
  if (data->uFlags & NIF_TIP) wideToAnsi(a.szTip, 64, data->szTip, 128);
  if (data->uFlags & NIF_INFO) {
    wideToAnsi(a.szInfo, 256, data->szInfo, 256);
    wideToAnsi(a.szInfoTitle, 64, data->szInfoTitle, 64);
  }
  a.dwState = data->dwState;
  a.dwStateMask = data->dwStateMask;
  a.uTimeout = data->uTimeout;
  a.dwInfoFlags = data->dwInfoFlags;
  return ::Shell_NotifyIconA(message, &a);
}

}  // namespace Windows
