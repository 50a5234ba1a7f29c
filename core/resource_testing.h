// Test hooks for the process-wide resource state, which the program decides
// once at start-up.
#pragma once

namespace Common::testing {

// 0 not decided, 1 the first resource sought was on disk, 2 it was not (later
// look-ups skip the disk).
int resourceFileState();
void setResourceFileState(int state);

// Closes the shared program archive; the next use opens it for `path` (null:
// the program's own path) as if `path` were the program file.
void setProgramArchivePath(const char16_t* path);

}  // namespace Common::testing
