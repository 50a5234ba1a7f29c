#include "core/message_format.h"

#include <memory>
#include <new>

#include "core/date_format.h"
#include "core/error_format.h"
#include "core/number_format.h"
#include "core/subformats.h"
#include "core/verb.h"
#include "platform/win32/windows.h"

namespace Processor {

namespace {

constexpr char16_t kLiteral = 0xF800;

void appendAscii(String& out, const char* text) {
  while (*text) out.append(static_cast<char16_t>(*text++));
}

}  // namespace

// Fields without a kind: by the argument's type.
class SubformatSimple final : public SubformatBase {
 public:
  ~SubformatSimple() override {
    delete number_;
    delete date_;
  }

  std::int32_t format(const Variant& arg, String& out, const String[5]) override {
    switch (arg.type()) {
      case Variant::TDate: {
        if (!date_) date_ = DateFormat::createDateTime(0);
        if (!date_ || !date_->format(scratch_, arg.rawDouble()))
          appendAscii(out, "<unknown>");
        else
          out.append(scratch_);
        break;
      }
      case Variant::TDouble:
      case Variant::TLong:
      case Variant::TULong:
      case Variant::TLong64:
      case Variant::TULong64:
        if (!number_) number_ = NumberFormat::create(0);
        if (!number_ || !number_->format(scratch_, arg, 0))
          appendAscii(out, "<unknown>");
        else
          out.append(scratch_);
        break;
      case Variant::TString:
        out.append(*arg.rawString());
        break;
      case Variant::TInterface:
        appendInterface(arg, out);
        break;
      case Variant::TBinary:
        appendAscii(out, "<binary data>");
        break;
      case Variant::TIdentifier:
        appendCodePage(out, *arg.rawIdentifier());
        break;
      case Variant::TBool:
        appendAscii(out, arg.rawBool() ? "true" : "false");
        break;
      case Variant::TError:
        errorPlainText(out, Common::Error(arg.rawError()));
        break;
      case Variant::TEmpty:
        appendAscii(out, "<void>");
        break;
      default:
        appendAscii(out, "<unknown>");
        break;
    }
    return out.length();
  }

 private:
  // The "Name" member of an object with a member list.
  static void appendInterface(const Variant& arg, String& out) {
    IfacePtr p(arg.rawObject(), arg.rawMetaClass());
    if (p.object() && p.metaClass()) p.metaClass()->addRef(p.object());
    IfacePtr members = p ? p.query(MemberList::interfaceId) : IfacePtr();
    MemberList* list = members.as<MemberList>();
    if (!list) {
      appendAscii(out, "<unknown interface>");
      return;
    }
    RefPtr<Member> name = list->memberByName("Name");
    if (!name) return;
    IfacePtr valueIface = static_cast<Interface*>(name.get())->queryInterface(MemberValue::interfaceId);
    MemberValue* reader = valueIface.as<MemberValue>();
    if (!reader) return;
    const Variant value = reader->value();
    if (value.type() == Variant::TString) {
      out.append(*value.rawString());
      return;
    }
    out.append(u'<');
    const std::string listName = list->name() ? list->name() : "";
    appendCodePage(out, listName);
    out.append(u'>');
  }
  static void appendCodePage(String& out, const std::string& s) {
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return;
    const std::int32_t at = out.length();
    char16_t* buf = out.getBuffer(at + n);
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), buf + at, n);
    out.releaseBuffer(at + n);
  }

  NumberFormat* number_ = nullptr;
  DateFormatWin* date_ = nullptr;
  String scratch_;
};

