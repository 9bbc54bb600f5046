// Kernel services: the calling thread's last error, critical sections and
// interlocked counters.
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

#include <windows.h>

namespace {
thread_local DWORD t_lastError = 0;

std::atomic_ref<LONG> Counter(LONG volatile* value) {
  // The pointee is an ordinary LONG; volatile only mirrors the Win32 signature.
  return std::atomic_ref<LONG>(*const_cast<LONG*>(value));
}
}  // namespace

extern "C" {

DWORD GetLastError(void) { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs == nullptr) return;
  cs->Impl = new (std::nothrow) std::recursive_mutex();
  // A section that cannot lock would let callers race; as on Windows, running
  // out of memory here ends the process.
  if (cs->Impl == nullptr) std::abort();
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs == nullptr || cs->Impl == nullptr) return;
  static_cast<std::recursive_mutex*>(cs->Impl)->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs == nullptr || cs->Impl == nullptr) return;
  static_cast<std::recursive_mutex*>(cs->Impl)->unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs == nullptr) return;
  delete static_cast<std::recursive_mutex*>(cs->Impl);
  cs->Impl = nullptr;
}

LONG InterlockedIncrement(LONG volatile* value) { return Counter(value).fetch_add(1) + 1; }

LONG InterlockedDecrement(LONG volatile* value) { return Counter(value).fetch_sub(1) - 1; }

LONG InterlockedExchange(LONG volatile* target, LONG value) { return Counter(target).exchange(value); }

LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  Counter(target).compare_exchange_strong(comparand, exchange);
  return comparand;  // the value found, whether or not it was replaced
}

}  // extern "C"
