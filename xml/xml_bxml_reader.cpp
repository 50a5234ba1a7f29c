// Binary XML: "BXML", a version byte, a byte that is not interpreted, then
// the root element. Integers are unsigned LEB128; names are declared on their
// first use (id, length, bytes) and referred to by id afterwards.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/text_convert.h"
#include "files/file_object.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"
#include "xml/xml_utf8.h"

xml_reader_interface::~xml_reader_interface() = default;
void xml_reader_interface::start_document() {}
void xml_reader_interface::end_document() {}
void xml_reader_interface::start_element(const std::string&) {}
void xml_reader_interface::end_element() {}
void xml_reader_interface::attribute(const std::string&, const std::u16string&) {}
void xml_reader_interface::text(const std::u16string&) {}
void xml_reader_interface::narrow_text(const std::string&) {}

namespace {

// The input of one document, taken in blocks, so that a document of many
// small items costs one file read per block rather than one per byte, and a
// file that hands out fewer bytes than asked for is read on. The read-ahead
// past the root element is never interpreted. The end of the file leaves it
// Bad with 0x40002; nothing is read once it is Bad.
class block_input {
 public:
  explicit block_input(i_file& in) : in_(in), good_(in.Good()) {}

  bool good() const { return good_; }
  void raise(std::uint64_t site, std::uint32_t code) {
    if (good_ && in_.Good()) in_.raise(site, code);
    good_ = false;
  }
  // The unread bytes in the current block.
  std::size_t available() const { return static_cast<std::size_t>(end_ - next_); }
  const char* next() const { return next_; }
  void skip(std::size_t n) { next_ += n; }

  // Makes at least one unread byte available; false (the file Bad) at the end.
  bool fill() {
    if (!good_) return false;
    if (!buffer_) buffer_.reset(new char[block]);
    std::uint32_t count = 0;
    if (in_.Good()) in_.read(buffer_.get(), block, count);
    if (count == 0) {
      raise(KV_SITE, fs_error::end_of_file);  // a read error stays as it is
      return false;
    }
    next_ = buffer_.get();
    end_ = next_ + count;
    return true;
  }

  std::uint8_t read_byte() {
    if (next_ == end_ && !fill()) return 0;
    return static_cast<std::uint8_t>(*next_++);
  }

 private:
  static constexpr std::uint32_t block = 64 * 1024;

  i_file& in_;
  std::unique_ptr<char[]> buffer_;
  const char* next_ = nullptr;
  const char* end_ = nullptr;
  bool good_;
};

// Shared part of the two element forms. A truncated input leaves the file Bad
// with 0x40002, malformed structure stores 0x4000d.
class xml_reader_core {
 public:
  xml_reader_core(block_input& in, xml_reader_interface& sink) : in_(in), sink_(sink) {}
  virtual ~xml_reader_core() = default;
  virtual void read_element() = 0;

 protected:
  bool good() const { return in_.good(); }
  void corrupt(std::uint64_t site) { in_.raise(site, fs_error::corrupted); }
  std::uint8_t read_byte() { return in_.read_byte(); }

  // At most five bytes; a value that does not fit 32 bits is malformed.
  std::uint32_t read_varint() {
    std::uint32_t value = 0;
    for (int i = 0; i < 5; ++i) {
      const std::uint8_t b = read_byte();
      if (!good()) return 0;
      if (i == 4 && b > 0x0F) {
        corrupt(KV_SITE);
        return 0;
      }
      value |= static_cast<std::uint32_t>(b & 0x7F) << (7 * i);
      if (!(b & 0x80)) return value;
    }
    return value;
  }

  // n bytes; a huge length in a short file costs no more memory than the
  // file holds, since the bytes are appended as they come.
  void read_bytes(std::string& out, std::uint32_t n) {
    out.clear();
    while (n > 0 && good()) {
      if (in_.available() == 0 && !in_.fill()) break;
      const std::uint32_t part = static_cast<std::uint32_t>(std::min<std::size_t>(n, in_.available()));
      out.append(in_.next(), part);
      in_.skip(part);
      n -= part;
    }
    if (!good()) out.clear();
  }

  // Decoded straight from the block when the bytes lie in it.
  std::u16string read_utf8(std::uint32_t n) {
    std::u16string text;
    if (n == 0 || !good()) return text;
    if (n <= in_.available()) {
      text.reserve(n);
      xml_utf8::decode(text, in_.next(), n);
      in_.skip(n);
      return text;
    }
    std::string bytes;
    read_bytes(bytes, n);
    if (!good()) return text;
    text.reserve(bytes.size());
    xml_utf8::decode(text, bytes.data(), bytes.size());
    return text;
  }

