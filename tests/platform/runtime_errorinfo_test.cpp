// Error information: one slot per thread, handed over by GetErrorInfo.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <ole2.h>

#include "owners.h"

namespace {

std::u16string Take(BSTR s) {
  const am::UniqueBstr owned(s);
  return s != nullptr ? std::u16string(s, SysStringLen(s)) : u"<null>";
}

// An IErrorInfo that records its reference count and its destruction.
class CountedErrorInfo : public IErrorInfo {
 public:
  explicit CountedErrorInfo(std::atomic<int>* destroyed) : destroyed_(destroyed) {}
  virtual ~CountedErrorInfo() { ++*destroyed_; }
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetGUID(GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetSource(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDescription(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetHelpFile(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetHelpContext(DWORD*) override { return E_NOTIMPL; }
  std::atomic<ULONG> refs{1};

 private:
  std::atomic<int>* destroyed_;
};

TEST(RuntimeErrorInfo, CarriesWhatWasSetAndIsOneObject) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);

  BSTR unset = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(info->GetDescription(&unset), S_OK);
  EXPECT_EQ(unset, nullptr);

  EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(u"Folder missing")), S_OK);
  EXPECT_EQ(create->SetSource(const_cast<LPOLESTR>(u"Quorrel.AlbumMaker.1")), S_OK);
  EXPECT_EQ(create->SetGUID(IID_IDispatch), S_OK);
  EXPECT_EQ(create->SetHelpContext(7), S_OK);
  BSTR s = nullptr;
  ASSERT_EQ(info->GetDescription(&s), S_OK);
  EXPECT_EQ(Take(s), u"Folder missing");
  ASSERT_EQ(info->GetSource(&s), S_OK);
  EXPECT_EQ(Take(s), u"Quorrel.AlbumMaker.1");
  GUID g{};
  ASSERT_EQ(info->GetGUID(&g), S_OK);
  EXPECT_TRUE(g == IID_IDispatch);
  DWORD context = 0;
  ASSERT_EQ(info->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 7u);

  // Both interfaces answer the same identity.
  {
    am::ComPtr<IUnknown> a, b;
    ASSERT_EQ(create->QueryInterface(IID_IUnknown, a.put_void()), S_OK);
    ASSERT_EQ(info->QueryInterface(IID_IUnknown, b.put_void()), S_OK);
    EXPECT_EQ(a.get(), b.get());
    void* none = &g;
    EXPECT_EQ(info->QueryInterface(IID_IDispatch, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
  }
  EXPECT_EQ(info->Release(), 1u);
  EXPECT_EQ(create->Release(), 0u);  // ASan reports a leak if the object survived
}

TEST(RuntimeErrorInfo, GetHandsTheObjectOverAndEmptiesTheSlot) {
  std::atomic<int> destroyed{0};
  am::ComPtr<CountedErrorInfo> mine(new CountedErrorInfo(&destroyed));
  auto* info = mine.get();
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);
  EXPECT_EQ(info->refs.load(), 2u);  // the slot holds a reference of its own
  mine.reset();                      // from here only the slot keeps it alive

  am::ComPtr<IErrorInfo> got;
  ASSERT_EQ(GetErrorInfo(0, got.put()), S_OK);
  EXPECT_EQ(got.get(), info);
  EXPECT_EQ(info->refs.load(), 1u);  // the slot's reference passed to the caller
  IErrorInfo* again = reinterpret_cast<IErrorInfo*>(1);
  EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
  EXPECT_EQ(again, nullptr);
  got.reset();
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(RuntimeErrorInfo, SettingReplacesAndReleasesThePrevious) {
  std::atomic<int> destroyed{0};
  am::ComPtr<CountedErrorInfo> first(new CountedErrorInfo(&destroyed));
  am::ComPtr<CountedErrorInfo> second(new CountedErrorInfo(&destroyed));
  SetErrorInfo(0, first.get());
  first.reset();
  SetErrorInfo(0, second.get());
  second.reset();
  EXPECT_EQ(destroyed.load(), 1);
  SetErrorInfo(0, nullptr);  // clearing releases too
  EXPECT_EQ(destroyed.load(), 2);
  IErrorInfo* got = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);

  EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(1, &got), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
}

TEST(RuntimeErrorInfo, EachThreadHasItsOwnSlot) {
  constexpr int kThreads = 4;
  std::atomic<int> destroyed{0};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        am::ComPtr<CountedErrorInfo> mine(new CountedErrorInfo(&destroyed));
        SetErrorInfo(0, mine.get());
        std::this_thread::yield();
        am::ComPtr<IErrorInfo> got;
        if (GetErrorInfo(0, got.put()) != S_OK || got.get() != mine.get()) ++mismatches;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(destroyed.load(), kThreads * 200);
}

TEST(RuntimeErrorInfo, AThreadThatEndsReleasesWhatItLeftBehind) {
  std::atomic<int> destroyed{0};
  std::thread worker([&] {
    am::ComPtr<CountedErrorInfo> left(new CountedErrorInfo(&destroyed));
    SetErrorInfo(0, left.get());
  });
  worker.join();
  EXPECT_EQ(destroyed.load(), 1);
  IErrorInfo* got = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);  // nothing leaked into this thread
}

}  // namespace
