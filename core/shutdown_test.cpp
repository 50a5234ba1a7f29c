#include "core/shutdown.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "core/collector.h"
#include "core/object.h"
#include "core/singleton.h"

namespace {

using Processor::MetaClass;
using Processor::RefObject;
using Processor::RefPtr;
using Processor::Singleton;
namespace GC = Processor::GC;

// What happened, in order; destructors may run on the collector's thread.
std::mutex eventsLock;
std::string events;
void note(const char* what) {
  std::lock_guard<std::mutex> guard(eventsLock);
  if (!events.empty()) events += ',';
  events += what;
}

template <char Name>
struct Logged : RefObject {
  ~Logged() override {
    const char text[] = {'s', Name, 0};
    note(text);
  }
};

// A meta class that says when it is deleted.
template <char Name>
struct LoggedMeta final : MetaClass {
  ~LoggedMeta() override {
    const char text[] = {'m', Name, 0};
    note(text);
  }
  std::uint32_t id() const override { return 0x7E000000u + Name; }
  void query(Processor::IfacePtr& out, std::uint32_t, void*) override { out = Processor::IfacePtr(); }
  void cast(Processor::IfacePtr& out, std::uint32_t, void*) override { out = Processor::IfacePtr(); }
  RefObject* toRefObject(void*) override { return nullptr; }
  Processor::Interface* toInterface(void*) override { return nullptr; }
  bool visitBases(void*, Processor::MetaClassVisitor&) override { return false; }
  void addRef(void*) override {}
  bool addRefIfAlive(void*) override { return false; }
  void release(void*) override {}
};

struct CycleMember : RefObject {
  Processor::MemberPtr<CycleMember> next{this, nullptr};
  ~CycleMember() override { note("cycle"); }
};

// Runs in a child process: shutdown ends the process's runtime for good.
void shutdownScenario() {
  new LoggedMeta<'A'>;
  new LoggedMeta<'B'>;
  new LoggedMeta<'C'>;
  Singleton<Logged<'A'>>::instance();
  Singleton<Logged<'B'>>::instance();
  Singleton<Logged<'C'>>::instance();
  {
    RefPtr<CycleMember> x = Processor::makeRef<CycleMember>(), y = Processor::makeRef<CycleMember>();
    x->next = y;
    y->next = x;
  }
  note("shutdown");
  Processor::shutdownRuntime();
  note("done");
  std::fprintf(stderr, "collector started=%d running=%d\n", GC::started() ? 1 : 0,
               GC::statistics().workerRunning ? 1 : 0);

  // Afterwards: no collector, nothing registered, plain counting.
  Singleton<Logged<'D'>>::instance();  // not kept by a registry: goes at once
  RefPtr<CycleMember> late = Processor::makeRef<CycleMember>();
  late->next = Processor::makeRef<CycleMember>();
  late.release();
  Processor::shutdownRuntime();  // a second run changes nothing
  std::fprintf(stderr, "events=%s\n", events.c_str());
  std::fflush(stderr);
  std::_Exit(0);
}

TEST(RuntimeShutdown, ReleasesSingletonsNewestFirstStopsTheCollectorThenDeletesMetaClasses) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The cycle goes by the collector's flush or its final drain, but always
  // before the meta classes; the singletons leave newest first.
  EXPECT_EXIT(shutdownScenario(), ::testing::ExitedWithCode(0),
              "collector started=0 running=0\n"
              "events=(cycle,cycle,)?shutdown,(cycle,cycle,)?sC,(cycle,cycle,)?sB,(cycle,cycle,)?sA,"
              "(cycle,cycle,)?mC,mB,mA,done,sD,cycle,cycle\n");
}

void forkedChildScenario() {
  events.clear();
  {
    RefPtr<CycleMember> x = Processor::makeRef<CycleMember>(), y = Processor::makeRef<CycleMember>();
    x->next = y;
    y->next = x;
  }
  Processor::shutdownRuntime();
  std::fprintf(stderr, "events=%s\n", events.c_str());
  std::fflush(stderr);
  std::exit(0);
}

// A child forked from a process whose collector runs has no worker thread:
// its shutdown runs the passes itself instead of waiting for one. The parent's
// worker pauses over the fork and goes on collecting afterwards.
TEST(RuntimeShutdown, AForkedChildEndsWithoutItsParentsWorker) {
  ASSERT_TRUE(GC::statistics().workerRunning);
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(forkedChildScenario(), ::testing::ExitedWithCode(0), "events=cycle,cycle\n");

  EXPECT_TRUE(GC::statistics().workerRunning);
  {
    std::lock_guard<std::mutex> guard(eventsLock);
    events.clear();
  }
  {
    RefPtr<CycleMember> x = Processor::makeRef<CycleMember>(), y = Processor::makeRef<CycleMember>();
    x->next = y;
    y->next = x;
  }
  auto collected = [] {
    std::lock_guard<std::mutex> guard(eventsLock);
    return events;
  };
  for (int i = 0; i < 20 && collected() != "cycle,cycle"; ++i) GC::flush();
  EXPECT_EQ(collected(), "cycle,cycle");
}

}  // namespace
