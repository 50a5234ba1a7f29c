#include "msi/model/identifiers.h"

#include "msi/model/text.h"
#include "platform/win32/rpc.h"

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

std::u16string makeShortName(const std::u16string& longName) {
  std::u16string copy = longName;
  for (char16_t& c : copy)
    if (c == u' ') c = u'_';
  for (char16_t& c : copy)
    if (c == u'\t') c = u'_';
  std::size_t start = copy.find_last_of(u"\\/:");
  start = start == std::u16string::npos ? 0 : start + 1;
  std::u16string last = copy.substr(start);
  std::size_t dot = last.rfind(u'.');
  std::u16string base = dot == std::u16string::npos ? last : last.substr(0, dot);
  std::u16string ext = dot == std::u16string::npos ? std::u16string() : last.substr(dot);
  if (base.size() <= 8 && ext.size() <= 4) return toUpper(copy);
  return toUpper(base.substr(0, 6) + u"~1" + ext);
}

}  // namespace Msi
