// kvtool's command registry and the helpers its commands share.
//
// Each subcommand lives in its own tools/kvtool_*.cpp and registers itself at
// start-up, so adding one needs no edit elsewhere:
//
//   namespace {
//   int run_dump(const kvtool::arguments& args) { ... return 0; }
//   const bool registered = kvtool::add_command(
//       {"dump", "FILE", "Prints FILE's slots.", run_dump});
//   }
//
// `run` gets the arguments after the command's name; it returns the process's
// exit code (0 success, 1 failure, 2 bad usage via kvtool::usage_error).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "files/file_object.h"
#include "tools/stream_file.h"

namespace kvtool {

using arguments = std::vector<std::string>;

struct command {
  std::string_view name;
  std::string_view usage;  // the arguments, e.g. "ARCHIVE MEMBER [OUT]"
  std::string_view help;   // what it does; may span lines
  int (*run)(const arguments& args);
};

// Registers a command; returns true so it can initialise a static.
bool add_command(const command& c);
const command* find_command(std::string_view name);

// Prints "usage: kvtool NAME USAGE" for the command to stderr; returns 2.
int usage_error(std::string_view name);
// Prints "kvtool: MESSAGE" to stderr; returns 1.
int fail(std::string_view message);

std::string to_utf8(std::u16string_view text);
// "text (0x4000d)", followed by "; cause: ..." for each cause.
std::string describe(const Common::Error& e);
// Archive member names hold one byte per UTF-16 unit: these convert both ways.
std::u16string member_name(std::string_view bytes);
std::string member_bytes(std::u16string_view name);

// Opens `path` for reading; null with a message in `why` when it cannot.
std::unique_ptr<stream_file> open_input(const std::string& path, std::string& why);

// Writes `pieces` one after another to `target` through a file beside it that
// is renamed at the end, so a failed run leaves no half file. Returns 0, or 1
// after printing why.
int store(const std::string& target, std::initializer_list<std::string_view> pieces);

}  // namespace kvtool
