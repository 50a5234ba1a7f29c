// The byte form of an error chain and the record kind that rebuilds it.
// All integers are little-endian, unaligned; texts are UTF-8 with a NUL.
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/text_convert.h"
#include "platform/win32/windows.h"

namespace Common {

namespace {

constexpr std::uint8_t serialVersion = 0x01;
constexpr char moduleField[] = "$module";
constexpr std::size_t maxModulePath = 260;

// ---- Writer -----------------------------------------------------------------

// Grows to one and a half times its capacity, or to what is needed when that
// is more. A failed growth poisons it: everything after is ignored and the
// writer hands back nothing.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer() { delete[] data_; }

  void append(const void* bytes, std::size_t n) {
    if (failed_ || !reserve(size_ + n)) return;
    if (n) std::memcpy(data_ + size_, bytes, n);
    size_ += n;
  }
  void appendByte(std::uint8_t b) { append(&b, 1); }
  void appendU32(std::uint32_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    append(b, 4);
  }
  void appendU64(std::uint64_t v) {
    appendU32(static_cast<std::uint32_t>(v));
    appendU32(static_cast<std::uint32_t>(v >> 32));
  }
  void appendText(std::string_view text) {  // the bytes and a NUL
    append(text.data(), text.size());
    appendByte(0);
  }

  // Hands the array to the caller; null when any append failed.
  std::uint8_t* release(std::size_t& length) {
    if (failed_) {
      length = 0;
      return nullptr;
    }
    length = size_;
    std::uint8_t* out = data_;
    data_ = nullptr;
    return out;
  }

 private:
  bool reserve(std::size_t needed) {
    if (needed <= capacity_) return true;
    std::size_t grown = capacity_ + capacity_ / 2;
    if (grown < needed) grown = needed;
    auto* bigger = errorRecordAllocationFails() ? nullptr : new (std::nothrow) std::uint8_t[grown];
    if (!bigger) {
      // Nothing partial goes out.
      delete[] data_;
      data_ = nullptr;
      size_ = capacity_ = 0;
      failed_ = true;
      return false;
    }
    if (size_) std::memcpy(bigger, data_, size_);
    delete[] data_;
    data_ = bigger;
    capacity_ = grown;
    return true;
  }

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool failed_ = false;
};

std::string utf8(const char16_t* text, std::ptrdiff_t units = -1) {
  std::string out;
  toUtf8(out, text, units);
  return out;
}

std::string modulePathUtf8() {
  WCHAR path[maxModulePath];
  const DWORD n = GetModuleFileNameW(nullptr, path, maxModulePath);
  const DWORD units = n < maxModulePath ? n : maxModulePath;
  return utf8(reinterpret_cast<const char16_t*>(path), units);
}

void writeRecord(ByteBuffer& out, const ErrorRecord* r, bool& moduleWritten) {
  out.appendU32(r->code);
  out.appendU32(static_cast<std::uint32_t>(r->site));
  out.appendU32(static_cast<std::uint32_t>(r->site >> 32));
  std::u16string own;
  r->ops->text(r, own);
  out.appendText(utf8(own.c_str()));

  const std::string_view names = r->ops->fieldNames(r) ? r->ops->fieldNames(r) : "";
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t end = names.find(',', start);
    if (end == std::string_view::npos) end = names.size();
    const std::string name(names.substr(start, end - start));
    start = end + 1;
    if (name.empty()) continue;
    out.appendText(name);
    if (name == moduleField) moduleWritten = true;
    if (const char* narrow = r->ops->narrowField(r, name.c_str())) {
      out.appendByte('A');
      out.appendText(narrow);
    } else if (const char16_t* wide = r->ops->wideField(r, name.c_str())) {
      out.appendByte('W');
      out.appendText(utf8(wide));
    } else {
      out.appendByte('N');
      out.appendU64(r->ops->numberField(r, name.c_str()));
    }
  }
  if (!moduleWritten) {
    out.appendText(moduleField);
    out.appendByte('W');
    out.appendText(modulePathUtf8());
    moduleWritten = true;
  }
  out.appendByte(0);
}

