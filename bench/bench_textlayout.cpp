// Parse + lay out of markup text: the layout engine against Pango (in process,
// the same text with Pango's own markup: bold, italic, colour and font spans),
// both in DejaVu Sans 9, at 300, 600 and 1200 px. Documents: the message box's
// knowledge-base paragraph (~600 characters, a dozen tags) and a ~100 KB
// document of paragraphs with 200 links and a 20x10 table with spans. Also
// the relayout at an unchanged width against the first pass, and how often
// one dialog's measuring questions run a pass.
// Needs an X display for FOX's fonts (run under xvfb-run).
#include <fx.h>
#include <pango/pangoft2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "platform/fox/fx_app.h"
#include "textlayout/layout.h"

namespace {

using clk = std::chrono::steady_clock;

class BenchApp : public FX::FXExtApp {
 public:
  BenchApp() : FXExtApp("kvbench", "kvbench") {}
  bool getSystemDefaultFont(FX::FXint id, FX::FXFontDesc& desc) override {
    if (id < 0 || id > 2) return false;
    std::memset(&desc, 0, sizeof desc);
    std::strcpy(desc.face, "DejaVu Sans");
    desc.size = 90;
    desc.weight = id == 1 ? FX::FXFont::Bold : FX::FXFont::Normal;
    desc.slant = id == 2 ? FX::FXFont::Italic : FX::FXFont::Straight;
    desc.setwidth = FX::FXFont::NonExpanded;
    return true;
  }
};

struct Doc {
  std::string ours, pango;
};

Doc knowledgeBase() {
  Doc d;
  d.ours =
      "<b>The hotfix could not be installed.</b> Windows Installer reported the error "
      "<textcolor value=#c00000>1603</textcolor> while it was writing the files of the product to "
      "<i>C:\\Program Files\\Dovecrest\\Vazedi</i>. Close every program that uses these files and try again. "
      "When the error comes back, the <a href=kb>knowledge-base article</a> explains the usual causes, "
      "and the <a href=log>installation log</a> holds the details the support team asks for. "
      "<font stock=headerfont>Code E00000643</font> identifies this report; quote it when you "
      "<a href=support>contact support</a>. Your settings were <b>not</b> changed and "
      "<i>no files were removed</i>.";
  d.pango =
      "<b>The hotfix could not be installed.</b> Windows Installer reported the error "
      "<span foreground='#c00000'>1603</span> while it was writing the files of the product to "
      "<i>C:\\Program Files\\Dovecrest\\Vazedi</i>. Close every program that uses these files and try again. "
      "When the error comes back, the <span foreground='#0000c0' underline='single'>knowledge-base article</span> "
      "explains the usual causes, and the <span foreground='#0000c0' underline='single'>installation log</span> "
      "holds the details the support team asks for. <span font_desc='DejaVu Sans 14'>Code E00000643</span> "
      "identifies this report; quote it when you <span foreground='#0000c0' underline='single'>contact "
      "support</span>. Your settings were <b>not</b> changed and <i>no files were removed</i>.";
  return d;
}

Doc hundredKilobytes() {
  static const char* const words[] = {"install", "package", "the",     "hotfix", "of",    "system", "files",
                                      "update",  "and",     "version", "to",     "error", "folder", "menu",
                                      "a",       "server",  "window",  "check",  "in",    "product"};
  Doc d;
  unsigned seed = 7;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  int links = 0, paragraph = 0;
  while (d.ours.size() < 100 * 1024) {
    std::string o = "<p>", p;
    for (int w = 0; w < 80; ++w) {
      const std::string word = words[next() % 20];
      const unsigned kind = next() % 40;
      if (kind == 0) o += "<b>" + word + "</b> ", p += "<b>" + word + "</b> ";
      else if (kind == 1) o += "<i>" + word + "</i> ", p += "<i>" + word + "</i> ";
      else if (kind == 2) o += "<textcolor value=#008000>" + word + "</textcolor> ",
                          p += "<span foreground='#008000'>" + word + "</span> ";
      else if (kind == 3 && links < 200) {
        o += "<a href=l" + std::to_string(links) + ">" + word + "</a> ";
        p += "<span foreground='#0000c0' underline='single'>" + word + "</span> ";
        ++links;
      } else o += word + " ", p += word + " ";
    }
    o += "</p>\n";
    p += "\n\n";
    d.ours += o;
    d.pango += p;
    if (++paragraph == 20) {  // the table, once, early in the document
      d.ours += "<table cellpadding=2>";
      for (int r = 0; r < 20; ++r) {
        d.ours += "<tr>";
        for (int c = 0; c < 10; ++c) {
          const bool span = r % 5 == 0 && c % 3 == 0 && c < 9;
          d.ours += span ? "<td colspan=2>" : "<td>";
          d.ours += "cell " + std::to_string(r) + "." + std::to_string(c) + "</td>";
          d.pango += "cell " + std::to_string(r) + "." + std::to_string(c) + (c < 9 ? "\t" : "\n");
          if (span) ++c;
        }
        d.ours += "</tr>";
      }
      d.ours += "</table>\n";
      d.pango += "\n";
    }
  }
  return d;
}

double ms(clk::time_point t) { return std::chrono::duration<double, std::milli>(clk::now() - t).count(); }

using bench::median;

struct Side {
  std::vector<double> first, relayout, again;
};

void oursOnce(FX::FXApp* app, const Doc& d, int width, Side& side, bool cold) {
  if (cold) FXKTextLayout::forgetTextWidths();
  const auto t = clk::now();
  FXKTextLayout layout(app, false);
  layout.create();
  layout.setText(FX::FXWString::fromUtf8(d.ours.c_str()));
  layout.layout(width, 0, false);
  side.first.push_back(ms(t));
  const auto r = clk::now();
  layout.layout(width, 0, false);
  side.relayout.push_back(ms(r));
  // A pass that must run again (the view changed something): lines are
  // broken anew, segments are not measured again.
  layout.invalidateLayout();
  const auto a = clk::now();
  layout.layout(width, 0, false);
  side.again.push_back(ms(a));
}

void pangoOnce(PangoContext* context, const Doc& d, int width, Side& side) {
  const auto t = clk::now();
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_markup(layout, d.pango.c_str(), -1);
  pango_layout_set_width(layout, width * PANGO_SCALE);
  pango_layout_set_wrap(layout, PANGO_WRAP_WORD);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  side.first.push_back(ms(t));
  const auto r = clk::now();
  pango_layout_set_width(layout, width * PANGO_SCALE);  // the same width again
  pango_layout_get_pixel_size(layout, &w, &h);
  side.relayout.push_back(ms(r));
  g_object_unref(layout);
}

}  // namespace

