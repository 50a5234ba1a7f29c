// The user's number settings (separators, grouping, digits, negative form),
// read once into one process-wide object and read again when the user changes
// the regional settings while the program runs. The change is noticed by an
// invisible top-level window, Processor::lcidControl, made when the program
// starts, that receives the system's WM_SETTINGCHANGE broadcast.
#pragma once

#include <cstdint>
#include <string>

#include "core/object.h"
#include "core/string.h"
#include "core/thread.h"
#include "platform/win32/windows.h"

namespace Processor {

// A NUMBERFMTW with its own copies of the separator texts, so that it stays
// valid whatever happens to the settings it came from.
class NumberRecord {
 public:
  NumberRecord() { point(); }
  NumberRecord(const NUMBERFMTW& format, std::u16string decimal, std::u16string thousand)
      : format_(format), decimal_(std::move(decimal)), thousand_(std::move(thousand)) {
    point();
  }
  NumberRecord(const NumberRecord& o) : format_(o.format_), decimal_(o.decimal_), thousand_(o.thousand_) { point(); }
  NumberRecord& operator=(const NumberRecord& o) {
    format_ = o.format_;
    decimal_ = o.decimal_;
    thousand_ = o.thousand_;
    point();
    return *this;
  }

  const NUMBERFMTW* get() const noexcept { return &format_; }
  // The fraction digits may be changed per call.
  void setDigits(UINT digits) noexcept { format_.NumDigits = digits; }

 private:
  void point() noexcept {
    format_.lpDecimalSep = decimal_.data();
    format_.lpThousandSep = thousand_.data();
  }
  NUMBERFMTW format_{};
  std::u16string decimal_, thousand_;
};

// A copy of every setting, taken at one moment.
struct NumberSettings {
  std::uint32_t grouping = 3;  // as NUMBERFMTW Grouping: 3, 2 or 32
  std::uint32_t leadingZero = 0;
  String decimalSeparator;
  String thousandsSeparator;
  std::uint32_t negativeNumberMode = 0;  // LOCALE_INEGNUMBER, 0 to 4
  std::uint32_t fractionDigits = 0;
  String negativeSign;
  String positiveSign;
  String nativeDigits;  // ten characters for 0 to 9
  std::uint32_t negativeForm = 0;  // 0 sign before, 1 sign after, 2 parentheses
  bool valid = false;  // the last reading succeeded completely
  std::uint16_t language = 0;  // the locale for GetNumberFormatW
};

class NumberFormatWinOptions : public RefObject, public ProtectedObject {
 public:
  // The process's one settings object (made and read on first use).
  static RefPtr<NumberFormatWinOptions> instance();

  // Reads every setting again; the first failing read leaves the settings
  // invalid with the values read so far.
  void reload();

  // Copies of the cached records (built on first request), separator texts
  // included, taken under the object's lock: a reload on another thread never
  // changes what a caller holds.
  NumberRecord decimalRecord();
  NumberRecord integerRecord();
  NumberSettings snapshot() const;

 protected:
  NumberFormatWinOptions();
  ~NumberFormatWinOptions() override;

 private:
  NUMBERFMTW* build(UINT digits);

  NumberSettings values_;
  NUMBERFMTW* decimal_ = nullptr;  // owned; null until requested
  NUMBERFMTW* integer_ = nullptr;  // owned; null until requested
  // The texts the records point into; rewritten only together with them.
  std::u16string decimalText_, thousandText_;
};

class LcidControl : public ProtectedObject {
 public:
  LcidControl();
  ~LcidControl() override;

  // The settings, after a settings change waiting in the calling thread's
  // queue for the window has been applied.
  RefPtr<NumberFormatWinOptions> settings();
  HWND window() const noexcept { return window_; }

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  HWND window_ = nullptr;
};

// Made by a static initialiser on the thread that runs them (the main thread).
extern LcidControl* lcidControl;

}  // namespace Processor
