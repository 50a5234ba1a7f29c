#include "core/collector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace {

using Processor::MemberPtr;
using Processor::RefObject;
using Processor::RefPtr;
using Processor::WeakMemberPtr;
namespace GC = Processor::GC;

// Counts the objects of one test that are alive and that were destroyed.
struct Tracker {
  std::atomic<int> alive{0};
  std::atomic<int> destroyed{0};
};

constexpr std::uint32_t kMagic = 0x600DF00Du;

class Obj : public RefObject {
 public:
  explicit Obj(Tracker* t) : tracker_(t) { tracker_->alive.fetch_add(1); }
  ~Obj() override {
    EXPECT_EQ(magic_, kMagic);
    magic_ = 0;
    tracker_->alive.fetch_sub(1);
    tracker_->destroyed.fetch_add(1);
  }
  bool valid() const { return magic_ == kMagic; }

  MemberPtr<Obj> a{this, nullptr};
  MemberPtr<Obj> b{this, nullptr};
  WeakMemberPtr<Obj> weak{this, nullptr};

 private:
  Tracker* tracker_;
  volatile std::uint32_t magic_ = kMagic;
};

RefPtr<Obj> make(Tracker& t) { return Processor::makeRef<Obj>(&t); }

// Lets the collector run passes until the condition holds (or gives up).
template <class Pred>
bool collectUntil(Pred done, int attempts = 400) {
  for (int i = 0; i < attempts; ++i) {
    if (done()) return true;
    GC::flush();
  }
  return done();
}

void flushSome(int n = 5) {
  for (int i = 0; i < n; ++i) GC::flush();
}

TEST(Collector, ObjectsOutsideCyclesGoAtTheirLastRelease) {
  Tracker t;
  make(t).release();  // never linked: no node
  EXPECT_EQ(t.destroyed.load(), 1);

  RefPtr<Obj> owner = make(t);
  owner->a = make(t);  // the target now has a node and an in-link
  EXPECT_EQ(owner->a->refCount(), 1);
  owner->a.reset();
  EXPECT_EQ(t.destroyed.load(), 2);
  owner.release();
  EXPECT_EQ(t.destroyed.load(), 3);
  EXPECT_EQ(t.alive.load(), 0);
}

TEST(Collector, MemberPointersCountTheirTargets) {
  Tracker t;
  RefPtr<Obj> x = make(t), y = make(t);
  x->a = y;
  EXPECT_EQ(y->refCount(), 2);
  x->b = y;
  EXPECT_EQ(y->refCount(), 3);
  RefPtr<Obj> locked = x->a.lock();
  EXPECT_EQ(locked.get(), y.get());
  EXPECT_EQ(y->refCount(), 4);
  x->a = x;  // self link
  EXPECT_EQ(y->refCount(), 3);
  x->a.reset();
  x->b = RefPtr<Obj>();
  EXPECT_EQ(y->refCount(), 2);
}

TEST(Collector, TwoObjectCycleIsCollected) {
  Tracker t;
  {
    RefPtr<Obj> x = make(t), y = make(t);
    x->a = y;
    y->a = x;
  }
  EXPECT_EQ(t.alive.load(), 2);  // counting alone cannot free them
  EXPECT_TRUE(collectUntil([&] { return t.alive.load() == 0; }));
  EXPECT_EQ(t.destroyed.load(), 2);
}

TEST(Collector, RootPointerKeepsItsTargetAndWhatItReaches) {
  Tracker t;
  auto root = std::make_unique<MemberPtr<Obj>>();
  {
    RefPtr<Obj> x = make(t), y = make(t);
    x->a = y;
    y->a = x;
    *root = x;
  }
  flushSome();
  EXPECT_EQ(t.alive.load(), 2);
  EXPECT_TRUE((*root)->valid());
  EXPECT_TRUE((*root)->a->valid());
  root.reset();
  EXPECT_TRUE(collectUntil([&] { return t.alive.load() == 0; }));
}

