// Directory change notifications: waitable handles that become signalled when
// something changes in a folder (inotify underneath). A handle stays
// signalled until FindNextChangeNotification; changes seen meanwhile are
// remembered and signal it again at once.
#pragma once

#include "platform/win32/layer/types.h"

#define FILE_NOTIFY_CHANGE_FILE_NAME 0x00000001
#define FILE_NOTIFY_CHANGE_DIR_NAME 0x00000002
#define FILE_NOTIFY_CHANGE_ATTRIBUTES 0x00000004
#define FILE_NOTIFY_CHANGE_SIZE 0x00000008
#define FILE_NOTIFY_CHANGE_LAST_WRITE 0x00000010
#define FILE_NOTIFY_CHANGE_LAST_ACCESS 0x00000020
#define FILE_NOTIFY_CHANGE_CREATION 0x00000040
#define FILE_NOTIFY_CHANGE_SECURITY 0x00000100

// INVALID_HANDLE_VALUE on failure: ERROR_PATH_NOT_FOUND or ERROR_FILE_NOT_FOUND
// for a missing folder, ERROR_DIRECTORY for a file, ERROR_INVALID_PARAMETER
// for an empty filter. With bWatchSubtree the folders below as they are now
// are watched too.
HANDLE FindFirstChangeNotificationW(LPCWSTR lpPathName, BOOL bWatchSubtree, DWORD dwNotifyFilter);
BOOL FindNextChangeNotification(HANDLE hChangeHandle);
BOOL FindCloseChangeNotification(HANDLE hChangeHandle);
