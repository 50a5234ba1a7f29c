// The client against a real web server.
// This file also uses the C library's socket headers.
#define WIN32_LEAN_AND_MEAN

#include <gtest/gtest.h>

#include <random>

#include "network/http_client.h"
#include "network/http_test_support.h"
#include "network/test_nginx.h"

namespace {

std::string randomBytes(std::size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(g());
  return s;
}

class HttpNginx : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!NetTest::Nginx::available()) return;
    server = new NetTest::Nginx();
    content = new std::string(randomBytes(5 * 1000 * 1000 + 123, 17));
    server->serve("package.bin", *content);
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
    delete content;
    content = nullptr;
  }
  void SetUp() override {
    if (!server) GTEST_SKIP() << "nginx is not installed";
  }

  static NetTest::Nginx* server;
  static std::string* content;
};
NetTest::Nginx* HttpNginx::server = nullptr;
std::string* HttpNginx::content = nullptr;

TEST_F(HttpNginx, WholeFileInPiecesOf64KiB) {
  auto a = NetTest::accessor();
  auto connection = LiveUpdate::httpGetRange(*a, *NetTest::uri(server->url("/package.bin")), 0, 0);
  std::string got;
  std::string piece(64 * 1024, '\0');
  for (;;) {
    std::size_t n = connection->receive(piece.data(), piece.size(), nullptr, 0, false);
    got.append(piece, 0, n);
    if (n < piece.size()) break;
  }
  EXPECT_EQ(got.size(), content->size());
  EXPECT_TRUE(got == *content);
}

TEST_F(HttpNginx, ARangedReadResumesExactlyWhereTheFirstStopped) {
  auto a = NetTest::accessor();
  const std::size_t stop = 2'345'678;
  std::string first(stop, '\0');
  {
    auto connection = LiveUpdate::httpGetRange(*a, *NetTest::uri(server->url("/package.bin")), 0, 0);
    ASSERT_EQ(connection->receive(first.data(), first.size(), nullptr, 0, false), stop);
  }
  auto connection =
      LiveUpdate::httpGetRange(*a, *NetTest::uri(server->url("/package.bin")), stop, content->size() - 1);
  const std::string rest = NetTest::readRest(*connection);
  EXPECT_EQ(rest.size(), content->size() - stop);
  EXPECT_TRUE(first + rest == *content);
}

TEST_F(HttpNginx, ARangeInTheMiddleAndOneBeyondTheEnd) {
  auto a = NetTest::accessor();
  auto middle = LiveUpdate::httpGetRange(*a, *NetTest::uri(server->url("/package.bin")), 1'000'000, 1'999'999);
  EXPECT_TRUE(NetTest::readRest(*middle) == content->substr(1'000'000, 1'000'000));
  // A download asks up to where it believes the end is; the server ends earlier.
  auto beyond = LiveUpdate::httpGetRange(*a, *NetTest::uri(server->url("/package.bin")), content->size() - 10,
                                         content->size() + 1000);
  EXPECT_EQ(NetTest::readRest(*beyond), content->substr(content->size() - 10));
}

TEST_F(HttpNginx, MissingFileAndPostToAFile) {
  auto a = NetTest::accessor();
  const std::string missing = server->url("/missing.bin");
  auto e = NetTest::errorOf([&] { LiveUpdate::httpGetRange(*a, *NetTest::uri(missing), 0, 0); });
  EXPECT_EQ(e.code(), 0x5659DAu);
  EXPECT_EQ(NetTest::narrowText(e), "http-server return: url=\"" + missing + "\", code=\"404\", reason=\"Not Found\"");
  // nginx serves no POST to a static file: 405.
  auto post = NetTest::errorOf([&] { LiveUpdate::httpPost(*a, *NetTest::uri(server->url("/package.bin")), "<q/>", 4); });
  EXPECT_EQ(post.code(), 0x5659DAu);
}

}  // namespace
