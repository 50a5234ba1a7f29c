#include "widgets/shell/kml.h"

using FX::FXWString;

#include <algorithm>
#include <cstring>

#include "widgets/shell/shell_items.h"

void FXKFontDescription::setFace(std::u16string_view text) {
  std::fill(std::begin(face), std::end(face), u'\0');
  const std::size_t n = std::min<std::size_t>(text.size(), 48);
  std::copy_n(text.data(), n, face);
  // A face ends at its first zero: what follows stays zero for the cache.
  if (const char16_t* end = std::find(face, face + n, u'\0'); end != face + n)
    std::fill(face + (end - face), std::end(face), u'\0');
}

std::u16string_view FXKFontDescription::faceText() const {
  return std::u16string_view(face, static_cast<std::size_t>(std::find(face, face + 48, u'\0') - face));
}

namespace kml {

const xml_flag commandFlags[] = {
    {FLAG_DEFAULT, "default"}, {FLAG_AUTOHIDE, "autohide"}, {FLAG_TEXT_ALWAYS, "text_always"},
    {FLAG_NO_BROWSER, "no_browser"}, {0, nullptr}};
const xml_flag groupFlags[] = {{GROUP_COLLAPSED, "collapsed"}, {GROUP_AUTOHIDE, "autohide"}, {0, nullptr}};
const xml_flag fontWeights[] = {{100, "thin"},     {200, "extralight"}, {300, "light"},     {400, "normal"},
                                {400, "regular"},  {500, "medium"},     {600, "demibold"},  {700, "bold"},
                                {800, "extrabold"}, {900, "heavy"},     {900, "black"},     {0, nullptr}};
// "dontcare" is 0 and so adds nothing: it needs no entry.
const xml_flag fontSlants[] = {{1, "regular"}, {2, "italic"}, {3, "oblique"}, {0, nullptr}};
const xml_flag fontFlags[] = {{0x800, "antialiased"}, {0x1000, "nonantialiased"}, {0, nullptr}};

std::uint32_t menuCommandOptions(std::uint32_t flags) {
  std::uint32_t options = 0x4000000;
  if (flags & FLAG_DEFAULT) options |= 0x10000000;
  if (flags & FLAG_AUTOHIDE) options |= 0x20000000;
  return options;
}

std::uint32_t toolbarButtonOptions(std::uint32_t flags) { return (flags & FLAG_AUTOHIDE) ? 0x3202000 : 0x2202000; }

std::uint32_t toolbarButtonOptionsEx(std::uint32_t flags) {
  std::uint32_t ex = 0;
  if (flags & FLAG_TEXT_ALWAYS) ex |= 0x40;
  if (flags & FLAG_NO_BROWSER) ex |= 0x20;
  return ex;
}

bool isElement(const xml_node* node, const char* name) { return node && node->name() == name; }

bool hasAttribute(const xml_node& node, const char* name) {
  return node.attributes().find(name) != node.attributes().end();
}

const xml_node* findNamed(const xml_node* root, const char* element, const FXWString& name) {
  return root ? root->find_child_by_attribute(element, "name", name) : nullptr;
}

const xml_node* findTyped(const xml_node& node, const char* element, const char16_t* type) {
  return node.find_child_by_attribute(element, "type", FXWString(type));
}

namespace {

std::string iconHref(const xml_node& element, const char16_t* type) {
  const xml_node* icon = findTyped(element, "kml:icon", type);
  return icon ? icon->attribute_string("href", "") : std::string();
}

}  // namespace

bool readItemDescription(const xml_node& element, FXKShellItemDescription& d) {
  if (hasAttribute(element, "verb")) d.verb = element.attribute_string("verb", "");
  if (hasAttribute(element, "title")) {
    d.title = element.attribute_text("title", FXWString());
  } else {
    const xml_node* title = findTyped(element, "title", u"small");
    d.title = title ? title->text() : FXWString();
  }
  if (hasAttribute(element, "desc")) d.tip = element.attribute_text("desc", FXWString());
  if (hasAttribute(element, "help")) d.help = element.attribute_text("help", FXWString());
  d.icons[0] = iconHref(element, u"small");
  d.icons[1] = findTyped(element, "kml:icon", u"medium") ? iconHref(element, u"medium") : d.icons[0];
  d.icons[2] = findTyped(element, "kml:icon", u"large") ? iconHref(element, u"large") : d.icons[1];
  d.flags = element.attribute_flags("flags", commandFlags, 0);
  return true;
}

void readCreatorDescription(const xml_node& element, FXKShellItemDescription& d) {
  d.verb = element.attribute_string("verb", "");
  if (hasAttribute(element, "title")) {
    d.title = element.attribute_text("title", FXWString());
  } else {
    const xml_node* title = element.find_child("title");
    d.title = title ? title->text() : FXWString();
  }
  d.help = element.attribute_text("help", FXWString());
  d.tip = element.attribute_text("tip", d.help);
  d.icons[0] = iconHref(element, u"small");
  d.flags = element.attribute_flags("flags", commandFlags, 0);
}

std::uint32_t signedSize(const FXWString& text, std::uint32_t current) {
  if (text.empty()) return current;
  const char16_t sign = text[0];
  if (sign == u'+' || sign == u'-') {
    const std::uint32_t n = FX::FXUIntVal(text.mid(1, text.length() - 1), 10);
    // A size never goes below zero (nor wraps round to a huge one).
    if (sign == u'-') return n > current ? 0 : current - n;
    return current + n > current ? current + n : current;
  }
  return FX::FXUIntVal(text, 10);
}

void readFontDescription(const xml_node& element, FXKFontDescription& d) {
  if (hasAttribute(element, "face")) d.setFace(element.attribute_text("face", FXWString()).str());
  d.size = signedSize(element.attribute_text("size", FXWString()), d.size);
  d.weight = element.attribute_flags("weight", fontWeights, d.weight);
  d.slant = element.attribute_flags("slant", fontSlants, d.slant);
  d.flags = element.attribute_flags("flags", fontFlags, d.flags);
}

namespace {

void copyPrefixed(const xml_node& child, FXKShellItemInfo& info) {
  for (const auto& [name, value] : child.attributes())
    info.attributes[std::string(child.name()) + ":" + std::string(name)] = FXWString(std::u16string_view(value));
}

}  // namespace

void copyItemElement(const xml_node& element, FXKShellItemInfo& info) {
  for (const auto& [name, value] : element.attributes())
    info.attributes[std::string(name)] = FXWString(std::u16string_view(value));
  for (const xml_node* child : element.children()) {
    const xml_name& n = child->name();
    if (n == "title") {
      info.attributes["title"] = child->text();
      copyPrefixed(*child, info);
    } else if (n == "help") {
      info.attributes["help"] = child->text();
      copyPrefixed(*child, info);
    } else if (n == "description") {
      info.attributes["desc"] = child->text();
      copyPrefixed(*child, info);
    } else if (n == "separator") {
      info.separator = true;
      copyPrefixed(*child, info);
    } else if (n == "using_selection") {
      info.usesSelection = false;
    } else if (n == "icon") {
      const FXWString type = child->attribute_text("type", FXWString());
      const FXWString href = child->attribute_text("href", FXWString());
      if (type.str() == u"small")
        info.attributes["icon_small"] = href;
      else if (type.str() == u"large")
        info.attributes["icon_large"] = href;
      else if (type.str() == u"extra")
        info.attributes["icon_extra"] = href;
    } else {
      copyPrefixed(*child, info);
    }
  }
}

const xml_node* findTemplateSource(const xml_node* root, const FXWString& name, const FXWString& groupKey) {
  if (!root) return nullptr;
  if (const xml_node* templ = root->find_child("template")) return findNamed(templ, "kml:item", name);
  return findNamed(root, "group", groupKey);
}

}  // namespace kml
