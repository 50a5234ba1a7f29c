// A message box from request to first paint (needs an X display; Xvfb will
// do): the program's FXKMessageBox against FOX's own FXMessageBox with the
// same caption, text and OK button, in one application. Each request builds
// the box, creates and shows it, waits until the X server has mapped it and
// the paint is done, then hides, destroys and deletes it (clean-up included).
// The sides take turns in batches. Goal: at most 1.5x FXMessageBox.
//
// Usage: bench_message_box [batches] [per-batch]
#include <fx.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_util.h"
#include "gui/app/korvane_app.h"
#include "widgets/dialogs/message_box.h"

using namespace FX;

namespace FX {
extern const unsigned char erroricon[];
}

namespace {
const char kText[] = "The installation files could not be copied. The disk may be full.";

// The box is on the screen and painted.
void untilPainted(FXApp* app) {
  app->flush(true);
  app->runWhileEvents();
  app->repaint();
  app->flush(true);
}

double oursOnce(FXKorvaneApp* app, FXWindow* owner) {
  const auto t = bench::clock_type::now();
  FXKMessageBox::Options o;
  o.owner = owner;
  o.flags = 1;
  o.caption = FXWString(u"Vazedi for Dovecrest 2013");
  o.text = FXWString::fromUtf8(kText);
  o.buttons = FXKMessageBox::BUTTON_OK;
  FXKMessageBox* box = FXKMessageBox::create(o);
  box->FXDialogBox::create();
  box->FXDialogBox::show(PLACEMENT_SCREEN);
  untilPainted(app);
  box->hide();
  box->destroy();
  delete box;
  app->flush(true);
  return bench::seconds_since(t);
}

double foxOnce(FXApp* app, FXWindow* owner) {
  const auto t = bench::clock_type::now();
  auto* box = new FXMessageBox(owner, "Vazedi for Dovecrest 2013", kText, new FXGIFIcon(app, FX::erroricon), MBOX_OK);
  box->create();
  box->show(PLACEMENT_SCREEN);
  untilPainted(app);
  box->hide();
  delete box->getIcon();
  box->destroy();
  delete box;
  app->flush(true);
  return bench::seconds_since(t);
}

using bench::median;
}  // namespace

int main(int argc, char** argv) {
  const int batches = argc > 1 ? std::atoi(argv[1]) : 10;
  const int perBatch = argc > 2 ? std::atoi(argv[2]) : 20;
  if (!std::getenv("DISPLAY")) {
    std::puts("bench_message_box: no X display (run under xvfb-run)");
    return 0;
  }
  FXKorvaneApp app(FXWString(u"kvbench"), FXWString(u"kvbench"), nullptr);
  int ac = 1;
  char name[] = "kvbench";
  char* av[] = {name, nullptr};
  app.init(ac, av);
  auto* main = new FXMainWindow(&app, "main", nullptr, nullptr, DECOR_ALL, 0, 0, 300, 200);
  app.setMainWindow(main);
  app.create();
  main->show(PLACEMENT_SCREEN);
  // Warm-up: fonts, icons and the first layout of each kind.
  for (int i = 0; i < 5; ++i) oursOnce(&app, main), foxOnce(&app, main);
  std::vector<double> ours, fox;
  for (int b = 0; b < batches; ++b) {
    const bool oursFirst = b % 2 == 0;
    for (int side = 0; side < 2; ++side) {
      const bool runOurs = (side == 0) == oursFirst;
      for (int i = 0; i < perBatch; ++i) (runOurs ? ours : fox).push_back(runOurs ? oursOnce(&app, main) : foxOnce(&app, main));
    }
  }
  const double m1 = median(ours), m2 = median(fox);
  std::printf("message box, request to first paint (median of %zu): FXKMessageBox %.3f ms, FXMessageBox %.3f ms, "
              "ratio %.2fx (goal <= 1.5x)\n",
              ours.size(), m1 * 1e3, m2 * 1e3, m1 / m2);
  app.destroy();
  return 0;
}
