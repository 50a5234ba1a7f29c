// Locale settings, names and the number, date and time pictures.
#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/uchar.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/locale.h"
#include "platform/win32/kernel32/locale_internal.h"
#include "platform/win32/testing/locale_testing.h"
#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/wintime.h"

namespace {

constexpr LCID kEnUs = 0x0409;
constexpr LCID kDeDe = 0x0407;
constexpr LCID kInvariant = 0x007F;

struct Fixed {
  LCID lcid;
  LCTYPE type;
  const char16_t* value;
};

// Windows' own answers where ICU has no counterpart or says it differently.
constexpr Fixed kFixed[] = {
    {kEnUs, LOCALE_ILANGUAGE, u"0409"},
    {kEnUs, LOCALE_SABBREVLANGNAME, u"ENU"},
    {kEnUs, LOCALE_ICOUNTRY, u"1"},
    {kEnUs, LOCALE_SABBREVCTRYNAME, u"USA"},
    {kEnUs, LOCALE_IDEFAULTLANGUAGE, u"0409"},
    {kEnUs, LOCALE_IDEFAULTCOUNTRY, u"1"},
    {kEnUs, LOCALE_IDEFAULTCODEPAGE, u"437"},
    {kEnUs, LOCALE_IDEFAULTANSICODEPAGE, u"1252"},
    {kEnUs, LOCALE_SLIST, u","},
    {kEnUs, LOCALE_IMEASURE, u"1"},
    {kEnUs, LOCALE_IDIGITS, u"2"},
    {kEnUs, LOCALE_ILZERO, u"1"},
    {kEnUs, LOCALE_INEGNUMBER, u"1"},
    {kEnUs, LOCALE_SCURRENCY, u"$"},
    {kEnUs, LOCALE_SINTLSYMBOL, u"USD"},
    {kEnUs, LOCALE_ICURRDIGITS, u"2"},
    {kEnUs, LOCALE_ICURRENCY, u"0"},
    {kEnUs, LOCALE_INEGCURR, u"0"},
    {kEnUs, LOCALE_SDATE, u"/"},
    {kEnUs, LOCALE_STIME, u":"},
    {kEnUs, LOCALE_SSHORTDATE, u"M/d/yyyy"},
    {kEnUs, LOCALE_SLONGDATE, u"dddd, MMMM d, yyyy"},
    {kEnUs, LOCALE_STIMEFORMAT, u"h:mm:ss tt"},
    {kEnUs, LOCALE_SSHORTTIME, u"h:mm tt"},
    {kEnUs, LOCALE_SYEARMONTH, u"MMMM yyyy"},
    {kEnUs, LOCALE_IDATE, u"0"},
    {kEnUs, LOCALE_ILDATE, u"0"},
    {kEnUs, LOCALE_ITIME, u"0"},
    {kEnUs, LOCALE_ICENTURY, u"1"},
    {kEnUs, LOCALE_ITLZERO, u"0"},
    {kEnUs, LOCALE_IDAYLZERO, u"0"},
    {kEnUs, LOCALE_IMONLZERO, u"0"},
    {kEnUs, LOCALE_S1159, u"AM"},
    {kEnUs, LOCALE_S2359, u"PM"},
    {kEnUs, LOCALE_IFIRSTDAYOFWEEK, u"6"},
    {kEnUs, LOCALE_IFIRSTWEEKOFYEAR, u"0"},
    {kEnUs, LOCALE_SENGLANGUAGE, u"English"},
    {kEnUs, LOCALE_SENGCOUNTRY, u"United States"},

    {kDeDe, LOCALE_ILANGUAGE, u"0407"},
    {kDeDe, LOCALE_SABBREVLANGNAME, u"DEU"},
    {kDeDe, LOCALE_ICOUNTRY, u"49"},
    {kDeDe, LOCALE_SABBREVCTRYNAME, u"DEU"},
    {kDeDe, LOCALE_IDEFAULTLANGUAGE, u"0407"},
    {kDeDe, LOCALE_IDEFAULTCOUNTRY, u"49"},
    {kDeDe, LOCALE_IDEFAULTCODEPAGE, u"850"},
    {kDeDe, LOCALE_IDEFAULTANSICODEPAGE, u"1252"},
    {kDeDe, LOCALE_SLIST, u";"},
    {kDeDe, LOCALE_IMEASURE, u"0"},
    {kDeDe, LOCALE_IDIGITS, u"2"},
    {kDeDe, LOCALE_ILZERO, u"1"},
    {kDeDe, LOCALE_INEGNUMBER, u"1"},
    {kDeDe, LOCALE_SCURRENCY, u"\u20ac"},
    {kDeDe, LOCALE_SINTLSYMBOL, u"EUR"},
    {kDeDe, LOCALE_ICURRDIGITS, u"2"},
    {kDeDe, LOCALE_ICURRENCY, u"3"},
    {kDeDe, LOCALE_INEGCURR, u"8"},
    {kDeDe, LOCALE_SDATE, u"."},
    {kDeDe, LOCALE_STIME, u":"},
    {kDeDe, LOCALE_SSHORTDATE, u"dd.MM.yyyy"},
    {kDeDe, LOCALE_SLONGDATE, u"dddd, d. MMMM yyyy"},
    {kDeDe, LOCALE_STIMEFORMAT, u"HH:mm:ss"},
    {kDeDe, LOCALE_SSHORTTIME, u"HH:mm"},
    {kDeDe, LOCALE_SYEARMONTH, u"MMMM yyyy"},
    {kDeDe, LOCALE_IDATE, u"1"},
    {kDeDe, LOCALE_ILDATE, u"1"},
    {kDeDe, LOCALE_ITIME, u"1"},
    {kDeDe, LOCALE_ICENTURY, u"1"},
    {kDeDe, LOCALE_ITLZERO, u"1"},
    {kDeDe, LOCALE_IDAYLZERO, u"1"},
    {kDeDe, LOCALE_IMONLZERO, u"1"},
    {kDeDe, LOCALE_S1159, u""},
    {kDeDe, LOCALE_S2359, u""},
    {kDeDe, LOCALE_IFIRSTDAYOFWEEK, u"0"},
    {kDeDe, LOCALE_IFIRSTWEEKOFYEAR, u"2"},
    {kDeDe, LOCALE_SENGLANGUAGE, u"German"},
    {kDeDe, LOCALE_SENGCOUNTRY, u"Germany"},
    {kDeDe, LOCALE_SABBREVDAYNAME1, u"Mo"},
    {kDeDe, LOCALE_SABBREVDAYNAME2, u"Di"},
    {kDeDe, LOCALE_SABBREVDAYNAME3, u"Mi"},
    {kDeDe, LOCALE_SABBREVDAYNAME4, u"Do"},
    {kDeDe, LOCALE_SABBREVDAYNAME5, u"Fr"},
    {kDeDe, LOCALE_SABBREVDAYNAME6, u"Sa"},
    {kDeDe, LOCALE_SABBREVDAYNAME7, u"So"},
    {kDeDe, LOCALE_SABBREVMONTHNAME1, u"Jan"},
    {kDeDe, LOCALE_SABBREVMONTHNAME2, u"Feb"},
    {kDeDe, LOCALE_SABBREVMONTHNAME3, u"M\u00e4r"},
    {kDeDe, LOCALE_SABBREVMONTHNAME4, u"Apr"},
    {kDeDe, LOCALE_SABBREVMONTHNAME5, u"Mai"},
    {kDeDe, LOCALE_SABBREVMONTHNAME6, u"Jun"},
    {kDeDe, LOCALE_SABBREVMONTHNAME7, u"Jul"},
    {kDeDe, LOCALE_SABBREVMONTHNAME8, u"Aug"},
    {kDeDe, LOCALE_SABBREVMONTHNAME9, u"Sep"},
    {kDeDe, LOCALE_SABBREVMONTHNAME10, u"Okt"},
    {kDeDe, LOCALE_SABBREVMONTHNAME11, u"Nov"},
    {kDeDe, LOCALE_SABBREVMONTHNAME12, u"Dez"},

    {kInvariant, LOCALE_ILANGUAGE, u"007f"},
    {kInvariant, LOCALE_SDECIMAL, u"."},
    {kInvariant, LOCALE_STHOUSAND, u","},
    {kInvariant, LOCALE_SGROUPING, u"3;0"},
    {kInvariant, LOCALE_IDIGITS, u"2"},
    {kInvariant, LOCALE_ILZERO, u"1"},
    {kInvariant, LOCALE_INEGNUMBER, u"1"},
    {kInvariant, LOCALE_SSHORTDATE, u"MM/dd/yyyy"},
    {kInvariant, LOCALE_SLONGDATE, u"dddd, dd MMMM yyyy"},
    {kInvariant, LOCALE_STIMEFORMAT, u"HH:mm:ss"},
    {kInvariant, LOCALE_SSHORTTIME, u"HH:mm"},
    {kInvariant, LOCALE_SYEARMONTH, u"yyyy MMMM"},
    {kInvariant, LOCALE_S1159, u"AM"},
    {kInvariant, LOCALE_S2359, u"PM"},
    {kInvariant, LOCALE_SNAME, u""},
};

// Values that depend on nothing but the type (the same in every locale here).
const char16_t* common_text(LCTYPE type) {
  switch (type) {
    case LOCALE_SPOSITIVESIGN: return u"";
    case LOCALE_SNEGATIVESIGN: return u"-";
    case LOCALE_SMONTHNAME13:
    case LOCALE_SABBREVMONTHNAME13: return u"";
    case LOCALE_IDIGITS:
    case LOCALE_ICURRDIGITS: return u"2";
    case LOCALE_ILZERO:
    case LOCALE_INEGNUMBER:
    case LOCALE_ICENTURY: return u"1";
    case LOCALE_IDEFAULTANSICODEPAGE: return u"1252";
    case LOCALE_IDEFAULTCODEPAGE: return u"850";
    case LOCALE_SLIST: return u";";
    case LOCALE_IMEASURE:
    case LOCALE_IFIRSTDAYOFWEEK:
    case LOCALE_IFIRSTWEEKOFYEAR:
    case LOCALE_ICURRENCY:
    case LOCALE_INEGCURR:
    case LOCALE_ITLZERO:
    case LOCALE_IDAYLZERO:
    case LOCALE_IMONLZERO: return u"0";
    default: return nullptr;
  }
}

const std::u16string* common_value(LCTYPE type) {
  static const auto* table = [] {
    auto* t = new std::unordered_map<LCTYPE, std::u16string>;
    for (LCTYPE type = 0; type < 0x1100; ++type)
      if (const char16_t* c = common_text(type)) (*t)[type] = c;
    return t;
  }();
  auto it = table->find(type);
  return it == table->end() ? nullptr : &it->second;
}

std::u16string from_icu(const icu::UnicodeString& s) { return std::u16string(s.getBuffer(), s.length()); }

// An ICU date or time pattern in Windows' picture grammar.
std::u16string picture_of(const icu::UnicodeString& pattern) {
  std::u16string out;
  const int n = pattern.length();
  for (int i = 0; i < n;) {
    const char16_t c = pattern.charAt(i);
    if (c == u'\'') {
      int j = i + 1;
      while (j < n && pattern.charAt(j) != u'\'') ++j;
      out.append(pattern.getBuffer() + i, std::min(j + 1, n) - i);
      i = j + 1;
      continue;
    }
    int run = 1;
    while (i + run < n && pattern.charAt(i + run) == c) ++run;
    switch (c) {
      case u'y': out.append(run == 2 ? u"yy" : u"yyyy"); break;
      case u'M':
      case u'L': out.append(std::min(run, 4), u'M'); break;
      case u'd': out.append(std::min(run, 2), u'd'); break;
      case u'E':
      case u'c': out.append(run >= 4 ? u"dddd" : u"ddd"); break;
      case u'H':
      case u'h':
      case u'm':
      case u's': out.append(std::min(run, 2), c); break;
      case u'a': out.append(u"tt"); break;
      case u'G': out.append(u"gg"); break;
      case u'z':
      case u'Z':
      case u'v':
      case u'V':
      case u'S': break;  // no counterpart in Windows pictures
      default:
        if (c == 0x202F || c == 0x00A0) {
          out.push_back(u' ');
        } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
          // another pattern letter: no counterpart
        } else {
          out.append(run, c);
        }
    }
    i += run;
  }
  // Dropped fields can leave separators at the ends.
  while (!out.empty() && (out.back() == u' ' || out.back() == u',')) out.pop_back();
  return out;
}

