// xml_document::write: UTF-8 XML text that the text reader gives back piece
// for piece, or binary XML in the version-1 element form.
#include <cstring>
#include <map>
#include <vector>

#include "core/text_convert.h"
#include "files/file_object.h"
#include "xml/xml_node.h"
#include "xml/xml_utf8.h"

namespace {

std::u16string_view piece_at(const xml_node* n, std::size_t i) {
  return i < n->pieces().size() ? std::u16string_view(n->pieces()[i]) : std::u16string_view();
}

void put(o_file& out, const std::string& bytes) {
  if (!bytes.empty() && out.Good()) out.write_exact(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

// A name the text reader reads back as one name. Binary XML may carry any
// bytes as a name; written into text, such a name would turn into markup.
bool is_xml_name(std::string_view name) {
  auto start = [](char c) { return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (name.empty() || !start(name[0])) return false;
  for (char c : name.substr(1))
    if (!start(c) && c != '-' && c != '.' && !(c >= '0' && c <= '9')) return false;
  return true;
}

// Whether the text reader takes every unit back: surrogates only in pairs, no
// U+FFFE or U+FFFF, no U+0000 (which would go out as "&#0;").
bool readable_text(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == 0 || c == 0xFFFE || c == 0xFFFF) return false;
    if (c < 0xD800 || c > 0xDFFF) continue;
    if (c > 0xDBFF || i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
    ++i;
  }
  return true;
}

// Whether the tree can be stored: no deeper than the readers accept; in
// binary form no element with more attributes than its one count byte holds;
// in text only names that read back as names, and texts the reader takes back.
bool storable(const xml_node* root, bool binary) {
  std::vector<std::pair<const xml_node*, std::size_t>> work{{root, 1}};
  while (!work.empty()) {
    auto [n, depth] = work.back();
    work.pop_back();
    if (depth > xml_max_depth) return false;
    if (binary && n->attributes().size() > 255) return false;
    if (!binary) {
      if (!is_xml_name(n->name())) return false;
      for (const auto& a : n->attributes())
        if (!is_xml_name(a.first) || !readable_text(a.second)) return false;
      for (const auto& piece : n->pieces())
        if (!readable_text(piece)) return false;
    }
    for (const xml_node* c : n->children()) work.emplace_back(c, depth + 1);
  }
  return true;
}

// ---------------------------------------------------------------- text

// Appends text[begin, end) in UTF-8; a surrogate pair is written as one
// four-byte character (the reader refuses encoded surrogates).
void append_run(std::string& out, std::u16string_view text, std::size_t begin, std::size_t end, std::string& scratch) {
  if (begin == end) return;
  Common::toUtf8(scratch, text.data() + begin, static_cast<std::ptrdiff_t>(end - begin));
  out += scratch;
}

void escape_text(std::string& out, std::u16string_view text, bool attribute_mode) {
  std::string scratch;
  if (!attribute_mode && text.find(u'\n') != std::u16string_view::npos && text.find(u"]]>") == std::u16string_view::npos) {
    bool plain = true;
    for (char16_t c : text)
      if (c < 32 && c != u'\n' && c != u'\t') plain = false;
    if (plain) {
      out += "<![CDATA[";
      std::size_t run = 0;  // start of the units taken as they are
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\n') continue;
        append_run(out, text, run, i, scratch);
        out += "\r\n";
        run = i + 1;
      }
      append_run(out, text, run, text.size(), scratch);
      out += "]]>";
      return;
    }
  }
  // Blanks that the reader would collapse or drop go out as references.
  bool previous_blank = true;
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c > 32 && c != u'<' && c != u'&' && !(c == u'"' && attribute_mode)) {
      previous_blank = false;
      continue;
    }
    append_run(out, text, run, i, scratch);
    run = i + 1;
    if (c == u' ' && !previous_blank && i + 1 < text.size()) {
      out += ' ';
      previous_blank = true;
      continue;
    }
    if (c <= 32)
      out += "&#" + std::to_string(static_cast<unsigned>(c)) + ";";
    else if (c == u'<')
      out += "&lt;";
    else if (c == u'&')
      out += "&amp;";
    else
      out += "&quot;";
    previous_blank = false;
  }
  append_run(out, text, run, text.size(), scratch);
}

void new_line(std::string& buf, int level) {
  buf += "\r\n";
  for (int i = 0; i <= level; ++i) buf += '\t';  // level + 1 tabs; none for -1
}