  // The rest of a name reference whose id has been read.
  const std::string& name_of(std::uint32_t id) {
    auto it = names_.find(id);
    if (it != names_.end()) return it->second;
    const std::uint32_t n = read_varint();
    std::string name;
    read_bytes(name, n);
    if (!good()) return empty_;
    return names_.emplace(id, std::move(name)).first->second;
  }

  block_input& in_;
  xml_reader_interface& sink_;
  std::map<std::uint32_t, std::string> names_;
  const std::string empty_;
};

// Version 1: name, one byte of attribute count, the attributes, the number
// of text pieces p, the first piece, then p - 1 times a child and a piece.
class xml_reader_binary_old final : public xml_reader_core {
 public:
  using xml_reader_core::xml_reader_core;

  void read_element() override {
    // Children still to come per open element, innermost last.
    std::vector<std::uint32_t> open;
    if (!open_element(open)) return;
    while (!open.empty() && good()) {
      if (open.back() == 0) {
        sink_.end_element();
        open.pop_back();
        if (!open.empty()) read_piece();
        continue;
      }
      if (open.size() >= xml_max_depth) {
        corrupt(KV_SITE);
        return;
      }
      --open.back();
      if (!open_element(open)) return;
    }
  }

 private:
  bool open_element(std::vector<std::uint32_t>& open) {
    const std::string& name = name_of(read_varint());
    if (!good()) return false;
    sink_.start_element(name);
    const unsigned count = read_byte();
    for (unsigned i = 0; i < count && good(); ++i) {
      const std::string& attr = name_of(read_varint());
      std::u16string value = read_utf8(read_varint());
      if (good()) sink_.attribute(attr, value);
    }
    const std::uint32_t pieces = read_varint();
    if (!good()) return false;
    if (pieces == 0) {  // there is always at least the text before any child
      corrupt(KV_SITE);
      return false;
    }
    read_piece();
    open.push_back(pieces - 1);
    return good();
  }

  void read_piece() {
    std::u16string text = read_utf8(read_varint());
    if (good()) sink_.text(text);
  }
};

// Version 2: name (id 0: no element), attributes up to an id of 0, a text
// item, then children each followed by a text item, up to an id of 0.
// Text items with the low bit set hold 8-bit text.
class xml_reader_binary_new final : public xml_reader_core {
 public:
  using xml_reader_core::xml_reader_core;

  void read_element() override {
    std::uint32_t id = read_varint();
    if (!good() || id == 0) return;
    std::size_t depth = 0;
    open_element(id);
    ++depth;
    while (depth > 0 && good()) {
      id = read_varint();
      if (!good()) return;
      if (id == 0) {
        sink_.end_element();
        if (--depth > 0) read_text_item();
        continue;
      }
      if (depth >= xml_max_depth) {
        corrupt(KV_SITE);
        return;
      }
      open_element(id);
      ++depth;
    }
  }

 private:
  void open_element(std::uint32_t id) {
    const std::string& name = name_of(id);
    if (!good()) return;
    sink_.start_element(name);
    for (;;) {
      const std::uint32_t attr_id = read_varint();
      if (!good() || attr_id == 0) break;
      const std::string& attr = name_of(attr_id);
      std::u16string value = read_utf8(read_varint() >> 1);
      if (good()) sink_.attribute(attr, value);
    }
    read_text_item();
  }

  void read_text_item() {
    const std::uint32_t t = read_varint();
    if (!good()) return;
    if (t & 1) {
      std::string bytes;
      read_bytes(bytes, t >> 1);
      if (good()) sink_.narrow_text(bytes);
    } else {
      std::u16string text = read_utf8(t >> 1);
      if (good()) sink_.text(text);
    }
  }
};

}  // namespace

bool xml_reader_interface::parse_bxml(i_file& in) {
  block_input input(in);
  const std::uint8_t version = input.read_byte();
  input.read_byte();  // not interpreted
  if (!input.good()) return false;
  xml_reader_binary_old old_form(input, *this);
  xml_reader_binary_new new_form(input, *this);
  xml_reader_core* reader = nullptr;
  if (version == 1)
    reader = &old_form;
  else if (version == 2)
    reader = &new_form;
  if (!reader) {
    input.raise(KV_SITE, fs_error::corrupted);
    return false;
  }
  start_document();
  reader->read_element();
  end_document();
  return in.Good();
}
