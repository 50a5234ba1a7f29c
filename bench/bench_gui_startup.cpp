// Start-up to the first mapped top-level window, and to that window drawn,
// whole process against whole process: the install menu against a minimal FOX
// "hello" window (this same program started with --hello). Both are started
// the same way (posix_spawn, a fresh private world each round, the two sides
// taking turns) and stopped with SIGTERM once drawn. "Mapped" is the X
// server's MapNotify on the root; "drawn" is the first moment the window's
// contents are what they finally settle to: the window is read back
// (XGetImage) over and over from the map on, until it has not changed for
// 400 ms, and the time of the first read that already showed the final
// picture counts.
//   bench_gui_startup PROGRAM [ROUNDS]      (under xvfb-run)
#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fx.h>

#include "bench/bench_util.h"

extern char** environ;

namespace {

int hello(int argc, char** argv) {
  FX::FXApp app("hello", "bench");
  app.init(argc, argv);
  auto* window = new FX::FXMainWindow(&app, "hello", nullptr, nullptr, FX::DECOR_ALL, 0, 0, 640, 420);
  new FX::FXLabel(window, "hello", nullptr, FX::LAYOUT_CENTER_X | FX::LAYOUT_CENTER_Y);
  app.create();
  window->show(FX::PLACEMENT_SCREEN);
  return app.run();
}

struct Times {
  double mapped = -1, drawn = -1;
};

// A digest of the window's picture as the server holds it now; 0 when it
// cannot be read.
std::uint64_t pictureDigest(Display* display, Window window) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) return 0;
  XImage* image = XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  if (!image) return 0;
  std::uint64_t h = 1469598103934665603ull ^ (std::uint64_t(attributes.width) << 32 | attributes.height);
  const std::size_t bytes = std::size_t(image->bytes_per_line) * image->height;
  const auto* p = reinterpret_cast<const unsigned char*>(image->data);
  for (std::size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 1099511628211ull;
  XDestroyImage(image);
  return h;
}

// Milliseconds from spawn to the first top-level MapNotify of that start, and
// to the window showing its final picture.
Times once(Display* display, const std::string& program, bool isHello, const std::string& world) {
  std::filesystem::remove_all(world);
  std::filesystem::create_directories(world);
  setenv("KV_WORLD_ROOT", world.c_str(), 1);
  std::vector<char*> argv;
  std::string p = program, flag = "--hello";
  argv.push_back(p.data());
  if (isHello) argv.push_back(flag.data());
  argv.push_back(nullptr);
  while (XPending(display)) {
    XEvent drop;
    XNextEvent(display, &drop);
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto since = [&](Clock::time_point t) { return std::chrono::duration<double, std::milli>(t - start).count(); };
  pid_t child = 0;
  Times times;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return times;
  Window window = 0;
  for (;;) {
    XEvent e;
    XNextEvent(display, &e);
    if (e.type == MapNotify && !e.xmap.override_redirect) {
      times.mapped = since(Clock::now());
      window = e.xmap.window;
      break;
    }
  }
  std::uint64_t last = 0;
  Clock::time_point lastChange = Clock::now();
  for (;;) {
    const Clock::time_point before = Clock::now();
    const std::uint64_t digest = pictureDigest(display, window);
    if (digest != last) {
      last = digest;
      lastChange = before;
    } else if (std::chrono::duration<double, std::milli>(before - lastChange).count() > 400) {
      break;
    }
    if (since(before) > 10000) break;
  }
  times.drawn = since(lastChange);
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  return times;
}

using bench::median;

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--hello") == 0) return hello(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_gui_startup PROGRAM [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "needs an X display (xvfb-run)\n");
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const std::string world = std::filesystem::temp_directory_path().string() + "/bench-gui-startup-" +
                            std::to_string(getpid());
  std::vector<double> menuMapped, menuDrawn, plainMapped, plainDrawn;
  for (int i = 0; i < rounds; ++i) {
    // The sides take turns, each starting first every other round.
    for (int side = 0; side < 2; ++side) {
      const bool hello = (side + i) % 2 == 1;
      const Times t = once(display, hello ? self : argv[1], hello, world);
      (hello ? plainMapped : menuMapped).push_back(t.mapped);
      (hello ? plainDrawn : menuDrawn).push_back(t.drawn);
    }
  }
  std::filesystem::remove_all(world);
  std::printf("%-36s %12s %12s\n", "start-up, ms (median)", "mapped", "drawn");
  std::printf("%-36s %12.1f %12.1f\n", "install menu", median(menuMapped), median(menuDrawn));
  std::printf("%-36s %12.1f %12.1f\n", "minimal FOX hello", median(plainMapped), median(plainDrawn));
  std::printf("%-36s %12.2f %12.2f\n", "ratio", median(menuMapped) / median(plainMapped),
              median(menuDrawn) / median(plainDrawn));
  XCloseDisplay(display);
  return 0;
}
