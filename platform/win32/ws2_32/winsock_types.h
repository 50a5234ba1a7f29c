// The socket handle type alone, for headers that keep a socket but must stay
// includable beside the C library's own socket declarations.
#pragma once

#include "platform/win32/layer/types.h"

using SOCKET = UINT_PTR;

#define INVALID_SOCKET (static_cast<SOCKET>(~static_cast<SOCKET>(0)))
#define SOCKET_ERROR (-1)
