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

std::int32_t errorPlainText(String& out, const Common::Error& error) {
  Common::Error record = error;
  do {
    NumberFormatHEX hex(16);
    String code;
    hex.format(code, Variant(record.code()), 0);
    out.append(errorOwnMessage(record)).append(u" (0x").append(code).append(u')');
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
    out.append(formatMessage1(String(u"\n    Tag = 0x{0,number,hex}"),
                              Variant(static_cast<unsigned long long>(record.site()))));
    record = record ? record.cause() : Common::Error();
    if (record) out.append(u'\n');
  } while (record);
  return out.length();
}

String formatError(const Common::Error& error) {
  String out;
  errorPlainText(out, error);
  return out;
}

}  // namespace Processor
