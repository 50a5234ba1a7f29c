// Latency of handing work to the worker pool against starting a thread for it:
// each round starts a piece of work that sets a flag, waits for it to end, and
// lets the handle go. Common::Thread (a dedicated layer thread) is shown too.
// Figures are medians of seven batches.
//
//   bench_pool [ROUNDS]      (default 20000)
//
// Goal: pooled dispatch at least 5 times faster than a new std::thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "system/thread.h"

using clock_type = std::chrono::steady_clock;

namespace {

std::atomic<long> ran{0};

std::int32_t work(void*) {
  ran.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

template <class F>
double us_per_round(long rounds, F&& body) {
  auto start = clock_type::now();
  for (long i = 0; i < rounds; ++i) body();
  return std::chrono::duration<double, std::micro>(clock_type::now() - start).count() / static_cast<double>(rounds);
}

}  // namespace

int main(int argc, char** argv) {
  long rounds = argc > 1 ? std::atol(argv[1]) : 20000;
  auto pooled = [] {
    auto h = Common::createPooledThread(&work, nullptr, 2);
    h->join();
  };
  auto stdThread = [] { std::thread([] { work(nullptr); }).join(); };
  auto layerThread = [] {
    Common::Thread t(&work, nullptr);
    t.join();
  };
  // Warm up: the pool's first worker, the thread machinery.
  us_per_round(rounds / 10 + 1, pooled);
  us_per_round(rounds / 10 + 1, stdThread);

  // Batches taken in turn, and the median of each, so that a burst of load on
  // the machine does not land on one side only.
  constexpr int kBatches = 7;
  std::vector<double> p, s, l;
  for (int b = 0; b < kBatches; ++b) {
    p.push_back(us_per_round(rounds / kBatches, pooled));
    s.push_back(us_per_round(rounds / kBatches, stdThread));
    l.push_back(us_per_round(rounds / kBatches / 4 + 1, layerThread));
  }
  using bench::median;
  double pm = median(p), sm = median(s), lm = median(l);
  std::printf("%-36s %9.2f us\n", "pooled work, start+join", pm);
  std::printf("%-36s %9.2f us\n", "new std::thread, start+join", sm);
  std::printf("%-36s %9.2f us\n", "new Common::Thread, start+join", lm);
  std::printf("pooled dispatch is %.1fx faster than a new std::thread (goal: 5x), %.1fx than Common::Thread\n",
              sm / pm, lm / pm);
  return ran.load() > 0 ? 0 : 1;
}
