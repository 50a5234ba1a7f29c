#include "platform/fox/line_break.h"

#include <unicode/brkiter.h>
#include <unicode/uchriter.h>
#include <unicode/utext.h>

#include <memory>

namespace FX {

namespace {

class IcuLineBreakIterator final : public FXLineBreakIterator {
 public:
  explicit IcuLineBreakIterator(icu::BreakIterator* it) : it_(it) {}
  ~IcuLineBreakIterator() override { utext_close(&text_); }

  void setText(const char16_t* text, int length) override {
    UErrorCode status = U_ZERO_ERROR;
    // An open UText is reused: no allocation per call.
    utext_openUChars(&text_, text, length, &status);
    if (U_FAILURE(status)) {
      length_ = 0;
      return;
    }
    it_->setText(&text_, status);
    length_ = U_SUCCESS(status) ? length : 0;
  }
  int following(int offset) override {
    if (offset >= length_) return -1;
    const int32_t next = it_->following(offset);
    return next == icu::BreakIterator::DONE ? -1 : next;
  }

 private:
  std::unique_ptr<icu::BreakIterator> it_;
  UText text_ = UTEXT_INITIALIZER;
  int length_ = 0;
};

}  // namespace

FXLineBreakIterator* getLineBreakIterator(FXApp*) {
  thread_local std::unique_ptr<FXLineBreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createLineInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) return std::unique_ptr<FXLineBreakIterator>();
    return std::unique_ptr<FXLineBreakIterator>(new IcuLineBreakIterator(it.release()));
  }();
  return iterator.get();
}

unsigned int fxparsehotkey(const char16_t* text) {
  if (!text) return 0;
  for (const char16_t* p = text; *p; ++p) {
    if (*p != kHotkeyMarker) continue;
    char16_t c = p[1];
    if (c == 0) return 0;
    if (c == kHotkeyMarker) {  // a doubled marker stands for itself
      ++p;
      continue;
    }
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    // FOX: MKUINT(keysym, ALTMASK); Latin-1 keysyms equal their code points.
    return (0x8u << 16) | c;
  }
  return 0;
}

}  // namespace FX
