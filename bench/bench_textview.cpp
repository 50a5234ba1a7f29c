// The text view's painting (needs an X display; Xvfb will do).
//
// 1. A full paint of an 800x600 view of plain paragraphs, against FOX's own
//    FXText painting the same text in the same font (DejaVu Sans 9), word
//    wrapped, same size. Each round asks the window to repaint all of itself
//    and waits for the X server to finish; the sides take turns in batches.
//    Goal: at most 1.5x FXText.
// 2. A hover sweep over 200 links: the pointer moves across every line of a
//    text of 200 "flatex" links; counted are the rectangles the view was asked
//    to repaint, against the links whose hover began or ended. Goal: only the
//    links touched are repainted (two rectangles per link: hover on, off).
//
// Usage: bench_textview [rounds]
#include <fx.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "platform/fox/fx_app.h"
#include "textlayout/text_view.h"

using namespace FX;

namespace {

std::string paragraphs() {
  static const char* words[] = {"layout", "of",   "plain",  "paragraphs", "in",   "the",  "text", "view",
                                "measured", "against", "FOX", "own", "widget", "with", "a", "fixed", "font"};
  std::string out;
  unsigned seed = 7;
  for (int p = 0; p < 40; ++p) {
    for (int w = 0; w < 60; ++w) {
      seed = seed * 1103515245u + 12345u;
      out += words[(seed >> 16) % (sizeof words / sizeof *words)];
      out += ' ';
    }
    out += "\n\n";
  }
  return out;
}

double paintRound(FXWindow* w, FXApp* app, int rounds) {
  return bench::best_of(3, [&] {
    for (int i = 0; i < rounds; ++i) {
      w->update();
      w->repaint();
      app->flush(true);
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 50;
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "needs an X display\n");
    return 1;
  }
  FXExtApp app("bench_textview", "kvbench");
  int fargc = 1;
  char name[] = "bench_textview";
  char* fargv[] = {name, nullptr};
  app.init(fargc, fargv);
  auto* font = new FXFont(&app, "DejaVu Sans", 9);
  app.setNormalFont(font);
  auto* mainWindow = new FXMainWindow(&app, "bench", nullptr, nullptr, DECOR_ALL, 0, 0, 1700, 700);
  auto* frame = new FXHorizontalFrame(mainWindow, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
  auto* ours = new FXKTextView(frame, nullptr, 0, LAYOUT_FIX_WIDTH | LAYOUT_FIX_HEIGHT, 0, 0, 800, 600);
  auto* theirs = new FXText(frame, nullptr, 0, TEXT_WORDWRAP | TEXT_READONLY | LAYOUT_FIX_WIDTH | LAYOUT_FIX_HEIGHT, 0,
                            0, 800, 600);
  theirs->setFont(font);
  app.create();
  mainWindow->show(PLACEMENT_DEFAULT);

  const std::string text = paragraphs();
  std::u16string markup;
  for (char c : text) {
    if (c == '\n')
      markup += u"<br/>";
    else
      markup += static_cast<char16_t>(c);
  }
  ours->setText(FXWString(markup));
  theirs->setText(text.c_str(), static_cast<FXint>(text.size()));
  mainWindow->layout();
  for (int i = 0; i < 10; ++i) {
    app.flush(true);
    while (app.peekEvent()) app.runOneEvent(false);
  }

  std::printf("text: %zu characters; FXKTextView %zu lines, %d px high; FXText %d rows\n", text.size(),
              ours->getLayout()->lines().size(), ours->getLayout()->getContentHeight(), theirs->getNumRows());
  // 1. Full paints, sides taking turns.
  std::vector<double> ratios;
  double bestOurs = 1e30, bestTheirs = 1e30;
  for (int batch = 0; batch < 6; ++batch) {
    const bool oursFirst = batch % 2 == 0;
    double a = 0, b = 0;
    if (oursFirst) {
      a = paintRound(ours, &app, rounds);
      b = paintRound(theirs, &app, rounds);
    } else {
      b = paintRound(theirs, &app, rounds);
      a = paintRound(ours, &app, rounds);
    }
    bestOurs = std::min(bestOurs, a);
    bestTheirs = std::min(bestTheirs, b);
    ratios.push_back(a / b);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("full paint 800x600, %d rounds: FXKTextView %.2f ms, FXText %.2f ms per paint; ratio median %.2f (best %.2f)\n",
              rounds, bestOurs * 1000 / rounds, bestTheirs * 1000 / rounds, ratios[ratios.size() / 2],
              bestOurs / bestTheirs);

  // 2. Hover sweep over 200 links.
  std::u16string links;
  for (int i = 0; i < 200; ++i) {
    links += u"<a format=flatex href=link" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) + u">link " +
             std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + u"</a> plain ";
    if (i % 8 == 7) links += u"<br/>";
  }
  ours->setText(FXWString(links));
  mainWindow->layout();
  for (int i = 0; i < 5; ++i) {
    app.flush(true);
    while (app.peekEvent()) app.runOneEvent(false);
  }
  FXKTextLayoutView* layout = ours->getLayout();
  const std::int64_t before = ours->repaintRequests();
  int touched = 0, last = -1;
  for (const auto& l : layout->lines()) {
    const int y = l.bottom - l.height / 2;
    for (int x = 0; x < 800; x += 3) {
      FXEvent ev;
      ev.type = SEL_MOTION;
      ev.win_x = x;
      ev.win_y = y;
      FXint wx = x, wy = y;
      ours->contentToWindow(wx, wy);
      ev.win_x = wx;
      ev.win_y = wy;
      ev.state = 0;
      ours->handle(ours, FXSEL(SEL_MOTION, 0), &ev);
      const int now = layout->hoveredLink_;
      if (now != last && now >= 0) ++touched;
      last = now;
    }
  }
  FXEvent leave;
  leave.type = SEL_LEAVE;
  ours->handle(ours, FXSEL(SEL_LEAVE, 0), &leave);
  const std::int64_t requests = ours->repaintRequests() - before;
  std::printf("hover sweep over %zu links: %d hovers began, %lld rectangles asked to repaint (%.2f per hover)\n",
              layout->links().size() - 1, touched, static_cast<long long>(requests),
              touched ? static_cast<double>(requests) / touched : 0.0);
  app.exit(0);
  return 0;
}
