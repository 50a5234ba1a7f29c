// For GUI tests that make several applications one after another: holds one
// more connection to the X display for the life of the process, so the X
// server does not reset (dropping the atoms FOX keeps in its statics) when an
// application closes its display. False when there is no display.
#pragma once

namespace FX {
bool holdTestDisplay();
}
