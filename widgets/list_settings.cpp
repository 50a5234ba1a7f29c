#include "widgets/list_settings.h"

using namespace FX;

namespace {
FXString narrow(const FXWString& text) { return FXString(text.toUtf8().c_str()); }

// The parts of "a,b,c," up to the first empty one.
std::vector<FXWString> names(const FXString& value) {
  std::vector<FXWString> out;
  const FXWString wide = FXWString::fromUtf8(value.text());
  for (int i = 0;; ++i) {
    FXWString part = wide.extractPart(u',', i);
    if (part.empty()) break;
    out.push_back(part);
  }
  return out;
}
}  // namespace

void writeListSettings(FXWindowSettings& settings, const FXKHeader& header, const FXKListSettings& state) {
  if (!settings.usable()) return;
  settings.writeStringEntry("ViewStyle", state.viewStyle);
  if (header.getNumItems() == 0) return;
  const FXint sort = header.findColumn(state.sortColumn);
  if (sort >= 0) {
    settings.writeStringEntry("SortColumnN", narrow(header.getColumn(sort)->name));
    settings.writeIntEntry("SortOrder", state.sortOrder);
  }
  const FXint group = header.findColumn(state.groupColumn);
  if (state.grouped && group >= 0) settings.writeStringEntry("GroupColumnN", narrow(header.getColumn(group)->name));
  FXString visible, order;
  for (FXint i = 0; i < header.getNumItems(); ++i) {
    const FXKColumnRecord* r = header.getColumn(i);
    const FXString name = narrow(r->name) + ",";
    order += name;
    if (!(r->flags & FXKColumnRecord::COLUMN_HIDDEN)) visible += name;
  }
  settings.writeStringEntry("ColVis", visible);
  settings.writeStringEntry("ColOrd", order);
}

bool readListSettings(FXWindowSettings& settings, FXKHeader& header, FXKListSettings& state,
                      const std::function<void(const FXString&)>& setViewStyle) {
  if (!settings.usable()) return false;
  if (setViewStyle) setViewStyle(settings.readStringEntry("ViewStyle", state.viewStyle));
  const FXint count = header.getNumItems();
  if (count > 0) {
    FXint p = 0;
    const std::vector<FXWString> order = names(settings.readStringEntry("ColOrd"));
    for (std::size_t i = 0; i < order.size() && static_cast<FXint>(i) < count; ++i) {
      const FXint at = header.findColumnByName(order[i]);
      if (at < 0) continue;
      header.swapColumns(p, at, false);
      ++p;
    }
    const std::vector<FXWString> visible = names(settings.readStringEntry("ColVis"));
    if (!visible.empty()) {
      for (FXint i = 0; i < count; ++i) header.hideColumn(i, false);
      for (const FXWString& name : visible) {
        const FXint at = header.findColumnByName(name);
        if (at >= 0) header.showColumn(at, false);
      }
    }
    header.recalc();
  }
  const FXString sortName = settings.readStringEntry("SortColumnN");
  const FXint sort = sortName.empty() ? -1 : header.findColumnByName(FXWString::fromUtf8(sortName.text()));
  if (sort >= 0) {
    FXKColumnRecord* r = header.getColumn(sort);
    r->sortDirection = settings.readIntEntry("SortOrder", state.sortOrder);
    state.sortColumn = r->key;
    state.sortOrder = r->sortDirection;
  }
  if (state.groupingAllowed) {
    const FXString groupName = settings.readStringEntry("GroupColumnN");
    const FXint group = groupName.empty() ? -1 : header.findColumnByName(FXWString::fromUtf8(groupName.text()));
    if (group >= 0) state.groupColumn = header.getColumn(group)->key;
  }
  return true;
}
