// Update service answers as the client reads them: the body is loaded as a
// document and read as an infoUpdates answer (every update, its families)
// and as a getUpdates answer. The first byte chooses which.
// Properties: no crash, no hang; only Common::Error leaves the readers; an
// accepted update has a file name and a version, and its sequence table
// holds each family once.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/error.h"
#include "fuzz/fuzz_check.h"
#include "liveupdate/protocol.h"
#include "xml/xml_node.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool getUpdates = data[0] & 1;
  xml_document document;
  if (!document.load_memory(data + 1, size - 1)) return 0;
  try {
    if (getUpdates) {
      Processor::RefPtr<LiveUpdate::UriResource> link;
      std::string hash;
      LiveUpdate::parseGetUpdatesResponse(document.root(), link, hash);
      FUZZ_CHECK(link);
      return 0;
    }
    for (const xml_node* update : LiveUpdate::parseInfoUpdatesResponse(document.root())) {
      try {
        LiveUpdate::UpdateInfo info = LiveUpdate::parseUpdate(update);
        FUZZ_CHECK(info.version);
        FUZZ_CHECK(!info.hasPatchSequence || info.isPatch);
        FUZZ_CHECK(info.importance < 2);
        LiveUpdate::PatchSequenceTable table;
        LiveUpdate::buildPatchSequenceTable(*update, table);
        for (const auto& [family, sequence] : table) FUZZ_CHECK(sequence);
      } catch (const Common::Error&) {
      }
    }
  } catch (const Common::Error&) {
  }
  return 0;
}
