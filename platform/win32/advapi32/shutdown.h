// Shutting the machine down or restarting it: the world records the request
// (what was asked, forced or not) instead of stopping anything, one line per
// request in run/shutdown-requests, so tests and users can see it.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

#define ERROR_MACHINE_LOCKED 1271L
using NTSTATUS = LONG;

// Needs SeShutdownPrivilege enabled (ERROR_PRIVILEGE_NOT_HELD); a locked
// workstation refuses an unforced request (ERROR_MACHINE_LOCKED). Only the
// local machine (null or empty name) is served.
BOOL InitiateSystemShutdownA(LPSTR machine, LPSTR message, DWORD timeout, BOOL force, BOOL reboot);
BOOL InitiateSystemShutdownW(LPWSTR machine, LPWSTR message, DWORD timeout, BOOL force, BOOL reboot);
// ntdll's: 0 shutdown, 1 reboot, 2 power off. STATUS_PRIVILEGE_NOT_HELD without
// the privilege.
NTSTATUS NtShutdownSystem(int action);

namespace win32 {
// The recorded requests, oldest first: "shutdown", "restart", "power off",
// each followed by " forced" when forced, and " (native)" from NtShutdownSystem.
std::vector<std::string> shutdown_requests();
// Tests: lock or unlock the world's workstation.
void set_workstation_locked(bool locked);
}  // namespace win32
