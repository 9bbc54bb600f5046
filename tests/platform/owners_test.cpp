// The owner library (platform/common/owners.h) and the one mapping from a
// caught exception to a result code: what each owner closes, when, and what
// moving and giving up leave behind.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "caught_exception.h"
#include "owners.h"

namespace {

// OLECHAR is wchar_t on Windows and char16_t on Linux; both are 16-bit units.
BSTR MakeBstr(const char16_t* text) { return SysAllocString(reinterpret_cast<const OLECHAR*>(text)); }

// Records every handle it is asked to close.
struct RecordClose {
  std::vector<int>* closed = nullptr;
  static int Invalid() noexcept { return 0; }
  void operator()(int h) const noexcept { closed->push_back(h); }
};
using Recorded = am::UniqueHandle<int, RecordClose>;

TEST(UniqueHandle, ClosesOnceOnEveryWayOut) {
  std::vector<int> closed;
  {
    Recorded a(1, RecordClose{&closed});
    EXPECT_TRUE(a);
    a.reset(2);    // 1 closes
    *a.put() = 3;  // 2 closes
    EXPECT_EQ(a.get(), 3);
    EXPECT_EQ(a.release(), 3);  // given up: never closed
    EXPECT_FALSE(a);
    a.reset(4);
  }  // 4 closes
  EXPECT_EQ(closed, (std::vector<int>{1, 2, 4}));
}

TEST(UniqueHandle, MovesWithoutClosingTwice) {
  std::vector<int> closed;
  Recorded a(5, RecordClose{&closed});
  Recorded b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(b.get(), 5);
  Recorded c(6, RecordClose{&closed});
  c = std::move(b);  // c's 6 closes, 5 moves in
  EXPECT_EQ(closed, (std::vector<int>{6}));
  EXPECT_EQ(c.get(), 5);
  c.reset();
  EXPECT_EQ(closed, (std::vector<int>{6, 5}));
  static_assert(!std::is_copy_constructible_v<Recorded> && !std::is_copy_assignable_v<Recorded>);
  static_assert(std::is_nothrow_move_constructible_v<Recorded>);
}

// An object that counts its references and never frees itself.
class Counted : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  long refs = 1;
};

TEST(ComPtr, PutAndResetReleaseDetachGivesUp) {
  Counted first, second;
  am::ComPtr<IUnknown> p(&first);
  *p.put() = &second;  // put() releases what it held
  EXPECT_EQ(first.refs, 0);
  EXPECT_EQ(p.get(), &second);
  p.reset();
  EXPECT_EQ(second.refs, 0);
  EXPECT_FALSE(p);

  Counted third;
  p.reset(&third);  // takes the reference over, adds none
  EXPECT_EQ(third.refs, 1);
  IUnknown* raw = p.detach();
  EXPECT_EQ(raw, &third);
  EXPECT_EQ(third.refs, 1);
  EXPECT_FALSE(p);
}

TEST(ComPtr, MoveHandsTheReferenceOn) {
  Counted object, other;
  am::ComPtr<IUnknown> a(&object);
  am::ComPtr<IUnknown> b(std::move(a));
  EXPECT_EQ(a.get(), nullptr);
  am::ComPtr<IUnknown> c(&other);
  c = std::move(b);
  EXPECT_EQ(other.refs, 0);
  EXPECT_EQ(object.refs, 1);
  c.reset();
  EXPECT_EQ(object.refs, 0);
  static_assert(!std::is_copy_constructible_v<am::ComPtr<IUnknown>>);
}

TEST(UniqueVariant, ClearsWhatItHoldsAndMovesIt) {
  Counted object;
  object.refs = 3;
  {
    am::UniqueVariant v;
    V_VT(v.get()) = VT_UNKNOWN;
    V_UNKNOWN(v.get()) = &object;
    am::UniqueVariant moved(std::move(v));
    EXPECT_EQ(V_VT(v.get()), VT_EMPTY);
    EXPECT_EQ(V_VT(moved.get()), VT_UNKNOWN);
    EXPECT_EQ(object.refs, 3);

    VARIANT* out = moved.put();  // the reference is released first
    EXPECT_EQ(object.refs, 2);
    EXPECT_EQ(V_VT(out), VT_EMPTY);
    V_VT(out) = VT_UNKNOWN;
    V_UNKNOWN(out) = &object;
    const VARIANT given = moved.release();
    EXPECT_EQ(V_VT(moved.get()), VT_EMPTY);
    EXPECT_EQ(V_UNKNOWN(&given), &object);

    am::UniqueVariant again;
    again.reset(given);
    am::UniqueVariant target;
    V_VT(target.get()) = VT_UNKNOWN;
    V_UNKNOWN(target.get()) = &object;
    target = std::move(again);  // target's own reference goes
    EXPECT_EQ(object.refs, 1);
  }
  EXPECT_EQ(object.refs, 0);
}

