// Thread-local slots.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

#define TLS_OUT_OF_INDEXES 0xFFFFFFFFu
#define TLS_MINIMUM_AVAILABLE 64

// TLS_OUT_OF_INDEXES (ERROR_NO_MORE_ITEMS) when every slot is taken.
DWORD TlsAlloc();
// Clears the slot in every thread.
BOOL TlsFree(DWORD dwTlsIndex);
// Clears the last error on success, as Windows does, so a stored null can be
// told from a failure (ERROR_INVALID_PARAMETER).
LPVOID TlsGetValue(DWORD dwTlsIndex);
BOOL TlsSetValue(DWORD dwTlsIndex, LPVOID lpTlsValue);

namespace win32 {
// The thread-detach hook: when a thread ends (and for the main thread when the
// process exits), a slot's callback gets the ending thread's value, if it is
// not null, and the slot is set to null. A null callback removes it; TlsFree
// removes it too. False when the slot is not allocated.
using TlsExitCallback = void (*)(void* value);
bool tls_set_exit_callback(DWORD index, TlsExitCallback callback);
}  // namespace win32
