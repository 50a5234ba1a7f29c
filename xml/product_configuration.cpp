#include "xml/product_configuration.h"

#include <memory>

#include "core/catalogue.h"
#include "core/resource_archive.h"
#include "files/file_object.h"
#include "xml/xml_node.h"

namespace Common {
namespace {

struct Configuration {
  Configuration() { load(); }
  void load() {
    std::unique_ptr<ri_file> file(openResourceFile(configurationMemberName));
    if (file) document.load(*file);  // a failed load leaves no root
  }
  xml_document document;
};

// Built on first use (the guard of a function-local static also makes a
// first use from two threads at once safe) and destroyed at exit.
Configuration& configuration() {
  static Configuration instance;
  return instance;
}

}  // namespace

xml_document* productConfiguration() {
  xml_document& d = configuration().document;
  return d.root() ? &d : nullptr;
}

const char16_t* lookupConfigString(const char* key) {
  const xml_document* d = productConfiguration();
  return d ? findConfigString(*d, key) : nullptr;
}

const char16_t* getConfigString(const char* key) { return lookupConfigString(key); }

void testing::reloadProductConfiguration() {
  Configuration& c = configuration();
  c.document.set_root(nullptr);
  c.load();
}

}  // namespace Common
