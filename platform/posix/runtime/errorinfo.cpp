// Error information: an object carrying a description, source, help file and
// context, and one slot per thread that SetErrorInfo fills and GetErrorInfo
// empties.
#include <atomic>
#include <mutex>
#include <new>
#include <string>

#include <ole2.h>

#include "caught_exception.h"

namespace {

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
 public:
  // IUnknown (shared by both interfaces)
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IErrorInfo)) {
      *ppv = static_cast<IErrorInfo*>(this);
    } else if (IsEqualIID(riid, IID_ICreateErrorInfo)) {
      *ppv = static_cast<ICreateErrorInfo*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      refs_ = 1;  // guards against a re-entrant release while destroying
      delete this;
    }
    return left;
  }

  // IErrorInfo
  STDMETHODIMP GetGUID(GUID* pGUID) override {
    if (pGUID == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *pGUID = guid_;
    return S_OK;
  }
  STDMETHODIMP GetSource(BSTR* p) override { return Get(source_, p); }
  STDMETHODIMP GetDescription(BSTR* p) override { return Get(description_, p); }
  STDMETHODIMP GetHelpFile(BSTR* p) override { return Get(helpFile_, p); }
  STDMETHODIMP GetHelpContext(DWORD* p) override {
    if (p == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *p = helpContext_;
    return S_OK;
  }

  // ICreateErrorInfo
  STDMETHODIMP SetGUID(REFGUID rguid) override {
    std::lock_guard lock(mutex_);
    guid_ = rguid;
    return S_OK;
  }
  STDMETHODIMP SetSource(LPOLESTR s) override { return Set(source_, s); }
  STDMETHODIMP SetDescription(LPOLESTR s) override { return Set(description_, s); }
  STDMETHODIMP SetHelpFile(LPOLESTR s) override { return Set(helpFile_, s); }
  STDMETHODIMP SetHelpContext(DWORD context) override {
    std::lock_guard lock(mutex_);
    helpContext_ = context;
    return S_OK;
  }

 private:
  struct Text {
    bool set = false;
    std::u16string value;
  };

  HRESULT Get(const Text& field, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (!field.set) {
      *out = nullptr;
      return S_OK;
    }
    *out = SysAllocStringLen(field.value.data(), static_cast<UINT>(field.value.size()));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  HRESULT Set(Text& field, LPOLESTR s) {
    try {
      std::u16string value = s != nullptr ? std::u16string(s) : std::u16string();
      std::lock_guard lock(mutex_);
      field.set = s != nullptr;
      field.value.swap(value);
      return S_OK;
    } catch (...) {
      return am::ResultFromCaughtException();
    }
  }

  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;
  GUID guid_{};
  Text source_, description_, helpFile_;
  DWORD helpContext_ = 0;
};

// The calling thread's error object; released when the thread ends.
struct ThreadSlot {
  IErrorInfo* info = nullptr;
  ~ThreadSlot() {
    if (info != nullptr) info->Release();
  }
};
thread_local ThreadSlot t_slot;

}  // namespace

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  auto* info = new (std::nothrow) ErrorInfo();
  *pperrinfo = info;
  return info == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  if (perrinfo != nullptr) perrinfo->AddRef();
  IErrorInfo* old = t_slot.info;
  t_slot.info = perrinfo;
  // Released after the slot changed, so a release that sets error info again is safe.
  if (old != nullptr) old->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (dwReserved != 0 || pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = t_slot.info;  // the caller now owns the slot's reference
  t_slot.info = nullptr;
  return *pperrinfo != nullptr ? S_OK : S_FALSE;
}

}  // extern "C"
