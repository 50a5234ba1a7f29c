// An ANSI text as UTF-16 for the wide call an ANSI twin forwards to. A null
// stays null, so the wide call sees what the caller passed; the text may be
// written to, as a wide command line is.
#pragma once

#include <string>

#include "platform/win32/kernel32/codepage.h"

namespace win32 {

class WideText {
 public:
  explicit WideText(LPCSTR s, UINT page = CP_ACP) : null_(s == nullptr) {
    if (!s) return;
    const int n = MultiByteToWideChar(page, 0, s, -1, nullptr, 0);
    if (n <= 1) return;
    text_.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(page, 0, s, -1, text_.data(), n);
    text_.resize(static_cast<std::size_t>(n - 1));
  }
  LPCWSTR get() const { return null_ ? nullptr : text_.c_str(); }
  LPWSTR get() { return null_ ? nullptr : text_.data(); }
  const std::u16string& text() const { return text_; }

 private:
  std::u16string text_;
  bool null_;
};

}  // namespace win32
