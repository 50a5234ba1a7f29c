// The look-up of a named configuration string, apart from the process-wide
// document so that tools can use it on a document of their own.
#include <string>

#include "xml/product_configuration.h"
#include "xml/xml_node.h"

namespace Common {

const char16_t* findConfigString(const xml_document& document, const char* key) {
  const xml_node* root = document.root();
  if (!root || !key) return nullptr;
  std::u16string wide;
  for (const char* p = key; *p; ++p) wide.push_back(static_cast<unsigned char>(*p));
  for (const xml_node* child : root->children()) {
    if (child->name() != "string") continue;
    const auto name = child->attributes().find("name");
    if (name == child->attributes().end() || name->second != wide) continue;
    return child->pieces().empty() ? u"" : child->pieces().front().c_str();
  }
  return nullptr;
}

}  // namespace Common
