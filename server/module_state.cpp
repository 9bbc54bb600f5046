#include "module_state.h"

#include <new>

namespace albummaker::server {

namespace {
ModuleState g_module;
}  // namespace

ModuleState& Module() { return g_module; }

void StateInit(ModuleState& state, ObjectMapEntry* objectMap, HINSTANCE module) {
  state.module = module;
  state.objectMap = objectMap;
  InterlockedExchange(&state.lockCount, 0);
  InitializeCriticalSection(&state.typeInfoAndCleanupLock);
  InitializeCriticalSection(&state.objectMapLock);
  state.cleanups = nullptr;
}

void StateTerm(ModuleState& state) {
  DeleteCriticalSection(&state.typeInfoAndCleanupLock);
  DeleteCriticalSection(&state.objectMapLock);
  // Detach runs alone, so the list needs no lock here.
  CleanupNode* node = state.cleanups;
  state.cleanups = nullptr;
  while (node != nullptr) {
    CleanupNode* next = node->next;
    node->action(node->argument);
    delete node;
    node = next;
  }
}

void LockModule(ModuleState& state) { InterlockedIncrement(&state.lockCount); }

void UnlockModule(ModuleState& state) { InterlockedDecrement(&state.lockCount); }

LONG LockCount(ModuleState& state) {
  // An atomic read that changes nothing.
  return InterlockedCompareExchange(&state.lockCount, 0, 0);
}

HRESULT AddCleanup(ModuleState& state, CleanupAction action, void* argument) {
  auto* node = new (std::nothrow) CleanupNode{action, argument, nullptr};
  if (node == nullptr) return E_OUTOFMEMORY;
  ScopedCriticalSection hold(state.typeInfoAndCleanupLock);
  node->next = state.cleanups;
  state.cleanups = node;
  return S_OK;
}

int CleanupCount(ModuleState& state) {
  ScopedCriticalSection hold(state.typeInfoAndCleanupLock);
  int count = 0;
  for (const CleanupNode* node = state.cleanups; node != nullptr; node = node->next) ++count;
  return count;
}

}  // namespace albummaker::server
