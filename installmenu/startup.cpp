// The program's start-up: the message catalogue is loaded before any other
// global object of the program is built, so that their initialisers and all
// later code may read any slot. Only the program links this file; the
// libraries and their tests never load a catalogue themselves.
#include <cstdlib>

#include "core/catalogue.h"
#include "system/layer.h"

namespace {

void* catalogueBlock = nullptr;

void releaseCatalogue() { Common::releaseMessageCatalogue(catalogueBlock); }

struct CatalogueLoader {
  CatalogueLoader() {
    // The operating-system layer is made before this (priority 500); naming it
    // here is what links it into the program.
    [[maybe_unused]] Windows::LayerNT* volatile layer = Windows::layer;
    // A catalogue that is missing, unreadable or of the wrong size ends the
    // process at once: no text could be shown anyway.
    if (!Common::loadMessageCatalogue(Common::catalogueFileName, Common::catalogueTexts,
                                      Common::catalogueTextCount, &catalogueBlock))
      std::abort();
    // Registered first, so it runs last at exit, after every other global that
    // may still hold a catalogue text.
    std::atexit(releaseCatalogue);
  }
};

// Ahead of the default-priority initialisers of every library and of the
// program; priorities below 1000 are left for the operating-system layer,
// which must exist before any file is opened.
__attribute__((init_priority(1000))) CatalogueLoader loader;

}  // namespace
