#include "core/variant.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "core/catalogue.h"
#include "core/date_format.h"
#include "core/message_format.h"
#include "core/number_format.h"
#include "core/singleton.h"
#include "core/size_format.h"
#include "core/string.h"
#include "system/locks.h"

namespace Processor {

// ---- Binary -------------------------------------------------------------------

RefPtr<Binary> Binary::create(std::uint32_t length) {
  Binary* b;
  try {
    b = new Binary;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (length) {
    b->data_ = new (std::nothrow) unsigned char[length]();
    if (!b->data_) {
      RefPtr<Binary>::adopt(b);
      return nullptr;
    }
  }
  b->length_ = length;
  return RefPtr<Binary>::adopt(b);
}

Binary::~Binary() { delete[] data_; }

// ---- Pool and shared formats -----------------------------------------------

using AllocatorSingleton = Singleton<Variant::Allocator, 1>;

RefPtr<Variant::Allocator> Variant::Allocator::instance() {
  RefPtr<Allocator> a = AllocatorSingleton::instance();
  if (!a) throwNullReference();
  return a;
}

Variant::Allocator::~Allocator() {
  for (std::uint32_t i = 0; i < stringCount_.load(); ++i) delete strings_[i];
  for (std::uint32_t i = 0; i < stdCount_.load(); ++i) delete stdStrings_[i];
}

String* Variant::copyString(const String& s) {
  RefPtr<Allocator> a = Allocator::instance();
  if (a->stringCount_.load(std::memory_order_relaxed) > 0) {
    String* spare = nullptr;
    {
      Common::CriticalSectionLock hold(a->lock());
      if (a->stringCount_ > 0) spare = a->strings_[a->stringCount_.fetch_sub(1, std::memory_order_relaxed) - 1];
    }
    if (spare) {
      *spare = s;
      return spare;
    }
  }
  return new String(s);
}

namespace {
// The allocator for a release, null when it cannot be made (the string is
// then simply deleted).
RefPtr<Variant::Allocator> allocatorForRelease() noexcept {
  try {
    return AllocatorSingleton::instance();
  } catch (...) {
    return nullptr;
  }
}
}  // namespace

void Variant::releaseString(String* s) noexcept {
  if (!s) return;
  RefPtr<Allocator> a = allocatorForRelease();
  if (a && a->stringCount_.load(std::memory_order_relaxed) < Allocator::capacity) {
    if (s->isBogus())
      s->remove();
    else
      s->truncate(0);
    Common::CriticalSectionLock hold(a->lock());
    if (a->stringCount_ < Allocator::capacity) {
      a->strings_[a->stringCount_.fetch_add(1, std::memory_order_relaxed)] = s;
      return;
    }
  }
  delete s;
}

std::string* Variant::copyStdString(const std::string& s) {
  RefPtr<Allocator> a = Allocator::instance();
  if (a->stdCount_.load(std::memory_order_relaxed) > 0) {
    std::string* spare = nullptr;
    {
      Common::CriticalSectionLock hold(a->lock());
      if (a->stdCount_ > 0) spare = a->stdStrings_[a->stdCount_.fetch_sub(1, std::memory_order_relaxed) - 1];
    }
    if (spare) {
      *spare = s;
      return spare;
    }
  }
  return new std::string(s);
}

void Variant::releaseStdString(std::string* s) noexcept {
  if (!s) return;
  RefPtr<Allocator> a = allocatorForRelease();
  if (a && a->stdCount_.load(std::memory_order_relaxed) < Allocator::capacity) {
    s->clear();
    Common::CriticalSectionLock hold(a->lock());
    if (a->stdCount_ < Allocator::capacity) {
      a->stdStrings_[a->stdCount_.fetch_add(1, std::memory_order_relaxed)] = s;
      return;
    }
  }
  delete s;
}

namespace {

// The number formats every conversion shares.
class FormatersHolder : public RefObject {
 public:
  FormatersHolder()
      : hex_(NumberFormat::create(1)),
        decimal_(NumberFormat::create(2)),
        locale_(NumberFormat::create(0)),
        size_(SizeFormat::create()) {}
  ~FormatersHolder() override {
    delete size_;
    delete locale_;
    delete decimal_;
    delete hex_;
  }
  static RefPtr<FormatersHolder> instance() {
    RefPtr<FormatersHolder> f = Singleton<FormatersHolder, 1>::instance();
    if (!f) throwNullReference();
    return f;
  }

  NumberFormat* hex_;
  NumberFormat* decimal_;
  NumberFormat* locale_;
  SizeFormat* size_;
};

}  // namespace

// ---- Construction and lifetime ----------------------------------------------

Variant::Variant(const String& s) : type_(TString) { u_.s = copyString(s); }
Variant::Variant(const char16_t* s) : type_(TString) { u_.s = copyString(String(s)); }
Variant::Variant(const char* s) : type_(TString) { u_.s = copyString(String(s)); }

Variant::Variant(const RefPtr<Binary>& b) noexcept : type_(b ? TBinary : TEmpty) {
  u_.ul64 = 0;
  if (b) {
    b->addRef();
    u_.bin = b.get();
  }
}

Variant::Variant(const IfacePtr& p) noexcept : type_(TInterface) {
  u_.iface.object = p.object();
  u_.iface.meta = p.metaClass();
  if (u_.iface.object && u_.iface.meta) u_.iface.meta->addRef(u_.iface.object);
}

Variant::Variant(const Common::Error& e) noexcept : type_(e ? TError : TEmpty) {
  u_.ul64 = 0;
  if (e) {
    Common::addErrorRecordRef(e.record());
    u_.err = e.record();
  }
}

Variant Variant::identifier(const std::string& s) {
  Variant v;
  v.u_.id = copyStdString(s);
  v.type_ = TIdentifier;
  return v;
}

Variant::Variant(const Variant& o) : type_(TEmpty) {
  Payload u = o.u_;
  switch (o.type_) {
    case TString:
      u.s = copyString(*o.u_.s);
      break;
    case TIdentifier:
      u.id = copyStdString(*o.u_.id);
      break;
    case TInterface:
      if (u.iface.object && u.iface.meta) u.iface.meta->addRef(u.iface.object);
      break;
    case TBinary:
      if (u.bin) u.bin->addRef();
      break;
    case TError:
      Common::addErrorRecordRef(u.err);
      break;
    default:
      break;
  }
  u_ = u;
  type_ = o.type_;
}

Variant& Variant::operator=(const Variant& o) {
  if (this != &o) {
    Variant copy(o);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& o) noexcept {
  if (this != &o) {
    clear();
    u_ = o.u_;
    type_ = o.type_;
    o.type_ = TEmpty;
  }
  return *this;
}

void Variant::clear() noexcept {
  switch (type_) {
    case TString:
      releaseString(u_.s);
      break;
    case TIdentifier:
      releaseStdString(u_.id);
      break;
    case TInterface:
      if (u_.iface.object && u_.iface.meta) u_.iface.meta->release(u_.iface.object);
      break;
    case TBinary:
      if (u_.bin) u_.bin->release();
      break;
    case TError:
      Common::releaseErrorRecord(u_.err);
      break;
    default:
      break;
  }
  type_ = TEmpty;
  u_.ul64 = 0;
}

// ---- Typed access -----------------------------------------------------------

void Variant::expect(std::uint32_t type) const {
  if (type_ != type) typeError(type);
}

String Variant::asString() const {
  expect(TString);
  return *u_.s;
}

std::string Variant::asStdString() const {
  expect(TIdentifier);
  return *u_.id;
}

RefPtr<Binary> Variant::asBinary() const {
  expect(TBinary);
  return RefPtr<Binary>(u_.bin);
}

Common::Error Variant::asError() const {
  expect(TError);
  return Common::Error(u_.err);
}

IfacePtr Variant::asInterface() const {
  expect(TInterface);
  if (u_.iface.object && u_.iface.meta) u_.iface.meta->addRef(u_.iface.object);
  return IfacePtr(u_.iface.object, u_.iface.meta);
}

// ---- Names ------------------------------------------------------------------

const EnumNames& variantTypeNames() {
  static const EnumNames names("Type", {"TDate", "TDouble", "TLong", "TULong", "TString", "TLong64", "TULong64",
                                        "TInterface", "TBinary", "TIdentifier", "TBool", "TVariant", "TError",
                                        "TEmpty"});
  return names;
}

const char* Variant::typeName(std::uint32_t type) { return variantTypeNames().name(static_cast<std::int32_t>(type)); }

EnumNames::EnumNames(const char* enumName, std::initializer_list<const char*> entries) : enumName_(enumName) {
  std::int32_t counter = 0;
  for (const char* e : entries) {
    const char* p = e;
    while (*p && *p != ' ' && *p != '\t' && *p != '=') ++p;
    std::string name(e, p);
    while (*p && (*p < '0' || *p > '9')) ++p;
    if (*p) {
      std::uint32_t v = 0;
      while (*p >= '0' && *p <= '9') v = v * 10 + static_cast<std::uint32_t>(*p++ - '0');
      counter = static_cast<std::int32_t>(v);
    }
    entries_.emplace_back(std::move(name), counter++);
  }
}

const char* EnumNames::name(std::int32_t value) const {
  for (const auto& e : entries_)
    if (e.second == value) return e.first.c_str();
  const std::string valueText = std::to_string(value);
  const String text = formatMessage2(
      String(Common::catalogueText(809, u"Failed to convert value '{0}' of enumerator '{1}' to a string value.")),
      Variant(valueText.c_str()), Variant(enumName_.c_str()));
  Common::Error e;
  Common::makeEnumValueErrorRecord(e, KV_SITE, 0x10073, String(text).getTerminatedBuffer(), valueText.c_str(),
                                   enumName_.c_str());
  throw e;
}

// ---- Errors -----------------------------------------------------------------

namespace {

[[noreturn]] void throwVariantError(std::uint64_t site, std::uint32_t code, String text) {
  throw Variant::Error(Common::Error(site, code, text.getTerminatedBuffer()));
}

}  // namespace

void Variant::conversionError(std::uint32_t target) const {
  const String text =
      formatMessage3(String(Common::catalogueText(851, u"Failed to convert from {0}('{1}') to {2}.")),
                     identifier(typeName(type_)), *this, identifier(typeName(target)));
  throwVariantError(KV_SITE, 0xF0001, text);
}

void Variant::typeError(std::uint32_t requested) const {
  const String text =
      formatMessage3(String(Common::catalogueText(853, u"Failed to get value of type '{0}' from value {1}('{2}').")),
                     identifier(typeName(requested)), identifier(typeName(type_)), *this);
  throwVariantError(KV_SITE, 0xF0002, text);
}

// ---- Conversions ------------------------------------------------------------

namespace {

Variant askProvider(const Variant& v, std::uint32_t type) {
  IfacePtr p(v.rawObject(), v.rawMetaClass());
  if (p.object() && p.metaClass()) p.metaClass()->addRef(p.object());
  RefPtr<Variant::ValueProvider> provider;
  if (p.as<Variant::ValueProvider>()) {
    provider = RefPtr<Variant::ValueProvider>::adopt(static_cast<Variant::ValueProvider*>(p.detach()));
  } else if (p) {
    IfacePtr q = p.query(Variant::ValueProvider::interfaceId);
    if (q && q.metaClass() && q.metaClass()->id() != Variant::ValueProvider::interfaceId) {
      IfacePtr c;
      q.metaClass()->cast(c, Variant::ValueProvider::interfaceId, q.object());
      q = std::move(c);
    }
    if (q.as<Variant::ValueProvider>())
      provider = RefPtr<Variant::ValueProvider>::adopt(static_cast<Variant::ValueProvider*>(q.detach()));
  }
  if (!provider) v.conversionError(type);
  Variant answer = provider->value(type);
  answer.expect(type);
  return answer;
}

// Truncation toward zero to 64 bits; out-of-range values saturate.
std::int64_t truncate64(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (v <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(v);
}

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

bool Variant::parseNumber(const String& text, double& out) {
  String trimmed(text);
  trimmed.trim();
  if (trimmed.isEmpty() || !isDigit(trimmed.charAt(0))) return false;
  // The parsers read the same trimmed text that was checked, so " 42" reads.
  RefPtr<FormatersHolder> f = FormatersHolder::instance();
  std::int32_t stop = 0;
  double v = f->decimal_->parse(trimmed, &stop);
  if (stop == trimmed.length()) {
    out = v;
    return true;
  }
  stop = 0;
  v = f->size_->parse(trimmed, &stop, 0);
  if (stop == trimmed.length()) {
    out = v;
    return true;
  }
  return false;
}

std::uint64_t Variant::textToInteger(const String& text) {
  double v = 0;
  if (!parseNumber(text, v)) Variant(text).conversionError(TULong);
  return static_cast<std::uint64_t>(truncate64(v));
}

std::uint32_t Variant::toULong() const {
  switch (type_) {
    case TDate:
      return static_cast<std::uint32_t>(truncate64(u_.d / 1000.0));
    case TDouble:
      return static_cast<std::uint32_t>(truncate64(u_.d));
    case TLong:
    case TULong:
      return u_.ul;
    case TLong64:
    case TULong64:
      return static_cast<std::uint32_t>(u_.ul64);
    case TString:
      return static_cast<std::uint32_t>(textToInteger(*u_.s));
    case TIdentifier:
      return static_cast<std::uint32_t>(textToInteger(String(u_.id->c_str())));
    case TBool:
      return u_.b ? 1 : 0;
    case TInterface:
      return askProvider(*this, TULong).rawULong();
    default:
      conversionError(TULong);
  }
}

double Variant::toDouble() const {
  switch (type_) {
    case TDate:
    case TDouble:
      return u_.d;
    case TLong:
      return u_.l;
    case TULong:
      return u_.ul;
    case TLong64:
      return static_cast<double>(u_.l64);
    case TULong64:
      return static_cast<double>(u_.ul64);
    case TString:
    case TIdentifier: {
      const String text = type_ == TString ? *u_.s : String(u_.id->c_str());
      double v = 0;
      if (!parseNumber(text, v)) Variant(text).conversionError(TDouble);
      return v;
    }
    case TBool:
      return u_.b ? 1.0 : 0.0;
    case TInterface:
      return askProvider(*this, TDouble).rawDouble();
    default:
      conversionError(TDouble);
  }
}

String Variant::toString() const {
  switch (type_) {
    case TDate: {
      if (u_.d == 0) return String();
      std::unique_ptr<DateFormatWin> f(DateFormat::createDateTime(0));
      String out;
      if (f) f->format(out, u_.d);
      return out;
    }
    case TDouble:
    case TLong:
    case TULong:
    case TLong64:
    case TULong64: {
      RefPtr<FormatersHolder> f = FormatersHolder::instance();
      String out;
      if (type_ == TLong64 && u_.l64 < 0) {
        // Radix-10 digits are unsigned: write the sign and the magnitude.
        f->decimal_->format(out, Variant(0 - u_.ul64), 0);
        out.insert(0, u'-');
        return out;
      }
      (type_ == TLong64 || type_ == TULong64 ? f->decimal_ : f->locale_)->format(out, *this, 0);
      return out;
    }
    case TString:
      return *u_.s;
    case TIdentifier:
      return String(u_.id->c_str());
    case TBool:
      return String(u_.b ? u"true" : u"false");
    case TInterface:
      return askProvider(*this, TString).asString();
    case TBinary: {
      String out;
      const std::uint32_t n = u_.bin ? u_.bin->length() : 0;
      char16_t* buf = out.getBuffer(static_cast<std::int32_t>((n + 2) / 3 * 4 + 1));
      char16_t* end = base64Encode(buf, u_.bin ? u_.bin->data() : nullptr, u_.bin ? u_.bin->data() + n : nullptr);
      out.releaseBuffer(static_cast<std::int32_t>(end - buf));
      return out;
    }
    case TEmpty:
      return String();
    default:
      conversionError(TString);
  }
}

std::string Variant::toStdString() const {
  switch (type_) {
    case TIdentifier:
      return *u_.id;
    case TBinary:
      return u_.bin && u_.bin->length() ? std::string(reinterpret_cast<const char*>(u_.bin->data()), u_.bin->length())
                                        : std::string();
    case TInterface:
      return askProvider(*this, TIdentifier).asStdString();
    case TEmpty:
      return std::string();
    case TVariant:
    case TError:
      conversionError(TIdentifier);
    default:
      return toString().toNarrow();
  }
}

double variantToDouble(const Variant& v) {
  switch (v.type()) {
    case Variant::TDate:
    case Variant::TDouble:
      return v.rawDouble();
    case Variant::TLong:
      return v.rawLong();
    case Variant::TULong:
      return v.rawULong();
    case Variant::TLong64:
      return static_cast<double>(v.rawLong64());
    case Variant::TULong64:
      return static_cast<double>(v.rawULong64());
    case Variant::TString:
      return v.rawString()->length();
    case Variant::TBool:
      return v.rawBool() ? 1 : 0;
    default:
      return 0;
  }
}

}  // namespace Processor
