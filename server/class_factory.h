// The object map, the cached class object of AlbumMaker, the creation
// sequences, and the module start and stop that the entry points run.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>

#include "album_maker.h"
#include "module_state.h"

namespace albummaker::server {

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);
using ClassObjectCreator = HRESULT (*)(InstanceCreator creator, REFIID iid, void** out);

struct ObjectMapEntry {
  const CLSID* clsid;  // null ends the map
  HRESULT (*registration)(BOOL doRegister);
  ClassObjectCreator createClassObject;
  InstanceCreator createInstance;
  std::atomic<IUnknown*> classObject;  // cached; tested before and after the map lock
  const OLECHAR* (*description)();
  const void* (*categories)();
  void (*startStop)(bool starting);
};

// The module's map: one row for AlbumMaker and the end row.
ObjectMapEntry* AlbumObjectMap();

HRESULT ModuleInit(ObjectMapEntry* objectMap, HINSTANCE module);
void ModuleTerm();

// The class object: creates AlbumMaker objects through its creation function.
class CachedClassFactory final : public IClassFactory {
 public:
  explicit CachedClassFactory(InstanceCreator creator);
  ~CachedClassFactory();
  CachedClassFactory(const CachedClassFactory&) = delete;
  CachedClassFactory& operator=(const CachedClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  static HRESULT Create(InstanceCreator creator, REFIID iid, void** out);

 private:
  LONG refCount_ = 0;
  InstanceCreator creator_;
  CRITICAL_SECTION countLock_;
};

// An AlbumMaker inside an outer object: this is the inner unknown that the
// outer object holds; the contained object's pointers go to clients.
class AggregatedAlbumMaker final : public IUnknown {
 public:
  explicit AggregatedAlbumMaker(IUnknown* outer);
  AggregatedAlbumMaker(const AggregatedAlbumMaker&) = delete;
  AggregatedAlbumMaker& operator=(const AggregatedAlbumMaker&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  AlbumMaker& Contained() { return contained_; }
  void Destroy();

 private:
  LONG refCount_ = 0;
  AlbumMaker contained_;
};

// Plain creation without an outer object, aggregated creation with one.
HRESULT CreateAlbumMaker(IUnknown* outer, REFIID iid, void** out);

}  // namespace albummaker::server

// The module's exported entry points.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out);
STDAPI DllCanUnloadNow(void);
STDAPI DllRegisterServer(void);
STDAPI DllUnregisterServer(void);
// regsvr32 /n /i:user (install TRUE) and regsvr32 /u /n /i:user (FALSE): the
// same entries under HKEY_CURRENT_USER\Software\Classes. An empty command
// line is the per-machine registration; any other is E_INVALIDARG.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine);
