// The system side of winsock.cpp, in plain types: winsock.h and the C library's
// socket headers cannot meet in one file. Failures return -1 and leave a
// Windows Sockets code in the thread's last error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace win32::sock {

struct Piece {
  void* data;
  std::size_t size;
};

struct PollEntry {
  int fd;
  short events;   // Windows values
  short revents;  // Windows values
};

struct Resolved {
  int family;  // Windows value
  int socktype;
  int protocol;
  std::size_t length;
  unsigned char address[128];  // Windows layout (family field translated)
  std::string canonical;
};

int open(int family, int type, int protocol);
int connect(int fd, const unsigned char* address, int length);
int close(int fd);
int shutdown(int fd, int how);
int setNoDelay(int fd, int on);
int setTimeout(int fd, bool receive, std::uint32_t milliseconds);
int pendingError(int fd, int* wsaError);
int setNonBlocking(int fd, bool on);
int poll(PollEntry* entries, std::size_t count, int timeout);
long send(int fd, const Piece* pieces, std::size_t count);
long receive(int fd, Piece* pieces, std::size_t count);
// 0 or a Windows Sockets code.
int resolve(const char* node, const char* service, const int* hints /* flags, family, type, protocol */,
            std::vector<Resolved>& out);
std::uint32_t inetAddr(const char* text);  // network order; 0xffffffff when refused
// The thread's last error after a failed system call, as a Windows Sockets code.
int wsaFromErrno(int error);

}  // namespace win32::sock
