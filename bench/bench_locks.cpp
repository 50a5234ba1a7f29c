// Cost of the system's recursive lock against std::recursive_mutex:
// uncontended, one level deeper (recursive), and contended by 2, 4 and 8 threads
// with a short critical section (medians of five batches); wall-clock and CPU
// time, since spinning shows only in the second.
//
//   bench_locks [MILLION_OPS]      (default 10)
//
// Goal: Common::RecursiveLock no slower than std::recursive_mutex.
#include <cstdlib>

#include "system/locks.h"
#include "bench/bench_util.h"

namespace {

Common::RecursiveLock staticLock;  // zero-initialised, as the libraries' locks are

}  // namespace

int main(int argc, char** argv) {
  const long n = (argc > 1 ? std::atol(argv[1]) : 10) * 1000000L;
  Common::RecursiveLock& rl = staticLock;
  bench::compare_with_recursive_mutex("Recursive", "lock+unlock", n, [&] { rl.lock(); }, [&] { rl.unlock(); });
  return 0;
}
