#include "msi/model/text.h"

#include <cctype>
#include <climits>
#include <cwctype>

#include "msi/model/error.h"
#include "platform/win32/windows.h"

namespace Msi {

std::u16string toString(std::int32_t value, int radix) {
  if (radix < 2 || radix > 36) return {};
  bool negative = radix == 10 && value < 0;
  std::uint32_t v = negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  std::u16string digits;
  do {
    std::uint32_t d = v % static_cast<std::uint32_t>(radix);
    digits.insert(digits.begin(), static_cast<char16_t>(d < 10 ? u'0' + d : u'a' + d - 10));
    v /= static_cast<std::uint32_t>(radix);
  } while (v);
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

std::u16string toUpper(const std::u16string& text) {
  std::u16string out = text;
  for (char16_t& c : out)
    if (c < 0xD800 || c > 0xDFFF) c = static_cast<char16_t>(std::towupper(static_cast<std::wint_t>(c)));
  return out;
}

std::u16string toLower(const std::u16string& text) {
  std::u16string out = text;
  for (char16_t& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return out;
}

bool isNumber(const std::u16string& text) {
  if (text.empty()) return false;
  for (char16_t c : text)
    if (!((c >= u'0' && c <= u'9') || c == u'-')) return false;
  return true;
}

std::int32_t toInt(const std::u16string& text) {
  if (!isNumber(text)) throw Error(MSI_LOCATION, 0x5058087bu, 5);
  std::size_t i = 0;
  bool negative = false;
  if (text[0] == u'-') negative = true, i = 1;
  long long v = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    v = v * 10 + (text[i] - u'0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;  // saturates
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  return static_cast<std::int32_t>(v);
}

std::u16string systemErrorText(std::uint32_t code) {
  WCHAR buffer[4096];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0x400, buffer,
                           4096, nullptr);
  std::u16string text(buffer, n);
  if (!text.empty() && text.back() == u'\n') text.pop_back();
  if (!text.empty() && text.back() == u'\r') text.pop_back();
  return text;
}

}  // namespace Msi
