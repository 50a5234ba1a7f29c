#include "platform/win32/kernel32/message.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/lasterror.h"

// ---------------------------------------------------------------------------
// Local heap

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void* p = (uFlags & LMEM_ZEROINIT) ? std::calloc(uBytes ? uBytes : 1, 1) : std::malloc(uBytes ? uBytes : 1);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

// ---------------------------------------------------------------------------
// errno translation

namespace win32 {

DWORD error_from_errno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EBUSY: return ERROR_BUSY;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EIO: return ERROR_IO_DEVICE;
    case ENOSYS:
    case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
      return ERROR_NOT_SUPPORTED;
    case ENXIO:
    case ENODEV: return ERROR_NOT_READY;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case ESPIPE: return ERROR_SEEK_ON_DEVICE;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EINTR:
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    case EMLINK: return ERROR_TOO_MANY_LINKS;
    case EFAULT: return ERROR_NOACCESS;
    case ENOLCK: return ERROR_SHARING_BUFFER_EXCEEDED;
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case EILSEQ: return ERROR_NO_UNICODE_TRANSLATION;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD set_last_error_from_errno(int err) {
  DWORD code = error_from_errno(err);
  SetLastError(code);
  return code;
}

// ---------------------------------------------------------------------------
// The system message table

namespace {

struct SystemText {
  DWORD code;
  const char* text;  // without the closing ".\r\n"
};

// Sorted by code.
constexpr SystemText kSystemTexts[] = {
    {0, "The operation completed successfully"},
    {1, "Incorrect function"},
    {2, "The system cannot find the file specified"},
    {3, "The system cannot find the path specified"},
    {4, "The system cannot open the file because too many files are open"},
    {5, "Access is denied"},
    {6, "The handle is invalid"},
    {8, "Not enough memory is available to process this command"},
    {11, "An attempt was made to load a program with an incorrect format"},
    {13, "The data is invalid"},
    {14, "Not enough memory is available to complete this operation"},
    {15, "The system cannot find the drive specified"},
    {16, "The directory cannot be removed"},
    {17, "The system cannot move the file to a different disk drive"},
    {18, "There are no more files"},
    {19, "The media is write protected"},
    {20, "The system cannot find the device specified"},
    {21, "The device is not ready"},
    {24, "The program issued a command but the command length is incorrect"},
    {25, "The drive cannot locate a specific area or track on the disk"},
    {29, "The system cannot write to the specified device"},
    {30, "The system cannot read from the specified device"},
    {31, "A device attached to the system is not functioning"},
    {32, "The process cannot access the file because it is being used by another process"},
    {33, "The process cannot access the file because another process has locked a portion of the file"},
    {36, "Too many files opened for sharing"},
    {38, "Reached the end of the file"},
    {39, "The disk is full"},
    {50, "The request is not supported"},
    {53, "The network path was not found"},
    {67, "The network name cannot be found"},
    {80, "The file exists"},
    {82, "The directory or file cannot be created"},
    {85, "The local device name is already in use"},
    {86, "The specified network password is not correct"},
    {87, "The parameter is incorrect"},
    {108, "The disk is in use or locked by another process"},
    {109, "The pipe has been ended"},
    {110, "The system cannot open the device or file specified"},
    {111, "The file name is too long"},
    {112, "There is not enough space on the disk"},
    {120, "This function is not supported on this system"},
    {121, "The semaphore timeout period has expired"},
    {122, "The data area passed to a system call is too small"},
    {123, "The filename, directory name, or volume label syntax is incorrect"},
    {126, "The specified module could not be found"},
    {127, "The specified procedure could not be found"},
    {131, "An attempt was made to move the file pointer before the beginning of the file"},
    {132, "The file pointer cannot be set on the specified device or file"},
    {144, "The directory is not a subdirectory of the root directory"},
    {145, "The directory is not empty"},
    {158, "The segment is already unlocked"},
    {161, "The specified path is invalid"},
    {170, "The requested resource is in use"},
    {183, "Cannot create a file when that file already exists"},
    {193, "The application is not a valid program for this system"},
    {203, "The system could not find the environment option that was entered"},
    {206, "The filename or extension is too long"},
    {223, "The file size exceeds the limit allowed and cannot be saved"},
    {231, "All pipe instances are busy"},
    {232, "The pipe is being closed"},
    {234, "More data is available"},
    {258, "The wait operation timed out"},
    {259, "No more data is available"},
    {267, "The directory name is invalid"},
    {288, "Attempt to release mutex not owned by caller"},
    {298, "Too many posts were made to a semaphore"},
    {303, "The file cannot be opened because it is in the process of being deleted"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2"},
    {487, "Attempt to access invalid address"},
    {534, "Arithmetic result exceeded 32 bits"},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request"},
    {996, "Overlapped I/O event is not in a signaled state"},
    {997, "Overlapped I/O operation is in progress"},
    {998, "Invalid access to memory location"},
    {1004, "Invalid flags"},
    {1005, "The volume does not contain a recognized file system"},
    {1006, "The volume for a file has been externally altered so that the opened file is no longer valid"},
    {1008, "An attempt was made to reference a token that does not exist"},
    {1009, "The configuration registry database is corrupt"},
    {1010, "The configuration registry key is invalid"},
    {1011, "The configuration registry key could not be opened"},
    {1012, "The configuration registry key could not be read"},
    {1013, "The configuration registry key could not be written"},
    {1015, "The registry is corrupted. The structure of one of the files containing registry data is corrupted, or the "
           "system's memory image of the file is corrupted, or the file could not be recovered because the alternate "
           "copy or log was absent or corrupted"},
    {1016, "An I/O operation initiated by the registry failed unrecoverably. The registry could not read in, or write "
           "out, or flush, one of the files that contain the system's image of the registry"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion"},
    {1020, "Cannot create a symbolic link in a registry key that already has subkeys or values"},
    {1021, "Cannot create a stable subkey under a volatile parent key"},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page"},
    {1114, "A dynamic link library (DLL) initialization routine failed"},
    {1117, "The request could not be performed because of an I/O device error"},
    {1142, "An attempt was made to create more links on a file than the file system supports"},
    {1155, "No application is associated with the specified file for this operation"},
    {1168, "Element not found"},
    {1200, "The specified device name is invalid"},
    {1203, "The network path was either typed incorrectly, does not exist, or the network provider is not "
           "currently available. Please try retyping the path or contact your network administrator"},
    {1219, "Multiple connections to a server or shared resource by the same user, using more than one user name, "
           "are not allowed"},
    {1223, "The operation was canceled by the user"},
    {1231, "The network location cannot be reached"},
    {1232, "The network location cannot be reached"},
    {1314, "A required privilege is not held by the client"},
    {1326, "The user name or password is incorrect"},
    {1450, "Insufficient system resources exist to complete the requested service"},
    {1453, "Insufficient quota to complete the requested service"},
    {1460, "This operation returned because the timeout period expired"},
    {1601, "The Windows Installer Service could not be accessed"},
    {1602, "User cancelled installation"},
    {1603, "Fatal error during installation"},
    {1604, "Installation suspended, incomplete"},
    {1605, "This action is only valid for products that are currently installed"},
    {1606, "Feature ID not registered"},
    {1607, "Component ID not registered"},
    {1608, "Unknown property"},
    {1609, "Handle is in an invalid state"},
    {1610, "The configuration data for this product is corrupt. Contact your support personnel"},
    {1611, "Component qualifier not present"},
    {1612, "The installation source for this product is not available. Verify that the source exists and that you "
           "can access it"},
    {1613, "This installation package cannot be installed by the Windows Installer service. You must install a "
           "Windows service pack that contains a newer version of the Windows Installer service"},
    {1614, "Product is uninstalled"},
    {1615, "SQL query syntax invalid or unsupported"},
    {1616, "Record field does not exist"},
    {1618, "Another installation is already in progress. Complete that installation before proceeding with this "
           "install"},
    {1619, "This installation package could not be opened. Verify that the package exists and that you can access "
           "it, or contact the application vendor to verify that this is a valid Windows Installer package"},
    {1620, "This installation package could not be opened. Contact the application vendor to verify that this is "
           "a valid Windows Installer package"},
    {1621, "There was an error starting the Windows Installer service user interface. Contact your support "
           "personnel"},
    {1622, "Error opening installation log file. Verify that the specified log file location exists and that you "
           "can write to it"},
    {1623, "The language of this installation package is not supported by your system"},
    {1624, "Error applying transforms. Verify that the specified transform paths are valid"},
    {1625, "This installation is forbidden by system policy. Contact your system administrator"},
    {1626, "Function could not be executed"},
    {1627, "Function failed during execution"},
    {1628, "Invalid or unknown table specified"},
    {1629, "Data supplied is of wrong type"},
    {1630, "Data of this type is not supported"},
    {1631, "The Windows Installer service failed to start. Contact your support personnel"},
    {1632, "The Temp folder is on a drive that is full or is inaccessible. Free up space on the drive or verify "
           "that you have write permission on the Temp folder"},
    {1633, "This installation package is not supported by this processor type. Contact your product vendor"},
    {1634, "Component not used on this computer"},
    {1635, "This update package could not be opened. Verify that the update package exists and that you can "
           "access it, or contact the application vendor to verify that this is a valid Windows Installer update "
           "package"},
    {1636, "This update package could not be opened. Contact the application vendor to verify that this is a "
           "valid Windows Installer update package"},
    {1637, "This update package cannot be processed by the Windows Installer service. You must install a Windows "
           "service pack that contains a newer version of the Windows Installer service"},
    {1638, "Another version of this product is already installed. Installation of this version cannot continue. "
           "To configure or remove the existing version of this product, use Add/Remove Programs on the Control "
           "Panel"},
    {1639, "Invalid command line argument. Consult the Windows Installer SDK for detailed command line help"},
    {1640, "Only administrators have permission to add, remove, or configure server software during a Terminal "
           "services remote session. If you want to install or configure software on the server, contact your "
           "network administrator"},
    {1641, "The requested operation completed successfully. The system will be restarted so the changes can take "
           "effect"},
    {1642, "The upgrade cannot be installed by the Windows Installer service because the program to be upgraded "
           "may be missing, or the upgrade may update a different version of the program. Verify that the program "
           "to be upgraded exists on your computer and that you have the correct upgrade"},
    {1643, "The update package is not permitted by software restriction policy"},
    {1644, "One or more customizations are not permitted by software restriction policy"},
    {1645, "The Windows Installer does not permit installation from a Remote Desktop Connection"},
    {1646, "Uninstallation of the update package is not supported"},
    {1647, "The update is not applied to this product"},
    {1648, "No valid sequence could be found for the set of updates"},
    {1649, "Update removal was disallowed by policy"},
    {1650, "The XML update data is invalid"},
    {1651, "Windows Installer does not permit updating of managed advertised products. At least one feature of the "
           "product must be installed before applying the update"},
    {1652, "The Windows Installer service is not accessible in Safe Mode. Please try again when your computer is "
           "not in Safe Mode or you can use System Restore to return your machine to a previous good state"},
    {1653, "A fail fast exception occurred. Exception handlers will not be invoked and the process will be "
           "terminated immediately"},
    {1654, "The app that you are trying to run is not supported on this version of Windows"},
    {1717, "The interface is unknown"},
    {1804, "The specified datatype is invalid"},
    {1812, "The specified image file did not contain a resource section"},
    {1813, "The specified resource type cannot be found in the image file"},
    {1814, "The specified resource name cannot be found in the image file"},
    {1921, "The name of the file cannot be resolved by the system"},
    {3010, "The requested operation is successful. Changes will not be effective until the system is rebooted"},
    {3011, "The requested operation is successful. Changes will not be effective until the service is restarted"},
    {4390, "The file or directory is not a reparse point"},
    {10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall"},
    {10013, "An attempt was made to access a socket in a way forbidden by its access permissions"},
    {10035, "A non-blocking socket operation could not be completed immediately"},
    {10038, "An operation was attempted on something that is not a socket"},
    {10048, "Only one usage of each socket address (protocol/network address/port) is normally permitted"},
    {10049, "The requested address is not valid in its context"},
    {10050, "A socket operation encountered a dead network"},
    {10051, "A socket operation was attempted to an unreachable network"},
    {10053, "An established connection was aborted by the software in your host machine"},
    {10054, "An existing connection was forcibly closed by the remote host"},
    {10060, "A connection attempt failed because the connected party did not properly respond after a period of time, "
           "or established connection failed because connected host has failed to respond"},
    {10061, "No connection could be made because the target machine actively refused it"},
    {10065, "A socket operation was attempted to an unreachable host"},
    {10091, "WSAStartup cannot function at this time because the underlying system it uses to provide network services "
           "is currently unavailable"},
    {10093, "Either the application has not called WSAStartup, or WSAStartup failed"},
    {11001, "No such host is known"},
    {11002, "This is usually a temporary error during hostname resolution and means that the local server did not "
           "receive a response from an authoritative server"},
    {11004, "The requested name is valid, but no data of the requested type was found"},
    {15100, "The resource loader failed to find MUI file"},
    {0x80004001, "Not implemented"},
    {0x80004002, "No such interface supported"},
    {0x80004003, "Invalid pointer"},
    {0x80004004, "Operation aborted"},
    {0x80004005, "Unspecified error"},
    {0x8000FFFF, "Catastrophic failure"},
    {0x80040154, "Class not registered"},
    {0x800401F0, "CoInitialize has not been called"},
};

static_assert(std::is_sorted(std::begin(kSystemTexts), std::end(kSystemTexts),
                             [](const SystemText& a, const SystemText& b) { return a.code < b.code; }),
              "the system texts are searched by halves");

const char* find_text(DWORD code) {
  std::size_t lo = 0, hi = std::size(kSystemTexts);
  while (lo < hi) {
    std::size_t mid = (lo + hi) / 2;
    if (kSystemTexts[mid].code < code)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo < std::size(kSystemTexts) && kSystemTexts[lo].code == code) return kSystemTexts[lo].text;
  return nullptr;
}

// HRESULTs of the Win32 facility (0x8007xxxx) carry the Win32 code in the low word.
const char* lookup(DWORD id) {
  if ((id & 0xFFFF0000u) == 0x80070000u) return find_text(id & 0xFFFFu);
  return find_text(id);
}

}  // namespace

std::u16string system_message(DWORD code) {
  const char* t = lookup(code);
  if (!t) return {};
  std::u16string s = utf8_to_utf16(t);
  s += u".\r\n";
  return s;
}

}  // namespace win32

// ---------------------------------------------------------------------------
// FormatMessage

namespace {

bool language_known(DWORD lang) {
  // Only English texts exist; the neutral and default languages select them.
  DWORD primary = lang & 0x3FF;
  return primary == LANG_NEUTRAL || primary == LANG_ENGLISH;
}

// One argument source for the inserts: a va_list read in order, or an array.
class Arguments {
 public:
  Arguments(va_list* list, bool is_array) : list_(list), array_(is_array) {}
  bool present() const { return list_ != nullptr; }

  // The raw argument n (1-based). The va_list form walks forward, keeping
  // what it has read, so inserts may repeat or appear out of order.
  std::uintptr_t get(unsigned n) {
    if (array_) return reinterpret_cast<const std::uintptr_t*>(list_)[n - 1];
    while (read_.size() < n) read_.push_back(va_arg(*list_, std::uintptr_t));
    return read_[n - 1];
  }

 private:
  va_list* list_;
  bool array_;
  std::vector<std::uintptr_t> read_;
};

template <class Char>
std::u16string arg_string(std::uintptr_t v, bool wide) {
  if (v == 0) return u"(null)";
  if (wide) return std::u16string(reinterpret_cast<const WCHAR*>(v));
  const char* s = reinterpret_cast<const char*>(v);
  std::u16string out;
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_ACP, 0, s, -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n - 1));
  }
  return out;
}

// Formats one insert with its printf-style spec (without the '!' marks).
template <class Char>
std::u16string format_insert(Arguments& args, unsigned n, const std::string& spec) {
  std::string conv = spec.empty() ? std::string("s") : spec;
  char type = conv.back();
  // Split flags/width/precision from the length modifiers.
  std::string head;
  std::size_t i = 0;
  while (i < conv.size() && std::strchr("-+ #0123456789.*", conv[i])) head += conv[i++];
  std::string mods = conv.substr(i, conv.size() - i - 1);
  std::uintptr_t v = args.get(n);
  if (type == 's' || type == 'S') {
    bool wide = (sizeof(Char) == 2) == (type == 's');
    if (mods.find('h') != std::string::npos) wide = false;
    if (mods.find('l') != std::string::npos || mods.find('w') != std::string::npos) wide = true;
    std::u16string s = arg_string<Char>(v, wide);
    // Width and precision apply to the text.
    std::size_t width = 0, prec = std::u16string::npos;
    bool left = head.find('-') != std::string::npos;
    std::size_t dot = head.find('.');
    std::string w = head.substr(0, dot);
    while (!w.empty() && (w[0] == '-' || w[0] == '0' || w[0] == '+' || w[0] == ' ' || w[0] == '#')) w.erase(0, 1);
    if (!w.empty()) width = std::strtoul(w.c_str(), nullptr, 10);
    if (dot != std::string::npos) prec = std::strtoul(head.c_str() + dot + 1, nullptr, 10);
    if (prec < s.size()) s.resize(prec);
    if (s.size() < width) {
      std::u16string pad(width - s.size(), u' ');
      s = left ? s + pad : pad + s;
    }
    return s;
  }
  if (type == 'c' || type == 'C') {
    return std::u16string(1, static_cast<char16_t>(v));
  }
  char buf[128];
  std::string fmt = "%" + head;
  bool is64 = mods == "I64" || mods == "ll" || mods == "I" || mods == "z";
  switch (type) {
    case 'd':
    case 'i':
      fmt += "lld";
      std::snprintf(buf, sizeof buf, fmt.c_str(),
                    is64 ? static_cast<long long>(v) : static_cast<long long>(static_cast<std::int32_t>(v)));
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      fmt += "ll";
      fmt += type;
      std::snprintf(buf, sizeof buf, fmt.c_str(),
                    is64 ? static_cast<unsigned long long>(v)
                         : static_cast<unsigned long long>(static_cast<std::uint32_t>(v)));
      break;
    case 'p':
      std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(v));
      break;
    default:
      return {};
  }
  return win32::utf8_to_utf16(buf);
}

