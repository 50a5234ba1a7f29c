// The shell's COM objects: folders over the namespace model of
// shell_namespace.h, their enumerators, shell links with their file form, and
// the shell's change notifications.
#pragma once

#include "platform/win32/ole32/com.h"
#include "platform/win32/kernel32/fileops.h"
#include "platform/win32/kernel32/ansi.h"
#include "platform/win32/shell32/shell_namespace.h"

struct IBindCtx;
using SFGAOF = ULONG;
using SHCONTF = DWORD;
using SHGDNF = DWORD;

#define SFGAO_LINK 0x00010000L
#define SFGAO_HIDDEN 0x00080000L
#define SFGAO_VALIDATE 0x01000000L
#define SFGAO_BROWSABLE 0x08000000L
#define SFGAO_FILESYSANCESTOR 0x10000000L
#define SFGAO_FOLDER 0x20000000L
#define SFGAO_FILESYSTEM 0x40000000L
#define SFGAO_HASSUBFOLDER 0x80000000L

#define SHCONTF_FOLDERS 0x0020
#define SHCONTF_NONFOLDERS 0x0040
#define SHCONTF_INCLUDEHIDDEN 0x0080

#define SHGDN_NORMAL 0x0000
#define SHGDN_INFOLDER 0x0001
#define SHGDN_FORPARSING 0x8000

#define STRRET_WSTR 0
#define STRRET_OFFSET 1
#define STRRET_CSTR 2

struct STRRET {
  UINT uType;
  union {
    WCHAR* pOleStr;
    UINT uOffset;
    char cStr[260];
  };
};

struct SHCOLUMNID {
  GUID fmtid;
  DWORD pid;
};

struct IEnumIDList : IUnknown {
  virtual HRESULT Next(ULONG count, LPITEMIDLIST* items, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumIDList** copy) = 0;

 protected:
  ~IEnumIDList() = default;
};

struct IShellFolder : IUnknown {
  virtual HRESULT ParseDisplayName(HWND owner, IBindCtx* bind, LPWSTR name, ULONG* eaten, LPITEMIDLIST* list,
                                   ULONG* attributes) = 0;
  virtual HRESULT EnumObjects(HWND owner, SHCONTF flags, IEnumIDList** enumerator) = 0;
  virtual HRESULT BindToObject(LPCITEMIDLIST list, IBindCtx* bind, REFIID riid, void** object) = 0;
  virtual HRESULT BindToStorage(LPCITEMIDLIST list, IBindCtx* bind, REFIID riid, void** object) = 0;
  // Low 16 bits of a success: negative, 0 or positive as a signed short.
  virtual HRESULT CompareIDs(LPARAM param, LPCITEMIDLIST a, LPCITEMIDLIST b) = 0;
  virtual HRESULT CreateViewObject(HWND owner, REFIID riid, void** object) = 0;
  virtual HRESULT GetAttributesOf(UINT count, LPCITEMIDLIST* lists, SFGAOF* in_out) = 0;
  virtual HRESULT GetUIObjectOf(HWND owner, UINT count, LPCITEMIDLIST* lists, REFIID riid, UINT* reserved,
                                void** object) = 0;
  virtual HRESULT GetDisplayNameOf(LPCITEMIDLIST list, SHGDNF flags, STRRET* name) = 0;
  virtual HRESULT SetNameOf(HWND owner, LPCITEMIDLIST list, LPCWSTR name, SHGDNF flags, LPITEMIDLIST* out) = 0;

 protected:
  ~IShellFolder() = default;
};

struct IEnumExtraSearch;
struct IShellFolder2 : IShellFolder {
  virtual HRESULT GetDefaultSearchGUID(GUID* guid) = 0;
  virtual HRESULT EnumSearches(IEnumExtraSearch** searches) = 0;
  virtual HRESULT GetDefaultColumn(DWORD reserved, ULONG* sort, ULONG* display) = 0;
  virtual HRESULT GetDefaultColumnState(UINT column, DWORD* state) = 0;
  virtual HRESULT GetDetailsEx(LPCITEMIDLIST list, const SHCOLUMNID* column, VARIANT* value) = 0;
  virtual HRESULT GetDetailsOf(LPCITEMIDLIST list, UINT column, void* details) = 0;
  virtual HRESULT MapColumnToSCID(UINT column, SHCOLUMNID* id) = 0;

 protected:
  ~IShellFolder2() = default;
};

struct IShellLinkW : IUnknown {
  virtual HRESULT GetPath(LPWSTR file, int size, WIN32_FIND_DATAW* data, DWORD flags) = 0;
  virtual HRESULT GetIDList(LPITEMIDLIST* list) = 0;
  virtual HRESULT SetIDList(LPCITEMIDLIST list) = 0;
  virtual HRESULT GetDescription(LPWSTR name, int size) = 0;
  virtual HRESULT SetDescription(LPCWSTR name) = 0;
  virtual HRESULT GetWorkingDirectory(LPWSTR dir, int size) = 0;
  virtual HRESULT SetWorkingDirectory(LPCWSTR dir) = 0;
  virtual HRESULT GetArguments(LPWSTR args, int size) = 0;
  virtual HRESULT SetArguments(LPCWSTR args) = 0;
  virtual HRESULT GetHotkey(WORD* hotkey) = 0;
  virtual HRESULT SetHotkey(WORD hotkey) = 0;
  virtual HRESULT GetShowCmd(int* show) = 0;
  virtual HRESULT SetShowCmd(int show) = 0;
  virtual HRESULT GetIconLocation(LPWSTR path, int size, int* icon) = 0;
  virtual HRESULT SetIconLocation(LPCWSTR path, int icon) = 0;
  virtual HRESULT SetRelativePath(LPCWSTR path, DWORD reserved) = 0;
  virtual HRESULT Resolve(HWND owner, DWORD flags) = 0;
  virtual HRESULT SetPath(LPCWSTR file) = 0;

