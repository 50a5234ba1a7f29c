// Start-up to the first mapped top-level window, whole process against whole
// process: the install menu against a minimal FOX "hello" window (this same
// program started with --hello). Both are started the same way (posix_spawn,
// a fresh private world each round) and stopped with SIGTERM once mapped; the
// time is taken from the spawn to the X server's MapNotify on the root.
//   bench_gui_startup PROGRAM [ROUNDS]      (under xvfb-run)
#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

// Milliseconds from spawn to the first top-level MapNotify of that start.
double once(Display* display, const std::string& program, bool isHello, const std::string& world) {
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
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  double ms = -1;
  for (;;) {
    XEvent e;
    XNextEvent(display, &e);
    if (e.type == MapNotify && !e.xmap.override_redirect) {
      ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      break;
    }
  }
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  return ms;
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
  std::vector<double> menu, plain;
  for (int i = 0; i < rounds; ++i) {
    menu.push_back(once(display, argv[1], false, world));
    plain.push_back(once(display, self, true, world));
  }
  std::filesystem::remove_all(world);
  const double a = median(menu), b = median(plain);
  std::printf("%-40s %10s\n", "start-up to the first mapped window", "ms (median)");
  std::printf("%-40s %10.1f\n", "install menu", a);
  std::printf("%-40s %10.1f\n", "minimal FOX hello", b);
  std::printf("%-40s %10.2f\n", "ratio", a / b);
  XCloseDisplay(display);
  return 0;
}
