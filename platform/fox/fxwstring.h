// FXWString: the wide (UTF-16) string of the toolkit build, and the number
// conversions that go with it. FOX 1.6's own FXString is UTF-8; widgets get an
// FXString made from this one at the call. This header pulls in no toolkit
// header, so non-GUI libraries (the XML model) can use it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace FX {

class FXWString {
 public:
  using value_type = char16_t;

  FXWString() = default;
  FXWString(const FXWString&) = default;
  FXWString(FXWString&&) noexcept = default;
  FXWString(const char16_t* s);           // null gives an empty string
  FXWString(const char16_t* s, int n);    // first n units of s
  FXWString(char16_t c, int n);           // n copies of c
  FXWString(const std::u16string& s) : str_(s) {}
  FXWString(std::u16string&& s) noexcept : str_(std::move(s)) {}
  explicit FXWString(std::u16string_view s) : str_(s) {}
  FXWString& operator=(const FXWString&) = default;
  FXWString& operator=(FXWString&&) noexcept = default;
  FXWString& operator=(const char16_t* s);

  // Each byte becomes one unit of the same value (ISO 8859-1).
  static FXWString fromLatin1(const char* s, int n = -1);
  // UTF-8 to UTF-16; characters outside the BMP become surrogate pairs and
  // malformed bytes become U+FFFD.
  static FXWString fromUtf8(const char* s, int n = -1);
  // UTF-16 to UTF-8, surrogate pairs joined; lone surrogates become U+FFFD.
  std::string toUtf8() const;
  // Low byte of every unit.
  std::string toLatin1() const;

  int length() const { return static_cast<int>(str_.size()); }
  // Sets the length; new units are 0.
  void length(int len);
  bool empty() const { return str_.empty(); }
  // Never null; NUL-terminated.
  const char16_t* text() const { return str_.c_str(); }
  char16_t* data() { return str_.data(); }
  const std::u16string& str() const { return str_; }
  operator std::u16string_view() const { return str_; }

  char16_t& operator[](int i) { return str_[static_cast<std::size_t>(i)]; }
  const char16_t& operator[](int i) const { return str_[static_cast<std::size_t>(i)]; }
  char16_t& at(int i) { return str_.at(static_cast<std::size_t>(i)); }
  const char16_t& at(int i) const { return str_.at(static_cast<std::size_t>(i)); }
  char16_t head() const { return str_.empty() ? u'\0' : str_.front(); }
  char16_t tail() const { return str_.empty() ? u'\0' : str_.back(); }

  FXWString& clear() {
    str_.clear();
    return *this;
  }
  FXWString& assign(const FXWString& s) { return *this = s; }
  FXWString& assign(const char16_t* s, int n);
  FXWString& assign(char16_t c, int n);

  // Positions outside the string are clamped.
  FXWString& insert(int pos, const FXWString& s);
  FXWString& insert(int pos, char16_t c);
  FXWString& prepend(const FXWString& s) { return insert(0, s); }
  FXWString& prepend(char16_t c) { return insert(0, c); }
  FXWString& append(const FXWString& s);
  FXWString& append(const char16_t* s, int n);
  FXWString& append(char16_t c);
  FXWString& append(char16_t c, int n);
  // Replaces m units at pos with s.
  FXWString& replace(int pos, int m, const FXWString& s);
  FXWString& remove(int pos, int n = 1);
  FXWString& substitute(char16_t org, char16_t sub, bool all = true);
  FXWString& substitute(const FXWString& org, const FXWString& sub, bool all = true);

  FXWString& trim();
  FXWString& trimBegin();
  FXWString& trimEnd();
  // Removes blanks, tabs and line breaks everywhere.
  FXWString& simplify();
  FXWString& upper();
  FXWString& lower();

