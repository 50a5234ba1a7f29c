// Console output: a handle to a terminal is a console; any other handle (a
// file, a pipe) is not, and the console calls fail on it with 6, as on
// Windows. The terminal is written in UTF-8.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/layer/types.h"

// The OEM code page of the system's locale, 437.
UINT GetConsoleOutputCP();
// `nNumberOfCharsToWrite` UTF-16 units; the count written is in units too.
BOOL WriteConsoleW(HANDLE hConsoleOutput, const void* lpBuffer, DWORD nNumberOfCharsToWrite,
                   LPDWORD lpNumberOfCharsWritten, LPVOID lpReserved);
// Bytes in the console output code page.
BOOL WriteConsoleA(HANDLE hConsoleOutput, const void* lpBuffer, DWORD nNumberOfCharsToWrite,
                   LPDWORD lpNumberOfCharsWritten, LPVOID lpReserved);

// A debugger's output: nobody listens here, so the text goes nowhere, as on
// Windows without a debugger; the last error stays.
void OutputDebugStringW(LPCWSTR lpOutputString);
void OutputDebugStringA(LPCSTR lpOutputString);

namespace win32 {
// Tests only: keep the texts OutputDebugString is given (UTF-16), from now
// on when `on`; the kept ones, oldest first.
void record_debug_strings(bool on);
std::vector<std::u16string> recorded_debug_strings();
}  // namespace win32
