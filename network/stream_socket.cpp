#include "network/stream_socket.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/win32/windows.h"

namespace Network {
namespace {

using GetAddrInfo = int (*)(const char*, const char*, const ADDRINFOA*, PADDRINFOA*);
using FreeAddrInfo = void (*)(PADDRINFOA);

struct WinSockState {
  bool ok = true;
  GetAddrInfo getAddrInfo = nullptr;
  FreeAddrInfo freeAddrInfo = nullptr;
};

const WinSockState& winSock() {
  static WinSockState state;
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    if (WSAStartup(2, &data) != 0 || data.wVersion != 2) {
      WSACleanup();
      state.ok = false;
      return;
    }
    HMODULE module = GetModuleHandleA("ws2_32");
    state.getAddrInfo = reinterpret_cast<GetAddrInfo>(reinterpret_cast<void*>(GetProcAddress(module, "getaddrinfo")));
    state.freeAddrInfo =
        reinterpret_cast<FreeAddrInfo>(reinterpret_cast<void*>(GetProcAddress(module, "freeaddrinfo")));
  });
  return state;
}

std::atomic<HostResolver> testResolver{nullptr};
std::atomic<std::uint32_t> connectMs{SocketTimeouts{}.connectMs};
std::atomic<std::uint32_t> sendMs{SocketTimeouts{}.sendMs};
std::atomic<std::uint32_t> receiveMs{SocketTimeouts{}.receiveMs};
std::atomic<std::uint32_t> answerHeadMs{SocketTimeouts{}.answerHeadMs};

void appendInet(std::vector<SocketAddress>& list, ULONG address, std::uint16_t port) {
  SOCKADDR_IN in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.S_un.S_addr = address;
  SocketAddress a;
  std::memcpy(a.address, &in, sizeof in);
  a.length = sizeof in;
  list.push_back(a);
}

// connect, bounded by the connect time-out.
bool connectWithin(SOCKET s, const SocketAddress& a, std::uint32_t ms) {
  const auto* name = reinterpret_cast<const SOCKADDR*>(a.address);
  if (ms == 0) return connect(s, name, a.length) == 0;
  ULONG on = 1;
  if (ioctlsocket(s, FIONBIO, &on) != 0) return false;
  bool ok = connect(s, name, a.length) == 0;
  if (!ok && WSAGetLastError() == WSAEWOULDBLOCK) {
    WSAPOLLFD p{s, POLLOUT, 0};
    int ready = WSAPoll(&p, 1, ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<INT>(ms));
    int error = 0;
    int size = sizeof error;
    ok = ready == 1 && getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
         error == 0;
    if (ready == 0) WSASetLastError(WSAETIMEDOUT);
  }
  ULONG off = 0;
  return ioctlsocket(s, FIONBIO, &off) == 0 && ok;
}

}  // namespace

Socket::~Socket() { Socket::closeSocket(); }

int Socket::closeSocket() {
  if (handle_ == INVALID_SOCKET) return static_cast<int>(INVALID_SOCKET);
  int r = closesocket(handle_);
  handle_ = INVALID_SOCKET;
  return r;
}

StreamSocket::~StreamSocket() = default;
void StreamSocket::startTransferThreads() {}

void setSocketTimeouts(const SocketTimeouts& t) {
  connectMs = t.connectMs;
  sendMs = t.sendMs;
  receiveMs = t.receiveMs;
  answerHeadMs = t.answerHeadMs;
}

SocketTimeouts socketTimeouts() { return {connectMs.load(), sendMs.load(), receiveMs.load(), answerHeadMs.load()}; }

void setHostResolver(HostResolver resolver) { testResolver = resolver; }

bool ensureWinSock() { return winSock().ok; }

bool resolveHost(std::vector<SocketAddress>& list, const std::string& host, int family, int type, int protocol,
                 std::uint16_t port) {
  list.clear();
  if (HostResolver r = testResolver.load()) return r(list, host, port);
  if (!ensureWinSock()) return false;
  const WinSockState& ws = winSock();
  if (ws.getAddrInfo && ws.freeAddrInfo) {
    ADDRINFOA hints{};
    hints.ai_family = family;
    hints.ai_socktype = type;
    hints.ai_protocol = protocol;
    char service[8];
    if (port) std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
    PADDRINFOA found = nullptr;
    if (ws.getAddrInfo(host.c_str(), port ? service : nullptr, (family || type || protocol) ? &hints : nullptr,
                       &found) != 0)
      return false;
    for (ADDRINFOA* e = found; e; e = e->ai_next) {
      if (e->ai_addrlen > sizeof(SocketAddress::address)) continue;
      SocketAddress a;
      std::memcpy(a.address, e->ai_addr, e->ai_addrlen);
      a.length = static_cast<int>(e->ai_addrlen);
      list.push_back(a);
    }
    ws.freeAddrInfo(found);
    return !list.empty();
  }
  if (family != AF_UNSPEC && family != AF_INET) return false;
  ULONG numeric = inet_addr(host.c_str());
  if (numeric != INADDR_NONE) {
    appendInet(list, numeric, port);
    return true;
  }
  HOSTENT* h = gethostbyname(host.c_str());
  if (!h || h->h_addrtype != AF_INET || h->h_length != 4) return false;
  for (char** p = h->h_addr_list; *p; ++p) {
    ULONG a;
    std::memcpy(&a, *p, 4);
    appendInet(list, a, port);
  }
  return !list.empty();
}

