#include <algorithm>

#include "files/file_object.h"
#include "xml/xml_reader.h"

namespace {

constexpr std::uint32_t first_read_size = 4;
constexpr std::uint32_t read_size = 1024;

bool is_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_name_start(unsigned char c) {
  return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_name_char(unsigned char c) { return is_name_start(c) || c == '-' || c == '.' || (c >= '0' && c <= '9'); }
bool is_cont(unsigned char c, unsigned char lo = 0x80, unsigned char hi = 0xBF) { return c >= lo && c <= hi; }

void append_code_point(std::u16string& out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (c >> 10));
    out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

}  // namespace

xml_lexer::xml_lexer(i_file& in) : in_(in) { next(); }

void xml_lexer::refill() {
  if (eof_) return;
  if (mark_ > 0) {
    buf_.erase(0, mark_);
    cur_ -= mark_;
    mark_ = 0;
  }
  const std::uint32_t want = first_read_ ? first_read_size : read_size;
  std::size_t got = 0;
  const std::size_t old = buf_.size();
  buf_.resize(old + want);
  // The first read must end exactly behind a "BXML" signature, so it is
  // completed even when the file hands out fewer bytes at a time.
  do {
    std::uint32_t count = 0;
    if (in_.Good()) in_.read(&buf_[old + got], want - static_cast<std::uint32_t>(got), count);
    if (count == 0) break;
    got += count;
  } while (first_read_ && got < want);
  buf_.resize(old + got);
  first_read_ = false;
  if (got == 0) {
    buf_.push_back('\0');
    eof_ = true;
  }
}

unsigned char xml_lexer::peek(std::size_t k) {
  while (buf_.size() - cur_ <= k && !eof_) refill();
  return cur_ + k < buf_.size() ? static_cast<unsigned char>(buf_[cur_ + k]) : 0;
}

void xml_lexer::advance_position(std::size_t to) {
  for (std::size_t i = mark_; i < to && i < buf_.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(buf_[i]);
    if (c == '\n') {
      ++line_;
      column_ = 0;
    } else if (c == '\t') {
      column_ = (column_ / 8 + 1) * 8;
    } else {
      ++column_;
    }
  }
  mark_ = std::max(mark_, std::min(to, buf_.size()));
}

int xml_lexer::next() {
  advance_position(cur_);
  name_.clear();
  text_.clear();
  token_ = lex();
  return token_;
}

// Every text token leaves through here: a pending blank goes in front.
int xml_lexer::text_token(std::u16string text) {
  if (space_ == sp_pending) text.insert(text.begin(), u' ');
  space_ = sp_none;
  text_ = std::move(text);
  return xml_token_text;
}

// An error at the byte k positions ahead: the column moves onto it.
int xml_lexer::error_at(std::size_t k) {
  advance_position(cur_ + k);
  return xml_token_error;
}

bool xml_lexer::read_name() {
  if (!is_name_start(peek(0))) return false;
  std::size_t k = 1;
  while (is_name_char(peek(k))) ++k;
  name_.assign(buf_, cur_, k);
  cur_ += k;
  return true;
}

int xml_lexer::lex_reference() {
  // At '&'.
  if (peek(1) == '#') {
    const bool hex = peek(2) == 'x';
    std::size_t k = hex ? 3 : 2;
    char32_t value = 0;
    std::size_t digits = 0;
    for (;; ++k, ++digits) {
      unsigned char c = peek(k);
      unsigned d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (hex && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        break;
      value = value * (hex ? 16 : 10) + d;
      if (value > 0x10FFFF) value = 0x110000;  // keeps growing numbers out of range
    }
    if (digits == 0 || peek(k) != ';') return xml_token_error;
    // Characters outside the BMP become surrogate pairs, as in UTF-8 text;
    // U+0000, U+FFFE, U+FFFF and surrogate values are no characters.
    if (value == 0 || value == 0xFFFE || value == 0xFFFF || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
      return xml_token_error;
    cur_ += k + 1;
    std::u16string t;
    append_code_point(t, value);
    return text_token(std::move(t));
  }
  static const struct {
    const char* name;
    char16_t c;
  } entities[] = {{"amp;", u'&'}, {"apos;", u'\''}, {"gt;", u'>'}, {"lt;", u'<'}, {"quot;", u'"'}};
  for (const auto& e : entities) {
    std::size_t n = std::char_traits<char>::length(e.name);
    std::size_t k = 0;
    while (k < n && peek(1 + k) == static_cast<unsigned char>(e.name[k])) ++k;
    if (k == n) {
      cur_ += 1 + n;
      return text_token(std::u16string(1, e.c));
    }
  }
  return xml_token_error;
}

// A run of text bytes, decoded as UTF-8. Which bytes belong to the run
// depends on the state: content stops at control bytes, blanks, '&' and '<';
// attribute values also at the closing quote; CDATA only at control bytes
// and ']'.
int xml_lexer::lex_run(int state) {
  auto in_run = [&](unsigned char c) {
    switch (state) {
      case st_cdata:
        return c >= 0x20 && c != ']';
      case st_value_dq:
        return c > 0x20 && c != '&' && c != '<' && c != '"';
      case st_value_sq:
        return c > 0x20 && c != '&' && c != '<' && c != '\'';
      default:
        return c > 0x20 && c != '&' && c != '<';
    }
  };
  std::u16string out;
  std::size_t k = 0;
  for (;;) {
    const unsigned char b = peek(k);
    if (!in_run(b)) break;
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++k;
      continue;
    }
    const unsigned char b1 = peek(k + 1);
    if (b >= 0xC2 && b <= 0xDF) {
      if (!is_cont(b1)) return error_at(k + 1);
      out += static_cast<char16_t>(((b & 0x1F) << 6) | (b1 & 0x3F));
      k += 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      bool ok = b == 0xE0 ? is_cont(b1, 0xA0) : b == 0xED ? is_cont(b1, 0x80, 0x9F) : is_cont(b1);
      if (!ok) return error_at(k + 1);
      const unsigned char b2 = peek(k + 2);
      // EF BF BE and EF BF BF are U+FFFE and U+FFFF: no characters.
      if (!is_cont(b2, 0x80, (b == 0xEF && b1 == 0xBF) ? 0xBD : 0xBF)) return error_at(k + 2);
      out += static_cast<char16_t>(((b & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
      k += 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      bool ok = b == 0xF0 ? is_cont(b1, 0x90) : b == 0xF4 ? is_cont(b1, 0x80, 0x8F) : is_cont(b1);
      if (!ok) return error_at(k + 1);
      const unsigned char b2 = peek(k + 2);
      if (!is_cont(b2)) return error_at(k + 2);
      const unsigned char b3 = peek(k + 3);
      if (!is_cont(b3)) return error_at(k + 3);
      append_code_point(out, (static_cast<char32_t>(b & 0x07) << 18) | ((b1 & 0x3F) << 12) | ((b2 & 0x3F) << 6) |
                                 (b3 & 0x3F));
      k += 4;
    } else {
      return error_at(k);
    }
  }
  cur_ += k;
  return text_token(std::move(out));
}

int xml_lexer::lex() {
  for (;;) {
    switch (state_) {
      case st_start: {
        if (peek(0) == 'B' && peek(1) == 'X' && peek(2) == 'M' && peek(3) == 'L') {
          cur_ += 4;
          state_ = st_content;
          return xml_token_bxml;
        }
        if (peek(0) == 0xEF && peek(1) == 0xBB && peek(2) == 0xBF) cur_ += 3;
        state_ = st_content;
        continue;
      }

      case st_content: {
        peek(8);  // look-ahead for "<![CDATA["
        const unsigned char c = peek(0);
        if (is_space(c)) {
          ++cur_;
          if (space_ == sp_none) space_ = sp_pending;
          continue;
        }
        if (c < 0x20) return (c == 0 && at_end_marker()) ? xml_token_end : xml_token_error;
        if (c == '&') return lex_reference();
        if (c != '<') return lex_run(st_content);
        const unsigned char c1 = peek(1);
        if (c1 == '!' && peek(2) == '-' && peek(3) == '-') {
          cur_ += 4;
          state_ = st_comment;
          continue;
        }
        if (c1 == '!' && buf_.compare(cur_, 9, "<![CDATA[") == 0) {
          if (space_ == sp_pending) return text_token(std::u16string());
          cur_ += 9;
          state_ = st_cdata;
          space_ = sp_none;
          continue;
        }
        if (c1 == '?') {
          cur_ += 2;
          state_ = st_pi;
          continue;
        }
        if (c1 == '/' && is_name_start(peek(2))) {
          cur_ += 2;
          read_name();
          state_ = st_tag;
          space_ = sp_none;
          return xml_token_end_tag;
        }
        if (is_name_start(c1)) {
          if (space_ == sp_pending) return text_token(std::u16string());
          cur_ += 1;
          read_name();
          state_ = st_tag;
          space_ = sp_drop;
          return xml_token_start_tag;
        }
        return xml_token_error;
      }

      case st_cdata: {
        const unsigned char c = peek(0);
        if (c == '\t' || c == '\n') {
          ++cur_;
          return text_token(std::u16string(1, static_cast<char16_t>(c)));
        }
        if (c == '\r') {
          ++cur_;
          continue;
        }
        if (c == ']') {
          if (peek(1) == ']' && peek(2) == '>') {
            cur_ += 3;
            state_ = st_content;
            continue;
          }
          ++cur_;
          return text_token(u"]");
        }
        if (c < 0x20) return xml_token_error;
        return lex_run(st_cdata);
      }

      case st_tag: {
        const unsigned char c = peek(0);
        if (is_space(c)) {
          ++cur_;
          continue;
        }
        if (c == '/' && peek(1) == '>') {
          cur_ += 2;
          state_ = st_content;
          space_ = sp_none;
          return xml_token_empty_close;
        }
        if (read_name()) return xml_token_attribute;
        if (c == '=') {
          std::size_t k = 1;
          while (is_space(peek(k))) ++k;
          const unsigned char q = peek(k);
          if (q != '"' && q != '\'') return xml_token_error;
          cur_ += k + 1;
          state_ = q == '"' ? st_value_dq : st_value_sq;
          space_ = sp_drop;
          return xml_token_equals;
        }
        if (c == '>') {
          ++cur_;
          state_ = st_content;
          return xml_token_close;
        }
        return xml_token_error;
      }

      case st_value_dq:
      case st_value_sq: {
        const unsigned char c = peek(0);
        if (is_space(c)) {
          ++cur_;
          if (space_ == sp_none) space_ = sp_pending;
          continue;
        }
        if (c == (state_ == st_value_dq ? '"' : '\'')) {
          ++cur_;
          state_ = st_tag;
          space_ = sp_drop;
          continue;
        }
        if (c == '&') return lex_reference();
        if (c == '<' || c < 0x20) return xml_token_error;
        return lex_run(state_);
      }

      case st_comment: {
        const unsigned char c = peek(0);
        if (c == '-' && peek(1) == '-' && peek(2) == '>') {
          cur_ += 3;
          state_ = st_content;
          continue;
        }
        if (c < 0x20 && !is_space(c)) return xml_token_error;
        ++cur_;
        continue;
      }

      case st_pi: {
        const unsigned char c = peek(0);
        if (c == '?' && peek(1) == '>') {
          cur_ += 2;
          state_ = st_content;
          continue;
        }
        if (c < 0x20 && !is_space(c)) return xml_token_error;
        ++cur_;
        continue;
      }
    }
    return xml_token_error;
  }
}
