// The element parser of XML text and xml_document::load.
#include <algorithm>
#include <cstring>
#include <vector>

#include "files/file_object.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

class binary_reader final : public xml_reader_interface {
 public:
  explicit binary_reader(xml_document& doc) : doc_(doc) {}

  void start_document() override { stack_.clear(); }
  void start_element(const std::string& name) override {
    auto* node = new xml_node(name);
    if (stack_.empty())
      doc_.set_root(node);
    else
      stack_.back()->append_child(node);
    stack_.push_back(node);
  }
  void end_element() override {
    if (stack_.size() > 1) stack_.pop_back();
  }
  void attribute(const std::string& name, const std::u16string& value) override {
    if (!stack_.empty()) stack_.back()->attributes().emplace(name, value);
  }
  void text(const std::u16string& text) override {
    if (!stack_.empty()) stack_.back()->pieces().back() = text;
  }
  // 8-bit text keeps its bytes as ISO 8859-1 characters.
  void narrow_text(const std::string& text) override {
    if (stack_.empty()) return;
    std::u16string wide(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
    stack_.back()->pieces().back() = std::move(wide);
  }

 private:
  xml_document& doc_;
  std::vector<xml_node*> stack_;
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

bool parse_element(xml_node* node, xml_lexer& lex, std::size_t depth) {
  // Open elements, innermost last; each entry has had its start tag read.
  std::vector<xml_node*> open{node};
  bool in_content = false;  // false: attributes of open.back() come next
  while (!open.empty()) {
    xml_node* n = open.back();
    if (!in_content) {
      bool complete = false;
      while (lex.token() != xml_token_close) {
        if (lex.token() == xml_token_empty_close) {
          lex.next();
          complete = true;
          break;
        }
        if (lex.token() != xml_token_attribute) return false;
        auto [it, fresh] = n->attributes().emplace(lex.name(), std::u16string());
        if (!fresh) return false;
        if (lex.next() != xml_token_equals) return false;
        while (lex.next() == xml_token_text) it->second += lex.text();
      }
      if (complete) {
        open.pop_back();
        in_content = true;
        continue;
      }
      lex.next();
      in_content = true;
    }
    // Content of n up to its end tag, or until a child opens.
    bool child_opened = false;
    for (;;) {
      const int t = lex.token();
      if (t == xml_token_start_tag) {
        if (depth + open.size() > xml_max_depth) return false;
        auto* child = new xml_node(lex.name());
        n->append_child(child);
        lex.next();
        open.push_back(child);
        in_content = false;
        child_opened = true;
        break;
      }
      if (t == xml_token_text) {
        n->pieces().back() += lex.text();
        lex.next();
        continue;
      }
      if (t == xml_token_end_tag) break;
      return false;
    }
    if (child_opened) continue;
    if (lex.name() != n->name()) return false;
    if (lex.next() != xml_token_close) return false;
    lex.next();
    open.pop_back();
  }
  return true;
}

bool xml_document::load(i_file& in, int& line, int& column) {
  set_root(nullptr);
  xml_lexer lex(in);
  bool ok = false;
  if (lex.token() == xml_token_start_tag) {
    set_root(new xml_node(lex.name()));
    lex.next();
    ok = parse_element(root_, lex) && lex.token() == xml_token_end && in.Good();
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
