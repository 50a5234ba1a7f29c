// Test helpers of the text layout: one application per test process whose
// stock fonts are DejaVu Sans (installed with fonts-dejavu-core), so text
// widths are the same on every machine, and a readable dump of a layout.
#pragma once

#include <fx.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/fox/fx_app.h"
#include "platform/fox/fx_test_display.h"
#include "textlayout/layout.h"

namespace layout_testing {

class TestApp : public FX::FXExtApp {
 public:
  TestApp() : FXExtApp("kvlayouttest", "kvtest") {
    registerSystemAtom(AtomColor, 30, "korvblue");
    registerSystemAtom(AtomFont, 20, "headerfont");
  }
  bool getSystemDefaultFont(FX::FXint id, FX::FXFontDesc& desc) override {
    if (id != 0 && id != 1 && id != 2 && id != 20) return false;
    std::memset(&desc, 0, sizeof desc);
    std::strcpy(desc.face, "DejaVu Sans");
    desc.size = id == 20 ? 140 : 90;
    desc.weight = id == 1 || id == 20 ? FX::FXFont::Bold : FX::FXFont::Normal;
    desc.slant = id == 2 ? FX::FXFont::Italic : FX::FXFont::Straight;
    desc.setwidth = FX::FXFont::NonExpanded;
    desc.encoding = FX::FONTENCODING_DEFAULT;
    return true;
  }
  bool getSystemDefaultColor(FX::FXint id, FX::FXColor& color) override {
    if (id == 30) {
      color = FXRGBA(0, 67, 157, 255);
      return true;
    }
    return FXExtApp::getSystemDefaultColor(id, color);
  }
};

// The process's application; with `display` it is initialised and created
// (null when there is no X display).
inline TestApp* app(bool display) {
  static TestApp* instance = new TestApp;
  static bool opened = false;
  if (display && !opened) {
    if (!FX::holdTestDisplay()) return nullptr;
    static int argc = 1;
    static char name[] = "kvlayouttest";
    static char* argv[] = {name, nullptr};
    instance->init(argc, argv);
    instance->create();
    opened = true;
  }
  return instance;
}

inline std::string hex(unsigned v) {
  char b[16];
  std::snprintf(b, sizeof b, "%x", v);
  return b;
}

// The text with visible markers: \n for a hard break, | for U+2028, @ for an
// object, {xxxx} for other characters outside printable ASCII.
inline std::string visible(const FX::FXWString& text) {
  std::string out;
  for (int i = 0; i < text.length(); ++i) {
    const char16_t c = text[i];
    if (c == u'\n') out += "\\n";
    else if (c == TextMarker::kBlock) out += "|";
    else if (c == TextMarker::kObject) out += "@";
    else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
    else out += "{" + hex(c) + "}";
  }
  return out;
}

inline void dumpBlock(const FXKTextLayout::block& b, std::string& out) {
  out += "[" + std::to_string(b.id) + ":" + hex(b.flags) + " " + std::to_string(b.textStart) + "-" +
         std::to_string(b.textEnd);
  for (const auto& c : b.children) {
    out += " ";
    dumpBlock(c, out);
  }
  out += "]";
}

// text / runs (position:flags) / blocks / links / anchors / tooltips.
inline std::string dump(const FXKTextLayout& layout) {
  std::string out = "\"" + visible(layout.text()) + "\" runs";
  for (const auto& [pos, s] : layout.runs()) out += " " + std::to_string(pos) + ":" + hex(s.flags);
  out += " blocks ";
  dumpBlock(layout.root(), out);
  out += " links";
  for (std::size_t i = 1; i < layout.links().size(); ++i) {
    const auto& l = layout.links()[i];
    out += " " + std::to_string(l.start) + "-" + std::to_string(l.end);
  }
  out += " anchors";
  for (std::size_t i = 1; i < layout.anchors().size(); ++i) {
    const auto& a = layout.anchors()[i];
    out += " " + a.name.toUtf8() + "@" + std::to_string(a.start) + "-" + std::to_string(a.end);
  }
  for (const auto& [key, t] : layout.tooltips()) out += " tip " + key.toUtf8() + "=" + visible(t->text);
  return out;
}

}  // namespace layout_testing
