// Counting COM objects for the runtime tests: they record their reference
// count and whether they were destroyed, so tests can see every AddRef and
// Release the runtime makes.
#pragma once

#include <atomic>

#include <ole2.h>

namespace runtime_test {

// An IDispatch whose default property (DISPID_VALUE) yields a fixed I4.
class CountingDispatch : public IDispatch {
 public:
  explicit CountingDispatch(LONG value = 0, std::atomic<bool>* destroyed = nullptr)
      : value_(value), destroyed_(destroyed) {}
  virtual ~CountingDispatch() {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    ++invokes;
    if (id != DISPID_VALUE || (flags & DISPATCH_PROPERTYGET) == 0 || params == nullptr || params->cArgs != 0)
      return DISP_E_MEMBERNOTFOUND;
    if (result == nullptr) return E_POINTER;
    result->vt = VT_I4;
    result->lVal = value_;
    return S_OK;
  }

  std::atomic<ULONG> refs{1};
  std::atomic<int> invokes{0};

 private:
  LONG value_;
  std::atomic<bool>* destroyed_;
};

// A plain IUnknown that answers nothing else.
class CountingUnknown : public IUnknown {
 public:
  virtual ~CountingUnknown() = default;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack
  std::atomic<ULONG> refs{1};
};

}  // namespace runtime_test
