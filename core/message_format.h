// Message patterns: text with numbered fields "{index[,kind[,style[,extra]]]}"
// filled from Variant arguments; U+F800 toggles literal text. Each kind of
// field is a subformat registered by name.
#pragma once

#include <cstdint>
#include <map>

#include "core/string.h"
#include "core/variant.h"

namespace Processor {

// Field parts: 0 the text before the field, 1 index, 2 kind, 3 style, 4 extra.
class SubformatBase {
 public:
  virtual ~SubformatBase() = default;
  // Appends to `out`; the length of `out`, 0 when nothing was produced.
  virtual std::int32_t format(const Variant& arg, String& out, const String parts[5]) = 0;
};

class SubformatSimple;

// Reads a reflected member's value (asked of the "Name" member when an object
// is shown in a message field).
class MemberValue : public virtual Interface {
  PROCESSOR_INTERFACE(MemberValue, 0x9b0849e6u)
 public:
  virtual Variant value() = 0;
};

class MessageFormat {
 public:
  // A formatter with every kind registered; null when memory runs out.
  static class MessageFormatImpl* create();

  virtual ~MessageFormat() = default;
  // Appends to `out` (not cleared); the length of `out` afterwards. A pattern
  // whose fields nest deeper than kMaxNesting is refused: nothing is appended.
  static constexpr std::int32_t kMaxNesting = 64;
  virtual std::int32_t format(String& out, const String& pattern, const Variant* args, std::int32_t count) = 0;
  // Writes at most `capacity` units and a zero when there is room; the full length.
  virtual std::int32_t formatBuffer(char16_t* buffer, std::int32_t capacity, const char16_t* pattern,
                                    std::int32_t patternLength, const Variant* args, std::int32_t count) = 0;
};

class MessageFormatImpl final : public MessageFormat {
 public:
  MessageFormatImpl();
  ~MessageFormatImpl() override;
  MessageFormatImpl(const MessageFormatImpl&) = delete;
  MessageFormatImpl& operator=(const MessageFormatImpl&) = delete;

  std::int32_t format(String& out, const String& pattern, const Variant* args, std::int32_t count) override;
  std::int32_t formatBuffer(char16_t* buffer, std::int32_t capacity, const char16_t* pattern,
                            std::int32_t patternLength, const Variant* args, std::int32_t count) override;

  // Registers `format` (owned) under `name`, deleting one registered before.
  void registerKind(const String& name, SubformatBase* format);

 private:
  struct Scan;
  // Scans from `pos`; a nested call starts at its '{' and returns after its '}'.
  // False when the fields nest too deep.
  bool parse(String& out, const char16_t* p, std::int32_t length, std::int32_t& pos, bool top, const Variant* args,
             std::int32_t count, std::int32_t depth = 0);
  // The whole pattern into `out`; false (and `out` as it was) when refused.
  bool formatAll(String& out, const char16_t* p, std::int32_t length, const Variant* args, std::int32_t count);
  void formatField(String& out, String parts[5], std::int32_t partCount, const Variant* args, std::int32_t count);

  struct Less {
    bool operator()(const String& a, const String& b) const { return a.compare(b) < 0; }
  };
  std::map<String, SubformatBase*, Less> kinds_;
  SubformatSimple* default_ = nullptr;
};

// Each helper builds a formatter for the call; empty when it cannot.
String formatMessage1(const String& pattern, const Variant& a0);
String formatMessage2(const String& pattern, const Variant& a0, const Variant& a1);
String formatMessage3(const String& pattern, const Variant& a0, const Variant& a1, const Variant& a2);
String formatToString(const String& pattern, const Variant* args, std::int32_t count);
// The plain text of an error 0x10002 raised at `site` whose cause is the Win32 error.
String formatWin32Error(std::uint32_t win32Error, std::uint64_t site);

// Reads a field index or a width: white space, an optional sign, decimal
// digits up to the first other character; no digits gives 0.
std::int64_t readFieldNumber(const String& text);

}  // namespace Processor
