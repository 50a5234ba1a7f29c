// The element tree shared by the XML readers and the writer. Mixed content is
// kept exactly: an element's text is the list of pieces between its children,
// so a node with n children always has n + 1 text pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <utility>
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

struct xml_arena;

// An element or attribute name. Its memory comes from where its node's does;
// it compares with and converts to std::string.
class xml_name : public std::pmr::string {
 public:
  using std::pmr::string::basic_string;
  using std::pmr::string::operator=;
  xml_name(const xml_name&) = default;
  xml_name(xml_name&&) = default;
  xml_name& operator=(const xml_name&) = default;
  xml_name& operator=(xml_name&&) = default;

  operator std::string() const { return std::string(data(), size()); }
  friend bool operator==(const xml_name& a, const std::string& b) { return std::string_view(a) == b; }
  friend bool operator==(const xml_name& a, const char* b) { return std::string_view(a) == b; }
  friend std::string operator+(const xml_name& a, std::string_view b) { return std::string(a).append(b); }
  friend std::string operator+(std::string_view a, const xml_name& b) { return std::string(a).append(b); }
  friend std::string operator+(const xml_name& a, const char* b) { return std::string(a).append(b); }
  friend std::string operator+(const char* a, const xml_name& b) { return std::string(a).append(b); }
};

// A text piece or attribute value (UTF-16), allocated like xml_name; compares
// with and converts to std::u16string.
class xml_text : public std::pmr::u16string {
 public:
  using std::pmr::u16string::basic_string;
  using std::pmr::u16string::operator=;
  xml_text(const xml_text&) = default;
  xml_text(xml_text&&) = default;
  xml_text& operator=(const xml_text&) = default;
  xml_text& operator=(xml_text&&) = default;

  operator std::u16string() const { return std::u16string(data(), size()); }
  friend bool operator==(const xml_text& a, const std::u16string& b) { return std::u16string_view(a) == b; }
  friend bool operator==(const xml_text& a, const char16_t* b) { return std::u16string_view(a) == b; }
};

// The text pieces of a node. Assigning a list of strings replaces them all.
class xml_pieces : public std::pmr::vector<xml_text> {
 public:
  using std::pmr::vector<xml_text>::vector;
  xml_pieces& operator=(const std::vector<std::u16string>& texts) {
    clear();
    for (const std::u16string& t : texts) emplace_back(t);
    return *this;
  }
};

// A node's attributes: a flat list kept in byte order of the names, each name
// once, with the look-ups of a map.
class xml_attribute_list {
 public:
  using value_type = std::pair<xml_name, xml_text>;
  using list_type = std::pmr::vector<value_type>;
  using iterator = list_type::iterator;
  using const_iterator = list_type::const_iterator;

  explicit xml_attribute_list(std::pmr::memory_resource* memory) : list_(memory) {}
  xml_attribute_list(const xml_attribute_list& other) : list_(other.list_) {}
  xml_attribute_list& operator=(const xml_attribute_list&) = delete;

  iterator begin() { return list_.begin(); }
  iterator end() { return list_.end(); }
  const_iterator begin() const { return list_.begin(); }
  const_iterator end() const { return list_.end(); }
  std::size_t size() const { return list_.size(); }
  bool empty() const { return list_.empty(); }

  iterator find(std::string_view name);
  const_iterator find(std::string_view name) const;
  // The value of `name`, added empty when absent.
  xml_text& operator[](std::string_view name) { return emplace(name, std::u16string_view()).first->second; }
  // Adds `name` unless present; the iterator names the attribute either way.
  std::pair<iterator, bool> emplace(std::string_view name, std::u16string_view value);

 private:
  friend class xml_tree_builder;
  iterator lower_bound(std::string_view name);
  list_type list_;
};

// A view of one attribute value; the FXWString is made on first use.
class xml_attribute {
 public:
  explicit xml_attribute(const xml_text* value) : value_(value) {}
  xml_attribute(const xml_attribute&) = delete;
  xml_attribute& operator=(const xml_attribute&) = delete;

