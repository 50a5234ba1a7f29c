// Writes the cabinet a directive file describes: one MSZIP folder (or stored
// data with Compress=OFF) holding the files in the order listed. The cabinet
// appears whole or not at all: it is written beside its target and renamed.
#pragma once

#include <string>

#include "platform/tools/ddf.h"

namespace layer_tools {

// False with a message (and the line at fault, when one is) on any failure: a
// source that cannot be read, a missing output folder, a file of 2 GB or more.
// A directive file without files builds nothing and succeeds.
bool build_cabinet(const Ddf& ddf, DdfError& fault);

}  // namespace layer_tools
