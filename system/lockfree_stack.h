// Intrusive lock-free stack. The head is a top pointer and a word carrying the
// entry count (low 16 bits) and a tag (the bits above) that every push bumps, so
// a pop whose top was taken and pushed again in between fails its compare-exchange.
// Both halves change together through one 16-byte compare-exchange.
//
// The first pointer-sized field of every node is its link. The stack never
// allocates or frees nodes; a node's memory must stay readable while other
// threads may still pop (a racing pop may read the link of a node that was just
// taken), so users keep node memory type-stable instead of freeing it while the
// stack is in use.
#pragma once

#include <cstdint>

namespace Common {

struct alignas(16) LockFreeStack {
  void* top;
  std::uint64_t word;  // tag << 16 | count

  struct Snapshot {
    void* top;
    std::uint64_t word;
  };

  static void init(LockFreeStack* head);
  static unsigned count(const LockFreeStack* head);
  // The ABA tag: one more on every push, kept by pops.
  static std::uint64_t tag(const LockFreeStack* head);
  // Returns the head as it was before the push.
  static Snapshot push(LockFreeStack* head, void* node);
  // The removed top node, null when empty.
  static void* pop(LockFreeStack* head);
  // The whole chain, top first (linked through the nodes' first field), null when empty.
  static void* popAll(LockFreeStack* head);

  // Link of a node, as the stack keeps it.
  static void* next(const void* node);
};

}  // namespace Common
