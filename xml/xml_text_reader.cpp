// The element parser of XML text and xml_document::load.
#include <algorithm>
#include <cstring>
#include <vector>

#include "files/file_object.h"
#include "xml/xml_builder.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

class binary_reader final : public xml_reader_interface {
 public:
  explicit binary_reader(xml_document& doc) : tree_(&doc) {}

  void start_document() override { tree_.finish(); }
  void start_element(const std::string& name) override { tree_.open(name); }
  void end_element() override {
    if (tree_.depth() > 0) tree_.close();
  }
  void attribute(const std::string& name, const std::u16string& value) override {
    if (tree_.depth() > 0) tree_.attribute(name, value);
  }
  void text(const std::u16string& text) override {
    if (tree_.depth() > 0) tree_.replace_text(text);
  }
  // 8-bit text keeps its bytes as ISO 8859-1 characters.
  void narrow_text(const std::string& text) override {
    if (tree_.depth() == 0) return;
    std::u16string& piece = tree_.current_piece();
    piece.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) piece[i] = static_cast<unsigned char>(text[i]);
  }
  void end_document() override { tree_.finish(); }

 private:
  xml_tree_builder tree_;
};

// An i_file over caller-owned bytes.
class memory_input final : public i_file {
 public:
  memory_input(const void* data, std::size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad()) return;
    std::size_t n = std::min<std::size_t>(length, size_ - pos_);
    if (n) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    count = static_cast<std::uint32_t>(n);
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace

namespace {

// The element the builder has open, whose start-tag name the lexer has just
// returned, up to the token after its end; nesting without recursion.
bool parse_open_element(xml_tree_builder& tree, xml_lexer& lex, std::size_t depth) {
  const std::size_t base = tree.depth() - 1;  // the builder's depth outside this element
  std::u16string scratch;
  bool in_content = false;  // false: attributes of the innermost element come next
  while (tree.depth() > base) {
    if (!in_content) {
      bool complete = false;
      while (lex.token() != xml_token_close) {
        if (lex.token() == xml_token_empty_close) {
          lex.next();
          complete = true;
          break;
        }
        if (lex.token() != xml_token_attribute) return false;
        const std::string name = lex.name();
        if (tree.has_attribute(name)) return false;
        if (lex.next() != xml_token_equals) return false;
        scratch.clear();
        while (lex.next() == xml_token_text) scratch += lex.text();
        if (!tree.attribute(name, scratch)) return false;
      }
      if (complete) {
        tree.close();
        in_content = true;
        continue;
      }
      lex.next();
      in_content = true;
    }
    // Content up to the end tag, or until a child opens.
    bool child_opened = false;
    for (;;) {
      const int t = lex.token();
      if (t == xml_token_start_tag) {
        if (depth + (tree.depth() - base) > xml_max_depth) return false;
        tree.open(lex.name());
        lex.next();
        in_content = false;
        child_opened = true;
        break;
      }
      if (t == xml_token_text) {
        tree.append_text(lex.text());
        lex.next();
        continue;
      }
      if (t == xml_token_end_tag) break;
      return false;
    }
    if (child_opened) continue;
    if (lex.name() != tree.top()->name()) return false;
    if (lex.next() != xml_token_close) return false;
    lex.next();
    tree.close();
  }
  return true;
}

}  // namespace

bool parse_element(xml_node* node, xml_lexer& lex, std::size_t depth) {
  xml_tree_builder tree(nullptr);
  tree.open_existing(node);
  return parse_open_element(tree, lex, depth);
}

bool xml_document::load(i_file& in, int& line, int& column) {
  set_root(nullptr);
  xml_lexer lex(in);
  bool ok = false;
  if (lex.token() == xml_token_start_tag) {
    xml_tree_builder tree(this);
    tree.open(lex.name());
    lex.next();
    ok = parse_open_element(tree, lex, 1) && lex.token() == xml_token_end && in.Good();
  } else if (lex.token() == xml_token_bxml) {
    binary_reader builder(*this);
    ok = builder.parse_bxml(in);
  }
  line = lex.line();
  column = lex.column() + 1;
  // Callers take a document without a root for a failed load.
  if (!ok) set_root(nullptr);
  return ok;
}

bool xml_document::load(i_file& in) {
  int line, column;
  return load(in, line, column);
}

bool xml_document::load_memory(const void* data, std::size_t size, int& line, int& column) {
  memory_input in(data, size);
  return load(in, line, column);
}

bool xml_document::load_memory(const void* data, std::size_t size) {
  int line, column;
  return load_memory(data, size, line, column);
}
