// Builds element trees for the readers. Each open element gathers its
// attributes, children and text pieces in reused buffers; when it closes,
// they go into the node with exact sizes, so a reader's tree is laid out once
// in its document's block, with nothing grown, moved or left behind there.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml/xml_node.h"

class xml_tree_builder {
 public:
  // Opened elements without a parent become `doc`'s root (doc may be null
  // when only open_existing is used).
  explicit xml_tree_builder(xml_document* doc) : doc_(doc) {}
  xml_tree_builder(const xml_tree_builder&) = delete;
  xml_tree_builder& operator=(const xml_tree_builder&) = delete;
  // Closes what is still open, so no node is left half filled.
  ~xml_tree_builder() { finish(); }

  // Continues filling a node that exists already.
  void open_existing(xml_node* node);
  // A new element: a child of the innermost open one, else the new root.
  xml_node* open(std::string_view name);
  bool has_attribute(std::string_view name) const;
  // False when the element has that attribute already (the first value stays).
  bool attribute(std::string_view name, std::u16string_view value);
  void append_text(std::u16string_view text) { current_piece() += text; }
  void replace_text(std::u16string_view text) { current_piece().assign(text); }
  std::u16string& current_piece();
  // The innermost open element is complete.
  void close();
  void finish() {
    while (!frames_.empty() && depth_ > 0) close();
  }
  std::size_t depth() const { return depth_; }
  xml_node* top() const { return depth_ ? frames_[depth_ - 1].node : nullptr; }

 private:
  struct frame {
    xml_node* node = nullptr;
    std::vector<std::pair<std::string, std::u16string>> attributes;  // in name order
    std::size_t attribute_count = 0;
    std::vector<xml_node*> children;
    std::vector<std::u16string> pieces;
    std::size_t piece_count = 0;
  };
  frame& push(xml_node* node);

  xml_document* doc_;
  std::vector<frame> frames_;  // [0, depth_) open; the rest keep their buffers
  std::size_t depth_ = 0;
};
