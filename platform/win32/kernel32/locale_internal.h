// Locale helpers the layer's own locale files share.
#pragma once

#include "platform/win32/layer/types.h"

namespace win32 {
// The LCID a caller's value stands for: the defaults resolved, the sort order
// dropped, a missing sublanguage made the default one.
LCID resolve_lcid(LCID lcid);
}  // namespace win32
