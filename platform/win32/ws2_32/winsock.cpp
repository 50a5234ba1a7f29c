#include "platform/win32/ws2_32/winsock.h"

#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "platform/win32/ws2_32/socket_posix.h"

namespace {

std::atomic<int> startups{0};

bool started() {
  if (startups.load(std::memory_order_acquire) > 0) return true;
  SetLastError(WSANOTINITIALISED);
  return false;
}

// A SOCKET is the descriptor; anything that cannot be one is refused here.
bool descriptor(SOCKET s, int& fd) {
  if (s > static_cast<SOCKET>(std::numeric_limits<int>::max())) {
    SetLastError(WSAENOTSOCK);
    return false;
  }
  fd = static_cast<int>(s);
  return true;
}

bool usable(SOCKET s, int& fd) { return started() && descriptor(s, fd); }

}  // namespace

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  BYTE major = wVersionRequested & 0xFF;
  BYTE minor = wVersionRequested >> 8;
  if (!lpWSAData) return WSAEFAULT;
  if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
  std::memset(lpWSAData, 0, sizeof *lpWSAData);
  lpWSAData->wVersion = (major > 2 || (major == 2 && minor > 2)) ? MAKEWORD_WS(2, 2) : wVersionRequested;
  lpWSAData->wHighVersion = MAKEWORD_WS(2, 2);
  std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
  std::strcpy(lpWSAData->szSystemStatus, "Running");
  startups.fetch_add(1, std::memory_order_acq_rel);
  return 0;
}

int WSACleanup() {
  int n = startups.load(std::memory_order_acquire);
  while (n > 0 && !startups.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel)) {
  }
  if (n <= 0) {
    SetLastError(WSANOTINITIALISED);
    return SOCKET_ERROR;
  }
  return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }
void WSASetLastError(int iError) { SetLastError(static_cast<DWORD>(iError)); }

int getaddrinfo(const char* pNodeName, const char* pServiceName, const ADDRINFOA* pHints, PADDRINFOA* ppResult) {
  if (!ppResult) return WSAEINVAL;
  *ppResult = nullptr;
  if (!started()) return WSANOTINITIALISED;
  int hints[4];
  if (pHints) {
    hints[0] = pHints->ai_flags;
    hints[1] = pHints->ai_family;
    hints[2] = pHints->ai_socktype;
    hints[3] = pHints->ai_protocol;
  }
  std::vector<win32::sock::Resolved> found;
  int r = win32::sock::resolve(pNodeName, pServiceName, pHints ? hints : nullptr, found);
  if (r != 0) {
    SetLastError(static_cast<DWORD>(r));
    return r;
  }
  // Each entry is one block: the entry, then its address, then its name.
  ADDRINFOA* head = nullptr;
  ADDRINFOA** tail = &head;
  for (const auto& f : found) {
    std::size_t bytes = sizeof(ADDRINFOA) + f.length + (f.canonical.empty() ? 0 : f.canonical.size() + 1);
    auto* block = static_cast<unsigned char*>(::operator new(bytes, std::nothrow));
    if (!block) {
      freeaddrinfo(head);
      SetLastError(WSA_NOT_ENOUGH_MEMORY);
      return WSA_NOT_ENOUGH_MEMORY;
    }
    auto* e = new (block) ADDRINFOA{};
    e->ai_family = f.family;
    e->ai_socktype = f.socktype;
    e->ai_protocol = f.protocol;
    e->ai_addrlen = f.length;
    e->ai_addr = reinterpret_cast<SOCKADDR*>(block + sizeof(ADDRINFOA));
    std::memcpy(e->ai_addr, f.address, f.length);
    if (!f.canonical.empty()) {
      e->ai_canonname = reinterpret_cast<char*>(block + sizeof(ADDRINFOA) + f.length);
      std::memcpy(e->ai_canonname, f.canonical.c_str(), f.canonical.size() + 1);
    }
    *tail = e;
    tail = &e->ai_next;
  }
  if (!head) {
    SetLastError(WSANO_DATA);
    return WSANO_DATA;
  }
  *ppResult = head;
  return 0;
}

