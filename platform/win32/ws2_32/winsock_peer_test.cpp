// The far end of the socket layer's tests, on the system's own sockets (the
// layer's header and the system's cannot share a file).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "platform/win32/ws2_32/winsock_peer.h"

namespace winsock_peer {

namespace {
sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}
std::uint16_t portOf(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}
}  // namespace

int listenOn(std::uint16_t& port, bool listening) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  if (listening) ::listen(fd, 8);
  port = portOf(fd);
  return fd;
}

int acceptOne(int fd) { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
long sendBytes(int fd, const char* data, unsigned long size) { return ::send(fd, data, size, MSG_NOSIGNAL); }
long receiveBytes(int fd, char* data, unsigned long size) { return ::recv(fd, data, size, MSG_WAITALL); }
void closeFd(int fd) { ::close(fd); }

}  // namespace winsock_peer
