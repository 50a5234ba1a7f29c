// Cost of the system's recursive lock against std::recursive_mutex:
// uncontended, one level deeper (recursive), and contended by 2, 4 and 8 threads
// with a short critical section (medians of five batches).
//
//   bench_locks [MILLION_OPS]      (default 10)
//
// Goal: Common::RecursiveLock no slower than std::recursive_mutex.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "system/locks.h"
#include "bench/bench_util.h"

namespace {

using bench::contended;
using bench::ns_per_op;
const auto row = bench::ratio_row;

Common::RecursiveLock staticLock;  // zero-initialised, as the libraries' locks are

}  // namespace

int main(int argc, char** argv) {
  long n = (argc > 1 ? std::atol(argv[1]) : 10) * 1000000L;
  std::recursive_mutex rm;
  Common::RecursiveLock& rl = staticLock;
  volatile long sink = 0;

  // glibc skips atomics while a process has never had a second thread.
  std::thread([] {}).join();
  ns_per_op(n, [&] {
    for (long i = 0; i < n; ++i) {
      rl.lock();
      rm.lock();
      sink = sink + 1;
      rm.unlock();
      rl.unlock();
    }
  });
  std::printf("%-34s %12s %12s\n", "", "Recursive", "std");
  row("lock+unlock, uncontended",
      ns_per_op(n, [&] {
        for (long i = 0; i < n; ++i) {
          rl.lock();
          sink = sink + 1;
          rl.unlock();
        }
      }),
      ns_per_op(n, [&] {
        for (long i = 0; i < n; ++i) {
          rm.lock();
          sink = sink + 1;
          rm.unlock();
        }
      }));
  row("lock+unlock, one level deeper",
      ns_per_op(n, [&] {
        rl.lock();
        for (long i = 0; i < n; ++i) {
          rl.lock();
          sink = sink + 1;
          rl.unlock();
        }
        rl.unlock();
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
  // Contended figures swing with the scheduler: batches in turn, medians shown.
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  for (int threads : {2, 4, 8}) {
    char label[64];
    std::snprintf(label, sizeof label, "contended, %d threads", threads);
    long per = n / threads / 4 / 5;
    std::vector<double> ours, theirs;
    for (int b = 0; b < 5; ++b) {
      ours.push_back(contended(threads, per, [&] { rl.lock(); }, [&] { rl.unlock(); }));
      theirs.push_back(contended(threads, per, [&] { rm.lock(); }, [&] { rm.unlock(); }));
    }
    row(label, median(ours), median(theirs));
  }
  return 0;
}
