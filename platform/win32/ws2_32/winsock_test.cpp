#include "platform/win32/ws2_32/winsock.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/win32/kernel32/process.h"
#include "platform/win32/ws2_32/winsock_peer.h"

namespace {

TEST(WinSock, NothingWorksBeforeStartUp) {
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

  WSADATA data;
  EXPECT_EQ(WSAStartup(MAKEWORD_WS(1, 0), &data), WSAVERNOTSUPPORTED);
  ASSERT_EQ(WSAStartup(MAKEWORD_WS(2, 0), &data), 0);
  EXPECT_EQ(data.wVersion, 2);
  EXPECT_EQ(data.wHighVersion, MAKEWORD_WS(2, 2));
  ASSERT_EQ(WSAStartup(MAKEWORD_WS(3, 1), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD_WS(2, 2));
  EXPECT_EQ(WSACleanup(), 0);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
}

class WinSockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(2, &data), 0);
  }
  void TearDown() override {
    for (int fd : peers) winsock_peer::closeFd(fd);
    WSACleanup();
  }
  // A connected pair: ours through the layer, the peer's through the system.
  SOCKET connected(int& peer) {
    std::uint16_t port;
    int listener = winsock_peer::listenOn(port, true);
    peers.push_back(listener);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKADDR_IN a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.S_un.S_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(connect(s, reinterpret_cast<SOCKADDR*>(&a), sizeof a), 0);
    peer = winsock_peer::acceptOne(listener);
    peers.push_back(peer);
    return s;
  }
  std::vector<int> peers;
};

TEST_F(WinSockTest, ResolvesWithWindowsFamiliesAndLayouts) {
  ADDRINFOA hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  PADDRINFOA found = nullptr;
  ASSERT_EQ(getaddrinfo("127.0.0.1", "8080", &hints, &found), 0);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->ai_family, 2);
  EXPECT_EQ(found->ai_addrlen, 16u);
  const auto* bytes = reinterpret_cast<const unsigned char*>(found->ai_addr);
  const unsigned char inet[] = {2, 0, 0x1F, 0x90, 127, 0, 0, 1};
  EXPECT_EQ(std::memcmp(bytes, inet, sizeof inet), 0);
  freeaddrinfo(found);

  hints.ai_family = AF_INET6;
  ASSERT_EQ(getaddrinfo("::1", "80", &hints, &found), 0);
  EXPECT_EQ(found->ai_family, 23);
  EXPECT_EQ(found->ai_addrlen, 28u);
  EXPECT_EQ(found->ai_addr->sa_family, 23);
  bytes = reinterpret_cast<const unsigned char*>(found->ai_addr);
  EXPECT_EQ(bytes[2], 0);
  EXPECT_EQ(bytes[3], 80);
  EXPECT_EQ(bytes[23], 1);  // the last byte of ::1
  freeaddrinfo(found);

  hints.ai_family = AF_UNSPEC;
  EXPECT_EQ(getaddrinfo("not an address", nullptr, &hints, &found), WSAHOST_NOT_FOUND);
  EXPECT_EQ(found, nullptr);

  EXPECT_EQ(inet_addr("127.0.0.1"), htonl(0x7F000001));
  EXPECT_EQ(inet_addr("localhost"), INADDR_NONE);
  HOSTENT* h = gethostbyname("127.0.0.1");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->h_addrtype, AF_INET);
  EXPECT_EQ(h->h_length, 4);
  ASSERT_NE(h->h_addr_list[0], nullptr);
  EXPECT_EQ(std::memcmp(h->h_addr_list[0], "\x7F\0\0\x01", 4), 0);
  EXPECT_EQ(h->h_addr_list[1], nullptr);

  HMODULE ws2 = GetModuleHandleA("ws2_32");
  EXPECT_NE(GetProcAddress(ws2, "getaddrinfo"), nullptr);
  EXPECT_NE(GetProcAddress(ws2, "freeaddrinfo"), nullptr);
}

