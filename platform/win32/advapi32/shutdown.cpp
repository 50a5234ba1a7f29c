#include "platform/win32/advapi32/shutdown.h"

#include <sys/stat.h>

#include <atomic>
#include <fstream>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/advapi32/token.h"

namespace win32 {
namespace {

std::atomic<bool> locked{false};

std::string requests_file() { return world_root() + "/run/shutdown-requests"; }

bool record(const std::string& line) {
  ::mkdir((world_root() + "/run").c_str(), 0777);
  std::ofstream out(requests_file(), std::ios::app);
  out << line << '\n';
  out.flush();
  return static_cast<bool>(out);
}

BOOL initiate(bool local, bool force, bool reboot) {
  if (!local) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  if (!privilege_enabled("SeShutdownPrivilege")) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  if (locked && !force) {
    SetLastError(ERROR_MACHINE_LOCKED);
    return FALSE;
  }
  if (!record(std::string(reboot ? "restart" : "shutdown") + (force ? " forced" : ""))) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::vector<std::string> shutdown_requests() {
  std::vector<std::string> lines;
  std::ifstream in(requests_file());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void set_workstation_locked(bool value) { locked = value; }

}  // namespace win32

BOOL InitiateSystemShutdownA(LPSTR machine, LPSTR, DWORD, BOOL force, BOOL reboot) {
  return win32::initiate(!machine || !*machine, force != FALSE, reboot != FALSE);
}

BOOL InitiateSystemShutdownW(LPWSTR machine, LPWSTR, DWORD, BOOL force, BOOL reboot) {
  return win32::initiate(!machine || !*machine, force != FALSE, reboot != FALSE);
}

NTSTATUS NtShutdownSystem(int action) {
  if (!win32::privilege_enabled("SeShutdownPrivilege")) return static_cast<NTSTATUS>(0xC0000061);
  if (action < 0 || action > 2) return static_cast<NTSTATUS>(0xC000000D);
  static const char* const kWhat[] = {"shutdown", "restart", "power off"};
  return win32::record(std::string(kWhat[action]) + " (native)") ? 0 : static_cast<NTSTATUS>(0xC0000001);
}
