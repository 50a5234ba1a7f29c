// Win32 types that declarations name before the layer serves the calls that
// use them (shell, registry, GDI, dialogs, credentials, tool help). Only
// pointers to them travel, so most are declared, not defined, here; the area
// that serves them later gives the full definition.
#pragma once

#include "platform/win32/layer/types.h"
#include "platform/win32/user32/window.h"

struct DLGTEMPLATE;
using LPCDLGTEMPLATEW = const DLGTEMPLATE*;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

struct HDC__;
using HDC = HDC__*;
struct HFONT__;
using HFONT = HFONT__*;
struct HKL__;
using HKL = HKL__*;
struct LOGFONTW;
struct TEXTMETRICW;
using LPTEXTMETRICW = TEXTMETRICW*;
using FONTENUMPROCW = int (*)(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM);

struct OPENFILENAMEW;
using LPOPENFILENAMEW = OPENFILENAMEW*;

struct STARTUPINFOW;
using LPSTARTUPINFOW = STARTUPINFOW*;
struct PROCESS_INFORMATION;
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

struct SHELLEXECUTEINFOW;
struct SHFILEINFOW;
struct ITEMIDLIST;
using LPCITEMIDLIST = const ITEMIDLIST*;
struct NOTIFYICONDATAW;
using PNOTIFYICONDATAW = NOTIFYICONDATAW*;
struct NOTIFYICONDATAA;
using PNOTIFYICONDATAA = NOTIFYICONDATAA*;

struct PROCESSENTRY32W;
using LPPROCESSENTRY32W = PROCESSENTRY32W*;
struct MODULEENTRY32W;
using LPMODULEENTRY32W = MODULEENTRY32W*;

struct CREDENTIALW;
using PCREDENTIALW = CREDENTIALW*;
enum CRED_MARSHAL_TYPE : int {};
using PCRED_MARSHAL_TYPE = CRED_MARSHAL_TYPE*;

using PUINT = UINT*;

#define SE_ERR_NOASSOC 31
