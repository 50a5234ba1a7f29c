// Interlocked operations on aligned 32-bit, 64-bit and pointer-sized words.
// Every one is a full barrier, as on Windows.
#pragma once

#include "platform/win32/layer/types.h"

inline LONG InterlockedIncrement(LONG volatile* addend) {
  return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* addend) {
  return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
// Returns the previous value.
inline LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* addend, LONG value) {
  return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedOr(LONG volatile* target, LONG value) {
  return __atomic_fetch_or(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedAnd(LONG volatile* target, LONG value) {
  return __atomic_fetch_and(target, value, __ATOMIC_SEQ_CST);
}
// Returns the value found; the exchange happened when that equals comparand.
inline LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}
inline LONGLONG InterlockedCompareExchange64(LONGLONG volatile* destination, LONGLONG exchange,
                                             LONGLONG comparand) {
  __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}
inline LONGLONG InterlockedExchange64(LONGLONG volatile* target, LONGLONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONGLONG InterlockedExchangeAdd64(LONGLONG volatile* addend, LONGLONG value) {
  return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* destination, PVOID exchange, PVOID comparand) {
  __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}
inline void MemoryBarrier() { __atomic_thread_fence(__ATOMIC_SEQ_CST); }
