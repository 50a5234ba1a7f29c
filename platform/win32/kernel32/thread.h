// Threads.
//
// TerminateThread has no safe POSIX form. Here it marks the thread, and the
// thread stops at its next wait on a layer object (the wait functions, Sleep,
// SleepEx, and a thread still held in its suspended start): the wait throws
// win32::ThreadExit, the stack unwinds, and the thread start routine catches it
// and ends the thread with the given exit code. So destructors run on the way
// out, unlike on Windows. A thread that never waits again is never stopped.
// Code that catches every exception must let win32::ThreadExit pass; if it does
// not, the next wait throws again. Where the unwinding meets a function that
// may not throw (a destructor, a noexcept function), the thread is stopped in
// place there instead: it ends as far as waiters and the exit code are
// concerned, and its OS thread stays parked until the process ends. A wait made
// while the stack is already unwinding does not throw; it waits as usual.
//
// ExitThread ends the calling thread the same way. On a thread that the layer
// did not start (the main thread, std::thread) it runs the thread's exit
// clean-up and ends the OS thread.
//
// Every thread ending runs the TLS exit callbacks (tls.h) and abandons the
// mutexes it still owns before its handle becomes signalled.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);
using PTHREAD_START_ROUTINE = LPTHREAD_START_ROUTINE;

#define CREATE_SUSPENDED 0x00000004
#ifndef STILL_ACTIVE
#define STILL_ACTIVE 259
#endif

#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

// The stack size is ignored. lpThreadId may be null.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                    LPDWORD lpThreadId);
// The C runtime's form: the handle as an integer, 0 on failure.
std::uintptr_t _beginthreadex(void* security, unsigned stack_size, unsigned (*start_address)(void*),
                              void* arglist, unsigned initflag, unsigned* thrdaddr);
[[noreturn]] void _endthreadex(unsigned retval);

// Answers the previous suspend count, or (DWORD)-1 on failure.
DWORD ResumeThread(HANDLE hThread);
// Only a thread still held in its suspended start can be suspended further;
// a running thread cannot be stopped safely and fails with ERROR_NOT_SUPPORTED.
DWORD SuspendThread(HANDLE hThread);
[[noreturn]] void ExitThread(DWORD dwExitCode);
BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode);
// STILL_ACTIVE while the thread runs.
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);

// A pseudo handle meaning "the calling thread"; never needs closing.
HANDLE GetCurrentThread();
DWORD GetCurrentThreadId();
DWORD GetThreadId(HANDLE Thread);

// The value is kept and answered back; the OS priority follows where the
// process may change it (lowering always works, raising usually not).
BOOL SetThreadPriority(HANDLE hThread, int nPriority);
int GetThreadPriority(HANDLE hThread);

void Sleep(DWORD dwMilliseconds);
// Alertable, it runs the thread's queued APCs and answers WAIT_IO_COMPLETION
// as soon as there are any; otherwise 0 once the time is up.
DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable);

// Queues a call to `pfnAPC(dwData)` on the thread; it runs when that thread
// next waits alertably (SleepEx, WaitFor*Ex, with bAlertable TRUE). Nonzero
// on success; 0 with ERROR_INVALID_HANDLE for a handle naming no thread.
using PAPCFUNC = void (*)(ULONG_PTR);
DWORD QueueUserAPC(PAPCFUNC pfnAPC, HANDLE hThread, ULONG_PTR dwData);
BOOL SwitchToThread();

namespace win32 {
// Waits up to `milliseconds` until the thread has ended and left the system
// entirely, its thread-local clean-up included; a wait on the handle returns
// as soon as the start routine has. For work that no other thread may overlap,
// such as a fork. FALSE on time-out or an invalid handle.
BOOL wait_thread_gone(HANDLE thread, DWORD milliseconds);

// Thrown by a wait of a thread being terminated and by ExitThread; caught by the
// thread start routine. Deliberately not a std::exception.
struct ThreadExit {
  DWORD code;
};
}  // namespace win32
