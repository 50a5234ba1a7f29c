// The description of one shell item: its verb and id (the key under which a
// shell window registers it) and every property read from the markup, as a
// name and a wide text ("title", "help", "file:href", "link:url" ...).
//
// Pulls in no toolkit header.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/fox/fxwstring.h"

class FXKShellItemInfo {
 public:
  FXKShellItemInfo(const std::string& verb, std::int32_t id);
  virtual ~FXKShellItemInfo() = default;

  std::string verb;
  std::int32_t id = 0;
  std::map<std::string, FX::FXWString> attributes;
  bool separator = false;
  bool usesSelection = true;

  // The value, or `fallback` when the item has none.
  FX::FXWString getAttribute(const std::string& name, const FX::FXWString& fallback = FX::FXWString()) const;
  // The value with every unit cut to its low byte.
  std::string getAttributeNarrow(const std::string& name, const std::string& fallback = std::string()) const;
  // Each byte becomes one unit (0-255).
  void setAttribute(const std::string& name, const std::string& value);
  bool hasAttribute(const std::string& name) const { return attributes.count(name) != 0; }
  // The stored value, inserted empty first when absent.
  FX::FXWString& attribute(const std::string& name) { return attributes[name]; }
};
