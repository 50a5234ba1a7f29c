// Help topics and pop-ups. The shipped help file is a ZIP archive of HTML
// pages standing in for a compiled help file: HtmlHelpW opens its contents
// page ("index.htm") or a topic page with the desktop's opener, and reads
// text pop-ups from its "popups.txt" (lines "<id>=<text>"). WinHelp files
// are never served. Includes FOX.
#pragma once

#include <fx.h>

#include <cstdint>

#include "platform/fox/fxwstring.h"
#include "platform/win32/windows.h"

class FXKorvaneApp;

struct HH_POPUP {
  int cbStruct;
  void* hinst;
  UINT idString;
  const WCHAR* pszText;
  POINT pt;
  FX::FXColor clrForeground;
  FX::FXColor clrBackground;
  RECT rcMargins;
  const WCHAR* pszFont;
};

#define HH_DISPLAY_TOPIC 0x0000
#define HH_DISPLAY_TOC 0x0001
#define HH_DISPLAY_TEXT_POPUP 0x000E
#define HELP_CONTEXT 0x0001
#define HELP_CONTEXTPOPUP 0x0008
#define HELP_FINDER 0x000B
#define HELP_SETPOPUP_POS 0x000D

// Null when the archive, the page or the pop-up text is missing.
HWND HtmlHelpW(HWND caller, const WCHAR* file, UINT command, DWORD_PTR data);
// Always FALSE with ERROR_NOT_SUPPORTED.
BOOL WinHelpW(HWND caller, const WCHAR* file, UINT command, ULONG_PTR data);

// A help request: flags 0x1 context pop-up, 0x2 text pop-up in the
// application's own window, 0x4 fill the help file even with a text.
struct FXKHelpRequest {
  FXWString helpFile;
  std::uint8_t flags = 0;
  FX::FXWindow* window = nullptr;
  int topic = 0;
  std::int16_t x = 0, y = 0;
  const char16_t* text = nullptr;
};

bool FXKShowHelpTopic(FXKorvaneApp* app, FXKHelpRequest& request);
