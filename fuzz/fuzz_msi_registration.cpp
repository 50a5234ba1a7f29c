// A product's registration value as read back from the store, whatever bytes
// it holds: the parser takes them all, the block it would write reads back to
// the same entries, and every feature and component entry that parses writes
// back to a text that parses to the same record.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "platform/msi/registration.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  msi_engine::Registration r = msi_engine::parse_registration(data, size);
  std::u16string block = msi_engine::registration_block(r);
  FUZZ_CHECK(block.size() >= 1 && block.back() == u'\0');
  msi_engine::Registration back = msi_engine::parse_registration(block.data(), block.size() * 2);
  FUZZ_CHECK(back.entries == r.entries);
  for (const auto& [name, value] : r.entries) {
    if (auto f = msi_engine::parse_feature(value)) {
      auto again = msi_engine::parse_feature(msi_engine::feature_entry(*f));
      FUZZ_CHECK(again && again->state == f->state && again->name == f->name);
      FUZZ_CHECK(f->state >= -7 && f->state <= 7 && !f->name.empty());
    }
    if (auto c = msi_engine::parse_component(value)) {
      auto again = msi_engine::parse_component(msi_engine::component_entry(*c));
      FUZZ_CHECK(again && again->state == c->state && again->id == c->id && again->keyPath == c->keyPath);
      FUZZ_CHECK(!c->id.empty());
    }
  }
  return 0;
}