// The layer's sockets are made close-on-exec, which is what duplicating the
// handle as not inheritable achieves on Windows.
SOCKET createSocketHandle(int family, int type, int protocol) {
  if (!ensureWinSock()) return INVALID_SOCKET;
  return ::socket(family, type, protocol);
}

TCPSocket::TCPSocket(const std::string& host, std::uint16_t port) {
  std::vector<SocketAddress> list;
  if (!resolveHost(list, host, AF_UNSPEC, SOCK_STREAM, 0, port)) return;
  const SocketTimeouts t = socketTimeouts();
  for (const SocketAddress& a : list) {
    std::uint16_t family;
    std::memcpy(&family, a.address, 2);
    SOCKET s = createSocketHandle(family, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) continue;
    if (connectWithin(s, a, t.connectMs)) {
      DWORD receive = t.receiveMs, send = t.sendMs;
      setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receive), sizeof receive);
      setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send), sizeof send);
      handle_ = s;
      return;
    }
    closesocket(s);
  }
}

TCPSocket::~TCPSocket() { TCPSocket::closeSocket(); }

int TCPSocket::closeSocket() {
  TCPSocket::close();
  return Socket::closeSocket();
}

void TCPSocket::unusedHook() {}
int TCPSocket::unusedValue() { return 33; }

bool TCPSocket::setNoDelay(bool on) {
  if (handle_ == INVALID_SOCKET) return false;
  int value = on ? 1 : 0;
  return setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool TCPSocket::send(const void* data1, std::size_t size1, const void* data2, std::size_t size2, const void* data3,
                     std::size_t size3) {
  if (handle_ == INVALID_SOCKET) return false;
  // WSABUF lengths are 32-bit; larger pieces go out in slices.
  const void* data[3] = {data1, data2, data3};
  std::size_t size[3] = {size1, size2, size3};
  DWORD count = size3 ? 3 : size2 ? 2 : 1;
  std::vector<WSABUF> buffers;
  std::uint64_t total = 0;
  for (DWORD i = 0; i < count; ++i) {
    const char* p = static_cast<const char*>(data[i]);
    std::size_t left = size[i];
    do {
      ULONG n = left > 0x40000000 ? 0x40000000 : static_cast<ULONG>(left);
      buffers.push_back({n, const_cast<char*>(p)});
      p += n;
      left -= n;
      total += n;
    } while (left);
  }
  // One call for up to three slices (below 4 GiB, so the count can tell).
  std::uint64_t sent = 0;
  for (std::size_t first = 0; first < buffers.size(); first += 3) {
    DWORD n = 0;
    const auto batch = static_cast<DWORD>(std::min<std::size_t>(3, buffers.size() - first));
    if (WSASend(handle_, buffers.data() + first, batch, &n, 0, nullptr, nullptr) != 0) return false;
    sent += n;
  }
  return sent == total;
}

std::size_t TCPSocket::receive(void* data1, std::size_t size1, void* data2, std::size_t size2, bool partial) {
  if (handle_ == INVALID_SOCKET) return 0;
  struct Piece {
    char* p;
    std::size_t n;
  } pieces[2] = {{static_cast<char*>(data1), size1}, {static_cast<char*>(data2), size2}};
  std::size_t first = 0, count = size2 ? 2 : 1;
  std::size_t total = 0;
  while (first < count) {
    WSABUF b[2];
    DWORD used = 0;
    for (std::size_t i = first; i < count; ++i)
      b[used++] = {pieces[i].n > 0x40000000 ? 0x40000000 : static_cast<ULONG>(pieces[i].n), pieces[i].p};
    DWORD got = 0, flags = 0;
    if (WSARecv(handle_, b, used, &got, &flags, nullptr, nullptr) != 0 || got == 0) break;
    total += got;
    if (partial) break;
    std::size_t left = got;
    while (first < count && left >= pieces[first].n) left -= pieces[first++].n;
    if (first < count) {
      pieces[first].p += left;
      pieces[first].n -= left;
    }
  }
  return total;
}

bool TCPSocket::interrupt() { return false; }

void TCPSocket::close() {
  if (handle_ != INVALID_SOCKET) shutdown(handle_, SD_SEND);
}

void TCPSocket::detach(std::vector<unsigned char>& blob, SOCKET& handle) {
  blob.assign(1, 0);
  handle = handle_;
  handle_ = INVALID_SOCKET;
}

Socket& TCPSocket::socket() { return *this; }

}  // namespace Network
