// executeSync round trip from a worker thread to a running FOX loop, against
// a plain condition-variable hand-off between the same two threads (the GUI
// thread waiting on the condition instead of running the toolkit's loop).
// Needs an X display (run under xvfb-run).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "gui/app/korvane_app.h"

namespace {

constexpr int kRounds = 20000;
int bump(void* p) { return ++*static_cast<int*>(p); }

double fox() {
  FXKorvaneApp app(FXWString(u"bench"), FXWString(u"bench"), nullptr);
  int argc = 1;
  static char name[] = "bench";
  char* argv[] = {name, nullptr};
  app.init(argc, argv);
  app.create();
  int counter = 0;
  std::atomic<bool> done{false};
  double micros = 0;
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) app.executeSync(bump, &counter);  // warm-up
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) app.executeSync(bump, &counter);
    micros = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / kRounds;
    done = true;
    app.wakeUp();
  });
  while (!done) app.runOneEvent();
  worker.join();
  app.destroy();
  return micros;
}

double plain() {
  std::mutex m;
  std::condition_variable cv;
  int (*request)(void*) = nullptr;
  int result = 0, counter = 0;
  bool answered = false, stop = false;
  double micros = 0;
  std::thread worker([&] {
    auto call = [&] {
      std::unique_lock lock(m);
      request = bump;
      answered = false;
      cv.notify_all();
      cv.wait(lock, [&] { return answered; });
      return result;
    };
    for (int i = 0; i < 200; ++i) call();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) call();
    micros = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / kRounds;
    std::lock_guard lock(m);
    stop = true;
    cv.notify_all();
  });
  std::unique_lock lock(m);
  for (;;) {
    cv.wait(lock, [&] { return request || stop; });
    if (stop) break;
    result = request(&counter);
    request = nullptr;
    answered = true;
    cv.notify_all();
  }
  lock.unlock();
  worker.join();
  return micros;
}

}  // namespace

int main() {
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "needs an X display (xvfb-run)\n");
    return 1;
  }
  const double a = fox(), b = plain();
  std::printf("%-44s %10s\n", "round trip from a worker", "us/call");
  std::printf("%-44s %10.2f\n", "FXKorvaneApp::executeSync (FOX loop)", a);
  std::printf("%-44s %10.2f\n", "condition-variable hand-off", b);
  std::printf("%-44s %10.2f\n", "ratio", a / b);
  return 0;
}
