#include "platform/fox/fxwstring.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace FX {

namespace {

std::size_t clampPos(int pos, std::size_t len) {
  if (pos <= 0) return 0;
  return std::min(static_cast<std::size_t>(pos), len);
}

bool isSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

char16_t foldUnit(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  UChar32 f = u_foldCase(c, U_FOLD_CASE_DEFAULT);
  return f <= 0xFFFF ? static_cast<char16_t>(f) : c;
}

int digitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 99;
}

// strtoul-style scan. Returns the magnitude, saturated to `limit` (overflow set),
// and whether a minus sign was seen.
unsigned long long scanNumber(const std::u16string& s, int base, bool& negative, bool& overflow,
                              unsigned long long limit) {
  negative = false;
  overflow = false;
  std::size_t i = 0;
  while (i < s.size() && isSpace(s[i])) ++i;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  if (base < 0 || base == 1 || base > 36) return 0;
  bool hexPrefix = i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X') &&
                   i + 2 < s.size() && digitValue(s[i + 2]) < 16;
  if (base == 0) {
    if (hexPrefix) {
      base = 16;
      i += 2;
    } else if (i < s.size() && s[i] == u'0') {
      base = 8;
    } else {
      base = 10;
    }
  } else if (base == 16 && hexPrefix) {
    i += 2;
  }
  unsigned long long v = 0;
  for (; i < s.size(); ++i) {
    int d = digitValue(s[i]);
    if (d >= base) break;
    if (overflow) continue;
    if (v > (limit - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) {
      overflow = true;
      v = limit;
      continue;
    }
    v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
  }
  return v;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

FXWString::FXWString(const char16_t* s) {
  if (s) str_ = s;
}

FXWString::FXWString(const char16_t* s, int n) {
  if (s && n > 0) str_.assign(s, static_cast<std::size_t>(n));
}

FXWString::FXWString(char16_t c, int n) {
  if (n > 0) str_.assign(static_cast<std::size_t>(n), c);
}

FXWString& FXWString::operator=(const char16_t* s) {
  if (s)
    str_ = s;
  else
    str_.clear();
  return *this;
}

FXWString FXWString::fromLatin1(const char* s, int n) {
  FXWString r;
  if (!s) return r;
  std::size_t len = n < 0 ? std::char_traits<char>::length(s) : static_cast<std::size_t>(n);
  r.str_.resize(len);
  for (std::size_t i = 0; i < len; ++i) r.str_[i] = static_cast<unsigned char>(s[i]);
  return r;
}

FXWString FXWString::fromUtf8(const char* s, int n) {
  FXWString r;
  if (!s) return r;
  std::size_t len = n < 0 ? std::char_traits<char>::length(s) : static_cast<std::size_t>(n);
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  std::size_t i = 0;
  while (i < len) {
    unsigned char b = p[i];
    char32_t c;
    std::size_t need;
    char32_t min;
    if (b < 0x80) {
      r.str_ += static_cast<char16_t>(b);
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      c = b & 0x1F;
      need = 1;
      min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      c = b & 0x0F;
      need = 2;
      min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      c = b & 0x07;
      need = 3;
      min = 0x10000;
    } else {
      r.str_ += u'\uFFFD';
      ++i;
      continue;
    }
    std::size_t j = 1;
    for (; j <= need && i + j < len && (p[i + j] & 0xC0) == 0x80; ++j) c = (c << 6) | (p[i + j] & 0x3F);
    if (j <= need || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      r.str_ += u'\uFFFD';
      i += j;  // skip the lead and the continuation bytes that belonged to it
      continue;
    }
    i += j;
    if (c >= 0x10000) {
      c -= 0x10000;
      r.str_ += static_cast<char16_t>(0xD800 | (c >> 10));
      r.str_ += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    } else {
      r.str_ += static_cast<char16_t>(c);
    }
  }
  return r;
}

std::string FXWString::toUtf8() const {
  std::string out;
  out.reserve(str_.size());
  for (std::size_t i = 0; i < str_.size(); ++i) {
    char32_t c = str_[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < str_.size() && str_[i + 1] >= 0xDC00 && str_[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (str_[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    appendUtf8(out, c);
  }
  return out;
}

std::string FXWString::toLatin1() const {
  std::string out(str_.size(), '\0');
  for (std::size_t i = 0; i < str_.size(); ++i) out[i] = static_cast<char>(str_[i] & 0xFF);
  return out;
}

void FXWString::length(int len) { str_.resize(len > 0 ? static_cast<std::size_t>(len) : 0, u'\0'); }

FXWString& FXWString::assign(const char16_t* s, int n) {
  if (s && n > 0)
    str_.assign(s, static_cast<std::size_t>(n));
  else
    str_.clear();
  return *this;
}

FXWString& FXWString::assign(char16_t c, int n) {
  str_.assign(n > 0 ? static_cast<std::size_t>(n) : 0, c);
  return *this;
}

FXWString& FXWString::insert(int pos, const FXWString& s) {
  str_.insert(clampPos(pos, str_.size()), s.str_);
  return *this;
}

FXWString& FXWString::insert(int pos, char16_t c) {
  str_.insert(str_.begin() + static_cast<std::ptrdiff_t>(clampPos(pos, str_.size())), c);
  return *this;
}

FXWString& FXWString::append(const FXWString& s) {
  str_ += s.str_;
  return *this;
}

FXWString& FXWString::append(const char16_t* s, int n) {
  if (s && n > 0) str_.append(s, static_cast<std::size_t>(n));
  return *this;
}

FXWString& FXWString::append(char16_t c) {
  str_ += c;
  return *this;
}

FXWString& FXWString::append(char16_t c, int n) {
  if (n > 0) str_.append(static_cast<std::size_t>(n), c);
  return *this;
}

FXWString& FXWString::operator+=(const char16_t* s) {
  if (s) str_ += s;
  return *this;
}

FXWString& FXWString::replace(int pos, int m, const FXWString& s) {
  std::size_t p = clampPos(pos, str_.size());
  std::size_t n = m > 0 ? std::min(static_cast<std::size_t>(m), str_.size() - p) : 0;
  str_.replace(p, n, s.str_);
  return *this;
}

FXWString& FXWString::remove(int pos, int n) {
  std::size_t p = clampPos(pos, str_.size());
  if (n > 0) str_.erase(p, std::min(static_cast<std::size_t>(n), str_.size() - p));
  return *this;
}

FXWString& FXWString::substitute(char16_t org, char16_t sub, bool all) {
  for (auto& c : str_) {
    if (c == org) {
      c = sub;
      if (!all) break;
    }
  }
  return *this;
}

FXWString& FXWString::substitute(const FXWString& org, const FXWString& sub, bool all) {
  if (org.empty()) return *this;
  std::size_t pos = 0;
  while ((pos = str_.find(org.str_, pos)) != std::u16string::npos) {
    str_.replace(pos, org.str_.size(), sub.str_);
    pos += sub.str_.size();
    if (!all) break;
  }
  return *this;
}

FXWString& FXWString::trim() { return trimEnd().trimBegin(); }

FXWString& FXWString::trimBegin() {
  std::size_t i = 0;
  while (i < str_.size() && isSpace(str_[i])) ++i;
  str_.erase(0, i);
  return *this;
}

FXWString& FXWString::trimEnd() {
  std::size_t n = str_.size();
  while (n > 0 && isSpace(str_[n - 1])) --n;
  str_.resize(n);
  return *this;
}

FXWString& FXWString::simplify() {
  str_.erase(std::remove_if(str_.begin(), str_.end(), isSpace), str_.end());
  return *this;
}

FXWString& FXWString::upper() {
  for (auto& c : str_)
    if (c < 0xD800 || c > 0xDFFF) {
      UChar32 u = u_toupper(c);
      if (u <= 0xFFFF) c = static_cast<char16_t>(u);
    }
  return *this;
}

FXWString& FXWString::lower() {
  for (auto& c : str_)
    if (c < 0xD800 || c > 0xDFFF) {
      UChar32 u = u_tolower(c);
      if (u <= 0xFFFF) c = static_cast<char16_t>(u);
    }
  return *this;
}

FXWString FXWString::left(int n) const {
  return FXWString(str_.substr(0, n > 0 ? static_cast<std::size_t>(n) : 0));
}

FXWString FXWString::right(int n) const {
  std::size_t k = n > 0 ? std::min(static_cast<std::size_t>(n), str_.size()) : 0;
  return FXWString(str_.substr(str_.size() - k));
}

FXWString FXWString::mid(int pos, int n) const {
  if (n <= 0) return FXWString();
  std::size_t p = clampPos(pos, str_.size());
  std::size_t end = pos < 0 ? static_cast<std::size_t>(std::max(0LL, static_cast<long long>(pos) + n))
                            : static_cast<std::size_t>(pos) + static_cast<std::size_t>(n);
  end = std::min(end, str_.size());
  return end > p ? FXWString(str_.substr(p, end - p)) : FXWString();
}

FXWString FXWString::before(char16_t c, int n) const {
  std::size_t i = 0;
  if (n > 0) {
    for (; i < str_.size(); ++i)
      if (str_[i] == c && --n == 0) break;
  }
  return FXWString(str_.substr(0, i));
}

FXWString FXWString::rbefore(char16_t c, int n) const {
  std::size_t i = str_.size();
  if (n > 0) {
    while (i > 0) {
      --i;
      if (str_[i] == c && --n == 0) return FXWString(str_.substr(0, i));
    }
  }
  return FXWString();
}

FXWString FXWString::after(char16_t c, int n) const {
  if (n > 0) {
    for (std::size_t i = 0; i < str_.size(); ++i)
      if (str_[i] == c && --n == 0) return FXWString(str_.substr(i + 1));
  }
  return FXWString();
}

FXWString FXWString::rafter(char16_t c, int n) const {
  if (n > 0) {
    std::size_t i = str_.size();
    while (i > 0) {
      --i;
      if (str_[i] == c && --n == 0) return FXWString(str_.substr(i + 1));
    }
  }
  return *this;
}

FXWString FXWString::section(char16_t delim, int start, int num) const {
  if (start < 0 || num <= 0) return FXWString();
  std::size_t i = 0;
  int field = 0;
  while (field < start) {
    std::size_t d = str_.find(delim, i);
    if (d == std::u16string::npos) return FXWString();
    i = d + 1;
    ++field;
  }
  std::size_t e = i;
  for (int k = 0; k < num; ++k) {
    std::size_t d = str_.find(delim, e);
    if (d == std::u16string::npos) {
      e = str_.size();
      break;
    }
    e = (k + 1 < num) ? d + 1 : d;
  }
  return FXWString(str_.substr(i, e - i));
}

int FXWString::find(char16_t c, int pos) const {
  auto r = str_.find(c, clampPos(pos, str_.size()));
  return r == std::u16string::npos ? -1 : static_cast<int>(r);
}

int FXWString::find(const FXWString& s, int pos) const {
  if (pos > length()) return -1;
  auto r = str_.find(s.str_, clampPos(pos, str_.size()));
  return r == std::u16string::npos ? -1 : static_cast<int>(r);
}

int FXWString::rfind(char16_t c, int pos) const {
  if (pos < 0) return -1;
  auto r = str_.rfind(c, static_cast<std::size_t>(pos));
  return r == std::u16string::npos ? -1 : static_cast<int>(r);
}

int FXWString::rfind(const FXWString& s, int pos) const {
  if (pos < 0) return -1;
  auto r = str_.rfind(s.str_, static_cast<std::size_t>(pos));
  return r == std::u16string::npos ? -1 : static_cast<int>(r);
}

int FXWString::find_first_of(const FXWString& set, int pos) const {
  auto r = str_.find_first_of(set.str_, clampPos(pos, str_.size()));
  return r == std::u16string::npos ? -1 : static_cast<int>(r);
}

int FXWString::find_first_not_of(const FXWString& set, int pos) const {
  auto r = str_.find_first_not_of(set.str_, clampPos(pos, str_.size()));
  return r == std::u16string::npos ? -1 : static_cast<int>(r);
}

int FXWString::find_last_of(const FXWString& set, int pos) const {
  if (pos < 0) return -1;
  auto r = str_.find_last_of(set.str_, static_cast<std::size_t>(pos));
  return r == std::u16string::npos ? -1 : static_cast<int>(r);
}

int FXWString::find_last_not_of(const FXWString& set, int pos) const {
  if (pos < 0) return -1;
  auto r = str_.find_last_not_of(set.str_, static_cast<std::size_t>(pos));
  return r == std::u16string::npos ? -1 : static_cast<int>(r);
}

int FXWString::contains(char16_t c) const { return static_cast<int>(std::count(str_.begin(), str_.end(), c)); }

int FXWString::contains(const FXWString& s) const {
  if (s.empty()) return 0;
  int n = 0;
  for (std::size_t p = str_.find(s.str_); p != std::u16string::npos; p = str_.find(s.str_, p + s.str_.size())) ++n;
  return n;
}

unsigned int FXWString::getUnsignedValue() const {
  std::size_t i = 0;
  while (i < str_.size() && isSpace(str_[i])) ++i;
  unsigned long long v = 0;
  for (; i < str_.size() && str_[i] >= u'0' && str_[i] <= u'9'; ++i) {
    v = v * 10 + (str_[i] - u'0');
    if (v > UINT_MAX) v = UINT_MAX;
  }
  return static_cast<unsigned int>(v);
}

unsigned int FXWString::hash() const {
  unsigned int h = 0;
  for (char16_t c : str_) h = ((h << 5) + h) ^ c;
  return h;
}

int FXWString::compare(const FXWString& a, const FXWString& b) { return a.str_.compare(b.str_); }

int FXWString::compare(const FXWString& a, const FXWString& b, int n) {
  std::size_t k = n > 0 ? static_cast<std::size_t>(n) : 0;
  return a.str_.substr(0, k).compare(b.str_.substr(0, k));
}

int FXWString::caseCompare(const FXWString& a, const FXWString& b) { return caseCompare(a, b, INT_MAX); }

int FXWString::caseCompare(const FXWString& a, const FXWString& b, int n) {
  std::size_t limit = n > 0 ? static_cast<std::size_t>(n) : 0;
  std::size_t la = std::min(a.str_.size(), limit), lb = std::min(b.str_.size(), limit);
  for (std::size_t i = 0; i < la && i < lb; ++i) {
    char16_t x = foldUnit(a.str_[i]), y = foldUnit(b.str_[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return la == lb ? 0 : (la < lb ? -1 : 1);
}

FXWString operator+(const FXWString& a, const FXWString& b) { return FXWString(a.str_ + b.str_); }
FXWString operator+(const FXWString& a, const char16_t* b) {
  FXWString r(a);
  r += b;
  return r;
}
FXWString operator+(const char16_t* a, const FXWString& b) {
  FXWString r(a);
  r += b;
  return r;
}
FXWString operator+(const FXWString& a, char16_t b) {
  FXWString r(a);
  r += b;
  return r;
}
FXWString operator+(char16_t a, const FXWString& b) {
  FXWString r(&a, 1);
  r += b;
  return r;
}

unsigned int FXUIntVal(const FXWString& s, int base) {
  bool negative, overflow;
  unsigned long long v = scanNumber(s.str(), base, negative, overflow, UINT_MAX);
  if (overflow) return UINT_MAX;
  unsigned int u = static_cast<unsigned int>(v);
  return negative ? 0u - u : u;
}

int FXIntVal(const FXWString& s, int base) {
  bool negative, overflow;
  unsigned long long v = scanNumber(s.str(), base, negative, overflow, 0x80000000ull);
  if (negative) return (overflow || v >= 0x80000000ull) ? INT_MIN : -static_cast<int>(v);
  return (overflow || v > 0x7FFFFFFFull) ? INT_MAX : static_cast<int>(v);
}

double FXDoubleVal(const FXWString& s) {
  std::string narrow;
  for (char16_t c : s.str()) {
    if (c > 0x7F) break;
    narrow += static_cast<char>(c);
  }
  return std::strtod(narrow.c_str(), nullptr);
}

FXWString FXWStringVal(unsigned int num, int base) {
  if (base < 2 || base > 36) base = 10;
  char16_t buf[40];
  int n = 40;
  do {
    unsigned d = num % static_cast<unsigned>(base);
    buf[--n] = static_cast<char16_t>(d < 10 ? u'0' + d : u'A' + d - 10);
    num /= static_cast<unsigned>(base);
  } while (num);
  return FXWString(buf + n, 40 - n);
}

FXWString FXWStringVal(int num, int base) {
  if (num >= 0) return FXWStringVal(static_cast<unsigned int>(num), base);
  return u'-' + FXWStringVal(0u - static_cast<unsigned int>(num), base);
}

FXWString FXWStringVal(double num, int prec) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%.*g", std::clamp(prec, 0, 30), num);
  return FXWString::fromLatin1(buf, n > 0 ? std::min(n, 63) : 0);
}

}  // namespace FX