// ---- Deserialised kind --------------------------------------------------------
//
// Block: header; slot 0 = offset of the name list; slots 1..n = offsets of the
// field values; then the own text (UTF-16, NUL), the names joined by ',' with
// a NUL, and per field its tag byte right before its value ('A' bytes and NUL,
// 'W' UTF-16 and NUL, 'N' eight bytes). Wide values start on an even offset so
// that they can be read in place.

const char* readNames(const ErrorRecord* r) {
  return reinterpret_cast<const char*>(r) + r->fieldSlots()[0];
}

// The value of the named field with the given tag, or null.
const unsigned char* readField(const ErrorRecord* r, const char* name, char tag) {
  if (!name || !*name) return nullptr;
  const std::string_view wanted(name);
  const std::string_view names(readNames(r));
  // An empty list names no field: "" must not match its one empty entry.
  if (names.empty()) return nullptr;
  std::size_t start = 0, index = 0;
  while (start <= names.size()) {
    std::size_t end = names.find(',', start);
    if (end == std::string_view::npos) end = names.size();
    if (names.substr(start, end - start) == wanted) {
      const auto* value = reinterpret_cast<const unsigned char*>(r) + r->fieldSlots()[1 + index];
      return value[-1] == static_cast<unsigned char>(tag) ? value : nullptr;
    }
    start = end + 1;
    ++index;
  }
  return nullptr;
}

std::uint64_t readNumber(const ErrorRecord* r, const char* name) {
  const unsigned char* v = readField(r, name, 'N');
  if (!v) return 0;
  std::uint64_t n;
  std::memcpy(&n, v, sizeof n);
  return n;
}
const char* readNarrow(const ErrorRecord* r, const char* name) {
  return reinterpret_cast<const char*>(readField(r, name, 'A'));
}
const char16_t* readWide(const ErrorRecord* r, const char* name) {
  return reinterpret_cast<const char16_t*>(readField(r, name, 'W'));
}

constexpr ErrorRecordOps deserialisedOps{freeErrorRecordBlock, cloneErrorRecord, wideSlotText, readNumber,
                                         readNarrow,           readWide,         readNames};

// ---- Reader -------------------------------------------------------------------

struct Reader {
  const std::uint8_t* data;
  std::size_t length;
  std::size_t pos;

  std::size_t left() const { return length - pos; }
  std::uint32_t u32(std::size_t at) const {
    return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
           static_cast<std::uint32_t>(data[at + 2]) << 16 | static_cast<std::uint32_t>(data[at + 3]) << 24;
  }
  // Index of the NUL that ends the text at `at`, or npos when the data ends first.
  std::size_t textEnd(std::size_t at) const {
    if (at >= length) return std::string_view::npos;
    const void* nul = std::memchr(data + at, 0, length - at);
    return nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : std::string_view::npos;
  }
};

struct ParsedField {
  std::string_view name;
  char tag;
  std::size_t value;  // start of the value in the data
  std::size_t end;    // after the value
  std::u16string wide;
};

