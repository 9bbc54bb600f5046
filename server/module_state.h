// Module-wide data of the component server: the module handle, the object
// map, the module lock count, the two module locks and the clean-up actions
// that run when the module is torn down.
#pragma once

#include <windows.h>

namespace albummaker::server {

struct ObjectMapEntry;

using CleanupAction = void (*)(void* argument);

struct CleanupNode {
  CleanupAction action;
  void* argument;
  CleanupNode* next;
};

// Plain data with no constructor or destructor of its own, so the one
// instance outlives every static object that might still use it while the
// module detaches.
struct ModuleState {
  HINSTANCE module;
  ObjectMapEntry* objectMap;
  LONG lockCount;
  CRITICAL_SECTION typeInfoAndCleanupLock;
  CRITICAL_SECTION objectMapLock;
  CleanupNode* cleanups;  // newest first
};

// The process's one module state.
ModuleState& Module();

void StateInit(ModuleState& state, ObjectMapEntry* objectMap, HINSTANCE module);
void StateTerm(ModuleState& state);
void LockModule(ModuleState& state);
void UnlockModule(ModuleState& state);
LONG LockCount(ModuleState& state);
HRESULT AddCleanup(ModuleState& state, CleanupAction action, void* argument);
// Number of registered clean-up actions (for diagnostics and tests).
int CleanupCount(ModuleState& state);

// Holds one of the module's re-entrant locks for a scope.
class ScopedCriticalSection {
 public:
  explicit ScopedCriticalSection(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
  ~ScopedCriticalSection() { LeaveCriticalSection(&cs_); }
  ScopedCriticalSection(const ScopedCriticalSection&) = delete;
  ScopedCriticalSection& operator=(const ScopedCriticalSection&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

}  // namespace albummaker::server
