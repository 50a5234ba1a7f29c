#include "core/subformats.h"

#include <unicode/brkiter.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <new>

#include "core/error_format.h"
#include "core/number_format.h"
#include "system/number_text.h"

namespace Processor {

// ---- Break iterators ----------------------------------------------------------

namespace {

class ICUBreakIterator final : public BreakIterator {
 public:
  explicit ICUBreakIterator(icu::BreakIterator* it) : it_(it) {}
  ~ICUBreakIterator() override { delete it_; }
  void setText(const String& text) override {
    text_ = text;
    it_->setText(text_);
    position_ = 0;
  }
  void next() override { position_ = it_->next(); }
  void previous() override { position_ = it_->previous(); }
  bool valid() override { return it_ && position_ != icu::BreakIterator::DONE; }
  std::int32_t position() const override { return position_; }

 private:
  icu::BreakIterator* it_;
  String text_;  // ICU reads the text in place
  std::int32_t position_ = icu::BreakIterator::DONE;
};

class PathBreakIterator final : public BreakIterator {
 public:
  void setText(const String& text) override {
    text_ = text;
    position_ = 0;
  }
  void next() override {
    const std::int32_t n = text_.length();
    if (position_ >= n) {
      position_ = n + 1;
      return;
    }
    std::int32_t i = position_ + 1;
    while (i < n && text_.charAt(i) != u'/' && text_.charAt(i) != u'\\') ++i;
    position_ = i;
  }
  void previous() override {}
  bool valid() override { return !text_.isEmpty() && position_ <= text_.length(); }
  std::int32_t position() const override { return position_; }

