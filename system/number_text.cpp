#include "system/number_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "core/catalogue.h"
#include "files/file_object.h"
#include "platform/win32/windows.h"

namespace Common {

namespace {

template <class Ch>
Ch* decimal(Ch* out, std::uint64_t value, unsigned flags, int field) {
  if (flags & kBlankField) std::fill(out, out + field, Ch(' '));
  std::uint64_t divisor = 1;
  for (int i = 1; i < field; ++i) divisor *= 10;
  bool started = false;
  for (; divisor >= 10; divisor /= 10) {
    const auto digit = static_cast<unsigned>(value / divisor);
    value %= divisor;
    if (digit || started) {
      *out++ = static_cast<Ch>('0' + digit);
      started = true;
    } else if (flags & kBlankLeadingZeros) {
      *out++ = Ch(' ');
    }
  }
  *out++ = static_cast<Ch>('0' + value);
  if (flags & kTerminate) *out = 0;
  return out;
}

template <class Ch>
Ch* hex(Ch* out, std::uint64_t value, int digits, unsigned flags) {
  static const char kDigits[] = "0123456789ABCDEF";
  const bool upper = flags & kUpperCaseMarks;
  if (flags & (kPrefix0x | kSuffixH)) *out++ = Ch('0');
  if (flags & kPrefix0x) *out++ = Ch(upper ? 'X' : 'x');
  for (int i = digits - 1; i >= 0; --i) *out++ = static_cast<Ch>(kDigits[(value >> (i * 4)) & 0xF]);
  if (flags & kSuffixH) *out++ = Ch(upper ? 'H' : 'h');
  if (flags & kTerminate) *out = 0;
  return out;
}

template <class Ch>
bool parse(std::uint64_t* result, const Ch* text, int radix) {
  if (!text || radix < 2 || radix > 36) return false;
  std::size_t n = 0;
  while (text[n]) ++n;
  if (n == 0) return false;
  const bool automatic = radix == 10;
  if (automatic) {
    std::size_t last = n;
    while (last > 0 && text[last - 1] == Ch(' ')) --last;
    if (last > 0 && (text[last - 1] == Ch('H') || text[last - 1] == Ch('h'))) radix = 16;
  }
  std::size_t i = 0;
  while (i < n && text[i] == Ch(' ')) ++i;
  std::uint64_t value = 0;
  unsigned digits = 0, digits_after_x = 0;
  bool blank = false, suffix = false, prefix = false;
  for (; i < n; ++i) {
    const Ch c = text[i];
    if (c == Ch(' ')) {
      blank = true;
      continue;
    }
    if (blank || suffix || c < Ch('0')) return false;
    if (automatic && (c == Ch('H') || c == Ch('h'))) {
      if (prefix) return false;
      suffix = true;
      continue;
    }
    if (automatic && (c == Ch('X') || c == Ch('x')) && digits > 0 && !prefix && value == 0) {
      radix = 16;
      prefix = true;
      continue;
    }
    unsigned digit;
    if (c >= Ch('0') && c <= Ch('9'))
      digit = static_cast<unsigned>(c - Ch('0'));
    else if (c >= Ch('A') && c <= Ch('Z'))
      digit = static_cast<unsigned>(c - Ch('A')) + 10;
    else if (c >= Ch('a') && c <= Ch('z'))
      digit = static_cast<unsigned>(c - Ch('a')) + 10;
    else
      return false;
    if (digit >= static_cast<unsigned>(radix)) return false;
    if (value > (UINT64_MAX - digit) / static_cast<unsigned>(radix)) return false;
    value = value * static_cast<unsigned>(radix) + digit;
    ++digits;
    if (prefix) ++digits_after_x;
  }
  if (prefix ? digits_after_x == 0 : digits == 0) return false;
  if (result) *result = value;
  return true;
}

struct Name {
  const char* name;
  int slot;
};

// Sorted by byte value; slots 18 and 193 have no name in this system.
constexpr Name kNames[] = {
    {"TEXT_EMAIL_BACKUP_TREE_ROOT", 0},
    {"TEXT_EXIT", 1},
    {"TEXT_EXIT_DESC", 2},
    {"TEXT_FAVORITE_PLACE_LIST_COLUMN_DATE", 3},
    {"TEXT_FAVORITE_PLACE_LIST_COLUMN_NAME", 4},
    {"TEXT_FAVORITE_PLACE_LIST_COLUMN_NUMBER_OF_BACKUPS", 5},
    {"TEXT_FAVORITE_PLACE_LIST_COLUMN_SIZE", 6},
    {"TEXT_FAVORITE_PLACE_LIST_COLUMN_SIZE_QUOTA", 7},
    {"TEXT_FAVORITE_PLACE_LIST_COLUMN_STORAGE_PERIOD", 8},
    {"TEXT_FAVORITE_PLACE_LIST_COLUMN_TYPE", 9},
    {"TEXT_MENU_ABOUT", 10},
    {"TEXT_MENU_CONTENTS", 11},
    {"TEXT_MENU_EXIT", 12},
    {"TEXT_MENU_HELP", 13},
    {"TEXT_MENU_OPTIONS", 14},
    {"TEXT_MENU_SETTINGS", 15},
    {"TEXT_MENU_STATUSBAR", 16},
    {"TEXT_MENU_TOOLS", 17},
    {"TEXT_MENU_VIEW", 19},
    {"TEXT_OPTIONS", 20},
    {"TEXT_OPTIONS_DESC", 21},
    {"TEXT_SHELL_ALL_BACJKUP_LOCATIONS", 22},
    {"TEXT_SHELL_BACKUP_SERVER_MANAGEMENT", 23},
    {"TEXT_SHELL_BACKUP_SERVER_MANAGEMENT_DESC", 24},
    {"TEXT_SHELL_CHOOSE_ACTIVATE_BOOTMANAGER", 25},
    {"TEXT_SHELL_CHOOSE_ACTIVATE_BOOTMANAGER_DESC", 26},
    {"TEXT_SHELL_CHOOSE_ACTIVATE_BOOTMANAGER_HELP", 27},
    {"TEXT_SHELL_CHOOSE_ADDDISK", 28},
    {"TEXT_SHELL_CHOOSE_ADDDISK_DESC", 29},
    {"TEXT_SHELL_CHOOSE_ADDDISK_HELP", 30},
    {"TEXT_SHELL_CHOOSE_BACKUP", 31},
    {"TEXT_SHELL_CHOOSE_BACKUP_DESC", 32},
    {"TEXT_SHELL_CHOOSE_BACKUP_FULL", 33},
    {"TEXT_SHELL_CHOOSE_BACKUP_FULL_DESC", 34},
    {"TEXT_SHELL_CHOOSE_BACKUP_FULL_HELP", 35},
    {"TEXT_SHELL_CHOOSE_BACKUP_HELP", 36},
    {"TEXT_SHELL_CHOOSE_CHECK_IMAGE", 37},
    {"TEXT_SHELL_CHOOSE_CLONE", 38},
    {"TEXT_SHELL_CHOOSE_CLONE_DESC", 39},
    {"TEXT_SHELL_CHOOSE_CLONE_HELP", 40},
    {"TEXT_SHELL_CHOOSE_CONSOLIDATE_IMAGE", 41},
    {"TEXT_SHELL_CHOOSE_CONSOLIDATE_IMAGE_DESC", 42},
    {"TEXT_SHELL_CHOOSE_CONSOLIDATE_IMAGE_HELP", 43},
    {"TEXT_SHELL_CHOOSE_DISK_UTILITIES", 44},
    {"TEXT_SHELL_CHOOSE_DISMOUNT", 45},
    {"TEXT_SHELL_CHOOSE_DISMOUNT_DESC", 46},
    {"TEXT_SHELL_CHOOSE_DISMOUNT_HELP", 47},
    {"TEXT_SHELL_CHOOSE_MANAGE", 48},
    {"TEXT_SHELL_CHOOSE_MANAGEMENT_TOOLS", 49},
    {"TEXT_SHELL_CHOOSE_MANAGE_DESC", 50},
    {"TEXT_SHELL_CHOOSE_MANAGE_HELP", 51},
    {"TEXT_SHELL_CHOOSE_MOUNT", 52},
    {"TEXT_SHELL_CHOOSE_MOUNT_DESC", 53},
    {"TEXT_SHELL_CHOOSE_MOUNT_HELP", 54},
    {"TEXT_SHELL_CHOOSE_RESTORE", 55},
    {"TEXT_SHELL_CHOOSE_RESTORE_DESC", 56},
    {"TEXT_SHELL_CHOOSE_RESTORE_FULL", 57},
    {"TEXT_SHELL_CHOOSE_RESTORE_FULL_DESC", 58},
    {"TEXT_SHELL_CHOOSE_RESTORE_FULL_HELP", 59},
    {"TEXT_SHELL_CHOOSE_RESTORE_HELP", 60},
    {"TEXT_SHELL_CHOOSE_SCHEDULE", 61},
    {"TEXT_SHELL_CHOOSE_SCHEDULE_DESC", 62},
    {"TEXT_SHELL_CHOOSE_SCHEDULE_FULL", 63},
    {"TEXT_SHELL_CHOOSE_SCHEDULE_FULL_DESC", 64},
    {"TEXT_SHELL_CHOOSE_SCHEDULE_FULL_HELP", 65},
    {"TEXT_SHELL_CHOOSE_SCHEDULE_HELP", 66},
    {"TEXT_SHELL_CHOOSE_SHOW_LOGS", 67},
    {"TEXT_SHELL_CHOOSE_VERIFY", 68},
    {"TEXT_SHELL_CHOOSE_VERIFY_DESC", 69},
    {"TEXT_SHELL_CHOOSE_VERIFY_HELP", 70},
    {"TEXT_SHELL_CREATE_TASK", 71},
    {"TEXT_SHELL_CREATE_TASK_DESC", 72},
    {"TEXT_SHELL_CREATE_TASK_HELP", 73},
    {"TEXT_SHELL_GD_SUPPORT", 74},
    {"TEXT_SHELL_GD_SUPPORT_DESC", 75},
    {"TEXT_SHELL_GD_SUPPORT_HELP", 76},
    {"TEXT_SHELL_GROUP_DEPLOYMENT", 77},
    {"TEXT_SHELL_GROUP_IMAGING", 78},
    {"TEXT_SHELL_GROUP_REMOTE", 79},
    {"TEXT_SHELL_GROUP_TASKS", 80},
    {"TEXT_SHELL_IMAGE_BROWSER_PLESE_WAIT", 81},
    {"TEXT_SHELL_LOADING_BACKUP_ARCHIVE_DATA", 82},
    {"TEXT_SHELL_LOADING_BACKUP_PLACE_DATA", 83},
    {"TEXT_SHELL_LOADING_LIST_OF_BACKUP_PLACES", 84},
    {"TEXT_SHELL_MENU_MANAGEMENT", 85},
    {"TEXT_SHELL_MENU_MANAGEMENT_DESC", 86},
    {"TEXT_SHELL_MENU_MANAGEMENT_HELP", 87},
    {"TEXT_SHELL_MENU_OPERATIONS", 88},
    {"TEXT_SHELL_MENU_REMOTE", 89},
    {"TEXT_SHELL_OPEN_ARCHIVE", 90},
    {"TEXT_SHELL_OPEN_ARCHIVE_BUTTON_OPEN", 91},
    {"TEXT_SHELL_OPEN_ARCHIVE_PAGE_DESC", 92},
    {"TEXT_SHELL_OPEN_ARCHIVE_PAGE_TITLE", 93},
    {"TEXT_SHELL_REMOTE_LOCALHOST_TASKS", 94},
    {"TEXT_SHELL_REMOTE_NETWORK_TASKS", 95},
    {"TEXT_SHELL_REMOTE_TASKS", 96},
    {"TEXT_SHELL_REMOTE_TASKS_DESC", 97},
    {"TEXT_SHELL_TASKBAR", 98},
    {"TEXT_SHELL_TASKBAR_HELP", 99},
    {"TEXT_SHELL_TASKBAR_OPERATIONS", 100},
    {"TEXT_SHELL_TASKBAR_REMOTE", 101},
    {"TEXT_SHELL_TASKBAR_TOOLS", 102},
    {"TEXT_SHELL_TOOLBAR_CREATE_TASK", 103},
    {"TEXT_SHELL_TOOLBAR_CUSTOM_TASKS", 104},
    {"TEXT_SHELL_TOOLBAR_CUSTOM_TASKS_RUN", 105},
    {"TEXT_SHELL_TOOLBAR_HELP", 106},
    {"TEXT_SHELL_TOOLBAR_LOG", 107},
    {"TEXT_SHELL_TOOLBAR_MODE", 108},
    {"TEXT_SHELL_TOOLBAR_OPERATIONS", 109},
    {"TEXT_SHELL_TOOLBAR_REMOTE", 110},
    {"TEXT_SHELL_TOOLBAR_TOOLS", 111},
    {"TEXT_SHELL_VERB_ACTIVATE_F11", 112},
    {"TEXT_SHELL_VERB_ACTIVATE_F11_DESC", 113},
    {"TEXT_SHELL_VERB_ACTIVATE_F11_HELP", 114},
    {"TEXT_SHELL_VERB_CANCEL", 115},
    {"TEXT_SHELL_VERB_CANCEL_DESC", 116},
    {"TEXT_SHELL_VERB_CANCEL_HELP", 117},
    {"TEXT_SHELL_VERB_CHECK_IMAGE", 118},
    {"TEXT_SHELL_VERB_CHECK_IMAGE_DESC", 119},
    {"TEXT_SHELL_VERB_CHECK_IMAGE_HELP", 120},
    {"TEXT_SHELL_VERB_COMPUTERS", 121},
    {"TEXT_SHELL_VERB_COMPUTERS_DESC", 122},
    {"TEXT_SHELL_VERB_COMPUTERS_HELP", 123},
    {"TEXT_SHELL_VERB_CONNECT", 124},
    {"TEXT_SHELL_VERB_CONNECT_DESC", 125},
    {"TEXT_SHELL_VERB_CONNECT_HELP", 126},
    {"TEXT_SHELL_VERB_CONSOLIDATE_IMAGE", 127},
    {"TEXT_SHELL_VERB_CONSOLIDATE_IMAGE_DESC", 128},
    {"TEXT_SHELL_VERB_CONSOLIDATE_IMAGE_HELP", 129},
    {"TEXT_SHELL_VERB_CONVERT_IMAGE", 130},
    {"TEXT_SHELL_VERB_CONVERT_IMAGE_DESC", 131},
    {"TEXT_SHELL_VERB_CONVERT_IMAGE_HELP", 132},
    {"TEXT_SHELL_VERB_CREATE_RESCUE", 133},
    {"TEXT_SHELL_VERB_CREATE_RESCUE_DESC", 134},
    {"TEXT_SHELL_VERB_CREATE_RESCUE_HELP", 135},
    {"TEXT_SHELL_VERB_DD_DEPLOYER", 136},
    {"TEXT_SHELL_VERB_DD_DEPLOYER_DESC", 137},
    {"TEXT_SHELL_VERB_DD_DEPLOYER_HELP", 138},
    {"TEXT_SHELL_VERB_DELETE", 139},
    {"TEXT_SHELL_VERB_DELETE_DESC", 140},
    {"TEXT_SHELL_VERB_DELETE_HELP", 141},
    {"TEXT_SHELL_VERB_EDIT", 142},
    {"TEXT_SHELL_VERB_EDIT_DESC", 143},
    {"TEXT_SHELL_VERB_EDIT_HELP", 144},
    {"TEXT_SHELL_VERB_GROUP_STATUS", 145},
    {"TEXT_SHELL_VERB_GROUP_STATUS_DESC", 146},
    {"TEXT_SHELL_VERB_GROUP_TASK_CREATE", 147},
    {"TEXT_SHELL_VERB_GROUP_TASK_CREATE_DESC", 148},
    {"TEXT_SHELL_VERB_GROUP_TASK_CREATE_HELP", 149},
    {"TEXT_SHELL_VERB_GROUP_TASK_DELETE", 150},
    {"TEXT_SHELL_VERB_GROUP_TASK_DELETE_DESC", 151},
    {"TEXT_SHELL_VERB_GROUP_TASK_DELETE_HELP", 152},
    {"TEXT_SHELL_VERB_GROUP_TASK_EDIT", 153},
    {"TEXT_SHELL_VERB_GROUP_TASK_EDIT_DESC", 154},
    {"TEXT_SHELL_VERB_GROUP_TASK_EDIT_HELP", 155},
    {"TEXT_SHELL_VERB_MANAGE_HIDDEN", 156},
    {"TEXT_SHELL_VERB_MANAGE_HIDDEN_DESC", 157},
    {"TEXT_SHELL_VERB_MANAGE_HIDDEN_HELP", 158},
    {"TEXT_SHELL_VERB_REBOOT_REMOTE_COMPUTER", 159},
    {"TEXT_SHELL_VERB_REMOTE_INSTALL", 160},
    {"TEXT_SHELL_VERB_REMOTE_INSTALL_DESC", 161},
    {"TEXT_SHELL_VERB_REMOTE_INSTALL_HELP", 162},
    {"TEXT_SHELL_VERB_REMOTE_MODE", 163},
    {"TEXT_SHELL_VERB_REMOTE_MODE_DESC", 164},
    {"TEXT_SHELL_VERB_REMOTE_MODE_HELP", 165},
    {"TEXT_SHELL_VERB_RENAME", 166},
    {"TEXT_SHELL_VERB_RENAME_DESC", 167},
    {"TEXT_SHELL_VERB_RENAME_HELP", 168},
    {"TEXT_SHELL_VERB_RESTORE_ORIGINAL", 169},
    {"TEXT_SHELL_VERB_RESTORE_ORIGINAL_DESC", 170},
    {"TEXT_SHELL_VERB_RESTORE_ORIGINAL_DESC_SHORT", 171},
    {"TEXT_SHELL_VERB_RESTORE_ORIGINAL_WARNING", 172},
    {"TEXT_SHELL_VERB_SCHEDULE", 173},
    {"TEXT_SHELL_VERB_SCHEDULE_DESC", 174},
    {"TEXT_SHELL_VERB_SCHEDULE_HELP", 175},
    {"TEXT_SHELL_VERB_SCRIPTS", 176},
    {"TEXT_SHELL_VERB_SCRIPTS_DESC", 177},
    {"TEXT_SHELL_VERB_SCRIPTS_HELP", 178},
    {"TEXT_SHELL_VERB_SHOW_LOG", 179},
    {"TEXT_SHELL_VERB_SHOW_LOG_DESC", 180},
    {"TEXT_SHELL_VERB_SHOW_LOG_HELP", 181},
    {"TEXT_SHELL_VERB_SHOW_PROGRESS", 182},
    {"TEXT_SHELL_VERB_SHOW_PROGRESS_DESC", 183},
    {"TEXT_SHELL_VERB_SHOW_PROGRESS_HELP", 184},
    {"TEXT_SHELL_VERB_STANDARD_MODE", 185},
    {"TEXT_SHELL_VERB_STANDARD_MODE_DESC", 186},
    {"TEXT_SHELL_VERB_STANDARD_MODE_HELP", 187},
    {"TEXT_SHELL_VERB_START", 188},
    {"TEXT_SHELL_VERB_SUPPORT", 189},
    {"TEXT_SHELL_VERB_SYSTEM_RESTORE", 190},
    {"TEXT_SHELL_VERB_SYSTEM_RESTORE_DESC", 191},
    {"TEXT_SHELL_VERB_SYSTEM_RESTORE_HELP", 192},
    {"TEXT_SHELL_VERB_USERMANUAL", 194},
    {"TEXT_SHELL_VIEW_ADVANCED_GROUP", 195},
    {"TEXT_SHELL_VIEW_MAIN_GROUP", 196},
    {"TEXT_SHELL_VIEW_MYCOMPUTER_GROUP", 197},
    {"TEXT_SHELL_VIEW_TOOLS_GROUP", 198},
    {"TEXT_SHELL_WDS_SUPPORT", 199},
    {"TEXT_SHELL_WDS_SUPPORT_DESC", 200},
    {"TEXT_SHELL_WDS_SUPPORT_HELP", 201},
    {"TEXT_SHELL_WWW_KORVANE_SUPPORT", 202},};

}  // namespace

char16_t* formatDecimal64W(char16_t* out, std::uint64_t value, unsigned flags) {
  return decimal(out, value, flags, 20);
}
char* formatDecimal32(char* out, std::uint32_t value, unsigned flags) { return decimal(out, value, flags, 10); }
char16_t* formatHex8W(char16_t* out, std::uint8_t value, unsigned flags) { return hex(out, value, 2, flags); }
char* formatHex8(char* out, std::uint8_t value, unsigned flags) { return hex(out, value, 2, flags); }
char* formatHex16(char* out, std::uint16_t value, unsigned flags) { return hex(out, value, 4, flags); }
char* formatHex32(char* out, std::uint32_t value, unsigned flags) { return hex(out, value, 8, flags); }
char* formatHex64(char* out, std::uint32_t low, std::uint32_t high, unsigned flags) {
  return hex(out, std::uint64_t{high} << 32 | low, 16, flags);
}

bool parseNumberW(std::uint64_t* value, const char16_t* text, int radix) { return parse(value, text, radix); }
bool parseNumber(std::uint64_t* value, const char* text, int radix) { return parse(value, text, radix); }

bool multiByteToWide(UINT codePage, std::u16string& out, const char* text, int bytes) {
  if (bytes == 0) {
    out.clear();
    return true;
  }
  if (bytes < 0 || !text) return false;
  std::u16string buffer(static_cast<std::size_t>(bytes), u'\0');
  const int n = MultiByteToWideChar(codePage, 0, text, bytes, buffer.data(), bytes);
  if (n <= 0) return false;
  buffer.resize(static_cast<std::size_t>(n));
  out = std::move(buffer);
  return true;
}

bool mapStringInPlace(DWORD flags, std::u16string& text) {
  if (text.empty()) return true;
  const int units = static_cast<int>(text.size());
  if (!(GetVersion() & 0x80000000u)) {
    std::u16string mapped(text.size(), u'\0');
    if (LCMapStringW(0, flags, text.data(), units, mapped.data(), units) <= 0) return false;
    text = std::move(mapped);
    return true;
  }
  std::string ansi(text.size() * 2, '\0');
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), units, ansi.data(), units * 2, nullptr, nullptr);
  if (bytes <= 0) return false;
  if (LCMapStringA(0, flags, ansi.data(), bytes, ansi.data(), bytes) <= 0) return false;
  std::u16string back;
  if (!multiByteToWide(CP_ACP, back, ansi.data(), bytes)) return false;
  text = std::move(back);
  return true;
}

