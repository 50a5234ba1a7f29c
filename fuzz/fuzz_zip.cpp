// The ZIP reader on arbitrary archive bytes: every listed member opens, reads
// to its listed size or fails with an error, and is found again by its name.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/text_convert.h"
#include "files/test_memory_input.h"
#include "files/zip_file.h"
#include "fuzz/fuzz_check.h"

namespace {

bool same_name(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  auto fold = [](char16_t c) -> char16_t {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
  };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fs_test::memory_input in(std::string(reinterpret_cast<const char*>(data), size));
  zip_file zip(&in);
  if (zip.Bad()) return 0;
  std::unique_ptr<i_dir::iterator> it(zip.iterate());
  if (!it) return 0;
  // Members may share their data, and deflate expands a thousandfold: bound
  // the work of one input.
  std::uint64_t budget = std::uint64_t{8} << 20;
  static char buffer[1 << 16];
  for (unsigned n = 0; n < 256 && it->Good(); ++n, it->next()) {
    const std::u16string name = it->name() ? std::u16string(it->name()) : std::u16string();
    const std::uint64_t listed = it->size();
    std::unique_ptr<ri_file> member(zip.open_file(it.get(), false));
    if (member) {
      std::uint64_t total = 0;
      std::uint32_t count = 0;
      // Every other member in small reads, which are served from a block read ahead.
      const std::uint32_t chunk = n % 2 ? 4093 : sizeof buffer;
      do {
        member->read(buffer, chunk, count);
        total += count;
      } while (count > 0 && member->Good() && total <= listed && total < budget);
      budget -= total < budget ? total : budget;
      // A member read to its end without an error holds what the directory says.
      if (member->Good() && count == 0) FUZZ_CHECK(total == listed);
      FUZZ_CHECK(total <= listed);
    }
    // The iterator gives the name up to a NUL byte, which a stored name may hold;
    // such a cut name need not be found.
    std::string narrow(name.begin(), name.end());
    const bool maybe_cut = std::string_view(reinterpret_cast<const char*>(data), size).find(narrow + '\0') !=
                           std::string_view::npos;
    // A stored backslash never matches a request, by design.
    const bool findable = !name.empty() && name.find(u'\\') == std::u16string::npos;
    std::unique_ptr<zip_iterator> found(findable ? zip.find_entry(name.c_str()) : nullptr);
    if (!found && findable && !maybe_cut) {
      std::string shown;
      Common::toUtf8(shown, name.c_str());
      std::fprintf(stderr, "member %u \"%s\" is not found by its name: error 0x%x\n", n, shown.c_str(),
                   zip.error_code());
      FUZZ_CHECK(found != nullptr);
    }
    zip.clear_error();  // a failed look-up is sticky
    if (found) {
      if (!maybe_cut) FUZZ_CHECK(found->index() <= n);  // the first of that name
      FUZZ_CHECK(same_name(std::u16string(found->name()), name));
    }
    if (budget == 0) break;
  }
  return 0;
}
