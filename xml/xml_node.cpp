#include "xml/xml_node.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <utility>

// The block a reader builds a document in. A node made with new and
// inserted into such a tree is adopted: it is deleted when the block goes.
//
// Memory comes in blocks, cut off in order and never given back one by one.
// A small document takes small blocks, which the C library serves again from
// memory it already has; blocks double up to 1 MiB. A large document goes on
// in blocks of 2 MiB and more, mapped on 2 MiB boundaries and offered to the
// kernel as huge pages: a tree of a few hundred MB then costs a few hundred
// page faults instead of tens of thousands.
class block_memory final : public std::pmr::memory_resource {
 public:
  block_memory() = default;
  block_memory(const block_memory&) = delete;
  block_memory& operator=(const block_memory&) = delete;
  ~block_memory() override {
    for (const block& b : blocks_) {
      if (b.mapped)
        ::munmap(b.at, b.size);
      else
        ::operator delete(b.at);
    }
  }

 private:
  static constexpr std::size_t largest_small_block = std::size_t{1} << 20;
  static constexpr std::size_t huge_page = std::size_t{2} << 20;
  static constexpr std::size_t largest_block = std::size_t{32} << 20;

  struct block {
    void* at;
    std::size_t size;
    bool mapped;
  };

  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    std::size_t pad = (alignment - reinterpret_cast<std::uintptr_t>(next_) % alignment) % alignment;
    if (!next_ || bytes + pad > left_) {
      // A large request gets a block of its own; the current one goes on.
      if (bytes > block_size_ / 4) return own_block(bytes);
      next_ = static_cast<char*>(block_size_ > largest_small_block ? mapped_block(block_size_) : nullptr);
      if (!next_) next_ = static_cast<char*>(own_block(block_size_));
      left_ = block_size_;
      if (block_size_ < largest_block) block_size_ *= 2;
      pad = 0;
    }
    char* p = next_ + pad;
    next_ = p + bytes;
    left_ -= pad + bytes;
    return p;
  }
  void do_deallocate(void*, std::size_t, std::size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

  void* own_block(std::size_t bytes) {
    blocks_.reserve(blocks_.size() + 1);
    void* b = ::operator new(bytes);  // aligned for any fundamental type
    blocks_.push_back({b, bytes, false});
    return b;
  }

  // A block on a huge-page boundary, or null (the caller takes one from the
  // C library instead).
  void* mapped_block(std::size_t bytes) {
    blocks_.reserve(blocks_.size() + 1);
    const std::size_t span = bytes + huge_page;
    void* m = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return nullptr;
    char* start = static_cast<char*>(m);
    char* at = start + (huge_page - reinterpret_cast<std::uintptr_t>(start) % huge_page) % huge_page;
    if (at > start) ::munmap(start, static_cast<std::size_t>(at - start));
    char* end = at + bytes;
    if (end < start + span) ::munmap(end, static_cast<std::size_t>(start + span - end));
#ifdef MADV_HUGEPAGE
    ::madvise(at, bytes, MADV_HUGEPAGE);
#endif
    blocks_.push_back({at, bytes, true});
    return at;
  }

  std::vector<block> blocks_;
  char* next_ = nullptr;
  std::size_t left_ = 0;
  std::size_t block_size_ = std::size_t{4} << 10;
};

struct xml_arena {
  block_memory memory;
  std::vector<xml_node*> adopted;
  ~xml_arena() {
    for (xml_node* n : adopted) delete n;
  }
};

// ---------------------------------------------------------------- attributes

xml_attribute_list::iterator xml_attribute_list::lower_bound(std::string_view name) {
  // Readers mostly meet names in order: the end is checked first.
  if (list_.empty() || std::string_view(list_.back().first) < name) return list_.end();
  return std::lower_bound(list_.begin(), list_.end(), name,
                          [](const value_type& a, std::string_view n) { return std::string_view(a.first) < n; });
}

xml_attribute_list::iterator xml_attribute_list::find(std::string_view name) {
  auto it = lower_bound(name);
  return it != list_.end() && std::string_view(it->first) == name ? it : list_.end();
}

xml_attribute_list::const_iterator xml_attribute_list::find(std::string_view name) const {
  return const_cast<xml_attribute_list*>(this)->find(name);
}

std::pair<xml_attribute_list::iterator, bool> xml_attribute_list::emplace(std::string_view name,
                                                                          std::u16string_view value) {
  auto it = lower_bound(name);
  if (it != list_.end() && std::string_view(it->first) == name) return {it, false};
  it = list_.emplace(it, std::piecewise_construct, std::forward_as_tuple(name), std::forward_as_tuple(value));
  return {it, true};
}

