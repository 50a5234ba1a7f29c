// The product configuration: the look-up rules on small documents, and the
// whole road from the program archive (the one the build ships, and archives
// made here for the edge cases) to a configuration string.
#include "xml/product_configuration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "core/resource_archive.h"
#include "core/resource_testing.h"
#include "files/memory_file.h"
#include "files/zip_file.h"
#include "files/zip_writer.h"
#include "platform/win32/testing/test_world.h"
#include "xml/xml_node.h"
#include "xml/xml_test_support.h"

namespace {

using xml_test::utf8;

std::unique_ptr<xml_document> parse(const std::string& text) {
  auto doc = std::make_unique<xml_document>();
  EXPECT_TRUE(doc->load_memory(text.data(), text.size())) << text;
  return doc;
}

std::string value(const char16_t* text) { return text ? utf8(text) : std::string("<null>"); }

// ---------------------------------------------------------------- the look-up

TEST(ConfigString, LookUpRules) {
  const auto doc = parse(
      "<resource>"
      "<string name='dup'>first</string>"
      "<string name='dup'>second</string>"
      "<string>no name</string>"
      "<string name='empty'></string>"
      "<string name='Case'>upper</string>"
      "<string name='case'>lower</string>"
      "<file name='not_a_string'>file text</file>"
      "<group><string name='nested'>inside a group</string></group>"
      "<string name='mixed'>before<b>bold</b>after</string>"
      "<string name='caf\xC3\xA9'>accent</string>"
      "<string name='blank'> spaced  out </string>"
      "</resource>");
  struct {
    const char* key;
    const char* expected;
  } cases[] = {
      {"dup", "first"},            // the first of a name wins
      {"empty", ""},               // present but empty: "", not null
      {"absent", "<null>"},
      {"", "<null>"},              // the nameless string is skipped, not matched by ""
      {"Case", "upper"},           // case-sensitive both ways
      {"case", "lower"},
      {"CASE", "<null>"},
      {"not_a_string", "<null>"},  // only `string` elements count
      {"nested", "<null>"},        // only children of the root
      {"mixed", "before"},         // the text before the first child
      {"caf\xE9", "accent"},       // each key byte is one UTF-16 unit
      {"caf\xC3\xA9", "<null>"},
      {"blank", "spaced out"},
  };
  for (const auto& c : cases) EXPECT_EQ(value(Common::findConfigString(*doc, c.key)), c.expected) << c.key;
  EXPECT_EQ(Common::findConfigString(*doc, nullptr), nullptr);
  EXPECT_EQ(Common::findConfigString(xml_document(), "dup"), nullptr);
}

TEST(ConfigString, EmptyValueStaysEmptyThroughBinaryXml) {
  const auto doc = parse("<resource><string name='empty'/><string name='x'>y</string></resource>");
  std::string binary;
  ASSERT_TRUE(doc->write_memory(binary, xml_document::write_binary));
  xml_document back;
  ASSERT_TRUE(back.load_memory(binary.data(), binary.size()));
  const char16_t* empty = Common::findConfigString(back, "empty");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(*empty, u'\0');
  EXPECT_EQ(value(Common::findConfigString(back, "x")), "y");
}

// ---------------------------------------------------------------- from archives

// A private world whose program archive is `archive` (a Unix path); resources
// are sought in the archive only, and the configuration is loaded afresh.
class ConfigurationFromArchive : public win32_test::World {
 protected:
  void use_archive(const std::string& archive) {
    path_ = u"Z:";
    for (char c : archive) path_.push_back(static_cast<unsigned char>(c));
    Common::testing::setProgramArchivePath(path_.c_str());
    Common::testing::setResourceFileState(2);
    Common::testing::reloadProductConfiguration();
  }
  // Writes a ZIP holding the configuration member (when `configuration` is
  // not null) into the test folder and uses it.
  void use_members(const std::string* configuration, bool binary = true) {
    std::ostringstream zip;
    zip_writer w(zip);
    ASSERT_TRUE(w.add("readme.txt", "not the configuration"));
    if (configuration) {
      std::string bytes = *configuration;
      if (binary) {
        const auto doc = parse(*configuration);
        ASSERT_TRUE(doc->write_memory(bytes, xml_document::write_binary));
      }
      ASSERT_TRUE(w.add(Common::configurationMemberName, bytes));
    }
    ASSERT_TRUE(w.finish());
    const std::string file = dir_ + "/program.zip";
    std::ofstream(file, std::ios::binary) << zip.str();
    use_archive(file);
  }
  void TearDown() override {
    // Leave no state pointing into the folder that is about to go.
    Common::testing::setProgramArchivePath(nullptr);
    Common::testing::setResourceFileState(0);
    Common::testing::reloadProductConfiguration();
    World::TearDown();
  }
  std::u16string path_;
};

TEST_F(ConfigurationFromArchive, EdgeCasesThroughTheWholeRoad) {
  const std::string configuration =
      "<resource>"
      "<string name='dup'>first</string><string name='dup'>second</string>"
      "<string>nameless</string><string name='empty'/>"
      "<string name='Title'>T</string>"
      "</resource>";
  use_members(&configuration);
  ASSERT_NE(Common::productConfiguration(), nullptr);
  EXPECT_EQ(value(Common::getConfigString("dup")), "first");
  EXPECT_EQ(value(Common::getConfigString("empty")), "");
  EXPECT_EQ(value(Common::getConfigString("absent")), "<null>");
  EXPECT_EQ(value(Common::getConfigString("title")), "<null>");
  EXPECT_EQ(value(Common::lookupConfigString("Title")), "T");
  // Texts stay where they are: the document is loaded once.
  EXPECT_EQ(Common::getConfigString("dup"), Common::getConfigString("dup"));
  EXPECT_EQ(Common::productConfiguration(), Common::productConfiguration());
}

TEST_F(ConfigurationFromArchive, TextXmlMemberLoadsToo) {
  const std::string configuration = "<?xml version='1.0'?>\n<resource>\n <string name='k'>v</string>\n</resource>\n";
  use_members(&configuration, false);
  EXPECT_EQ(value(Common::getConfigString("k")), "v");
}

TEST_F(ConfigurationFromArchive, MissingOrUnreadableConfigurationGivesNullEverywhere) {
  const std::string truncated = [] {
    std::string binary;
    parse("<resource><string name='k'>value</string></resource>")->write_memory(binary, xml_document::write_binary);
    return binary.substr(0, binary.size() - 3);
  }();
  const std::string* cases[] = {nullptr, &truncated};
  for (const std::string* c : cases) {
    use_members(c, false);
    EXPECT_EQ(Common::productConfiguration(), nullptr);
    EXPECT_EQ(Common::getConfigString("k"), nullptr);
  }
  use_archive(dir_ + "/no-such-program.zip");
  EXPECT_EQ(Common::productConfiguration(), nullptr);
  EXPECT_EQ(Common::getConfigString("main_title"), nullptr);
}

TEST_F(ConfigurationFromArchive, AFileOnDiskComesBeforeTheArchive) {
  const std::string in_archive = "<resource><string name='from'>archive</string></resource>";
  use_members(&in_archive);
  std::ofstream(c(Common::configurationMemberName)) << "<resource><string name='from'>disk</string></resource>";
  Common::testing::setResourceFileState(0);  // the current folder (C:\) is looked at first
  Common::testing::reloadProductConfiguration();
  EXPECT_EQ(value(Common::getConfigString("from")), "disk");
}

// ---------------------------------------------------------------- the shipped archive

constexpr const char* shippedArchive = KV_TEST_PROGRAM_ARCHIVE;

TEST_F(ConfigurationFromArchive, ShippedArchiveAnswersTheProductStrings) {
  use_archive(shippedArchive);
  ASSERT_NE(Common::productConfiguration(), nullptr) << shippedArchive;
  struct {
    const char* key;
    const char* expected;
  } cases[] = {
      {"application_sign", "DovecrestVazediInstallMenu"},
      {"main_title", "Vazedi for Dovecrest 2013"},
      {"main_url", "https://www.korvane.example/"},
      {"main_support_url", "https://www.korvane.example/support/"},
      {"check_for_updates_on_startup", "false"},
      {"registry_settings", "SOFTWARE\\Korvane\\Dovecrest\\Settings"},
      {"live_update_installer_path", "KorvaneUpdateInstaller"},
      {"Main_Title", "<null>"},
      {"menu_default", "<null>"},  // a menu, not a string
  };
  for (const auto& c : cases) EXPECT_EQ(value(Common::getConfigString(c.key)), c.expected) << c.key;
  const char* present[] = {"users_guide_url", "registry_abs_settings", "registry_smart_error_report_cnformation",
                           "auto_registry_keys_string", "auto_registry_values_string"};
  for (const char* key : present) {
    const char16_t* text = Common::getConfigString(key);
    ASSERT_NE(text, nullptr) << key;
    EXPECT_NE(*text, u'\0') << key;
  }
}

TEST_F(ConfigurationFromArchive, ShippedArchiveCarriesTheMenuMarkup) {
  use_archive(shippedArchive);
  const xml_document* doc = Common::productConfiguration();
  ASSERT_NE(doc, nullptr);
  const xml_node* root = doc->root();
  EXPECT_EQ(root->name(), "resource");

  const xml_node* menu = root->find_child_by_attribute("kml:menu", "name", FX::FXWString(u"menu_default"));
  ASSERT_NE(menu, nullptr);
  const xml_node* entry = menu->find_child("kml:item");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->attribute_string("verb", ""), "install");
  EXPECT_EQ(entry->attribute_string("flags", ""), "default");
  const xml_node* toolbar = root->find_child_by_attribute("kml:toolbar", "name", FX::FXWString(u"menu_toolbar"));
  ASSERT_NE(toolbar, nullptr);
  EXPECT_TRUE(toolbar->children().empty());