int main(int argc, char** argv) {
  BenchApp app;
  app.init(argc, argv);
  app.create();
  PangoFontMap* map = pango_ft2_font_map_new();
  pango_ft2_font_map_set_resolution(PANGO_FT2_FONT_MAP(map), 96, 96);
  PangoContext* context = pango_font_map_create_context(map);
  PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans 9");
  pango_context_set_font_description(context, font);

  const Doc docs[] = {knowledgeBase(), hundredKilobytes()};
  const char* names[] = {"kb paragraph", "100 KB doc"};
  std::printf("%s: %zu and %zu characters of markup (ours)\n", "documents", docs[0].ours.size(), docs[1].ours.size());
  std::printf("%-13s %5s | %9s %9s %9s %6s %6s | %9s %9s | %9s %9s\n", "document", "width", "ours ms", "cold ms",
              "pango ms", "ratio", "cold", "relayout", "of first", "pass ms", "of first");
  for (int di = 0; di < 2; ++di) {
    const int rounds = di == 0 ? 400 : 12;
    for (int width : {300, 600, 1200}) {
      Side ours, cold, pango;
      for (int batch = 0; batch < 4; ++batch) {  // alternate the sides in batches
        for (int i = 0; i < rounds / 4; ++i) oursOnce(&app, docs[di], width, ours, false);
        for (int i = 0; i < rounds / 4; ++i) pangoOnce(context, docs[di], width, pango);
        for (int i = 0; i < std::max(1, rounds / 40); ++i) oursOnce(&app, docs[di], width, cold, true);
      }
      const double o = median(ours.first), c = median(cold.first), p = median(pango.first);
      const double re = median(ours.relayout), again = median(ours.again);
      std::printf("%-13s %5d | %9.3f %9.3f %9.3f %6.2f %6.2f | %9.4f %8.1f%% | %9.4f %8.1f%%\n", names[di], width, o,
                  c, p, o / p, c / p, re, 100.0 * re / o, again, 100.0 * again / o);
    }
  }

  // What each side made of the documents at 600 px (a check that both did the work).
  for (int di = 0; di < 2; ++di) {
    FXKTextLayout layout(&app, false);
    layout.create();
    layout.setText(FX::FXWString::fromUtf8(docs[di].ours.c_str()));
    layout.layout(600, 0, false);
    PangoLayout* pl = pango_layout_new(context);
    pango_layout_set_markup(pl, docs[di].pango.c_str(), -1);
    pango_layout_set_width(pl, 600 * PANGO_SCALE);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(pl, &w, &h);
    std::printf("%s at 600 px: ours %zu segments, %zu lines, %d x %d px; pango %d lines, %d x %d px\n", names[di],
                layout.segments().size(), layout.lines().size(), layout.getContentWidth(), layout.getContentHeight(),
                pango_layout_get_line_count(pl), w, h);
    g_object_unref(pl);
  }

  // One dialog's measuring questions: minimum, maximum and a few heights, as a
  // message box asks them while it settles its size.
  {
    FXKTextLayout layout(&app, false);
    layout.create();
    layout.setText(FX::FXWString::fromUtf8(docs[0].ours.c_str()));
    for (int round = 0; round < 5; ++round) {
      layout.getMinimumWidth();
      layout.getMaximumWidth();
      for (int w : {300, 420, 600}) layout.getHeightForWidth(w);
      layout.layout(420, 0, false);
    }
    std::printf("dialog sizing: 5 rounds of min/max/3 heights -> %d measuring passes\n", layout.measureCount());
  }
  pango_font_description_free(font);
  g_object_unref(context);
  g_object_unref(map);
  app.destroy();
  return 0;
}
