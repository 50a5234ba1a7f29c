// A product's or patch's registration as the engine keeps it: one
// REG_MULTI_SZ value of "Name=value" texts, so that registering writes (and
// syncs) the store once. The value is read back from the store, where anyone
// may have written anything: the parser takes any bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/msi/engine.h"

namespace msi_engine {

struct Registration {
  // In stored order; a name may repeat (File, Folder, Feature, Component).
  std::vector<std::pair<std::u16string, std::u16string>> entries;

  // The first entry of that name.
  std::optional<std::u16string> attr(std::u16string_view name) const;
  // Every entry of that name, in order.
  std::vector<std::u16string> all(std::u16string_view name) const;
  void add(std::u16string name, std::u16string value) { entries.emplace_back(std::move(name), std::move(value)); }
};

// The entries of a stored block: texts separated by NUL units (an odd last
// byte is dropped); empty texts and texts without '=' or with an empty name
// are no entries.
Registration parse_registration(const void* data, std::size_t bytes);
// The REG_MULTI_SZ block of the entries (ending in two NULs). An entry whose
// name holds '=' or whose name or value holds a NUL cannot be stored and is
// left out.
std::u16string registration_block(const Registration& registration);

// "Feature=<state>,<name>" and "Component=<state>,<component id>,<key path>":
// the state is the installer's INSTALLSTATE in decimal; the key path is the
// rest of the text, so it may hold anything.
struct FeatureRecord {
  int state = INSTALLSTATE_UNKNOWN;
  std::u16string name;
};
struct ComponentRecord {
  int state = INSTALLSTATE_UNKNOWN;
  std::u16string id;
  std::u16string keyPath;
};
std::u16string feature_entry(const FeatureRecord& feature);
std::u16string component_entry(const ComponentRecord& component);
// Null unless the text has the form above with a state of -7 to 7 and a
// non-empty name or id.
std::optional<FeatureRecord> parse_feature(std::u16string_view text);
std::optional<ComponentRecord> parse_component(std::u16string_view text);

}  // namespace msi_engine
