#include "files/fs_error.h"

#include <cstring>

#include "core/catalogue.h"
#include "platform/win32/windows.h"

namespace {

struct fs_text {
  std::uint32_t code;
  int slot;
  const char16_t* text;
};

// Raise texts of the facility-4 codes with their catalogue slots.
constexpr fs_text fs_texts[] = {
    {0x40001, 2232, u"Error occurred while reading the file."},
    {0x40002, 2233, u"The end of the file has been reached."},
    {0x40003, 2234, u"Error occurred while writing the file."},
    {0x40004, 2235, u"The disk is full."},
    {0x40005, 2236, u"Error occurred while searching in the file."},
    {0x40006, 2237, u"Not enough memory to complete the operation."},
    {0x40007, 2238, u"Error occurred while opening the file."},
    {0x40008, 2239, u"Error occurred while deleting the file."},
    {0x40009, 2240, u"Error occurred while renaming the file."},
    {0x4000a, 2241, u"Error occurred while creating the file."},
    {0x4000b, 2242, u"The drive is not ready."},
    {0x4000c, 2243, u"The file is read-only."},
    {0x4000d, 2244, u"The file is corrupted."},
    {0x4000e, 2245, u"The operation is not supported."},
    {0x4000f, 2246, u"Canceled."},
    {0x40011, 2247, u"The specified file does not exist."},
    {0x40013, 2248, u"The file (folder) already exists."},
    {0x40014, 2249, u"Access to the file or folder is denied."},
    {0x40015, 2250, u"Network disconnected."},
    {0x40017, 2251, u"Failed to lock the file."},
    {0x4001a, 2252, u"Error occurred while recovering."},
};

const fs_text* find_text(std::uint32_t code) {
  for (const auto& t : fs_texts)
    if (t.code == code) return &t;
  return nullptr;
}

bool same_name(const char* a, const char* b) { return a && std::strcmp(a, b) == 0; }

// Kind "function": own wide text, narrow "function".
const char* function_narrow(const Common::ErrorRecord* r, const char* name) {
  if (!same_name(name, "function")) return nullptr;
  return static_cast<const char*>(r->slotText(r->fieldSlots()[0]));
}
const char* function_names(const Common::ErrorRecord*) { return "function"; }
std::uint64_t no_number(const Common::ErrorRecord*, const char*) { return 0; }
const char16_t* no_wide(const Common::ErrorRecord*, const char*) { return nullptr; }

constexpr Common::ErrorRecordOps function_ops{Common::freeErrorRecordBlock,
                                              Common::cloneErrorRecord,
                                              Common::wideSlotText,
                                              no_number,
                                              function_narrow,
                                              no_wide,
                                              function_names};

// Kind "function,filename" with a wide file name.
const char* file_names(const Common::ErrorRecord*) { return "function,filename"; }
const char16_t* file_wide(const Common::ErrorRecord* r, const char* name) {
  if (!same_name(name, "filename")) return nullptr;
  return static_cast<const char16_t*>(r->slotText(r->fieldSlots()[1]));
}
constexpr Common::ErrorRecordOps wide_file_ops{Common::freeErrorRecordBlock,
                                               Common::cloneErrorRecord,
                                               Common::wideSlotText,
                                               no_number,
                                               function_narrow,
                                               file_wide,
                                               file_names};

// The same with a narrow file name (ANSI calls).
const char* file_narrow(const Common::ErrorRecord* r, const char* name) {
  if (same_name(name, "filename")) return static_cast<const char*>(r->slotText(r->fieldSlots()[1]));
  return function_narrow(r, name);
}
constexpr Common::ErrorRecordOps narrow_file_ops{Common::freeErrorRecordBlock,
                                                 Common::cloneErrorRecord,
                                                 Common::wideSlotText,
                                                 no_number,
                                                 file_narrow,
                                                 no_wide,
                                                 file_names};

Common::Error with_last_error_cause(Common::ErrorRecord* record, std::uint32_t win32_error) {
  Common::Error e(record);
  e.setWin32Cause(win32_error);
  return e;
}

}  // namespace

int fs_error_slot(std::uint32_t code) {
  const fs_text* t = find_text(code);
  return t ? t->slot : -1;
}

const char16_t* fs_error_text(std::uint32_t code) {
  const fs_text* t = find_text(code);
  if (!t) return nullptr;
  // Catalogue texts are kept by address in error records; the built-in copy
  // serves until (or unless) a catalogue is loaded.
  if (const char16_t* loaded = Common::catalogueTexts[t->slot]) return loaded;
  return t->text;
}

Common::Error make_fs_error(std::uint64_t site, std::uint32_t code) {
  return Common::Error(site, code, fs_error_text(code));
}

std::uint32_t map_system_error(std::uint32_t win32_error, std::uint32_t default_code) {
  switch (win32_error) {
    case 1:     // invalid function
    case 1005:  // unrecognized volume
      return 0x4000e;
    case 2:
      return 0x40011;
    case 5:
    case 32:
    case 1219:  // credential conflict
      return 0x40014;
    case 8:
      return 0x40006;
    case 18:
    case 38:
      return 0x40002;
    case 19:
      return 0x4000c;
    case 21:
      return 0x4000b;
    case 33:
      return 0x40017;
    case 39:
    case 112:
      return 0x40004;
    case 67:
    case 1203:
    case 1231:
    case 1232:
      return 0x40015;
    case 123:
      return 0x40009;
    case 183:
      return 0x40013;
    case 1223:
      return 0x4000f;
    default:
      return default_code;
  }
}

Common::Error make_function_error(std::uint64_t site, std::uint32_t code, const char* function) {
  const Common::RecordText field{function, false};
  return Common::Error(Common::buildErrorRecord(&function_ops, site, code, {fs_error_text(code), true}, &field, 1));
}

Common::Error make_system_file_error(std::uint64_t site, const char* function, std::uint32_t default_code) {
  const DWORD last = GetLastError();
  const std::uint32_t code = map_system_error(last, default_code);
  const Common::RecordText field{function, false};
  return with_last_error_cause(
      Common::buildErrorRecord(&function_ops, site, code, {fs_error_text(code), true}, &field, 1), last);
}

Common::Error win32_file_error(std::uint64_t site, std::uint32_t code, const char* function, const char16_t* filename) {
  const DWORD last = GetLastError();
  code = map_system_error(last, code);
  const Common::RecordText fields[2] = {{function, false}, {filename, true}};
  return with_last_error_cause(
      Common::buildErrorRecord(&wide_file_ops, site, code, {fs_error_text(code), true}, fields, 2), last);
}

Common::Error win32_file_error(std::uint64_t site, std::uint32_t code, const char* function, const char* filename) {
  const DWORD last = GetLastError();
  code = map_system_error(last, code);
  const Common::RecordText fields[2] = {{function, false}, {filename, false}};
  return with_last_error_cause(
      Common::buildErrorRecord(&narrow_file_ops, site, code, {fs_error_text(code), true}, fields, 2), last);
}
