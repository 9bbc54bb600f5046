#include "class_factory.h"

#include <new>

#include "caught_exception.h"
#include "com_util.h"

namespace albummaker::server {

HRESULT RegisterAlbumMakerClass(BOOL doRegister);  // registration.cpp

namespace {

const OLECHAR* NoDescription() { return nullptr; }
const void* NoCategories() { return nullptr; }
void NothingToStartOrStop(bool) {}

ObjectMapEntry g_objectMap[] = {
    {&kClsidAlbumMaker,
     &RegisterAlbumMakerClass,
     &CachedClassFactory::Create,
     &CreateAlbumMaker,
     {nullptr},
     &NoDescription,
     &NoCategories,
     &NothingToStartOrStop},
    {nullptr, nullptr, nullptr, nullptr, {nullptr}, nullptr, nullptr, nullptr},
};

HRESULT CreatePlain(REFIID iid, void** out) {
  HRESULT result = E_OUTOFMEMORY;
  auto* object = new (std::nothrow) AlbumMaker();
  if (object == nullptr) return result;
  LockModule(Module());
  // The raised count keeps references the marshaler takes and drops while
  // it is made from destroying the object.
  object->InternalAddRef();
  result = object->FinishConstruction();
  object->InternalRelease();
  if (result == S_OK) result = object->QueryInterface(iid, out);
  if (result != S_OK) {
    // Counts 0 or 1 here; either way the object goes.
    object->InternalAddRef();
    object->Release();
    return result;
  }
  return S_OK;
}

HRESULT CreateAggregated(IUnknown* outer, REFIID iid, void** out) {
  HRESULT result = E_OUTOFMEMORY;
  auto* aggregate = new (std::nothrow) AggregatedAlbumMaker(outer);
  if (aggregate == nullptr) return result;
  LockModule(Module());
  result = aggregate->Contained().FinishConstruction();
  if (result == S_OK) result = aggregate->QueryInterface(iid, out);
  if (result != S_OK) {
    aggregate->Destroy();
    return result;
  }
  return S_OK;
}

}  // namespace

ObjectMapEntry* AlbumObjectMap() { return g_objectMap; }

HRESULT ModuleInit(ObjectMapEntry* objectMap, HINSTANCE module) {
  StateInit(Module(), objectMap, module);
  for (ObjectMapEntry* row = objectMap; row->clsid != nullptr; ++row) row->startStop(true);
  return S_OK;
}

void ModuleTerm() {
  ModuleState& module = Module();
  for (ObjectMapEntry* row = module.objectMap; row != nullptr && row->clsid != nullptr; ++row) {
    IUnknown* cached = row->classObject.exchange(nullptr);
    if (cached != nullptr) cached->Release();
    row->startStop(false);
  }
  StateTerm(module);
}

// ---------------------------------------------------------------------------
// Class object

CachedClassFactory::CachedClassFactory(InstanceCreator creator) : creator_(creator) {
  InitializeCriticalSection(&countLock_);
}

CachedClassFactory::~CachedClassFactory() { DeleteCriticalSection(&countLock_); }

HRESULT CachedClassFactory::Create(InstanceCreator creator, REFIID iid, void** out) {
  auto* factory = new (std::nothrow) CachedClassFactory(creator);
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = factory->QueryInterface(iid, out);
  if (result != S_OK) delete factory;
  return result;
}

HRESULT STDMETHODCALLTYPE CachedClassFactory::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!SameGuid(iid, IID_IUnknown) && !SameGuid(iid, IID_IClassFactory)) return E_NOINTERFACE;
  AddRef();
  *out = static_cast<IClassFactory*>(this);
  return S_OK;
}

ULONG STDMETHODCALLTYPE CachedClassFactory::AddRef() {
  ScopedCriticalSection hold(countLock_);
  const LONG count = InterlockedIncrement(&refCount_);
  // The object map's own reference holds no module lock; the first one
  // from outside does.
  if (count == 2) LockModule(Module());
  return static_cast<ULONG>(count);
}

ULONG STDMETHODCALLTYPE CachedClassFactory::Release() {
  LONG count;
  {
    ScopedCriticalSection hold(countLock_);
    count = InterlockedDecrement(&refCount_);
    if (count == 1) UnlockModule(Module());
  }
  if (count == 0) {
    InterlockedExchange(&refCount_, 1);
    delete this;
  }
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CachedClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr && !SameGuid(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return creator_(outer, iid, out);
}

HRESULT STDMETHODCALLTYPE CachedClassFactory::LockServer(BOOL lock) {
  if (lock) {
    LockModule(Module());
  } else {
    UnlockModule(Module());
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// Aggregate

AggregatedAlbumMaker::AggregatedAlbumMaker(IUnknown* outer) : contained_(outer) {}

HRESULT STDMETHODCALLTYPE AggregatedAlbumMaker::QueryInterface(REFIID iid, void** out) {
  if (SameGuid(iid, IID_IUnknown)) {
    if (out == nullptr) return E_POINTER;
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  return contained_.InternalQueryInterface(iid, out);
}

ULONG STDMETHODCALLTYPE AggregatedAlbumMaker::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG STDMETHODCALLTYPE AggregatedAlbumMaker::Release() {
  const LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) Destroy();
  return static_cast<ULONG>(count);
}

void AggregatedAlbumMaker::Destroy() {
  InterlockedExchange(&refCount_, 1);
  contained_.BeginDestruction();
  UnlockModule(Module());
  delete this;
}

// ---------------------------------------------------------------------------

HRESULT CreateAlbumMaker(IUnknown* outer, REFIID iid, void** out) {
  try {
    return outer == nullptr ? CreatePlain(iid, out) : CreateAggregated(outer, iid, out);
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

}  // namespace albummaker::server

using namespace albummaker::server;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  HRESULT result = S_OK;
  ModuleState& module = Module();
  for (ObjectMapEntry* row = module.objectMap; row != nullptr && row->clsid != nullptr; ++row) {
    if (row->createClassObject == nullptr || !SameGuid(*row->clsid, clsid)) continue;
    if (row->classObject.load() == nullptr) {
      ScopedCriticalSection hold(module.objectMapLock);
      if (row->classObject.load() == nullptr) {
        void* created = nullptr;
        result = row->createClassObject(row->createInstance, IID_IUnknown, &created);
        row->classObject.store(static_cast<IUnknown*>(created));
      }
    }
    IUnknown* cached = row->classObject.load();
    if (cached != nullptr) result = cached->QueryInterface(iid, out);
    break;
  }
  if (*out == nullptr && result == S_OK) result = CLASS_E_CLASSNOTAVAILABLE;
  return result;
}

STDAPI DllCanUnloadNow() { return LockCount(Module()) == 0 ? S_OK : S_FALSE; }
