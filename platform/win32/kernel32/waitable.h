// The wait core shared by every waitable kind of the layer. Layer code only:
// the system's code waits through WaitForSingleObject and its relatives.
//
// A kind joins by deriving from Waitable (or from Signal when it is a plain
// signalled/unsignalled flag, as a process or a change notification is) and by
// calling changed() under wait_lock() after any change that may let a waiter
// through. Waiters queue on the objects in arrival order and are served by the
// thread that changes an object, so an auto-reset object or a semaphore unit goes
// to exactly one waiter and wait-all takes its objects at once.
#pragma once

#include <mutex>
#include <vector>

#include "platform/win32/kernel32/handles.h"

namespace win32 {

struct Waiter;

// The one lock guarding the state of every waitable object and every waiter.
std::mutex& wait_lock();

class Waitable : public KernelObject {
 public:
  ~Waitable() override;
  // Both run under wait_lock(). signalled: would a wait by thread `tid` be
  // satisfied now. acquire: take the object for `tid` after signalled() said
  // yes; answers true when the object was an abandoned mutex.
  virtual bool signalled(DWORD tid) const = 0;
  virtual bool acquire(DWORD tid) = 0;
  // True when other processes change the object too: nothing here hears of
  // that, so a wait on it looks again now and then.
  virtual bool shared_between_processes() const { return false; }

 protected:
  // Under wait_lock(): serves the queued waiters that the new state satisfies.
  void changed();

 private:
  friend struct WaitCore;
  std::vector<Waiter*> waiters_;
};

// A signalled/unsignalled flag with manual or automatic reset: events, and the
// base for kinds that become signalled once (processes, notifications).
class Signal : public Waitable {
 public:
  Signal(ObjectKind kind, bool manual_reset, bool initial) : kind_(kind), manual_(manual_reset), set_(initial) {}
  ObjectKind kind() const override { return kind_; }
  bool signalled(DWORD) const override { return set_; }
  bool acquire(DWORD) override {
    if (!manual_) set_ = false;
    return false;
  }
  // Each takes wait_lock() itself.
  void set();
  void reset();
  void pulse();
  bool is_set() const;

 private:
  ObjectKind kind_;
  bool manual_;
  bool set_;
};

// Waits as WaitForMultipleObjectsEx does, on objects already looked up. A thread
// marked by TerminateThread leaves the wait by unwinding (see thread.h).
// Alertable, queued APCs of the calling thread run first and the wait answers
// WAIT_IO_COMPLETION.
DWORD wait_objects(const std::vector<std::shared_ptr<Waitable>>& objects, bool wait_all, DWORD milliseconds,
                   bool alertable = false);

// Threads queued on the object a handle names right now (0 for a bad handle);
// lets tests know that a waiter is asleep before they signal.
std::size_t waiter_count(HANDLE h);

}  // namespace win32
