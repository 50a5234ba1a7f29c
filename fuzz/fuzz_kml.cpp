// kml shell markup on arbitrary text or binary XML: every element of the
// tree is read as a command (both readings), an item (attributes and
// children copied into an item description) and a font, and looked up as
// top-level and template elements. Nothing may crash or hang, and what the
// readers produce stays in bounds: a face of at most 48 characters with
// zeros after it, icons that fall back in order, every copied name present.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "widgets/shell/kml.h"
#include "widgets/shell/shell_items.h"
#include "xml/xml_node.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  xml_document document;
  if (!document.load_memory(data, size) || !document.root()) return 0;
  const xml_node* root = document.root();
  std::vector<const xml_node*> pending{root};
  while (!pending.empty()) {
    const xml_node* node = pending.back();
    pending.pop_back();
    for (const xml_node* child : node->children()) pending.push_back(child);

    FXKShellItemDescription window, creator;
    FUZZ_CHECK(kml::readItemDescription(*node, window));
    kml::readCreatorDescription(*node, creator);
    if (window.icons[0].empty() && !kml::findTyped(*node, "kml:icon", u"medium"))
      FUZZ_CHECK(window.icons[1].empty());
    if (!kml::findTyped(*node, "kml:icon", u"large")) FUZZ_CHECK(window.icons[2] == window.icons[1]);
    (void)kml::menuCommandOptions(window.flags);
    (void)kml::toolbarButtonOptions(window.flags);
    FUZZ_CHECK((kml::toolbarButtonOptionsEx(creator.flags) & ~0x60u) == 0);

    FXKFontDescription font;
    font.setFace(u"Sans");
    font.size = 90;
    kml::readFontDescription(*node, font);
    const std::size_t face = font.faceText().size();
    FUZZ_CHECK(face <= 48);
    for (std::size_t i = face; i < 49; ++i) FUZZ_CHECK(font.face[i] == u'\0');

    FXKShellItemInfo info(window.verb, static_cast<std::int32_t>(node->attribute_uint("id", 0)));
    kml::copyItemElement(*node, info);
    for (const auto& [name, value] : node->attributes()) FUZZ_CHECK(info.hasAttribute(std::string(name)));
    FUZZ_CHECK(info.hasAttribute("verb") && info.hasAttribute("id"));
    (void)info.getAttributeNarrow("title");

    const FX::FXWString name = node->attribute_text("name", FX::FXWString());
    (void)kml::findNamed(root, "kml:menu", name);
    (void)kml::findNamed(root, "group", name);
    (void)kml::findTemplateSource(root, name, node->attribute_text("verb", FX::FXWString()));
  }
  return 0;
}
