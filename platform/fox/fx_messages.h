// Message types of the toolkit build the widgets expect and FOX 1.6 lacks.
// FOX 1.6 already uses the numbers the other build gives them (16 and 17 are
// SEL_PAINT and SEL_CREATE here), so they live above SEL_LAST.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

namespace FX {

enum : FXuint {
  SEL_ATTACH = SEL_LAST + 16,  // a view joins a document (sender: the view)
  SEL_DETACH,                  // a view leaves a document
  SEL_SETTINGS_CHANGED,        // the user's system settings changed
};

}  // namespace FX