// The message engine, shared by both forms. Returns false with the last error
// set when the message cannot be made.
template <class Char>
bool format_message(DWORD flags, const std::u16string& source, Arguments& args, std::u16string& out) {
  const DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  const bool ignore = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
  std::size_t line_start = 0;
  auto put = [&](char16_t c) {
    out += c;
    if (c == u'\n') line_start = out.size();
    if (width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK && out.size() - line_start > width) {
      // Break at the last blank of the line, or hard at the width.
      std::size_t blank = out.find_last_of(u' ');
      if (blank != std::u16string::npos && blank >= line_start) {
        out.replace(blank, 1, u"\r\n");
        line_start = blank + 2;
      } else {
        out.insert(out.size() - 1, u"\r\n");
        line_start = out.size() - 1;
      }
    }
  };
  const std::size_t n = source.size();
  for (std::size_t i = 0; i < n; ++i) {
    char16_t c = source[i];
    if (c == u'\r' || c == u'\n') {
      // Hard line breaks of the source; with a width they become one blank.
      std::size_t next = i + 1;
      if (c == u'\r' && next < n && source[next] == u'\n') ++i;
      if (width == 0)
        put(u'\r'), put(u'\n');
      else
        put(u' ');
      continue;
    }
    if (c != u'%') {
      put(c);
      continue;
    }
    if (i + 1 >= n) break;  // a lone '%' at the end is dropped
    char16_t d = source[++i];
    if (d >= u'1' && d <= u'9') {
      unsigned num = d - u'0';
      std::size_t start = i - 1;
      if (i + 1 < n && source[i + 1] >= u'0' && source[i + 1] <= u'9') num = num * 10 + (source[++i] - u'0');
      std::string spec;
      if (i + 1 < n && source[i + 1] == u'!') {
        std::size_t close = source.find(u'!', i + 2);
        if (close == std::u16string::npos) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return false;
        }
        for (std::size_t k = i + 2; k < close; ++k) spec += static_cast<char>(source[k]);
        i = close;
      }
      if (ignore) {
        for (std::size_t k = start; k <= i; ++k) put(source[k]);
        continue;
      }
      if (!args.present()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
      }
      for (char16_t x : format_insert<Char>(args, num, spec)) put(x);
      continue;
    }
    if (ignore) {
      // Escapes other than inserts are still interpreted.
    }
    switch (d) {
      case u'0':
        return true;  // ends the message without a final line break
      case u'n':
        put(u'\r');
        put(u'\n');
        break;
      case u'r':
        put(u'\r');
        break;
      case u't':
        put(u'\t');
        break;
      case u'b':
        put(u' ');
        break;
      default:
        put(d);  // "%%", "%.", "%!", "% " give the character itself
        break;
    }
  }
  return true;
}

