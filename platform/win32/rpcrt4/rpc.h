// The two RPC runtime calls the installer model uses: new UUIDs and the strict
// parser of their text form.
#pragma once

#include "platform/win32/layer/types.h"

using UUID = GUID;
using RPC_STATUS = LONG;

#define RPC_S_OK 0L
#define RPC_S_INVALID_STRING_UUID 1705L
#define RPC_S_UUID_LOCAL_ONLY 1824L
#define RPC_S_UUID_NO_ADDRESS 1739L

// A random (version 4) UUID from the kernel's random bytes.
RPC_STATUS UuidCreate(UUID* Uuid);
// Accepts exactly 36 characters "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in either
// case (no braces, no blanks); a null text gives the nil UUID. Anything else is
// RPC_S_INVALID_STRING_UUID.
RPC_STATUS UuidFromStringA(const unsigned char* StringUuid, UUID* Uuid);
RPC_STATUS UuidFromStringW(const WCHAR* StringUuid, UUID* Uuid);
