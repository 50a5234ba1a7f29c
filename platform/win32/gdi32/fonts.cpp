#include "platform/win32/gdi32/fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/layer/ansi_text.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/leak_suppressions.h"

namespace {

// Handles are addresses of these, checked against the live set before use,
// so a stale or foreign handle fails instead of being read.
struct Font {
  LOGFONTW logFont;
};
struct MemoryDc {
  Font* font = nullptr;  // null: the message font
};

std::mutex g_lock;
std::set<const void*>& liveFonts() {
  static auto* s = new std::set<const void*>;
  return *s;
}
std::set<const void*>& liveDcs() {
  static auto* s = new std::set<const void*>;
  return *s;
}

std::string utf8(const WCHAR* units, std::size_t n) {
  std::string out(3 * n + 1, '\0');
  const int bytes = n ? WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(n), out.data(),
                                            static_cast<int>(out.size()), nullptr, nullptr)
                      : 0;
  out.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
  return out;
}

std::string faceOf(const LOGFONTW& lf) {
  std::size_t n = 0;
  while (n < LF_FACESIZE && lf.lfFaceName[n]) ++n;
  return utf8(lf.lfFaceName, n);
}

void setFace(WCHAR (&face)[LF_FACESIZE], const std::string& name) {
  std::memset(face, 0, sizeof face);
  MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), face, LF_FACESIZE - 1);
}

FcConfig* fonts() {
  static std::once_flag once;
  std::call_once(once, [] { FcInit(); });
  return FcConfigGetCurrent();
}

