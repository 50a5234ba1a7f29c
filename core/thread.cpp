#include "core/thread.h"

#include "system/locks.h"
#include "system/thread.h"

namespace Processor {

ThreadImpl* ThreadImpl::create(bool terminateAtOnce) { return new ThreadImpl(terminateAtOnce); }

ThreadImpl::~ThreadImpl() {
  if (thread_) {
    // A thread that deletes its own handle must not wait for itself.
    if (!terminateAtOnce_ && thread_->id() != currentThreadId()) thread_->join();
    delete thread_;
  }
}

int ThreadImpl::start(ThreadFunction function, void* argument) {
  Common::Thread* next = new Common::Thread(function, argument);
  Common::Thread* previous = thread_;
  thread_ = next;
  delete previous;
  return 1;
}

void ThreadImpl::join() {
  if (thread_) thread_->join();
}

bool ThreadImpl::joinGone(DWORD milliseconds) {
  if (!thread_) return true;
  thread_->join();
  return thread_->waitGone(milliseconds);
}

void ThreadImpl::stop(DWORD milliseconds) {
  if (!thread_) return;
  if (terminateAtOnce_) {
    thread_->terminate();
    return;
  }
  if (!thread_->wait(milliseconds)) thread_->terminate();
}

DWORD ThreadImpl::id() { return thread_ ? thread_->id() : 0; }

void ThreadImpl::setPriority(int priorityClass) {
  if (!thread_) return;
  if (priorityClass != 0 && priorityClass != 1 && priorityClass != 3) priorityClass = 2;
  thread_->setPriority(priorityClass);
}

ProtectedObject::ProtectedObject() : lock_(Common::newCriticalSection()) {}

ProtectedObject::~ProtectedObject() { delete lock_; }

DWORD currentThreadId() { return GetCurrentThreadId(); }

void closeAndWakeWaiter(HandOffRecord* record) {
  if (__atomic_load_n(&record->closed, __ATOMIC_ACQUIRE)) return;
  Common::CriticalSectionLock guard(record->lock);
  // Checked again under the lock, so two closers wake the waiter only once.
  if (__atomic_load_n(&record->closed, __ATOMIC_ACQUIRE)) return;
  __atomic_store_n(&record->closed, 1, __ATOMIC_RELEASE);
  if (record->semaphore) record->semaphore->release();
}

}  // namespace Processor
