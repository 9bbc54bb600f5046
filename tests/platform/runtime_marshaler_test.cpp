// The free-threaded marshaler as an aggregate: its IMarshal counts on and
// answers through the controlling unknown; only the inner unknown owns it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <ole2.h>

#include "owners.h"

namespace {

// A minimal aggregating object that exposes the marshaler's IMarshal as its own.
class Outer : public IUnknown {
 public:
  Outer() { created = CoCreateFreeThreadedMarshaler(this, &inner); }
  virtual ~Outer() {
    if (inner != nullptr) inner->Release();
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    ++queries;
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (IsEqualIID(riid, IID_IMarshal)) return inner->QueryInterface(riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }  // the test owns the object

  IUnknown* inner = nullptr;
  HRESULT created = E_FAIL;
  std::atomic<ULONG> refs{1};
  std::atomic<int> queries{0};
};

TEST(RuntimeMarshaler, AggregatedMarshalCountsOnTheOuterObject) {
  Outer outer;
  ASSERT_EQ(outer.created, S_OK);
  ASSERT_NE(outer.inner, nullptr);
  EXPECT_EQ(outer.refs.load(), 1u);  // creating the aggregate takes no outer reference

  IMarshal* marshal = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
  ASSERT_NE(marshal, nullptr);
  EXPECT_EQ(outer.refs.load(), 2u);
  EXPECT_EQ(marshal->AddRef(), 3u);
  EXPECT_EQ(marshal->Release(), 2u);

  // Identity: IUnknown through IMarshal is the outer object, not the inner one.
  am::ComPtr<IUnknown> identity;
  ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
  EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
  EXPECT_NE(identity.get(), outer.inner);
  identity.reset();  // the counts below expect the outer reference back now
  // Any other query also goes to the outer object.
  int before = outer.queries.load();
  void* none = nullptr;
  EXPECT_EQ(marshal->QueryInterface(IID_IDispatch, &none), E_NOINTERFACE);
  EXPECT_EQ(outer.queries.load(), before + 1);

  EXPECT_EQ(marshal->Release(), 1u);
  EXPECT_EQ(outer.refs.load(), 1u);
  // ~Outer releases the inner unknown; ASan reports the marshaler if it leaked.
}

TEST(RuntimeMarshaler, InnerUnknownKeepsItsOwnIdentityAndCount) {
  Outer outer;
  ASSERT_EQ(outer.created, S_OK);
  IUnknown* self = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self)), S_OK);
  EXPECT_EQ(self, outer.inner);
  EXPECT_EQ(outer.refs.load(), 1u);
  EXPECT_EQ(self->Release(), 1u);  // back to the aggregator's single reference

  void* none = &none;
  EXPECT_EQ(outer.inner->QueryInterface(IID_IDispatch, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(outer.inner->QueryInterface(IID_IMarshal, nullptr), E_POINTER);
}

TEST(RuntimeMarshaler, WithoutAnOuterObjectItIsItsOwnIdentity) {
  IUnknown* inner = nullptr;
  ASSERT_EQ(CoCreateFreeThreadedMarshaler(nullptr, &inner), S_OK);
  IMarshal* marshal = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
  IUnknown* identity = nullptr;
  ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, inner);
  EXPECT_EQ(identity->Release(), 2u);
  EXPECT_EQ(marshal->Release(), 1u);
  EXPECT_EQ(inner->Release(), 0u);  // destroyed here; ASan reports a leak otherwise
}

TEST(RuntimeMarshaler, MarshalsNothingInsideOneProcess) {
  am::ComPtr<IUnknown> inner;
  ASSERT_EQ(CoCreateFreeThreadedMarshaler(nullptr, inner.put()), S_OK);
  am::ComPtr<IMarshal> marshal;
  ASSERT_EQ(inner->QueryInterface(IID_IMarshal, marshal.put_void()), S_OK);
  DWORD size = 5;
  EXPECT_EQ(marshal->GetMarshalSizeMax(IID_IUnknown, nullptr, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL, &size),
            E_NOTIMPL);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(marshal->DisconnectObject(0), S_OK);
  EXPECT_EQ(CoCreateFreeThreadedMarshaler(nullptr, nullptr), E_INVALIDARG);
}

TEST(RuntimeMarshaler, CountsStayExactAcrossThreads) {
  IUnknown* inner = nullptr;
  ASSERT_EQ(CoCreateFreeThreadedMarshaler(nullptr, &inner), S_OK);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([inner] {
      for (int i = 0; i < 1000; ++i) {
        am::ComPtr<IMarshal> m;
        (void)inner->QueryInterface(IID_IMarshal, m.put_void());
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(inner->AddRef(), 2u);
  EXPECT_EQ(inner->Release(), 1u);
  EXPECT_EQ(inner->Release(), 0u);
}

}  // namespace