std::u16string decimal_text(long v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

struct LocaleData {
  LCID lcid = 0;
  std::unordered_map<LCTYPE, std::u16string> values;
  std::u16string genitive[13];  // month names as they stand beside a day number
};

// Builds the data of one locale from ICU and the fixed table; null when ICU
// does not know the locale.
// Windows' default ANSI code page of a language ("ja", script "Hant" …); 0
// for the languages Windows keeps in Unicode only.
const char16_t* ansi_code_page(const std::string& lang, const std::string& script) {
  struct Entry {
    const char* lang;
    const char* script;  // empty: any script
    const char16_t* page;
  };
  static const Entry kPages[] = {
      {"ja", "", u"932"},   {"zh", "Hant", u"950"}, {"zh", "", u"936"},   {"ko", "", u"949"},
      {"th", "", u"874"},   {"vi", "", u"1258"},    {"el", "", u"1253"},  {"he", "", u"1255"},
      {"ar", "", u"1256"},  {"fa", "", u"1256"},    {"ur", "", u"1256"},  {"tr", "", u"1254"},
      {"az", "Cyrl", u"1251"}, {"az", "", u"1254"}, {"uz", "Cyrl", u"1251"}, {"uz", "", u"1254"},
      {"et", "", u"1257"},  {"lv", "", u"1257"},    {"lt", "", u"1257"},  {"ru", "", u"1251"},
      {"uk", "", u"1251"},  {"be", "", u"1251"},    {"bg", "", u"1251"},  {"mk", "", u"1251"},
      {"kk", "", u"1251"},  {"ky", "", u"1251"},    {"tt", "", u"1251"},  {"mn", "", u"1251"},
      {"sr", "Latn", u"1250"}, {"sr", "", u"1251"}, {"bs", "Cyrl", u"1251"}, {"bs", "", u"1250"},
      {"cs", "", u"1250"},  {"pl", "", u"1250"},    {"hu", "", u"1250"},  {"sk", "", u"1250"},
      {"sl", "", u"1250"},  {"hr", "", u"1250"},    {"ro", "", u"1250"},  {"sq", "", u"1250"},
      {"hi", "", u"0"},     {"bn", "", u"0"},       {"ta", "", u"0"},     {"te", "", u"0"},
      {"mr", "", u"0"},     {"gu", "", u"0"},       {"kn", "", u"0"},     {"ml", "", u"0"},
      {"pa", "", u"0"},     {"ka", "", u"0"},       {"hy", "", u"0"},
  };
  for (const Entry& e : kPages)
    if (lang == e.lang && (!*e.script || script == e.script)) return e.page;
  return u"1252";
}

std::unique_ptr<LocaleData> build(LCID lcid) {
  auto data = std::make_unique<LocaleData>();
  data->lcid = lcid;
  char name[ULOC_FULLNAME_CAPACITY] = "en_US_POSIX";
  if (lcid != kInvariant) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t len = uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
    if (U_FAILURE(status) || len <= 0) return nullptr;
  }
  const icu::Locale locale(lcid == kInvariant ? "en_US" : name);
  auto& v = data->values;

  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols symbols(locale, status);
  if (U_SUCCESS(status)) {
    v[LOCALE_SDECIMAL] = from_icu(symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
    v[LOCALE_STHOUSAND] = from_icu(symbols.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));
    v[LOCALE_SMONDECIMALSEP] =
        from_icu(symbols.getSymbol(icu::DecimalFormatSymbols::kMonetarySeparatorSymbol));
    v[LOCALE_SMONTHOUSANDSEP] =
        from_icu(symbols.getSymbol(icu::DecimalFormatSymbols::kMonetaryGroupingSeparatorSymbol));
    std::u16string digits = from_icu(symbols.getSymbol(icu::DecimalFormatSymbols::kZeroDigitSymbol));
    for (int d = icu::DecimalFormatSymbols::kOneDigitSymbol; d <= icu::DecimalFormatSymbols::kNineDigitSymbol; ++d)
      digits += from_icu(symbols.getSymbol(static_cast<icu::DecimalFormatSymbols::ENumberFormatSymbol>(d)));
    v[LOCALE_SNATIVEDIGITS] = digits;
  }
  status = U_ZERO_ERROR;
  std::unique_ptr<icu::NumberFormat> number(icu::NumberFormat::createInstance(locale, status));
  if (auto* decimal = dynamic_cast<icu::DecimalFormat*>(number.get())) {
    const int primary = decimal->isGroupingUsed() ? decimal->getGroupingSize() : 0;
    const int secondary = decimal->getSecondaryGroupingSize();
    std::u16string grouping = decimal_text(primary);
    if (secondary > 0 && secondary != primary) grouping += u";" + decimal_text(secondary);
    grouping += u";0";
    v[LOCALE_SGROUPING] = grouping;
    v[LOCALE_SMONGROUPING] = grouping;
  }

  status = U_ZERO_ERROR;
  icu::DateFormatSymbols dates(locale, status);
  if (U_SUCCESS(status)) {
    using DFS = icu::DateFormatSymbols;
    int32_t count = 0;
    const icu::UnicodeString* days = dates.getWeekdays(count, DFS::STANDALONE, DFS::WIDE);
    for (int i = 0; i < 7 && count >= 8; ++i) v[LOCALE_SDAYNAME1 + i] = from_icu(days[(i + 1) % 7 + 1]);
    days = dates.getWeekdays(count, DFS::FORMAT, DFS::ABBREVIATED);
    for (int i = 0; i < 7 && count >= 8; ++i) v[LOCALE_SABBREVDAYNAME1 + i] = from_icu(days[(i + 1) % 7 + 1]);
    const icu::UnicodeString* months = dates.getMonths(count, DFS::STANDALONE, DFS::WIDE);
    for (int i = 0; i < 12 && i < count; ++i) v[LOCALE_SMONTHNAME1 + i] = from_icu(months[i]);
    months = dates.getMonths(count, DFS::FORMAT, DFS::ABBREVIATED);
    for (int i = 0; i < 12 && i < count; ++i) v[LOCALE_SABBREVMONTHNAME1 + i] = from_icu(months[i]);
    months = dates.getMonths(count, DFS::FORMAT, DFS::WIDE);
    for (int i = 0; i < 12 && i < count; ++i) data->genitive[i] = from_icu(months[i]);
    const icu::UnicodeString* ampm = dates.getAmPmStrings(count);
    if (count >= 2) {
      v[LOCALE_S1159] = from_icu(ampm[0]);
      v[LOCALE_S2359] = from_icu(ampm[1]);
    }
  }
  auto pattern_of = [&](icu::DateFormat::EStyle date, icu::DateFormat::EStyle time) {
    std::unique_ptr<icu::DateFormat> f(icu::DateFormat::createDateTimeInstance(date, time, locale));
    icu::UnicodeString p;
    if (auto* simple = dynamic_cast<icu::SimpleDateFormat*>(f.get())) simple->toPattern(p);
    return picture_of(p);
  };
  v[LOCALE_SSHORTDATE] = pattern_of(icu::DateFormat::kShort, icu::DateFormat::kNone);
  v[LOCALE_SLONGDATE] = pattern_of(icu::DateFormat::kFull, icu::DateFormat::kNone);
  v[LOCALE_STIMEFORMAT] = pattern_of(icu::DateFormat::kNone, icu::DateFormat::kMedium);
  v[LOCALE_SSHORTTIME] = pattern_of(icu::DateFormat::kNone, icu::DateFormat::kShort);
  v[LOCALE_SYEARMONTH] = u"MMMM yyyy";

  const std::string tag = name;
  const std::string lang = tag.substr(0, tag.find('_'));
  const std::string country = tag.find('_') == std::string::npos ? "" : tag.substr(tag.rfind('_') + 1);
  char hex[8];
  snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(lcid & 0xFFFF));
  v[LOCALE_ILANGUAGE] = win32::utf8_to_utf16(hex);
  v[LOCALE_IDEFAULTLANGUAGE] = v[LOCALE_ILANGUAGE];
  v[LOCALE_SISO639LANGNAME] = win32::utf8_to_utf16(lang);
  v[LOCALE_SISO3166CTRYNAME] = win32::utf8_to_utf16(country);
  v[LOCALE_SNAME] = win32::utf8_to_utf16(country.empty() ? lang : lang + "-" + country);
  icu::UnicodeString text;
  v[LOCALE_SENGLANGUAGE] = from_icu(locale.getDisplayLanguage(icu::Locale::getEnglish(), text));
  v[LOCALE_SENGCOUNTRY] = from_icu(locale.getDisplayCountry(icu::Locale::getEnglish(), text));
  v[LOCALE_SLANGUAGE] = from_icu(locale.getDisplayName(icu::Locale::getEnglish(), text));
  v[LOCALE_SNATIVELANGNAME] = from_icu(locale.getDisplayLanguage(locale, text));
  v[LOCALE_SCOUNTRY] = v[LOCALE_SENGCOUNTRY];
  v[LOCALE_SNATIVECTRYNAME] = from_icu(locale.getDisplayCountry(locale, text));
  {
    // "sr_Latn_RS": the script, when the tag names one.
    std::string script;
    const std::size_t first = tag.find('_');
    if (first != std::string::npos) {
      const std::size_t second = tag.find('_', first + 1);
      const std::string part = tag.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
      if (part.size() == 4) script = part;
    }
    v[LOCALE_IDEFAULTANSICODEPAGE] = ansi_code_page(lang, script);
  }
  v[LOCALE_SDATE] = u"/";
  v[LOCALE_STIME] = u":";
  for (const Fixed& f : kFixed)
    if (f.lcid == lcid) v[f.type] = f.value;
  for (int i = 0; i < 12; ++i)
    if (data->genitive[i].empty()) data->genitive[i] = v[LOCALE_SMONTHNAME1 + i];
  return data;
}

