// The intrusive lock-free stack against boost::lockfree::stack (fixed capacity,
// so neither allocates while timed): push+pop pairs on one thread, and on 2, 4
// and 8 threads sharing one stack.
//
//   bench_lockfree [MILLION_OPS]      (default 10)
#include <boost/lockfree/stack.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "system/lockfree_stack.h"
#include "bench/bench_util.h"

namespace {

using bench::ns_per_op;
using bench::threaded;
const auto row = bench::ratio_row;

struct Node {
  Node* next;
  long value;
};

}  // namespace

int main(int argc, char** argv) {
  long n = (argc > 1 ? std::atol(argv[1]) : 10) * 1000000L;
  constexpr int kMaxThreads = 8;
  std::vector<Node> nodes(kMaxThreads * 2);
  Common::LockFreeStack head;
  Common::LockFreeStack::init(&head);
  boost::lockfree::stack<long, boost::lockfree::capacity<kMaxThreads * 2>> theirs;
  std::printf("lock-free stack, push+push+pop+pop per round, time per operation\n");
  std::printf("%-34s %12s %12s\n", "", "Common", "boost");

  auto ours = [&](int t, long per) {
    Node* mine[2] = {&nodes[t * 2], &nodes[t * 2 + 1]};
    for (long i = 0; i < per; ++i) {
      Common::LockFreeStack::push(&head, mine[0]);
      Common::LockFreeStack::push(&head, mine[1]);
      mine[0] = static_cast<Node*>(Common::LockFreeStack::pop(&head));
      mine[1] = static_cast<Node*>(Common::LockFreeStack::pop(&head));
    }
  };
  auto boosts = [&](int t, long per) {
    long a = t * 2, b = t * 2 + 1;
    for (long i = 0; i < per; ++i) {
      theirs.bounded_push(a);
      theirs.bounded_push(b);
      theirs.pop(a);
      theirs.pop(b);
    }
  };
  std::thread([] {}).join();
  ours(0, n / 10);
  boosts(0, n / 10);
  row("one thread", ns_per_op(n, [&] { ours(0, n / 4); }), ns_per_op(n, [&] { boosts(0, n / 4); }));
  for (int threads : {2, 4, 8}) {
    char label[64];
    std::snprintf(label, sizeof label, "%d threads, one stack", threads);
    long per = n / threads / 8;
    // four operations per round
    row(label, threaded(threads, per, ours) / 4, threaded(threads, per, boosts) / 4);
  }
  return 0;
}