// Reads one record at r.pos; null when the data stops being a record. On
// success r.pos is past the record's end byte.
ErrorRecord* readRecord(Reader& r) {
  const std::uint32_t code = r.u32(r.pos);
  if (code == 0) return nullptr;
  const std::uint64_t site = r.u32(r.pos + 4) | static_cast<std::uint64_t>(r.u32(r.pos + 8)) << 32;
  std::size_t at = r.pos + 12;
  const std::size_t textEnd = r.textEnd(at);
  if (textEnd == std::string_view::npos) return nullptr;
  std::u16string own;
  if (!fromUtf8(own, reinterpret_cast<const char*>(r.data + at), static_cast<std::ptrdiff_t>(textEnd - at)))
    return nullptr;
  at = textEnd + 1;

  std::vector<ParsedField> fields;
  std::string names;
  for (;;) {
    if (at >= r.length) return nullptr;  // the record's end byte is missing
    if (r.data[at] == 0) break;
    const std::size_t nameEnd = r.textEnd(at);
    if (nameEnd == std::string_view::npos || r.length - nameEnd < 2) return nullptr;
    ParsedField f;
    f.name = std::string_view(reinterpret_cast<const char*>(r.data + at), nameEnd - at);
    // A ',' inside a name would shift every later name against its value.
    if (f.name.find(',') != std::string_view::npos) return nullptr;
    f.tag = static_cast<char>(r.data[nameEnd + 1]);
    f.value = nameEnd + 2;
    if (f.tag == 'A' || f.tag == 'W') {
      const std::size_t valueEnd = r.textEnd(f.value);
      if (valueEnd == std::string_view::npos) return nullptr;
      f.end = valueEnd + 1;
      if (f.tag == 'W' && !fromUtf8(f.wide, reinterpret_cast<const char*>(r.data + f.value),
                                    static_cast<std::ptrdiff_t>(valueEnd - f.value)))
        return nullptr;
    } else if (f.tag == 'N') {
      if (r.length - f.value < 8) return nullptr;
      f.end = f.value + 8;
    } else {
      return nullptr;
    }
    if (!names.empty() || !fields.empty()) names.push_back(',');
    names.append(f.name);
    fields.push_back(std::move(f));
    at = fields.back().end;
  }

  // Lay the block out.
  const std::size_t slots = 1 + fields.size();
  std::size_t size = sizeof(ErrorRecord) + slots * sizeof(std::uintptr_t);
  const std::size_t textAt = size;
  size += (own.size() + 1) * sizeof(char16_t);
  const std::size_t namesAt = size;
  size += names.size() + 1;
  std::vector<std::size_t> valueAt(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const ParsedField& f = fields[i];
    if (f.tag == 'W' && (size + 1) % 2) ++size;  // keep the value after the tag byte even
    valueAt[i] = size + 1;
    size += 1 + (f.tag == 'W' ? (f.wide.size() + 1) * sizeof(char16_t) : f.end - f.value);
  }
  if (size > 0xFFFFFFFFu) return nullptr;
  void* block = allocateErrorRecordBlock(size);
  if (!block) return nullptr;
  std::memset(block, 0, size);
  auto* rec = new (block) ErrorRecord{};
  auto* base = static_cast<unsigned char*>(block);
  rec->count.store(0, std::memory_order_relaxed);
  rec->code = code;
  rec->cause = nullptr;
  rec->ops = &deserialisedOps;
  rec->site = site;
  rec->size = static_cast<std::uint32_t>(size);
  rec->textSlot = textAt;
  std::memcpy(base + textAt, own.c_str(), (own.size() + 1) * sizeof(char16_t));
  rec->fieldSlots()[0] = namesAt;
  std::memcpy(base + namesAt, names.c_str(), names.size() + 1);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const ParsedField& f = fields[i];
    rec->fieldSlots()[1 + i] = valueAt[i];
    base[valueAt[i] - 1] = static_cast<unsigned char>(f.tag);
    if (f.tag == 'W')
      std::memcpy(base + valueAt[i], f.wide.c_str(), (f.wide.size() + 1) * sizeof(char16_t));
    else
      std::memcpy(base + valueAt[i], r.data + f.value, f.end - f.value);
  }
  r.pos = at + 1;
  return rec;
}

}  // namespace

std::uint8_t* Error::serialize(std::size_t& length) const {
  ByteBuffer out;
  out.appendByte(serialVersion);
  bool moduleWritten = false;
  for (const ErrorRecord* r = head_; r; r = r->cause) writeRecord(out, r, moduleWritten);
  return out.release(length);
}

Error Error::deserialize(const std::uint8_t* bytes, std::size_t length) {
  if (!bytes || length < 1 || bytes[0] != serialVersion) return Error();
  Reader reader{bytes, length, 1};
  ErrorRecord* first = nullptr;
  ErrorRecord* last = nullptr;
  while (reader.left() >= 12) {
    ErrorRecord* rec = readRecord(reader);
    if (!rec) break;
    if (!first) {
      first = rec;  // the holder below adds its reference
    } else {
      rec->count.store(1, std::memory_order_relaxed);  // owned by its predecessor's cause pointer
      last->cause = rec;
    }
    last = rec;
  }
  return Error(first);
}

}  // namespace Common
