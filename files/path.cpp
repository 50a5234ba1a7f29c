#include "files/path.h"

namespace {

bool is_sep(char16_t c) { return c == u'/' || c == u'\\'; }
bool is_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
char16_t upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
bool is_bad_char(char16_t c) {
  return (c >= 1 && c <= 31) || c == u'"' || c == u'*' || c == u'<' || c == u'>' || c == u'?' || c == u'|';
}
std::size_t length(const char16_t* s) { return s ? std::char_traits<char16_t>::length(s) : 0; }

class resolver {
 public:
  explicit resolver(std::u16string start) : out_(std::move(start)) {}

  // Scans the components of `p`; `after_sep` tells whether the character
  // before `p` was a separator.
  bool scan(const char16_t* p, bool stream, bool after_sep) {
    std::u16string comp;
    bool marker = false;
    bool colon_taken = false;
    bool prev_sep = after_sep;
    for (; *p; ++p) {
      const char16_t c = *p;
      if (is_bad_char(c)) return false;
      if (is_sep(c)) {
        // A stream name ends the path; canonical results end it with a separator.
        if (marker && (p[1] != 0 || comp.empty())) return false;
        if (!comp.empty() && !end_component(comp, marker, false)) return false;
        comp.clear();
        prev_sep = true;
        continue;
      }
      if (c == u':') {
        if (!stream || colon_taken || root_length(out_) == 0) return false;
        const bool more = p[1] != 0;
        if (!comp.empty()) {
          marker = true;
          if (!end_component(comp, marker, more)) return false;
          comp.clear();
        } else if (prev_sep && more) {
          const std::size_t n = out_.size();
          if (n > root_length(out_) && out_[n - 1] == u'\\') out_[n - 1] = u':';
          marker = true;
        } else {
          return false;
        }
        colon_taken = true;
        prev_sep = false;
        continue;
      }
      comp.push_back(c);
      prev_sep = false;
    }
    if (!comp.empty() && !end_component(comp, marker, false)) return false;
    return true;
  }

  std::u16string& result() { return out_; }

 private:
  bool end_component(std::u16string& comp, bool marker, bool stream_follows) {
    if (!marker && comp == u".") return true;
    if (!marker && comp == u"..") {
      const std::size_t root = root_length(out_);
      const std::size_t n = out_.size();
      if (root == 0 || n <= root) {
        out_.clear();
      } else {
        const std::size_t pos = out_.rfind(u'\\', n - 2);
        out_.resize(pos + 1);
      }
      return true;
    }
    if (out_.empty()) return false;
    while (!comp.empty() && (comp.back() == u'.' || comp.back() == u' ')) comp.pop_back();
    if (comp.empty() || comp.size() > 255) return false;
    out_ += comp;
    out_.push_back(stream_follows ? u':' : u'\\');
    return true;
  }

  std::u16string out_;
};

}  // namespace

std::size_t root_length(std::u16string_view s) {
  if (s.size() <= 2) return 0;
  if (s[0] != u'\\') return 3;
  int seen = 0;
  for (std::size_t i = 1; i < s.size(); ++i) {
    if (s[i] == u'\\' && ++seen == 3) return i + 1;
  }
  return 0;
}

bool resolve_path(const char16_t* base, std::u16string& result, const char16_t* path, bool stream) {
  if (!path || !*path) return false;
  const std::u16string_view b(base ? base : u"");
  const char16_t* p = path;
  std::u16string start;
  bool after_sep = false;
  bool kept_long = false;

  if (is_sep(p[0]) && is_sep(p[1]) && p[2] == u'?' && is_sep(p[3])) {
    // Further separators after the prefix change nothing: the form below is
    // recognised behind them too, so a result resolves to itself.
    const char16_t* q = p + 4;
    while (is_sep(*q)) ++q;
    if (upper(q[0]) == u'U' && upper(q[1]) == u'N' && upper(q[2]) == u'C' && (q[3] == 0 || is_sep(q[3]))) {
      start = u"\\\\";
      p = q[3] ? q + 4 : q + 3;
      after_sep = true;
    } else if (is_letter(q[0]) && q[1] == u':' && (q[2] == 0 || is_sep(q[2]))) {
      start = {upper(q[0]), u':', u'\\'};
      p = q + 2;
    } else {
      start = u"\\\\?\\";
      p = q;
      after_sep = true;
      kept_long = true;
    }
  } else if (is_sep(p[0]) && is_sep(p[1])) {
    start = u"\\\\";
    p += 2;
    after_sep = true;
  } else if (is_sep(p[0])) {
    const std::size_t root = root_length(b);
    if (root == 0) return false;
    start.assign(b.substr(0, root));
    p += 1;
    after_sep = true;
  } else if (is_letter(p[0]) && p[1] == u':') {
    const char16_t letter = upper(p[0]);
    if (!is_sep(p[2]) && !b.empty() && b[0] == letter)
      start.assign(b);
    else
      start = {letter, u':', u'\\'};
    p += 2;
  } else {
    start.assign(b);
  }

  resolver r(std::move(start));
  if (!r.scan(p, stream, after_sep)) return false;
  std::u16string& out = r.result();
  if (out.size() == 2 && out[0] == u'\\') return false;
  if (out.size() == 4 && out[0] == u'\\' && out[1] == u'\\' && out[2] == u'?') return false;
  // A first component trimmed to "UNC" would read back as the network form.
  if (kept_long && out.size() >= 8 && upper(out[4]) == u'U' && upper(out[5]) == u'N' && upper(out[6]) == u'C' &&
      out[7] == u'\\')
    return false;
  result = std::move(out);
  return true;
}

bool is_valid_file_name(const char16_t* name, bool drive) {
  const std::size_t n = length(name);
  if (drive) return n == 2 && is_letter(name[0]) && name[1] == u':';
  if (n == 0) return false;
  bool only_dots_and_blanks = true;
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = name[i];
    if ((c >= 1 && c <= 31) || c == u'"' || c == u'*' || c == u'/' || c == u':' || c == u'<' || c == u'>' ||
        c == u'?' || c == u'\\' || c == u'|')
      return false;
    if (c != u'.' && c != u' ') only_dots_and_blanks = false;
  }
  return !only_dots_and_blanks;
}
