// A minimal in-process server module for the activation and module tests.
#include "test_server.h"

#include <atomic>
#include <new>

namespace {

std::atomic<long> g_liveObjects{0};
HINSTANCE g_instance = nullptr;
char g_attachPath[4096] = "";
long g_attachResourceSize = -1;
int* g_detachFlag = nullptr;

class Value final : public testserver::ITestValue {
 public:
  Value() { ++g_liveObjects; }
  ~Value() { --g_liveObjects; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, testserver::kIidValue)) {
      *out = static_cast<testserver::ITestValue*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetValue(LONG* value) override {
    if (value == nullptr) return E_POINTER;
    *value = 42;
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{0};
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Value* value = new (std::nothrow) Value();
    if (value == nullptr) return E_OUTOFMEMORY;
    value->AddRef();
    HRESULT hr = value->QueryInterface(iid, out);
    value->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_instance = instance;
    if (GetModuleFileNameA(instance, g_attachPath, sizeof g_attachPath) == 0) g_attachPath[0] = '\0';
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(101), "REGISTRY");
    g_attachResourceSize = found ? static_cast<long>(SizeofResource(instance, found)) : -1;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    if (g_detachFlag != nullptr) *g_detachFlag = 1;
  }
  return TRUE;
}

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

TEST_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, testserver::kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

TEST_EXPORT HINSTANCE TestServerInstance() { return g_instance; }
TEST_EXPORT const char* TestServerAttachPath() { return g_attachPath; }
TEST_EXPORT long TestServerAttachResourceSize() { return g_attachResourceSize; }
TEST_EXPORT void TestServerSetDetachFlag(int* flag) { g_detachFlag = flag; }
TEST_EXPORT long TestServerLiveObjects() { return g_liveObjects.load(); }
