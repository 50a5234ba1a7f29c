// The directive files makecab.exe reads: the subset an installer package's
// cabinets are built from. One cabinet, one folder of files; the variables
// below; file lines of a source path and the name it gets in the cabinet.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace layer_tools {

struct DdfFile {
  std::u16string source;  // a Windows path, relative to the current folder unless full
  std::u16string name;    // the name inside the cabinet
  int line = 0;
  bool unique = false;    // UniqueFiles was ON at its line: no file before it has its name
};

struct Ddf {
  std::u16string cabinet_name = u"1.cab";  // CabinetNameTemplate, its '*' made the disk number 1
  std::u16string disk_directory;           // DiskDirectory1; empty: the current folder
  bool compress = true;
  bool unique_files = true;
  std::vector<DdfFile> files;
};

struct DdfError {
  int line = 0;  // 0: the file as a whole
  std::string message;
};

// The text is UTF-8 when it is valid UTF-8 (a byte-order mark is skipped),
// else the ANSI code page. Lines end in LF or CR LF; a line starting with ';'
// is a comment. Values and paths may be quoted ("" inside quotes is a quote).
// False with `error` set on the first line that is not understood: makecab
// builds nothing from a directive file it only half understands.
bool parse_ddf(std::string_view bytes, Ddf& out, DdfError& error);

}  // namespace layer_tools