  const xml_text& value() const { return *value_; }
  const FX::FXWString& fx_text() const;
  // One byte per UTF-16 unit: the low byte.
  std::string narrow_text() const;

 private:
  const xml_text* value_;
  mutable std::unique_ptr<FX::FXWString> fx_;
};

// A position in a node's attribute list (name order) with a view made lazily.
class xml_attribute_iterator {
 public:
  using list_iterator = xml_attribute_list::const_iterator;

  xml_attribute_iterator() = default;
  explicit xml_attribute_iterator(list_iterator it) : it_(it) {}
  xml_attribute_iterator(const xml_attribute_iterator& o) : it_(o.it_) {}
  xml_attribute_iterator& operator=(const xml_attribute_iterator& o) {
    it_ = o.it_;
    view_.reset();
    return *this;
  }

  const xml_name& name() const { return it_->first; }
  const xml_attribute& operator*() const;
  const xml_attribute* operator->() const { return &**this; }
  xml_attribute_iterator& operator++() {
    ++it_;
    view_.reset();
    return *this;
  }
  friend bool operator==(const xml_attribute_iterator& a, const xml_attribute_iterator& b) { return a.it_ == b.it_; }

 private:
  list_iterator it_{};
  mutable std::unique_ptr<xml_attribute> view_;
};

// An element. A node made with new owns its children and is deleted with
// delete; the nodes a reader builds come, with their names, texts and lists,
// from one block of their document and go with it at once.
class xml_node {
 public:
  using attribute_map = xml_attribute_list;

  explicit xml_node(std::string_view name);
  // Deep copy made with new; the copy's own parent is null.
  xml_node(const xml_node& other);
  xml_node& operator=(const xml_node&) = delete;
  ~xml_node();

  const xml_name& name() const { return name_; }
  xml_node* parent() const { return parent_; }

  // Attribute names are compared byte by byte; each occurs once.
  attribute_map& attributes() { return attributes_; }
  const attribute_map& attributes() const { return attributes_; }
  const std::pmr::vector<xml_node*>& children() const { return children_; }
  // Piece 0 is the text before the first child, piece i the text between
  // child i - 1 and child i. Keep children().size() + 1 of them.
  xml_pieces& pieces() { return pieces_; }
  const xml_pieces& pieces() const { return pieces_; }

  // First child of exactly that name, or null.
  xml_node* find_child(const char* name) const;
  // Takes ownership. The child goes to index position - 1 (0 when position is
  // 0) and an empty piece is inserted at `position`; pieces().size() appends.
  void insert_child(std::size_t position, xml_node* child);
  // Appends a child after all others, followed by an empty piece.
  void append_child(xml_node* child) { insert_child(pieces_.size(), child); }
  // Appends a new child of that name, made where this node's memory comes
  // from (the readers build a document this way), and returns it.
  xml_node* new_child(std::string_view name);
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
  friend class xml_document;
  friend class xml_tree_builder;
  struct shallow_tag {};
  struct bare_tag {};
  xml_node(const xml_node& other, shallow_tag);
  xml_node(std::string_view name, xml_arena* arena);
  xml_node(std::string_view name, xml_arena* arena, bare_tag);
  static xml_node* make(std::string_view name, xml_arena* arena);
  // Without its first piece, for the tree builder, which adds all pieces.
  static xml_node* make_bare(std::string_view name, xml_arena* arena);
  static void delete_children(xml_node* node) noexcept;

  xml_arena* arena_ = nullptr;  // null for a node made with new
  xml_name name_;
  attribute_map attributes_;
  std::pmr::vector<xml_node*> children_;
  xml_pieces pieces_;
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
  // Replaces the root with a new element whose tree comes from one block of
  // this document, as the readers build it; returns the root.
  xml_node* new_root(std::string_view name);
  // Hands the root over to the caller, who deletes it (a tree a reader built
  // is copied out first, since its block stays with the document).
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
  friend class xml_tree_builder;
  xml_node* new_bare_root(std::string_view name);

  xml_node* root_ = nullptr;
  xml_arena* arena_ = nullptr;  // the block of a tree a reader built
};