template <class Char>
DWORD format_message_common(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, Char* lpBuffer,
                            DWORD nSize, va_list* Arguments_) {
  std::u16string source;
  if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
    if (!lpSource) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if constexpr (sizeof(Char) == 2) {
      source = static_cast<const WCHAR*>(lpSource);
    } else {
      const char* s = static_cast<const char*>(lpSource);
      int units = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
      source.resize(static_cast<std::size_t>(units > 0 ? units : 1));
      MultiByteToWideChar(CP_ACP, 0, s, -1, source.data(), units);
      source.resize(source.size() - 1);
    }
  } else if (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) {
    if (!language_known(dwLanguageId)) {
      SetLastError(ERROR_MUI_FILE_NOT_FOUND);
      return 0;
    }
    source = win32::system_message(dwMessageId);
    if (source.empty()) {
      SetLastError(ERROR_MR_MID_NOT_FOUND);
      return 0;
    }
  } else if (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) {
    // No module of the layer carries a message table.
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }

  Arguments args(Arguments_, (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0);
  std::u16string text;
  if (!format_message<Char>(dwFlags, source, args, text)) return 0;

  std::basic_string<Char> result;
  if constexpr (sizeof(Char) == 2) {
    result = text;
  } else {
    if (!text.empty()) {
      int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
      result.resize(static_cast<std::size_t>(bytes));
      WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), bytes, nullptr,
                          nullptr);
    }
  }

  const std::size_t len = result.size();
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    if (!lpBuffer) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::size_t units = len + 1 > nSize ? len + 1 : nSize;
    auto* block = static_cast<Char*>(LocalAlloc(LMEM_FIXED, units * sizeof(Char)));
    if (!block) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(block, result.data(), len * sizeof(Char));
    block[len] = 0;
    *reinterpret_cast<Char**>(lpBuffer) = block;
  } else {
    if (!lpBuffer || len + 1 > nSize) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(lpBuffer, result.data(), len * sizeof(Char));
    lpBuffer[len] = 0;
  }
  return static_cast<DWORD>(len);
}

}  // namespace

DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, va_list* Arguments) {
  return format_message_common<WCHAR>(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize, Arguments);
}

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments) {
  return format_message_common<char>(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize, Arguments);
}
