#include "core/error_format.h"

#include <memory>
#include <string>

#include "core/message_format.h"
#include "core/number_format.h"
#include "files/fs_error.h"
#include "platform/win32/codepage.h"

namespace Processor {

String errorOwnMessage(const Common::Error& error) {
  const std::u16string own = error ? error.text() : std::u16string();
  if (!own.empty()) return String(own.data(), static_cast<std::int32_t>(own.size()));
  const std::uint32_t code = error.code();
  if (code == 0xFFF0) {
    const auto hr = static_cast<std::int32_t>(error.numberField("code"));
    if (hr == 0) return String();
    const std::u16string system = Common::systemErrorText(hr);
    String text(system.data(), static_cast<std::int32_t>(system.size()));
    text.trim();
    return text.isEmpty() ? String(u"Unknown Win32 error") : text;
  }
  if (code >= 0x40000 && code <= 0x4FFFF) {
    if (const char16_t* t = fs_error_text(code)) return String(t);
  }
  return String();
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

String formatError(const Common::Error& error) {
  String out;
  errorPlainText(out, error);
  return out;
}

}  // namespace Processor
