#include "msi/model/identifiers.h"

#include <string_view>

#include "msi/model/text.h"
#include "platform/win32/windows.h"

namespace Msi {
namespace {

void appendNibbles(std::u16string& out, unsigned long long v, int bytes) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  for (int i = 0; i < 2 * bytes; ++i) {
    out += kDigits[v & 0xF];
    v >>= 4;
  }
}

}  // namespace

std::u16string packGuid(const GUID& guid) {
  std::u16string out;
  appendNibbles(out, guid.Data1, 4);
  appendNibbles(out, guid.Data2, 2);
  appendNibbles(out, guid.Data3, 2);
  for (BYTE b : guid.Data4) appendNibbles(out, b, 1);
  return toUpper(out);
}

bool createGuid(std::u16string& out) {
  UUID uuid;
  if (UuidCreate(&uuid) != RPC_S_OK) return false;
  out = packGuid(uuid);
  return true;
}

bool newIdentifier(std::u16string& out) {
  std::u16string packed;
  if (!createGuid(packed)) return false;
  out = u"_" + toUpper(packed);
  return true;
}

bool isValidGuid(const std::u16string& text) {
  std::u16string rest = text;
  std::size_t open = rest.find(u'{');
  if (open != std::u16string::npos) rest.erase(open, 1);
  std::size_t close = rest.find(u'}');
  if (close != std::u16string::npos) rest.erase(close, 1);
  std::string ansi;
  for (char16_t c : rest) {
    // Taking only the low byte would let a non-ASCII character pass as a digit.
    if (c == 0 || c > 0x7F) return false;
    ansi += static_cast<char>(c);
  }
  UUID uuid;
  return UuidFromStringA(reinterpret_cast<const unsigned char*>(ansi.c_str()), &uuid) == RPC_S_OK;
}

namespace {

// Characters a short name may hold besides letters and digits.
bool legalShortChar(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) return true;
  return std::u16string_view(u"$%'-_@~`!(){}^#&").find(c) != std::u16string_view::npos;
}

std::u16string legalized(const std::u16string& text) {
  std::u16string out = text;
  for (char16_t& c : out)
    if (!legalShortChar(c)) c = u'_';
  return out;
}

}  // namespace

std::u16string makeShortName(const std::u16string& longName) { return makeShortName(longName, {}); }

std::u16string makeShortName(const std::u16string& longName, const std::set<std::u16string>& taken) {
  std::size_t start = longName.find_last_of(u"\\/:");
  std::u16string last = start == std::u16string::npos ? longName : longName.substr(start + 1);
  std::size_t dot = last.rfind(u'.');
  std::u16string base = legalized(dot == std::u16string::npos ? last : last.substr(0, dot));
  std::u16string ext = dot == std::u16string::npos ? std::u16string() : legalized(last.substr(dot + 1));
  std::u16string dottedExt = ext.empty() ? std::u16string() : u"." + toUpper(ext.substr(0, 3));
  if (base.size() <= 8 && ext.size() <= 3 && !base.empty()) {
    std::u16string whole = toUpper(base) + dottedExt;
    if (!taken.count(whole)) return whole;
  }
  base = toUpper(base);
  // ~1 to ~9 on six characters, then shorter bases for longer numbers.
  for (int n = 1; n < 1000000; ++n) {
    std::u16string tail = u"~" + toString(n);
    std::u16string candidate = base.substr(0, 8 - tail.size()) + tail + dottedExt;
    if (!taken.count(candidate)) return candidate;
  }
  return base.substr(0, 6) + u"~1" + dottedExt;
}

}  // namespace Msi