std::mutex g_mutex;
std::map<LCID, std::unique_ptr<LocaleData>> g_locales;  // entries live as long as the process
std::map<LCID, bool> g_unknown;
std::atomic<LCID> g_user_lcid{kEnUs};
std::atomic<LCID> g_system_lcid{kEnUs};
std::atomic<LANGID> g_system_ui_language{static_cast<LANGID>(kEnUs)};
std::unordered_map<LCTYPE, std::u16string> g_user_overrides;  // guarded by g_mutex
thread_local LCID t_thread_lcid = 0;                           // 0: the user's locale

// The LCID a caller's value stands for.
LCID normalise(LCID lcid) {
  switch (lcid & 0xFFFF) {
    case LOCALE_NEUTRAL:
    case LOCALE_USER_DEFAULT:
    case LOCALE_CUSTOM_DEFAULT:
    case LOCALE_CUSTOM_UNSPECIFIED:
    case LOCALE_CUSTOM_UI_DEFAULT: return g_user_lcid.load();
    case LOCALE_SYSTEM_DEFAULT: return g_system_lcid.load();
    default: break;
  }
  lcid &= 0xFFFF;  // the sort order does not change the settings
  if (lcid != kInvariant && SUBLANGID(lcid) == 0) lcid |= SUBLANG_DEFAULT << 10;
  return lcid;
}

