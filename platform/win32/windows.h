// The platform layer's Win32 surface: the one header the system's code includes
// to call Win32. Each area keeps its own small header; this only gathers them.
#pragma once

#include "platform/win32/types.h"
#include "platform/win32/lasterror.h"
#include "platform/win32/handles.h"
#include "platform/win32/message.h"
#include "platform/win32/version.h"
#include "platform/win32/codepage.h"
#include "platform/win32/sync.h"
#include "platform/win32/thread.h"
#include "platform/win32/tls.h"
#include "platform/win32/wintime.h"
#include "platform/win32/token.h"
#include "platform/win32/cryptrandom.h"
#include "platform/win32/paths.h"
#include "platform/win32/files.h"
#include "platform/win32/fileops.h"
#include "platform/win32/process.h"
#include "platform/win32/ansi.h"
#include "platform/win32/locale.h"
#include "platform/win32/window.h"
#include "platform/win32/forward.h"
