#include "network/uri_resource.h"

#include <gtest/gtest.h>

#include "core/error.h"

namespace {

std::u16string wide(const Processor::String& s) {
  return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

struct Case {
  const char16_t* text;
  const char16_t* scheme;
  const char16_t* host;
  std::uint16_t port;
  const char16_t* path;
};

TEST(UriResource, SplitsAddresses) {
  const Case cases[] = {
      {u"https://service.example", u"https", u"service.example", 443, u"/"},
      {u"http://host:8080/a/b?x=1&y=2", u"http", u"host", 8080, u"/a/b?x=1&y=2"},
      {u"ftp://host/file", u"ftp", u"host", 0, u"/file"},
      {u"HTTP://host/", u"HTTP", u"host", 0, u"/"},
      {u"http://host:/p", u"http", u"host:", 80, u"/p"},
      {u"https://host:", u"https", u"host:", 443, u"/"},
      {u"http://host:0x1F90/", u"http", u"host", 8080, u"/"},
      {u"http://host:1F90h", u"http", u"host", 8080, u"/"},
      {u"http://host:65535/", u"http", u"host", 65535, u"/"},
      {u"http://host/p:q", u"http", u"host", 80, u"/p:q"},
      {u"http://", u"http", u"", 80, u"/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
    auto r = LiveUpdate::createUriResource(c.text);
    EXPECT_EQ(wide(r->scheme()), c.scheme);
    EXPECT_EQ(wide(r->host()), c.host);
    EXPECT_EQ(r->port(), c.port);
    EXPECT_EQ(wide(r->path()), c.path);
    EXPECT_EQ(wide(r->text()), c.text);
  }
}

TEST(UriResource, TextKeepsSurroundingBlanks) {
  auto r = LiveUpdate::createUriResource(u" http://host/p ");
  EXPECT_EQ(wide(r->text()), u" http://host/p ");
  EXPECT_EQ(wide(r->scheme()), u" http");
  EXPECT_EQ(r->port(), 0);
}

TEST(UriResource, RefusesWhatIsNoAddress) {
  // 70000 does not fit a port: refused rather than wrapped to 4464.
  for (const char16_t* text : {u"host/path", u"http:/host", u"http://host:80x/", u"http://host:70000/",
                               u"http://host:0x10000/"}) {
    try {
      LiveUpdate::createUriResource(text);
      ADD_FAILURE() << "accepted";
    } catch (const Common::Error& e) {
      EXPECT_EQ(e.code(), 0x564E20u);
      EXPECT_EQ(e.text(), u"ParseUrl(uri, Scheme, Host, Port, Path)");
    }
  }
}

TEST(ProtocolConfiguration, ApplicationDefaultsAndOneConfigurationPerScheme) {
  auto accessor = LiveUpdate::applicationConfigurationAccessor();
  auto http1 = accessor->configuration(*LiveUpdate::createUriResource(u"http://a/"));
  auto http2 = accessor->configuration(*LiveUpdate::createUriResource(u"http://b:81/x"));
  auto https = accessor->configuration(*LiveUpdate::createUriResource(u"https://a/"));
  EXPECT_EQ(http1.get(), http2.get());
  EXPECT_NE(http1.get(), https.get());
  EXPECT_EQ(accessor.get(), LiveUpdate::applicationConfigurationAccessor().get());

  EXPECT_FALSE(http1->useProxy());
  EXPECT_TRUE(http1->proxyHost().isEmpty());
  EXPECT_EQ(http1->proxyPort(), 0);
  EXPECT_FALSE(http1->proxyAuthentication());
  EXPECT_TRUE(http1->proxyCredentials().isEmpty());
  EXPECT_FALSE(http1->reservedFlag());
  void (LiveUpdate::ProtocolConfiguration::*unsupported[])() = {
      &LiveUpdate::ProtocolConfiguration::reserved7,  &LiveUpdate::ProtocolConfiguration::reserved8,
      &LiveUpdate::ProtocolConfiguration::reserved9,  &LiveUpdate::ProtocolConfiguration::reserved10,
      &LiveUpdate::ProtocolConfiguration::reserved11, &LiveUpdate::ProtocolConfiguration::reserved12,
      &LiveUpdate::ProtocolConfiguration::reserved13};
  for (auto op : unsupported) {
    try {
      ((*http1).*op)();
      ADD_FAILURE() << "supported";
    } catch (const Common::Error& e) {
      EXPECT_EQ(e.code(), 0x564E22u);
      EXPECT_EQ(e.text(), u"Internal error.");
    }
  }
}

}  // namespace