MessageFormatImpl* MessageFormat::create() {
  try {
    return new MessageFormatImpl;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

MessageFormatImpl::MessageFormatImpl() {
  registerKind(u"number", new SubformatNumber);
  registerKind(u"date", new SubformatDate(0));
  registerKind(u"time", new SubformatDate(1));
  registerKind(u"date_time", new SubformatDate(2));
  registerKind(u"choice", new SubformatChoice);
  registerKind(u"concord", new SubformatConcord);
  registerKind(u"error", new SubformatError);
  registerKind(u"size", new SubformatSize);
  registerKind(u"ellipsis", new SubformatEllipsis);
  registerKind(u"path_ellipsis", new SubformatPathEllipsis);
  registerKind(u"time_span", new SubformatTimeSpan);
}

MessageFormatImpl::~MessageFormatImpl() {
  for (auto& k : kinds_) delete k.second;
  delete default_;
}

void MessageFormatImpl::registerKind(const String& name, SubformatBase* format) {
  auto [it, inserted] = kinds_.emplace(name, format);
  if (!inserted) {
    delete it->second;
    it->second = format;
  }
}

bool MessageFormatImpl::formatAll(String& out, const char16_t* p, std::int32_t length, const Variant* args,
                                  std::int32_t count) {
  const std::int32_t kept = out.length();
  std::int32_t pos = 0;
  if (parse(out, p, length, pos, true, args, count)) return true;
  out.truncate(kept);
  return false;
}

std::int32_t MessageFormatImpl::format(String& out, const String& pattern, const Variant* args, std::int32_t count) {
  formatAll(out, pattern.getBuffer(), pattern.length(), args, count);
  return out.length();
}

std::int32_t MessageFormatImpl::formatBuffer(char16_t* buffer, std::int32_t capacity, const char16_t* pattern,
                                             std::int32_t patternLength, const Variant* args, std::int32_t count) {
  String out;
  formatAll(out, pattern, patternLength, args, count);
  copyToBuffer(out, buffer, capacity);
  return out.length();
}

bool MessageFormatImpl::parse(String& out, const char16_t* p, std::int32_t length, std::int32_t& pos, bool top,
                              const Variant* args, std::int32_t count, std::int32_t depth) {
  // Patterns come from files; each level of nesting takes a stack frame.
  if (depth > kMaxNesting) return false;
  String parts[5];
  std::int32_t part = 0;
  bool inField = false;
  bool literal = false;
  std::int32_t fieldStart = 0;
  while (pos < length) {
    const char16_t c = p[pos];
    if (!inField && !literal && c != kLiteral && c != u'{') {
      // A run of plain text outside fields.
      std::int32_t end = pos + 1;
      while (end < length && p[end] != kLiteral && p[end] != u'{') ++end;
      parts[0].append(p + pos, end - pos);
      pos = end;
      continue;
    }
    ++pos;
    if (c == kLiteral) {
      literal = !literal;
      if (part > 0) parts[part].append(c);
      continue;
    }
    if (literal) {
      parts[part].append(c);
      continue;
    }
    if (c == u',' && inField) {
      if (part < 4) ++part;
      continue;
    }
    if (c == u'{') {
      if (!inField) {
        inField = true;
        part = 1;
        fieldStart = pos - 1;
      } else {
        --pos;
        String nested;
        if (!parse(nested, p, length, pos, false, args, count, depth + 1)) return false;
        parts[part].append(nested);
      }
      continue;
    }
    if (c == u'}' && inField) {
      formatField(out, parts, part, args, count);
      if (!top) return true;
      for (String& s : parts) s.truncate(0);
      inField = false;
      part = 0;
      continue;
    }
    parts[part].append(c);
  }
  // An unclosed field is not a field: its text stays as written.
  out.append(parts[0]);
  if (inField) out.append(p + fieldStart, length - fieldStart);
  return true;
}

std::int64_t readFieldNumber(const String& text) {
  const std::int32_t n = text.length();
  std::int32_t i = 0;
  auto narrow = [&](std::int32_t k) { return static_cast<unsigned char>(text.charAt(k) & 0xFF); };
  while (i < n && (narrow(i) == ' ' || (narrow(i) >= '\t' && narrow(i) <= '\r'))) ++i;
  bool negative = false;
  if (i < n && (narrow(i) == '+' || narrow(i) == '-')) negative = narrow(i++) == '-';
  std::int64_t v = 0;
  while (i < n && narrow(i) >= '0' && narrow(i) <= '9') {
    if (v < (std::int64_t{1} << 40)) v = v * 10 + (narrow(i) - '0');
    ++i;
  }
  return negative ? -v : v;
}

void MessageFormatImpl::formatField(String& out, String parts[5], std::int32_t partCount, const Variant* args,
                                    std::int32_t count) {
  out.append(parts[0]);
  const std::int64_t index = readFieldNumber(parts[1]);
  if (index < 0 || index >= count) {
    out.append(u'{').append(parts[1]).append(u'}');
    return;
  }
  const Variant& arg = args[index];
  if (partCount <= 1) {
    if (!default_) default_ = new SubformatSimple;
    default_->format(arg, out, parts);
    return;
  }
  String kind(parts[2]);
  kind.trim();
  auto it = kinds_.find(kind);
  if (it != kinds_.end()) it->second->format(arg, out, parts);
}

// ---- Helpers ----------------------------------------------------------------

String formatToString(const String& pattern, const Variant* args, std::int32_t count) {
  std::unique_ptr<MessageFormatImpl> f(MessageFormat::create());
  String out;
  if (f) f->format(out, pattern, args, count);
  return out;
}

String formatMessage1(const String& pattern, const Variant& a0) {
  const Variant args[1] = {a0};
  return formatToString(pattern, args, 1);
}

String formatMessage2(const String& pattern, const Variant& a0, const Variant& a1) {
  const Variant args[2] = {a0, a1};
  return formatToString(pattern, args, 2);
}

String formatMessage3(const String& pattern, const Variant& a0, const Variant& a1, const Variant& a2) {
  const Variant args[3] = {a0, a1, a2};
  return formatToString(pattern, args, 3);
}

String formatWin32Error(std::uint32_t win32Error, std::uint64_t site) {
  Common::Error e(site, 0x10002);
  e.setWin32Cause(win32Error);
  return formatError(e);
}

}  // namespace Processor
