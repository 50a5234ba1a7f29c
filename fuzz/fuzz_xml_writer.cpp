// The XML writer on trees built from arbitrary bytes (names and texts that
// readers would never make included): what it writes, as text or as binary
// XML, reads back to the same tree; what it cannot store it refuses whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/xml_round_trip.h"
#include "xml/xml_node.h"

namespace {

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  bool more() const { return at < size; }
  std::uint8_t byte() { return at < size ? data[at++] : 0; }
  // A short name: mostly from a small alphabet so that names repeat.
  std::string name() {
    static const char alphabet[] = "ab_:-.9 <=\"&";
    const std::size_t n = byte() % 6;
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t b = byte();
      out += b < 200 ? alphabet[b % (sizeof alphabet - 1)] : static_cast<char>(b);
    }
    return out;
  }
  std::u16string text() {
    const std::size_t n = byte() % 12;
    std::u16string out;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t kind = byte();
      if (kind < 128)
        out += static_cast<char16_t>(kind);  // ASCII, blanks and controls included
      else
        out += static_cast<char16_t>(byte() | byte() << 8);
    }
    return out;
  }
};

struct Building {
  xml_node* node;
  std::vector<std::u16string> pieces;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  xml_document doc;
  auto* root = new xml_node(in.name());
  doc.set_root(root);
  std::vector<Building> open{{root, {u""}}};
  std::vector<Building> closed;
  int nodes = 1;
  while (in.more() && nodes < 200) {
    Building& top = open.back();
    switch (in.byte() % 5) {
      case 0: {  // a child
        auto* child = new xml_node(in.name());
        top.node->append_child(child);
        top.pieces.emplace_back();
        open.push_back({child, {u""}});
        ++nodes;
        break;
      }
      case 1:  // back up
        if (open.size() > 1) {
          closed.push_back(std::move(open.back()));
          open.pop_back();
        }
        break;
      case 2: {
        const std::string n = in.name();
        top.node->attributes()[n] = in.text();
        break;
      }
      default:
        top.pieces.back() += in.text();
    }
  }
  for (auto& b : open) closed.push_back(std::move(b));
  for (auto& b : closed) b.node->pieces() = std::move(b.pieces);
  fuzz::check_round_trip(doc);
  return 0;
}