void freeaddrinfo(PADDRINFOA pAddrInfo) {
  while (pAddrInfo) {
    ADDRINFOA* next = pAddrInfo->ai_next;
    pAddrInfo->~ADDRINFOA();
    ::operator delete(static_cast<void*>(pAddrInfo));
    pAddrInfo = next;
  }
}

unsigned long inet_addr(const char* cp) {
  if (!cp) return INADDR_NONE;
  return win32::sock::inetAddr(cp);
}

HOSTENT* gethostbyname(const char* name) {
  struct Answer {
    HOSTENT host{};
    std::string name;
    std::vector<std::uint32_t> addresses;
    std::vector<char*> list;
    char* noAliases = nullptr;
  };
  thread_local Answer answer;
  if (!started()) return nullptr;
  if (!name) {
    SetLastError(WSAEFAULT);
    return nullptr;
  }
  std::vector<win32::sock::Resolved> found;
  const int hints[4] = {0, AF_INET, SOCK_STREAM, 0};
  int r = win32::sock::resolve(name, nullptr, hints, found);
  if (r != 0 || found.empty()) {
    SetLastError(static_cast<DWORD>(r ? r : WSANO_DATA));
    return nullptr;
  }
  answer.name = found.front().canonical.empty() ? name : found.front().canonical;
  answer.addresses.clear();
  for (const auto& f : found) {
    std::uint32_t a;
    std::memcpy(&a, f.address + 4, 4);  // after family and port
    answer.addresses.push_back(a);
  }
  answer.list.clear();
  for (auto& a : answer.addresses) answer.list.push_back(reinterpret_cast<char*>(&a));
  answer.list.push_back(nullptr);
  answer.host.h_name = answer.name.data();
  answer.host.h_aliases = &answer.noAliases;
  answer.host.h_addrtype = AF_INET;
  answer.host.h_length = 4;
  answer.host.h_addr_list = answer.list.data();
  return &answer.host;
}

USHORT htons(USHORT v) { return static_cast<USHORT>((v >> 8) | (v << 8)); }
USHORT ntohs(USHORT v) { return htons(v); }
ULONG htonl(ULONG v) {
  return ((v & 0xFF) << 24) | ((v & 0xFF00) << 8) | ((v >> 8) & 0xFF00) | (v >> 24);
}

SOCKET socket(int af, int type, int protocol) {
  if (!started()) return INVALID_SOCKET;
  if (af != AF_INET && af != AF_INET6) {
    SetLastError(WSAEAFNOSUPPORT);
    return INVALID_SOCKET;
  }
  int fd = win32::sock::open(af, type, protocol);
  return fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(fd);
}

