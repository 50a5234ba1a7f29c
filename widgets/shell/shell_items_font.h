// The markup's font descriptions and FOX 1.6's: weights 100-900 against
// FOX's 10-90, slants 0-3 against FOX's slant codes. The two markup-only
// flags (0x800, 0x1000: antialiasing) have no FOX 1.6 counterpart.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include "widgets/shell/kml.h"

// Fills the description from a FOX description (face, size, weight, slant,
// set width, encoding; the markup flags are kept).
void fxkFontDescriptionOf(const FX::FXFontDesc& fox, FXKFontDescription& description);
FX::FXFontDesc fxkFoxFontDesc(const FXKFontDescription& description);
