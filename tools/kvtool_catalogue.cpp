// Message catalogue commands: build the binary catalogue from its readable
// source, and dump slots of a catalogue file or of the one inside an archive.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "core/catalogue.h"
#include "files/zip_file.h"
#include "tools/kvtool.h"

namespace {

// One slot's bytes as they go into the text block, NUL included.
using text_bytes = std::string;

bool parse_slot(std::string_view digits, std::uint32_t& slot) {
  if (digits.empty() || digits.size() > 9) return false;
  const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), slot);
  return r.ec == std::errc() && r.ptr == digits.data() + digits.size();
}

bool unescape(std::string_view text, std::string& out, std::string& why) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    switch (next) {
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case '\\': out.push_back('\\'); break;
      case '\0':
        why = "the text ends with a lone backslash (write a backslash as \\\\)";
        return false;
      default:
        why = std::string("unknown escape '\\") + next + "' (write a backslash as \\\\)";
        return false;
    }
    ++i;
  }
  return true;
}

// Strict UTF-8 to UTF-16LE bytes; false on malformed input.
bool utf8_to_utf16le(std::string_view in, std::string& out) {
  out.clear();
  auto put = [&out](std::uint32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  };
  for (std::size_t i = 0; i < in.size();) {
    const auto b = static_cast<unsigned char>(in[i]);
    std::uint32_t c;
    std::size_t n;
    if (b < 0x80) { c = b; n = 1; }
    else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; n = 2; }
    else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; n = 3; }
    else if ((b & 0xF8) == 0xF0) { c = b & 0x07; n = 4; }
    else return false;
    if (i + n > in.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      const auto t = static_cast<unsigned char>(in[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = c << 6 | (t & 0x3F);
    }
    static constexpr std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
    i += n;
  }
  return true;
}

text_bytes wide_text(std::string_view utf8) {
  std::string out;
  utf8_to_utf16le(utf8, out);
  out.append(2, '\0');
  return out;
}

// Reads the source: "slot<TAB>text" or "slot<TAB>narrow<TAB>text" per line,
// '#' comments and blank lines ignored. Unlisted slots get "#<slot>".
bool read_source(const std::string& path, std::uint32_t count, std::vector<text_bytes>& texts) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return kvtool::fail(path + ": cannot open for reading"), false;
  std::vector<bool> listed(count, false);
  texts.assign(count, {});
  std::string line;
  for (unsigned number = 1; std::getline(in, line); ++number) {
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    std::uint32_t slot = 0;
    if (tab == std::string::npos || !parse_slot(std::string_view(line).substr(0, tab), slot))
      return kvtool::fail(where + "expected a slot number, a tab and the text"), false;
    if (slot >= count)
      return kvtool::fail(where + "slot " + std::to_string(slot) + " is beyond the catalogue's " +
                          std::to_string(count) + " slots"),
             false;
    if (listed[slot]) return kvtool::fail(where + "slot " + std::to_string(slot) + " is listed twice"), false;
    listed[slot] = true;
    std::string_view rest = std::string_view(line).substr(tab + 1);
    const bool narrow = rest.starts_with("narrow\t");
    if (narrow) rest.remove_prefix(7);
    std::string text, why;
    if (!unescape(rest, text, why)) return kvtool::fail(where + why), false;
    std::string encoded;
    if (!utf8_to_utf16le(text, encoded)) return kvtool::fail(where + "the text is not valid UTF-8"), false;
    if (narrow) {
      // The bytes and a NUL byte; padded to whole units so every text starts
      // on a unit boundary and still ends with a NUL unit.
      text.push_back('\0');
      if (text.size() % 2) text.push_back('\0');
      texts[slot] = std::move(text);
    } else {
      texts[slot] = encoded.append(2, '\0');
    }
  }
  if (in.bad()) return kvtool::fail(path + ": read failed"), false;
  for (std::uint32_t slot = 0; slot < count; ++slot)
    if (!listed[slot]) texts[slot] = wide_text("#" + std::to_string(slot));
  return true;
}

void put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
}

int run_build(const kvtool::arguments& all) {
  kvtool::arguments args = all;
  std::uint32_t count = Common::catalogueTextCount;
  if (args.size() >= 2 && args[0] == "--count") {
    if (!parse_slot(args[1], count)) return kvtool::usage_error("catalogue");
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() != 2) return kvtool::usage_error("catalogue");
  const std::string& source = args[0];
  const std::string& target = args[1];
  std::vector<text_bytes> texts;
  if (!read_source(source, count, texts)) return 1;

  std::string block;
  std::string head;
  put32(head, count);
  std::vector<std::uint32_t> offsets;
  for (const text_bytes& t : texts) {
    offsets.push_back(static_cast<std::uint32_t>(block.size()));
    block += t;
  }
  if (block.size() > 0xFFFFFFFFu) return kvtool::fail(source + ": the texts exceed 4 GB");
  put32(head, static_cast<std::uint32_t>(block.size()));
  for (std::uint32_t o : offsets) put32(head, o);

  if (const int rc = kvtool::store(target, {head, block})) return rc;
  std::printf("%s: %u texts, %zu bytes\n", target.c_str(), count, head.size() + block.size());
  return 0;
}