const LocaleData* find_locked(LCID lcid) {
  auto it = g_locales.find(lcid);
  if (it != g_locales.end()) return it->second.get();
  if (g_unknown.count(lcid)) return nullptr;
  std::unique_ptr<LocaleData> data = build(lcid);
  if (!data) {
    g_unknown[lcid] = true;
    return nullptr;
  }
  return (g_locales[lcid] = std::move(data)).get();
}

// One locale's view as a call sees it: its data and, for the user's locale,
// the user's overrides.
std::atomic<bool> g_has_overrides{false};

// The locale an LCID stands for, remembered per thread: data never goes away.
const LocaleData* resolve(LCID l) {
  thread_local LCID cached_lcid = ~LCID{0};
  thread_local const LocaleData* cached = nullptr;
  if (l != cached_lcid) {
    std::lock_guard lock(g_mutex);
    cached = find_locked(l);
    cached_lcid = l;
  }
  return cached;
}

class View {
 public:
  View(LCID lcid, bool no_override) {
    const LCID l = normalise(lcid);
    data_ = resolve(l);
    if (data_ && !no_override && g_has_overrides.load(std::memory_order_acquire) && l == g_user_lcid.load()) {
      std::lock_guard lock(g_mutex);
      overrides_ = g_user_overrides;
    }
  }
  explicit operator bool() const { return data_ != nullptr; }
  const LocaleData& data() const { return *data_; }