TEST(Collector, CycleReachableFromAnExternallyHeldObjectSurvives) {
  Tracker t;
  RefPtr<Obj> holder = make(t);
  {
    RefPtr<Obj> x = make(t), y = make(t), z = make(t);
    holder->a = x;
    x->a = y;
    y->a = z;
    z->a = x;
    z->b = holder;  // a cycle through the holder too
  }
  flushSome();
  EXPECT_EQ(t.alive.load(), 4);
  for (Obj* o = holder->a.get(); o != holder.get(); o = o->a.get()) {
    ASSERT_TRUE(o->valid());
    if (o->b) break;
  }
  holder.release();
  EXPECT_TRUE(collectUntil([&] { return t.alive.load() == 0; }));
}

TEST(Collector, LongerCyclesAndWhatTheyHoldAreCollected) {
  for (int length : {3, 17, 1000}) {
    SCOPED_TRACE(length);
    Tracker t;
    {
      std::vector<RefPtr<Obj>> ring;
      for (int i = 0; i < length; ++i) ring.push_back(make(t));
      for (int i = 0; i < length; ++i) {
        ring[i]->a = ring[(i + 1) % length];
        ring[i]->b = make(t);              // a tail held only by the ring
        ring[i]->b->a = ring[i * 7 % length];  // pointing back into it
      }
    }
    EXPECT_EQ(t.alive.load(), 2 * length);
    EXPECT_TRUE(collectUntil([&] { return t.alive.load() == 0; }));
  }
}

TEST(Collector, SeparateCyclesEachGo) {
  Tracker t;
  RefPtr<Obj> kept = make(t);
  for (int i = 0; i < 50; ++i) {
    RefPtr<Obj> x = make(t), y = make(t);
    x->a = y;
    y->a = x;
    if (i == 25) kept->a = x;
  }
  EXPECT_TRUE(collectUntil([&] { return t.alive.load() == 3; }));
  flushSome();
  EXPECT_EQ(t.alive.load(), 3);
  EXPECT_TRUE(kept->a->a->valid());
  kept.release();  // the cycle it held is garbage now, and goes before the tracker does
  EXPECT_TRUE(collectUntil([&] { return t.alive.load() == 0; }));
}

TEST(Collector, WeakLinkIsClearedWhenItsTargetDies) {
  Tracker t;
  RefPtr<Obj> owner = make(t);
  RefPtr<Obj> target = make(t);
  owner->weak.reset(target.get());
  EXPECT_EQ(target->refCount(), 1);  // weak links hold no reference
  {
    RefPtr<Obj> locked = owner->weak.lock();
    EXPECT_EQ(locked.get(), target.get());
    EXPECT_EQ(target->refCount(), 2);
  }
  target.release();
  EXPECT_EQ(t.destroyed.load(), 1);
  EXPECT_FALSE(owner->weak.lock());
  EXPECT_TRUE(collectUntil([&] { return owner->weak.expired(); }));

  // A weak link into a garbage cycle is cleared when the cycle goes.
  {
    RefPtr<Obj> x = make(t), y = make(t);
    x->a = y;
    y->a = x;
    owner->weak.reset(y.get());
  }
  EXPECT_TRUE(owner->weak.lock());
  EXPECT_TRUE(collectUntil([&] { return t.alive.load() == 1; }));
  EXPECT_FALSE(owner->weak.lock());
  EXPECT_TRUE(owner->weak.expired());

  // A weak link made to an object whose release is under way is cleared at once.
  WeakMemberPtr<Obj> root;
  {
    RefPtr<Obj> z = make(t);
    root.reset(z.get());
  }
  EXPECT_FALSE(root.lock());
}

TEST(Collector, DestructorThatFlushesOnTheWorkerDoesNotWaitForItself) {
  static Tracker t;
  struct Flusher : Obj {
    Flusher() : Obj(&t) {}
    ~Flusher() override { GC::flush(); }
  };
  {
    RefPtr<Obj> x = Processor::makeRef<Flusher>(), y = Processor::makeRef<Flusher>();
    x->a = y;
    y->a = x;
  }
  EXPECT_TRUE(collectUntil([&] { return t.alive.load() == 0; }));
}

