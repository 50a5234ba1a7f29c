#include "core/singleton.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Processor::RefObject;
using Processor::RefPtr;
using Processor::Singleton;
namespace GC = Processor::GC;

std::atomic<int> constructed{0};

struct Settings : RefObject {
  Settings() { constructed.fetch_add(1); }
  int value = 42;
};

TEST(Singleton, OneInstancePerIdKeptByTheRegistry) {
  RefPtr<Settings> first = Singleton<Settings, 1>::instance();
  RefPtr<Settings> second = Singleton<Settings, 1>::instance();
  EXPECT_EQ(first.get(), second.get());
  RefPtr<Settings> other = Singleton<Settings, 2>::instance();
  EXPECT_NE(first.get(), other.get());

  Settings* raw = first.get();
  std::int32_t held = raw->refCount();
  first.release();
  second.release();
  EXPECT_EQ(raw->refCount(), held - 2);
  EXPECT_GT(raw->refCount(), 0);  // the registry's links

  // The registry's links are collector links: the collector sees them and
  // keeps the singletons.
  for (int i = 0; i < 5; ++i) GC::flush();
  RefPtr<Settings> again = Singleton<Settings, 1>::instance();
  EXPECT_EQ(again.get(), raw);
  EXPECT_EQ(again->value, 42);
}

struct Raced : RefObject {
  Raced() { constructed.fetch_add(1); }
};

// A first use happens once per process, so the race runs in a fresh one.
void raceFirstUse() {
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<Raced*> got(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) {
      }
      got[i] = Singleton<Raced, 1>::instance().get();
    });
  }
  for (auto& t : threads) t.join();
  bool same = std::all_of(got.begin(), got.end(), [&](Raced* r) { return r == got[0]; });
  std::fprintf(stderr, "constructed=%d same=%d\n", constructed.load(), same ? 1 : 0);
  std::fflush(stderr);
  std::exit(0);
}

TEST(Singleton, ConcurrentFirstUseConstructsOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(raceFirstUse(), ::testing::ExitedWithCode(0), "constructed=1 same=1\n");
}

}  // namespace
