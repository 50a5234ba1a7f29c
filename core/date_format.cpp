#include "core/date_format.h"

#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "core/subformats.h"
#include "platform/win32/windows.h"
#include "system/layer.h"

namespace Processor {

namespace {

constexpr std::int64_t kEpochTicks = 116444736000000000LL;  // 1970-01-01 in FILETIME units
constexpr std::int64_t kTicksPerMinute = 600000000LL;

std::int64_t ticksOf(const FILETIME& ft) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}
FILETIME fileTimeOf(std::int64_t ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks));
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  return ft;
}

// Whole milliseconds in integers: a double product loses ticks past about
// the year 5254, which shows as the second before.
bool ticksFromMilliseconds(double ms, std::int64_t& ticks) {
  if (std::isnan(ms)) return false;
  constexpr std::int64_t kLowest = -(kEpochTicks / 10000);
  constexpr std::int64_t kHighest = (INT64_MAX - kEpochTicks) / 10000 - 1;
  const double whole = std::floor(ms);
  if (whole < static_cast<double>(kLowest) || whole > static_cast<double>(kHighest)) return false;
  const auto wholeMs = static_cast<std::int64_t>(whole);
  const auto part = static_cast<std::int64_t>((ms - whole) * 10000.0);
  ticks = wholeMs * 10000 + kEpochTicks + part;
  return ticks >= 0;
}

std::uint32_t pack(WORD month, WORD day, WORD hour) {
  return static_cast<std::uint32_t>(month) << 16 | static_cast<std::uint32_t>(day) << 8 | hour;
}

WORD daysInMonth(WORD year, WORD month) {
  static const WORD days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return month >= 1 && month <= 12 ? days[month - 1] : 0;
}

// Whether daylight time applies at the local standard time `st`.
bool inDaylightTime(const TIME_ZONE_INFORMATION& tz, const SYSTEMTIME& st) {
  if (!tz.StandardDate.wMonth || !tz.DaylightDate.wMonth || !tz.DaylightBias) return false;
  const std::uint32_t start =
      pack(tz.DaylightDate.wMonth, DateTimeWinBase::transitionDay(st.wYear, tz.DaylightDate), tz.DaylightDate.wHour);
  const std::uint32_t end =
      pack(tz.StandardDate.wMonth, DateTimeWinBase::transitionDay(st.wYear, tz.StandardDate), tz.StandardDate.wHour);
  const std::uint32_t now = pack(st.wMonth, st.wDay, st.wHour);
  return start < end ? (start <= now && now < end) : (now >= start || now < end);
}

bool digitAt(const String& text, std::int32_t i, std::int32_t& value) {
  if (i >= text.length()) return false;
  const char16_t c = text.charAt(i);
  if (!IsCharAlphaNumericW(c) || IsCharAlphaW(c) || c < u'0' || c > u'9') return false;
  value = c - u'0';
  return true;
}

bool startsWithNoCase(const String& text, std::int32_t pos, const String& name) {
  const std::int32_t n = name.length();
  if (n == 0 || text.length() - pos < n) return false;
  return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, reinterpret_cast<LPCWSTR>(text.getBuffer() + pos), n,
                        reinterpret_cast<LPCWSTR>(name.getBuffer()), n) == CSTR_EQUAL;
}

String localeText(LCTYPE type) {
  WCHAR buf[100];
  const int n = Windows::layer ? Windows::layer->GetLocaleInfoW(GetThreadLocale(), type, buf, 100) : 0;
  return n > 0 ? String(reinterpret_cast<const char16_t*>(buf), n - 1) : String();
}

const char16_t* const kTokens[18] = {u"yyyy", u"yy", u"y",  u"dddd", u"ddd", u"dd", u"d",  u"MMMM", u"MMM",
                                     u"MM",   u"M",  u"HH", u"H",    u"hh",  u"h",  u"mm", u"ss",   u"tt"};
constexpr int kLiteralToken = 18;

struct Token {
  int id;
  String literal;
};

