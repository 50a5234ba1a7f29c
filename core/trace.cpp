#include "core/trace.h"

#include <cstring>
#include <memory>
#include <new>

#include "core/message_format.h"
#include "core/string.h"

namespace Processor {

Common::TraceValue variantToTraceValue(const Variant& value) {
  Common::TraceValue t;
  switch (value.type()) {
    case Variant::TDate:
      t.tag = Common::TraceValue::kDate;
      t.value.d = value.rawDouble();
      break;
    case Variant::TDouble:
      t.tag = Common::TraceValue::kDouble;
      t.value.d = value.rawDouble();
      break;
    case Variant::TLong:
      t.tag = Common::TraceValue::kLong;
      t.value.l = value.rawLong();
      break;
    case Variant::TULong:
      t.tag = Common::TraceValue::kULong;
      t.value.ul = value.rawULong();
      break;
    case Variant::TLong64:
      t.tag = Common::TraceValue::kLong64;
      t.value.l64 = value.rawLong64();
      break;
    case Variant::TULong64:
      t.tag = Common::TraceValue::kULong64;
      t.value.ul64 = value.rawULong64();
      break;
    case Variant::TBool:
      t.tag = Common::TraceValue::kBool;
      t.value.b = value.rawBool();
      break;
    case Variant::TString: {
      const String* s = value.rawString();
      const std::size_t n = s ? static_cast<std::size_t>(s->length()) : 0;
      char16_t* copy = new (std::nothrow) char16_t[n + 1];
      if (!copy) break;
      if (n) s->extract(0, static_cast<int32_t>(n), copy);
      copy[n] = 0;
      t.tag = Common::TraceValue::kWideText;
      t.value.wide = copy;
      break;
    }
    case Variant::TIdentifier: {
      const std::string* s = value.rawIdentifier();
      const std::size_t n = s ? std::strlen(s->c_str()) : 0;
      char* copy = new (std::nothrow) char[n + 1];
      if (!copy) break;
      if (n) std::memcpy(copy, s->c_str(), n);
      copy[n] = 0;
      t.tag = Common::TraceValue::kNarrowText;
      t.value.narrow = copy;
      break;
    }
    case Variant::TBinary: {
      const Binary* b = value.rawBinary();
      if (!b) break;
      unsigned char* copy = new (std::nothrow) unsigned char[b->length() ? b->length() : 1];
      if (!copy) break;
      if (b->length()) std::memcpy(copy, b->data(), b->length());
      t.tag = Common::TraceValue::kBinary;
      t.value.binary = {copy, b->length()};
      break;
    }
    default: break;  // empty, interface, variant, error: none
  }
  return t;
}

Variant traceParameterToVariant(const Common::TraceValue& value) {
  switch (value.tag) {
    case Common::TraceValue::kLong: return Variant(value.value.l);
    case Common::TraceValue::kULong: return Variant(value.value.ul);
    case Common::TraceValue::kDate: return Variant::date(value.value.d);
    case Common::TraceValue::kDouble: return Variant(value.value.d);
    case Common::TraceValue::kWideText: return Variant(value.value.wide ? value.value.wide : u"");
    case Common::TraceValue::kLong64: return Variant(static_cast<long long>(value.value.l64));
    case Common::TraceValue::kULong64: return Variant(static_cast<unsigned long long>(value.value.ul64));
    case Common::TraceValue::kNarrowText: return Variant(value.value.narrow ? value.value.narrow : "");
    case Common::TraceValue::kBool: return Variant(value.value.b);
    case Common::TraceValue::kBinary: {
      RefPtr<Binary> b = Binary::create(value.value.binary.length);
      if (!b) throwNullReference();
      if (value.value.binary.length) std::memcpy(b->data(), value.value.binary.data, value.value.binary.length);
      return Variant(b);
    }
    default: return Variant();
  }
}

void traceFormat(int level, std::uint32_t facility, std::uint32_t number, const String& pattern,
                 const Variant* arguments, std::int32_t count) {
  if (level < Common::traceThreshold()) return;
  String text;
  if (count > 0) {
    std::unique_ptr<MessageFormatImpl> formatter(MessageFormat::create());
    if (formatter) formatter->format(text, pattern, arguments, count);
  } else {
    text = pattern;
  }
  Common::traceText(level, facility, number, text.getTerminatedBuffer());
}

void traceTwoTexts(int level, std::uint32_t facility, std::uint32_t number, const String& pattern,
                   const String& first, const String& second) {
  const Variant texts[2] = {Variant(first), Variant(second)};
  traceFormat(level, facility, number, pattern, texts, 2);
}

int traceValues(int level, std::uint32_t facility, std::uint32_t number, const String& pattern,
                const std::pair<std::string, Variant>* arguments, std::int32_t count) {
  std::unique_ptr<Common::TraceArgument[]> traced;
  // The copies are freed even when a sink throws.
  struct Release {
    Common::TraceArgument* arguments;
    std::int32_t count;
    ~Release() {
      for (std::int32_t i = 0; i < count; ++i) Common::TraceValue::clear(arguments[i].value);
    }
  } release{nullptr, 0};
  if (count > 0) {
    traced.reset(new Common::TraceArgument[static_cast<std::size_t>(count)]);
    for (std::int32_t i = 0; i < count; ++i) {
      traced[i].name = arguments[i].first.c_str();
      traced[i].value = variantToTraceValue(arguments[i].second);
    }
    release.arguments = traced.get();
    release.count = count;
  }
  String text(pattern);
  int result = Common::traceFormat(level, facility, number, text.getTerminatedBuffer(), traced.get(),
                                   count > 0 ? count : 0);
  return result;
}

}  // namespace Processor
