// Shutting Windows down or restarting it, and the fixed version of a file.
#pragma once

#include "platform/win32/windows.h"

namespace Windows {

// 0 on success, else a Win32 error code. A failed request leaves
// SeShutdownPrivilege enabled.
DWORD shutdownSystem(bool force, bool restart);
DWORD restartSystem(bool force);

// The file version's two words; either output may be null. 0 on success,
// else a Win32 error code (87 for a path of 260 characters or more).
DWORD getFileVersion(const WCHAR* path, DWORD* most, DWORD* least);

}  // namespace Windows

namespace Common {
// The C runtime's locale, all categories, from the user's system default;
// called when the application starts and ends.
void createLocaleFormats();
void destroyLocaleFormats();
}  // namespace Common
