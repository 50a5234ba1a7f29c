// Write-back checks shared by the XML targets: a tree the writer stores, as
// plain text or as binary XML, reads back to the same tree (names, attributes
// in order, text pieces), and writing that again gives the same bytes.
#pragma once

#include <string>

#include "fuzz/fuzz_check.h"
#include "xml/xml_node.h"

namespace fuzz {

inline std::string show(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    char hex[8];
    std::snprintf(hex, sizeof hex, c >= 32 && c < 127 && c != '\\' ? "%c" : "\\u%04x", static_cast<unsigned>(c));
    out += hex;
  }
  return out;
}

// Where two trees first differ, or empty when they are equal.
inline std::string tree_difference(const xml_node* a, const xml_node* b, const std::string& at = "/") {
  if (!a || !b) return a == b ? std::string() : at + ": a root is missing";
  const std::string here = at + a->name();
  if (a->name() != b->name()) return here + ": element named '" + b->name() + "'";
  auto ai = a->attributes().begin(), bi = b->attributes().begin();
  for (; ai != a->attributes().end() && bi != b->attributes().end(); ++ai, ++bi) {
    const auto& [an, av] = *ai;
    const auto& [bn, bv] = *bi;
    if (an != bn || av != bv)
      return here + ": attribute " + an + "='" + show(av) + "' became " + bn + "='" + show(bv) + "'";
  }
  if (ai != a->attributes().end() || bi != b->attributes().end()) return here + ": attribute count";
  if (a->children().size() != b->children().size()) return here + ": child count";
  if (a->pieces().size() != b->pieces().size()) return here + ": piece count";
  for (std::size_t i = 0; i < a->pieces().size(); ++i)
    if (a->pieces()[i] != b->pieces()[i])
      return here + ": text piece " + std::to_string(i) + " '" + show(a->pieces()[i]) + "' became '" +
             show(b->pieces()[i]) + "'";
  for (std::size_t i = 0; i < a->children().size(); ++i) {
    std::string d = tree_difference(a->children()[i], b->children()[i], here + "/");
    if (!d.empty()) return d;
  }
  return {};
}

inline void check_same_tree(const xml_document& original, const xml_document& back, const char* how) {
  const std::string d = tree_difference(original.root(), back.root());
  if (!d.empty()) std::fprintf(stderr, "written as %s and read back: %s\n", how, d.c_str());
  FUZZ_CHECK(d.empty());
}

inline void check_round_trip(const xml_document& doc) {
  std::string text, binary;
  const bool text_ok = doc.write_memory(text, 0);
  const bool binary_ok = doc.write_memory(binary, xml_document::write_binary);
  if (text_ok) {
    xml_document back;
    int line = 0, column = 0;
    if (!back.load_memory(text.data(), text.size(), line, column)) {
      std::fprintf(stderr, "the text written does not read back (line %d, column %d):\n", line, column);
      fuzz::print_difference(text, {});
    }
    FUZZ_CHECK(back.root() != nullptr);
    check_same_tree(doc, back, "text");
    std::string again;
    FUZZ_CHECK(back.write_memory(again, 0));
    FUZZ_CHECK_EQUAL(again, text);

    // Indenting adds blanks to mixed content, so it only has to read back.
    std::string indented;
    FUZZ_CHECK(doc.write_memory(indented, xml_document::write_indent | xml_document::write_bom));
    xml_document from_indented;
    FUZZ_CHECK(from_indented.load_memory(indented.data(), indented.size()));
  }
  if (binary_ok) {
    xml_document back;
    FUZZ_CHECK(back.load_memory(binary.data(), binary.size()));
    check_same_tree(doc, back, "binary XML");
    std::string again;
    FUZZ_CHECK(back.write_memory(again, xml_document::write_binary));
    FUZZ_CHECK_EQUAL(again, binary);
    if (text_ok) {
      FUZZ_CHECK(back.write_memory(again, 0));
      FUZZ_CHECK_EQUAL(again, text);
    }
  }
}

}  // namespace fuzz
