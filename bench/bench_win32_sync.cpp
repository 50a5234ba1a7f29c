// Cost of the layer's synchronisation against the C++ library's:
// critical sections against std::recursive_mutex (uncontended, recursive,
// contended; medians of five batches), and an event hand-over between two
// threads against a std::condition_variable ping-pong; wall-clock and CPU time.
//
//   bench_win32_sync [MILLION_OPS]      (default 10)
//
// Goal: a critical section no slower than std::recursive_mutex.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/windows.h"
#include "bench/bench_util.h"

namespace {

using bench::cost_per_op;

}  // namespace

int main(int argc, char** argv) {
  long n = (argc > 1 ? std::atol(argv[1]) : 10) * 1000000L;
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  bench::compare_with_recursive_mutex("layer", "enter+leave", n, [&] { EnterCriticalSection(&cs); },
                                      [&] { LeaveCriticalSection(&cs); });

  // Ping-pong: two auto-reset events against a condition variable pair, in
  // seven batches each, the side that goes first alternating; medians. Both
  // sides start their partner thread inside the timing.
  const long rounds = n / 100 / 7;
  HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, nullptr), pong = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  auto events = [&] {
    return cost_per_op(rounds, [&] {
      std::thread t([&] {
        for (long i = 0; i < rounds; ++i) {
          WaitForSingleObject(ping, INFINITE);
          SetEvent(pong);
        }
      });
      for (long i = 0; i < rounds; ++i) {
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
      }
      t.join();
    });
  };
  std::mutex m;
  std::condition_variable cv;
  int turn = 0;
  auto condvar = [&] {
    return cost_per_op(rounds, [&] {
      std::thread t([&] {
        for (long i = 0; i < rounds; ++i) {
          std::unique_lock<std::mutex> l(m);
          cv.wait(l, [&] { return turn == 1; });
          turn = 0;
          cv.notify_all();
        }
      });
      for (long i = 0; i < rounds; ++i) {
        std::unique_lock<std::mutex> l(m);
        turn = 1;
        cv.notify_all();
        cv.wait(l, [&] { return turn == 0; });
      }
      t.join();
    });
  };
  std::vector<double> ow, oc, tw, tc;
  for (int b = 0; b < 7; ++b) {
    bench::cost o, t;
    if (b % 2 == 0) {
      o = events();
      t = condvar();
    } else {
      t = condvar();
      o = events();
    }
    ow.push_back(o.wall);
    oc.push_back(o.cpu);
    tw.push_back(t.wall);
    tc.push_back(t.cpu);
  }
  using bench::median;
  const bench::cost ours{median(ow), median(oc)}, theirs{median(tw), median(tc)};
  std::printf("\n%-30s %8s %8s %6s   %8s %8s %6s\n", "", "events", "condvar", "ratio", "events", "condvar", "ratio");
  bench::cost_row("ping-pong round trip", ours, theirs);
  CloseHandle(ping);
  CloseHandle(pong);
  DeleteCriticalSection(&cs);
  return 0;
}
