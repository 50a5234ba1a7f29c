#include "platform/tools/ddf.h"

#include <algorithm>
#include <unordered_set>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/paths.h"

namespace layer_tools {
namespace {

// A cabinet holds at most this many files in its one folder (a 16-bit count),
// and names of at most 255 bytes.
constexpr std::size_t kMaxFiles = 0xFFFF;
constexpr std::size_t kMaxNameBytes = 255;

bool decode(std::string_view bytes, std::u16string& out) {
  out.clear();
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF)
    bytes.remove_prefix(3);
  if (bytes.empty()) return true;
  if (bytes.size() > 0x7FFFFFFF) return false;
  const int size = static_cast<int>(bytes.size());
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  UINT page = CP_UTF8;
  DWORD flags = MB_ERR_INVALID_CHARS;
  if (n <= 0) {
    page = CP_ACP;
    flags = 0;
    n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  }
  if (n <= 0) return false;
  out.assign(static_cast<std::size_t>(n), u'\0');
  return MultiByteToWideChar(page, flags, bytes.data(), size, out.data(), n) == n;
}

bool blank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view trim(std::u16string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::u16string upper(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = win32::upcase(c);
  return out;
}

std::string narrow(std::u16string_view s) { return win32::utf16_to_utf8(s); }

// One token at the start of `rest`: quoted ("" a quote inside) or up to a
// blank. False on an unterminated quote.
bool take_token(std::u16string_view& rest, std::u16string& token) {
  rest = trim(rest);
  token.clear();
  if (!rest.empty() && rest.front() == u'"') {
    std::size_t i = 1;
    for (;;) {
      if (i >= rest.size()) return false;
      if (rest[i] == u'"') {
        if (i + 1 < rest.size() && rest[i + 1] == u'"') {
          token += u'"';
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      token += rest[i++];
    }
    rest.remove_prefix(i);
    if (!rest.empty() && !blank(rest.front())) return false;  // text glued to the closing quote
    return true;
  }
  std::size_t i = 0;
  while (i < rest.size() && !blank(rest[i])) ++i;
  token.assign(rest.substr(0, i));
  rest.remove_prefix(i);
  return true;
}

bool on_off(const std::u16string& value, bool& out) {
  const std::u16string v = upper(value);
  if (v == u"ON") out = true;
  else if (v == u"OFF") out = false;
  else return false;
  return true;
}

bool decimal(const std::u16string& value, unsigned long long& out) {
  if (value.empty() || value.size() > 18) return false;
  out = 0;
  for (char16_t c : value) {
    if (c < u'0' || c > u'9') return false;
    out = out * 10 + static_cast<unsigned>(c - u'0');
  }
  return true;
}

bool has_separator(std::u16string_view s) {
  return s.find_first_of(u"\\/:") != std::u16string_view::npos;
}

struct Parser {
  Ddf& ddf;
  DdfError& error;
  bool explicit_names = false;
  std::unordered_set<std::u16string> seen;  // upper-cased names, for UniqueFiles

  bool fail(int line, std::string message) {
    error.line = line;
    error.message = std::move(message);
    return false;
  }

  bool set(int line, std::u16string_view rest) {
    const std::size_t eq = rest.find(u'=');
    if (eq == std::u16string_view::npos) return fail(line, "a .Set needs name=value");
    const std::u16string name = upper(trim(rest.substr(0, eq)));
    std::u16string_view after = trim(rest.substr(eq + 1));
    std::u16string value;
    if (!after.empty() && after.front() == u'"') {
      if (!take_token(after, value)) return fail(line, "unterminated quoted value");
      if (!trim(after).empty()) return fail(line, "text after the quoted value");
    } else {
      value.assign(after);
    }
    unsigned long long number = 0;
    if (name == u"UNIQUEFILES") {
      if (!on_off(value, ddf.unique_files)) return fail(line, "UniqueFiles is ON or OFF");
    } else if (name == u"COMPRESS") {
      if (!on_off(value, ddf.compress)) return fail(line, "Compress is ON or OFF");
    } else if (name == u"GENERATEINF") {
      bool ignored;
      if (!on_off(value, ignored)) return fail(line, "GenerateInf is ON or OFF");
    } else if (name == u"MAXDISKSIZE" || name == u"MAXCABINETSIZE") {
      if (!decimal(value, number)) return fail(line, narrow(name) + " is a number");
      if (number != 0) return fail(line, "only one cabinet is made here: " + narrow(name) + " must be 0");
    } else if (name == u"COMPRESSIONTYPE") {
      if (upper(value) != u"MSZIP") return fail(line, "only MSZIP compression is made here");
    } else if (name == u"CABINETNAMETEMPLATE") {
      std::u16string cab;
      for (char16_t c : value) {
        if (c == u'*') cab += u'1';
        else cab += c;
      }
      if (cab.empty() || has_separator(cab)) return fail(line, "CabinetNameTemplate is a file name");
      if (narrow(cab).size() > kMaxNameBytes) return fail(line, "CabinetNameTemplate is too long");
      ddf.cabinet_name = cab;
    } else if (name == u"DISKDIRECTORY1") {
      ddf.disk_directory = value;
    } else if (explicit_names) {
      return fail(line, "undefined variable " + narrow(name) + " under .OPTION EXPLICIT");
    }
    return true;
  }

  bool file(int line, std::u16string_view rest) {
    std::u16string source, name;
    if (!take_token(rest, source)) return fail(line, "unterminated quoted path");
    if (source.empty()) return fail(line, "empty source path");
    if (!trim(rest).empty() && !take_token(rest, name)) return fail(line, "unterminated quoted name");
    if (!trim(rest).empty()) return fail(line, "unexpected text after the file's name");
    if (name.empty()) {
      std::size_t cut = source.find_last_of(u"\\/:");
      name = cut == std::u16string::npos ? source : source.substr(cut + 1);
    }
    if (name.empty()) return fail(line, "the file has no name in the cabinet");
    if (name.find(u'\0') != std::u16string::npos || source.find(u'\0') != std::u16string::npos)
      return fail(line, "a name holds a null character");
    if (narrow(name).size() > kMaxNameBytes) return fail(line, "the name in the cabinet is longer than 255 bytes");
    if (ddf.files.size() >= kMaxFiles) return fail(line, "more than 65535 files in one cabinet");
    // Names given while UniqueFiles was OFF count too once it is ON again.
    const bool fresh = seen.insert(upper(name)).second;
    if (ddf.unique_files && !fresh)
      return fail(line, "the name " + narrow(name) + " is used twice and UniqueFiles is ON");
    ddf.files.push_back({std::move(source), std::move(name), line, ddf.unique_files});
    return true;
  }

  bool line(int number, std::u16string_view text) {
    text = trim(text);
    if (text.empty() || text.front() == u';') return true;
    if (text.front() != u'.') return file(number, text);
    std::size_t end = 1;
    while (end < text.size() && !blank(text[end])) ++end;
    const std::u16string word = upper(text.substr(1, end - 1));
    std::u16string_view rest = trim(text.substr(end));
    if (word == u"SET") return set(number, rest);
    if (word == u"OPTION") {
      if (upper(rest) != u"EXPLICIT") return fail(number, "unknown option " + narrow(rest));
      explicit_names = true;
      return true;
    }
    return fail(number, "unsupported directive ." + narrow(word));
  }
};

}  // namespace

bool parse_ddf(std::string_view bytes, Ddf& out, DdfError& error) {
  out = Ddf{};
  error = DdfError{};
  std::u16string text;
  if (!decode(bytes, text)) {
    error.message = "the directive file is not text";
    return false;
  }
  Parser p{out, error, false, {}};
  std::size_t start = 0;
  int number = 0;
  // Large counts of lines are fine; a line number past INT_MAX is not reachable
  // within the size the caller reads.
  while (start <= text.size()) {
    std::size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string_view line(text.data() + start, end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    ++number;
    if (!p.line(number, line)) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace layer_tools