std::vector<Token> tokenize(const String& pattern) {
  std::vector<Token> tokens;
  auto literal = [&](char16_t c) {
    if (tokens.empty() || tokens.back().id != kLiteralToken) tokens.push_back({kLiteralToken, String()});
    tokens.back().literal.append(c);
  };
  bool quoted = false;
  const std::int32_t n = pattern.length();
  for (std::int32_t i = 0; i < n;) {
    const char16_t c = pattern.charAt(i);
    if (c == u'\'') {
      quoted = !quoted;
      ++i;
      continue;
    }
    if (quoted) {
      literal(c);
      ++i;
      continue;
    }
    int found = -1;
    for (int t = 0; t < 18 && found < 0; ++t) {
      const String token(kTokens[t]);
      if (pattern.compare(i, token.length(), token) == 0) found = t;
    }
    if (found < 0) {
      literal(c);
      ++i;
    } else {
      tokens.push_back({found, String()});
      i += static_cast<std::int32_t>(std::char_traits<char16_t>::length(kTokens[found]));
    }
  }
  return tokens;
}

}  // namespace

WORD DateTimeWinBase::transitionDay(WORD year, const SYSTEMTIME& transition) {
  // Day of the week of the 1st (Sakamoto's method; 0 = Sunday).
  static const int offsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  const int m = transition.wMonth >= 1 && transition.wMonth <= 12 ? transition.wMonth : 1;
  int y = year;
  if (m < 3) y -= 1;
  const int firstDow = (y + y / 4 - y / 100 + y / 400 + offsets[m - 1] + 1) % 7;
  int day = 1 + (transition.wDayOfWeek - firstDow + 7) % 7 + (transition.wDay > 0 ? transition.wDay - 1 : 0) * 7;
  while (day > daysInMonth(year, static_cast<WORD>(m))) day -= 7;
  return static_cast<WORD>(day);
}

bool DateTimeWinBase::toLocalTime(double milliseconds, SYSTEMTIME& out) {
  std::int64_t ticks;
  if (!ticksFromMilliseconds(milliseconds, ticks)) return false;
  TIME_ZONE_INFORMATION tz;
  if (GetTimeZoneInformation(&tz) == TIME_ZONE_ID_INVALID) return false;
  ticks -= tz.Bias * kTicksPerMinute;
  FILETIME ft = fileTimeOf(ticks);
  if (!FileTimeToSystemTime(&ft, &out)) return false;
  if (inDaylightTime(tz, out)) {
    ticks -= tz.DaylightBias * kTicksPerMinute;
    ft = fileTimeOf(ticks);
    if (!FileTimeToSystemTime(&ft, &out)) return false;
  }
  return true;
}

bool DateTimeWinBase::fromLocalTime(const SYSTEMTIME& local, double& milliseconds) {
  FILETIME ft;
  if (!SystemTimeToFileTime(&local, &ft)) return false;
  std::int64_t ticks = ticksOf(ft);
  TIME_ZONE_INFORMATION tz;
  if (GetTimeZoneInformation(&tz) != TIME_ZONE_ID_INVALID) {
    ticks += tz.Bias * kTicksPerMinute;
    if (inDaylightTime(tz, local)) ticks += tz.DaylightBias * kTicksPerMinute;
  }
  milliseconds = static_cast<double>((ticks - kEpochTicks) / 10000);
  return true;
}

const String& DateTimeWinBase::datePattern() {
  if (datePattern_.isEmpty()) {
    if (style_ == 0)
      datePattern_ = localeText(LOCALE_SSHORTDATE);
    else if (style_ >= 1 && style_ <= 3)
      datePattern_ = localeText(LOCALE_SLONGDATE);
    else if (style_ == 4)
      datePattern_ = String(u"yyyy-MM-dd");
  }
  return datePattern_;
}

const String& DateTimeWinBase::timePattern() {
  if (timePattern_.isEmpty()) {
    if (style_ >= 0 && style_ <= 3)
      timePattern_ = localeText(LOCALE_STIMEFORMAT);
    else if (style_ == 4)
      timePattern_ = String(u"HH:mm:ss");
  }
  return timePattern_;
}

