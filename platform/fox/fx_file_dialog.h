// comdlg32's open and save dialogs over FOX's FXFileDialog: Windows paths in
// and out through the layer's drive mapping, the Windows filter list turned
// into FOX patterns. The dialog runs modally on the calling (GUI) thread.
#pragma once

#include "platform/win32/comdlg32/file_dialogs.h"
#include "platform/win32/layer/types.h"

// 0 for cancel or failure (CommDlgExtendedError tells which). A chosen path
// that does not fit nMaxFile with its terminator is refused with
// FNERR_BUFFERTOOSMALL and the needed size in the buffer's first character,
// as Windows does: no path is handed back cut.
BOOL GetOpenFileNameW(LPOPENFILENAMEW ofn);
BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn);
DWORD CommDlgExtendedError();
