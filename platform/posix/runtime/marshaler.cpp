// The free-threaded marshaler. Inside one process nothing is marshalled, so
// its IMarshal answers E_NOTIMPL; what matters is that it is a correct
// aggregate: the inner unknown owns the object's life, while IMarshal hands
// reference counting and QueryInterface to the controlling unknown.
#include <atomic>
#include <new>

#include <ole2.h>

namespace {

class FreeThreadedMarshaler final {
 public:
  explicit FreeThreadedMarshaler(IUnknown* outer)
      : inner_(this), marshal_(this), outer_(outer != nullptr ? outer : &inner_) {}

  IUnknown* Inner() { return &inner_; }

 private:
  // The non-delegating unknown: the aggregator's private handle on us.
  struct NonDelegating final : IUnknown {
    explicit NonDelegating(FreeThreadedMarshaler* owner) : owner_(owner) {}
    FreeThreadedMarshaler& self() { return *owner_; }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      if (ppv == nullptr) return E_POINTER;
      FreeThreadedMarshaler& m = self();
      if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
      } else if (IsEqualIID(riid, IID_IMarshal)) {
        *ppv = static_cast<IMarshal*>(&m.marshal_);
        m.marshal_.AddRef();  // counts on the controlling unknown
      } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++self().refs_; }
    STDMETHODIMP_(ULONG) Release() override {
      FreeThreadedMarshaler& m = self();
      ULONG left = --m.refs_;
      if (left == 0) {
        m.refs_ = 1;  // guards against a re-entrant release while destroying
        delete &m;
      }
      return left;
    }

    FreeThreadedMarshaler* owner_;
  };

  // IMarshal: everything IUnknown goes to the controlling unknown.
  struct Marshal final : IMarshal {
    explicit Marshal(FreeThreadedMarshaler* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return owner_->outer_->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->outer_->Release(); }
    STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID* pCid) override {
      if (pCid != nullptr) *pCid = CLSID_NULL;
      return E_NOTIMPL;
    }
    STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD* pSize) override {
      if (pSize != nullptr) *pSize = 0;
      return E_NOTIMPL;
    }
    STDMETHODIMP MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnmarshalInterface(IStream*, REFIID, void** ppv) override {
      if (ppv != nullptr) *ppv = nullptr;
      return E_NOTIMPL;
    }
    STDMETHODIMP ReleaseMarshalData(IStream*) override { return E_NOTIMPL; }
    STDMETHODIMP DisconnectObject(DWORD) override { return S_OK; }  // nothing is connected

    FreeThreadedMarshaler* owner_;
  };

  NonDelegating inner_;
  Marshal marshal_;
  IUnknown* outer_;  // not counted: the aggregator outlives its parts
  std::atomic<ULONG> refs_{1};
};

}  // namespace

extern "C" HRESULT CoCreateFreeThreadedMarshaler(LPUNKNOWN punkOuter, LPUNKNOWN* ppunkMarshal) {
  if (ppunkMarshal == nullptr) return E_INVALIDARG;
  auto* m = new (std::nothrow) FreeThreadedMarshaler(punkOuter);
  if (m == nullptr) {
    *ppunkMarshal = nullptr;
    return E_OUTOFMEMORY;
  }
  *ppunkMarshal = m->Inner();
  return S_OK;
}