bool DateTimeWinBase::fields(double date, SYSTEMTIME& out) {
  if (style_ == 4) {
    std::int64_t ticks;
    if (!ticksFromMilliseconds(date, ticks)) return false;
    const FILETIME ft = fileTimeOf(ticks);
    return FileTimeToSystemTime(&ft, &out) != FALSE;
  }
  return toLocalTime(date, out);
}

std::int32_t DateTimeWinBase::formatDate(String& out, double date) {
  const String& pattern = datePattern();
  SYSTEMTIME st;
  if (pattern.isEmpty() || !fields(date, st)) return 0;
  WCHAR buf[100];
  if (!Windows::layer) return 0;
  const int n = Windows::layer->GetDateFormatW(
      GetThreadLocale(), 0, &st, reinterpret_cast<LPCWSTR>(String(pattern).getTerminatedBuffer()), buf, 100);
  if (n <= 0) return 0;
  out.append(reinterpret_cast<const char16_t*>(buf), n - 1);
  return n - 1;
}

std::int32_t DateTimeWinBase::formatTime(String& out, double date) {
  // Style 4 names its zone; "UTC" (older versions wrote "UNC", still read).
  const String pattern = style_ == 4 ? String(u"HH:mm:ss 'UTC'") : timePattern();
  SYSTEMTIME st;
  if (pattern.isEmpty() || !fields(date, st)) return 0;
  WCHAR buf[100];
  if (!Windows::layer) return 0;
  const int n = Windows::layer->GetTimeFormatW(
      GetThreadLocale(), 0, &st, reinterpret_cast<LPCWSTR>(String(pattern).getTerminatedBuffer()), buf, 100);
  if (n <= 0) return 0;
  out.append(reinterpret_cast<const char16_t*>(buf), n - 1);
  return n - 1;
}

