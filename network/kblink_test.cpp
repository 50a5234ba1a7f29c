#include "network/kblink.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/testing/locale_testing.h"

#include "platform/win32/testing/test_world.h"

namespace {

std::string shell(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

// The openssl command line undoes the link encoding: base64 with the link's
// two replaced characters, AES-128-ECB with the sixteen key characters as the
// key, and an MD5 digest after the cipher text.
struct Decoded {
  std::string plain;  // zero padding stripped
  bool digestMatches = false;
  std::size_t cipherLength = 0;
};

Decoded decode(const std::string& encoded, const std::string& dir) {
  std::string b64 = encoded;
  for (char& c : b64) c = c == '-' ? '+' : c == '_' ? '/' : c;
  std::ofstream(dir + "/enc.b64") << b64 << "\n";
  shell("base64 -d " + dir + "/enc.b64 > " + dir + "/all.bin");
  std::ifstream in(dir + "/all.bin", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), {});
  Decoded d;
  if (all.size() < 16) return d;
  d.cipherLength = all.size() - 16;
  std::ofstream(dir + "/cipher.bin", std::ios::binary) << all.substr(0, d.cipherLength);
  std::string digest = shell("openssl dgst -md5 -binary " + dir + "/cipher.bin");
  d.digestMatches = digest == all.substr(d.cipherLength);
  // "7C3E91A05BD2F846" as bytes, in hexadecimal.
  d.plain = shell("openssl enc -d -aes-128-ecb -nopad -K 37433345393141303542443246383436 -in " + dir +
                  "/cipher.bin");
  while (!d.plain.empty() && d.plain.back() == '\0') d.plain.pop_back();
  return d;
}

class KbLinkTest : public win32_test::World {
 protected:
  KbLinkTest() : win32_test::World("kb-") {}
  KbLink::ProductInfo product() {
    KbLink::ProductInfo p;
    p.major = 16;
    p.minor = 0;
    p.build = 5555;
    p.productName = "Vazedi \"for\"; Dovecrest";
    p.language = 1;
    return p;
  }
};

TEST_F(KbLinkTest, EncodingIsAesEcbOfTheZeroPaddedTextFollowedByItsDigestInLinkSafeBase64) {
  struct Case {
    std::string text;
    std::size_t encodedLength;
  } cases[] = {{std::string(16, 'a'), 44}, {std::string(17, 'b'), 64}, {"short", 44}};
  for (const Case& c : cases) {
    std::string text = c.text;
    KbLink::encodeReport(text);
    EXPECT_EQ(text.size(), c.encodedLength) << c.text;
    EXPECT_EQ(text.find_first_of("+/"), std::string::npos);
    Decoded d = decode(text, dir_);
    EXPECT_TRUE(d.digestMatches);
    EXPECT_EQ(d.cipherLength % 16, 0u);
    EXPECT_EQ(d.plain, c.text);
  }
  std::string empty;
  KbLink::encodeReport(empty);
  EXPECT_EQ(empty, "");
}

TEST_F(KbLinkTest, LinkCarriesPlatformProductAndErrorFieldsEscaped) {
  Common::Error error(0xAD997C1900000001ull, 0x620021, u"Target missing");
  error.setWin32Cause(259);
  std::string link;
  KbLink::buildErrorLink(error, link, product(), false);
  std::string address = KbLink::errorCodeAddress();
  ASSERT_EQ(link.rfind(address, 0), 0u) << link;
  EXPECT_EQ(address.rfind("http://", 0), 0u);
  EXPECT_EQ(address.substr(address.size() - 11), "/errorcode/");
  std::string plain = decode(link.substr(address.size()), dir_).plain;
  EXPECT_NE(plain.find("1=\"Windows\";"), std::string::npos) << plain;
  // The word size of this build.
  EXPECT_NE(plain.find(sizeof(void*) == 8 ? "2=\"64\";" : "2=\"86\";"), std::string::npos) << plain;
  EXPECT_NE(plain.find("8=\"16.0\";9=\"5555\";5=\"Vazedi \\\"for\\\"\\; Dovecrest\";10=\"1\";"), std::string::npos)
      << plain;
  std::string serialised = KbLink::serializedErrorText(error);
  KbLink::replaceAll(serialised, "\\", "\\\\");
  KbLink::replaceAll(serialised, "\"", "\\\"");
  KbLink::replaceAll(serialised, ";", "\\;");
  EXPECT_NE(plain.find("11=\"" + serialised + "\";"), std::string::npos);
  EXPECT_EQ(plain.find("18="), std::string::npos);
  EXPECT_EQ(plain.find("34="), std::string::npos);

  // No error: no 11, 15 or 16; the log flag adds 18.
  KbLink::buildErrorLink(Common::Error(), link, product(), true);
  plain = decode(link.substr(address.size()), dir_).plain;
  EXPECT_EQ(plain.find("11="), std::string::npos);
  EXPECT_EQ(plain.find("15="), std::string::npos);
  EXPECT_NE(plain.find("18=\"Log\";"), std::string::npos);
}

TEST_F(KbLinkTest, ALongSerialisedErrorGivesCodesAndSitesInTheLinkButStaysWholeWhenForced) {
  // Grow the text until the serialised chain is exactly 1024 characters.
  std::u16string text;
  Common::Error exact;
  for (int n = 0; n < 1200; ++n) {
    text.assign(n, u'x');
    Common::Error e(0xAD997C1900000002ull, 0x620026, text.c_str());
    e.setWin32Cause(1603);
    std::size_t size = KbLink::serializedErrorText(e).size();
    if (size == 1024) exact = e;
    if (size > 1024) break;
  }
  ASSERT_TRUE(exact);
  std::string payload;
  KbLink::buildReportPayload(payload, exact, product(), false, false, false);
  std::string plain = decode(payload, dir_).plain;
  EXPECT_NE(plain.find("11=\""), std::string::npos);

  text += u"yyyy";
  Common::Error longer(0xAD997C1900000002ull, 0x620026, text.c_str());
  longer.setWin32Cause(1603);
  ASSERT_GT(KbLink::serializedErrorText(longer).size(), 1024u);
  KbLink::buildReportPayload(payload, longer, product(), false, false, false);
  plain = decode(payload, dir_).plain;
  EXPECT_EQ(plain.find("11=\""), std::string::npos);
  std::size_t sites = plain.find("16=\"0xAD997C1900000002+0x");
  std::size_t codes = plain.find("15=\"0x00620026+0x");
  EXPECT_NE(sites, std::string::npos) << plain;
  EXPECT_NE(codes, std::string::npos) << plain;
  EXPECT_LT(sites, codes);

  KbLink::buildReportPayload(payload, longer, product(), false, true, true);
  plain = decode(payload, dir_).plain;
  EXPECT_NE(plain.find("11=\""), std::string::npos);
  EXPECT_NE(plain.find("34=\"Automatic\";"), std::string::npos);
}

TEST_F(KbLinkTest, DisplayFieldsAndRunIdentifier) {
  Common::Error error(0xAD997C1900000003ull, 0x62001C, u"Other language");
  KbLink::ReportFields fields;
  KbLink::ProductInfo p = product();
  p.productName.clear();
  KbLink::collectReportFields(error, fields, p);
  EXPECT_EQ(fields.fields.at(8), "16.0");
  EXPECT_EQ(fields.fields.at(9), "5555");
  EXPECT_EQ(fields.fields.at(5), "");  // stored even when empty
  EXPECT_EQ(fields.fields.count(6), 0u);
  EXPECT_EQ(fields.errorCodes, "0x0062001C");
  ASSERT_EQ(fields.errors.size(), 1u);
  EXPECT_EQ(fields.errors[0].first, 0xAD997C1900000003ull);

  // One run identifier per process, a version-4 UUID text.
  std::string id = KbLink::systemFields().fields.at(14);
  ASSERT_EQ(id.size(), 36u);
  EXPECT_EQ(id[14], '4');
  EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos);
  KbLink::ReportFields again;
  KbLink::collectReportFields(error, again, p);
  EXPECT_EQ(again.fields.at(14), id);
  unsigned char u[16];
  EXPECT_FALSE(KbLink::generateUuid(u, 1));
}

