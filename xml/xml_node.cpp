#include "xml/xml_node.h"

#include <cstring>
#include <utility>

const FX::FXWString& xml_attribute::fx_text() const {
  if (!fx_) fx_ = std::make_unique<FX::FXWString>(*value_);
  return *fx_;
}

std::string xml_attribute::narrow_text() const {
  std::string out(value_->size(), '\0');
  for (std::size_t i = 0; i < value_->size(); ++i) out[i] = static_cast<char>((*value_)[i] & 0xFF);
  return out;
}

const xml_attribute& xml_attribute_iterator::operator*() const {
  if (!view_) view_ = std::make_unique<xml_attribute>(&it_->second);
  return *view_;
}

xml_node::xml_node(std::string name) : name_(std::move(name)), pieces_(1) {}

xml_node::xml_node(const xml_node& other, shallow_tag)
    : name_(other.name_), attributes_(other.attributes_), pieces_(other.pieces_) {}

// Copies and deletes walk the tree with an explicit stack, so a deep tree
// cannot exhaust the call stack.
xml_node::xml_node(const xml_node& other) : xml_node(other, shallow_tag{}) {
  try {
    std::vector<std::pair<const xml_node*, xml_node*>> work{{&other, this}};
    while (!work.empty()) {
      auto [from, to] = work.back();
      work.pop_back();
      to->children_.reserve(from->children_.size());
      for (const xml_node* child : from->children_) {
        auto* copy = new xml_node(*child, shallow_tag{});
        copy->parent_ = to;
        to->children_.push_back(copy);
        work.emplace_back(child, copy);
      }
    }
  } catch (...) {
    delete_children(this);
    throw;
  }
}

xml_node::~xml_node() { delete_children(this); }

void xml_node::delete_children(xml_node* node) noexcept {
  std::vector<xml_node*> doomed;
  doomed.swap(node->children_);
  while (!doomed.empty()) {
    xml_node* n = doomed.back();
    doomed.pop_back();
    // Moving the grandchildren out first keeps each delete from recursing.
    doomed.insert(doomed.end(), n->children_.begin(), n->children_.end());
    n->children_.clear();
    delete n;
  }
}

xml_node* xml_node::find_child(const char* name) const {
  for (xml_node* c : children_)
    if (c->name_ == name) return c;
  return nullptr;
}

void xml_node::insert_child(std::size_t position, xml_node* child) {
  if (position > pieces_.size()) position = pieces_.size();
  std::size_t index = position == 0 ? 0 : position - 1;
  if (index > children_.size()) index = children_.size();
  children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(index), child);
  child->parent_ = this;
  pieces_.insert(pieces_.begin() + static_cast<std::ptrdiff_t>(position), std::u16string());
}

xml_node* xml_node::find_child_by_attribute(const char* child, const char* attribute,
                                            const FX::FXWString& value) const {
  for (xml_node* c : children_) {
    if (c->name_ != child) continue;
    auto it = c->attributes_.find(attribute);
    if (it != c->attributes_.end() && it->second == value.str()) return c;
  }
  return nullptr;
}

FX::FXWString xml_node::text() const {
  std::size_t total = 0;
  for (const auto& p : pieces_) total += p.size();
  std::u16string all;
  all.reserve(total);
  for (const auto& p : pieces_) all += p;
  return FX::FXWString(std::move(all));
}

xml_attribute_iterator xml_node::find_attribute(const char* name) const {
  return xml_attribute_iterator(attributes_.find(name));
}

std::string xml_node::attribute_string(const char* name, const char* default_value) const {
  auto it = attributes_.find(name);
  if (it == attributes_.end()) return default_value ? std::string(default_value) : std::string();
  return xml_attribute(&it->second).narrow_text();
}

FX::FXWString xml_node::attribute_text(const char* name, const FX::FXWString& default_value) const {
  auto it = attributes_.find(name);
  return it == attributes_.end() ? default_value : FX::FXWString(it->second);
}

std::uint32_t xml_node::attribute_uint(const char* name, std::uint32_t default_value) const {
  auto it = attributes_.find(name);
  return it == attributes_.end() ? default_value : FX::FXUIntVal(FX::FXWString(it->second), 10);
}

std::uint32_t xml_node::attribute_flags(const char* name, const xml_flag* table,
                                        std::uint32_t default_value) const {
  auto it = attributes_.find(name);
  if (it == attributes_.end()) return default_value;
  const std::string text = xml_attribute(&it->second).narrow_text();
  std::uint32_t result = 0;
  std::size_t p = 0;
  for (;;) {
    // A token starts at p and its separator is looked for from p + 1 on, so a
    // comma at p belongs to the token; the end of the text gives an empty one.
    if (p >= text.size()) break;
    std::size_t sep = text.find(',', p + 1);
    std::string token = text.substr(p, sep == std::string::npos ? std::string::npos : sep - p);
    p = sep == std::string::npos ? text.size() : sep + 1;
    std::string bare;
    for (char c : token)
      if (c != ' ') bare += c;
    for (const xml_flag* f = table; f && f->value != 0; ++f) {
      if (f->name && bare == f->name) {
        result |= f->value;
        break;
      }
    }
  }
  return result;
}

// ---------------------------------------------------------------- document

xml_document::xml_document(const xml_document& other) : root_(other.root_ ? new xml_node(*other.root_) : nullptr) {}

xml_document& xml_document::operator=(const xml_document& other) {
  if (this != &other) set_root(other.root_ ? new xml_node(*other.root_) : nullptr);
  return *this;
}

xml_document::~xml_document() { delete root_; }

void xml_document::set_root(xml_node* root) {
  if (root == root_) return;
  delete root_;
  root_ = root;
}

xml_node* xml_document::release_root() {
  xml_node* r = root_;
  root_ = nullptr;
  return r;
}