  // The value, or null for a type the layer does not know; valid while the
  // view lives.
  const std::u16string* get(LCTYPE type) const {
    if (!overrides_.empty())
      if (auto it = overrides_.find(type); it != overrides_.end()) return &it->second;
    if (auto it = data_->values.find(type); it != data_->values.end()) return &it->second;
    return common_value(type);
  }
  std::u16string text(LCTYPE type) const {
    const std::u16string* s = get(type);
    return s ? *s : std::u16string();
  }
  UINT number(LCTYPE type) const {
    UINT n = 0;
    const std::u16string* s = get(type);
    if (!s) return 0;
    for (char16_t c : *s) {
      if (c < u'0' || c > u'9') break;
      n = n * 10 + (c - u'0');
    }
    return n;
  }

 private:
  const LocaleData* data_ = nullptr;
  std::unordered_map<LCTYPE, std::u16string> overrides_;
};

bool numeric_type(LCTYPE type) {
  switch (type) {
    case LOCALE_ILANGUAGE:
    case LOCALE_IDEFAULTLANGUAGE:
      return false;  // hexadecimal texts
    default: break;
  }
  return type == LOCALE_ICOUNTRY || type == LOCALE_IDEFAULTCOUNTRY || type == LOCALE_IDEFAULTCODEPAGE ||
         type == LOCALE_IMEASURE || type == LOCALE_IDIGITS || type == LOCALE_ILZERO ||
         type == LOCALE_ICURRDIGITS || type == LOCALE_ICURRENCY || type == LOCALE_INEGCURR ||
         type == LOCALE_IDATE || type == LOCALE_ILDATE || type == LOCALE_ITIME || type == LOCALE_ICENTURY ||
         type == LOCALE_ITLZERO || type == LOCALE_IDAYLZERO || type == LOCALE_IMONLZERO ||
         type == LOCALE_IDEFAULTANSICODEPAGE || type == LOCALE_IFIRSTDAYOFWEEK ||
         type == LOCALE_IFIRSTWEEKOFYEAR || type == LOCALE_INEGNUMBER;
}

// Copies `text` and a NUL with Win32's size rules.
int put(const std::u16string& text, LPWSTR out, int capacity) {
  const int needed = static_cast<int>(text.size()) + 1;
  if (capacity == 0) return needed;
  if (capacity < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, text.data(), text.size() * sizeof(char16_t));
  out[text.size()] = 0;
  return needed;
}

bool bad_buffer(LPWSTR out, int capacity) {
  if (capacity < 0 || (capacity > 0 && !out)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return true;
  }
  return false;
}

void append_number(std::u16string& out, unsigned value, int min_digits) {
  char16_t digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value);
  for (int i = n; i < min_digits; ++i) out.push_back(u'0');
  while (n) out.push_back(digits[--n]);
}

int days_in_month(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return days[month - 1] + (month == 2 && leap ? 1 : 0);
}

// 0 Sunday .. 6 Saturday.
int day_of_week(int y, int m, int d) {
  static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y -= 1;
  return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}

bool valid_date(const SYSTEMTIME& st) {
  return st.wYear >= 1601 && st.wYear <= 30827 && st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1 &&
         st.wDay <= days_in_month(st.wYear, st.wMonth);
}

bool valid_time(const SYSTEMTIME& st) {
  return st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 && st.wMilliseconds < 1000;
}

int run_of(const std::u16string_view p, std::size_t i) {
  std::size_t j = i;
  while (j < p.size() && p[j] == p[i]) ++j;
  return static_cast<int>(j - i);
}

// Appends quoted text starting after the opening apostrophe; returns the index
// after the closing one.
std::size_t quoted(std::u16string_view p, std::size_t i, std::u16string& out) {
  while (i < p.size()) {
    if (p[i] == u'\'') {
      if (i + 1 < p.size() && p[i + 1] == u'\'') {
        out.push_back(u'\'');
        i += 2;
        continue;
      }
      return i + 1;
    }
    out.push_back(p[i++]);
  }
  return i;
}

std::u16string format_date(const View& view, const SYSTEMTIME& st, std::u16string_view p) {
  // A month name beside a day number takes its genitive form.
  bool has_day_number = false;
  for (std::size_t i = 0; i < p.size();) {
    if (p[i] == u'\'') {
      std::u16string skip;
      i = quoted(p, i + 1, skip);
      continue;
    }
    const int run = run_of(p, i);
    if (p[i] == u'd' && run <= 2) has_day_number = true;
    i += run;
  }
  std::u16string out;
  for (std::size_t i = 0; i < p.size();) {
    const char16_t c = p[i];
    if (c == u'\'') {
      i = quoted(p, i + 1, out);
      continue;
    }
    const int run = run_of(p, i);
    switch (c) {
      case u'd':
        if (run <= 2) {
          append_number(out, st.wDay, run);
        } else {
          const int dow = day_of_week(st.wYear, st.wMonth, st.wDay);  // 0 Sunday
          const LCTYPE first = run == 3 ? LOCALE_SABBREVDAYNAME1 : LOCALE_SDAYNAME1;
          out += view.text(first + (dow + 6) % 7);
        }
        break;
      case u'M':
        if (run <= 2)
          append_number(out, st.wMonth, run);
        else if (run == 3)
          out += view.text(LOCALE_SABBREVMONTHNAME1 + st.wMonth - 1);
        else if (has_day_number)
          out += view.data().genitive[st.wMonth - 1];
        else
          out += view.text(LOCALE_SMONTHNAME1 + st.wMonth - 1);
        break;
      case u'y':
        if (run <= 2)
          append_number(out, st.wYear % 100, run);
        else
          append_number(out, st.wYear, 1);
        break;
      case u'g': out += u"A.D."; break;
      default: out.append(run, c);
    }
    i += run;
  }
  return out;
}

struct TimeToken {
  char16_t kind;  // 0 for literal text
  int run;
  std::u16string text;
};

