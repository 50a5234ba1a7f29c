// File mappings backed by the paging file, named or not. A named mapping is a
// file in the world's runtime folder (run/mappings), so every process of the
// world maps the same bytes; each holder keeps a shared lock on it, which is
// how a later create tells a live object (ERROR_ALREADY_EXISTS) from one left
// behind by a process that died.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define SEC_COMMIT 0x08000000
#define FILE_MAP_COPY 0x0001
#define FILE_MAP_WRITE 0x0002
#define FILE_MAP_READ 0x0004
#define FILE_MAP_ALL_ACCESS 0x000F001F
#define ERROR_MAPPED_ALIGNMENT 1132L

// Only hFile == INVALID_HANDLE_VALUE (the paging file) is served; a file handle
// fails with ERROR_CALL_NOT_IMPLEMENTED. Names may start "Global\" or
// "Local\"; both lie in the one namespace of the world.
HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCWSTR name);
HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name);
HANDLE OpenFileMappingW(DWORD access, BOOL inheritHandle, LPCWSTR name);
HANDLE OpenFileMappingA(DWORD access, BOOL inheritHandle, LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID address);
