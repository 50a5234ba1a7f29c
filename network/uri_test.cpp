#include "network/uri.h"

#include <gtest/gtest.h>

#include "core/error.h"

namespace {

struct ParseCase {
  const char16_t* input;
  const char16_t* scheme;
  const char16_t* authority;
  const char16_t* path;
  const char16_t* query;
  const char16_t* fragment;
};

const ParseCase kParseCases[] = {
    {u"store:///LM?Root#ABC", u"store", u"", u"LM", u"Root", u"ABC"},
    {u"file:///C:/certificates/client.pem", u"file", u"", u"C:/certificates/client.pem", u"", u""},
    {u"C:\\certificates\\client.pem", u"file", u"", u"C:\\certificates\\client.pem", u"", u""},
    {u"certificates/client.pem", u"file", u"", u"certificates/client.pem", u"", u""},
    {u"", u"file", u"", u"", u"", u""},
    {u"scheme://host", u"scheme", u"host", u"", u"", u""},
    {u"scheme://host?q#f", u"scheme", u"host?q#f", u"", u"", u""},
    {u"scheme://host/a#b?c", u"scheme", u"host", u"a#b", u"c", u""},
    {u"scheme://host/a#b?c#d", u"scheme", u"host", u"a#b", u"c", u"d"},
    {u"scheme://host/a?b?c#d#e", u"scheme", u"host", u"a", u"b?c", u"d#e"},
    {u"scheme://host/", u"scheme", u"host", u"", u"", u""},
    {u"scheme://host/#", u"scheme", u"host", u"", u"", u""},
    {u"scheme://host/?", u"scheme", u"host", u"", u"", u""},
    {u"://h/p", u"", u"h", u"p", u"", u""},
    {u"xy://", u"xy", u"", u"", u"", u""},
    // A one-letter scheme is a drive letter.
    {u"x://h/p#f", u"file", u"", u"x://h/p#f", u"", u""},
    // Nothing is decoded and the authority keeps user, host and port together.
    {u"https://us%20er:pw@[::1]:99999/a%2Fb/c?x=%41&y#fr%23ag", u"https", u"us%20er:pw@[::1]:99999",
     u"a%2Fb/c", u"x=%41&y", u"fr%23ag"},
    {u"http://host:80/dir/file.txt", u"http", u"host:80", u"dir/file.txt", u"", u""},
    // Only the first colon counts.
    {u"ab://h:1/p:q", u"ab", u"h:1", u"p:q", u"", u""},
    {u"\u00e4\u00f6://\u4e2d/\u00fc", u"\u00e4\u00f6", u"\u4e2d", u"\u00fc", u"", u""},
};

TEST(UriTest, SplitsTheTable) {
  int row = 0;
  for (const ParseCase& c : kParseCases) {
    SCOPED_TRACE(::testing::Message() << "row " << row++);
    auto uri = Network::createUri(c.input);
    ASSERT_TRUE(uri);
    EXPECT_EQ(uri->scheme(), c.scheme);
    EXPECT_EQ(uri->authority(), c.authority);
    EXPECT_EQ(uri->path(), c.path);
    EXPECT_EQ(uri->query(), c.query);
    EXPECT_EQ(uri->fragment(), c.fragment);
    EXPECT_EQ(uri->text(), c.input);
    auto copy = uri->clone();
    EXPECT_EQ(copy->scheme(), c.scheme);
    EXPECT_EQ(copy->authority(), c.authority);
    EXPECT_EQ(copy->path(), c.path);
    EXPECT_EQ(copy->query(), c.query);
    EXPECT_EQ(copy->fragment(), c.fragment);
    EXPECT_EQ(copy->text(), c.input);
  }
}

TEST(UriTest, SchemeWithoutSlashesIsRejectedWithTheInputAsText) {
  const char16_t* const bad[] = {u"ab:cd", u"ab:", u"ab:/", u"ab:/x/y", u"ab:\\\\h", u":x", u"abc:/"};
  for (const char16_t* input : bad) {
    try {
      Network::createUri(input);
      ADD_FAILURE() << "accepted input of length " << std::u16string(input).size();
    } catch (const Common::Error& e) {
      EXPECT_EQ(e.code(), 0x30406u);
      EXPECT_EQ(e.text(), input);
    }
  }
}

TEST(UriTest, RemoveFragment) {
  auto uri = Network::createUri(u"xy://h/p#f");
  uri->removeFragment();
  EXPECT_EQ(uri->text(), u"xy://h/p");
  EXPECT_EQ(uri->fragment(), u"");
  EXPECT_EQ(uri->path(), u"p");

  auto plain = Network::createUri(u"xy://h/p?q");
  plain->removeFragment();
  EXPECT_EQ(plain->text(), u"xy://h/p?q");
  EXPECT_EQ(plain->query(), u"q");

  // An empty fragment changes nothing, the "#" included.
  auto empty = Network::createUri(u"xy://h/p#");
  empty->removeFragment();
  EXPECT_EQ(empty->text(), u"xy://h/p#");

  // A file path never has a fragment, so its "#" stays.
  auto file = Network::createUri(u"x://h/p#f");
  file->removeFragment();
  EXPECT_EQ(file->text(), u"x://h/p#f");
}

// A "#" that the path keeps (it stands before the "?") must stay in the text:
// only the fragment's own "#" goes, so the text still parses to the same parts.
TEST(UriTest, RemoveFragmentKeepsAHashThatBelongsToThePath) {
  auto uri = Network::createUri(u"sc://h/a#b?c#d");
  uri->removeFragment();
  EXPECT_EQ(uri->text(), u"sc://h/a#b?c");
  EXPECT_EQ(uri->path(), u"a#b");
  EXPECT_EQ(uri->query(), u"c");
  EXPECT_EQ(uri->fragment(), u"");
  auto again = Network::createUri(uri->text());
  EXPECT_EQ(again->path(), u"a#b");
  EXPECT_EQ(again->query(), u"c");
  EXPECT_EQ(again->fragment(), u"");
}

TEST(UriTest, CloneIsIndependent) {
  auto uri = Network::createUri(u"store:///LM?Root#ABC");
  auto copy = uri->clone();
  copy->removeFragment();
  EXPECT_EQ(uri->fragment(), u"ABC");
  EXPECT_EQ(uri->text(), u"store:///LM?Root#ABC");
  EXPECT_EQ(copy->text(), u"store:///LM?Root");
}

}  // namespace
