// The layout markup parser on arbitrary UTF-8 text: it never fails, and the
// model it builds is consistent: every segment, line, block, run, link and
// anchor lies inside the text, each object marker has its object, and the
// plain text carries no marker characters. A layout pass at a few widths runs
// on the result (no display: widths are estimates).
#include <fx.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "platform/fox/fx_app.h"
#include "textlayout/layout.h"

namespace {

FX::FXExtApp& app() {
  static FX::FXExtApp* instance = new FX::FXExtApp("kvfuzz", "kvfuzz");
  return *instance;
}

void check(FXKTextLayout& layout) {
  const FX::FXWString& text = layout.text();
  const int n = text.length();
  int objects = 0;
  for (int i = 0; i < n; ++i) {
    if (text[i] != TextMarker::kObject) continue;
    ++objects;
    FUZZ_CHECK(layout.objectAt(i) != nullptr);
  }
  FUZZ_CHECK(objects == static_cast<int>(layout.objects().size()));
  int previousEnd = 0;
  for (const auto& s : layout.segments()) {
    FUZZ_CHECK(0 <= s.start && s.start <= s.end && s.end <= n);
    FUZZ_CHECK(s.start >= previousEnd);
    previousEnd = s.end;
  }
  const int segments = static_cast<int>(layout.segments().size());
  for (const auto& l : layout.lines()) FUZZ_CHECK(0 <= l.firstSegment && l.lastSegment < segments);
  for (const auto& [pos, style] : layout.runs()) FUZZ_CHECK(0 <= pos && pos <= n + 1);
  for (std::size_t i = 1; i < layout.links().size(); ++i) {
    const auto& e = layout.links()[i];
    FUZZ_CHECK(0 <= e.start && e.start <= n && e.end <= n && (e.end == -1 || e.end >= 0));
  }
  for (const auto& e : layout.anchors()) FUZZ_CHECK(0 <= e.start && e.start <= n && 0 <= e.end && e.end <= n);
  auto blocks = [&](auto& self, const FXKTextLayout::block& b) -> void {
    FUZZ_CHECK(0 <= b.textStart && b.textStart <= n && b.textEnd <= n);
    for (const auto& c : b.children) self(self, c);
  };
  blocks(blocks, layout.root());
  const FX::FXWString plain = layout.allText();
  for (int i = 0; i < plain.length(); ++i)
    FUZZ_CHECK(plain[i] != TextMarker::kBlock && plain[i] != TextMarker::kObject);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) return 0;
  const FX::FXWString markup = FX::FXWString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
  FXKTextLayout layout(&app(), (size & 1) != 0);
  FUZZ_CHECK(layout.setText(markup));
  check(layout);
  for (int width : {0, 120, 0x7FFFFFFF}) {
    layout.layout(width, 0, false);
    check(layout);
  }
  layout.getHeightForWidth(300);
  return 0;
}
