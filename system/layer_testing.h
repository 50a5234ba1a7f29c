// What the layer's tests share: a terminal to write console output to, and
// fontconfig's own answer for a face.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/win32/windows.h"

namespace layer_test {

// A pseudo-terminal: the layer's handle to its terminal side, and what
// arrives on the other side.
class Terminal {
 public:
  Terminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    std::string path = ::ptsname(master_);
    std::u16string windows = u"Z:";
    for (char c : path) windows.push_back(c == '/' ? u'\\' : static_cast<char16_t>(c));
    handle_ = CreateFileW(windows.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          0, nullptr);
  }
  ~Terminal() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    if (master_ >= 0) ::close(master_);
  }
  HANDLE handle() const { return handle_; }
  std::string read() {
    char buffer[256];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }

 private:
  int master_ = -1;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// fc-match's first family for a pattern.
inline std::string fontconfigFamily(const std::string& pattern) {
  std::string command = "fc-match -f '%{family[0]}' '" + pattern + "'";
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

inline std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace layer_test
