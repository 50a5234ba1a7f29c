// Processor::Variant, the program's tagged value (pattern arguments, verb and
// reflection values, trace arguments), Processor::Binary, the counted byte
// block a binary variant refers to, and Processor::EnumNames, the name tables
// of enumerations. Conversions between kinds are strict and throw
// Processor::Variant::Error. No ICU here: String is only named.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"
#include "core/object.h"
#include "core/thread.h"

namespace Processor {

class String;

class Binary : public RefObject {
 public:
  // A new block of `length` bytes (zeroed), null when memory runs out.
  static RefPtr<Binary> create(std::uint32_t length);
  ~Binary() override;

  std::uint32_t length() const noexcept { return length_; }
  unsigned char* data() const noexcept { return data_; }

 private:
  Binary() = default;
  std::uint32_t length_ = 0;
  unsigned char* data_ = nullptr;
};

class Variant {
 public:
  enum Type : std::uint32_t {
    TDate = 0,
    TDouble = 1,
    TLong = 2,
    TULong = 3,
    TString = 4,
    TLong64 = 5,
    TULong64 = 6,
    TInterface = 7,
    TBinary = 8,
    TIdentifier = 9,
    TBool = 10,
    TVariant = 11,
    TError = 12,
    TEmpty = 13,
  };
  static constexpr std::uint32_t typeCount = 14;

  // Codes 0xF0001 (conversion) and 0xF0002 (type).
  class Error : public Processor::Error {
   public:
    using Processor::Error::Error;
    explicit Error(const Common::Error& e) : Processor::Error(e) {}
  };

  // The value a TInterface holds is read through this interface only.
  class ValueProvider : public Interface {
    PROCESSOR_INTERFACE(ValueProvider, 0xa8c08c89u)
   public:
    // A variant of the requested type code.
    virtual Variant value(std::uint32_t type) = 0;
  };

  Variant() noexcept : type_(TEmpty) { u_.ul64 = 0; }
  Variant(double v) noexcept : type_(TDouble) { u_.d = v; }
  Variant(std::int32_t v) noexcept : type_(TLong) { u_.ul64 = 0, u_.l = v; }
  Variant(std::uint32_t v) noexcept : type_(TULong) { u_.ul64 = 0, u_.ul = v; }
  Variant(long v) noexcept : type_(TLong64) { u_.l64 = v; }
  Variant(unsigned long v) noexcept : type_(TULong64) { u_.ul64 = v; }
  Variant(long long v) noexcept : type_(TLong64) { u_.l64 = v; }
  Variant(unsigned long long v) noexcept : type_(TULong64) { u_.ul64 = v; }
  Variant(bool v) noexcept : type_(TBool) { u_.ul64 = 0, u_.b = v; }
  Variant(const String& s);
  Variant(const char16_t* s);
  // Bytes widened by value.
  Variant(const char* s);
  // TEmpty for null.
  Variant(const RefPtr<Binary>& b) noexcept;
  // Takes one more reference; an empty pointer gives TInterface with no object.
  Variant(const IfacePtr& p) noexcept;
  // TEmpty for success.
  Variant(const Common::Error& e) noexcept;

  static Variant date(double milliseconds) noexcept {
    Variant v(milliseconds);
    v.type_ = TDate;
    return v;
  }
  static Variant identifier(const std::string& s);
  static Variant ofType(std::uint32_t type) noexcept {
    Variant v;
    v.type_ = type;
    return v;
  }

  Variant(const Variant& o);
  Variant(Variant&& o) noexcept : type_(o.type_) {
    u_ = o.u_;
    o.type_ = TEmpty;
  }
  Variant& operator=(const Variant& o);
  Variant& operator=(Variant&& o) noexcept;
  ~Variant() { clear(); }
  void clear() noexcept;

  std::uint32_t type() const noexcept { return type_; }

  // Raw payload (valid for the matching type).
  double rawDouble() const noexcept { return u_.d; }
  std::int32_t rawLong() const noexcept { return u_.l; }
  std::uint32_t rawULong() const noexcept { return u_.ul; }
  std::int64_t rawLong64() const noexcept { return u_.l64; }
  std::uint64_t rawULong64() const noexcept { return u_.ul64; }
  bool rawBool() const noexcept { return u_.b; }
  const String* rawString() const noexcept { return u_.s; }
  const std::string* rawIdentifier() const noexcept { return u_.id; }
  Binary* rawBinary() const noexcept { return u_.bin; }
  Common::ErrorRecord* rawError() const noexcept { return u_.err; }
  void* rawObject() const noexcept { return u_.iface.object; }
  MetaClass* rawMetaClass() const noexcept { return u_.iface.meta; }

  // Throws the type error unless the variant has `type`.
  void expect(std::uint32_t type) const;
  String asString() const;
  std::string asStdString() const;
  RefPtr<Binary> asBinary() const;
  Common::Error asError() const;
  IfacePtr asInterface() const;

  std::uint32_t toULong() const;
  double toDouble() const;
  String toString() const;
  std::string toStdString() const;

  static const char* typeName(std::uint32_t type);

  // Text to number: the trimmed text must start with a digit and be read whole,
  // as a radix-10 number (sign and 0x allowed) or a size with its unit.
  static bool parseNumber(const String& text, double& out);
  static std::uint64_t textToInteger(const String& text);

  [[noreturn]] void conversionError(std::uint32_t target) const;
  [[noreturn]] void typeError(std::uint32_t requested) const;

  // The string pool.
  static String* copyString(const String& s);
  static void releaseString(String* s) noexcept;
  static std::string* copyStdString(const std::string& s);
  static void releaseStdString(std::string* s) noexcept;

  class Allocator;

 private:
  union Payload {
    double d;
    std::int32_t l;
    std::uint32_t ul;
    std::int64_t l64;
    std::uint64_t ul64;
    bool b;
    String* s;
    std::string* id;
    Binary* bin;
    Common::ErrorRecord* err;
    struct {
      void* object;
      MetaClass* meta;
    } iface;
  };
  Payload u_;
  std::uint32_t type_;
};

// Spare strings for text variants: up to `capacity` of each kind.
class Variant::Allocator : public RefObject, public ProtectedObject {
 public:
  static constexpr std::uint32_t capacity = 10;
  static RefPtr<Allocator> instance();
  ~Allocator() override;

  std::uint32_t spareStrings() const noexcept { return stringCount_.load(std::memory_order_relaxed); }
  std::uint32_t spareStdStrings() const noexcept { return stdCount_.load(std::memory_order_relaxed); }


 private:
  friend class Variant;
  // Read without the lock first (a hint), then again under it.
  std::atomic<std::uint32_t> stringCount_{0};
  std::atomic<std::uint32_t> stdCount_{0};
  String* strings_[capacity] = {};
  std::string* stdStrings_[capacity] = {};
};

// Names of an enumeration's values.
class EnumNames {
 public:
  // Each entry is a name, optionally followed (after a space, tab or '=') by
  // an explicit value; other entries count on from the previous one.
  EnumNames(const char* enumName, std::initializer_list<const char*> entries);
  // The first entry's name for `value`; throws 0x10073 when there is none.
  const char* name(std::int32_t value) const;
  const char* enumName() const noexcept { return enumName_.c_str(); }

 private:
  std::string enumName_;
  std::vector<std::pair<std::string, std::int32_t>> entries_;
};

// The enumeration "Type" of variant types.
const EnumNames& variantTypeNames();

// The value of a TDate, TDouble, integer types, the length of a TString, 0 or 1
// for TBool, 0 for everything else (choice limits compare with it).
double variantToDouble(const Variant& v);

}  // namespace Processor
