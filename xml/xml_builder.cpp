#include "xml/xml_builder.h"

#include <algorithm>

xml_tree_builder::frame& xml_tree_builder::push(xml_node* node) {
  if (frames_.size() == depth_) frames_.emplace_back();
  frame& f = frames_[depth_++];
  f.node = node;
  f.attribute_count = 0;
  f.children.clear();
  f.piece_count = 1;
  if (f.pieces.empty()) f.pieces.emplace_back();
  f.pieces[0].clear();
  return f;
}

void xml_tree_builder::open_existing(xml_node* node) { push(node); }

xml_node* xml_tree_builder::open(std::string_view name) {
  xml_node* node;
  if (depth_ == 0) {
    node = doc_->new_bare_root(name);
  } else {
    frame& parent = frames_[depth_ - 1];
    node = xml_node::make_bare(name, parent.node->arena_);
    node->parent_ = parent.node;
    parent.children.push_back(node);
    if (parent.pieces.size() == parent.piece_count) parent.pieces.emplace_back();
    parent.pieces[parent.piece_count++].clear();
  }
  push(node);
  return node;
}

bool xml_tree_builder::has_attribute(std::string_view name) const {
  const frame& f = frames_[depth_ - 1];
  if (f.node->attributes_.find(name) != f.node->attributes_.end()) return true;
  const auto end = f.attributes.begin() + static_cast<std::ptrdiff_t>(f.attribute_count);
  const auto at = std::lower_bound(f.attributes.begin(), end, name, [](const auto& a, std::string_view n) { return a.first < n; });
  return at != end && at->first == name;
}

bool xml_tree_builder::attribute(std::string_view name, std::u16string_view value) {
  frame& f = frames_[depth_ - 1];
  if (f.node->attributes_.find(name) != f.node->attributes_.end()) return false;
  const auto begin = f.attributes.begin();
  const auto end = begin + static_cast<std::ptrdiff_t>(f.attribute_count);
  // Names mostly come in order: the end is checked first.
  auto at = f.attribute_count == 0 || std::string_view(f.attributes[f.attribute_count - 1].first) < name
                ? end
                : std::lower_bound(begin, end, name, [](const auto& a, std::string_view n) { return a.first < n; });
  if (at != end && at->first == name) return false;
  // The slot past the used ones is reused for the new entry, then rotated in.
  const auto index = static_cast<std::size_t>(at - begin);
  if (f.attributes.size() == f.attribute_count) f.attributes.emplace_back();
  auto& slot = f.attributes[f.attribute_count];
  slot.first.assign(name);
  slot.second.assign(value);
  std::rotate(f.attributes.begin() + static_cast<std::ptrdiff_t>(index),
              f.attributes.begin() + static_cast<std::ptrdiff_t>(f.attribute_count),
              f.attributes.begin() + static_cast<std::ptrdiff_t>(f.attribute_count + 1));
  ++f.attribute_count;
  return true;
}

std::u16string& xml_tree_builder::current_piece() {
  frame& f = frames_[depth_ - 1];
  return f.pieces[f.piece_count - 1];
}

void xml_tree_builder::close() {
  frame& f = frames_[--depth_];
  xml_node* n = f.node;
  if (f.attribute_count != 0) {
    auto& list = n->attributes_.list_;
    if (list.empty()) {
      list.reserve(f.attribute_count);
      for (std::size_t i = 0; i < f.attribute_count; ++i)
        list.emplace_back(std::piecewise_construct, std::forward_as_tuple(f.attributes[i].first),
                          std::forward_as_tuple(f.attributes[i].second));
    } else {
      for (std::size_t i = 0; i < f.attribute_count; ++i)
        n->attributes_.emplace(f.attributes[i].first, f.attributes[i].second);
    }
  }
  n->children_.reserve(n->children_.size() + f.children.size());
  n->children_.insert(n->children_.end(), f.children.begin(), f.children.end());
  // A node that had pieces already continues its last one.
  std::size_t first = 0;
  if (!n->pieces_.empty()) {
    n->pieces_.back() += f.pieces[0];
    first = 1;
  }
  n->pieces_.reserve(n->pieces_.size() + f.piece_count - first);
  for (std::size_t i = first; i < f.piece_count; ++i) n->pieces_.emplace_back(f.pieces[i]);
  f.node = nullptr;
}
