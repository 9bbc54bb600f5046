// Runs the coercion table: plain sources, sources passed by reference
// (VT_BYREF|type) and sources behind VT_BYREF|VT_VARIANT, as late-bound
// callers pass variables. Built natively against the runtime and for Windows
// against oleaut32.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "runtime_variant_cases.h"

namespace {

using variant_cases::Case;
using variant_cases::Value;

constexpr LCID kEnglishUs = 0x0409;

std::u16string Text(BSTR s) { return std::u16string(reinterpret_cast<const char16_t*>(s), SysStringLen(s)); }

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::string Describe(const Value& v) {
  std::ostringstream out;
  out << "vt " << v.vt << " ";
  if (v.vt == VT_BSTR)
    out << '"' << Narrow(v.s) << '"';
  else if (v.vt == VT_R4 || v.vt == VT_R8)
    out << v.r;
  else
    out << v.i;
  return out.str();
}

// Builds the source variant; owns what it allocates.
class SourceVariant {
 public:
  enum class Pass { ByValue, ByRef, ByRefVariant };

  SourceVariant(const Value& v, Pass pass) {
    VariantInit(&value_);
    VariantInit(&ref_);
    value_.vt = v.vt;
    switch (v.vt) {
      case VT_I2:
        value_.iVal = static_cast<SHORT>(v.i);
        break;
      case VT_I4:
        value_.lVal = static_cast<LONG>(v.i);
        break;
      case VT_UI1:
        value_.bVal = static_cast<BYTE>(v.i);
        break;
      case VT_UI4:
        value_.ulVal = static_cast<ULONG>(v.i);
        break;
      case VT_R4:
        value_.fltVal = static_cast<FLOAT>(v.r);
        break;
      case VT_R8:
        value_.dblVal = v.r;
        break;
      case VT_BOOL:
        value_.boolVal = v.i != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      case VT_BSTR:
        value_.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(v.s),
                                           static_cast<UINT>(std::char_traits<char16_t>::length(v.s)));
        break;
      default:
        break;
    }
    if (pass == Pass::ByRef) {
      ref_.vt = static_cast<VARTYPE>(VT_BYREF | v.vt);
      ref_.byref = &value_.lVal;  // every member of the value union starts at the same address
    } else if (pass == Pass::ByRefVariant) {
      ref_.vt = VT_BYREF | VT_VARIANT;
      ref_.pvarVal = &value_;
    }
    source_ = pass == Pass::ByValue ? &value_ : &ref_;
  }
  ~SourceVariant() { VariantClear(&value_); }
  SourceVariant(const SourceVariant&) = delete;
  SourceVariant& operator=(const SourceVariant&) = delete;

  VARIANT* get() { return source_; }
  const VARIANT& value() const { return value_; }

 private:
  VARIANT value_;
  VARIANT ref_;
  VARIANT* source_ = nullptr;
};

void ExpectValue(const Case& c, const VARIANT& got, const std::string& where) {
  ASSERT_EQ(got.vt, c.to) << where;
  switch (c.to) {
    case VT_I2:
      EXPECT_EQ(got.iVal, c.expected.i) << where;
      break;
    case VT_I4:
      EXPECT_EQ(got.lVal, c.expected.i) << where;
      break;
    case VT_UI1:
      EXPECT_EQ(got.bVal, c.expected.i) << where;
      break;
    case VT_UI4:
      EXPECT_EQ(static_cast<long long>(got.ulVal), c.expected.i) << where;
      break;
    case VT_R4:
      EXPECT_EQ(got.fltVal, static_cast<FLOAT>(c.expected.r)) << where;
      break;
    case VT_R8:
      EXPECT_EQ(got.dblVal, c.expected.r) << where;
      break;
    case VT_BOOL:
      EXPECT_EQ(got.boolVal, c.expected.i != 0 ? VARIANT_TRUE : VARIANT_FALSE) << where;
      break;
    case VT_BSTR:
      ASSERT_NE(got.bstrVal, nullptr) << where;
      EXPECT_EQ(Narrow(Text(got.bstrVal)), Narrow(c.expected.s)) << where;
      break;
    default:
      break;
  }
}

class VariantTable : public ::testing::TestWithParam<SourceVariant::Pass> {};

TEST_P(VariantTable, EveryCaseConvertsAsTheTableSays) {
  const SourceVariant::Pass pass = GetParam();
  int index = 0;
  for (const Case& c : variant_cases::kCases) {
    ++index;
    // Empty and Null have no by-reference form.
    if (pass != SourceVariant::Pass::ByValue && (c.from.vt == VT_EMPTY || c.from.vt == VT_NULL)) continue;
    SourceVariant src(c.from, pass);
    std::ostringstream where;
    where << "case " << index << ": " << Describe(c.from) << " -> vt " << c.to << " flags " << c.flags;

    VARIANT dst;
    VariantInit(&dst);
    HRESULT hr = VariantChangeTypeEx(&dst, src.get(), kEnglishUs, c.flags, c.to);
    EXPECT_EQ(hr, c.hr) << where.str() << std::hex << " got 0x" << static_cast<unsigned long>(hr);
    if (hr == S_OK && c.hr == S_OK) ExpectValue(c, dst, where.str());
    if (FAILED(hr)) {
      EXPECT_EQ(dst.vt, VT_EMPTY) << where.str() << ": a failed conversion leaves the target alone";
    }
    VariantClear(&dst);

    // The source is left as it was.
    EXPECT_EQ(src.value().vt, c.from.vt) << where.str();
    if (c.from.vt == VT_BSTR) {
      EXPECT_EQ(Text(src.value().bstrVal), std::u16string(c.from.s)) << where.str();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Passing, VariantTable,
                         ::testing::Values(SourceVariant::Pass::ByValue, SourceVariant::Pass::ByRef,
                                           SourceVariant::Pass::ByRefVariant),
                         [](const ::testing::TestParamInfo<SourceVariant::Pass>& info) {
                           switch (info.param) {
                             case SourceVariant::Pass::ByValue:
                               return std::string("ByValue");
                             case SourceVariant::Pass::ByRef:
                               return std::string("ByRef");
                             default:
                               return std::string("ByRefVariant");
                           }
                         });

// VarUI4FromStr follows the same text rules as a conversion to VT_UI4.
TEST(VariantTableText, VarUI4FromStrAgreesWithTheTable) {
  int checked = 0;
  for (const Case& c : variant_cases::kCases) {
    if (c.from.vt != VT_BSTR || c.to != VT_UI4) continue;
    ULONG out = 0;
    std::u16string text(c.from.s);
    HRESULT hr = VarUI4FromStr(reinterpret_cast<OLECHAR*>(text.data()), kEnglishUs, 0, &out);
    EXPECT_EQ(hr, c.hr) << Narrow(text);
    if (hr == S_OK && c.hr == S_OK) {
      EXPECT_EQ(static_cast<long long>(out), c.expected.i) << Narrow(text);
    }
    ++checked;
  }
  EXPECT_GE(checked, 3);
}

// The same conversion in place: the destination is the source.
TEST(VariantTableText, ConvertsInPlace) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(reinterpret_cast<const OLECHAR*>(u" 1,234 "));
  ASSERT_EQ(VariantChangeTypeEx(&v, &v, kEnglishUs, 0, VT_I4), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 1234);
  ASSERT_EQ(VariantChangeTypeEx(&v, &v, kEnglishUs, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(v.bstrVal), u"1234");
  VariantClear(&v);
}

}  // namespace
