// This file also uses the C library's socket headers.
#define WIN32_LEAN_AND_MEAN

#include "liveupdate/report_sender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "network/test_http_server.h"
#include "platform/win32/windows.h"
#include "platform/win32/testing/test_world.h"

namespace {

using NetTest::HttpServer;
using NetTest::Reply;

bool waitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST(ReportPost, TheServerReceivesTheFormExactly) {
  HttpServer server([](const std::string&, int) { return Reply{"HTTP/1.0 404 Not Found\r\n\r\n"}; });
  KbLink::ReportSender sender("127.0.0.1", server.port());
  const std::string payload = "AbC-_9=";
  EXPECT_EQ(sender.push(KbLink::HttpUtils::makePostQuery(KbLink::errorCodeAddress(), KbLink::knowledgeBaseHost(),
                                                         "encoded=" + payload))
                .code(),
            0u);
  ASSERT_TRUE(waitFor([&] { return server.requests().size() == 1; }));
  EXPECT_EQ(server.request(0),
            "POST http://kb.korvane.com/errorcode/ HTTP/1.0\r\n"
            "Content-Type:application/x-www-form-urlencoded\r\nContent-Length:15\r\n"
            "Host:kb.korvane.com\r\n\r\nencoded=AbC-_9=");
}

TEST(ReportPost, StatusLines) {
  struct Case {
    const char* name;
    Reply reply;
    std::uint32_t code;
  } cases[] = {
      {"404 is sent", {"HTTP/1.0 404 Not Found\r\n\r\n"}, 0},
      {"500 is sent", {"HTTP/1.1 500 Oops\r\n\r\n"}, 0},
      {"closed without a status line", {"", false, false, true}, KbLink::kReportBadStatusLine},
      {"no second blank", {"HTTP/1.0 200\r\n"}, KbLink::kReportBadStatusLine},
      {"code not a number", {"HTTP/1.0 abc OK\r\n"}, KbLink::kReportBadStatusLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpServer server([&](const std::string&, int) { return c.reply; });
    auto query = KbLink::HttpUtils::makePostQuery("/x", "h", "encoded=1");
    EXPECT_EQ(KbLink::HttpUtils::send(*query, "127.0.0.1", server.port()).code(), c.code);
  }
  NetTest::RefusingPort refusing;
  auto query = KbLink::HttpUtils::makePostQuery("/x", "h", "encoded=1");
  EXPECT_EQ(KbLink::HttpUtils::send(*query, "127.0.0.1", refusing.port()).code(), KbLink::kReportNoConnection);
}

TEST(ReportPost, QueueOfOneHundredAndABoundedStop) {
  HttpServer server([](const std::string&, int) { return Reply{"", true}; });  // never answers
  KbLink::ReportSender sender("127.0.0.1", server.port());
  auto query = KbLink::HttpUtils::makePostQuery("/x", "h", "encoded=1");
  ASSERT_EQ(sender.push(query).code(), 0u);
  // The worker is now stuck in the first exchange; the queue fills.
  ASSERT_TRUE(waitFor([&] { return server.requests().size() == 1; }));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(sender.push(query).code(), 0u) << i;
  EXPECT_EQ(sender.push(query).code(), KbLink::kReportQueueFull);
  EXPECT_EQ(sender.waiting(), 100u);
  const auto start = std::chrono::steady_clock::now();
  sender.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(sender.waiting(), 0u);
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(ReportSwitchList, KeepsEmptyPieces) {
  using V = std::vector<std::u16string>;
  EXPECT_EQ(KbLink::splitConfigList(nullptr), V{});
  EXPECT_EQ(KbLink::splitConfigList(u""), V{});
  EXPECT_EQ(KbLink::splitConfigList(u"a"), V{u"a"});
  EXPECT_EQ(KbLink::splitConfigList(u"a;;b"), (V{u"a", u"", u"b"}));
  EXPECT_EQ(KbLink::splitConfigList(u"a;"), (V{u"a", u""}));
}

// Key outer, value inner, up to the first pair that is on; empty pieces are
// tried like any other.
TEST(ReportSwitchList, PairsAreTriedKeyByKeyUpToTheFirstOne) {
  struct Case {
    const char16_t *keys, *values;
    std::vector<std::u16string> on;     // "key/value" pairs that are on
    std::vector<std::u16string> tried;  // in order
    bool enabled;
  } cases[] = {
      {u"K1;K2", u"A;B", {}, {u"K1/A", u"K1/B", u"K2/A", u"K2/B"}, false},
      {u"K1;K2", u"A;B", {u"K2/A"}, {u"K1/A", u"K1/B", u"K2/A"}, true},
      {u"K1;K2", u"A;B", {u"K1/B", u"K2/A"}, {u"K1/A", u"K1/B"}, true},
      {u"K1;;K2", u"A", {u"K2/A"}, {u"K1/A", u"/A", u"K2/A"}, true},
      {u"K1", u"A;", {}, {u"K1/A", u"K1/"}, false},
      {u"", u"A;B", {u"/A"}, {}, false},
      {u"K1;K2", u"", {}, {}, false},
  };
  for (const Case& c : cases) {
    std::vector<std::u16string> tried;
    bool enabled = KbLink::probeReportingSwitch(
        KbLink::splitConfigList(c.keys), KbLink::splitConfigList(c.values),
        [&](const std::u16string& key, const std::u16string& value) {
          tried.push_back(key + u"/" + value);
          return std::find(c.on.begin(), c.on.end(), tried.back()) != c.on.end();
        });
    EXPECT_EQ(tried, c.tried);
    EXPECT_EQ(enabled, c.enabled);
  }
}

class ReportSwitch : public win32_test::World {};

TEST_F(ReportSwitch, RegistryValues) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Korvane\\Reports", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  auto text = [&](const char16_t* name, const std::u16string& v) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>((v.size() + 1) * 2));
  };
  auto number = [&](const char16_t* name, DWORD v) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  };
  text(u"t0", u"0");
  text(u"tx", u"yes");
  text(u"t1", u"1");
  text(u"thex", u"0x1");
  number(u"n0", 0);
  number(u"n5", 5);
  RegSetValueExW(key, u"bin", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\1"), 1);
  RegCloseKey(key);
  struct Case {
    const char16_t* value;
    bool on;
  } cases[] = {{u"t0", false}, {u"tx", false}, {u"t1", true}, {u"thex", true},
               {u"n0", false}, {u"n5", true},  {u"bin", false}, {u"missing", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.value, c.value + std::char_traits<char16_t>::length(c.value)));
    EXPECT_EQ(KbLink::registrySwitchOn(u"SOFTWARE\\Korvane\\Reports", c.value), c.on);
  }
  EXPECT_FALSE(KbLink::registrySwitchOn(u"SOFTWARE\\Korvane\\Nowhere", u"t1"));
}

}  // namespace
