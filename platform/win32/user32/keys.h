// The key a character is typed with, on the one keyboard layout the layer
// has: US English (0x04090409), whatever layout is asked for.
#pragma once

#include "platform/win32/layer/forward.h"
#include "platform/win32/layer/types.h"

// Low byte the virtual key, high byte the shift state (1 Shift, 2 Ctrl);
// -1 for a character the layout cannot type.
SHORT VkKeyScanW(WCHAR ch);
SHORT VkKeyScanA(CHAR ch);
SHORT VkKeyScanExW(WCHAR ch, HKL dwhkl);
SHORT VkKeyScanExA(CHAR ch, HKL dwhkl);
