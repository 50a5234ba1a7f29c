// The element tree shared by the XML readers and the writer. Mixed content is
// kept exactly: an element's text is the list of pieces between its children,
// so a node with n children always has n + 1 text pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/fox/fxwstring.h"

class i_file;
class o_file;

// Deepest element nesting the readers accept and the writer stores; deeper
// input fails instead of exhausting the stack.
constexpr std::size_t xml_max_depth = 256;

// Entry of a flag table for xml_node::attribute_flags; value 0 ends the table.
struct xml_flag {
  std::uint32_t value;
  const char* name;
};

// A view of one attribute value; the FXWString is made on first use.
class xml_attribute {
 public:
  explicit xml_attribute(const std::u16string* value) : value_(value) {}
  xml_attribute(const xml_attribute&) = delete;
  xml_attribute& operator=(const xml_attribute&) = delete;

  const std::u16string& value() const { return *value_; }
  const FX::FXWString& fx_text() const;
  // One byte per UTF-16 unit: the low byte.
  std::string narrow_text() const;

 private:
  const std::u16string* value_;
  mutable std::unique_ptr<FX::FXWString> fx_;
};

// A position in a node's attribute map (name order) with a view made lazily.
class xml_attribute_iterator {
 public:
  using map_iterator = std::map<std::string, std::u16string>::const_iterator;

  xml_attribute_iterator() = default;
  explicit xml_attribute_iterator(map_iterator it) : it_(it) {}
  xml_attribute_iterator(const xml_attribute_iterator& o) : it_(o.it_) {}
  xml_attribute_iterator& operator=(const xml_attribute_iterator& o) {
    it_ = o.it_;
    view_.reset();
    return *this;
  }

  const std::string& name() const { return it_->first; }
  const xml_attribute& operator*() const;
  const xml_attribute* operator->() const { return &**this; }
  xml_attribute_iterator& operator++() {
    ++it_;
    view_.reset();
    return *this;
  }
  friend bool operator==(const xml_attribute_iterator& a, const xml_attribute_iterator& b) { return a.it_ == b.it_; }

 private:
  map_iterator it_{};
  mutable std::unique_ptr<xml_attribute> view_;
};

class xml_node {
 public:
  using attribute_map = std::map<std::string, std::u16string>;

  explicit xml_node(std::string name);
  // Deep copy; the copy's own parent is null.
  xml_node(const xml_node& other);
  xml_node& operator=(const xml_node&) = delete;
  ~xml_node();

  const std::string& name() const { return name_; }
  xml_node* parent() const { return parent_; }

  // Attribute names are compared byte by byte; each occurs once.
  attribute_map& attributes() { return attributes_; }
  const attribute_map& attributes() const { return attributes_; }
  const std::vector<xml_node*>& children() const { return children_; }
  // Piece 0 is the text before the first child, piece i the text between
  // child i - 1 and child i. Keep children().size() + 1 of them.
  std::vector<std::u16string>& pieces() { return pieces_; }
  const std::vector<std::u16string>& pieces() const { return pieces_; }

  // First child of exactly that name, or null.
  xml_node* find_child(const char* name) const;
  // Takes ownership. The child goes to index position - 1 (0 when position is
  // 0) and an empty piece is inserted at `position`; pieces().size() appends.
  void insert_child(std::size_t position, xml_node* child);
  // Appends a child after all others, followed by an empty piece.
  void append_child(xml_node* child) { insert_child(pieces_.size(), child); }
  // First child of that name whose attribute equals `value` exactly, or null.
  xml_node* find_child_by_attribute(const char* child, const char* attribute, const FX::FXWString& value) const;
  // All pieces joined.
  FX::FXWString text() const;

  xml_attribute_iterator find_attribute(const char* name) const;
  xml_attribute_iterator attributes_begin() const { return xml_attribute_iterator(attributes_.begin()); }
  xml_attribute_iterator attributes_end() const { return xml_attribute_iterator(attributes_.end()); }
  std::string attribute_string(const char* name, const char* default_value) const;
  FX::FXWString attribute_text(const char* name, const FX::FXWString& default_value) const;
  // FXUIntVal in base 10.
  std::uint32_t attribute_uint(const char* name, std::uint32_t default_value) const;
  // OR of the table values named in a comma-separated attribute (blanks
  // ignored); the default when the attribute is absent.
  std::uint32_t attribute_flags(const char* name, const xml_flag* table, std::uint32_t default_value) const;

 private:
  struct shallow_tag {};
  xml_node(const xml_node& other, shallow_tag);
  static void delete_children(xml_node* node) noexcept;

  std::string name_;
  attribute_map attributes_;
  std::vector<xml_node*> children_;
  std::vector<std::u16string> pieces_;
  xml_node* parent_ = nullptr;
};

class xml_document {
 public:
  // Flags of write().
  enum : unsigned {
    write_indent = 1,          // tabs and line breaks around child elements
    write_bom = 2,             // EF BB BF first
    write_no_declaration = 4,  // no <?xml ...?> line
    write_binary = 8,          // binary XML, old element form; other flags ignored
  };

  xml_document() = default;
  xml_document(const xml_document& other);
  xml_document& operator=(const xml_document& other);
  ~xml_document();

  xml_node* root() const { return root_; }
  // Takes ownership; the previous root is deleted.
  void set_root(xml_node* root);
  xml_node* release_root();

  // Reads UTF-8 XML text or binary XML ("BXML"), chosen by the first bytes.
  // The old root is deleted first; a failed load leaves no root. `line` and
  // `column` (1-based) tell where reading stopped.
  bool load(i_file& in, int& line, int& column);
  bool load(i_file& in);
  bool load_memory(const void* data, std::size_t size, int& line, int& column);
  bool load_memory(const void* data, std::size_t size);

  // Nothing is written without a root. Errors stay on `out` (its sticky
  // error); an element more deeply nested than xml_max_depth, or (binary) one
  // with more than 255 attributes, is refused with 0x4000e before anything is
  // written.
  void write(o_file& out, unsigned flags) const;
  // Binary XML, old element form; true when `out` is still Good.
  bool write_bxml(o_file& out) const;
  // write() into `out` (replaced); true when the document could be stored.
  bool write_memory(std::string& out, unsigned flags) const;

 private:
  xml_node* root_ = nullptr;
};