std::int32_t DateTimeWinBase::parsePattern(const String& text, const String& pattern, double* date) {
  SYSTEMTIME st;
  if (style_ == 4)
    GetSystemTime(&st);
  else
    GetLocalTime(&st);
  const std::vector<Token> tokens = tokenize(pattern);
  const std::int32_t n = text.length();
  std::int32_t pos = 0;
  while (pos < n && !IsCharAlphaNumericW(text.charAt(pos))) ++pos;
  int designator = 0;  // 1 AM, 2 PM
  const LCID lcid = GetThreadLocale();
  for (const Token& t : tokens) {
    if (pos >= n) break;
    const String& id = t.id < 18 ? String(kTokens[t.id]) : t.literal;
    std::int32_t d1 = 0, d2 = 0;
    switch (t.id) {
      case 0:
      case 1: {
        const std::int32_t want = t.id == 0 ? 4 : 2;
        if (n - pos < want) return -2;
        std::int32_t v = 0;
        for (std::int32_t i = 0; i < want; ++i) {
          if (!digitAt(text, pos + i, d1)) return -1;
          v = v * 10 + d1;
        }
        st.wYear = static_cast<WORD>(v);
        pos += want;
        break;
      }
      case 2:
      case 6:
      case 10: {
        if (!digitAt(text, pos, d1)) return -1;
        std::int32_t v = d1;
        ++pos;
        if (d1 != 0 && digitAt(text, pos, d2)) v = v * 10 + d2, ++pos;
        if (t.id == 6 && v > 31) return -2;
        if (t.id == 10 && v > 13) return -2;
        (t.id == 2 ? st.wYear : t.id == 6 ? st.wDay : st.wMonth) = static_cast<WORD>(v);
        break;
      }
      case 5:
      case 9: {
        if (!digitAt(text, pos, d1) || !digitAt(text, pos + 1, d2)) return -1;
        const std::int32_t v = d1 * 10 + d2;
        if (v > (t.id == 5 ? 31 : 13)) return -2;
        (t.id == 5 ? st.wDay : st.wMonth) = static_cast<WORD>(v);
        pos += 2;
        break;
      }
      case 11:
      case 12:
      case 13:
      case 14:
      case 15:
      case 16: {
        if (!digitAt(text, pos, d1)) return -1;
        std::int32_t v = d1;
        ++pos;
        if (digitAt(text, pos, d2)) v = v * 10 + d2, ++pos;
        if (t.id <= 14) {
          if (v >= 24) return -2;
          st.wHour = static_cast<WORD>(v);
        } else {
          if (v > 59) return -2;
          (t.id == 15 ? st.wMinute : st.wSecond) = static_cast<WORD>(v);
        }
        break;
      }
      case 3:
      case 4: {
        bool found = false;
        for (int i = 0; i < 7 && !found; ++i) {
          const String name = localeText((t.id == 3 ? LOCALE_SDAYNAME1 : LOCALE_SABBREVDAYNAME1) + i);
          if (startsWithNoCase(text, pos, name)) {
            st.wDayOfWeek = static_cast<WORD>((i + 1) % 7);
            pos += name.length();
            found = true;
          }
        }
        if (!found) return -1;
        break;
      }
      case 7: {
        bool found = false;
        for (WORD m = 1; m <= 13 && !found; ++m) {
          // Genitive names: "ddMMMM" of the 1st less the two day digits.
          SYSTEMTIME first = {};
          first.wYear = 2006;
          first.wMonth = m;
          first.wDay = 1;
          WCHAR buf[100];
          const int k = Windows::layer ? Windows::layer->GetDateFormatW(lcid, 0, &first,
                                                                        reinterpret_cast<LPCWSTR>(u"ddMMMM"), buf, 100)
                                       : 0;
          if (k > 3) {
            const String name(reinterpret_cast<const char16_t*>(buf) + 2, k - 3);
            if (startsWithNoCase(text, pos, name)) st.wMonth = m, pos += name.length(), found = true;
          }
        }
        for (WORD m = 1; m <= 13 && !found; ++m) {
          const String name = localeText(m <= 12 ? LOCALE_SMONTHNAME1 + m - 1 : LOCALE_SMONTHNAME13);
          if (startsWithNoCase(text, pos, name)) st.wMonth = m, pos += name.length(), found = true;
        }
        if (!found) return -1;
        break;
      }
      case 8: {
        bool found = false;
        for (WORD m = 1; m <= 12 && !found; ++m) {
          const String name = localeText(LOCALE_SABBREVMONTHNAME1 + m - 1);
          if (startsWithNoCase(text, pos, name)) st.wMonth = m, pos += name.length(), found = true;
        }
        if (!found) return -1;
        break;
      }
      case 17: {
        String am = localeText(LOCALE_S1159), pm = localeText(LOCALE_S2359);
        if (am.isEmpty()) am = String(u"AM");
        if (pm.isEmpty()) pm = String(u"PM");
        if (startsWithNoCase(text, pos, am))
          designator = 1, pos += am.length();
        else if (startsWithNoCase(text, pos, pm))
          designator = 2, pos += pm.length();
        else
          return -1;
        break;
      }
      default:
        if (text.compare(pos, id.length(), id) != 0) return -1;
        pos += id.length();
        break;
    }
  }
  if (designator) {
    if (st.wHour < 1 || st.wHour > 12) return -2;
    if (designator == 1 && st.wHour == 12) st.wHour = 0;
    if (designator == 2 && st.wHour < 12) st.wHour = static_cast<WORD>(st.wHour + 12);
  }
  // Fields that name no calendar date (day 0, month 13, a two-digit year) fail.
  double ms;
  if (style_ == 4) {
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft)) return -2;
    ms = static_cast<double>((ticksOf(ft) - kEpochTicks) / 10000);
  } else if (!fromLocalTime(st, ms)) {
    return -2;
  }
  *date = ms;
  return 0;
}

// ---- The formatter ----------------------------------------------------------

