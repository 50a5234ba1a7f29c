// makecab.exe as the layer serves it: "makecab /f FILE" builds the one
// cabinet the directive file describes. Exit 0 on success; 1 with a message
// on standard error when the file cannot be read, is not understood, or the
// cabinet cannot be built (no partial cabinet is left behind).
#include <cstdio>
#include <string>

#include "platform/tools/cabinet_build.h"
#include "platform/tools/ddf.h"
#include "platform/win32/windows.h"

namespace {

// Larger directive files are not what a cabinet of at most 65535 files needs.
constexpr unsigned long long kMaxDirectiveBytes = 64ull << 20;

int usage() {
  std::fputs("usage: makecab /f DIRECTIVE-FILE\n", stderr);
  return 1;
}

int failure(const std::string& where, const std::string& message) {
  std::fprintf(stderr, "makecab: ERROR: %s%s\n", where.c_str(), message.c_str());
  return 1;
}

bool read_all(const std::u16string& path, std::string& bytes, std::string& message) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    message = "cannot open the directive file (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(h, &size) && static_cast<unsigned long long>(size.QuadPart) <= kMaxDirectiveBytes;
  if (!ok) message = "the directive file is too large";
  if (ok) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    ok = bytes.empty() || (ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                           got == bytes.size());
    if (!ok) message = "cannot read the directive file";
  }
  CloseHandle(h);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return usage();
  const std::string flag = argv[1];
  if (flag != "/f" && flag != "/F" && flag != "-f" && flag != "-F") return usage();
  const std::u16string path = win32::utf8_to_utf16(argv[2]);
  std::string bytes, message;
  if (!read_all(path, bytes, message)) return failure(std::string(argv[2]) + ": ", message);
  layer_tools::Ddf ddf;
  layer_tools::DdfError error;
  if (!layer_tools::parse_ddf(bytes, ddf, error) || !layer_tools::build_cabinet(ddf, error))
    return failure(std::string(argv[2]) + (error.line ? "(" + std::to_string(error.line) + ")" : "") + ": ",
                   error.message);
  return 0;
}