// The file fontconfig chooses for a face name (empty: sans-serif), weight
// and slant.
bool matchFile(const std::string& face, LONG weight, bool italic, std::string& file, int& index) {
  FcConfig* config = fonts();
  FcPattern* p = FcPatternCreate();
  if (!p) return false;
  FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.empty() ? "sans-serif" : face.c_str()));
  if (weight > 0) FcPatternAddInteger(p, FC_WEIGHT, FcWeightFromOpenType(std::min<LONG>(weight, 1000)));
  if (italic) FcPatternAddInteger(p, FC_SLANT, FC_SLANT_ITALIC);
  FcPatternAddBool(p, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  FcResult result = FcResultNoMatch;
  FcPattern* m = FcFontMatch(config, p, &result);
  FcPatternDestroy(p);
  bool ok = false;
  FcChar8* path = nullptr;
  if (m && FcPatternGetString(m, FC_FILE, 0, &path) == FcResultMatch && path) {
    file = reinterpret_cast<const char*>(path);
    if (FcPatternGetInteger(m, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
    ok = true;
  }
  if (m) FcPatternDestroy(m);
  return ok;
}

LONG scaled(double units, double scale) { return static_cast<LONG>(std::lround(units * scale)); }

// GDI's reading of a TrueType font: ascent and descent from the OS/2
// table's Windows values, the em from a negative height (a positive one is
// the cell height), leading from the horizontal header.
bool metricsOf(const LOGFONTW& lf, TEXTMETRICW& tm) {
  std::string file;
  int index = 0;
  if (!matchFile(faceOf(lf), lf.lfWeight, lf.lfItalic != 0, file, index)) return false;
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return false;
  FT_Face face = nullptr;
  bool ok = false;
  if (FT_New_Face(library, file.c_str(), index, &face) == 0) {
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
    const double upem = face->units_per_EM;
    if (os2 && hhea && upem > 0 && os2->usWinAscent + os2->usWinDescent > 0) {
      const double cellUnits = os2->usWinAscent + os2->usWinDescent;
      tm = TEXTMETRICW{};
      double ppem;
      if (lf.lfHeight > 0) {
        ppem = lf.lfHeight * upem / cellUnits;
        tm.tmHeight = lf.lfHeight;
        tm.tmAscent = scaled(os2->usWinAscent, lf.lfHeight / cellUnits);
        tm.tmDescent = tm.tmHeight - tm.tmAscent;
      } else {
        ppem = lf.lfHeight < 0 ? -static_cast<double>(lf.lfHeight) : 12.0;
        tm.tmAscent = scaled(os2->usWinAscent, ppem / upem);
        tm.tmDescent = scaled(os2->usWinDescent, ppem / upem);
        tm.tmHeight = tm.tmAscent + tm.tmDescent;
      }
      const double scale = ppem / upem;
      tm.tmInternalLeading = tm.tmHeight - static_cast<LONG>(std::lround(ppem));
      const double gap = hhea->Line_Gap - (cellUnits - (hhea->Ascender - hhea->Descender));
      tm.tmExternalLeading = std::max<LONG>(0, scaled(gap, scale));
      tm.tmAveCharWidth = scaled(os2->xAvgCharWidth, scale);
      tm.tmMaxCharWidth = scaled(hhea->advance_Width_Max, scale);
      tm.tmWeight = lf.lfWeight > 0 ? lf.lfWeight : os2->usWeightClass;
      tm.tmDigitizedAspectX = 96;
      tm.tmDigitizedAspectY = 96;
      tm.tmFirstChar = os2->usFirstCharIndex;
      tm.tmLastChar = os2->usLastCharIndex;
      tm.tmDefaultChar = static_cast<WCHAR>(tm.tmFirstChar ? tm.tmFirstChar - 1 : 0);
      tm.tmBreakChar = u' ';
      tm.tmItalic = lf.lfItalic ? 0xFF : 0;
      tm.tmUnderlined = lf.lfUnderline ? 0xFF : 0;
      tm.tmStruckOut = lf.lfStrikeOut ? 0xFF : 0;
      tm.tmPitchAndFamily = static_cast<BYTE>((FT_IS_FIXED_WIDTH(face) ? 0 : TMPF_FIXED_PITCH) | TMPF_VECTOR |
                                              TMPF_TRUETYPE);
      tm.tmCharSet = lf.lfCharSet == DEFAULT_CHARSET ? ANSI_CHARSET : lf.lfCharSet;
      ok = true;
    }
    FT_Done_Face(face);
  }
  FT_Done_FreeType(library);
  return ok;
}

// The desktop's sans-serif family, as fontconfig names it.
std::string uiFamily() {
  FcConfig* config = fonts();
  std::string family = "Sans";
  FcPattern* p = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
  if (!p) return family;
  FcConfigSubstitute(config, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  FcResult result = FcResultNoMatch;
  FcPattern* m = FcFontMatch(config, p, &result);
  FcPatternDestroy(p);
  FcChar8* name = nullptr;
  if (m && FcPatternGetString(m, FC_FAMILY, 0, &name) == FcResultMatch && name)
    family = reinterpret_cast<const char*>(name);
  if (m) FcPatternDestroy(m);
  return family;
}

LOGFONTW messageFont() {
  LOGFONTW lf{};
  lf.lfHeight = -12;
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  setFace(lf.lfFaceName, uiFamily());
  return lf;
}

void narrowFont(LOGFONTA& a, const LOGFONTW& w) {
  std::memcpy(&a, &w, offsetof(LOGFONTW, lfFaceName));
  std::memset(a.lfFaceName, 0, sizeof a.lfFaceName);
  std::size_t n = 0;
  while (n < LF_FACESIZE && w.lfFaceName[n]) ++n;
  WideCharToMultiByte(CP_ACP, 0, w.lfFaceName, static_cast<int>(n), a.lfFaceName, LF_FACESIZE - 1, nullptr,
                      nullptr);
}

void widenFont(LOGFONTW& w, const LOGFONTA& a) {
  std::memcpy(&w, &a, offsetof(LOGFONTA, lfFaceName));
  std::memset(w.lfFaceName, 0, sizeof w.lfFaceName);
  const std::size_t n = strnlen(a.lfFaceName, LF_FACESIZE);
  MultiByteToWideChar(CP_ACP, 0, a.lfFaceName, static_cast<int>(n), w.lfFaceName, LF_FACESIZE - 1);
}

// The ANSI record: the characters as bytes of the ANSI code page, which
// ends at 0xFF.
void narrowMetrics(TEXTMETRICA& a, const TEXTMETRICW& w) {
  std::memcpy(&a, &w, offsetof(TEXTMETRICW, tmFirstChar));
  const auto byte = [](WCHAR c) { return static_cast<BYTE>(c > 0xFF ? 0xFF : c); };
  a.tmFirstChar = byte(w.tmFirstChar);
  a.tmLastChar = byte(w.tmLastChar);
  a.tmDefaultChar = byte(w.tmDefaultChar);
  a.tmBreakChar = byte(w.tmBreakChar);
  a.tmItalic = w.tmItalic;
  a.tmUnderlined = w.tmUnderlined;
  a.tmStruckOut = w.tmStruckOut;
  a.tmPitchAndFamily = w.tmPitchAndFamily;
  a.tmCharSet = w.tmCharSet;
}

std::vector<std::string> families() {
  std::vector<std::string> out;
  FcPattern* p = FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, FC_SCALABLE, nullptr);
  FcFontSet* set = p && os ? FcFontList(fonts(), p, os) : nullptr;
  if (set) {
    for (int i = 0; i < set->nfont; ++i) {
      FcBool scalable = FcFalse;
      FcChar8* name = nullptr;
      if (FcPatternGetBool(set->fonts[i], FC_SCALABLE, 0, &scalable) == FcResultMatch && !scalable) continue;
      if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &name) == FcResultMatch && name)
        out.emplace_back(reinterpret_cast<const char*>(name));
    }
    FcFontSetDestroy(set);
  }
  if (os) FcObjectSetDestroy(os);
  if (p) FcPatternDestroy(p);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool sameFace(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

}  // namespace

BOOL SystemParametersInfoW(UINT uiAction, UINT, PVOID pvParam, UINT) {
  if (uiAction != SPI_GETNONCLIENTMETRICS) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  auto* m = static_cast<NONCLIENTMETRICSW*>(pvParam);
  if (!m || (m->cbSize != sizeof(NONCLIENTMETRICSW) &&
             m->cbSize != offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const LOGFONTW font = messageFont();
  m->iBorderWidth = 1;
  m->iScrollWidth = 17;
  m->iScrollHeight = 17;
  m->iCaptionWidth = 36;
  m->iCaptionHeight = 22;
  m->lfCaptionFont = font;
  m->iSmCaptionWidth = 22;
  m->iSmCaptionHeight = 22;
  m->lfSmCaptionFont = font;
  m->iMenuWidth = 19;
  m->iMenuHeight = 19;
  m->lfMenuFont = font;
  m->lfStatusFont = font;
  m->lfMessageFont = font;
  if (m->cbSize == sizeof(NONCLIENTMETRICSW)) m->iPaddedBorderWidth = 4;
  return TRUE;
}

BOOL SystemParametersInfoA(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni) {
  if (uiAction != SPI_GETNONCLIENTMETRICS) return SystemParametersInfoW(uiAction, uiParam, pvParam, fWinIni);
  auto* a = static_cast<NONCLIENTMETRICSA*>(pvParam);
  if (!a || (a->cbSize != sizeof(NONCLIENTMETRICSA) && a->cbSize != sizeof(NONCLIENTMETRICSA) + sizeof(int))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  NONCLIENTMETRICSW w{};
  w.cbSize = sizeof w;
  if (!SystemParametersInfoW(uiAction, uiParam, &w, fWinIni)) return FALSE;
  a->iBorderWidth = w.iBorderWidth;
  a->iScrollWidth = w.iScrollWidth;
  a->iScrollHeight = w.iScrollHeight;
  a->iCaptionWidth = w.iCaptionWidth;
  a->iCaptionHeight = w.iCaptionHeight;
  narrowFont(a->lfCaptionFont, w.lfCaptionFont);
  a->iSmCaptionWidth = w.iSmCaptionWidth;
  a->iSmCaptionHeight = w.iSmCaptionHeight;
  narrowFont(a->lfSmCaptionFont, w.lfSmCaptionFont);
  a->iMenuWidth = w.iMenuWidth;
  a->iMenuHeight = w.iMenuHeight;
  narrowFont(a->lfMenuFont, w.lfMenuFont);
  narrowFont(a->lfStatusFont, w.lfStatusFont);
  narrowFont(a->lfMessageFont, w.lfMessageFont);
  if (a->cbSize != sizeof(NONCLIENTMETRICSA)) std::memcpy(a + 1, &w.iPaddedBorderWidth, sizeof(int));
  return TRUE;
}

HFONT CreateFontIndirectW(const LOGFONTW* lplf) {
  if (!lplf) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* f = new Font{*lplf};
  std::lock_guard<std::mutex> g(g_lock);
  liveFonts().insert(f);
  return reinterpret_cast<HFONT>(f);
}

HFONT CreateFontIndirectA(const LOGFONTA* lplf) {
  if (!lplf) return CreateFontIndirectW(nullptr);
  LOGFONTW w;
  widenFont(w, *lplf);
  return CreateFontIndirectW(&w);
}

HDC CreateCompatibleDC(HDC hdc) {
  if (hdc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto* dc = new MemoryDc;
  std::lock_guard<std::mutex> g(g_lock);
  liveDcs().insert(dc);
  return reinterpret_cast<HDC>(dc);
}

BOOL DeleteDC(HDC hdc) {
  std::lock_guard<std::mutex> g(g_lock);
  if (!liveDcs().erase(hdc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete reinterpret_cast<MemoryDc*>(hdc);
  return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  std::lock_guard<std::mutex> g(g_lock);
  if (!liveDcs().count(hdc) || !liveFonts().count(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto* dc = reinterpret_cast<MemoryDc*>(hdc);
  Font* previous = dc->font;
  dc->font = reinterpret_cast<Font*>(h);
  // The stock font has no handle of its own here: the new one stands for it.
  return reinterpret_cast<HGDIOBJ>(previous ? previous : dc->font);
}

BOOL DeleteObject(HGDIOBJ h) {
  std::lock_guard<std::mutex> g(g_lock);
  if (!liveFonts().erase(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // A DC that still holds it falls back to the message font.
  for (const void* d : liveDcs()) {
    auto* dc = const_cast<MemoryDc*>(static_cast<const MemoryDc*>(d));
    if (dc->font == reinterpret_cast<Font*>(h)) dc->font = nullptr;
  }
  delete reinterpret_cast<Font*>(h);
  return TRUE;
}

BOOL GetTextMetricsW(HDC hdc, LPTEXTMETRICW lptm) {
  LOGFONTW lf;
  {
    std::lock_guard<std::mutex> g(g_lock);
    if (!liveDcs().count(hdc)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    const Font* f = reinterpret_cast<MemoryDc*>(hdc)->font;
    lf = f ? f->logFont : LOGFONTW{};
  }
  if (!lptm) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (lf.lfHeight == 0 && lf.lfFaceName[0] == 0) lf = messageFont();
  if (!metricsOf(lf, *lptm)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL GetTextMetricsA(HDC hdc, LPTEXTMETRICA lptm) {
  TEXTMETRICW w{};
  if (!lptm) return GetTextMetricsW(hdc, nullptr);
  if (!GetTextMetricsW(hdc, &w)) return FALSE;
  narrowMetrics(*lptm, w);
  return TRUE;
}

int EnumFontFamiliesExW(HDC hdc, LOGFONTW* lpLogfont, FONTENUMPROCW lpProc, LPARAM lParam, DWORD) {
  {
    std::lock_guard<std::mutex> g(g_lock);
    if (!liveDcs().count(hdc)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
  }
  if (!lpLogfont || !lpProc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (lpLogfont->lfCharSet != ANSI_CHARSET && lpLogfont->lfCharSet != DEFAULT_CHARSET) return 1;
  const std::string wanted = faceOf(*lpLogfont);
  int answer = 1;
  for (const std::string& family : families()) {
    if (!wanted.empty() && !sameFace(family, wanted)) continue;
    LOGFONTW lf{};
    lf.lfHeight = -12;
    lf.lfCharSet = ANSI_CHARSET;
    setFace(lf.lfFaceName, family);
    TEXTMETRICW tm{};
    if (!metricsOf(lf, tm)) continue;
    lf.lfHeight = tm.tmHeight;
    lf.lfWeight = tm.tmWeight;
    lf.lfPitchAndFamily = static_cast<BYTE>((tm.tmPitchAndFamily & TMPF_FIXED_PITCH) ? 2 : 1);  // VARIABLE or FIXED
    answer = lpProc(&lf, &tm, TRUETYPE_FONTTYPE, lParam);
    if (answer == 0) break;
  }
  return answer;
}

namespace {
struct AnsiEnum {
  FONTENUMPROCA proc;
  LPARAM data;
};
int ansiEnum(const LOGFONTW* w, const TEXTMETRICW* tw, DWORD type, LPARAM p) {
  const auto* e = reinterpret_cast<const AnsiEnum*>(p);
  LOGFONTA a;
  narrowFont(a, *w);
  TEXTMETRICA ta;
  narrowMetrics(ta, *tw);
  return e->proc(&a, &ta, type, e->data);
}
}  // namespace

int EnumFontFamiliesExA(HDC hdc, LOGFONTA* lpLogfont, FONTENUMPROCA lpProc, LPARAM lParam, DWORD dwFlags) {
  if (!lpLogfont || !lpProc) return EnumFontFamiliesExW(hdc, nullptr, nullptr, lParam, dwFlags);
  LOGFONTW w;
  widenFont(w, *lpLogfont);
  AnsiEnum e{lpProc, lParam};
  return EnumFontFamiliesExW(hdc, &w, ansiEnum, reinterpret_cast<LPARAM>(&e), dwFlags);
}
