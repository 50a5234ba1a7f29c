// What the benchmarks share: timing and a private folder for their files.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <mutex>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using clock_type = std::chrono::steady_clock;

inline double seconds_since(clock_type::time_point t) {
  return std::chrono::duration<double>(clock_type::now() - t).count();
}

// The shortest of `runs` timed calls of f.
template <class F>
double best_of(int runs, F f) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto t = clock_type::now();
    f();
    best = std::min(best, seconds_since(t));
  }
  return best;
}

// A new folder named `prefix` and a unique ending under KV_BENCH_TMP, else the
// system's temp folder; removed with everything in it at the end. `path` is
// empty (and the reason printed) when none could be made.
class temp_folder {
 public:
  explicit temp_folder(const std::string& prefix) {
    const char* base = std::getenv("KV_BENCH_TMP");
    std::error_code ec;
    std::string parent = base && *base ? base : std::filesystem::temp_directory_path(ec).string();
    if (parent.empty()) parent = "/tmp";
    std::filesystem::create_directories(parent, ec);
    std::string templ = parent + "/" + prefix + "XXXXXX";
    if (::mkdtemp(templ.data()))
      path = templ;
    else
      std::fprintf(stderr, "cannot create a folder in %s\n", parent.c_str());
  }
  ~temp_folder() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;

  std::filesystem::path path;
};

// Nanoseconds per operation of one timed call of body, which does `ops` of them.
template <class F>
double ns_per_op(long ops, F&& body) {
  const auto start = clock_type::now();
  body();
  return std::chrono::duration<double, std::nano>(clock_type::now() - start).count() / static_cast<double>(ops);
}

// work(thread index, per_thread) on `threads` threads at once; ns per operation.
template <class F>
double threaded(int threads, long per_thread, F work) {
  return ns_per_op(per_thread * threads, [&] {
    std::vector<std::thread> ts;
    for (int t = 0; t < threads; ++t) ts.emplace_back([&, t] { work(t, per_thread); });
    for (auto& t : ts) t.join();
  });
}

// `threads` threads each taking and leaving a lock around a shared increment.
template <class Lock, class Unlock>
double contended(int threads, long per_thread, Lock lock, Unlock unlock) {
  long counter = 0;
  return threaded(threads, per_thread, [&](int, long per) {
    for (long i = 0; i < per; ++i) {
      lock();
      ++counter;
      unlock();
    }
  });
}

// One line of a comparison: ours, the reference, and ours / reference.
inline void ratio_row(const char* what, double ours, double theirs) {
  std::printf("%-34s %9.2f ns %9.2f ns   ratio %.2f\n", what, ours, theirs, ours / theirs);
}

// A recursive lock against std::recursive_mutex: uncontended, one level deeper,
// and contended by 2, 4 and 8 threads (batches in turn, medians shown, since
// contended figures swing with the scheduler). `op` names one lock+unlock pair.
template <class Lock, class Unlock>
void compare_with_recursive_mutex(const char* ours_name, const char* op, long n, Lock lock, Unlock unlock) {
  std::recursive_mutex rm;
  volatile long sink = 0;
  // glibc skips atomics while a process has never had a second thread; real
  // programs have several, so measure in that state.
  std::thread([] {}).join();
  // Warm the clock and the caches before the first figure.
  ns_per_op(n, [&] {
    for (long i = 0; i < n; ++i) {
      lock();
      rm.lock();
      sink = sink + 1;
      rm.unlock();
      unlock();
    }
  });
  auto flat = [&](auto take, auto leave) {
    return ns_per_op(n, [&] {
      for (long i = 0; i < n; ++i) {
        take();
        sink = sink + 1;
        leave();
      }
    });
  };
  auto deeper = [&](auto take, auto leave) {
    return ns_per_op(n, [&] {
      take();
      for (long i = 0; i < n; ++i) {
        take();
        sink = sink + 1;
        leave();
      }
      leave();
    });
  };
  auto rmLock = [&] { rm.lock(); };
  auto rmUnlock = [&] { rm.unlock(); };
  char label[64];
  std::printf("%-34s %12s %12s\n", "", ours_name, "std");
  std::snprintf(label, sizeof label, "%s, uncontended", op);
  ratio_row(label, flat(lock, unlock), flat(rmLock, rmUnlock));
  std::snprintf(label, sizeof label, "%s, one level deeper", op);
  ratio_row(label, deeper(lock, unlock), deeper(rmLock, rmUnlock));
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  for (int threads : {2, 4, 8}) {
    std::snprintf(label, sizeof label, "contended, %d threads", threads);
    const long per = n / threads / 4 / 5;
    std::vector<double> ours, theirs;
    for (int b = 0; b < 5; ++b) {
      ours.push_back(contended(threads, per, lock, unlock));
      theirs.push_back(contended(threads, per, rmLock, rmUnlock));
    }
    ratio_row(label, median(ours), median(theirs));
  }
}

}  // namespace bench
