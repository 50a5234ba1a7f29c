#include "liveupdate/protocol.h"

#include "core/catalogue.h"
#include "core/error.h"
#include "network/http_client.h"
#include "system/number_text.h"
#include "xml/xml_node.h"

namespace LiveUpdate {
namespace {

[[noreturn]] void failedCheck(std::uint64_t site, const char* expression) {
  throw Common::Error(site, kFailedCheck, expression);
}

[[noreturn]] void protocolError(std::uint64_t site) {
  throw Common::Error(site, kProtocolError, Common::catalogueText(1299, u"Internal protocol error."));
}

std::u16string widen(const std::string& s) {
  std::u16string w(s.size(), u'\0');
  for (std::size_t i = 0; i < s.size(); ++i) w[i] = static_cast<unsigned char>(s[i]);
  return w;
}

std::string lowBytes(const std::u16string& s) {
  std::string n(s.size(), '\0');
  for (std::size_t i = 0; i < s.size(); ++i) n[i] = static_cast<char>(s[i] & 0xFF);
  return n;
}

xml_node* textElement(const char* name, const std::u16string& text) {
  auto* node = new xml_node(name);
  node->pieces()[0] = text;
  return node;
}

std::unique_ptr<xml_document> writeRequest(const char* action, const std::string& packageId, std::int32_t edition,
                                           std::int32_t language, const Version& version,
                                           const Processor::String* fileName) {
  auto document = std::make_unique<xml_document>();
  auto* root = new xml_node("updates");
  document->set_root(root);
  root->attributes()["action"] = widen(action);
  root->append_child(textElement("protocol-version", u"1"));
  auto* product = new xml_node("product");
  auto number = [](std::int32_t v) { return widen(std::to_string(static_cast<std::uint32_t>(v))); };
  product->attributes()["edition"] = number(edition);
  product->attributes()["language"] = number(language);
  product->attributes()["packageID"] = widen(packageId);
  product->attributes()["version"] = number(version.major()) + u"." + number(version.minor()) + u"." +
                                     number(version.build()) + u"." + number(version.revision());
  if (fileName)
    product->append_child(
        textElement("file", std::u16string(fileName->getBuffer(), static_cast<std::size_t>(fileName->length()))));
  root->append_child(product);
  return document;
}

std::uint64_t numberField(const xml_node& element, const char* field) {
  return TextToNumber(GetStringFromTag(element, field));
}

}  // namespace

std::unique_ptr<xml_document> writeInfoUpdatesRequest(const std::string& packageId, std::int32_t edition,
                                                      std::int32_t language, const Version& version) {
  return writeRequest("infoUpdates", packageId, edition, language, version, nullptr);
}

std::unique_ptr<xml_document> writeGetUpdatesRequest(const std::string& packageId, std::int32_t edition,
                                                     std::int32_t language, const Version& version,
                                                     const Processor::String& fileName) {
  return writeRequest("getUpdates", packageId, edition, language, version, &fileName);
}

std::vector<unsigned char> requestBytes(const xml_document& request) {
  std::vector<unsigned char> body;
  documentToRequestBody(request, body);
  return body;
}

std::u16string GetTextFromTag(const xml_node& element) { return element.text().str(); }

std::u16string GetStringFromTag(const xml_node& element, const char* field) {
  auto attribute = element.attributes().find(field);
  if (attribute != element.attributes().end()) return attribute->second;
  if (const xml_node* child = element.find_child(field)) return GetTextFromTag(*child);
  failedCheck(KV_SITE, "tag");
}

std::uint64_t TextToNumber(const std::u16string& text) {
  std::uint64_t value = 0;
  if (!Common::parseNumberW(&value, text.c_str(), 10))
    failedCheck(KV_SITE, "::TextToNumber(value, GetStringFromTag(tag, valueName).c_str())");
  return value;
}

void checkResponse(const xml_node* root, const char* action) {
  if (!root) protocolError(KV_SITE);
  if (root->name() == "error") {
    const std::u16string text = u"Protocol error: " + GetStringFromTag(*root, "id") + u"\r\nServer message: " +
                                GetStringFromTag(*root, "description") + u"\r\n";
    throw Common::Error(KV_SITE, kProtocolError, text.c_str());
  }
  if (root->name() != "updates") protocolError(KV_SITE);
  if (GetStringFromTag(*root, "protocol-version") != u"1")
    throw Common::Error(KV_SITE, kProtocolVersionError, Common::catalogueText(1300, u"Protocol version error."));
  if (GetStringFromTag(*root, "status") != u"0") protocolError(KV_SITE);
  if (GetStringFromTag(*root, "description") != widen(action)) protocolError(KV_SITE);
}

std::vector<const xml_node*> parseInfoUpdatesResponse(const xml_node* root) {
  checkResponse(root, "infoUpdates");
  const xml_node* product = root->find_child("product");
  if (!product) protocolError(KV_SITE);
  const auto status = static_cast<std::uint32_t>(numberField(*product, "status"));
  if (status == 3) throw Common::Error(KV_SITE, kProductNotFound, Common::catalogueText(1298, u"Product not found."));
  if (status != 0) failedCheck(KV_SITE, "0 == status");
  std::vector<const xml_node*> updates;
  for (const xml_node* child : product->children())
    if (child->name() == "update") updates.push_back(child);
  return updates;
}

UpdateInfo parseUpdate(const xml_node* update) {
  if (!update) protocolError(KV_SITE);
  UpdateInfo info;
  info.version = createVersion(lowBytes(GetStringFromTag(*update, "version")));
  info.description = Processor::String(GetStringFromTag(*update, "description").c_str());
  const xml_node* type = update->find_child("type");
  info.isPatch = type && GetTextFromTag(*type) == u"Patch";
  info.hasPatchSequence = info.isPatch && update->find_child("patch-sequence");
  const xml_node* file = update->find_child("file");
  if (!file) protocolError(KV_SITE);
  info.fileName = Processor::String(GetStringFromTag(*file, "name").c_str());
  info.size = numberField(*file, "size");
  if (update->find_child("importance")) {
    info.importance = static_cast<std::uint32_t>(numberField(*update, "importance"));
    if (info.importance >= kImportanceLast) failedCheck(KV_SITE, "importanceAttr < Package::IMPORTANCE_LAST");
  }
  return info;
}

bool buildPatchSequenceTable(const xml_node& update, PatchSequenceTable& table) {
  table.clear();
  std::vector<const xml_node*> families;
  if (const xml_node* sequence = update.find_child("patch-sequence"))
    for (const xml_node* child : sequence->children())
      if (child->name() == "family") families.push_back(child);
  if (families.empty()) return false;
  const bool mustSupersedeEarlier = static_cast<std::uint32_t>(numberField(*families[0], "supersede")) != 0;
  for (const xml_node* family : families) {
    const std::string name = lowBytes(GetStringFromTag(*family, "name"));
    auto sequence = createVersion(lowBytes(GetStringFromTag(*family, "sequence")));
    const bool isSupersedeEarlier = static_cast<std::uint32_t>(numberField(*family, "supersede")) != 0;
    if (isSupersedeEarlier != mustSupersedeEarlier) failedCheck(KV_SITE, "mustSuperseedEarlier == isSuperseedEarlier");
    if (table.count(name))
      failedCheck(KV_SITE, "msiPatchSequenceTable.find(family) == msiPatchSequenceTable.end()");
    table.emplace(name, std::move(sequence));
  }
  return mustSupersedeEarlier;
}

void parseGetUpdatesResponse(const xml_node* root, Processor::RefPtr<UriResource>& link, std::string& hash) {
  checkResponse(root, "getUpdates");
  const xml_node* product = root->find_child("product");
  const xml_node* update = product ? product->find_child("update") : nullptr;
  if (!update) protocolError(KV_SITE);
  link = createUriResource(GetStringFromTag(*update, "link"));
  // The hash is hexadecimal ASCII; the code page changes nothing of it.
  hash = Processor::String(GetStringFromTag(*update, "hash").c_str()).toNarrow();
}

}  // namespace LiveUpdate
