// What the benchmarks share: timing, medians, timed child processes and a
// private folder for their files.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <chrono>
#include <ctime>
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

// The middle value (the upper one of an even count); 0 for none.
inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Wall-clock and CPU time (user and system) of one whole process.
struct process_cost {
  double wall, cpu;
};

// Runs the program at the path args[0] with `args`, its standard output thrown
// away, and waits for it. A run that cannot start or fails ends the benchmark:
// its times would be those of some other work.
inline process_cost run_process(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto t = clock_type::now();
  pid_t pid;
  int status = -1;
  rusage usage{};
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) wait4(pid, &status, 0, &usage);
  const double wall = seconds_since(t);
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "failed: %s\n", args[0].c_str());
    std::exit(1);
  }
  auto secs = [](const timeval& v) { return static_cast<double>(v.tv_sec) + static_cast<double>(v.tv_usec) / 1e6; };
  return {wall, secs(usage.ru_utime) + secs(usage.ru_stime)};
}

// Wall-clock seconds and peak resident set (KiB) of one whole process.
struct child_figure {
  double seconds = 0;
  long peakKb = 0;
};

// Forks and runs the program at the path argv[0] with `argv`, its standard
// output thrown away, and waits for it; a child that fails ends the benchmark.
inline child_figure run_forked(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(stdout);  // or the child's stdio would print the parent's pending lines again
  auto start = clock_type::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    if (!std::freopen("/dev/null", "w", stdout)) _exit(126);
    ::execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  child_figure f{seconds_since(start), usage.ru_maxrss};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string command;
    for (const auto& a : argv) command += (command.empty() ? "" : " ") + a;
    std::fprintf(stderr, "child failed (%d): %s\n", status, command.c_str());
    std::exit(1);
  }
  return f;
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

// One line of a comparison: ours, the reference, and ours / reference.
inline void ratio_row(const char* what, double ours, double theirs) {
  std::printf("%-34s %9.2f ns %9.2f ns   ratio %.2f\n", what, ours, theirs, ours / theirs);
}

// Wall-clock and CPU time (of every thread of the process) per operation.
struct cost {
  double wall;
  double cpu;
};

template <class F>
cost cost_per_op(long ops, F&& body) {
  const std::clock_t cpu_start = std::clock();
  const double wall = ns_per_op(ops, body);
  const double cpu = static_cast<double>(std::clock() - cpu_start) * 1e9 / CLOCKS_PER_SEC / static_cast<double>(ops);
  return {wall, cpu};
}

// One line of a comparison with both clocks: wall and CPU time for ours, the
// reference, and ours / reference of each.
inline void cost_row(const char* what, cost ours, cost theirs) {
  std::printf("%-30s %8.2f %8.2f %6.2f   %8.2f %8.2f %6.2f\n", what, ours.wall, theirs.wall, ours.wall / theirs.wall,
              ours.cpu, theirs.cpu, ours.cpu / theirs.cpu);
}

// A recursive lock against std::recursive_mutex: uncontended, one level deeper,
// and contended by 2, 4 and 8 threads (batches in turn, medians shown, since
// contended figures swing with the scheduler). `op` names one lock+unlock pair.
// Wall and CPU time are both shown: a lock that spins instead of sleeping can
// win on the wall clock by burning processor time the other threads lack.
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
    return cost_per_op(n, [&] {
      for (long i = 0; i < n; ++i) {
        take();
        sink = sink + 1;
        leave();
      }
    });
  };
  auto deeper = [&](auto take, auto leave) {
    return cost_per_op(n, [&] {
      take();
      for (long i = 0; i < n; ++i) {
        take();
        sink = sink + 1;
        leave();
      }
      leave();
    });
  };
  auto contended_cost = [](int threads, long per_thread, auto take, auto leave) {
    long counter = 0;
    return cost_per_op(per_thread * threads, [&] {
      std::vector<std::thread> ts;
      for (int t = 0; t < threads; ++t)
        ts.emplace_back([&] {
          for (long i = 0; i < per_thread; ++i) {
            take();
            ++counter;
            leave();
          }
        });
      for (auto& t : ts) t.join();
    });
  };
  auto rmLock = [&] { rm.lock(); };
  auto rmUnlock = [&] { rm.unlock(); };
  char label[64];
  std::printf("%-30s %26s   %26s\n", "ns per op", "wall clock", "CPU time, all threads");
  std::printf("%-30s %8s %8s %6s   %8s %8s %6s\n", "", ours_name, "std", "ratio", ours_name, "std", "ratio");
  std::snprintf(label, sizeof label, "%s, uncontended", op);
  cost_row(label, flat(lock, unlock), flat(rmLock, rmUnlock));
  std::snprintf(label, sizeof label, "%s, one level deeper", op);
  cost_row(label, deeper(lock, unlock), deeper(rmLock, rmUnlock));
  for (int threads : {2, 4, 8}) {
    std::snprintf(label, sizeof label, "contended, %d threads", threads);
    const long per = n / threads / 4 / 5;
    std::vector<double> ours_wall, ours_cpu, theirs_wall, theirs_cpu;
    for (int b = 0; b < 5; ++b) {
      const cost o = contended_cost(threads, per, lock, unlock);
      const cost t = contended_cost(threads, per, rmLock, rmUnlock);
      ours_wall.push_back(o.wall);
      ours_cpu.push_back(o.cpu);
      theirs_wall.push_back(t.wall);
      theirs_cpu.push_back(t.cpu);
    }
    cost_row(label, {median(ours_wall), median(ours_cpu)}, {median(theirs_wall), median(theirs_cpu)});
  }
}

}  // namespace bench