// `level` is -1 without indentation, else the node's depth (root 0).
void write_text_element(const xml_node* n, o_file& out, int level) {
  std::string buf;
  buf += '<';
  buf += std::string_view(n->name());
  for (const auto& [name, value] : n->attributes()) {
    buf += ' ';
    buf += name;
    buf += "=\"";
    escape_text(buf, value, true);
    buf += '"';
  }
  const auto& kids = n->children();
  if (kids.empty() && piece_at(n, 0).empty()) {
    buf += " />";
    put(out, buf);
    return;
  }
  buf += '>';
  const bool indenting = level >= 0;
  for (std::size_t i = 0; i <= kids.size(); ++i) {
    const bool child_follows = i < kids.size();
    std::u16string_view piece = piece_at(n, i);
    bool newline_after = indenting;
    // A trailing blank before a child becomes the line break, which the reader
    // turns back into a blank. Not for a lone blank right after the start tag:
    // the reader drops whitespace there, so that blank goes out as a reference.
    if (child_follows && !piece.empty() && piece.back() == u' ' && (i > 0 || piece.size() > 1)) {
      piece.remove_suffix(1);
      newline_after = true;
    }
    if (!piece.empty()) {
      if (i > 0 && piece.size() > 1 && piece.front() == u' ') {
        piece.remove_prefix(1);
        new_line(buf, level);
      } else if (indenting) {
        new_line(buf, level);
      }
      escape_text(buf, piece, false);
    }
    if (newline_after) {
      buf += "\r\n";
      if (!child_follows) break;
      for (int t = 0; t <= level; ++t) buf += '\t';
    } else if (!child_follows) {
      break;
    }
    put(out, buf);
    buf.clear();
    write_text_element(kids[i], out, indenting ? level + 1 : -1);
  }
  for (int t = 0; t < level; ++t) buf += '\t';
  buf += "</";
  buf += std::string_view(n->name());
  buf += '>';
  put(out, buf);
}

// ---------------------------------------------------------------- binary

class bxml_writer {
 public:
  explicit bxml_writer(o_file& out) : out_(out) {}

  void element(const xml_node* n) {
    name(n->name());
    byte(static_cast<std::uint8_t>(n->attributes().size()));
    for (const auto& [attr, value] : n->attributes()) {
      name(attr);
      text(value);
    }
    const auto& kids = n->children();
    varint(static_cast<std::uint32_t>(kids.size() + 1));
    text(piece_at(n, 0));
    for (std::size_t i = 0; i < kids.size() && out_.Good(); ++i) {
      element(kids[i]);
      text(piece_at(n, i + 1));
    }
  }

 private:
  void byte(std::uint8_t b) {
    if (out_.Good()) out_.write_exact(&b, 1);
  }
  void varint(std::uint32_t v) {
    do {
      std::uint8_t b = v & 0x7F;
      v >>= 7;
      if (v) b |= 0x80;
      byte(b);
    } while (v && out_.Good());
  }
  void bytes(std::string_view s) {
    varint(static_cast<std::uint32_t>(s.size()));
    if (!s.empty() && out_.Good()) out_.write_exact(s.data(), static_cast<std::uint32_t>(s.size()));
  }
  void text(std::u16string_view t) {
    utf8_.clear();
    xml_utf8::append(utf8_, t, scratch_);
    bytes(utf8_);
  }
  // Ids count from 0 in order of first use, one table for all names.
  void name(std::string_view n) {
    auto it = ids_.find(n);
    const bool fresh = it == ids_.end();
    if (fresh) it = ids_.emplace(std::string(n), static_cast<std::uint32_t>(ids_.size())).first;
    varint(it->second);
    if (fresh) bytes(n);
  }

  o_file& out_;
  std::map<std::string, std::uint32_t, std::less<>> ids_;
  std::string utf8_, scratch_;
};

// An o_file that collects into a string.
class string_output final : public o_file {
 public:
  explicit string_output(std::string& s) : s_(s) {}
  void write(const void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad()) return;
    s_.append(static_cast<const char*>(buffer), length);
    count = length;
  }

 private:
  std::string& s_;
};

}  // namespace

bool xml_document::write_bxml(o_file& out) const {
  if (!root_) return out.Good();
  if (!storable(root_, true)) {
    out.raise(KV_SITE, fs_error::not_supported);
    return false;
  }
  static const std::uint8_t head[6] = {'B', 'X', 'M', 'L', 1, 1};
  if (out.Good()) out.write_exact(head, sizeof head);
  bxml_writer(out).element(root_);
  return out.Good();
}

void xml_document::write(o_file& out, unsigned flags) const {
  if (!root_) return;
  if (flags & write_binary) {
    write_bxml(out);
    out.flush();
    return;
  }
  if (!storable(root_, false)) {
    out.raise(KV_SITE, fs_error::not_supported);
    return;
  }
  std::string head;
  if (flags & write_bom) head += "\xEF\xBB\xBF";
  if (!(flags & write_no_declaration)) head += "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";
  put(out, head);
  write_text_element(root_, out, (flags & write_indent) ? 0 : -1);
  put(out, "\r\n");
  out.flush();
}

bool xml_document::write_memory(std::string& out, unsigned flags) const {
  out.clear();
  string_output sink(out);
  write(sink, flags);
  return sink.Good();
}
