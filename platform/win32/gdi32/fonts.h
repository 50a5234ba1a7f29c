// GDI's font calls and the non-client metrics, over fontconfig and FreeType:
// a font handle keeps its LOGFONT, a memory DC the font selected into it,
// and text metrics are read from the matching font file's own tables, as
// GDI reads a TrueType font's. Only memory DCs exist here.
#pragma once

#include "platform/win32/layer/forward.h"
#include "platform/win32/layer/types.h"

#define LF_FACESIZE 32

struct LOGFONTA {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  CHAR lfFaceName[LF_FACESIZE];
};
struct LOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
};

struct TEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  BYTE tmFirstChar;
  BYTE tmLastChar;
  BYTE tmDefaultChar;
  BYTE tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};
struct TEXTMETRICW {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  WCHAR tmFirstChar;
  WCHAR tmLastChar;
  WCHAR tmDefaultChar;
  WCHAR tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};
using LPTEXTMETRICA = TEXTMETRICA*;

// The record of Windows before Vista (no padded border), which is the one
// the ANSI form knows; the wide form accepts both sizes.
struct NONCLIENTMETRICSA {
  UINT cbSize;
  int iBorderWidth;
  int iScrollWidth;
  int iScrollHeight;
  int iCaptionWidth;
  int iCaptionHeight;
  LOGFONTA lfCaptionFont;
  int iSmCaptionWidth;
  int iSmCaptionHeight;
  LOGFONTA lfSmCaptionFont;
  int iMenuWidth;
  int iMenuHeight;
  LOGFONTA lfMenuFont;
  LOGFONTA lfStatusFont;
  LOGFONTA lfMessageFont;
};
struct NONCLIENTMETRICSW {
  UINT cbSize;
  int iBorderWidth;
  int iScrollWidth;
  int iScrollHeight;
  int iCaptionWidth;
  int iCaptionHeight;
  LOGFONTW lfCaptionFont;
  int iSmCaptionWidth;
  int iSmCaptionHeight;
  LOGFONTW lfSmCaptionFont;
  int iMenuWidth;
  int iMenuHeight;
  LOGFONTW lfMenuFont;
  LOGFONTW lfStatusFont;
  LOGFONTW lfMessageFont;
  int iPaddedBorderWidth;
};
static_assert(sizeof(LOGFONTA) == 60 && sizeof(LOGFONTW) == 92);
static_assert(sizeof(NONCLIENTMETRICSA) == 340 && sizeof(NONCLIENTMETRICSW) == 504);

using FONTENUMPROCA = int (*)(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM);

// Any GDI object; a font handle converts to it as on Windows.
using HGDIOBJ = void*;

#define SPI_GETNONCLIENTMETRICS 0x0029
#define FW_NORMAL 400
#define FW_BOLD 700
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define TMPF_FIXED_PITCH 0x01  // set for a variable-pitch font, as GDI has it
#define TMPF_VECTOR 0x02
#define TMPF_TRUETYPE 0x04
#define TRUETYPE_FONTTYPE 0x0004

// SPI_GETNONCLIENTMETRICS answers Windows 10's metrics at 96 dpi and, for
// every font, the desktop's sans-serif face (fontconfig's first choice) at
// 9 points (lfHeight -12), weight 400. Other actions are not served (120).
BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni);
BOOL SystemParametersInfoA(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni);

HFONT CreateFontIndirectW(const LOGFONTW* lplf);
HFONT CreateFontIndirectA(const LOGFONTA* lplf);
// A memory DC (the argument must be null: no window DCs here); its font is
// the message font until another is selected.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
// Fonts only; the previously selected font, or null with 6.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
BOOL DeleteObject(HGDIOBJ h);
BOOL GetTextMetricsW(HDC hdc, LPTEXTMETRICW lptm);
BOOL GetTextMetricsA(HDC hdc, LPTEXTMETRICA lptm);
// One call per installed family (one with lfFaceName set: that family only)
// with the ANSI character set, font type TRUETYPE_FONTTYPE and the metrics
// at 9 points; a character set other than ANSI_CHARSET or DEFAULT_CHARSET
// finds none. Returns the callback's last answer, 1 when none ran.
int EnumFontFamiliesExW(HDC hdc, LOGFONTW* lpLogfont, FONTENUMPROCW lpProc, LPARAM lParam, DWORD dwFlags);
int EnumFontFamiliesExA(HDC hdc, LOGFONTA* lpLogfont, FONTENUMPROCA lpProc, LPARAM lParam, DWORD dwFlags);
