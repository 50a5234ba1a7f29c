// Fixture for the value and format tests: English (United States) as the
// user's and the thread's locale, and a fixed time zone (UTC+1 without
// daylight time unless a test picks another).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "core/message_format.h"
#include "core/string.h"
#include "core/subformats.h"
#include "core/variant.h"
#include "platform/win32/windows.h"
#include "platform/win32/testing/locale_testing.h"

namespace values_test {

inline TIME_ZONE_INFORMATION utcPlusOne() {
  TIME_ZONE_INFORMATION tz = {};
  tz.Bias = -60;
  return tz;
}

// Sydney: UTC+10, daylight time (UTC+11) from the first Sunday of October,
// 2:00, to the first Sunday of April, 3:00.
inline TIME_ZONE_INFORMATION sydney() {
  TIME_ZONE_INFORMATION tz = {};
  tz.Bias = -600;
  tz.DaylightBias = -60;
  tz.DaylightDate.wMonth = 10;
  tz.DaylightDate.wDay = 1;
  tz.DaylightDate.wDayOfWeek = 0;
  tz.DaylightDate.wHour = 2;
  tz.StandardDate.wMonth = 4;
  tz.StandardDate.wDay = 1;
  tz.StandardDate.wDayOfWeek = 0;
  tz.StandardDate.wHour = 3;
  return tz;
}

inline std::string utf8(const icu::UnicodeString& s) {
  std::string out;
  s.toUTF8String(out);
  return out;
}

class Values : public ::testing::Test {
 protected:
  void SetUp() override {
    win32::set_user_locale_for_tests(0);
    settingsChanged();
    SetThreadLocale(0x0409);
    useZone(utcPlusOne(), TIME_ZONE_ID_UNKNOWN);
  }
  void TearDown() override {
    win32::set_time_zone_for_tests(nullptr);
    win32::set_user_locale_for_tests(0);
    settingsChanged();
    SetThreadLocale(0x0409);
    Processor::setPluralLanguageNumberForTests(-1);
  }
  // What the system does after the user changed the regional settings.
  static void settingsChanged() {
    static const char16_t intl[] = u"intl";
    SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(intl));
  }
  static void useZone(const TIME_ZONE_INFORMATION& tz, DWORD id = TIME_ZONE_ID_STANDARD) {
    win32::set_time_zone_for_tests(&tz, id);
  }

  // Formats with a formatter kept by the fixture (as callers keep one).
  template <class... A>
  std::string fmt(const char16_t* pattern, const A&... args) {
    const Processor::Variant list[] = {Processor::Variant(), Processor::Variant(args)...};
    Processor::String out;
    formatter_.format(out, Processor::String(pattern), list + 1, sizeof...(A));
    return utf8(out);
  }

  Processor::MessageFormatImpl formatter_;
};

// Milliseconds since 1970 of a UTC date and time.
inline double utcMs(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  using namespace std::chrono;
  const sys_days day{year{y} / month{static_cast<unsigned>(mo)} / static_cast<unsigned>(d)};
  return static_cast<double>(day.time_since_epoch().count()) * 86400000.0 + ((h * 60 + mi) * 60 + s) * 1000.0;
}

}  // namespace values_test
