// Canonical Windows paths. A canonical path is "X:\" followed by components,
// "\\server\share\" followed by components, a kept long form beginning
// "\\?\", or empty for the computer level above all drives and servers.
// Every component ends in '\' (or ':' before an alternate-stream name).
#pragma once

#include <cstddef>
#include <string>

// Resolves `path` (relative or absolute, '/' or '\', drive-relative, UNC or
// "\\?\") against the canonical `base`. False for an invalid path, leaving
// `result` unchanged. `stream` allows one ':' that starts a stream name.
bool resolve_path(const char16_t* base, std::u16string& result, const char16_t* path, bool stream);

// 0 for at most two characters; 3 for a drive path; for a path starting with
// '\' the length up to and including the third backslash after the first
// character, or 0 when there is none.
std::size_t root_length(std::u16string_view canonical);

// With `drive`: exactly a letter and ':'. Without: no control characters or
// any of "*/:<>?\|, and not empty or only blanks and dots.
bool is_valid_file_name(const char16_t* name, bool drive);
