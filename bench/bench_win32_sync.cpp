// Cost of the layer's synchronisation against the C++ library's:
// critical sections against std::recursive_mutex (uncontended, recursive,
// contended), and an event hand-over between two threads against a
// std::condition_variable ping-pong.
//
//   bench_win32_sync [MILLION_OPS]      (default 10)
//
// Goal: a critical section no slower than std::recursive_mutex.
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

using bench::contended;
using bench::ns_per_op;
const auto row = bench::ratio_row;

}  // namespace

int main(int argc, char** argv) {
  long n = (argc > 1 ? std::atol(argv[1]) : 10) * 1000000L;
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  std::recursive_mutex rm;
  volatile long sink = 0;

  // glibc skips atomics while a process has never had a second thread; real
  // programs have several, so measure in that state.
  std::thread([] {}).join();
  // Warm the clock and the caches before the first figure.
  ns_per_op(n, [&] {
    for (long i = 0; i < n; ++i) {
      EnterCriticalSection(&cs);
      rm.lock();
      sink = sink + 1;
      rm.unlock();
      LeaveCriticalSection(&cs);
    }
  });
  std::printf("%-34s %12s %12s\n", "", "layer", "std");
  row("enter+leave, uncontended",
      ns_per_op(n, [&] {
        for (long i = 0; i < n; ++i) {
          EnterCriticalSection(&cs);
          sink = sink + 1;
          LeaveCriticalSection(&cs);
        }
      }),
      ns_per_op(n, [&] {
        for (long i = 0; i < n; ++i) {
          rm.lock();
          sink = sink + 1;
          rm.unlock();
        }
      }));
  row("enter+leave, one level deeper",
      ns_per_op(n, [&] {
        EnterCriticalSection(&cs);
        for (long i = 0; i < n; ++i) {
          EnterCriticalSection(&cs);
          sink = sink + 1;
          LeaveCriticalSection(&cs);
        }
        LeaveCriticalSection(&cs);
      }),
      ns_per_op(n, [&] {
        rm.lock();
        for (long i = 0; i < n; ++i) {
          rm.lock();
          sink = sink + 1;
          rm.unlock();
        }
        rm.unlock();
      }));
  for (int threads : {2, 4, 8}) {
    char label[64];
    std::snprintf(label, sizeof label, "contended, %d threads", threads);
    long per = n / threads / 4;
    row(label, contended(threads, per, [&] { EnterCriticalSection(&cs); }, [&] { LeaveCriticalSection(&cs); }),
        contended(threads, per, [&] { rm.lock(); }, [&] { rm.unlock(); }));
  }

  // Ping-pong: two auto-reset events against a condition variable pair.
  long rounds = n / 100;
  HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, nullptr), pong = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  double ours = ns_per_op(rounds, [&] {
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
  std::mutex m;
  std::condition_variable cv;
  int turn = 0;
  double theirs = ns_per_op(rounds, [&] {
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
  row("event ping-pong round trip", ours, theirs);
  CloseHandle(ping);
  CloseHandle(pong);
  DeleteCriticalSection(&cs);
  return 0;
}
