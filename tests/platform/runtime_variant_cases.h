// Expected results of variant coercion with the en-US rules. The same table
// runs against the Linux runtime and, in the Windows build, against the real
// oleaut32, so every row is checked against the platform it imitates.
#pragma once

#include <windows.h>
#include <ole2.h>

namespace variant_cases {

struct Value {
  VARTYPE vt;
  long long i;
  double r;
  const char16_t* s;
};

constexpr Value Empty() { return {VT_EMPTY, 0, 0, nullptr}; }
constexpr Value Null() { return {VT_NULL, 0, 0, nullptr}; }
constexpr Value I2(long long v) { return {VT_I2, v, 0, nullptr}; }
constexpr Value I4(long long v) { return {VT_I4, v, 0, nullptr}; }
constexpr Value UI1(long long v) { return {VT_UI1, v, 0, nullptr}; }
constexpr Value UI4(long long v) { return {VT_UI4, v, 0, nullptr}; }
constexpr Value R4(double v) { return {VT_R4, 0, v, nullptr}; }
constexpr Value R8(double v) { return {VT_R8, 0, v, nullptr}; }
constexpr Value Bool(bool v) { return {VT_BOOL, v ? -1 : 0, 0, nullptr}; }
constexpr Value Str(const char16_t* v) { return {VT_BSTR, 0, 0, v}; }
// A failed conversion: no value to compare.
constexpr Value None() { return {VT_ILLEGAL, 0, 0, nullptr}; }

struct Case {
  Value from;
  VARTYPE to;
  HRESULT hr;
  Value expected;  // its vt is ignored; the target type says which field counts
  USHORT flags = 0;
};

constexpr HRESULT kOk = S_OK;
constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;
constexpr HRESULT kOverflow = DISP_E_OVERFLOW;

inline const Case kCases[] = {
    // Empty is 0, false and the empty string; Null converts to nothing but Null.
    {Empty(), VT_I2, kOk, I2(0)},
    {Empty(), VT_I4, kOk, I4(0)},
    {Empty(), VT_UI1, kOk, UI1(0)},
    {Empty(), VT_UI4, kOk, UI4(0)},
    {Empty(), VT_R4, kOk, R4(0)},
    {Empty(), VT_R8, kOk, R8(0)},
    {Empty(), VT_BOOL, kOk, Bool(false)},
    {Empty(), VT_BSTR, kOk, Str(u"")},
    {Empty(), VT_EMPTY, kOk, Empty()},
    {Null(), VT_I4, kMismatch, None()},
    {Null(), VT_I2, kMismatch, None()},
    {Null(), VT_R8, kMismatch, None()},
    {Null(), VT_BOOL, kMismatch, None()},
    {Null(), VT_BSTR, kMismatch, None()},
    {Null(), VT_NULL, kOk, Null()},
    {Null(), VT_EMPTY, kMismatch, None()},
    {I4(5), VT_EMPTY, kOk, Empty()},
    {I4(5), VT_NULL, kOk, Null()},
    {Str(u"x"), VT_NULL, kOk, Null()},

    // Integers: widening, narrowing and the range limits of each type.
    {I2(-5), VT_I4, kOk, I4(-5)},
    {I2(-5), VT_UI1, kOverflow, None()},
    {I2(-5), VT_UI4, kOverflow, None()},
    {I2(-5), VT_BSTR, kOk, Str(u"-5")},
    {I2(-5), VT_R8, kOk, R8(-5)},
    {I2(-5), VT_R4, kOk, R4(-5)},
    {I2(7), VT_BOOL, kOk, Bool(true)},
    {I2(0), VT_BOOL, kOk, Bool(false)},
    {I4(32767), VT_I2, kOk, I2(32767)},
    {I4(32768), VT_I2, kOverflow, None()},
    {I4(-32768), VT_I2, kOk, I2(-32768)},
    {I4(-32769), VT_I2, kOverflow, None()},
    {I4(70000), VT_I2, kOverflow, None()},
    {I4(255), VT_UI1, kOk, UI1(255)},
    {I4(256), VT_UI1, kOverflow, None()},
    // Integers of the same width convert bit for bit; other widths check the range.
    {I4(-1), VT_UI4, kOk, UI4(4294967295LL)},
    {UI4(4294967295LL), VT_I4, kOk, I4(-1)},
    {I2(-1), VT_UI4, kOverflow, None()},
    {I4(-1), VT_UI1, kOverflow, None()},
    {I4(2147483647), VT_BSTR, kOk, Str(u"2147483647")},
    {I4(-2147483647 - 1), VT_BSTR, kOk, Str(u"-2147483648")},
    {I4(-2147483647 - 1), VT_R8, kOk, R8(-2147483648.0)},
    {UI1(200), VT_I2, kOk, I2(200)},
    {UI1(200), VT_BSTR, kOk, Str(u"200")},
    {UI4(4294967295LL), VT_R8, kOk, R8(4294967295.0)},
    {UI4(4294967295LL), VT_BSTR, kOk, Str(u"4294967295")},
    {UI4(2147483647), VT_I4, kOk, I4(2147483647)},

    // Reals to integers round half to even and then check the range.
    {R8(2.5), VT_I4, kOk, I4(2)},
    {R8(3.5), VT_I4, kOk, I4(4)},
    {R8(-2.5), VT_I4, kOk, I4(-2)},
    {R8(-3.5), VT_I4, kOk, I4(-4)},
    {R8(2.4999), VT_I4, kOk, I4(2)},
    {R8(2.6), VT_I2, kOk, I2(3)},
    {R8(254.5), VT_UI1, kOk, UI1(254)},
    {R8(255.5), VT_UI1, kOverflow, None()},
    {R8(32767.5), VT_I2, kOverflow, None()},
    {R8(32767.4), VT_I2, kOk, I2(32767)},
    {R8(2147483647.4), VT_I4, kOk, I4(2147483647)},
    {R8(2147483648.0), VT_I4, kOverflow, None()},
    {R8(4294967295.0), VT_UI4, kOk, UI4(4294967295LL)},
    {R8(-1.0), VT_UI4, kOverflow, None()},
    {R8(1.5), VT_R4, kOk, R4(1.5)},
    {R8(1e39), VT_R4, kOverflow, None()},
    {R8(0.5), VT_BOOL, kOk, Bool(true)},
    {R8(0.0), VT_BOOL, kOk, Bool(false)},
    {R4(2.5), VT_I2, kOk, I2(2)},
    {R4(1.5), VT_R8, kOk, R8(1.5)},

    // Reals to text: 15 significant digits (7 for single precision), the
    // exponent form for large and small magnitudes.
    {R8(1e20), VT_BSTR, kOk, Str(u"1E+20")},
    {R8(1.5), VT_BSTR, kOk, Str(u"1.5")},
    {R8(0.1), VT_BSTR, kOk, Str(u"0.1")},
    {R8(-0.5), VT_BSTR, kOk, Str(u"-0.5")},
    {R8(100.0), VT_BSTR, kOk, Str(u"100")},
    {R8(1.0 / 3.0), VT_BSTR, kOk, Str(u"0.333333333333333")},
    {R8(2.0 / 3.0), VT_BSTR, kOk, Str(u"0.666666666666667")},
    {R8(123456789012345.0), VT_BSTR, kOk, Str(u"123456789012345")},
    {R8(1e15), VT_BSTR, kOk, Str(u"1E+15")},
    {R8(1234567890123456.0), VT_BSTR, kOk, Str(u"1.23456789012346E+15")},
    {R8(0.0001), VT_BSTR, kOk, Str(u"0.0001")},
    {R8(0.00001), VT_BSTR, kOk, Str(u"1E-05")},
    {R8(1.5e-7), VT_BSTR, kOk, Str(u"1.5E-07")},
    {R8(-2.5e100), VT_BSTR, kOk, Str(u"-2.5E+100")},
    {R8(-0.0), VT_BSTR, kOk, Str(u"0")},
    {R8(123456.7), VT_BSTR, kOk, Str(u"123456.7")},
    {R8(0.1 + 0.2), VT_BSTR, kOk, Str(u"0.3")},
    {R4(1.5), VT_BSTR, kOk, Str(u"1.5")},
    {R4(0.1f), VT_BSTR, kOk, Str(u"0.1")},
    {R4(1e10), VT_BSTR, kOk, Str(u"1E+10")},
    {R4(1234567.0), VT_BSTR, kOk, Str(u"1234567")},
    {R4(16777216.0), VT_BSTR, kOk, Str(u"1.677722E+07")},

    // Booleans: true is -1.
    {Bool(true), VT_I2, kOk, I2(-1)},
    {Bool(true), VT_I4, kOk, I4(-1)},
    {Bool(true), VT_R8, kOk, R8(-1)},
    {Bool(false), VT_R8, kOk, R8(0)},
    {Bool(true), VT_UI1, kOk, UI1(255)},
    {Bool(true), VT_UI4, kOk, UI4(4294967295LL)},
    {Bool(true), VT_BOOL, kOk, Bool(true)},
    {Bool(true), VT_BSTR, kOk, Str(u"True"), VARIANT_ALPHABOOL},
    {Bool(false), VT_BSTR, kOk, Str(u"False"), VARIANT_ALPHABOOL},
    {Bool(true), VT_BSTR, kOk, Str(u"-1")},
    {Bool(false), VT_BSTR, kOk, Str(u"0")},

    // Text to numbers.
    {Str(u"42"), VT_I4, kOk, I4(42)},
    {Str(u" 12 "), VT_I4, kOk, I4(12)},
    {Str(u"\t42\r\n"), VT_I4, kOk, I4(42)},
    {Str(u"+12"), VT_I4, kOk, I4(12)},
    {Str(u"-12"), VT_I4, kOk, I4(-12)},
    {Str(u"12-"), VT_I4, kOk, I4(-12)},
    {Str(u"12+"), VT_I4, kOk, I4(12)},
    {Str(u"(12)"), VT_I4, kOk, I4(-12)},
    {Str(u"--12"), VT_I4, kMismatch, None()},
    {Str(u"- 12"), VT_I4, kOk, I4(-12)},
    {Str(u"5$"), VT_I4, kOk, I4(5)},
    {Str(u",5"), VT_I4, kMismatch, None()},
    {Str(u"1e"), VT_I4, kMismatch, None()},
    {Str(u"12e-1"), VT_I4, kOk, I4(1)},
    {Str(u"-12-"), VT_I4, kMismatch, None()},
    {Str(u"(12"), VT_I4, kMismatch, None()},
    {Str(u"$1,234.50"), VT_R8, kOk, R8(1234.5)},
    {Str(u"-$5"), VT_I4, kOk, I4(-5)},
    {Str(u"1,234"), VT_I4, kOk, I4(1234)},
    {Str(u"1,234,567"), VT_I4, kOk, I4(1234567)},
    {Str(u"1.5e3"), VT_I4, kOk, I4(1500)},
    {Str(u"1.5E+3"), VT_R8, kOk, R8(1500)},
    {Str(u"25E-1"), VT_I4, kOk, I4(2)},
    {Str(u"2.5"), VT_I4, kOk, I4(2)},
    {Str(u"3.5"), VT_I4, kOk, I4(4)},
    {Str(u"-2.5"), VT_I2, kOk, I2(-2)},
    {Str(u"0.5"), VT_I4, kOk, I4(0)},
    {Str(u"1.5"), VT_I4, kOk, I4(2)},
    {Str(u"2.500001"), VT_I4, kOk, I4(3)},
    {Str(u"12.5"), VT_UI1, kOk, UI1(12)},
    {Str(u"-0.5"), VT_UI1, kOk, UI1(0)},
    {Str(u"-0.4"), VT_UI4, kOk, UI4(0)},
    {Str(u".5"), VT_R8, kOk, R8(0.5)},
    {Str(u"0.1"), VT_R8, kOk, R8(0.1)},
    {Str(u"&H1F"), VT_I4, kOk, I4(31)},
    {Str(u"&hff"), VT_UI1, kOk, UI1(255)},
    {Str(u"&O17"), VT_I4, kOk, I4(15)},
    {Str(u"&H10"), VT_R8, kOk, R8(16)},
    {Str(u"&HG"), VT_I4, kMismatch, None()},
    {Str(u"&"), VT_I4, kMismatch, None()},
    // A radix number that fills the target's width is taken bit for bit.
    {Str(u"&HFFFF"), VT_I2, kOk, I2(-1)},
    {Str(u"&HFFFFFFFF"), VT_I4, kOk, I4(-1)},
    {Str(u"&HFFFFFFFF"), VT_UI4, kOk, UI4(4294967295LL)},
    {Str(u"&H10000"), VT_I2, kOverflow, None()},
    {Str(u"abc"), VT_I4, kMismatch, None()},
    {Str(u""), VT_I4, kMismatch, None()},
    {Str(u"   "), VT_I4, kMismatch, None()},
    {Str(u"12abc"), VT_I4, kMismatch, None()},
    {Str(u"12 34"), VT_I4, kMismatch, None()},
    {Str(u"1.2.3"), VT_R8, kMismatch, None()},
    {Str(u"abc"), VT_R8, kMismatch, None()},
    {Str(u"32768"), VT_I2, kOverflow, None()},
    {Str(u"-32768"), VT_I2, kOk, I2(-32768)},
    {Str(u"256"), VT_UI1, kOverflow, None()},
    {Str(u"4294967295"), VT_UI4, kOk, UI4(4294967295LL)},
    {Str(u"4294967296"), VT_UI4, kOverflow, None()},
    {Str(u"-1"), VT_UI4, kOverflow, None()},
    {Str(u"2147483648"), VT_I4, kOverflow, None()},
    {Str(u"1E+20"), VT_I4, kOverflow, None()},
    {Str(u"1E+20"), VT_R8, kOk, R8(1e20)},
    {Str(u"1e400"), VT_R8, kOverflow, None()},
    {Str(u"3.5e38"), VT_R4, kOverflow, None()},
#if defined(_WIN64)
    // The platform differs by architecture here: the real oleaut32 of a
    // 64-bit process ends one unit in the last place above the nearest double
    // (0x43E56A95319D63E2), where the 32-bit one, which computes with the
    // x87's wider intermediates, and the Linux runtime give the nearest.
    {Str(u"12345678901234567890"), VT_R8, kOk, R8(12345678901234569216.0)},
#else
    {Str(u"12345678901234567890"), VT_R8, kOk, R8(12345678901234567890.0)},
#endif
    {Str(u"12345678901234567890"), VT_I4, kOverflow, None()},

    // Text to booleans: the English names or any number.
    {Str(u"True"), VT_BOOL, kOk, Bool(true)},
    {Str(u"false"), VT_BOOL, kOk, Bool(false)},
    {Str(u"1"), VT_BOOL, kOk, Bool(true)},
    {Str(u"0"), VT_BOOL, kOk, Bool(false)},
    {Str(u"-2.5"), VT_BOOL, kOk, Bool(true)},
    {Str(u"yes"), VT_BOOL, kMismatch, None()},
    {Str(u"#TRUE#"), VT_BOOL, kOk, Bool(true)},
    {Str(u" True "), VT_BOOL, kMismatch, None()},
    {Str(u"1e400"), VT_BOOL, kOverflow, None()},
    {Str(u"hello"), VT_BSTR, kOk, Str(u"hello")},
};

}  // namespace variant_cases