 protected:
  ~IShellLinkW() = default;
};

struct IShellLinkA : IUnknown {
  virtual HRESULT GetPath(LPSTR file, int size, WIN32_FIND_DATAA* data, DWORD flags) = 0;
  virtual HRESULT GetIDList(LPITEMIDLIST* list) = 0;
  virtual HRESULT SetIDList(LPCITEMIDLIST list) = 0;
  virtual HRESULT GetDescription(LPSTR name, int size) = 0;
  virtual HRESULT SetDescription(LPCSTR name) = 0;
  virtual HRESULT GetWorkingDirectory(LPSTR dir, int size) = 0;
  virtual HRESULT SetWorkingDirectory(LPCSTR dir) = 0;
  virtual HRESULT GetArguments(LPSTR args, int size) = 0;
  virtual HRESULT SetArguments(LPCSTR args) = 0;
  virtual HRESULT GetHotkey(WORD* hotkey) = 0;
  virtual HRESULT SetHotkey(WORD hotkey) = 0;
  virtual HRESULT GetShowCmd(int* show) = 0;
  virtual HRESULT SetShowCmd(int show) = 0;
  virtual HRESULT GetIconLocation(LPSTR path, int size, int* icon) = 0;
  virtual HRESULT SetIconLocation(LPCSTR path, int icon) = 0;
  virtual HRESULT SetRelativePath(LPCSTR path, DWORD reserved) = 0;
  virtual HRESULT Resolve(HWND owner, DWORD flags) = 0;
  virtual HRESULT SetPath(LPCSTR file) = 0;

 protected:
  ~IShellLinkA() = default;
};

struct IPersistFile : IUnknown {
  virtual HRESULT GetClassID(CLSID* clsid) = 0;
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(LPCOLESTR file, DWORD mode) = 0;
  virtual HRESULT Save(LPCOLESTR file, BOOL remember) = 0;
  virtual HRESULT SaveCompleted(LPCOLESTR file) = 0;
  virtual HRESULT GetCurFile(LPOLESTR* file) = 0;

 protected:
  ~IPersistFile() = default;
};

extern const IID IID_IShellFolder;
extern const IID IID_IShellFolder2;
extern const IID IID_IEnumIDList;
extern const IID IID_IShellLinkW;
extern const IID IID_IShellLinkA;
extern const IID IID_IPersist;
extern const IID IID_IPersistFile;
extern const CLSID CLSID_ShellLink;  // {00021401-0000-0000-C000-000000000046}

HRESULT SHGetMalloc(IMalloc** malloc);
HRESULT SHGetDesktopFolder(IShellFolder** folder);
BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path);
DWORD QueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size);

// Change notifications. Each registration watches its folders (inotify where
// they are on disk) and posts `message` to `window` with wParam/lParam as
// the lock pair below takes them.
struct SHChangeNotifyEntry {
  LPCITEMIDLIST pidl;
  BOOL fRecursive;
};

#define SHCNE_RENAMEITEM 0x00000001L
#define SHCNE_CREATE 0x00000002L
#define SHCNE_DELETE 0x00000004L
#define SHCNE_MKDIR 0x00000008L
#define SHCNE_RMDIR 0x00000010L
#define SHCNE_MEDIAINSERTED 0x00000020L
#define SHCNE_MEDIAREMOVED 0x00000040L
#define SHCNE_DRIVEREMOVED 0x00000080L
#define SHCNE_DRIVEADD 0x00000100L
#define SHCNE_UPDATEDIR 0x00001000L
#define SHCNE_UPDATEITEM 0x00002000L
#define SHCNE_DRIVEADDGUI 0x00010000L
#define SHCNE_RENAMEFOLDER 0x00020000L
#define SHCNE_ALLEVENTS 0x7FFFFFFFL

#define SHCNRF_InterruptLevel 0x0001
#define SHCNRF_ShellLevel 0x0002
#define SHCNRF_NewDelivery 0x8000

ULONG SHChangeNotifyRegister(HWND window, int sources, LONG events, UINT message, int count,
                             const SHChangeNotifyEntry* entries);
BOOL SHChangeNotifyDeregister(ULONG registration);
// New delivery: the message's pair gives the lists (two, the second may be
// null) and the event, valid until the unlock.
HANDLE SHChangeNotification_Lock(HANDLE change, DWORD process, LPITEMIDLIST** lists, LONG* event);
BOOL SHChangeNotification_Unlock(HANDLE lock);