TEST(UniqueBstr, OwnsAndGivesUp) {
  am::UniqueBstr s(MakeBstr(u"text"));
  ASSERT_TRUE(s);
  EXPECT_EQ(SysStringLen(s.get()), 4u);
  am::UniqueBstr t(std::move(s));
  EXPECT_FALSE(s);
  BSTR raw = t.release();
  EXPECT_FALSE(t);
  t.reset(raw);
  *t.put() = MakeBstr(u"other");  // the first string is freed
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(t.get())), u"other");
}

TEST(UniqueExcepInfo, FreesItsStringsAndStartsEmpty) {
  am::UniqueExcepInfo info;
  EXCEPINFO* out = info.put();
  EXPECT_EQ(out->bstrDescription, nullptr);
  out->bstrSource = MakeBstr(u"source");
  out->bstrDescription = MakeBstr(u"description");
  out->scode = E_FAIL;
  am::UniqueExcepInfo moved(std::move(info));
  EXPECT_EQ(info->bstrSource, nullptr);
  ASSERT_NE(moved->bstrDescription, nullptr);
  moved.reset();
  EXPECT_EQ(moved->bstrSource, nullptr);
  EXPECT_EQ(moved->scode, 0);
}

TEST(UniqueTaskMemory, FreesWithTheTaskAllocator) {
  am::UniqueTaskMemory<OLECHAR> text(static_cast<OLECHAR*>(CoTaskMemAlloc(8 * sizeof(OLECHAR))));
  ASSERT_TRUE(text);
  text.reset();
  EXPECT_FALSE(text);
}

TEST(Apartment, JoinsAndLeavesOnce) {
  am::Apartment apartment;
  EXPECT_TRUE(SUCCEEDED(apartment.result()));
  am::Apartment moved(std::move(apartment));
  EXPECT_TRUE(SUCCEEDED(moved.result()));
  EXPECT_TRUE(FAILED(apartment.result()));  // the move took the leave along
}

#ifndef _WIN32
TEST(UniqueFd, ClosesTheDescriptor) {
  int fd = -1;
  {
    am::UniqueFd owned(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(owned);
    fd = owned.get();
    EXPECT_NE(::fcntl(fd, F_GETFD), -1);
  }
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  am::UniqueFd kept(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int given = kept.release();
  EXPECT_NE(::fcntl(given, F_GETFD), -1);
  ::close(given);
}
#else
TEST(UniqueFindHandle, ClosesTheSearch) {
  WIN32_FIND_DATAW found{};
  wchar_t folder[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(folder, MAX_PATH), 0u);
  am::UniqueFindHandle find(FindFirstFileW((std::wstring(folder) + L"\\*").c_str(), &found));
  ASSERT_TRUE(find);
  EXPECT_TRUE(FindNextFileW(find.get(), &found));
  find.reset();
  EXPECT_FALSE(find);
  const am::UniqueFindHandle none(FindFirstFileW(L"Z:\\no such folder\\*", &found));
  EXPECT_FALSE(none);
}
#endif

// The mapping -----------------------------------------------------------------

std::string g_reported;
HRESULT Report(const char* message) {
  g_reported = message;
  return DISP_E_EXCEPTION;
}

template <typename Throw>
HRESULT Caught(Throw raise, am::EngineErrorReport report = nullptr) {
  try {
    raise();
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException(report);
  }
}

TEST(ResultFromCaughtException, EachKindOfFailure) {
  EXPECT_EQ(Caught([] { throw std::bad_alloc(); }, &Report), E_OUTOFMEMORY);
  g_reported.clear();
  EXPECT_EQ(Caught([] { throw std::runtime_error("engine says no"); }, &Report), DISP_E_EXCEPTION);
  EXPECT_EQ(g_reported, "engine says no");
  // Without a report an engine error is a plain failure.
  EXPECT_EQ(Caught([] { throw std::runtime_error("x"); }), E_FAIL);
  // A failing lock is no engine error and no lack of memory.
  g_reported.clear();
  EXPECT_EQ(
      Caught([] { throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur)); }, &Report),
      E_FAIL);
  EXPECT_EQ(g_reported, "");
  EXPECT_EQ(Caught([] { throw std::logic_error("bug"); }, &Report), E_FAIL);
  EXPECT_EQ(Caught([] { throw 42; }, &Report), E_FAIL);
}

}  // namespace