bool toUpperInPlace(std::u16string& text) { return mapStringInPlace(LCMAP_UPPERCASE, text); }

int uiLanguageNumber() {
  const char16_t* text = catalogueTexts[1153];
  return text ? std::atoi(reinterpret_cast<const char*>(text)) : 0;
}

std::uint8_t* loadResource(const char* name, std::uint32_t* size) {
  std::unique_ptr<ri_file> file(openResourceFile(name));
  if (!file) return nullptr;
  const std::uint64_t length = file->size();
  if (length == 0 || length > UINT32_MAX || file->Bad()) return nullptr;
  const auto bytes = static_cast<std::uint32_t>(length);
  std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[bytes]);
  if (!data) return nullptr;
  file->read_exact(data.get(), bytes);
  if (file->Bad()) return nullptr;
  if (size) *size = bytes;
  return data.release();
}

const char16_t* catalogueTextByName(const char* name) {
  if (!name) return nullptr;
  const Name* end = std::end(kNames);
  const Name* it = std::lower_bound(std::begin(kNames), end, name,
                                    [](const Name& n, const char* key) { return std::strcmp(n.name, key) < 0; });
  if (it == end || std::strcmp(it->name, name) != 0) return nullptr;
  return catalogueTexts[it->slot];
}

}  // namespace Common
