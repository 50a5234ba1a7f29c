#include "core/error_format.h"

#include <memory>
#include <new>
#include <string>

#include "core/message_format.h"
#include "core/number_format.h"
#include "core/catalogue.h"
#include "platform/win32/windows.h"

namespace Processor {

namespace {

struct MessageText {
  std::uint32_t code;
  std::uint32_t slot;
  const char16_t* text;
};
// What people are told about a file-library error that came without a text.
constexpr MessageText fileMessages[] = {
    {0x40001, 1969, u"Error occurred while reading the file."},
    {0x40002, 1957, u"End of file has been encountered."},
    {0x40003, 1975, u"Error occurred while writing to the file."},
    {0x40004, 1956, u"Disk is full."},
    {0x40005, 1973, u"Error occurred while searching in the file."},
    {0x40006, 1967, u"Insufficient memory to complete the operation."},
    {0x40007, 1966, u"Error occurred while opening the file."},
    {0x40008, 1970, u"Error occurred while deleting the file."},
    {0x40009, 1971, u"Error occurred while renaming the file."},
    {0x4000a, 1954, u"Error occurred while creating the file."},
    {0x4000b, 1964, u"The drive is not ready."},
    {0x4000c, 1968, u"The file is read-only."},
    {0x4000d, 1953, u"The file is corrupted."},
    {0x4000e, 1974, u"Operation is not supported."},
    {0x4000f, 1952, u"Canceled."},
    {0x40010, 1955, u"Device is busy."},
    {0x40011, 1962, u"Specified file does not exist."},
    {0x40012, 1963, u"This is not the last volume of the backup archive."},
    {0x40013, 1950, u"The file or folder already exists."},
    {0x40014, 1949, u"Access to the file is denied."},
    {0x40015, 1959, u"Network disconnected."},
    {0x40016, 1960, u"Network disconnected by timeout."},
    {0x40017, 1958, u"Failed to lock the file."},
    {0x40019, 1951, u"Failed to back up the file (folder)."},
    {0x4001a, 1972, u"Failed to restore the file (folder)."},
};

constexpr DWORD systemMessageFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
constexpr DWORD userDefaultLanguage = 0x400;

// The system's text for an HRESULT in the user's language, white space trimmed.
String userSystemMessage(std::int32_t hresult) {
  WCHAR* buffer = nullptr;
  const DWORD n = FormatMessageW(systemMessageFlags, nullptr, static_cast<DWORD>(hresult), userDefaultLanguage,
                                 reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  String text;
  if (n && buffer) text = String(reinterpret_cast<const char16_t*>(buffer), static_cast<std::int32_t>(n));
  if (buffer) LocalFree(buffer);
  text.trim();
  return text;
}

String ownText(const Common::Error& error) {
  const std::u16string own = error ? error.text() : std::u16string();
  return String(own.data(), static_cast<std::int32_t>(own.size()));
}

}  // namespace

String errorMessageText(const Common::Error& error) {
  String text = ownText(error);
  if (!text.isEmpty()) return text;
  const std::uint32_t code = error.code();
  for (const MessageText& m : fileMessages)
    if (m.code == code) return String(Common::catalogueText(m.slot, m.text));
  return String();
}

String errorOwnMessage(const Common::Error& error) {
  const std::uint32_t code = error.code();
  if (code == 0xFFF0) {
    String text = ownText(error);
    if (!text.isEmpty()) return text;
    const auto hr = static_cast<std::int32_t>(error.numberField("code"));
    if (hr == 0) return String();
    text = userSystemMessage(hr);
    return text.isEmpty() ? String(u"Unknown Win32 error") : text;
  }
  if (code >= 0x40000 && code <= 0x4FFFF) return errorMessageText(error);
  return ownText(error);
}

String errorFieldText(const Common::Error& error, const char* name, bool quoted) {
  String value;
  bool text = false;
  if (const char16_t* w = error.wideField(name)) {
    value = String(w);
    text = true;
  } else if (const char* n = error.narrowField(name)) {
    std::u16string wide;
    const int len = static_cast<int>(std::char_traits<char>::length(n));
    const int units = MultiByteToWideChar(CP_ACP, 0, n, len, nullptr, 0);
    wide.resize(units > 0 ? units : 0);
    if (units > 0) MultiByteToWideChar(CP_ACP, 0, n, len, wide.data(), units);
    value = String(wide.data(), static_cast<std::int32_t>(wide.size()));
    text = true;
  }
  if (text) {
    if (value.isEmpty() || !quoted) return value;
    return String(u"\"").append(value).append(u'"');
  }
  const std::uint64_t number = error.numberField(name);
  std::unique_ptr<NumberFormat> locale(NumberFormat::create(0));
  NumberFormatHEX hex(16);
  String decimal, digits;
  if (locale) locale->format(decimal, Variant(static_cast<unsigned long long>(number)), 0);
  hex.format(digits, Variant(static_cast<unsigned long long>(number)), 0);
  return decimal.append(u" (0x").append(digits).append(u')');
}

namespace {

String recordHeadline(const Common::Error& record) {
  NumberFormatHEX hex(16);
  String code;
  hex.format(code, Variant(record.code()), 0);
  return errorOwnMessage(record).append(u" (0x").append(code).append(u')');
}

String recordFieldLines(const Common::Error& record) {
  String out;
  const std::string names = record ? record.fieldNames() : "";
  std::size_t start = 0;
  while (start < names.size()) {
    std::size_t end = names.find(',', start);
    if (end == std::string::npos) end = names.size();
    const std::string name = names.substr(start, end - start);
    out.append(u"\n    ").append(String(name.c_str())).append(u" = ");
    out.append(errorFieldText(record, name.c_str(), true));
    if (end < names.size()) out.append(u',');
    start = end + 1;
  }
  return out;
}

String recordTagLine(const Common::Error& record) {
  return formatMessage1(String(u"\n    Tag = 0x{0,number,hex}"),
                        Variant(static_cast<unsigned long long>(record.site())));
}

// Paths and user text end up in the page: without this a '<' in a file name
// would open a tag.
String htmlEscaped(const String& text) {
  String out;
  for (std::int32_t i = 0; i < text.length(); ++i) {
    const char16_t c = text[i];
    if (c == u'<') out.append(u"&lt;");
    else if (c == u'&') out.append(u"&amp;");
    else if (c == u'"') out.append(u"&quot;");
    else out.append(c);
  }
  return out;
}

}  // namespace

std::int32_t errorPlainText(String& out, const Common::Error& error) {
  Common::Error record = error;
  do {
    out.append(recordHeadline(record)).append(recordFieldLines(record)).append(recordTagLine(record));
    record = record ? record.cause() : Common::Error();
    if (record) out.append(u'\n');
  } while (record);
  return out.length();
}

std::int32_t errorHtmlText(String& out, const Common::Error& error) {
  out.append(u"<html><body>");
  Common::Error record = error;
  do {
    out.append(u"<p>").append(htmlEscaped(recordHeadline(record))).append(u"</p>");
    out.append(u"<p>").append(htmlEscaped(recordFieldLines(record))).append(u"</p>");
    out.append(u"<p>").append(recordTagLine(record)).append(u"</p>");
    record = record ? record.cause() : Common::Error();
    if (record) out.append(u'\n');
  } while (record);
  out.append(u"</body></html>");
  return out.length();
}

ErrorFormat* ErrorFormat::create() { return new (std::nothrow) ErrorFormatImpl; }

std::int32_t ErrorFormatImpl::plainText(String& out, const Common::Error& error) { return errorPlainText(out, error); }

std::int32_t ErrorFormatImpl::htmlText(String& out, const Common::Error& error) { return errorHtmlText(out, error); }

std::int32_t ErrorFormatImpl::formatWin32(String& out, std::uint32_t win32Error, std::uint64_t site) {
  Common::Error e(site, 0x10002);
  e.setWin32Cause(win32Error);
  return plainText(out, e);
}

String formatError(const Common::Error& error) {
  String out;
  std::unique_ptr<ErrorFormat> format(ErrorFormat::create());
  if (format) format->plainText(out, error);
  return out;
}

}  // namespace Processor
