// Thread-local slots, and thread-local variables: a process-wide value that a
// thread may override with its own.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32/windows.h"

namespace Common {

using TlsCleanup = void (*)(void* value);

// A new slot, or (DWORD)-1. A cleanup callback receives a thread's non-null
// value when the thread ends; only the latest slot allocated with a callback
// keeps it.
DWORD tlsAlloc(TlsCleanup cleanup);
bool tlsFree(DWORD slot);
void* tlsGet(DWORD slot);
bool tlsSet(DWORD slot, void* value);

// Run by the layer for each ending thread that holds a value in the slot that
// has the cleanup callback.
void threadExitHook(void* value);

// A process-wide value with a per-thread override. The thread's own value sits
// in its slot complemented, so an empty slot (0) means "no value of its own"
// while a stored complement of 0 is an own value of 0. Meant for statics: the
// slot is taken at construction and given back at destruction.
class ThreadLocalVariable {
 public:
  explicit ThreadLocalVariable(std::uintptr_t processWide = 0);
  ~ThreadLocalVariable();
  ThreadLocalVariable(const ThreadLocalVariable&) = delete;
  ThreadLocalVariable& operator=(const ThreadLocalVariable&) = delete;

  // The thread's own value when it has one, else the process-wide value.
  std::uintptr_t get() const;
  // With `processWide`, replaces the process-wide value and returns the old one.
  // Otherwise sets the thread's own value and returns the previous own value, or
  // all ones when the thread had none; writing that result back removes the
  // thread's value again.
  std::uintptr_t set(std::uintptr_t value, bool processWide);

 private:
  std::atomic<std::uintptr_t> processWide_;
  DWORD slot_;
};

// The same for a pointer type.
template <class T>
class ThreadLocal {
 public:
  ThreadLocal() = default;
  T* get() const { return reinterpret_cast<T*>(var_.get()); }
  T* set(T* value, bool processWide) {
    return reinterpret_cast<T*>(var_.set(reinterpret_cast<std::uintptr_t>(value), processWide));
  }

 private:
  ThreadLocalVariable var_;
};

}  // namespace Common
