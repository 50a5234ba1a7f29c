// Write-back checks shared by the XML targets: a tree the writer stores, as
// plain text or as binary XML, reads back to the same tree. Two
// trees are compared through the writer's plain text and binary forms, which
// keep every name, attribute and text piece.
#pragma once

#include <string>

#include "fuzz/fuzz_check.h"
#include "xml/xml_node.h"

namespace fuzz {

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
