// A check of a cabinet's structure before the cabinet library reads it: the
// header, every folder's chain of data blocks and every file entry must lie
// inside the bytes given and agree with each other, files of a folder one after
// another. Only single cabinets are
// taken (no sets spanning several cabinets), compressed as stored data, MSZIP
// or LZX.
#pragma once

#include <string>
#include <string_view>

namespace msi_layer {

struct CabinetCheck {
  bool ok = false;
  std::string problem;  // what is wrong, when !ok
};

CabinetCheck checkCabinetBytes(std::string_view cabinet);

}  // namespace msi_layer