  const xml_node* locale = root->find_child_by_attribute("file", "name", FX::FXWString(u"locale_imager"));
  ASSERT_NE(locale, nullptr);
  EXPECT_EQ(locale->attribute_string("dynamic_href", ""), "VDHM_Vazedi_{0}.msp");

  const xml_node* customization = root->find_child("customization");
  ASSERT_NE(customization, nullptr);
  const xml_node* files = customization->find_child("file_list");
  ASSERT_NE(files, nullptr);
  ASSERT_FALSE(files->children().empty());
  for (const xml_node* f : files->children()) EXPECT_NE(f->text().length(), 0) << "an empty entry adds nothing";

  // Every item the window looks up by name, each with name == verb.
  const xml_node* group = root->find_child("group");
  ASSERT_NE(group, nullptr);
  std::set<std::string> names;
  for (const xml_node* item : group->children()) {
    if (item->name() != "kml:item") continue;
    EXPECT_EQ(item->attribute_string("name", "?"), item->attribute_string("verb", "!"));
    names.insert(item->attribute_string("name", ""));
  }
  for (const char* name : {"locale", "locale_imager_this", "separator", "imager_support", "update_proposal",
                           "update_checking", "update_available", "update_unavailable", "update_downloading",
                           "update_download_error", "update_error"})
    EXPECT_EQ(names.count(name), 1u) << name;

