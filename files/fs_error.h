// File-system errors: facility 4 codes with their catalogue texts, the
// mapping from Win32 errors, and the record kinds that carry the failing
// call's name ("function") and path ("function,filename").
#pragma once

#include <cstdint>

#include "core/error.h"

namespace fs_error {
constexpr std::uint32_t read = 0x40001;
constexpr std::uint32_t end_of_file = 0x40002;
constexpr std::uint32_t write = 0x40003;
constexpr std::uint32_t disk_full = 0x40004;
constexpr std::uint32_t seek = 0x40005;
constexpr std::uint32_t out_of_memory = 0x40006;
constexpr std::uint32_t open = 0x40007;
constexpr std::uint32_t remove = 0x40008;
constexpr std::uint32_t rename = 0x40009;
constexpr std::uint32_t create = 0x4000a;
constexpr std::uint32_t not_ready = 0x4000b;
constexpr std::uint32_t read_only = 0x4000c;
constexpr std::uint32_t corrupted = 0x4000d;
constexpr std::uint32_t not_supported = 0x4000e;
constexpr std::uint32_t cancelled = 0x4000f;
constexpr std::uint32_t not_found = 0x40011;
constexpr std::uint32_t already_exists = 0x40013;
constexpr std::uint32_t access_denied = 0x40014;
constexpr std::uint32_t network = 0x40015;
constexpr std::uint32_t lock = 0x40017;
constexpr std::uint32_t backup = 0x40019;  // text: the entry's path
constexpr std::uint32_t restore = 0x4001a;
}  // namespace fs_error

// Catalogue slot of a facility-4 code's raise text, or -1 when it has none.
int fs_error_slot(std::uint32_t code);
// The raise text of a facility-4 code (from the catalogue when it is
// loaded), or null when the code has none.
const char16_t* fs_error_text(std::uint32_t code);

// A plain facility-4 error with its text, no cause and no fields.
Common::Error make_fs_error(std::uint64_t site, std::uint32_t code);

// Win32 error -> facility-4 code; errors the table does not list give
// `default_code`.
std::uint32_t map_system_error(std::uint32_t win32_error, std::uint32_t default_code);

// Record of kind "function": code with its text and the narrow call name.
Common::Error make_function_error(std::uint64_t site, std::uint32_t code, const char* function);

// The thread's last Win32 error, mapped (unlisted: `default_code`), as a
// "function" record whose cause is that Win32 error.
Common::Error make_system_file_error(std::uint64_t site, const char* function, std::uint32_t default_code);

// Record of kind "function,filename" whose cause is the thread's last Win32
// error and whose code is refined from it by map_system_error.
Common::Error win32_file_error(std::uint64_t site, std::uint32_t code, const char* function, const char16_t* filename);
Common::Error win32_file_error(std::uint64_t site, std::uint32_t code, const char* function, const char* filename);