  FXWString left(int n) const;
  FXWString right(int n) const;
  FXWString mid(int pos, int n) const;
  // Text before (after) the n-th occurrence of c, or the whole (empty) text.
  FXWString before(char16_t c, int n = 1) const;
  FXWString rbefore(char16_t c, int n = 1) const;
  FXWString after(char16_t c, int n = 1) const;
  FXWString rafter(char16_t c, int n = 1) const;
  // Fields start to start + num - 1 of a text split at delim.
  FXWString section(char16_t delim, int start, int num = 1) const;
  // Field n of a text split at delim; empty when there are fewer fields.
  FXWString extractPart(char16_t delim, int n) const { return section(delim, n, 1); }

  // Searches return -1 when nothing is found.
  int find(char16_t c, int pos = 0) const;
  int find(const FXWString& s, int pos = 0) const;
  int rfind(char16_t c, int pos = 2147483647) const;
  int rfind(const FXWString& s, int pos = 2147483647) const;
  int find_first_of(const FXWString& set, int pos = 0) const;
  int find_first_not_of(const FXWString& set, int pos = 0) const;
  int find_last_of(const FXWString& set, int pos = 2147483647) const;
  int find_last_not_of(const FXWString& set, int pos = 2147483647) const;
  int contains(char16_t c) const;  // number of occurrences
  int contains(const FXWString& s) const;

  // Leading blanks skipped, then the leading decimal digits; 0 when none.
  unsigned int getUnsignedValue() const;

  unsigned int hash() const;

  // Code-unit order: negative, 0 or positive.
  static int compare(const FXWString& a, const FXWString& b);
  static int compare(const FXWString& a, const FXWString& b, int n);
  // Case-insensitive (simple case folding): -1, 0 or 1.
  static int caseCompare(const FXWString& a, const FXWString& b);
  static int caseCompare(const FXWString& a, const FXWString& b, int n);

  FXWString& operator+=(const FXWString& s) { return append(s); }
  FXWString& operator+=(const char16_t* s);
  FXWString& operator+=(char16_t c) { return append(c); }

  friend bool operator==(const FXWString& a, const FXWString& b) { return a.str_ == b.str_; }
  friend bool operator==(const FXWString& a, const char16_t* b) { return a.str_ == std::u16string_view(b ? b : u""); }
  friend bool operator<(const FXWString& a, const FXWString& b) { return a.str_ < b.str_; }
  friend bool operator>(const FXWString& a, const FXWString& b) { return b.str_ < a.str_; }
  friend bool operator<=(const FXWString& a, const FXWString& b) { return !(b.str_ < a.str_); }
  friend bool operator>=(const FXWString& a, const FXWString& b) { return !(a.str_ < b.str_); }

  friend FXWString operator+(const FXWString& a, const FXWString& b);
  friend FXWString operator+(const FXWString& a, const char16_t* b);
  friend FXWString operator+(const char16_t* a, const FXWString& b);
  friend FXWString operator+(const FXWString& a, char16_t b);
  friend FXWString operator+(char16_t a, const FXWString& b);

  friend void swap(FXWString& a, FXWString& b) noexcept { a.str_.swap(b.str_); }

 private:
  std::u16string str_;
};

// Number conversions of the toolkit build. Parsing follows strtoul/strtol:
// leading white space, an optional sign, then digits of the base (base 0
// recognises the 0x and 0 prefixes); 0 when no digit is found; out-of-range
// values saturate.
unsigned int FXUIntVal(const FXWString& s, int base = 10);
int FXIntVal(const FXWString& s, int base = 10);
double FXDoubleVal(const FXWString& s);
// Digits in upper case for bases above 10; base 2 to 36.
FXWString FXWStringVal(unsigned int num, int base = 10);
FXWString FXWStringVal(int num, int base = 10);
FXWString FXWStringVal(double num, int prec = 6);

}  // namespace FX

template <>
struct std::hash<FX::FXWString> {
  std::size_t operator()(const FX::FXWString& s) const noexcept { return std::hash<std::u16string>()(s.str()); }
};
