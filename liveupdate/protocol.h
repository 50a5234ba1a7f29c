// The update service's messages: the two requests the client writes and the
// answers it accepts, with their checks.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/object.h"
#include "core/string.h"
#include "liveupdate/version.h"
#include "network/uri_resource.h"

class xml_document;
class xml_node;

namespace LiveUpdate {

constexpr std::uint32_t kProtocolVersionError = 0x565209;  // "Protocol version error."
constexpr std::uint32_t kProductNotFound = 0x5661A8;       // "Product not found."
constexpr std::uint32_t kImportanceLast = 2;

// Family name -> sequence.
using PatchSequenceTable = std::map<std::string, Processor::RefPtr<Version>>;

struct UpdateInfo {
  Processor::RefPtr<Version> version;
  Processor::String description;
  bool isPatch = false;
  bool hasPatchSequence = false;
  Processor::String fileName;
  std::uint64_t size = 0;
  std::uint32_t importance = 0;
};

std::unique_ptr<xml_document> writeInfoUpdatesRequest(const std::string& packageId, std::int32_t edition,
                                                      std::int32_t language, const Version& version);
std::unique_ptr<xml_document> writeGetUpdatesRequest(const std::string& packageId, std::int32_t edition,
                                                     std::int32_t language, const Version& version,
                                                     const Processor::String& fileName);
// The POST body: the document without a trailing line end.
std::vector<unsigned char> requestBytes(const xml_document& request);

// Field N: E's attribute N, else the text of E's first child element N; the
// failed check "tag" when E has neither.
std::u16string GetStringFromTag(const xml_node& element, const char* field);
std::u16string GetTextFromTag(const xml_node& element);
// Radix 10 with "0x"/"h" for hexadecimal.
std::uint64_t TextToNumber(const std::u16string& text);

// `root` may be null (no document).
void checkResponse(const xml_node* root, const char* action);
std::vector<const xml_node*> parseInfoUpdatesResponse(const xml_node* root);
UpdateInfo parseUpdate(const xml_node* update);
bool buildPatchSequenceTable(const xml_node& update, PatchSequenceTable& table);
void parseGetUpdatesResponse(const xml_node* root, Processor::RefPtr<UriResource>& link, std::string& hash);

}  // namespace LiveUpdate
