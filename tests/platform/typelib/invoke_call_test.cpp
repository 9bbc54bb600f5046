// The member call underneath ITypeInfo::Invoke, on an interface of its own:
// every by-value type the descriptions know, in registers and on the stack
// alike; variants by value past the registers, each a copy the member owns;
// and a member with more arguments than a call may take.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sample_object.h"

namespace typelib_test {
namespace {

// {6B1E4C2A-3F0D-4E8B-9A21-0C5D7E3F1A11}
constexpr GUID kIidCalls = {0x6B1E4C2A, 0x3F0D, 0x4E8B, {0x9A, 0x21, 0x0C, 0x5D, 0x7E, 0x3F, 0x1A, 0x11}};

constexpr size_t kVariants = 9;

// Enough integer-class arguments come before the second run of narrow ones
// (a14..a18) and enough doubles before f9 and f10 that these travel on the
// stack on every 64-bit convention. Member 3, with more arguments than a call
// may take, is added by the test.
constexpr char kDescription[] = R"(library CallsLib
  uuid 6B1E4C2A-3F0D-4E8B-9A21-0C5D7E3F1A10
  version 1.0
interface ICalls
  uuid 6B1E4C2A-3F0D-4E8B-9A21-0C5D7E3F1A11
  flags oleautomation
  base IUnknown
  method 1 Scalars
    param a1 I1
    param a2 UI1
    param a3 I2
    param a4 UI2
    param a5 I4
    param a6 UI4
    param a7 I8
    param a8 UI8
    param a9 INT
    param a10 UINT
    param a11 BOOL
    param a12 ERROR
    param a13 CY
    param a14 I1
    param a15 UI1
    param a16 I2
    param a17 UI2
    param a18 UI4
    param f1 R4
    param f2 R8
    param f3 DATE
    param f4 R8
    param f5 R8
    param f6 R8
    param f7 R8
    param f8 R8
    param f9 R4
    param f10 R8
  method 2 Variants
    param v1 VARIANT
    param v2 VARIANT
    param v3 VARIANT
    param v4 VARIANT
    param v5 VARIANT
    param v6 VARIANT
    param v7 VARIANT
    param v8 VARIANT
    param d R8
    param v9 VARIANT
    param last I4
)";

// What Scalars received.
struct Seen {
  int8_t a1 = 0;
  uint8_t a2 = 0;
  int16_t a3 = 0;
  uint16_t a4 = 0;
  int32_t a5 = 0;
  uint32_t a6 = 0;
  int64_t a7 = 0;
  uint64_t a8 = 0;
  int32_t a9 = 0;
  uint32_t a10 = 0;
  int16_t a11 = 0;
  int32_t a12 = 0;
  int64_t a13 = 0;
  int8_t a14 = 0;
  uint8_t a15 = 0;
  int16_t a16 = 0;
  uint16_t a17 = 0;
  uint32_t a18 = 0;
  double f[10] = {};
};

std::string Describe(const Seen& s) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer,
                "%d %u %d %u %d %u %lld %llu %d %u %d %d %lld | %d %u %d %u %u | %.17g %.17g %.17g %.17g %.17g "
                "%.17g %.17g %.17g %.17g %.17g",
                s.a1, s.a2, s.a3, s.a4, s.a5, s.a6, static_cast<long long>(s.a7), static_cast<unsigned long long>(s.a8),
                s.a9, s.a10, s.a11, s.a12, static_cast<long long>(s.a13), s.a14, s.a15, s.a16, s.a17, s.a18, s.f[0],
                s.f[1], s.f[2], s.f[3], s.f[4], s.f[5], s.f[6], s.f[7], s.f[8], s.f[9]);
  return buffer;
}

struct ICalls : public IUnknown {
  STDMETHOD(Scalars)
  (CHAR a1, BYTE a2, SHORT a3, USHORT a4, LONG a5, ULONG a6, LONGLONG a7, ULONGLONG a8, INT a9, UINT a10,
   VARIANT_BOOL a11, SCODE a12, CY a13, CHAR a14, BYTE a15, SHORT a16, USHORT a17, ULONG a18, FLOAT f1, DOUBLE f2,
   DATE f3, DOUBLE f4, DOUBLE f5, DOUBLE f6, DOUBLE f7, DOUBLE f8, FLOAT f9, DOUBLE f10) PURE;
  STDMETHOD(Variants)
  (VARIANT v1, VARIANT v2, VARIANT v3, VARIANT v4, VARIANT v5, VARIANT v6, VARIANT v7, VARIANT v8, DOUBLE d, VARIANT v9,
   LONG last) PURE;
  // Described with kTooMany arguments; must never be reached.
  STDMETHOD(TooMany)() PURE;
};

constexpr size_t kTooMany = 65;

