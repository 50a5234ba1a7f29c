// Services the installer uses to move files and start programs: output
// folders, stream and list copies with progress and user dialogues, running a
// program or a batch file, the temporary and program folders, and new GUIDs.
// Questions go to the user through a Messenger; without one, failures only
// turn into the result.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "core/file_identifier.h"
#include "core/messenger.h"
#include "core/string.h"
#include "files/file_object.h"
#include "platform/win32/windows.h"

namespace Processor {

struct CopyContext {
  Progress* sink = nullptr;
  std::uint32_t unused = 0;
  std::uint64_t done = 0;
  std::uint64_t total = 0;  // 0 when unknown
  ProgressInfo progress;
  Cancelable* cancel = nullptr;
};

// Owns both identifiers.
struct CopyItem {
  FileIdentifier* destination = nullptr;
  FileIdentifier* source = nullptr;
  // Full paths of the two directories.
  String sourceFolder() const;
  String destinationFolder() const;
};
using CopyList = std::vector<CopyItem*>;
void freeCopyList(CopyList& list);

namespace CopyFlag {
inline constexpr std::uint32_t keepAttributes = 0x1;  // the source's attributes and times
inline constexpr std::uint32_t overwrite = 0x2;       // do not look for an existing destination...
inline constexpr std::uint32_t ask = 0x4;             // ...unless asked to ask first
}  // namespace CopyFlag

// Creates the directory and its missing parents; false (after a message)
// when one cannot be made.
bool ensureFolder(rio_dir* directory, Messenger* messenger);

namespace CopyResult {
inline constexpr int done = 0, cancelled = 1, readError = 2, writeError = 3;
}
int copyStream(o_file* output, i_file* input, CopyContext& context);
void sendCopyProgress(CopyContext& context);
// True when the copy completed.
bool copyFileReporting(o_file* output, i_file* input, std::uint32_t flags, Messenger* messenger, Progress* sink,
                       Cancelable* cancel);
// True when every item was copied or left alone as asked; false when the
// user cancelled, a folder could not be made, or any item failed.
bool copyFiles(CopyList& list, std::uint32_t flags, Messenger* messenger, Progress* sink, Cancelable* cancel);

namespace RunResult {
inline constexpr int notStarted = 0, finished = 1, notWaited = 2;
}
// Runs a program (".exe"), a batch file (".bat", through the command
// interpreter when there is one) or anything else through the shell. The
// arguments reach the program as they are. With a process: waits for it or,
// when `waitHandle` is signalled first, stops waiting (result word 1). The
// result word receives the exit code or the Win32 error of a failed start.
int runCommand(const String& command, const String& directory, const String* arguments, std::int32_t count,
               HANDLE waitHandle, std::uint32_t* result, bool hide);
inline int runCommandArgs(const String& command, const String& directory, HANDLE waitHandle, std::uint32_t* result,
                          bool hide, std::initializer_list<String> arguments) {
  return runCommand(command, directory, arguments.begin(), static_cast<std::int32_t>(arguments.size()), waitHandle,
                    result, hide);
}

// Owned by the caller; null when the temporary path is unknown.
ri_dir* tempDirectory();
ri_dir* programDirectory();

// 8-4-4-4-12 upper-case hexadecimal digits of a new GUID; answers the length.
std::int32_t newGuidText(String& out);

}  // namespace Processor
