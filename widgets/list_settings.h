// What an icon list remembers in its window's settings section: the view
// style, the sort and group columns, and the order and visibility of its
// header columns, all by column name. Includes FOX.
#pragma once

#include <functional>

#include "platform/fox/fx_window_settings.h"
#include "widgets/header.h"

struct FXKListSettings {
  FX::FXString viewStyle;  // the current style's name
  FX::FXint sortColumn = 0;
  FX::FXint sortOrder = 1;
  bool grouped = false;
  FX::FXint groupColumn = 0x7FFFFFFF;
  bool groupingAllowed = false;
};

// Nothing without a store or section.
void writeListSettings(FX::FXWindowSettings& settings, const FXKHeader& header, const FXKListSettings& state);
// False without a store or section. The view style read is handed to
// `setViewStyle` (which takes only allowed styles); columns are reordered and
// shown or hidden on the header without notification.
bool readListSettings(FX::FXWindowSettings& settings, FXKHeader& header, FXKListSettings& state,
                      const std::function<void(const FX::FXString&)>& setViewStyle);
