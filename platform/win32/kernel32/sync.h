// Events, mutexes, semaphores, the wait functions and critical sections.
//
// Every waitable object of the layer (these, threads, and later kinds such as
// processes) shares one wait core (platform/win32/kernel32/waitable.h), so a wait may mix
// kinds. Named objects live in a namespace of this process: creating a name that
// exists opens the existing object and reports ERROR_ALREADY_EXISTS; a name held
// by an object of another kind fails with ERROR_INVALID_HANDLE. "Local\" names
// are the plain names; "Global\" names are kept apart.
//
// An alertable wait runs the APCs queued on the calling thread (QueueUserAPC,
// thread.h) and ends with WAIT_IO_COMPLETION. Object names take a "Global\"
// or "Local\" prefix; after it a name holding a backslash fails with
// ERROR_PATH_NOT_FOUND, one starting with one with ERROR_BAD_PATHNAME.
//
// Handles keep the access they were given: creates grant all of it, the Open
// calls and DuplicateHandle what was asked. SetEvent, ResetEvent and
// PulseEvent need EVENT_MODIFY_STATE, ReleaseSemaphore SEMAPHORE_MODIFY_STATE
// and every wait SYNCHRONIZE, else ERROR_ACCESS_DENIED; ReleaseMutex needs only
// a mutex handle, as SYNCHRONIZE is all a mutex's user needs.
#pragma once

#include "platform/win32/layer/interlocked.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

#define INFINITE 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_ABANDONED_0 0x00000080L
#define WAIT_IO_COMPLETION 0x000000C0L
#define WAIT_FAILED 0xFFFFFFFFu

#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS 0x1F0003
#define MUTEX_MODIFY_STATE 0x0001
#define MUTEX_ALL_ACCESS 0x1F0001
#define SEMAPHORE_MODIFY_STATE 0x0002
#define SEMAPHORE_ALL_ACCESS 0x1F0003

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable);
// Any-of (bWaitAll false) answers WAIT_OBJECT_0 + the lowest signalled index;
// wait-all takes every object at once or none. More than MAXIMUM_WAIT_OBJECTS
// handles, none, or one object twice in a wait-all fail with
// ERROR_INVALID_PARAMETER; a handle that names no waitable object fails with
// ERROR_INVALID_HANDLE (WAIT_FAILED in both cases).
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
DWORD WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds,
                               BOOL bAlertable);

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCWSTR lpName);
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
// Releases the threads waiting at this moment (all for a manual-reset event,
// one for an auto-reset event), then leaves the event unsignalled.
BOOL PulseEvent(HANDLE hEvent);

// A mutex whose owner thread ends without releasing it is abandoned: the next
// wait that takes it answers WAIT_ABANDONED_0 + its index.
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName);
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
HANDLE OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
BOOL ReleaseMutex(HANDLE hMutex);  // ERROR_NOT_OWNER when the caller does not own it

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES lpSemaphoreAttributes, LONG lInitialCount, LONG lMaximumCount,
                        LPCWSTR lpName);
HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES lpSemaphoreAttributes, LONG lInitialCount, LONG lMaximumCount,
                        LPCSTR lpName);
HANDLE OpenSemaphoreW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
// ERROR_TOO_MANY_POSTS (count unchanged) when the count would pass the maximum.
BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount);

// Critical sections never touch the handle table: the uncontended path is one
// compare-exchange, recursion is a counter, and a contended thread sleeps on the
// lock word itself. LockCount is that word (0 free, 1 held, 2 held with
// sleepers); OwningThread holds the owner's thread id.
struct RTL_CRITICAL_SECTION {
  void* DebugInfo;
  LONG LockCount;
  LONG RecursionCount;
  HANDLE OwningThread;
  HANDLE LockSemaphore;
  ULONG_PTR SpinCount;
};
using CRITICAL_SECTION = RTL_CRITICAL_SECTION;
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
using PCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
DWORD SetCriticalSectionSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
