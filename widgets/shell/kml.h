// Reading kml shell markup: the element tree of the product configuration
// whose `kml:menu`, `kml:toolbar`, `kml:item`, `group`, `template` and `font`
// elements describe a shell window's menus, toolbars and items. These are the
// readers the builders share; they make no window, so the markup can be
// checked (and fuzzed) without a display.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/fox/fxwstring.h"
#include "xml/xml_node.h"

class FXKShellItemInfo;

// A font as the markup describes it, in the units of its tables: weights 100
// to 900, slants 0 (any) to 3 (oblique), flags 0x800 antialiased and 0x1000
// not; the size counts in the toolkit's font-description units. Compared as
// bytes by the font cache, so the face is zero after its end.
struct FXKFontDescription {
  char16_t face[49] = {};  // at most 48 characters
  std::uint32_t size = 0;
  std::uint32_t weight = 0;
  std::uint32_t slant = 0;
  std::uint32_t setwidth = 0;
  std::uint32_t encoding = 0;
  std::uint32_t flags = 0;
  void setFace(std::u16string_view text);
  std::u16string_view faceText() const;
};

// What the builders read from an element before they make a widget or item.
struct FXKShellItemDescription {
  std::string verb;  // empty: a separator
  std::int32_t id = 0;
  FX::FXWString title, tip, help;
  std::array<std::string, 4> icons;  // small, medium, large, extra
  std::uint32_t flags = 0;
};

namespace kml {

// "flags" of a command.
enum : std::uint32_t { FLAG_DEFAULT = 1, FLAG_AUTOHIDE = 2, FLAG_TEXT_ALWAYS = 4, FLAG_NO_BROWSER = 8 };
// "flags" of a group.
enum : std::uint32_t { GROUP_COLLAPSED = 2, GROUP_AUTOHIDE = 4 };

extern const xml_flag commandFlags[];
extern const xml_flag groupFlags[];
extern const xml_flag fontWeights[];
extern const xml_flag fontSlants[];
extern const xml_flag fontFlags[];

// Options of the toolkit widgets a command becomes.
std::uint32_t menuCommandOptions(std::uint32_t flags);
std::uint32_t toolbarButtonOptions(std::uint32_t flags);
std::uint32_t toolbarButtonOptionsEx(std::uint32_t flags);

bool isElement(const xml_node* node, const char* name);
bool hasAttribute(const xml_node& node, const char* name);

// The first child of `root` named `element` whose "name" equals `name`.
const xml_node* findNamed(const xml_node* root, const char* element, const FX::FXWString& name);
// The first child named `element` whose "type" equals `type`.
const xml_node* findTyped(const xml_node& node, const char* element, const char16_t* type);

// A command as the shell window reads it: "verb", "title" (else the text of
// the first `title` child of type "small"), "desc" as tip, "help", icons of
// the `kml:icon` children (medium falls back to small, large to medium) and
// "flags". Always true.
bool readItemDescription(const xml_node& element, FXKShellItemDescription& description);

// A command as the menu creator reads it: the "title" attribute wins over the
// first `title` child of any type, "tip" falls back to "help", and only the
// small icon is read.
void readCreatorDescription(const xml_node& element, FXKShellItemDescription& description);

// A size relative to `current` ("+2", "-2") or replacing it ("12"); an empty
// text keeps it.
std::uint32_t signedSize(const FX::FXWString& text, std::uint32_t current);

// Fills a font description from a `font` element, over what `description`
// holds already (the stock font's).
void readFontDescription(const xml_node& element, FXKFontDescription& description);

// Copies an item element into an item info: all its attributes, then its
// children (title, help, description texts; separator; using_selection;
// icons; every other child's attributes under "child:attribute").
void copyItemElement(const xml_node& element, FXKShellItemInfo& info);

// The source element of a template item: the `kml:item` named `name` in the
// root's first `template`; without `template`, the root's first `group`
// whose "name" is `groupKey`.
const xml_node* findTemplateSource(const xml_node* root, const FX::FXWString& name, const FX::FXWString& groupKey);

}  // namespace kml