TEST_F(WinSockTest, ErrorCodesOfRefusedAndBadCalls) {
  std::uint16_t port;
  int bound = winsock_peer::listenOn(port, false);
  peers.push_back(bound);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  SOCKADDR_IN a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.S_un.S_addr = inet_addr("127.0.0.1");
  EXPECT_EQ(connect(s, reinterpret_cast<SOCKADDR*>(&a), sizeof a), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
  // Never inherited by child processes.
  int flags = fcntl(static_cast<int>(s), F_GETFD);
  EXPECT_TRUE(flags & FD_CLOEXEC);
  int value = 1;
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, 0x0004, reinterpret_cast<char*>(&value), sizeof value), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(closesocket(static_cast<SOCKET>(-2)), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(socket(99, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
}

TEST_F(WinSockTest, ScatterTransfersAndTimeOut) {
  int peer;
  SOCKET s = connected(peer);
  char head[] = "GET ", tail[] = "/ HTTP/1.0";
  WSABUF out[2] = {{4, head}, {10, tail}};
  DWORD sent = 0;
  ASSERT_EQ(WSASend(s, out, 2, &sent, 0, nullptr, nullptr), 0);
  EXPECT_EQ(sent, 14u);
  char got[14];
  ASSERT_EQ(winsock_peer::receiveBytes(peer, got, sizeof got), 14);
  EXPECT_EQ(std::string(got, 14), "GET / HTTP/1.0");

  ASSERT_EQ(winsock_peer::sendBytes(peer, "abcdef", 6), 6);
  char a[4], b[4];
  WSABUF in[2] = {{4, a}, {4, b}};
  DWORD received = 0, flags = 0, total = 0;
  while (total < 6) {
    ASSERT_EQ(WSARecv(s, in, 2, &received, &flags, nullptr, nullptr), 0);
    ASSERT_GT(received, 0u);
    total += received;
    if (total < 6) {  // the rest lands after what came
      in[0] = total < 4 ? WSABUF{4 - total, a + total} : WSABUF{0, a};
      in[1] = total < 4 ? WSABUF{4, b} : WSABUF{8 - total, b + (total - 4)};
    }
  }
  EXPECT_EQ(std::string(a, 4) + std::string(b, 2), "abcdef");

  WSAOVERLAPPED* someOverlapped = reinterpret_cast<WSAOVERLAPPED*>(&flags);
  EXPECT_EQ(WSARecv(s, in, 1, &received, &flags, someOverlapped, nullptr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEOPNOTSUPP);

  DWORD ms = 150;
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&ms), sizeof ms), 0);
  in[0] = {4, a};
  EXPECT_EQ(WSARecv(s, in, 1, &received, &flags, nullptr, nullptr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);

  WSAPOLLFD p{s, POLLOUT, 0};
  EXPECT_EQ(WSAPoll(&p, 1, 1000), 1);
  EXPECT_TRUE(p.revents & POLLWRNORM);
  closesocket(s);
}

TEST_F(WinSockTest, SendToAClosedPeerFailsWithoutASignal) {
  int peer;
  SOCKET s = connected(peer);
  winsock_peer::closeFd(peer);
  peers.pop_back();
  char data[1024] = {};
  WSABUF b{sizeof data, data};
  DWORD sent;
  int result = 0;
  for (int i = 0; i < 200 && result == 0; ++i) {
    result = WSASend(s, &b, 1, &sent, 0, nullptr, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(result, SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
  closesocket(s);
}

TEST_F(WinSockTest, ShutdownFromAnotherThreadWakesABlockedReceive) {
  int peer;
  SOCKET s = connected(peer);
  std::thread other([s] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    shutdown(s, SD_BOTH);
  });
  char c;
  WSABUF b{1, &c};
  DWORD received = 99, flags = 0;
  EXPECT_EQ(WSARecv(s, &b, 1, &received, &flags, nullptr, nullptr), 0);
  EXPECT_EQ(received, 0u);
  other.join();
  closesocket(s);
}

}  // namespace