int connect(SOCKET s, const SOCKADDR* name, int namelen) {
  int fd;
  if (!usable(s, fd)) return SOCKET_ERROR;
  if (!name) {
    SetLastError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  return win32::sock::connect(fd, reinterpret_cast<const unsigned char*>(name), namelen) == 0 ? 0 : SOCKET_ERROR;
}

int closesocket(SOCKET s) {
  int fd;
  if (!usable(s, fd)) return SOCKET_ERROR;
  return win32::sock::close(fd) == 0 ? 0 : SOCKET_ERROR;
}

int shutdown(SOCKET s, int how) {
  int fd;
  if (!usable(s, fd)) return SOCKET_ERROR;
  return win32::sock::shutdown(fd, how) == 0 ? 0 : SOCKET_ERROR;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  int fd;
  if (!usable(s, fd)) return SOCKET_ERROR;
  if (!optval || optlen < 4) {
    SetLastError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  DWORD v;
  std::memcpy(&v, optval, 4);
  int r;
  if (level == IPPROTO_TCP && optname == TCP_NODELAY) {
    r = win32::sock::setNoDelay(fd, v != 0);
  } else if (level == SOL_SOCKET && (optname == SO_RCVTIMEO || optname == SO_SNDTIMEO)) {
    r = win32::sock::setTimeout(fd, optname == SO_RCVTIMEO, v);
  } else {
    SetLastError(WSAENOPROTOOPT);
    return SOCKET_ERROR;
  }
  return r == 0 ? 0 : SOCKET_ERROR;
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
  int fd;
  if (!usable(s, fd)) return SOCKET_ERROR;
  if (!optval || !optlen || *optlen < 4) {
    SetLastError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  if (level != SOL_SOCKET || optname != SO_ERROR) {
    SetLastError(WSAENOPROTOOPT);
    return SOCKET_ERROR;
  }
  int e = 0;
  if (win32::sock::pendingError(fd, &e) != 0) return SOCKET_ERROR;
  std::memcpy(optval, &e, 4);
  *optlen = 4;
  return 0;
}

int ioctlsocket(SOCKET s, long cmd, ULONG* argp) {
  int fd;
  if (!usable(s, fd)) return SOCKET_ERROR;
  if (cmd != FIONBIO || !argp) {
    SetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  return win32::sock::setNonBlocking(fd, *argp != 0) == 0 ? 0 : SOCKET_ERROR;
}

int WSAPoll(LPWSAPOLLFD fdArray, ULONG fds, INT timeout) {
  if (!started()) return SOCKET_ERROR;
  std::vector<win32::sock::PollEntry> e(fds);
  for (ULONG i = 0; i < fds; ++i) {
    if (!descriptor(fdArray[i].fd, e[i].fd)) return SOCKET_ERROR;
    e[i].events = fdArray[i].events;
  }
  int r = win32::sock::poll(e.data(), e.size(), timeout);
  if (r < 0) return SOCKET_ERROR;
  for (ULONG i = 0; i < fds; ++i) fdArray[i].revents = e[i].revents;
  return r;
}

namespace {

bool transferArguments(LPWSABUF buffers, DWORD count, LPDWORD done, LPWSAOVERLAPPED overlapped,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE routine, std::vector<win32::sock::Piece>& pieces) {
  if (overlapped || routine) {
    SetLastError(WSAEOPNOTSUPP);
    return false;
  }
  if ((!buffers && count) || !done) {
    SetLastError(WSAEFAULT);
    return false;
  }
  pieces.resize(count);
  for (DWORD i = 0; i < count; ++i) pieces[i] = {buffers[i].buf, buffers[i].len};
  return true;
}

}  // namespace

int WSASend(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesSent, DWORD dwFlags,
            LPWSAOVERLAPPED lpOverlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
  int fd;
  if (!usable(s, fd)) return SOCKET_ERROR;
  std::vector<win32::sock::Piece> pieces;
  if (!transferArguments(lpBuffers, dwBufferCount, lpNumberOfBytesSent, lpOverlapped, lpCompletionRoutine, pieces))
    return SOCKET_ERROR;
  if (dwFlags != 0) {
    SetLastError(WSAEOPNOTSUPP);
    return SOCKET_ERROR;
  }
  long n = win32::sock::send(fd, pieces.data(), pieces.size());
  if (n < 0) return SOCKET_ERROR;
  *lpNumberOfBytesSent = static_cast<DWORD>(n);
  return 0;
}

int WSARecv(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags,
            LPWSAOVERLAPPED lpOverlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
  int fd;
  if (!usable(s, fd)) return SOCKET_ERROR;
  std::vector<win32::sock::Piece> pieces;
  if (!transferArguments(lpBuffers, dwBufferCount, lpNumberOfBytesRecvd, lpOverlapped, lpCompletionRoutine,
                         pieces))
    return SOCKET_ERROR;
  if (lpFlags && *lpFlags != 0) {
    SetLastError(WSAEOPNOTSUPP);
    return SOCKET_ERROR;
  }
  long n = win32::sock::receive(fd, pieces.data(), pieces.size());
  if (n < 0) return SOCKET_ERROR;
  *lpNumberOfBytesRecvd = static_cast<DWORD>(n);
  return 0;
}