const FX::FXWString& xml_attribute::fx_text() const {
  if (!fx_) fx_ = std::make_unique<FX::FXWString>(std::u16string_view(*value_));
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

// ---------------------------------------------------------------- node

xml_node::xml_node(std::string_view name) : xml_node(name, nullptr) {}

xml_node::xml_node(std::string_view name, xml_arena* arena)
    : arena_(arena),
      name_(name, arena ? &arena->memory : std::pmr::get_default_resource()),
      attributes_(arena ? &arena->memory : std::pmr::get_default_resource()),
      children_(arena ? &arena->memory : std::pmr::get_default_resource()),
      pieces_(1, arena ? &arena->memory : std::pmr::get_default_resource()) {}

xml_node::xml_node(std::string_view name, xml_arena* arena, bare_tag)
    : arena_(arena),
      name_(name, arena ? &arena->memory : std::pmr::get_default_resource()),
      attributes_(arena ? &arena->memory : std::pmr::get_default_resource()),
      children_(arena ? &arena->memory : std::pmr::get_default_resource()),
      pieces_(arena ? &arena->memory : std::pmr::get_default_resource()) {}

xml_node* xml_node::make_bare(std::string_view name, xml_arena* arena) {
  if (!arena) return new xml_node(name, nullptr, bare_tag{});
  void* place = arena->memory.allocate(sizeof(xml_node), alignof(xml_node));
  return new (place) xml_node(name, arena, bare_tag{});
}

xml_node* xml_node::make(std::string_view name, xml_arena* arena) {
  if (!arena) return new xml_node(name);
  void* place = arena->memory.allocate(sizeof(xml_node), alignof(xml_node));
  return new (place) xml_node(name, arena);
}

xml_node::xml_node(const xml_node& other, shallow_tag)
    : name_(other.name_), attributes_(other.attributes_), children_(), pieces_(other.pieces_) {}

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

// A node of a reader's block owns nothing on its own: the block goes whole.
xml_node::~xml_node() {
  if (!arena_) delete_children(this);
}

void xml_node::delete_children(xml_node* node) noexcept {
  std::vector<xml_node*> doomed(node->children_.begin(), node->children_.end());
  node->children_.clear();
  while (!doomed.empty()) {
    xml_node* n = doomed.back();
    doomed.pop_back();
    if (n->arena_) continue;  // not this tree's to free
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

xml_node* xml_node::new_child(std::string_view name) {
  xml_node* child = make(name, arena_);
  if (arena_) {
    // Appended directly: a new child of a block is never adopted.
    children_.push_back(child);
    child->parent_ = this;
    pieces_.emplace_back();
    return child;
  }
  append_child(child);
  return child;
}

void xml_node::insert_child(std::size_t position, xml_node* child) {
  if (arena_ && !child->arena_) arena_->adopted.push_back(child);
  if (position > pieces_.size()) position = pieces_.size();
  std::size_t index = position == 0 ? 0 : position - 1;
  if (index > children_.size()) index = children_.size();
  children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(index), child);
  child->parent_ = this;
  pieces_.emplace(pieces_.begin() + static_cast<std::ptrdiff_t>(position));
}

xml_node* xml_node::find_child_by_attribute(const char* child, const char* attribute,
                                            const FX::FXWString& value) const {
  for (xml_node* c : children_) {
    if (c->name_ != child) continue;
    auto it = c->attributes_.find(attribute);
    if (it != c->attributes_.end() && std::u16string_view(it->second) == value.str()) return c;
  }
  return nullptr;
}

FX::FXWString xml_node::text() const {
  std::size_t total = 0;
  for (const auto& p : pieces_) total += p.size();
  std::u16string all;
  all.reserve(total);
  for (const auto& p : pieces_) all += std::u16string_view(p);
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
  return it == attributes_.end() ? default_value : FX::FXWString(std::u16string_view(it->second));
}

std::uint32_t xml_node::attribute_uint(const char* name, std::uint32_t default_value) const {
  auto it = attributes_.find(name);
  return it == attributes_.end() ? default_value : FX::FXUIntVal(FX::FXWString(std::u16string_view(it->second)), 10);
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

xml_document::~xml_document() { set_root(nullptr); }

void xml_document::set_root(xml_node* root) {
  if (root == root_) return;
  xml_node* old = root_;
  xml_arena* block = arena_;
  root_ = root;
  arena_ = nullptr;
  if (old && !old->arena_) delete old;
  delete block;  // a reader's tree: a few blocks, not a free per node
}

xml_node* xml_document::new_root(std::string_view name) {
  set_root(nullptr);
  auto* block = new xml_arena;
  root_ = xml_node::make(name, block);
  arena_ = block;
  return root_;
}

xml_node* xml_document::new_bare_root(std::string_view name) {
  set_root(nullptr);
  auto* block = new xml_arena;
  root_ = xml_node::make_bare(name, block);
  arena_ = block;
  return root_;
}

xml_node* xml_document::release_root() {
  xml_node* r = root_;
  if (r && r->arena_) {
    r = new xml_node(*r);
    set_root(nullptr);
    return r;
  }
  root_ = nullptr;
  return r;
}