  const xml_node* support = group->find_child_by_attribute("kml:item", "name", FX::FXWString(u"imager_support"));
  ASSERT_NE(support, nullptr);
  ASSERT_NE(support->find_child("link"), nullptr);
  EXPECT_EQ(support->find_child("link")->attribute_string("url", ""), "https://www.korvane.example/support/");
  const xml_node* own = support->find_child("kml:menu");
  ASSERT_NE(own, nullptr);
  ASSERT_NE(own->find_child("kml:item"), nullptr);
  EXPECT_EQ(own->find_child("kml:item")->attribute_string("verb", ""), "show");
}

// The shipped archive as the program carries it: appended to the program file,
// or in the ".dat" file beside it, which wins.
TEST_F(ConfigurationFromArchive, ShippedArchiveAppendedToAProgramOrBesideIt) {
  std::ifstream in(shippedArchive, std::ios::binary);
  std::stringstream archive;
  archive << in.rdbuf();
  std::ofstream(dir_ + "/menu.exe", std::ios::binary) << std::string(70000, 'P') << archive.str();
  use_archive(dir_ + "/menu.exe");
  EXPECT_EQ(value(Common::getConfigString("main_title")), "Vazedi for Dovecrest 2013");

  const std::string dat = "<resource><string name='main_title'>from the .dat file</string></resource>";
  std::ostringstream zip;
  zip_writer w(zip);
  ASSERT_TRUE(w.add(Common::configurationMemberName, dat));
  ASSERT_TRUE(w.finish());
  std::ofstream(dir_ + "/menu.dat", std::ios::binary) << zip.str();
  use_archive(dir_ + "/menu.exe");
  EXPECT_EQ(value(Common::getConfigString("main_title")), "from the .dat file");
}

