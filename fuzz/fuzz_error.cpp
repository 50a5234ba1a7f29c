// Error chains read from arbitrary bytes: reading never fails or reads past
// the data; every field answers only for its own type; what was read writes
// to a form that reads back to the same chain and writes to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/error.h"
#include "fuzz/fuzz_check.h"

namespace {

std::string bytesOf(const Common::Error& e) {
  std::size_t n = 0;
  std::unique_ptr<std::uint8_t[]> data(e.serialize(n));
  FUZZ_CHECK(data != nullptr);
  return std::string(reinterpret_cast<const char*>(data.get()), n);
}

int walk(const Common::Error& e) {
  int records = 0;
  for (Common::Error r = e; r; r = r.cause()) {
    ++records;
    FUZZ_CHECK(r.code() != 0);
    // Names no record can hold (the reader refuses a ',' inside one) answer nothing.
    for (const char* absent : {"", ",", "a,b"}) {
      FUZZ_CHECK(r.narrowField(absent) == nullptr);
      FUZZ_CHECK(r.wideField(absent) == nullptr);
      FUZZ_CHECK(r.numberField(absent) == 0);
    }
    const std::string_view names = r.fieldNames();
    std::size_t start = 0;
    while (!names.empty() && start <= names.size()) {
      std::size_t end = names.find(',', start);
      if (end == std::string_view::npos) end = names.size();
      const std::string name(names.substr(start, end - start));
      start = end + 1;
      FUZZ_CHECK(!name.empty());
      const bool narrow = r.narrowField(name.c_str()) != nullptr;
      const bool wide = r.wideField(name.c_str()) != nullptr;
      FUZZ_CHECK(!(narrow && wide));
      if (narrow || wide) FUZZ_CHECK(r.numberField(name.c_str()) == 0);
      if (wide) FUZZ_CHECK(reinterpret_cast<std::uintptr_t>(r.wideField(name.c_str())) % alignof(char16_t) == 0);
    }
  }
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Exactly as long as the input, so that reading past it is caught.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  const Common::Error read = Common::Error::deserialize(copy.get(), size);
  const int records = walk(read);

  const std::string once = bytesOf(read);
  const Common::Error again =
      Common::Error::deserialize(reinterpret_cast<const std::uint8_t*>(once.data()), once.size());
  FUZZ_CHECK(walk(again) == records);
  for (Common::Error a = read, b = again; a; a = a.cause(), b = b.cause()) {
    FUZZ_CHECK(a.code() == b.code());
    FUZZ_CHECK(a.site() == b.site());
    FUZZ_CHECK(a.text() == b.text());
  }
  FUZZ_CHECK_EQUAL(bytesOf(again), once);
  return 0;
}
