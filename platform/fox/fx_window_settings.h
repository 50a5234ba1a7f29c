// The settings of one window in a settings store: the toolkit build's
// FXWindowSettings over FOX 1.6's FXSettings. The section is given, or made
// from the window: its class name and the chain of child positions up to its
// top-level window, which stays the same from one run to the next as long as
// the window tree does. Includes FOX.
#pragma once

#include <fx.h>

namespace FX {

class FXWindowSettings {
 public:
  FXWindowSettings(FXSettings* store, const FXString& section) : store_(store), section_(section) {}
  FXWindowSettings(FXSettings* store, const FXWindow* window);

  FXSettings* getStore() const { return store_; }
  const FXString& getSection() const { return section_; }
  // Nothing is read or written without a store or a section.
  bool usable() const { return store_ && !section_.empty(); }

  FXString readStringEntry(const char* key, const FXString& def = FXString::null) const;
  FXint readIntEntry(const char* key, FXint def = 0) const;
  bool writeStringEntry(const char* key, const FXString& value);
  bool writeIntEntry(const char* key, FXint value);
  bool existingEntry(const char* key) const;

  static FXString sectionOf(const FXWindow* window);

 private:
  FXSettings* store_;
  FXString section_;
};

}  // namespace FX
