// Stand-in programs of the layer (platform/tools): built into one folder
// (KV_LAYER_PROGRAMS, else the build's own) and linked into a world's system
// folder the first time the process asks for that folder, unless the world
// already has a file of that name.
#pragma once

#include <string>

namespace win32 {

std::string layer_programs_folder();
// `system_folder` is the Unix path of the world's C:\Windows\System32.
void place_layer_programs(const std::string& system_folder);

}  // namespace win32