 private:
  String text_;
  std::int32_t position_ = 0;
};

}  // namespace

BreakIterator* BreakIterator::create(std::int32_t kind) {
  if (kind == 2) return new (std::nothrow) PathBreakIterator;
  if (kind != 0 && kind != 1) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  icu::BreakIterator* it = kind == 0 ? icu::BreakIterator::createLineInstance(icu::Locale::getDefault(), status)
                                     : icu::BreakIterator::createWordInstance(icu::Locale::getDefault(), status);
  if (U_FAILURE(status) || !it) {
    delete it;
    return nullptr;
  }
  return new (std::nothrow) ICUBreakIterator(it);
}

// ---- Choice -----------------------------------------------------------------

namespace {
constexpr char16_t kLiteral = 0xF800;
constexpr char16_t kLessOrEqual = 0x2264;
}  // namespace

SubformatChoice::~SubformatChoice() { delete limits_; }

std::int32_t SubformatChoice::format(const Variant& arg, String& out, const String parts[5]) {
  return choose(arg, out, parts[3]) ? out.length() : 0;
}

bool SubformatChoice::choose(const Variant& arg, String& out, const String& style) {
  Option option;
  int state = 0;
  bool literal = false;
  auto current = [&]() -> String& { return state == 0 ? option.limit : state == 1 ? option.comparison : option.text; };
  const std::int32_t n = style.length();
  for (std::int32_t i = 0; i < n; ++i) {
    const char16_t c = style.charAt(i);
    if (c == kLiteral) {
      if (state == 1) state = 2;
      literal = !literal;
      continue;
    }
    if (literal) {
      current().append(c);
      continue;
    }
    switch (c) {
      case u' ':
        if (state == 1) state = 2;
        if (state == 2) option.text.append(c);
        break;
      case u'#':
      case u'<':
      case u'>':
      case kLessOrEqual:
        if (c == u'<' && state == 1) {
          state = 2;
          option.text.append(c);
        } else if (state == 2) {
          option.text.append(c);
        } else {
          option.comparison.append(c);
          state = 1;
        }
        break;
      case u'|':
        if (state == 0) {
          option.limit.append(c);
          break;
        }
        if (select(arg, out, option)) return true;
        option.limit.truncate(0);
        option.comparison.truncate(0);
        option.text.truncate(0);
        state = 0;
        break;
      default:
        if (state == 1) state = 2;
        current().append(c);
        break;
    }
  }
  return select(arg, out, option);
}

std::int64_t SubformatChoice::limitOf(const String& text) {
  if (!limits_) limits_ = NumberFormat::create(0);
  if (!limits_) return 0;
  const double v = limits_->parse(text, nullptr);
  if (std::isnan(v) || std::fabs(v) > 9.0e18) return 0;
  return static_cast<std::int64_t>(v);
}

bool SubformatChoice::select(const Variant& arg, String& out, const Option& option) {
  const double limit = static_cast<double>(limitOf(option.limit));
  const double x = variantToDouble(arg);
  const int d = x > limit ? 1 : x < limit ? -1 : 0;
  const std::int32_t n = option.comparison.length();
  for (std::int32_t i = 0; i < n; ++i) {
    const char16_t c = option.comparison.charAt(i);
    const bool holds = ((c == u'#' || c == kLessOrEqual) && d == 0) || (c == u'<' && d == 1) || (c == u'>' && d == -1);
    if (holds) {
      out.append(option.text);
      return true;
    }
  }
  return false;
}

// ---- Concord ----------------------------------------------------------------

namespace {
std::atomic<std::int32_t> languageOverride{-1};
}  // namespace

void setPluralLanguageNumberForTests(std::int32_t number) { languageOverride.store(number); }

std::int32_t pluralLanguageNumber() {
  const std::int32_t o = languageOverride.load();
  return o >= 0 ? o : Common::uiLanguageNumber();
}

std::int32_t SubformatConcord::pluralForm(double x, std::int32_t languageNumber) {
  if (languageNumber == 0) {
    if (x != std::trunc(x)) return 1;
    const double a = std::fabs(std::trunc(x));
    const std::int64_t n = static_cast<std::int64_t>(std::fmod(a, 100.0));
    if (n >= 5 && n <= 20) return 2;
    if (n % 10 == 1) return 0;
    if (n % 10 >= 2 && n % 10 <= 4) return 1;
    return 2;
  }
  return x == 1 ? 0 : 1;
}

std::int32_t SubformatConcord::format(const Variant& arg, String& out, const String parts[5]) {
  fallback_.truncate(0);
  form_ = pluralForm(variantToDouble(arg), pluralLanguageNumber());
  if (!choose(arg, out, parts[3])) out.append(fallback_);
  return out.length();
}

bool SubformatConcord::select(const Variant&, String& out, const Option& option) {
  if (limitOf(option.limit) == form_) {
    out.append(option.text);
    return true;
  }
  fallback_ = option.text;
  return false;
}

// ---- Number -----------------------------------------------------------------

std::int32_t SubformatNumber::format(const Variant& arg, String& out, const String parts[5]) {
  const String& style = parts[3];
  std::unique_ptr<NumberFormat> f(style == String(u"integer") ? NumberFormat::createICU(parts[4])
                                  : style == String(u"hex")   ? NumberFormat::create(1)
                                  : style == String(u"simple") ? NumberFormat::create(2)
                                                               : NumberFormat::create(0));
  if (!f) return 0;
  String text;
  if (!f->format(text, arg, 0)) return 0;
  out.append(text);
  return out.length();
}

// ---- Error ------------------------------------------------------------------

std::int32_t SubformatError::format(const Variant& arg, String& out, const String parts[5]) {
  const Common::Error error = arg.asError();
  const String& style = parts[3];
  const std::int32_t before = out.length();
  if (style == String(u"full")) {
    errorPlainText(out, error);
  } else if (style == String(u"code")) {
    out.append(formatMessage1(String(u"0x{0,number,hex}"), Variant(error.code())));
  } else if (style == String(u"tag")) {
    out.append(formatMessage1(String(u"0x{0,number,hex}"), Variant(static_cast<unsigned long long>(error.site()))));
  } else if (style == String(u"message")) {
    out.append(errorOwnMessage(error));
  } else if (style == String(u"field")) {
    out.append(errorFieldText(error, parts[4].toNarrow().c_str(), false));
  }
  return out.length() > before ? out.length() : 0;
}

// ---- Ellipsis ---------------------------------------------------------------

std::int32_t SubformatEllipsis::format(const Variant& arg, String& out, const String parts[5]) {
  const String text = arg.toString();
  const std::int64_t width = readFieldNumber(parts[3]);
  if (width < 4 || text.length() <= width) {
    out.append(text);
    return out.length();
  }
  const std::int32_t room = static_cast<std::int32_t>(width - 3);
  std::int32_t keep = 0;
  std::unique_ptr<BreakIterator> it(BreakIterator::create(1));
  if (it) {
    it->setText(text);
    for (it->next(); it->valid() && it->position() <= room; it->next()) keep = it->position();
  }
  if (keep == 0) {
    keep = room;
    // Never split a surrogate pair.
    if (keep > 1 && U16_IS_LEAD(text.charAt(keep - 1))) --keep;
  }
  out.append(text, 0, keep).append(u"...", 3);
  return out.length();
}

String SubformatPathEllipsis::shorten(const String& path, std::int64_t width) {
  std::int32_t seps[10];
  std::int32_t k = 0;
  for (std::int32_t i = 0; i < path.length() && k < 10; ++i)
    if (path.charAt(i) == u'\\' || path.charAt(i) == u'/') seps[k++] = i;
  // A path that already fits stays as it is.
  if (k < 3 || (width > 0 && path.length() <= width)) return path;
  std::int32_t t = k > 3 ? k - 2 : k - 1;
  String candidate;
  for (;;) {
    for (std::int32_t h = t - 1; h >= 0; --h) {
      candidate.truncate(0);
      candidate.append(path, 0, seps[h] + 1).append(u"...", 3).append(path, seps[t], path.length() - seps[t]);
      if (candidate.length() <= width) return candidate;
    }
    if (t >= k - 1) break;
    t = k - 1;
  }
  return candidate;
}

std::int32_t SubformatPathEllipsis::format(const Variant& arg, String& out, const String parts[5]) {
  out.append(shorten(arg.toString(), readFieldNumber(parts[3])));
  return out.length();
}

}  // namespace Processor
