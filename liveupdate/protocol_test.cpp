#include "liveupdate/protocol.h"

#include <gtest/gtest.h>

#include "core/error.h"
#include "network/http_client.h"
#include "xml/xml_node.h"

namespace {

using namespace LiveUpdate;

std::string bytesOf(const xml_document& d) {
  auto b = requestBytes(d);
  return std::string(b.begin(), b.end());
}

std::unique_ptr<xml_document> load(const std::string& text) {
  auto d = std::make_unique<xml_document>();
  if (!d->load_memory(text.data(), text.size())) d.reset();
  return d;
}

template <class F>
Common::Error errorOf(F&& f) {
  try {
    f();
  } catch (const Common::Error& e) {
    return e;
  }
  return {};
}

std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(UpdateRequest, InfoUpdatesBodyByteForByte) {
  // The version's own text is not sent, only its four numbers.
  auto request = writeInfoUpdatesRequest("{0D4B6E2A-1C3F-4A5B-8C7D-9E0F1A2B3C4D}", 3, 1031, *createVersion("7.1beta"));
  EXPECT_EQ(bytesOf(*request),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
            "<updates action=\"infoUpdates\"><protocol-version>1</protocol-version>"
            "<product edition=\"3\" language=\"1031\" packageID=\"{0D4B6E2A-1C3F-4A5B-8C7D-9E0F1A2B3C4D}\" "
            "version=\"7.1.0.0\" /></updates>");
}

TEST(UpdateRequest, GetUpdatesCarriesTheFileAndUnsignedNumbers) {
  auto request = writeGetUpdatesRequest("P", -1, 1033, *createVersion("1.2.3.4"), Processor::String("a&b.msi"));
  EXPECT_EQ(bytesOf(*request),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
            "<updates action=\"getUpdates\"><protocol-version>1</protocol-version>"
            "<product edition=\"4294967295\" language=\"1033\" packageID=\"P\" version=\"1.2.3.4\">"
            "<file>a&amp;b.msi</file></product></updates>");
}

const char* kHead = "<updates protocol-version=\"1\" status=\"0\" description=\"infoUpdates\">";

TEST(UpdateAnswer, RootChecks) {
  struct Case {
    const char* name;
    std::string body;
    std::uint32_t code;
    std::string text;
  } cases[] = {
      {"no document", "", kProtocolError, "Internal protocol error."},
      {"error root", "<error id=\"17\"><description>No such thing</description></error>", kProtocolError,
       "Protocol error: 17\r\nServer message: No such thing\r\n"},
      {"another root", "<answers/>", kProtocolError, "Internal protocol error."},
      {"version as child", "<updates status=\"0\" description=\"infoUpdates\"><protocol-version>2</protocol-version>"
                           "</updates>", kProtocolVersionError, "Protocol version error."},
      {"status not 0", "<updates protocol-version=\"1\" status=\"1\" description=\"infoUpdates\"/>", kProtocolError,
       "Internal protocol error."},
      {"action in another case", "<updates protocol-version=\"1\" status=\"0\" description=\"InfoUpdates\"/>",
       kProtocolError, "Internal protocol error."},
      {"missing field", "<updates protocol-version=\"1\" description=\"infoUpdates\"/>", kFailedCheck, "tag"},
      {"no product", std::string(kHead) + "</updates>", kProtocolError, "Internal protocol error."},
      {"product status 3", std::string(kHead) + "<product status=\"3\"/></updates>", kProductNotFound,
       "Product not found."},
      {"product status 1", std::string(kHead) + "<product><status>1</status></product></updates>", kFailedCheck,
       "0 == status"},
      {"status not a number", std::string(kHead) + "<product status=\"x\"/></updates>", kFailedCheck,
       "::TextToNumber(value, GetStringFromTag(tag, valueName).c_str())"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = c.body.empty() ? nullptr : load(c.body);
    if (!c.body.empty()) {
      ASSERT_TRUE(doc);
    }
    Common::Error e = errorOf([&] { parseInfoUpdatesResponse(doc ? doc->root() : nullptr); });
    EXPECT_EQ(e.code(), c.code);
    EXPECT_EQ(narrow(e.text()), c.text);
  }
}

TEST(UpdateAnswer, UpdatesAndTheirFields) {
  auto doc = load(std::string(kHead) +
                  "<product status=\"0\">"
                  "<update version=\"2.0.1.5\" description=\"attr wins\"><description>child</description>"
                  "<type>Patch</type><file name=\"a.msp\"><size>0x10</size></file><patch-sequence/></update>"
                  "<other/>"
                  "<update><version>3.0</version><description>B</description><type>patch</type>"
                  "<file name=\"b.msi\" size=\"10h\"/><importance>1</importance></update>"
                  "<update version=\"4\" description=\"C\" type=\"Patch\" importance=\"1\">"
                  "<file name=\"c.msi\" size=\" 42\"/></update>"
                  "<update version=\"5\" description=\"D\" importance=\"0\"><importance>1</importance>"
                  "<file name=\"d.msi\" size=\"1\"/></update>"
                  "</product></updates>");
  ASSERT_TRUE(doc);
  auto updates = parseInfoUpdatesResponse(doc->root());
  ASSERT_EQ(updates.size(), 4u);
  struct Want {
    const char* version;
    const char* description;
    bool patch, sequence;
    const char* file;
    std::uint64_t size;
    std::uint32_t importance;
  } want[] = {
      {"2.0.1.5", "attr wins", true, true, "a.msp", 16, 0},
      {"3.0", "B", false, false, "b.msi", 16, 1},
      {"4", "C", false, false, "c.msi", 42, 0},  // type and importance as attributes only
      {"5", "D", false, false, "d.msi", 1, 0},   // the attribute wins once the child exists
  };
  for (std::size_t i = 0; i < updates.size(); ++i) {
    SCOPED_TRACE(i);
    UpdateInfo u = parseUpdate(updates[i]);
    EXPECT_EQ(u.version->text(), want[i].version);
    EXPECT_EQ(u.description.toNarrow(), want[i].description);
    EXPECT_EQ(u.isPatch, want[i].patch);
    EXPECT_EQ(u.hasPatchSequence, want[i].sequence);
    EXPECT_EQ(u.fileName.toNarrow(), want[i].file);
    EXPECT_EQ(u.size, want[i].size);
    EXPECT_EQ(u.importance, want[i].importance);
  }
}

TEST(UpdateAnswer, ImportanceAndFileChecks) {
  auto bad = load("<update version=\"1\" description=\"x\" importance=\"2\"><importance/><file name=\"f\" size=\"1\"/></update>");
  EXPECT_EQ(narrow(errorOf([&] { parseUpdate(bad->root()); }).text()), "importanceAttr < Package::IMPORTANCE_LAST");
  auto noFile = load("<update version=\"1\" description=\"x\"/>");
  EXPECT_EQ(errorOf([&] { parseUpdate(noFile->root()); }).code(), kProtocolError);
  auto big = load("<update version=\"1\" description=\"x\"><file name=\"f\" size=\"0x100000000\"/></update>");
  EXPECT_EQ(parseUpdate(big->root()).size, 0x100000000ull);
}

TEST(UpdateAnswer, PatchSequenceFamilies) {
  struct Case {
    const char* name;
    const char* xml;
    const char* error;  // null: fine
    bool supersedes;
    std::size_t families;
  } cases[] = {
      {"none", "<update/>", nullptr, false, 0},
      {"empty sequence", "<update><patch-sequence/></update>", nullptr, false, 0},
      {"all supersede",
       "<update><patch-sequence><family name=\"A\" sequence=\"1.0\" supersede=\"1\"/>"
       "<family><name>B</name><sequence>2.0</sequence><supersede>7</supersede></family></patch-sequence></update>",
       nullptr, true, 2},
      {"disagree",
       "<update><patch-sequence><family name=\"A\" sequence=\"1\" supersede=\"1\"/>"
       "<family name=\"B\" sequence=\"1\" supersede=\"0\"/></patch-sequence></update>",
       "mustSuperseedEarlier == isSuperseedEarlier", false, 0},
      {"same name twice",
       "<update><patch-sequence><family name=\"A\" sequence=\"1\" supersede=\"0\"/>"
       "<family name=\"A\" sequence=\"2\" supersede=\"0\"/></patch-sequence></update>",
       "msiPatchSequenceTable.find(family) == msiPatchSequenceTable.end()", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = load(c.xml);
    ASSERT_TRUE(doc);
    PatchSequenceTable table;
    if (c.error) {
      EXPECT_EQ(narrow(errorOf([&] { buildPatchSequenceTable(*doc->root(), table); }).text()), c.error);
      continue;
    }
    EXPECT_EQ(buildPatchSequenceTable(*doc->root(), table), c.supersedes);
    EXPECT_EQ(table.size(), c.families);
  }
}

TEST(UpdateAnswer, GetUpdatesLinkAndHash) {
  auto doc = load("<updates protocol-version=\"1\" status=\"0\" description=\"getUpdates\"><product>"
                  "<update link=\"http://127.0.0.1:81/f.msi\"><hash>ABCDEF</hash></update></product></updates>");
  Processor::RefPtr<UriResource> link;
  std::string hash;
  parseGetUpdatesResponse(doc->root(), link, hash);
  EXPECT_EQ(link->text().toNarrow(), "http://127.0.0.1:81/f.msi");
  EXPECT_EQ(link->port(), 81);
  EXPECT_EQ(hash, "ABCDEF");
  auto noUpdate = load("<updates protocol-version=\"1\" status=\"0\" description=\"getUpdates\"><product/></updates>");
  EXPECT_EQ(errorOf([&] { parseGetUpdatesResponse(noUpdate->root(), link, hash); }).code(), kProtocolError);
  auto infoAnswer = load(std::string(kHead) + "<product/></updates>");
  EXPECT_EQ(errorOf([&] { parseGetUpdatesResponse(infoAnswer->root(), link, hash); }).code(), kProtocolError);
}

TEST(Versions, MadeFromTextAndCompared) {
  struct Case {
    const char* a;
    const char* b;
    int result;
  } cases[] = {{"1.2.10.0", "1.2.9.99", 1}, {"1.2", "1.2.0.0", 0}, {"7", "7.0.0.1", -1},
               {"7.1beta", "7.1", 0},       {"", "0.0.0.0", 0},      {"-1.0", "0.0", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(compareVersions(*createVersion(c.a), *createVersion(c.b)), c.result);
    EXPECT_EQ(compareVersions(*createVersion(c.b), *createVersion(c.a)), -c.result);
  }
  EXPECT_EQ(createVersion("7.1beta")->text(), "7.1beta");
  EXPECT_EQ(createVersion("7.1beta")->minor(), 1);
  EXPECT_EQ(errorOf([] { createProductInformation(Processor::String("x"), "", 0, 0, nullptr); }).code(), kFailedCheck);
}

}  // namespace

namespace {

TEST(ProductIdentity, TranslationsAndTheTable) {
  using LiveUpdate::lookupProductIdentity;
  using LiveUpdate::translatePackageId;
  // The package's own ID wins; a product code of the translation fills an
  // empty one, in any letter case; the rename pair applies to either.
  EXPECT_EQ(translatePackageId("{OWN}", "{5A1E7C20-1B2C-4D3E-9F40-7A8B9C0D1E01}"), "{OWN}");
  EXPECT_EQ(translatePackageId("", "{5a1e7c20-1b2c-4d3e-9f40-7a8b9c0d1e01}"), "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E01}");
  EXPECT_EQ(translatePackageId("", "{5A1E7C20-1B2C-4D3E-9F40-7A8B9C0D1E03}"), "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E03}");
  EXPECT_EQ(translatePackageId("{c7d8e9f0-1a2b-4c3d-9e4f-5a6b7c8d9e00}", "{X}"),
            "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E03}");
  EXPECT_EQ(translatePackageId("", "{UNKNOWN}"), "");
  const std::string product = "{3C0F1A52-7D0E-4B8A-9B1E-0A6E2F1C4D01}", package = "{8E4B2C10-5A3D-4F7E-A1B2-6C9D0E1F2A01}";
  EXPECT_EQ(lookupProductIdentity(product, package, ""), "{B1D2E3F4-0A1B-4C2D-8E3F-1A2B3C4D5E01}");
  EXPECT_EQ(lookupProductIdentity(product, package, "Vazedi"), "{B1D2E3F4-0A1B-4C2D-8E3F-1A2B3C4D5E01}");
  EXPECT_FALSE(lookupProductIdentity(product, package, "vazedi"));
  EXPECT_FALSE(lookupProductIdentity(package, product, ""));
}

}  // namespace
