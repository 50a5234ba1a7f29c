#include "installmenu/update/update_client.h"

#include <gtest/gtest.h>

#include "core/error.h"

#include "platform/win32/windows.h"
#include "platform/win32/testing/test_world.h"
#include "xml/xml_node.h"

namespace {

using namespace InstallMenuHelper;

Processor::RefPtr<LiveUpdate::ProductInformation> fromText(const std::string& text) {
  xml_document d;
  if (!d.load_memory(text.data(), text.size())) return nullptr;
  return productFromDescriptor(d);
}

TEST(PackageDescriptor, Table) {
  const std::string good = "<packageID>{ABC}</packageID><version>7.1.2.3</version>";
  struct Case {
    const char* name;
    std::string xml;
    bool read;
    std::int32_t edition, language;
  } cases[] = {
      {"plain", "<updateInfo>" + good + "<edition>2</edition><language>1033</language></updateInfo>", true, 2, 1033},
      {"hex forms", "<updateInfo>" + good + "<edition>0x10</edition><language>10h</language></updateInfo>", true, 16,
       16},
      {"blanks around", "<updateInfo>" + good + "<edition> 7 </edition><language>1</language><x/></updateInfo>", true,
       7, 1},
      {"attributes refused",
       "<updateInfo packageID=\"{ABC}\" edition=\"1\" language=\"1\" version=\"1.0.0.0\"/>", false, 0, 0},
      {"a word", "<updateInfo>" + good + "<edition>two</edition><language>1</language></updateInfo>", false, 0, 0},
      {"two numbers", "<updateInfo>" + good + "<edition>1 2</edition><language>1</language></updateInfo>", false, 0,
       0},
      {"missing language", "<updateInfo>" + good + "<edition>1</edition></updateInfo>", false, 0, 0},
      {"wrong root", "<UpdateInfo>" + good + "<edition>1</edition><language>1</language></UpdateInfo>", false, 0, 0},
      {"not well formed", "<updateInfo>", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto info = fromText(c.xml);
    ASSERT_EQ(static_cast<bool>(info), c.read);
    if (!info) continue;
    EXPECT_EQ(info->packageId(), "{ABC}");
    EXPECT_EQ(info->edition(), c.edition);
    EXPECT_EQ(info->language(), c.language);
    EXPECT_EQ(info->version()->text(), "7.1.2.3");
    EXPECT_EQ(info->name().length(), 0);
  }
  // Units beyond U+00FF keep their low byte.
  auto info = fromText("<updateInfo><packageID>\xC4\x81x</packageID><version>1</version><edition>1</edition>"
                       "<language>1</language></updateInfo>");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->packageId(), "\x01x");
}

TEST(ProtocolSettings, OneConfigurationPerScheme) {
  auto accessor = createProtocolConfigurationAccessor();
  auto a = accessor->configuration(*LiveUpdate::createUriResource(u"https://a.example/x"));
  auto b = accessor->configuration(*LiveUpdate::createUriResource(u"https://b.example/"));
  auto c = accessor->configuration(*LiveUpdate::createUriResource(u"http://a.example/"));
  EXPECT_EQ(a.get(), b.get());
  EXPECT_NE(a.get(), c.get());
  EXPECT_FALSE(a->useProxy());
  EXPECT_FALSE(a->proxyAuthentication());
  EXPECT_FALSE(a->reservedFlag());
  try {
    a->reserved9();
    ADD_FAILURE();
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.code(), LiveUpdate::kInternalError);
  }
}

class ServerAddress : public win32_test::World {};

TEST_F(ServerAddress, TheRegistryOverrideIsTakenVerbatim) {
  EXPECT_EQ(updateServerAddress().rfind(u"https://", 0), 0u);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Korvane\\Update\\Debug", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  auto set = [&](const std::u16string& v) {
    RegSetValueExW(key, u"ServerUrl", 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>((v.size() + 1) * 2));
  };
  const std::u16string fallback = updateServerAddress();
  set(u"");
  EXPECT_EQ(updateServerAddress(), fallback);
  set(u"ftp://127.0.0.1:99/odd path?q");
  EXPECT_EQ(updateServerAddress(), u"ftp://127.0.0.1:99/odd path?q");
  RegCloseKey(key);
}

}  // namespace
