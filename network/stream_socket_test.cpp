// This file also uses the C library's socket headers.
#define WIN32_LEAN_AND_MEAN

#include "network/stream_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <memory>
#include <thread>

#include "network/test_http_server.h"
#include "platform/win32/windows.h"

namespace {

using NetTest::HttpServer;
using NetTest::Reply;

std::uint16_t refusingPortForResolver = 0;
std::uint16_t servingPortForResolver = 0;

bool refusingThenServing(std::vector<Network::SocketAddress>& list, const std::string&, std::uint16_t) {
  Network::SocketAddress a, b;
  NetTest::loopbackAddress(a.address, a.length, refusingPortForResolver);
  NetTest::loopbackAddress(b.address, b.length, servingPortForResolver);
  list = {a, b};
  return true;
}

bool nothing(std::vector<Network::SocketAddress>&, const std::string&, std::uint16_t) { return false; }

struct ResolverScope {
  explicit ResolverScope(Network::HostResolver r) { Network::setHostResolver(r); }
  ~ResolverScope() { Network::setHostResolver(nullptr); }
};

struct TimeoutScope {
  explicit TimeoutScope(const Network::SocketTimeouts& t) : saved(Network::socketTimeouts()) {
    Network::setSocketTimeouts(t);
  }
  ~TimeoutScope() { Network::setSocketTimeouts(saved); }
  Network::SocketTimeouts saved;
};

std::string receiveAll(Network::StreamSocket& s) {
  std::string out;
  char buf[256];
  while (std::size_t n = s.receive(buf, sizeof buf, nullptr, 0, true)) out.append(buf, n);
  return out;
}

TEST(TCPSocket, FallsThroughARefusingAddressToTheNext) {
  NetTest::RefusingPort refusing;
  HttpServer server([](const std::string&, int) { return Reply{"pong"}; });
  refusingPortForResolver = refusing.port();
  servingPortForResolver = server.port();
  ResolverScope scope(&refusingThenServing);

  Network::TCPSocket s("several.example", 80);
  ASSERT_NE(s.handle(), INVALID_SOCKET);
  const std::string request = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_TRUE(s.send(request.data(), request.size(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(receiveAll(s), "pong");
  EXPECT_EQ(server.request(0), request);
}

TEST(TCPSocket, UnresolvedOrRefusedLeavesNoHandle) {
  {
    ResolverScope scope(&nothing);
    Network::TCPSocket s("nowhere.example", 80);
    EXPECT_EQ(s.handle(), INVALID_SOCKET);
    char c;
    EXPECT_FALSE(s.send("x", 1, nullptr, 0, nullptr, 0));
    EXPECT_EQ(s.receive(&c, 1, nullptr, 0, false), 0u);
    EXPECT_FALSE(s.setNoDelay(true));
  }
  NetTest::RefusingPort refusing;
  Network::TCPSocket s("127.0.0.1", refusing.port());
  EXPECT_EQ(s.handle(), INVALID_SOCKET);
}

TEST(TCPSocket, SendsThreePiecesAndAnEmptyOne) {
  HttpServer server([](const std::string&, int) { return Reply{"ok"}; });
  Network::TCPSocket s("127.0.0.1", server.port());
  ASSERT_NE(s.handle(), INVALID_SOCKET);
  EXPECT_TRUE(s.setNoDelay(true));
  EXPECT_TRUE(s.send("", 0, nullptr, 0, nullptr, 0));
  const std::string body = "0123456789";
  ASSERT_TRUE(s.send("POST / HTTP/1.0\r\n", 17, "Content-length: 10\r\n\r\n", 22, body.data(), body.size()));
  EXPECT_EQ(receiveAll(s), "ok");
  EXPECT_EQ(server.request(0), "POST / HTTP/1.0\r\nContent-length: 10\r\n\r\n0123456789");
}

TEST(TCPSocket, ReceiveFillsBothPiecesOrStopsAfterOneChunk) {
  HttpServer closing([](const std::string&, int) { return Reply{"abcdef"}; });
  {
    Network::TCPSocket s("127.0.0.1", closing.port());
    ASSERT_TRUE(s.send("\r\n\r\n", 4, nullptr, 0, nullptr, 0));
    char a[4], b[2];
    ASSERT_EQ(s.receive(a, sizeof a, b, sizeof b, false), 6u);
    EXPECT_EQ(std::string(a, 4), "abcd");
    EXPECT_EQ(std::string(b, 2), "ef");
  }
  {
    // The peer closes before the pieces are full: the short count tells.
    Network::TCPSocket s("127.0.0.1", closing.port());
    ASSERT_TRUE(s.send("\r\n\r\n", 4, nullptr, 0, nullptr, 0));
    char a[4], b[8];
    EXPECT_EQ(s.receive(a, sizeof a, b, sizeof b, false), 6u);
  }
  HttpServer stalling([](const std::string&, int) {
    Reply r{"abc"};
    r.stall = true;
    return r;
  });
  Network::TCPSocket s("127.0.0.1", stalling.port());
  ASSERT_TRUE(s.send("\r\n\r\n", 4, nullptr, 0, nullptr, 0));
  char a[16], b[16];
  std::size_t got = 0;
  while (got < 3) {
    std::size_t n = s.receive(a + got, sizeof a - got, b, sizeof b, true);
    ASSERT_GT(n, 0u);
    got += n;
  }
  EXPECT_EQ(std::string(a, 3), "abc");
}

TEST(TCPSocket, DetachedHandleOutlivesTheObject) {
  HttpServer server([](const std::string&, int) { return Reply{"ok"}; });
  SOCKET handle = INVALID_SOCKET;
  std::vector<unsigned char> blob{1, 2, 3};
  {
    Network::TCPSocket s("127.0.0.1", server.port());
    ASSERT_NE(s.handle(), INVALID_SOCKET);
    s.detach(blob, handle);
    EXPECT_EQ(s.handle(), INVALID_SOCKET);
    EXPECT_FALSE(s.send("x", 1, nullptr, 0, nullptr, 0));
  }
  EXPECT_EQ(blob, std::vector<unsigned char>{0});
  ASSERT_NE(handle, INVALID_SOCKET);
  // The handle is the descriptor: write and read through the system directly.
  int fd = static_cast<int>(handle);
  ASSERT_EQ(::send(fd, "\r\n\r\n", 4, MSG_NOSIGNAL), 4);
  char buf[8];
  ASSERT_EQ(::recv(fd, buf, sizeof buf, MSG_WAITALL), 2);
  EXPECT_EQ(std::string(buf, 2), "ok");
  ::close(fd);
}

TEST(TCPSocket, PlainInterruptRefusesAndKeepsTheConnection) {
  HttpServer server([](const std::string&, int) { return Reply{"ok"}; });
  Network::TCPSocket s("127.0.0.1", server.port());
  EXPECT_FALSE(s.interrupt());
  ASSERT_TRUE(s.send("\r\n\r\n", 4, nullptr, 0, nullptr, 0));
  EXPECT_EQ(receiveAll(s), "ok");
}

TEST(TCPSocket, CloseEndsSendingButStillReceives) {
  // The server answers once the request ends, and our close ends it for a
  // server that reads until the end: here the head's empty line does.
  HttpServer server([](const std::string&, int) { return Reply{"late answer"}; });
  Network::TCPSocket s("127.0.0.1", server.port());
  ASSERT_TRUE(s.send("\r\n\r\n", 4, nullptr, 0, nullptr, 0));
  s.close();
  EXPECT_FALSE(s.send("x", 1, nullptr, 0, nullptr, 0));
  EXPECT_EQ(receiveAll(s), "late answer");
}

TEST(TCPSocket, ConnectTimeOutEndsAConnectThatHangs) {
  TimeoutScope t({300, 5'000, 5'000});
  NetTest::FullListener full;
  std::vector<std::unique_ptr<Network::TCPSocket>> queued;
  const auto start = std::chrono::steady_clock::now();
  bool hung = false;
  for (int i = 0; i < 8 && !hung; ++i) {
    queued.push_back(std::make_unique<Network::TCPSocket>("127.0.0.1", full.port()));
    hung = queued.back()->handle() == INVALID_SOCKET;
  }
  EXPECT_TRUE(hung);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(TCPSocket, ReceiveTimeOutEndsAStalledPeer) {
  TimeoutScope t({5'000, 5'000, 300});
  HttpServer stalling([](const std::string&, int) {
    Reply r;
    r.stall = true;
    return r;
  });
  Network::TCPSocket s("127.0.0.1", stalling.port());
  ASSERT_TRUE(s.send("\r\n\r\n", 4, nullptr, 0, nullptr, 0));
  char c;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(s.receive(&c, 1, nullptr, 0, false), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace

namespace {

unsigned portOf(const Network::SocketAddress& a) { return a.address[2] * 256u + a.address[3]; }

TEST(ResolveHost, NumericAddressesWithAndWithoutPort) {
  std::vector<Network::SocketAddress> list(3);
  ASSERT_TRUE(Network::resolveHost(list, "127.0.0.1", 2, 1, 0, 8080));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].length, 16);
  EXPECT_EQ(portOf(list[0]), 8080u);
  EXPECT_EQ(std::memcmp(list[0].address + 4, "\x7F\0\0\x01", 4), 0);
  ASSERT_TRUE(Network::resolveHost(list, "127.0.0.1", 2, 1, 0, 0));
  EXPECT_EQ(portOf(list[0]), 0u);
}

// Run in a fresh process (the start-up is once per process), on a system
// without getaddrinfo: the older calls answer.
TEST(ResolveHostDeathTest, WithoutAddrInfoFallsBackToTheOlderCalls) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        win32::register_export("ws2_32", "getaddrinfo", nullptr);
        std::vector<Network::SocketAddress> list;
        bool numeric = Network::resolveHost(list, "127.0.0.1", 0, 1, 0, 80) && list.size() == 1 &&
                       list[0].length == 16 && portOf(list[0]) == 80u;
        bool named = Network::resolveHost(list, "localhost", 0, 1, 0, 81) && !list.empty() &&
                     portOf(list[0]) == 81u && list[0].address[4] == 127;
        bool otherFamily = !Network::resolveHost(list, "127.0.0.1", 23, 1, 0, 80);
        std::_Exit(numeric && named && otherFamily ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
