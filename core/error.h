// Error records and the one-pointer error holder, Common::Error.
// A null holder means success. Records are reference counted and immutable
// once built (apart from the cause of a record with a single owner).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Common {

// Raise-site tag: the high word names the source file, the low word is the
// file's base plus the line, so nearby raises get nearby tags.
constexpr std::uint32_t siteFileHash(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  std::uint32_t h = 2166136261u;
  for (const char* p = base; *p; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 16777619u;
  return h;
}
constexpr std::uint64_t makeSite(const char* file, unsigned line) {
  std::uint32_t h = siteFileHash(file);
  return (static_cast<std::uint64_t>(h) << 32) | static_cast<std::uint32_t>((h & 0xFFFF0000u) + line);
}
#define KV_SITE (::Common::makeSite(__FILE__, __LINE__))

struct ErrorRecord;

// Routine table of one record kind. Slots are in the fixed order below.
struct ErrorRecordOps {
  void (*destroy)(ErrorRecord* r);
  ErrorRecord* (*clone)(const ErrorRecord* r);
  void (*text)(const ErrorRecord* r, std::u16string& out);
  std::uint64_t (*numberField)(const ErrorRecord* r, const char* name);
  const char* (*narrowField)(const ErrorRecord* r, const char* name);
  const char16_t* (*wideField)(const ErrorRecord* r, const char* name);
  const char* (*fieldNames)(const ErrorRecord* r);
};

// One contiguous heap block: this header, the kind's field slots, then the
// inline text copies. Slots (textSlot and field slots) hold 0 for none, an offset
// below `size` for an inline copy, or the address of a catalogue text; on 64-bit
// they are pointer-sized so that catalogue addresses fit.
struct ErrorRecord {
  std::atomic<std::uint32_t> count;
  std::uint32_t code;
  ErrorRecord* cause;
  const ErrorRecordOps* ops;
  std::uint64_t site;
  std::uint32_t size;  // the system-error kind keeps its HRESULT here
  std::uintptr_t textSlot;

  std::uintptr_t* fieldSlots() { return reinterpret_cast<std::uintptr_t*>(this + 1); }
  const std::uintptr_t* fieldSlots() const { return reinterpret_cast<const std::uintptr_t*>(this + 1); }
  // Resolves a slot to the text it names (inline or catalogue), or null.
  const void* slotText(std::uintptr_t slot) const;
};

extern ErrorRecord outOfMemoryErrorRecord;

class Error {
 public:
  constexpr Error() noexcept : head_(nullptr) {}
  Error(std::uint64_t site, std::uint32_t code);
  Error(std::uint64_t site, std::uint32_t code, const char* text);
  Error(std::uint64_t site, std::uint32_t code, const char16_t* text);
  Error(std::uint64_t site, std::uint32_t code, const char16_t* text, const char* token);
  // Takes over one reference to `record` (adds one; a fresh record has 0).
  explicit Error(ErrorRecord* record) noexcept;
  Error(const Error& other) noexcept;
  Error(Error&& other) noexcept : head_(other.head_) { other.head_ = nullptr; }
  Error& operator=(const Error& other) noexcept;
  Error& operator=(Error&& other) noexcept;
  ~Error();

  std::uint32_t code() const noexcept;
  void text(std::u16string& out) const;
  std::u16string text() const {
    std::u16string s;
    text(s);
    return s;
  }
  Error cause() const;
  void setCause(const Error& cause);
  void setWin32Cause(std::uint32_t win32Error);
  void setHResultCause(std::int32_t hr);
  void setNtStatusCause(std::int32_t status);

  ErrorRecord* record() const noexcept { return head_; }
  explicit operator bool() const noexcept { return head_ != nullptr; }
  bool failed() const noexcept { return head_ != nullptr; }
  void clear() noexcept;

  // Field access through the head's routine table (0 / null when absent).
  std::uint64_t numberField(const char* name) const;
  const char* narrowField(const char* name) const;
  const char16_t* wideField(const char* name) const;
  const char* fieldNames() const;
  std::uint64_t site() const noexcept;

  // The chain as bytes another thread or process can rebuild: a version byte,
  // then every record (code, tag, UTF-8 text, typed fields). The head gains a
  // "$module" field naming this program unless some record already carries
  // one. A new array the caller releases with delete[]; null and length 0 when
  // memory runs out.
  std::uint8_t* serialize(std::size_t& length) const;
  // The chain read back; malformed or truncated data gives the records read
  // before the fault (possibly none).
  static Error deserialize(const std::uint8_t* bytes, std::size_t length);

 private:
  ErrorRecord* head_;
};

extern const Error noError;

Error makeError(std::uint64_t site, std::uint32_t code, const char16_t* text);

ErrorRecord* makeCodeErrorRecord(std::uint64_t site, std::uint32_t code);
ErrorRecord* makeNarrowErrorRecord(std::uint64_t site, std::uint32_t code, const char* text);
ErrorRecord* makeWideErrorRecord(std::uint64_t site, std::uint32_t code, const char16_t* text);
ErrorRecord* makeSystemErrorRecord(std::uint64_t site, std::int32_t hresult);
void makeTokenError(Error& out, std::uint64_t site, std::uint32_t code, const char16_t* text, const char* token);
void makeEnumValueErrorRecord(Error& out, std::uint64_t site, std::uint32_t code, const char16_t* text,
                              const char* valueText, const char* enumName);
// Clone routine shared by every kind whose block is self-contained: a copy of
// the block with count 1 and no cause; null when memory runs out.
ErrorRecord* cloneErrorRecord(const ErrorRecord* r);
void releaseErrorRecord(ErrorRecord* r);
void addErrorRecordRef(ErrorRecord* r);

// Every record block comes from here and goes back here (one byte array).
// Allocation returns null when memory runs out; builders then hand back
// outOfMemoryErrorRecord.
void* allocateErrorRecordBlock(std::size_t bytes) noexcept;
void freeErrorRecordBlock(ErrorRecord* r) noexcept;  // destroy routine for such kinds
// Test hook: while set, every record allocation (and the serialiser's buffer)
// fails as if memory ran out.
void setErrorRecordAllocationFails(bool fails) noexcept;
bool errorRecordAllocationFails() noexcept;

// Ready-made text routines for kinds whose own text sits in textSlot.
void wideSlotText(const ErrorRecord* r, std::u16string& out);
void narrowSlotText(const ErrorRecord* r, std::u16string& out);  // bytes widened by value

// Text of a system message for an HRESULT, trimmed as error texts want it.
std::u16string systemErrorText(std::int32_t hresult);
// The trimming alone: drops every CR, then one final LF, then a final full stop
// of a text that has no LF left.
void trimSystemText(std::u16string& text);

// Helpers for kinds built by other libraries: size and fill a record block with
// `fieldCount` slots and the given texts (narrow when the matching `wide` flag is
// false). Texts inside the catalogue are kept by address. Returns the
// out-of-memory record when allocation fails, null for code 0.
struct RecordText {
  const void* text;  // null for none
  bool wide;
};
ErrorRecord* buildErrorRecord(const ErrorRecordOps* ops, std::uint64_t site, std::uint32_t code,
                              RecordText ownText, const RecordText* fields, unsigned fieldCount);

}  // namespace Common

namespace Processor {
class Error : public Common::Error {
 public:
  using Common::Error::Error;
  Error() = default;
  Error(const Common::Error& e) : Common::Error(e) {}
};
// Thrown when a null reference is used (code 0x10001).
[[noreturn]] void throwNullReference();
}  // namespace Processor
