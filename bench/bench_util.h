// What the benchmarks share: timing and a private folder for their files.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

}  // namespace bench
