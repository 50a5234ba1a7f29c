#include "core/number_settings.h"

#include <vector>

#include "core/singleton.h"
#include "system/layer.h"
#include "system/locks.h"
#include "system/number_text.h"

namespace Processor {

namespace {

constexpr char kClassName[] = "KorvaneFormatHandler";

// One setting as text; false when it cannot be read.
bool read_text(LCTYPE type, std::u16string& out) {
  if (!Windows::layer) return false;
  const int size = Windows::layer->GetLocaleInfoW(LOCALE_USER_DEFAULT, type, nullptr, 0);
  if (size <= 0) return false;
  std::vector<WCHAR> buffer(static_cast<std::size_t>(size));
  const int n = Windows::layer->GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer.data(), size);
  if (n <= 0) return false;
  out.assign(buffer.data(), static_cast<std::size_t>(n - 1));
  return true;
}

bool read_number(LCTYPE type, std::uint32_t& out) {
  std::u16string text;
  std::uint64_t value = 0;
  if (!read_text(type, text) || !Common::parseNumberW(&value, text.c_str(), 10) || value > 0x7FFFFFFF) return false;
  out = static_cast<std::uint32_t>(value);
  return true;
}

bool read_string(LCTYPE type, String& out) {
  std::u16string text;
  if (!read_text(type, text)) return false;
  out = String(text.data(), static_cast<int32_t>(text.size()));
  return true;
}

std::u16string copy(const String& s) { return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length())); }

}  // namespace

RefPtr<NumberFormatWinOptions> NumberFormatWinOptions::instance() {
  return Singleton<NumberFormatWinOptions, 1>::instance();
}

NumberFormatWinOptions::NumberFormatWinOptions() { reload(); }

NumberFormatWinOptions::~NumberFormatWinOptions() {
  delete decimal_;
  delete integer_;
}

void NumberFormatWinOptions::reload() {
  Common::CriticalSectionLock hold(lock());
  delete decimal_;
  delete integer_;
  decimal_ = integer_ = nullptr;
  NumberSettings& v = values_;
  v.valid = false;
  v.language = GetUserDefaultLangID();

  std::u16string grouping;
  if (!read_text(LOCALE_SGROUPING, grouping)) return;
  v.grouping = grouping == u"3;2;0" ? 32 : grouping == u"2" ? 2 : 3;
  if (!read_number(LOCALE_ILZERO, v.leadingZero)) return;
  if (!read_string(LOCALE_SDECIMAL, v.decimalSeparator)) return;
  if (!read_string(LOCALE_STHOUSAND, v.thousandsSeparator)) return;
  if (!read_number(LOCALE_INEGNUMBER, v.negativeNumberMode)) return;
  if (!read_string(LOCALE_SNEGATIVESIGN, v.negativeSign)) return;
  if (!read_string(LOCALE_SPOSITIVESIGN, v.positiveSign)) return;
  if (!read_string(LOCALE_SNATIVEDIGITS, v.nativeDigits)) return;
  if (!read_number(LOCALE_IDIGITS, v.fractionDigits)) return;
  if (v.negativeNumberMode > 4) return;
  v.negativeForm = v.negativeNumberMode == 0 ? 2 : v.negativeNumberMode >= 3 ? 1 : 0;
  v.valid = true;
}

NUMBERFMTW* NumberFormatWinOptions::build(UINT digits) {
  decimalText_ = copy(values_.decimalSeparator);
  thousandText_ = copy(values_.thousandsSeparator);
  // Both records point into these texts: re-point the one already built.
  for (NUMBERFMTW* r : {decimal_, integer_}) {
    if (!r) continue;
    r->lpDecimalSep = decimalText_.data();
    r->lpThousandSep = thousandText_.data();
  }
  return new NUMBERFMTW{digits, values_.leadingZero, values_.grouping, decimalText_.data(), thousandText_.data(),
                        values_.negativeNumberMode};
}

NumberRecord NumberFormatWinOptions::decimalRecord() {
  Common::CriticalSectionLock hold(lock());
  if (!decimal_) decimal_ = build(values_.fractionDigits);
  return NumberRecord(*decimal_, decimal_->lpDecimalSep, decimal_->lpThousandSep);
}

NumberRecord NumberFormatWinOptions::integerRecord() {
  Common::CriticalSectionLock hold(lock());
  if (!integer_) integer_ = build(0);
  return NumberRecord(*integer_, integer_->lpDecimalSep, integer_->lpThousandSep);
}

NumberSettings NumberFormatWinOptions::snapshot() const {
  Common::CriticalSectionLock hold(lock());
  return values_;
}

// ---------------------------------------------------------------- the window

LcidControl* lcidControl = nullptr;

namespace {
// The tracking window lives from static initialisation to the end of the program.
struct LcidControlOwner {
  LcidControlOwner() { lcidControl = new LcidControl; }
  ~LcidControlOwner() {
    delete lcidControl;
    lcidControl = nullptr;
  }
} lcid_control_owner;
}  // namespace

LcidControl::LcidControl() {
  HINSTANCE self = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  if (!GetClassInfoA(self, kClassName, &wc)) {
    wc = WNDCLASSA{};
    wc.lpfnWndProc = &LcidControl::procedure;
    wc.hInstance = self;
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);
  }
  window_ = CreateWindowExA(0, kClassName, nullptr, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, self, this);
  if (window_) SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

LcidControl::~LcidControl() {
  if (window_) DestroyWindow(window_);
  UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
}

LRESULT CALLBACK LcidControl::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTINGCHANGE) {
    RefPtr<NumberFormatWinOptions> options = NumberFormatWinOptions::instance();
    if (!options) throwNullReference();
    options->reload();
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

RefPtr<NumberFormatWinOptions> LcidControl::settings() {
  Common::CriticalSectionLock hold(lock());
  RefPtr<NumberFormatWinOptions> options = NumberFormatWinOptions::instance();
  if (!options) throwNullReference();
  MSG message;
  if (window_ && PeekMessageW(&message, window_, 0, 0, PM_REMOVE) && message.message == WM_SETTINGCHANGE)
    options->reload();
  return options;
}

}  // namespace Processor
