#include "system/lockfree_stack.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace {

using Common::LockFreeStack;

struct Node {
  Node* next;  // the stack's link: first field
  std::atomic<int> owners{0};
  int id = 0;
  long uses = 0;  // plain data: ownership hand-over must order its writes
};

TEST(LockFreeStack, CountsTagAndOrder) {
  LockFreeStack head;
  LockFreeStack::init(&head);
  EXPECT_EQ(LockFreeStack::count(&head), 0u);
  EXPECT_EQ(LockFreeStack::pop(&head), nullptr);
  EXPECT_EQ(LockFreeStack::popAll(&head), nullptr);

  Node n[5];
  for (int i = 0; i < 5; ++i) {
    LockFreeStack::Snapshot before = LockFreeStack::push(&head, &n[i]);
    EXPECT_EQ(before.top, i ? &n[i - 1] : nullptr);
    EXPECT_EQ(before.word & 0xFFFF, unsigned(i));
  }
  EXPECT_EQ(LockFreeStack::count(&head), 5u);
  EXPECT_EQ(LockFreeStack::tag(&head), 5u);

  // n pushes and m pops leave n - m; pops keep the tag.
  EXPECT_EQ(LockFreeStack::pop(&head), &n[4]);
  EXPECT_EQ(LockFreeStack::pop(&head), &n[3]);
  EXPECT_EQ(LockFreeStack::count(&head), 3u);
  EXPECT_EQ(LockFreeStack::tag(&head), 5u);

  // The same node back on top still changes the head: a pop that read the
  // earlier head cannot succeed against it.
  LockFreeStack::push(&head, &n[3]);
  EXPECT_EQ(LockFreeStack::tag(&head), 6u);

  void* chain = LockFreeStack::popAll(&head);
  EXPECT_EQ(LockFreeStack::count(&head), 0u);
  EXPECT_EQ(LockFreeStack::tag(&head), 6u);
  std::vector<void*> seen;
  for (void* p = chain; p; p = LockFreeStack::next(p)) seen.push_back(p);
  EXPECT_EQ(seen, (std::vector<void*>{&n[3], &n[2], &n[1], &n[0]}));
}

TEST(LockFreeStack, ZeroFilledHeadIsEmpty) {
  static LockFreeStack head;  // zero-initialised, no init call
  EXPECT_EQ(LockFreeStack::count(&head), 0u);
  EXPECT_EQ(LockFreeStack::pop(&head), nullptr);
  Node a;
  LockFreeStack::push(&head, &a);
  EXPECT_EQ(LockFreeStack::pop(&head), &a);
}

// Threads take nodes off a shared stack and put them back. Every node is owned
// by at most one thread at a time, none is lost or duplicated, the count stays
// right and the tag counts every push.
TEST(LockFreeStack, StressKeepsNodesCountsAndTag) {
  constexpr int kNodes = 16;  // few nodes, so the same node returns to the top often
  constexpr int kThreads = 8;
  constexpr int kRounds = 40000;
  LockFreeStack head;
  LockFreeStack::init(&head);
  std::vector<Node> nodes(kNodes);
  for (int i = 0; i < kNodes; ++i) {
    nodes[i].id = i;
    LockFreeStack::push(&head, &nodes[i]);
  }
  std::atomic<long> pushes{0};
  std::atomic<long> pops{0};
  std::atomic<bool> doubleOwned{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<Node*> held;
      for (int r = 0; r < kRounds; ++r) {
        if (held.size() < 3 && ((r + t) % 3 != 0 || held.empty())) {
          Node* n = static_cast<Node*>(LockFreeStack::pop(&head));
          if (!n) continue;
          if (n->owners.fetch_add(1) != 0) doubleOwned = true;
          ++n->uses;
          pops.fetch_add(1);
          held.push_back(n);
        } else if (!held.empty()) {
          Node* n = held.back();
          held.pop_back();
          n->owners.fetch_sub(1);
          LockFreeStack::push(&head, n);
          pushes.fetch_add(1);
        }
      }
      for (Node* n : held) {
        n->owners.fetch_sub(1);
        LockFreeStack::push(&head, n);
        pushes.fetch_add(1);
      }
    });
  }
  for (auto& th : threads) th.join();

  EXPECT_FALSE(doubleOwned.load());
  EXPECT_EQ(LockFreeStack::count(&head), unsigned(kNodes));
  EXPECT_EQ(LockFreeStack::tag(&head), std::uint64_t(kNodes + pushes.load()));
  std::set<int> ids;
  int length = 0;
  long uses = 0;
  for (void* p = LockFreeStack::popAll(&head); p; p = LockFreeStack::next(p)) {
    ids.insert(static_cast<Node*>(p)->id);
    uses += static_cast<Node*>(p)->uses;
    ++length;
  }
  EXPECT_EQ(uses, pops.load());
  EXPECT_EQ(length, kNodes);
  EXPECT_EQ(ids.size(), std::size_t(kNodes));
  EXPECT_EQ(LockFreeStack::count(&head), 0u);
}

}  // namespace
