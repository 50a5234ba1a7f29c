// One-shot time-outs. A callback runs once, after an interval, on the monitor
// thread (synchronous) or on a pooled thread (asynchronous), unless cancelled
// first. The handle is shared; when its last copy goes the time-out is cancelled
// and a firing in progress on another thread is waited for.
#pragma once

#include <boost/shared_ptr.hpp>

#include "platform/win32/windows.h"
#include "system/thread.h"

namespace Common {

class TimeoutImpl;
using Timeout = boost::shared_ptr<TimeoutImpl>;

// Arms a new time-out and stores its handle in `out`. Intervals must stay below
// 2^31 ms. A callback runs with its time-out's lock held, so a cancel from
// another thread returns only after a running callback did.
void startTimeout(Timeout& out, ThreadFunction callback, void* argument, DWORD intervalMs, bool asynchronous);
// Keeps an armed time-out from firing; does nothing once it fired or was cancelled.
void cancelTimeout(const Timeout& timeout);

namespace detail {
// Tests only: monitor loops running now, and a hook run on the pooled thread of
// an asynchronous time-out just before it fires.
int timeoutMonitorsRunning();
void setTimeoutHandOffHook(void (*hook)());
}  // namespace detail

}  // namespace Common