// The whole of a catalogue file, or of the catalogue member when `path` holds
// an archive (also one appended to the program).
bool read_catalogue_bytes(const std::string& path, std::string& bytes, std::string& from) {
  std::string why;
  std::unique_ptr<kvtool::stream_file> file = kvtool::open_input(path, why);
  if (!file) return kvtool::fail(why), false;
  zip_file zip(file.get());
  if (zip.Good()) {
    const std::u16string member = kvtool::member_name(Common::catalogueFileName);
    std::unique_ptr<ri_file> in(zip.open_file(member.c_str(), false));
    if (!in)
      return kvtool::fail(path + ": the archive holds no " + Common::catalogueFileName + ": " +
                          kvtool::describe(zip.error())),
             false;
    char buffer[1 << 16];
    for (std::uint32_t n = 0;;) {
      in->read(buffer, sizeof buffer, n);
      if (n == 0) break;
      bytes.append(buffer, n);
    }
    if (in->Bad()) return kvtool::fail(path + ": " + kvtool::describe(in->error())), false;
    from = path + " (archive member " + Common::catalogueFileName + ")";
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) return kvtool::fail(path + ": read failed"), false;
  bytes = std::move(s).str();
  from = path;
  return true;
}

std::uint32_t get32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

// The source form of a text: the escapes the source uses, other control
// characters as \u followed by four hex digits (not read back by build).
std::string escaped(std::u16string_view text) {
  std::string out;
  std::size_t plain = 0;  // start of the run of units taken as they are
  auto flush = [&](std::size_t end) { out += kvtool::to_utf8(text.substr(plain, end - plain)); };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0x20 && c != u'\\') continue;
    flush(i);
    plain = i + 1;
    if (c == u'\n') out += "\\n";
    else if (c == u'\t') out += "\\t";
    else if (c == u'\\') out += "\\\\";
    else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(c));
      out += hex;
    }
  }
  flush(text.size());
  return out;
}

int run_dump(const kvtool::arguments& args) {
  if (args.empty()) return kvtool::usage_error("catalogue");
  std::vector<std::uint32_t> wanted;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::uint32_t slot;
    if (!parse_slot(args[i], slot)) return kvtool::fail("'" + args[i] + "' is not a slot number");
    wanted.push_back(slot);
  }
  std::string bytes, from;
  if (!read_catalogue_bytes(args[0], bytes, from)) return 1;
  if (bytes.size() < 8) return kvtool::fail(from + ": too short for a catalogue");
  const std::uint32_t count = get32(bytes, 0);
  const std::uint32_t size = get32(bytes, 4);
  const std::uint64_t block_at = 8 + std::uint64_t{count} * 4;
  if (bytes.size() < block_at + size)
    return kvtool::fail(from + ": " + std::to_string(count) + " texts in " + std::to_string(size) +
                        " bytes do not fit in the file's " + std::to_string(bytes.size()) + " bytes");
  std::vector<std::uint32_t> offsets(count);
  for (std::uint32_t i = 0; i < count; ++i) offsets[i] = get32(bytes, 8 + 4 * std::size_t{i});
  // Copied to a unit-aligned block, as the program's loader holds it.
  std::u16string block(size / 2 + 1, u'\0');
  std::memcpy(block.data(), bytes.data() + block_at, size);
  if (!Common::catalogueOffsetsValid(block.data(), size, offsets.data(), count))
    return kvtool::fail(from + ": an offset points outside the text block or at a text without its end");

  if (wanted.empty()) {
    std::printf("# %s: %u texts, %u bytes of text%s\n", from.c_str(), count, size,
                count == Common::catalogueTextCount ? "" : " (the program needs 2541)");
    for (std::uint32_t i = 0; i < count; ++i) wanted.push_back(i);
  }
  for (std::uint32_t slot : wanted) {
    if (slot >= count) return kvtool::fail(from + ": no slot " + std::to_string(slot) + " (" +
                                           std::to_string(count) + " texts)");
    const char16_t* text = block.data() + offsets[slot] / 2;
    std::printf("%u\t%s\n", slot, escaped(text).c_str());
  }
  return 0;
}

int run_catalogue(const kvtool::arguments& args) {
  if (args.empty()) return kvtool::usage_error("catalogue");
  const kvtool::arguments rest(args.begin() + 1, args.end());
  if (args[0] == "build") return run_build(rest);
  if (args[0] == "dump") return run_dump(rest);
  return kvtool::usage_error("catalogue");
}

const bool registered = kvtool::add_command(
    {"catalogue", "build [--count N] SOURCE OUT.msg | dump FILE|ARCHIVE [SLOT...]",
     "build: compiles the readable catalogue source (slot<TAB>text lines; escapes\n"
     "\\n \\t \\\\; slot<TAB>narrow<TAB>text for narrow bytes) into the binary\n"
     "catalogue of N texts (2541; slots not listed read \"#<slot>\").\n"
     "dump: prints slots (all of them when none is named) of a catalogue file, or of\n"
     "the catalogue inside an archive or a program with its archive appended.",
     run_catalogue});

}  // namespace