// The members the program opens by name are all there.
TEST_F(ConfigurationFromArchive, ShippedArchiveHoldsTheNamedMembers) {
  use_archive(shippedArchive);
  const char16_t* members[] = {u"DovecrestVazediInstallMenu.msg", u"DovecrestVazediInstallMenu.xml",
                               u"help.chm", u"instmsiw.exe", u"instmsia.exe", u"top_gradient.png",
                               u"customization_res.xml", u"VDHM_Vazedi_{0}.msp.xml"};
  for (const char16_t* name : members) {
    std::unique_ptr<ri_file> f(Common::openArchivedFile(name));
    ASSERT_NE(f, nullptr) << utf8(name);
    EXPECT_GT(f->size(), 0u) << utf8(name);
  }
  std::unique_ptr<ri_file> splash(Common::openArchivedFile(u"splash.png"));
  EXPECT_EQ(splash, nullptr) << "the menu falls back to its progress window";

  // Every image an item names is a PNG member.
  const xml_document* doc = Common::productConfiguration();
  ASSERT_NE(doc, nullptr);
  for (const xml_node* item : doc->root()->find_child("group")->children())
    for (const xml_node* child : item->children()) {
      if (child->name() != "icon") continue;
      const std::string href = child->attribute_string("href", "");
      std::u16string name(href.begin(), href.end());
      std::unique_ptr<ri_file> png(Common::openArchivedFile(name.c_str()));
      ASSERT_NE(png, nullptr) << href;
      char signature[8] = {};
      png->read_exact(signature, 8);
      EXPECT_EQ(std::string(signature, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << href;
    }
}

// Another program's archive, through an accessor of its own: open(null) is
// the configuration member.
TEST_F(ConfigurationFromArchive, AccessorOfTheShippedArchiveOpensTheConfiguration) {
  std::u16string path = u"Z:";
  for (char ch : std::string(shippedArchive)) path.push_back(static_cast<unsigned char>(ch));
  std::unique_ptr<Common::ResourceAccessor> accessor(Common::ResourceAccessor::create(path.c_str()));
  ASSERT_NE(accessor, nullptr);
  std::unique_ptr<ri_file> member(accessor->open(nullptr));
  ASSERT_NE(member, nullptr);
  xml_document doc;
  ASSERT_TRUE(doc.load(*member));
  EXPECT_EQ(value(Common::findConfigString(doc, "main_title")), "Vazedi for Dovecrest 2013");
}

// The build's compiled configuration is the readable source, element for
// element.
TEST(ShippedConfiguration, BinaryMemberMatchesTheSource) {
  auto slurp = [](const char* path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  const auto from_source = parse(slurp(KV_TEST_CONFIGURATION_SOURCE));

  const std::string zip_bytes = slurp(shippedArchive);
  std::unique_ptr<Common::MemoryFile> raw(Common::CreateMemoryFile());
  raw->write_exact(zip_bytes.data(), static_cast<std::uint32_t>(zip_bytes.size()));
  raw->rewind();
  zip_file zip(raw.get());
  ASSERT_TRUE(zip.Good());
  const std::u16string name(Common::configurationMemberName,
                            Common::configurationMemberName + std::strlen(Common::configurationMemberName));
  std::unique_ptr<ri_file> member(zip.open_file(name.c_str(), false));
  ASSERT_NE(member, nullptr);
  char signature[4] = {};
  member->read_exact(signature, 4);
  EXPECT_EQ(std::string(signature, 4), "BXML");
  member.reset(zip.open_file(name.c_str(), false));
  ASSERT_NE(member, nullptr);
  xml_document shipped;
  ASSERT_TRUE(shipped.load(*member));
  EXPECT_EQ(xml_test::dump(shipped.root()), xml_test::dump(from_source->root()));
}

}  // namespace
