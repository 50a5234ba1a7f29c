#include "platform/win32/ws2_32/socket_posix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/win32/kernel32/lasterror.h"

namespace win32::sock {
namespace {

constexpr int kWsAfInet6 = 23;

int fail(int wsa) {
  SetLastError(static_cast<DWORD>(wsa));
  return -1;
}
int failErrno() { return fail(wsaFromErrno(errno)); }
// EAGAIN means a time-out on a blocking socket and "would block" otherwise.
int failTransfer(int fd) {
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK)) return fail(10035);
  }
  return failErrno();
}

int toSystemFamily(int family) {
  if (family == kWsAfInet6) return AF_INET6;
  return family;  // AF_UNSPEC and AF_INET share their values
}
int toWindowsFamily(int family) { return family == AF_INET6 ? kWsAfInet6 : family; }

short toSystemEvents(short e) {
  short r = 0;
  if (e & (0x0100 | 0x0200)) r |= POLLIN;
  if (e & 0x0010) r |= POLLOUT;
  return r;
}
short toWindowsEvents(short e) {
  short r = 0;
  if (e & POLLIN) r |= 0x0100;
  if (e & POLLPRI) r |= 0x0200;
  if (e & POLLOUT) r |= 0x0010;
  if (e & POLLERR) r |= 0x0001;
  if (e & POLLHUP) r |= 0x0002;
  if (e & POLLNVAL) r |= 0x0004;
  return r;
}

}  // namespace

int wsaFromErrno(int error) {
  switch (error) {
    case EINTR: return 10004;
    case EBADF: return 10038;  // not a socket of ours
    case EACCES: case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EAGAIN: return 10060;  // blocking sockets time out this way
    case EINPROGRESS: return 10035;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EMSGSIZE: return 10040;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: case EPIPE: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTUNREACH: case EHOSTDOWN: return 10065;
    default: return 10022;
  }
}

int open(int family, int type, int protocol) {
  int fd = ::socket(toSystemFamily(family), type | SOCK_CLOEXEC, protocol);
  return fd < 0 ? failErrno() : fd;
}

int connect(int fd, const unsigned char* address, int length) {
  if (length < 2 || length > static_cast<int>(sizeof(sockaddr_storage))) return fail(10014);
  sockaddr_storage a{};
  std::memcpy(&a, address, static_cast<std::size_t>(length));
  std::uint16_t family;
  std::memcpy(&family, address, 2);
  a.ss_family = static_cast<sa_family_t>(toSystemFamily(family));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), static_cast<socklen_t>(length)) == 0) return 0;
  return failErrno();
}

int close(int fd) { return ::close(fd) == 0 ? 0 : failErrno(); }

int shutdown(int fd, int how) {
  int h = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : how == 2 ? SHUT_RDWR : -1;
  if (h < 0) return fail(10022);
  return ::shutdown(fd, h) == 0 ? 0 : failErrno();
}

int setNoDelay(int fd, int on) {
  return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 ? 0 : failErrno();
}

int setTimeout(int fd, bool receive, std::uint32_t milliseconds) {
  timeval tv{};
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
  return ::setsockopt(fd, SOL_SOCKET, receive ? SO_RCVTIMEO : SO_SNDTIMEO, &tv, sizeof tv) == 0 ? 0
                                                                                               : failErrno();
}

int pendingError(int fd, int* wsaError) {
  int e = 0;
  socklen_t n = sizeof e;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &n) != 0) return failErrno();
  *wsaError = e ? wsaFromErrno(e) : 0;
  return 0;
}

int setNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return failErrno();
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(fd, F_SETFL, flags) == 0 ? 0 : failErrno();
}

int poll(PollEntry* entries, std::size_t count, int timeout) {
  std::vector<pollfd> p(count);
  for (std::size_t i = 0; i < count; ++i) p[i] = {entries[i].fd, toSystemEvents(entries[i].events), 0};
  int r;
  do r = ::poll(p.data(), p.size(), timeout);
  while (r < 0 && errno == EINTR && timeout < 0);
  if (r < 0) return failErrno();
  for (std::size_t i = 0; i < count; ++i) entries[i].revents = toWindowsEvents(p[i].revents);
  return r;
}

long send(int fd, const Piece* pieces, std::size_t count) {
  std::vector<iovec> v(count);
  for (std::size_t i = 0; i < count; ++i) v[i] = {pieces[i].data, pieces[i].size};
  // A blocking Windows send returns once every byte is queued.
  long total = 0;
  std::size_t first = 0;
  while (first < v.size()) {
    msghdr m{};
    m.msg_iov = v.data() + first;
    m.msg_iovlen = v.size() - first;
    ssize_t n = ::sendmsg(fd, &m, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failTransfer(fd);
    }
    total += n;
    auto left = static_cast<std::size_t>(n);
    while (first < v.size() && left >= v[first].iov_len) left -= v[first++].iov_len;
    if (first < v.size()) {
      v[first].iov_base = static_cast<char*>(v[first].iov_base) + left;
      v[first].iov_len -= left;
    }
  }
  return total;
}

long receive(int fd, Piece* pieces, std::size_t count) {
  std::vector<iovec> v(count);
  for (std::size_t i = 0; i < count; ++i) v[i] = {pieces[i].data, pieces[i].size};
  msghdr m{};
  m.msg_iov = v.data();
  m.msg_iovlen = v.size();
  for (;;) {
    ssize_t n = ::recvmsg(fd, &m, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return failTransfer(fd);
  }
}

int resolve(const char* node, const char* service, const int* hints, std::vector<Resolved>& out) {
  addrinfo h{};
  if (hints) {
    h.ai_flags = hints[0];
    h.ai_family = toSystemFamily(hints[1]);
    h.ai_socktype = hints[2];
    h.ai_protocol = hints[3];
  }
  addrinfo* list = nullptr;
  int r = ::getaddrinfo(node, service, hints ? &h : nullptr, &list);
  if (r != 0) {
    switch (r) {
      case EAI_AGAIN: return 11002;
      case EAI_FAIL: return 11003;
      case EAI_FAMILY: return 10047;
      case EAI_MEMORY: return 8;
      case EAI_SERVICE: return 10109;
      case EAI_SOCKTYPE: return 10044;
      case EAI_BADFLAGS: return 10022;
      case EAI_SYSTEM: return wsaFromErrno(errno);
      default: return 11001;
    }
  }
  for (addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    Resolved x{};
    x.family = toWindowsFamily(a->ai_family);
    x.socktype = a->ai_socktype;
    x.protocol = a->ai_protocol;
    x.length = a->ai_addrlen;
    std::memcpy(x.address, a->ai_addr, a->ai_addrlen);
    auto f = static_cast<std::uint16_t>(x.family);
    std::memcpy(x.address, &f, 2);
    if (a->ai_canonname) x.canonical = a->ai_canonname;
    out.push_back(std::move(x));
  }
  ::freeaddrinfo(list);
  return 0;
}

std::uint32_t inetAddr(const char* text) { return ::inet_addr(text); }

}  // namespace win32::sock