std::u16string format_time(const View& view, const SYSTEMTIME& st, std::u16string_view p, DWORD flags) {
  std::vector<TimeToken> tokens;
  for (std::size_t i = 0; i < p.size();) {
    const char16_t c = p[i];
    if (c == u'\'') {
      std::u16string text;
      i = quoted(p, i + 1, text);
      if (tokens.empty() || tokens.back().kind) tokens.push_back({0, 0, {}});
      tokens.back().text += text;
      continue;
    }
    const int run = run_of(p, i);
    if (c == u'h' || c == u'H' || c == u'm' || c == u's' || c == u't') {
      tokens.push_back({c, run, {}});
    } else {
      if (tokens.empty() || tokens.back().kind) tokens.push_back({0, 0, {}});
      tokens.back().text.append(run, c);
    }
    i += run;
  }
  auto dropped = [&](char16_t kind) {
    if (kind == u'm' || kind == u's') {
      if (flags & TIME_NOMINUTESORSECONDS) return true;
      if (kind == u's' && (flags & TIME_NOSECONDS)) return true;
    }
    return kind == u't' && (flags & TIME_NOTIMEMARKER);
  };
  std::u16string out;
  std::u16string pending;  // literal text waiting for the field after it
  bool any_field = false;
  for (const TimeToken& t : tokens) {
    if (!t.kind) {
      pending += t.text;
      continue;
    }
    if (dropped(t.kind)) {
      if (any_field) pending.clear();  // the separator goes with the field
      continue;
    }
    out += pending;
    pending.clear();
    any_field = true;
    const bool pm = st.wHour >= 12;
    char16_t kind = t.kind;
    if (kind == u'h' && (flags & TIME_FORCE24HOURFORMAT)) kind = u'H';
    switch (kind) {
      case u'h': append_number(out, st.wHour % 12 == 0 ? 12 : st.wHour % 12, std::min(t.run, 2)); break;
      case u'H': append_number(out, st.wHour, std::min(t.run, 2)); break;
      case u'm': append_number(out, st.wMinute, std::min(t.run, 2)); break;
      case u's': append_number(out, st.wSecond, std::min(t.run, 2)); break;
      case u't': {
        const std::u16string marker = view.text(pm ? LOCALE_S2359 : LOCALE_S1159);
        out += t.run == 1 ? marker.substr(0, 1) : marker;
        break;
      }
    }
  }
  if (!any_field || tokens.empty() || !tokens.back().kind) out += pending;
  return out;
}

}  // namespace

namespace win32 {
void set_user_locale_for_tests(LCID lcid) {
  std::lock_guard lock(g_mutex);
  g_user_lcid.store(lcid ? normalise(lcid) : kEnUs);
  g_user_overrides.clear();
  g_has_overrides.store(false, std::memory_order_release);
}

void set_system_locale_for_tests(LCID lcid) {
  std::lock_guard lock(g_mutex);
  g_system_lcid.store(lcid ? normalise(lcid) : kEnUs);
}

void set_system_ui_language_for_tests(LANGID langid) {
  g_system_ui_language.store(langid ? langid : static_cast<LANGID>(kEnUs));
}

void set_user_locale_info_for_tests(LCTYPE type, const char16_t* value) {
  std::lock_guard lock(g_mutex);
  if (value)
    g_user_overrides[type] = value;
  else
    g_user_overrides.erase(type);
  g_has_overrides.store(!g_user_overrides.empty(), std::memory_order_release);
}
}  // namespace win32

int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData) {
  if (bad_buffer(lpLCData, cchData)) return 0;
  const bool as_number = LCType & LOCALE_RETURN_NUMBER;
  const LCTYPE type = LCType & ~(LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP | LOCALE_RETURN_NUMBER);
  const View view(Locale, LCType & LOCALE_NOUSEROVERRIDE);
  if (!view) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string* value = view.get(type);
  if (!value || (as_number && !numeric_type(type))) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (as_number) {
    const int needed = sizeof(DWORD) / sizeof(WCHAR);
    if (cchData == 0) return needed;
    if (cchData < needed) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    const DWORD n = view.number(type);
    std::memcpy(lpLCData, &n, sizeof n);
    return needed;
  }
  return put(*value, lpLCData, cchData);
}

namespace win32 {
LCID resolve_lcid(LCID lcid) { return normalise(lcid); }
}  // namespace win32

LCID GetThreadLocale() { return t_thread_lcid ? t_thread_lcid : g_user_lcid.load(); }