class Calls final : public ICalls {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != kIidCalls) return E_NOINTERFACE;
    *ppv = static_cast<ICalls*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP Scalars(CHAR a1, BYTE a2, SHORT a3, USHORT a4, LONG a5, ULONG a6, LONGLONG a7, ULONGLONG a8, INT a9,
                       UINT a10, VARIANT_BOOL a11, SCODE a12, CY a13, CHAR a14, BYTE a15, SHORT a16, USHORT a17,
                       ULONG a18, FLOAT f1, DOUBLE f2, DATE f3, DOUBLE f4, DOUBLE f5, DOUBLE f6, DOUBLE f7, DOUBLE f8,
                       FLOAT f9, DOUBLE f10) override {
    seen = {static_cast<int8_t>(a1),
            a2,
            a3,
            a4,
            a5,
            a6,
            a7,
            a8,
            a9,
            a10,
            a11,
            a12,
            a13.int64,
            static_cast<int8_t>(a14),
            a15,
            a16,
            a17,
            a18,
            {f1, f2, f3, f4, f5, f6, f7, f8, f9, f10}};
    ++calls;
    return S_OK;
  }

  STDMETHODIMP Variants(VARIANT v1, VARIANT v2, VARIANT v3, VARIANT v4, VARIANT v5, VARIANT v6, VARIANT v7, VARIANT v8,
                        DOUBLE d, VARIANT v9, LONG last) override {
    VARIANT* all[kVariants] = {&v1, &v2, &v3, &v4, &v5, &v6, &v7, &v8, &v9};
    for (size_t i = 0; i < kVariants; ++i) {
      std::memcpy(static_cast<void*>(&variants[i]), all[i], sizeof(VARIANT));
      // The parameter is the member's own: changing it must not reach
      // the caller's arguments.
      all[i]->vt = VT_I4;
      all[i]->llVal = -1;
    }
    double_ = d;
    last_ = last;
    ++calls;
    return S_OK;
  }

  STDMETHODIMP TooMany() override {
    ++calls;
    return S_OK;
  }

  Seen seen;
  VARIANT variants[kVariants] = {};
  double double_ = 0;
  LONG last_ = 0;
  int calls = 0;
};

// A value-initialised variant (every byte zero) of the given type.
template <typename Set>
VARIANT Make(VARTYPE vt, Set set) {
  VARIANT v{};
  v.vt = vt;
  set(v);
  return v;
}

class InvokeCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string text = kDescription;
    text += "  method 3 TooMany\n";
    for (size_t i = 0; i < kTooMany; ++i) text += "    param p" + std::to_string(i) + " I4\n";
    text += "end\n";
    ASSERT_EQ(albumrt::LoadTypeLibFromDescription(text.data(), text.size(), nullptr, &lib_), S_OK);
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(kIidCalls, &info_), S_OK);
  }
  void TearDown() override {
    if (info_) info_->Release();
    if (lib_) {
      EXPECT_EQ(lib_->Release(), 0u);
    }
  }
  // args in call order; DISPPARAMS holds them reversed, in args' own
  // storage, which is put back in call order afterwards.
  HRESULT Call(MEMBERID id, std::vector<VARIANT>& args) {
    std::reverse(args.begin(), args.end());
    DISPPARAMS dp{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr =
        info_->Invoke(static_cast<ICalls*>(&object_), id, DISPATCH_METHOD, &dp, &result, nullptr, nullptr);
    std::reverse(args.begin(), args.end());
    EXPECT_EQ(result.vt, VT_EMPTY);
    return hr;
  }

  ITypeLib* lib_ = nullptr;
  ITypeInfo* info_ = nullptr;
  Calls object_;
};