DateFormatWin* DateFormat::createDate(std::int32_t style) { return new (std::nothrow) DateFormatWin(style, 0); }
DateFormatWin* DateFormat::createDateTime(std::int32_t style) { return new (std::nothrow) DateFormatWin(style, 1); }
DateFormatWin* DateFormat::createTime(std::int32_t style) { return new (std::nothrow) DateFormatWin(style, 2); }

std::int32_t DateFormatWin::format(String& out, double date) {
  out.truncate(0);
  if (mode_ == 0) return formatDate(out, date);
  if (mode_ == 2) return formatTime(out, date);
  const std::int32_t d = formatDate(out, date);
  out.append(u' ');
  const std::int32_t t = formatTime(out, date);
  if (!d || !t) {
    out.truncate(0);
    return 0;
  }
  return out.length();
}

std::int32_t DateFormatWin::parse(const String& text, double* date) {
  std::vector<String> patterns;
  if (mode_ == 0) {
    patterns.push_back(datePattern());
  } else if (mode_ == 2) {
    patterns = {String(u"HH:mm:ss tt"), String(u"HH:mm tt"), String(u"HH tt"), timePattern()};
  } else if (style_ != 4) {
    patterns.push_back(String(datePattern()).append(u' ').append(timePattern()));
  } else {
    const String& d = datePattern();
    patterns = {String(d).append(u" HH:mm:ss 'UTC'"),
                String(d).append(u" HH:mm:ss 'UNC'"),
                String(d).append(u" HH:mm:ss"),
                String(d).append(u"'T'HH:mm:ss"),
                String(u"HH:mm:ss"),
                String(u"HH:mm:ss tt"),
                String(u"HH:mm tt")};
  }
  for (const String& p : patterns) {
    if (p.isEmpty()) continue;
    double value;
    const std::int32_t r = parsePattern(text, p, &value);
    if (r == 0) {
      *date = value;
      return 0;
    }
    if (r == -2) break;
  }
  return -1;
}

std::int32_t DateFormatWin::formatBuffer(char16_t* buffer, std::int32_t capacity, double date) {
  String s;
  const std::int32_t n = format(s, date);
  const std::int32_t k = n < capacity ? n : (capacity < 0 ? 0 : capacity);
  for (std::int32_t i = 0; i < k; ++i) buffer[i] = s.charAt(i);
  return n;
}

std::int32_t DateFormatWin::parseSeconds(const String& text, std::int64_t* seconds) {
  double ms;
  const std::int32_t r = parse(text, &ms);
  if (r == 0) *seconds = static_cast<std::int64_t>(ms / 1000.0);
  return r;
}

// ---- Message kinds "date", "time", "date_time" -----------------------------

SubformatDate::~SubformatDate() { delete cached_; }

std::int32_t SubformatDate::format(const Variant& arg, String& out, const String parts[5]) {
  const String& s = parts[3];
  const std::int32_t style = s == String(u"full") ? 3 : s == String(u"long") ? 2 : s == String(u"medium") ? 1 : 0;
  if (style != style_) {
    delete cached_;
    cached_ = nullptr;
    style_ = style;
  }
  if (!cached_)
    cached_ = kindMode_ == 0   ? DateFormat::createDate(style_)
              : kindMode_ == 1 ? DateFormat::createTime(style_)
                               : DateFormat::createDateTime(style_);
  double ms;
  switch (arg.type()) {
    case Variant::TDate:
    case Variant::TDouble:
      ms = arg.rawDouble();
      break;
    case Variant::TLong:
      ms = arg.rawLong() * 1000.0;
      break;
    case Variant::TULong:
      ms = arg.rawULong() * 1000.0;
      break;
    case Variant::TLong64:
      ms = static_cast<double>(arg.rawLong64());
      break;
    case Variant::TULong64:
      ms = static_cast<double>(arg.rawULong64());
      break;
    case Variant::TString:
      out.append(*arg.rawString());
      return out.length();
    default:
      out.append(u"<invalid date>");
      return out.length();
  }
  String text;
  if (!cached_ || !cached_->format(text, ms)) return 0;
  out.append(text);
  return out.length();
}

}  // namespace Processor