BOOL SetThreadLocale(LCID Locale) {
  const LCID l = normalise(Locale);
  {
    std::lock_guard lock(g_mutex);
    if (!find_locked(l)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }
  t_thread_lcid = l;
  return TRUE;
}

LCID GetUserDefaultLCID() { return g_user_lcid.load(); }
LANGID GetUserDefaultLangID() { return LANGIDFROMLCID(g_user_lcid.load()); }
LCID GetSystemDefaultLCID() { return g_system_lcid.load(); }
LANGID GetSystemDefaultLangID() { return LANGIDFROMLCID(g_system_lcid.load()); }
LANGID GetSystemDefaultUILanguage() { return g_system_ui_language.load(); }

BOOL IsValidLocale(LCID Locale, DWORD) {
  std::lock_guard lock(g_mutex);
  return find_locked(normalise(Locale)) ? TRUE : FALSE;
}

int GetNumberFormatW(LCID Locale, DWORD dwFlags, LPCWSTR lpValue, const NUMBERFMTW* lpFormat, LPWSTR lpNumberStr,
                     int cchNumber) {
  if (!lpValue || bad_buffer(lpNumberStr, cchNumber)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((dwFlags & ~DWORD{LOCALE_NOUSEROVERRIDE}) || (lpFormat && dwFlags)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const View view(Locale, dwFlags & LOCALE_NOUSEROVERRIDE);
  if (!view) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  UINT digits, leading_zero, grouping, negative_order;
  std::u16string_view decimal_sep, thousand_sep;
  if (lpFormat) {
    if (!lpFormat->lpDecimalSep || !lpFormat->lpThousandSep || lpFormat->NegativeOrder > 4 ||
        lpFormat->NumDigits > 9) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    digits = lpFormat->NumDigits;
    leading_zero = lpFormat->LeadingZero;
    grouping = lpFormat->Grouping;
    negative_order = lpFormat->NegativeOrder;
    decimal_sep = lpFormat->lpDecimalSep;
    thousand_sep = lpFormat->lpThousandSep;
  } else {
    digits = std::min(view.number(LOCALE_IDIGITS), 9u);
    leading_zero = view.number(LOCALE_ILZERO);
    negative_order = std::min(view.number(LOCALE_INEGNUMBER), 4u);
    decimal_sep = *view.get(LOCALE_SDECIMAL);
    thousand_sep = *view.get(LOCALE_STHOUSAND);
    grouping = 0;  // "3;2;0" -> 32, "3;0" -> 3, "3" -> 30 (no repeat)
    const std::u16string& g = *view.get(LOCALE_SGROUPING);
    bool ends_in_zero = false;
    for (std::size_t i = 0; i < g.size(); ++i) {
      if (g[i] < u'0' || g[i] > u'9') continue;
      ends_in_zero = g[i] == u'0' && i + 1 == g.size();
      if (!ends_in_zero) grouping = grouping * 10 + (g[i] - u'0');
    }
    if (!ends_in_zero && grouping) grouping *= 10;
  }

  // The value: [-]digits[.digits]
  const std::u16string_view value(lpValue);
  bool negative = false;
  std::size_t i = 0;
  if (i < value.size() && value[i] == u'-') {
    negative = true;
    ++i;
  }
  const std::size_t whole_start = i;
  while (i < value.size() && value[i] >= u'0' && value[i] <= u'9') ++i;
  const std::size_t whole_end = i;
  std::size_t fraction_start = i, fraction_end = i;
  if (i < value.size() && value[i] == u'.') {
    fraction_start = ++i;
    while (i < value.size() && value[i] >= u'0' && value[i] <= u'9') ++i;
    fraction_end = i;
  }
  if (i != value.size() || (whole_end == whole_start && fraction_end == fraction_start)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // The digits kept, a leading 0 for a carry: rounded half away from zero.
  thread_local std::u16string kept;
  kept.assign(1, u'0');
  std::size_t w = whole_start;
  while (w < whole_end && value[w] == u'0') ++w;
  kept.append(value.substr(w, whole_end - w));
  const std::size_t whole_digits = kept.size();  // with the carry digit
  const std::size_t have = fraction_end - fraction_start;
  kept.append(value.substr(fraction_start, std::min<std::size_t>(have, digits)));
  kept.append(digits > have ? digits - have : 0, u'0');
  if (have > digits && value[fraction_start + digits] >= u'5') {
    std::size_t k = kept.size();
    while (k-- > 0) {
      if (kept[k] == u'9') {
        kept[k] = u'0';
      } else {
        ++kept[k];
        break;
      }
    }
  }
  std::size_t first = kept[0] == u'0' ? 1 : 0;  // the carry digit when unused
  std::u16string_view whole(kept.data() + first, whole_digits - first);
  const std::u16string_view fraction(kept.data() + whole_digits, digits);
  if (whole.find_first_not_of(u'0') == std::u16string_view::npos) whole = {};
  if (whole.empty() && fraction.find_first_not_of(u'0') == std::u16string_view::npos) negative = false;  // no "-0"
  if (whole.empty() && (leading_zero || digits == 0)) whole = u"0";

  // Groups, counted from the decimal separator leftwards.
  int groups[10];
  int group_count = 0;
  for (UINT g = grouping; g && group_count < 10; g /= 10) groups[group_count++] = static_cast<int>(g % 10);
  std::reverse(groups, groups + group_count);
  const bool repeat = group_count > 0 && groups[group_count - 1] != 0;
  if (!repeat && group_count > 0) --group_count;

  thread_local std::u16string number;
  number.clear();
  const std::u16string* sign = negative ? view.get(LOCALE_SNEGATIVESIGN) : nullptr;
  if (negative) {
    if (negative_order == 0) number += u'(';
    if (negative_order == 1 || negative_order == 2) number += *sign;
    if (negative_order == 2) number += u' ';
  }
  // Where separators go: after each group, counted from the right.
  thread_local std::vector<std::size_t> cut;
  cut.clear();
  {
    std::size_t pos = whole.size();
    int gi = 0;
    for (;;) {
      int size = gi < group_count ? groups[gi++] : (repeat && group_count ? groups[group_count - 1] : 0);
      if (size <= 0 || static_cast<std::size_t>(size) >= pos) break;
      pos -= static_cast<std::size_t>(size);
      cut.push_back(pos);
    }
  }
  std::size_t cuts = cut.size();
  std::size_t from = 0;
  while (cuts > 0) {
    const std::size_t to = cut[--cuts];
    number.append(whole.substr(from, to - from));
    number.append(thousand_sep);
    from = to;
  }
  number.append(whole.substr(from));
  if (digits) {
    number.append(decimal_sep);
    number.append(fraction);
  }
  if (negative) {
    if (negative_order == 0) number += u')';
    if (negative_order == 4) number += u' ';
    if (negative_order == 3 || negative_order == 4) number += *sign;
  }
  return put(number, lpNumberStr, cchNumber);
}

int GetDateFormatW(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpDate, LPCWSTR lpFormat, LPWSTR lpDateStr,
                   int cchDate) {
  if (bad_buffer(lpDateStr, cchDate)) return 0;
  const DWORD styles = dwFlags & (DATE_SHORTDATE | DATE_LONGDATE | DATE_YEARMONTH | DATE_MONTHDAY);
  const DWORD known = DATE_SHORTDATE | DATE_LONGDATE | DATE_USE_ALT_CALENDAR | DATE_YEARMONTH | DATE_LTRREADING |
                      DATE_RTLREADING | DATE_AUTOLAYOUT | DATE_MONTHDAY | LOCALE_NOUSEROVERRIDE;
  if ((dwFlags & ~known) || (lpFormat && dwFlags) || (styles & (styles - 1))) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const View view(Locale, dwFlags & LOCALE_NOUSEROVERRIDE);
  if (!view) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  SYSTEMTIME st;
  if (lpDate)
    st = *lpDate;
  else
    GetLocalTime(&st);
  if (!valid_date(st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string picture;
  if (lpFormat)
    picture = lpFormat;
  else if (dwFlags & DATE_LONGDATE)
    picture = view.text(LOCALE_SLONGDATE);
  else if (dwFlags & DATE_YEARMONTH)
    picture = view.text(LOCALE_SYEARMONTH);
  else if (dwFlags & DATE_MONTHDAY)
    picture = u"MMMM d";
  else
    picture = view.text(LOCALE_SSHORTDATE);
  return put(format_date(view, st, picture), lpDateStr, cchDate);
}

int GetTimeFormatW(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpTime, LPCWSTR lpFormat, LPWSTR lpTimeStr,
                   int cchTime) {
  if (bad_buffer(lpTimeStr, cchTime)) return 0;
  const DWORD known =
      TIME_NOMINUTESORSECONDS | TIME_NOSECONDS | TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT | LOCALE_NOUSEROVERRIDE;
  if ((dwFlags & ~known) || (lpFormat && (dwFlags & LOCALE_NOUSEROVERRIDE))) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const View view(Locale, dwFlags & LOCALE_NOUSEROVERRIDE);
  if (!view) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  SYSTEMTIME st;
  if (lpTime)
    st = *lpTime;
  else
    GetLocalTime(&st);
  if (!valid_time(st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string picture = lpFormat ? std::u16string(lpFormat) : view.text(LOCALE_STIMEFORMAT);
  return put(format_time(view, st, picture, dwFlags), lpTimeStr, cchTime);
}

namespace {
// Windows' simple case tables: one character to one, and upper-casing leaves
// the title-case letters (U+01C5 ...), micro sign and final sigma as they are.
// Turkish and Azerbaijani dotted and dotless i only with linguistic casing.
UChar32 map_case(UChar32 c, DWORD flags, bool turkic) {
  const bool upper = flags & LCMAP_UPPERCASE;
  if (turkic && (flags & LCMAP_LINGUISTIC_CASING)) {
    if (upper && c == u'i') return 0x0130;
    if (!upper && c == u'I') return 0x0131;
  }
  if (!upper) return u_tolower(c);
  if (c == 0x00B5 || c == 0x03C2 || u_charType(c) == U_TITLECASE_LETTER) return c;
  return u_toupper(c);
}
}  // namespace

int LCMapStringW(LCID Locale, DWORD dwMapFlags, LPCWSTR lpSrcStr, int cchSrc, LPWSTR lpDestStr, int cchDest) {
  if (!lpSrcStr || cchSrc == 0 || cchDest < 0 || (cchDest > 0 && !lpDestStr) ||
      (cchDest > 0 && lpDestStr == lpSrcStr && (dwMapFlags & LCMAP_BYTEREV))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const DWORD cases = dwMapFlags & (LCMAP_LOWERCASE | LCMAP_UPPERCASE);
  if ((dwMapFlags & ~(LCMAP_LOWERCASE | LCMAP_UPPERCASE | LCMAP_BYTEREV | LCMAP_LINGUISTIC_CASING)) ||
      cases == (LCMAP_LOWERCASE | LCMAP_UPPERCASE) || (!cases && !(dwMapFlags & LCMAP_BYTEREV))) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const LCID lcid = normalise(Locale);
  {
    std::lock_guard lock(g_mutex);
    if (!find_locked(lcid)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  const WORD language = PRIMARYLANGID(LANGIDFROMLCID(lcid));
  const bool turkic = language == 0x1F || language == 0x2C;  // Turkish, Azerbaijani
  const std::size_t n = cchSrc < 0 ? win32::wcslen16(lpSrcStr) + 1 : static_cast<std::size_t>(cchSrc);
  std::u16string out(lpSrcStr, n);
  if (cases) {
    for (std::size_t i = 0; i < n;) {
      UChar32 c;
      std::size_t start = i;
      U16_NEXT(out.data(), i, n, c);
      const UChar32 m = map_case(c, dwMapFlags, turkic);
      // Only a mapping of the same UTF-16 length: the length never changes.
      if (U16_LENGTH(m) == static_cast<int>(i - start)) {
        std::size_t k = start;
        U16_APPEND_UNSAFE(out.data(), k, m);
      }
    }
  }
  if (dwMapFlags & LCMAP_BYTEREV)
    for (char16_t& c : out) c = static_cast<char16_t>((c >> 8) | (c << 8));
  if (cchDest == 0) return static_cast<int>(n);
  if (static_cast<std::size_t>(cchDest) < n) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpDestStr, out.data(), n * sizeof(char16_t));
  return static_cast<int>(n);
}

int LCMapStringA(LCID Locale, DWORD dwMapFlags, LPCSTR lpSrcStr, int cchSrc, LPSTR lpDestStr, int cchDest) {
  if (!lpSrcStr || cchSrc == 0 || cchDest < 0 || (cchDest > 0 && !lpDestStr) || (dwMapFlags & LCMAP_BYTEREV)) {
    SetLastError(dwMapFlags & LCMAP_BYTEREV ? ERROR_INVALID_FLAGS : ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int bytes = cchSrc < 0 ? static_cast<int>(std::strlen(lpSrcStr)) + 1 : cchSrc;
  std::u16string wide(bytes, 0);
  const int units = MultiByteToWideChar(CP_ACP, 0, lpSrcStr, bytes, wide.data(), bytes);
  if (units <= 0) return 0;
  std::u16string mapped(units, 0);
  if (LCMapStringW(Locale, dwMapFlags, wide.data(), units, mapped.data(), units) != units) return 0;
  std::string out(units * 2 + 1, 0);
  const int n = WideCharToMultiByte(CP_ACP, 0, mapped.data(), units, out.data(), static_cast<int>(out.size()),
                                    nullptr, nullptr);
  if (n <= 0) return 0;
  if (cchDest == 0) return n;
  if (cchDest < n) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpDestStr, out.data(), n);
  return n;
}

BOOL IsCharAlphaW(WCHAR ch) { return u_isalpha(ch) ? TRUE : FALSE; }
// Windows counts the superscript and subscript digits as digits too.
BOOL IsCharAlphaNumericW(WCHAR ch) {
  const bool digit = u_isdigit(ch) || ch == 0x00B2 || ch == 0x00B3 || ch == 0x00B9 || ch == 0x2070 ||
                     (ch >= 0x2074 && ch <= 0x2079) || (ch >= 0x2080 && ch <= 0x2089);
  return (u_isalpha(ch) || digit) ? TRUE : FALSE;
}