TEST_F(InvokeCallTest, EveryScalarTypeArrivesWithItsValueInRegistersAndOnTheStack) {
  // Extremes of each width, so that a value read at the wrong width or
  // with the wrong extension shows.
  Seen sent;
  sent.a1 = INT8_MIN;
  sent.a2 = 0xFF;
  sent.a3 = INT16_MIN;
  sent.a4 = 0xFFFF;
  sent.a5 = INT32_MIN;
  sent.a6 = 0xFFFFFFFFu;
  sent.a7 = -0x123456789ABCDEFLL;
  sent.a8 = 0xFEDCBA9876543210ULL;
  sent.a9 = -7;
  sent.a10 = 0x80000000u;
  sent.a11 = VARIANT_TRUE;
  sent.a12 = static_cast<int32_t>(0x80070057);  // not DISP_E_PARAMNOTFOUND, which reads as missing
  sent.a13 = -123456789012345LL;
  sent.a14 = -1;
  sent.a15 = 0x80;
  sent.a16 = -2;
  sent.a17 = 0x8000;
  sent.a18 = 0xDEADBEEFu;
  const double floats[10] = {-0.5, 1e300, 45000.25, 4.5, -5.5, 6.5, 7.5, 8.5, 3.25, -2.75};
  std::memcpy(sent.f, floats, sizeof floats);

  std::vector<VARIANT> args = {
      Make(VT_I1, [&](VARIANT& v) { v.cVal = static_cast<CHAR>(sent.a1); }),
      Make(VT_UI1, [&](VARIANT& v) { v.bVal = sent.a2; }),
      Make(VT_I2, [&](VARIANT& v) { v.iVal = sent.a3; }),
      Make(VT_UI2, [&](VARIANT& v) { v.uiVal = sent.a4; }),
      Make(VT_I4, [&](VARIANT& v) { v.lVal = sent.a5; }),
      Make(VT_UI4, [&](VARIANT& v) { v.ulVal = sent.a6; }),
      Make(VT_I8, [&](VARIANT& v) { v.llVal = sent.a7; }),
      Make(VT_UI8, [&](VARIANT& v) { v.ullVal = sent.a8; }),
      Make(VT_INT, [&](VARIANT& v) { v.intVal = sent.a9; }),
      Make(VT_UINT, [&](VARIANT& v) { v.uintVal = sent.a10; }),
      Make(VT_BOOL, [&](VARIANT& v) { v.boolVal = sent.a11; }),
      Make(VT_ERROR, [&](VARIANT& v) { v.scode = sent.a12; }),
      Make(VT_CY, [&](VARIANT& v) { v.cyVal.int64 = sent.a13; }),
      Make(VT_I1, [&](VARIANT& v) { v.cVal = static_cast<CHAR>(sent.a14); }),
      Make(VT_UI1, [&](VARIANT& v) { v.bVal = sent.a15; }),
      Make(VT_I2, [&](VARIANT& v) { v.iVal = sent.a16; }),
      Make(VT_UI2, [&](VARIANT& v) { v.uiVal = sent.a17; }),
      Make(VT_UI4, [&](VARIANT& v) { v.ulVal = sent.a18; }),
      Make(VT_R4, [&](VARIANT& v) { v.fltVal = static_cast<float>(floats[0]); }),
      Make(VT_R8, [&](VARIANT& v) { v.dblVal = floats[1]; }),
      Make(VT_DATE, [&](VARIANT& v) { v.date = floats[2]; }),
  };
  for (size_t i = 3; i < 8; ++i) args.push_back(Make(VT_R8, [&](VARIANT& v) { v.dblVal = floats[i]; }));
  args.push_back(Make(VT_R4, [&](VARIANT& v) { v.fltVal = static_cast<float>(floats[8]); }));
  args.push_back(Make(VT_R8, [&](VARIANT& v) { v.dblVal = floats[9]; }));

  ASSERT_EQ(Call(1, args), S_OK);
  EXPECT_EQ(object_.calls, 1);
  EXPECT_EQ(Describe(object_.seen), Describe(sent));
}

TEST_F(InvokeCallTest, VariantsByValuePastTheRegistersAreCopiesTheMemberOwns) {
  BSTR text = SysAllocString(u"two");
  LONG target = 41;
  std::vector<VARIANT> args = {
      Make(VT_I4, [](VARIANT& v) { v.lVal = 1; }),
      Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = text; }),
      Make(VT_R8, [](VARIANT& v) { v.dblVal = 3.5; }),
      Make(static_cast<VARTYPE>(VT_BYREF | VT_I4), [&](VARIANT& v) { v.plVal = &target; }),
      Make(VT_I2, [](VARIANT& v) { v.iVal = -5; }),
      Make(VT_EMPTY, [](VARIANT&) {}),
      Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }),
      Make(VT_I8, [](VARIANT& v) { v.llVal = 0x0102030405060708LL; }),
      Make(VT_R8, [](VARIANT& v) { v.dblVal = -9.25; }),  // d
      Make(VT_CY, [](VARIANT& v) { v.cyVal.int64 = -99; }),
      Make(VT_I4, [](VARIANT& v) { v.lVal = 123456; }),  // last
  };
  const std::vector<VARIANT> before = args;
  ASSERT_EQ(Call(2, args), S_OK);
  ASSERT_EQ(object_.calls, 1);

  const size_t variantArgs[kVariants] = {0, 1, 2, 3, 4, 5, 6, 7, 9};
  for (size_t i = 0; i < kVariants; ++i) {
    // Every byte as the caller gave it: a BSTR is borrowed, a by-reference
    // variant still points at the caller's storage.
    EXPECT_EQ(std::memcmp(&object_.variants[i], &before[variantArgs[i]], sizeof(VARIANT)), 0) << "v" << i + 1;
  }
  EXPECT_EQ(object_.variants[1].bstrVal, text);
  EXPECT_EQ(object_.variants[3].plVal, &target);
  EXPECT_EQ(object_.double_, -9.25);
  EXPECT_EQ(object_.last_, 123456);
  // The member changed its parameters; the arguments Invoke was handed
  // are as they were.
  for (size_t i = 0; i < args.size(); ++i)
    EXPECT_EQ(std::memcmp(&args[i], &before[i], sizeof(VARIANT)), 0) << "argument " << i;
  SysFreeString(text);
}

TEST_F(InvokeCallTest, MoreArgumentsThanACallTakesAreRefusedWithoutCalling) {
  std::vector<VARIANT> args;
  for (size_t i = 0; i < kTooMany; ++i) args.push_back(Make(VT_I4, [&](VARIANT& v) { v.lVal = static_cast<LONG>(i); }));
  EXPECT_EQ(Call(3, args), DISP_E_BADCALLEE);
  EXPECT_EQ(object_.calls, 0);
}

}  // namespace
}  // namespace typelib_test
