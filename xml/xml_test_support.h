// Fixtures of the XML tests: files over memory and a compact dump of a tree.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/file_object.h"
#include "xml/xml_node.h"

namespace xml_test {

// Hands out at most `slice` bytes per read, as an inflating reader may.
class bytes_file final : public i_file {
 public:
  explicit bytes_file(std::string data, std::uint32_t slice = 0xFFFFFFFFu) : data_(std::move(data)), slice_(slice) {}
  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad()) return;
    std::size_t n = std::min<std::size_t>({length, slice_, data_.size() - pos_});
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    count = static_cast<std::uint32_t>(n);
    ++reads;
  }
  std::size_t position() const { return pos_; }
  int reads = 0;

 private:
  std::string data_;
  std::uint32_t slice_;
  std::size_t pos_ = 0;
};

// Takes up to `capacity` bytes; a fuller write is cut short, as on a full disk.
class sink_file final : public o_file {
 public:
  explicit sink_file(std::size_t capacity = static_cast<std::size_t>(-1)) : capacity_(capacity) {}
  void write(const void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad()) return;
    std::size_t n = std::min<std::size_t>(length, capacity_ - data.size());
    data.append(static_cast<const char*>(buffer), n);
    count = static_cast<std::uint32_t>(n);
  }
  void flush() override { ++flushes; }
  std::string data;
  int flushes = 0;

 private:
  std::size_t capacity_;
};

inline std::string utf8(const std::u16string& s) { return FX::FXWString(s).toUtf8(); }

// name{a=v,b=w}["piece",child,"piece"] with pieces in UTF-8 and control
// characters as \xNN; a null node is "-".
inline std::string dump(const xml_node* n) {
  if (!n) return "-";
  auto quote = [](const std::u16string& s) {
    std::string out = "\"";
    for (char c : utf8(s)) {
      if (static_cast<unsigned char>(c) < 0x20) {
        char b[8];
        std::snprintf(b, sizeof b, "\\x%02X", static_cast<unsigned char>(c));
        out += b;
      } else {
        out += c;
      }
    }
    return out + "\"";
  };
  std::string out = n->name();
  if (!n->attributes().empty()) {
    out += '{';
    bool first = true;
    for (const auto& [k, v] : n->attributes()) {
      if (!first) out += ',';
      first = false;
      out += k + "=" + quote(v);
    }
    out += '}';
  }
  out += '[';
  for (std::size_t i = 0; i < n->pieces().size(); ++i) {
    if (i) out += ',' + (i - 1 < n->children().size() ? dump(n->children()[i - 1]) : std::string("?")) + ',';
    out += quote(n->pieces()[i]);
  }
  return out + ']';
}

inline std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s += static_cast<char>(v);
  return s;
}

}  // namespace xml_test