// Field 4 names the language of the system's user interface, not that of its
// locale: a German-formatted system with a French interface reports French.
TEST_F(KbLinkTest, PlatformLanguageIsTheSystemInterfaceLanguage) {
  struct Case {
    LCID locale;
    LANGID ui;
    const char* field;
  } cases[] = {{0x0407, 0x040C, "0x040C"}, {0x0407, 0, "0x0409"}, {0, 0x0804, "0x0804"}};
  for (const Case& c : cases) {
    win32::set_system_locale_for_tests(c.locale);
    win32::set_system_ui_language_for_tests(c.ui);
    KbLink::ReportFields fields;
    KbLink::makeSystemFields(fields);
    EXPECT_EQ(fields.fields.at(4), c.field);
  }
  win32::set_system_locale_for_tests(0);
  win32::set_system_ui_language_for_tests(0);
}

TEST(KbLinkText, ReplaceAllContinuesAfterEachReplacement) {
  std::string s = "a+b+";
  KbLink::replaceAll(s, "+", "++");
  EXPECT_EQ(s, "a++b++");
  const unsigned char bytes[] = {0xFB, 0xFF, 0xBF};
  EXPECT_EQ(KbLink::linkBase64(bytes, 3), "-_-_");  // "+/+/" in standard base64
}

}  // namespace
