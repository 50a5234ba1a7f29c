#include "platform/fox/fx_settings.h"

#include <cstring>
#include <string>

#include "platform/fox/fxwstring.h"
#include "platform/win32/kernel32/process.h"

namespace FX {

FXHookedRegistry::FXHookedRegistry(const FXString& appKey, const FXString& vendorKey)
    : appKey_(appKey), vendorKey_(vendorKey) {}

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// Whether the text needs quotes to come back as it is: control characters,
// blanks that reading trims, a leading quote, and the characters that would
// end a key (`=`) or a section name (`]`) or start a comment or section.
bool needsQuotes(const char* text, bool key, bool section) {
  const std::size_t n = std::strlen(text);
  if (n == 0) return key || section;
  if (blank(text[0]) || blank(text[n - 1]) || text[0] == '"') return true;
  if (key && (text[0] == '[' || text[0] == '#' || text[0] == ';')) return true;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    if (key && c == '=') return true;
    if (section && c == ']') return true;
  }
  return false;
}

std::string quoted(const char* text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char* p = text; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

// The quoted text starting at text[at] ('"'); `at` ends after the closing
// quote (or at the end when there is none).
FXString unquoted(const FXString& text, FXint& at) {
  std::string out;
  auto hexValue = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  ++at;
  while (at < text.length() && text[at] != '"') {
    char c = text[at++];
    if (c == '\\' && at < text.length()) {
      c = text[at++];
      switch (c) {
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        case 't': c = '\t'; break;
        case 'x':
          if (at + 1 < text.length() && hexValue(text[at]) >= 0 && hexValue(text[at + 1]) >= 0) {
            c = static_cast<char>(hexValue(text[at]) << 4 | hexValue(text[at + 1]));
            at += 2;
          }
          break;
        default: break;  // '\\', '"' and the rest stand for themselves
      }
    }
    out += c;
  }
  if (at < text.length()) ++at;
  return FXString(out.c_str(), static_cast<FXint>(out.size()));
}

FXString plainOrQuoted(const FXString& text) {
  if (text.empty() || text[0] != '"') return text;
  FXint at = 0;
  return unquoted(text, at);
}

}  // namespace

FXString FXHookedRegistry::settingsPath() const {
  char16_t buffer[512];
  const DWORD n = GetEnvironmentVariableW(u"APPDATA", buffer, 512);
  std::string base;
  // FXString holds UTF-8; a lone surrogate becomes U+FFFD.
  if (n > 0 && n < 512) base = FXWString(buffer, static_cast<int>(n)).toUtf8();
  if (base.empty()) base = "C:";
  FXString path = base.c_str();
  if (!vendorKey_.empty()) path += "\\" + vendorKey_;
  path += "\\" + (appKey_.empty() ? FXString("settings") : appKey_) + ".ini";
  return path;
}

void* FXHookedRegistry::openRead(const FXString&) { return nullptr; }
void* FXHookedRegistry::openWrite(const FXString&) { return nullptr; }
bool FXHookedRegistry::readLine(char*, int, void*) { return false; }
void FXHookedRegistry::closeFile(void*) {}
void FXHookedRegistry::writeText(const char*, void*) {}
void FXHookedRegistry::writeLineEnd(void*) {}
bool FXHookedRegistry::finishWrite(void* file) {
  closeFile(file);
  return true;
}

bool FXHookedRegistry::read() {
  void* file = openRead(settingsPath());
  if (!file) return false;
  const bool wasModified = isModified();
  char chunk[2048];
  FXString section;
  bool inSection = false;
  while (readLine(chunk, sizeof chunk, file)) {
    // A line longer than the buffer comes in pieces; only a short piece ends it.
    std::string whole(chunk);
    for (std::size_t piece = whole.size(); piece == sizeof chunk - 1;) {
      if (!readLine(chunk, sizeof chunk, file)) break;
      piece = std::strlen(chunk);
      whole += chunk;
    }
    FXString text(whole.c_str(), static_cast<FXint>(whole.size()));
    text.trim();
    if (text.empty() || text[0] == '#' || text[0] == ';') continue;
    if (text[0] == '[') {
      if (text.length() > 1 && text[1] == '"') {
        FXint at = 1;
        section = unquoted(text, at);
        inSection = true;
      } else {
        const FXint end = text.find(']');
        section = end > 0 ? text.mid(1, end - 1) : FXString();
        inSection = !section.empty();
      }
      continue;
    }
    FXString key;
    FXint eq;
    if (text[0] == '"') {
      FXint at = 0;
      key = unquoted(text, at);
      while (at < text.length() && blank(text[at])) ++at;
      if (at >= text.length() || text[at] != '=') continue;
      eq = at;
    } else {
      eq = text.find('=');
      if (eq <= 0) continue;
      key = text.left(eq);
      key.trim();
    }
    if (!inSection) continue;
    FXString value = text.mid(eq + 1, text.length());
    value.trim();
    writeStringEntry(section.text(), key.text(), plainOrQuoted(value).text());
  }
  closeFile(file);
  setModified(wasModified);
  return true;
}

bool FXHookedRegistry::write(void*) {
  if (!isModified()) return true;
  void* file = openWrite(settingsPath());
  if (!file) return false;
  auto put = [&](const char* text, bool key, bool section) {
    if (needsQuotes(text, key, section))
      writeText(quoted(text).c_str(), file);
    else
      writeText(text, file);
  };
  for (FXint s = first(); s < size(); s = next(s)) {
    FXStringDict* entries = data(s);
    if (!entries || entries->no() == 0) continue;
    writeText("[", file);
    put(key(s), false, true);
    writeText("]", file);
    writeLineEnd(file);
    for (FXint e = entries->first(); e < entries->size(); e = entries->next(e)) {
      put(entries->key(e), true, false);
      writeText("=", file);
      put(entries->data(e), false, false);
      writeLineEnd(file);
    }
    writeLineEnd(file);
  }
  if (!finishWrite(file)) return false;
  setModified(false);
  return true;
}

}  // namespace FX