TEST(Collector, FreeStacksKeepAtMost101Records) {
  Tracker t;
  for (int round = 0; round < 3; ++round) {
    std::vector<RefPtr<Obj>> objects;
    for (int i = 0; i < 2000; ++i) {
      objects.push_back(make(t));
      if (i) objects[i]->a = objects[i - 1];
    }
    objects.clear();
    ASSERT_TRUE(collectUntil([&] { return t.alive.load() == 0; }));
    flushSome(2);
    GC::Statistics s = GC::statistics();
    EXPECT_LE(s.freeNodes, 101u);
    EXPECT_LE(s.freeLinks, 101u);
    EXPECT_LE(s.freeRequests, 101u);
    EXPECT_GT(s.freeNodes + s.freeLinks, 0u);
  }
  EXPECT_TRUE(GC::statistics().workerRunning);
}

// Many threads build, link and drop graphs with cycles while others reshuffle
// the links of objects that stay reachable; reachable objects must stay
// intact, and everything goes in the end.
TEST(CollectorStress, ConcurrentMutatorsNeverLoseReachableObjects) {
  Tracker t;
  constexpr int kThreads = 6;
  constexpr int kRounds = 300;
  constexpr int kShared = 32;
  std::vector<RefPtr<Obj>> shared;
  for (int i = 0; i < kShared; ++i) shared.push_back(make(t));
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  for (int id = 0; id < kThreads; ++id) {
    threads.emplace_back([&, id] {
      std::mt19937 rng(id * 7919 + 1);
      for (int round = 0; round < kRounds; ++round) {
        // A private graph with cycles, partly hung onto shared objects.
        std::vector<RefPtr<Obj>> local;
        int n = 2 + rng() % 12;
        for (int i = 0; i < n; ++i) local.push_back(make(t));
        for (int i = 0; i < n; ++i) {
          local[i]->a = local[rng() % n];
          if (rng() % 3 == 0) local[i]->b = shared[rng() % kShared];
        }
        // Resets of one link from several threads are serialised by the
        // collector; readers go through counted references.
        Obj* mine = shared[(id * 5 + round) % kShared].get();
        if (id % 2 == 0)
          mine->a = local[rng() % n];
        else
          mine->b = local[rng() % n];
        for (int i = 0; i < kShared; ++i) {
          RefPtr<Obj> other = (id % 2 == 0 ? shared[i]->a : shared[i]->b).lock();
          for (int depth = 0; other && depth < 4; ++depth) {
            if (!other->valid()) failed.store(true);
            other = other->a.lock();
          }
        }
        if (round % 50 == 0) GC::flush();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_FALSE(failed.load());
  for (auto& s : shared) {
    s->a.reset();
    s->b.reset();
  }
  shared.clear();
  EXPECT_TRUE(collectUntil([&] { return t.alive.load() == 0; }, 2000));
  EXPECT_EQ(t.alive.load(), 0);
}

// Locking a weak link while the last reference goes yields a live object or
// nothing, never a dying one.
TEST(CollectorStress, WeakLockRacingTheLastRelease) {
  Tracker t;
  RefPtr<Obj> owner = make(t);
  constexpr int kRounds = 3000;
  std::atomic<int> round{0};
  std::atomic<bool> failed{false};
  std::atomic<int> got{0};
  std::thread locker([&] {
    while (round.load() < kRounds) {
      RefPtr<Obj> p = owner->weak.lock();
      if (p) {
        got.fetch_add(1);
        if (!p->valid() || p->refCount() < 1) failed.store(true);
      }
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    RefPtr<Obj> target = make(t);
    owner->weak.reset(target.get());
    target.release();  // races the locker
    round.fetch_add(1);
  }
  locker.join();
  owner->weak.reset();
  EXPECT_FALSE(failed.load());
  EXPECT_TRUE(collectUntil([&] { return t.alive.load() == 1; }));
}

}  // namespace
