// VARIANT life cycle and type coercion with the en-US rules of OLE
// Automation: text to number accepts white space, a leading or trailing sign,
// parentheses, "$", thousands separators, a fraction and an exponent, and the
// "&H"/"&O" radix prefixes; numbers become integers rounded half to even;
// reals become text with 15 (single precision: 7) significant digits.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include <ole2.h>

#include "caught_exception.h"
#include "owners.h"
#include "runtime_internal.h"

namespace {

using Int = __int128;

constexpr VARTYPE kExtendedBits = VT_BYREF | VT_ARRAY;

bool IsKnownBase(VARTYPE base) {
  return (base <= VT_DECIMAL && base != 15) || (base >= VT_I1 && base <= VT_UINT) || base == VT_RECORD;
}

// Whether a variant may carry vt at all.
bool IsValidVariantType(VARTYPE vt) {
  if ((vt & ~(VT_TYPEMASK | kExtendedBits)) != 0) return false;
  VARTYPE base = vt & VT_TYPEMASK;
  if (!IsKnownBase(base)) return false;
  if (base == VT_VARIANT && (vt & kExtendedBits) == 0) return false;
  if ((vt & VT_BYREF) != 0 && base <= VT_NULL) return false;
  if ((vt & VT_ARRAY) != 0 && base <= VT_NULL) return false;
  return true;
}

// Types whose contents this runtime can own: arrays and records cannot be
// held, so they are refused rather than leaked or freed wrongly.
bool IsOwnable(VARTYPE vt) {
  if ((vt & VT_BYREF) != 0) return true;
  if ((vt & VT_ARRAY) != 0) return false;
  return vt != VT_RECORD;
}

// ---- Text to number ------------------------------------------------------

// An exact number read from text: (-1)^negative * digits * 10^exp10, or an
// unsigned value given with a radix prefix.
struct Number {
  bool negative = false;
  std::string digits;  // without leading zeros; empty means zero
  long exp10 = 0;
  bool radix = false;
  unsigned long long radixValue = 0;

  bool IsZero() const { return radix ? radixValue == 0 : digits.empty(); }
};

bool IsSpace(char16_t c) { return c == u' ' || (c >= 0x09 && c <= 0x0D) || c == 0xA0; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c; }

HRESULT ParseRadix(const char16_t* p, const char16_t* end, Number& out) {
  // p points after "&".
  if (p == end) return DISP_E_TYPEMISMATCH;
  unsigned base = 8;
  if (Upper(*p) == u'H') {
    base = 16;
    ++p;
  } else if (Upper(*p) == u'O') {
    ++p;
  }
  if (p == end) return DISP_E_TYPEMISMATCH;
  unsigned long long value = 0;
  bool overflow = false;
  for (; p != end; ++p) {
    char16_t c = Upper(*p);
    unsigned d = 0;
    if (IsDigit(c))
      d = c - u'0';
    else if (base == 16 && c >= u'A' && c <= u'F')
      d = c - u'A' + 10;
    else
      return DISP_E_TYPEMISMATCH;
    if (d >= base) return DISP_E_TYPEMISMATCH;
    if (value > (std::numeric_limits<unsigned long long>::max() - d) / base) overflow = true;
    value = value * base + d;
  }
  if (overflow) return DISP_E_OVERFLOW;
  out.radix = true;
  out.radixValue = value;
  return S_OK;
}

HRESULT ParseNumber(const OLECHAR* text, size_t length, Number& out) {
  out = Number{};
  const char16_t* p = text;
  const char16_t* end = text + length;
  while (p != end && IsSpace(*p)) ++p;
  while (end != p && IsSpace(end[-1])) --end;
  if (p == end) return DISP_E_TYPEMISMATCH;
  if (*p == u'&') return ParseRadix(p + 1, end, out);

  bool paren = false, sign = false, currency = false;
  if (*p == u'(') {
    paren = true;
    ++p;
  }
  // Leading sign and currency sign, in either order, each at most once.
  for (;;) {
    while (p != end && IsSpace(*p)) ++p;
    if (p == end) return DISP_E_TYPEMISMATCH;
    if ((*p == u'-' || *p == u'+') && !sign) {
      sign = true;
      out.negative = *p == u'-';
      ++p;
    } else if (*p == u'$' && !currency) {
      currency = true;
      ++p;
    } else {
      break;
    }
  }

  bool anyDigit = false, point = false;
  long fractionDigits = 0;
  for (; p != end; ++p) {
    if (IsDigit(*p)) {
      anyDigit = true;
      if (!out.digits.empty() || *p != u'0') out.digits.push_back(static_cast<char>(*p));
      if (point) ++fractionDigits;
    } else if (*p == u',' && !point && anyDigit) {
      continue;  // thousands separator
    } else if (*p == u'.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return DISP_E_TYPEMISMATCH;
  // Fraction digits after leading zeros still scale the value.
  if (out.digits.empty()) fractionDigits = 0;

  long exponent = 0;
  if (p != end && Upper(*p) == u'E') {
    ++p;
    bool expNegative = false;
    if (p != end && (*p == u'-' || *p == u'+')) {
      expNegative = *p == u'-';
      ++p;
    }
    if (p == end || !IsDigit(*p)) return DISP_E_TYPEMISMATCH;
    for (; p != end && IsDigit(*p); ++p)
      if (exponent < 100000) exponent = exponent * 10 + (*p - u'0');
    if (expNegative) exponent = -exponent;
  }

  while (p != end && IsSpace(*p)) ++p;
  if (p != end && (*p == u'-' || *p == u'+') && !sign && !paren) {
    sign = true;
    out.negative = *p == u'-';
    ++p;
  }
  while (p != end && IsSpace(*p)) ++p;
  if (p != end && *p == u'$' && !currency) {
    currency = true;
    ++p;
  }
  while (p != end && IsSpace(*p)) ++p;
  if (paren) {
    if (p == end || *p != u')') return DISP_E_TYPEMISMATCH;
    ++p;
    out.negative = true;
  }
  if (p != end) return DISP_E_TYPEMISMATCH;

  // Trailing zeros become exponent so the digit string stays short.
  while (!out.digits.empty() && out.digits.back() == '0') {
    out.digits.pop_back();
    --fractionDigits;
  }
  out.exp10 = exponent - fractionDigits;
  if (out.digits.empty()) out.negative = false;
  return S_OK;
}

// Rounds half to even; false when the magnitude exceeds what Int can hold.
bool RoundToInt(const Number& n, Int& out) {
  if (n.radix) {
    out = static_cast<Int>(n.radixValue);
    return true;
  }
  if (n.digits.empty()) {
    out = 0;
    return true;
  }
  long intDigits = static_cast<long>(n.digits.size()) + n.exp10;
  if (intDigits > 30) return false;
  Int value = 0;
  for (long i = 0; i < intDigits; ++i) {
    int d = i < static_cast<long>(n.digits.size()) ? n.digits[i] - '0' : 0;
    value = value * 10 + d;
  }
  // The digits after the decimal point decide the rounding: the first one,
  // and whether any other is non-zero (trailing zeros were dropped, so any
  // digit after the first means a non-zero rest).
  int roundDigit = 0;
  bool restNonZero = false;
  if (intDigits >= 0) {
    if (intDigits < static_cast<long>(n.digits.size())) {
      roundDigit = n.digits[intDigits] - '0';
      restNonZero = intDigits + 1 < static_cast<long>(n.digits.size());
    }
  } else {
    restNonZero = true;  // below 0.1 and not zero: the first fraction digit is 0
  }
  if (roundDigit > 5 || (roundDigit == 5 && (restNonZero || (value & 1) != 0))) ++value;
  out = n.negative ? -value : value;
  return true;
}

HRESULT NumberToReal(const Number& n, double& out) {
  if (n.radix) {
    out = static_cast<double>(n.radixValue);
    return S_OK;
  }
  if (n.digits.empty()) {
    out = 0.0;
    return S_OK;
  }
  if (n.exp10 + static_cast<long>(n.digits.size()) > 400) return DISP_E_OVERFLOW;
  if (n.exp10 + static_cast<long>(n.digits.size()) < -400) {
    out = 0.0;
    return S_OK;
  }
  std::string text = (n.negative ? "-" : "") + n.digits + "e" + std::to_string(n.exp10);
  errno = 0;
  double v = std::strtod(text.c_str(), nullptr);
  if (std::isinf(v)) return DISP_E_OVERFLOW;
  out = v;
  return S_OK;
}

HRESULT ParseBstr(BSTR s, Number& out) {
  if (s == nullptr) return DISP_E_TYPEMISMATCH;
  return ParseNumber(s, SysStringLen(s), out);
}

// ---- Number to text ------------------------------------------------------

BSTR AsciiToBstr(const char* text) {
  size_t n = std::strlen(text);
  BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  if (s == nullptr) return nullptr;
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<unsigned char>(text[i]);
  return s;
}

// Shortest form with the given number of significant digits: positional,
// or d.dddE+xx when the exponent is below -4 or reaches the precision.
std::string FormatReal(double v, int precision) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  if (v == 0.0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*E", precision - 1, v);
  // Read digits and exponent without relying on the C locale's decimal point.
  std::string digits;
  const char* p = buf;
  bool negative = *p == '-';
  if (negative) ++p;
  for (; *p != 'E' && *p != '\0'; ++p)
    if (*p >= '0' && *p <= '9') digits.push_back(*p);
  int exponent = *p == 'E' ? std::atoi(p + 1) : 0;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exponent < -4 || exponent >= precision) {
    out += digits[0];
    if (digits.size() > 1) out += "." + digits.substr(1);
    char e[16];
    std::snprintf(e, sizeof e, "E%c%02d", exponent < 0 ? '-' : '+', exponent < 0 ? -exponent : exponent);
    out += e;
  } else if (exponent < 0) {
    out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  } else if (static_cast<int>(digits.size()) <= exponent + 1) {
    out += digits + std::string(static_cast<size_t>(exponent + 1) - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<size_t>(exponent) + 1) + "." + digits.substr(static_cast<size_t>(exponent) + 1);
  }
  return out;
}

std::string FormatInt(Int v) {
  if (v == 0) return "0";
  bool negative = v < 0;
  std::string out;
  while (v != 0) {
    int d = static_cast<int>(v % 10);
    out.insert(out.begin(), static_cast<char>('0' + (d < 0 ? -d : d)));
    v /= 10;
  }
  return negative ? "-" + out : out;
}

// Currency: a scaled 64-bit integer with four decimal places.
std::string FormatCurrency(LONGLONG scaled) {
  Int v = scaled;
  bool negative = v < 0;
  if (negative) v = -v;
  std::string out = FormatInt(v / 10000);
  std::string frac = FormatInt(v % 10000 + 10000).substr(1);
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (!frac.empty()) out += "." + frac;
  return negative ? "-" + out : out;
}

Number CurrencyNumber(LONGLONG scaled) {
  Number n;
  Int v = scaled;
  n.negative = v < 0;
  n.digits = FormatInt(n.negative ? -v : v);
  if (n.digits == "0") n.digits.clear(), n.negative = false;
  n.exp10 = -4;
  while (!n.digits.empty() && n.digits.back() == '0') n.digits.pop_back(), ++n.exp10;
  return n;
}

// ---- Coercion ------------------------------------------------------------

// A source variant seen through its references: plain vt and value, owning
// nothing (except the value fetched from an object's default property).
struct Source {
  VARIANT v{};
  VARIANT fetched{};  // owned: filled when an object's value was read
  Source() {
    VariantInit(&v);
    VariantInit(&fetched);
  }
  ~Source() { VariantClear(&fetched); }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
};

HRESULT Dereference(const VARIANT* src, Source& out) {
  const VARIANT* cur = src;
  if (cur->vt == (VT_BYREF | VT_VARIANT)) {
    if (cur->pvarVal == nullptr) return E_INVALIDARG;
    cur = cur->pvarVal;
    if (cur->vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;  // one level only
    if (!IsValidVariantType(cur->vt)) return DISP_E_BADVARTYPE;
  }
  if ((cur->vt & VT_ARRAY) != 0) return DISP_E_TYPEMISMATCH;
  if ((cur->vt & VT_BYREF) == 0) {
    out.v = *cur;
    return S_OK;
  }
  if (cur->byref == nullptr) return E_INVALIDARG;
  VARIANT& v = out.v;
  v.vt = cur->vt & VT_TYPEMASK;
  switch (v.vt) {
    case VT_I1:
      v.cVal = *cur->pcVal;
      break;
    case VT_UI1:
      v.bVal = *cur->pbVal;
      break;
    case VT_I2:
      v.iVal = *cur->piVal;
      break;
    case VT_UI2:
      v.uiVal = *cur->puiVal;
      break;
    case VT_I4:
      v.lVal = *cur->plVal;
      break;
    case VT_UI4:
      v.ulVal = *cur->pulVal;
      break;
    case VT_INT:
      v.intVal = *cur->pintVal;
      break;
    case VT_UINT:
      v.uintVal = *cur->puintVal;
      break;
    case VT_I8:
      v.llVal = *cur->pllVal;
      break;
    case VT_UI8:
      v.ullVal = *cur->pullVal;
      break;
    case VT_R4:
      v.fltVal = *cur->pfltVal;
      break;
    case VT_R8:
      v.dblVal = *cur->pdblVal;
      break;
    case VT_BOOL:
      v.boolVal = *cur->pboolVal;
      break;
    case VT_ERROR:
      v.scode = *cur->pscode;
      break;
    case VT_CY:
      v.cyVal = *cur->pcyVal;
      break;
    case VT_DATE:
      v.date = *cur->pdate;
      break;
    case VT_BSTR:
      v.bstrVal = *cur->pbstrVal;
      break;
    case VT_UNKNOWN:
      v.punkVal = *cur->ppunkVal;
      break;
    case VT_DISPATCH:
      v.pdispVal = *cur->ppdispVal;
      break;
    case VT_DECIMAL:
      v.decVal = *cur->pdecVal, v.vt = VT_DECIMAL;
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

// Reads an object's default property, which stands for the object in a
// conversion to a simple type.
HRESULT FetchValue(Source& s, LCID lcid, USHORT flags) {
  if ((flags & VARIANT_NOVALUEPROP) != 0) return DISP_E_TYPEMISMATCH;
  IUnknown* unk = s.v.vt == VT_DISPATCH ? s.v.pdispVal : s.v.punkVal;
  if (unk == nullptr) return DISP_E_TYPEMISMATCH;
  am::ComPtr<IDispatch> disp;
  if (FAILED(unk->QueryInterface(IID_IDispatch, disp.put_void())) || !disp) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  HRESULT hr = disp->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &s.fetched, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  if (s.fetched.vt == VT_DISPATCH || s.fetched.vt == VT_UNKNOWN || (s.fetched.vt & (VT_BYREF | VT_ARRAY)) != 0)
    return DISP_E_TYPEMISMATCH;
  s.v = s.fetched;
  return S_OK;
}

// Width in bits of an integer type; 0 for any other type.
int IntegerWidth(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 8;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 16;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return 32;
    case VT_I8:
    case VT_UI8:
      return 64;
    default:
      return 0;
  }
}

// Integer targets, given by their range. Integers of the target's own width
// are taken bit for bit (-1 becomes the largest unsigned value and back), as
// are "&H"/"&O" numbers that fill the width; true is -1 in that sense too.
HRESULT ToInteger(const VARIANT& v, Int lo, Int hi, Int& out) {
  const bool isSigned = lo < 0;
  int width = 0;
  for (Int span = hi - lo; span > 0; span >>= 1) ++width;
  auto wrap = [&](Int value) {
    Int modulus = static_cast<Int>(1) << width;
    if (isSigned && value > hi && value < modulus) return value - modulus;
    if (!isSigned && value < 0 && value >= lo - hi - 1) return value + modulus;
    return value;
  };
  switch (v.vt) {
    case VT_EMPTY:
      out = 0;
      break;
    case VT_I1:
      out = v.cVal;
      break;
    case VT_UI1:
      out = v.bVal;
      break;
    case VT_I2:
      out = v.iVal;
      break;
    case VT_UI2:
      out = v.uiVal;
      break;
    case VT_I4:
      out = v.lVal;
      break;
    case VT_UI4:
      out = v.ulVal;
      break;
    case VT_INT:
      out = v.intVal;
      break;
    case VT_UINT:
      out = v.uintVal;
      break;
    case VT_I8:
      out = v.llVal;
      break;
    case VT_UI8:
      out = v.ullVal;
      break;
    case VT_BOOL:
      out = v.boolVal != 0 ? (isSigned ? -1 : hi) : 0;
      break;
    case VT_R4:
    case VT_R8:
    case VT_DATE: {
      double d = v.vt == VT_R4 ? static_cast<double>(v.fltVal) : v.vt == VT_R8 ? v.dblVal : v.date;
      if (std::isnan(d)) return DISP_E_OVERFLOW;
      double r = std::nearbyint(d);  // the default rounding mode rounds half to even
      if (!(r >= -1.8e19 && r <= 1.9e19)) return DISP_E_OVERFLOW;
      out = static_cast<Int>(r);
      break;
    }
    case VT_CY: {
      if (!RoundToInt(CurrencyNumber(v.cyVal.int64), out)) return DISP_E_OVERFLOW;
      break;
    }
    case VT_BSTR: {
      Number n;
      HRESULT hr = ParseBstr(v.bstrVal, n);
      if (FAILED(hr)) return hr;
      if (!RoundToInt(n, out)) return DISP_E_OVERFLOW;
      if (n.radix) out = wrap(out);
      break;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
  if (IntegerWidth(v.vt) == width && v.vt != VT_BOOL) out = wrap(out);
  if (out < lo || out > hi) return DISP_E_OVERFLOW;
  return S_OK;
}

HRESULT ToReal(const VARIANT& v, double& out) {
  switch (v.vt) {
    case VT_R4:
      out = v.fltVal;
      return S_OK;
    case VT_R8:
      out = v.dblVal;
      return S_OK;
    case VT_DATE:
      out = v.date;
      return S_OK;
    case VT_BOOL:
      out = v.boolVal != 0 ? -1.0 : 0.0;
      return S_OK;
    case VT_CY:
      out = static_cast<double>(v.cyVal.int64) / 10000.0;
      return S_OK;
    case VT_BSTR: {
      Number n;
      HRESULT hr = ParseBstr(v.bstrVal, n);
      if (FAILED(hr)) return hr;
      return NumberToReal(n, out);
    }
    default: {
      Int i = 0;
      HRESULT hr =
          ToInteger(v, std::numeric_limits<long long>::min(), std::numeric_limits<unsigned long long>::max(), i);
      if (FAILED(hr)) return hr;
      out = static_cast<double>(i);
      return S_OK;
    }
  }
}

bool EqualsNoCase(BSTR s, UINT len, const char* word) {
  size_t n = std::strlen(word);
  if (len != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (Upper(s[i]) != Upper(static_cast<char16_t>(word[i]))) return false;
  return true;
}

HRESULT ToBool(const VARIANT& v, VARIANT_BOOL& out) {
  if (v.vt == VT_BSTR) {
    if (v.bstrVal == nullptr) return DISP_E_TYPEMISMATCH;
    // The en-US names, exactly and in any letter case; otherwise a number.
    UINT len = SysStringLen(v.bstrVal);
    if (EqualsNoCase(v.bstrVal, len, "True") || EqualsNoCase(v.bstrVal, len, "#TRUE#")) {
      out = VARIANT_TRUE;
      return S_OK;
    }
    if (EqualsNoCase(v.bstrVal, len, "False") || EqualsNoCase(v.bstrVal, len, "#FALSE#")) {
      out = VARIANT_FALSE;
      return S_OK;
    }
  }
  if (v.vt == VT_BOOL) {
    out = v.boolVal != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  if (v.vt == VT_CY) {
    out = v.cyVal.int64 != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  double d = 0;
  HRESULT hr = ToReal(v, d);
  if (FAILED(hr)) return hr;
  out = d != 0.0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ToText(const VARIANT& v, USHORT flags, BSTR& out) {
  std::string text;
  switch (v.vt) {
    case VT_EMPTY:
      break;
    case VT_BSTR:
      out = SysAllocStringLen(v.bstrVal, SysStringLen(v.bstrVal));
      return out == nullptr ? E_OUTOFMEMORY : S_OK;
    case VT_BOOL:
      if ((flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0)
        text = v.boolVal != 0 ? "True" : "False";
      else
        text = v.boolVal != 0 ? "-1" : "0";
      break;
    case VT_R4:
      text = FormatReal(v.fltVal, 7);
      break;
    case VT_R8:
      text = FormatReal(v.dblVal, 15);
      break;
    case VT_CY:
      text = FormatCurrency(v.cyVal.int64);
      break;
    case VT_DATE:
    case VT_DECIMAL:
    case VT_ERROR:
      return DISP_E_TYPEMISMATCH;
    default: {
      Int i = 0;
      HRESULT hr =
          ToInteger(v, std::numeric_limits<long long>::min(), std::numeric_limits<unsigned long long>::max(), i);
      if (FAILED(hr)) return hr;
      text = FormatInt(i);
    }
  }
  out = AsciiToBstr(text.c_str());
  return out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// Currency: the value times 10000, rounded half to even, in 64 bits.
HRESULT ToCurrency(const VARIANT& v, LONGLONG& out) {
  constexpr Int lo = std::numeric_limits<LONGLONG>::min(), hi = std::numeric_limits<LONGLONG>::max();
  Int scaled = 0;
  if (v.vt == VT_CY) {
    out = v.cyVal.int64;
    return S_OK;
  }
  if (v.vt == VT_BSTR) {
    Number n;
    HRESULT hr = ParseBstr(v.bstrVal, n);
    if (FAILED(hr)) return hr;
    if (n.radix) {
      scaled = static_cast<Int>(n.radixValue) * 10000;
    } else {
      n.exp10 += 4;
      if (!RoundToInt(n, scaled)) return DISP_E_OVERFLOW;
    }
  } else if (v.vt == VT_R4 || v.vt == VT_R8 || v.vt == VT_DATE) {
    double d = 0;
    HRESULT hr = ToReal(v, d);
    if (FAILED(hr)) return hr;
    double r = std::nearbyint(d * 10000.0);
    if (!(r >= -9.3e18 && r <= 9.3e18)) return DISP_E_OVERFLOW;
    scaled = static_cast<Int>(r);
  } else {
    Int i = 0;
    HRESULT hr = ToInteger(v, lo, std::numeric_limits<ULONGLONG>::max(), i);
    if (FAILED(hr)) return hr;
    scaled = i * 10000;
  }
  if (scaled < lo || scaled > hi) return DISP_E_OVERFLOW;
  out = static_cast<LONGLONG>(scaled);
  return S_OK;
}

HRESULT ToObject(const VARIANT& v, VARTYPE vt, VARIANT& result) {
  if (v.vt != VT_UNKNOWN && v.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
  IUnknown* unk = v.vt == VT_DISPATCH ? v.pdispVal : v.punkVal;
  result.vt = vt;
  result.punkVal = nullptr;
  if (unk == nullptr) return S_OK;
  if (v.vt == vt) {
    unk->AddRef();
    result.punkVal = unk;
    return S_OK;
  }
  void* p = nullptr;
  HRESULT hr = unk->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
  if (FAILED(hr)) return hr;
  result.punkVal = static_cast<IUnknown*>(p);
  return S_OK;
}

HRESULT Coerce(const VARIANT& v, VARTYPE vt, USHORT flags, VARIANT& result) {
  VariantInit(&result);
  // Anything may become Null or Empty; Null becomes nothing else.
  if (vt == VT_NULL) {
    result.vt = VT_NULL;
    return S_OK;
  }
  if (v.vt == VT_NULL) return DISP_E_TYPEMISMATCH;
  HRESULT hr = S_OK;
  Int i = 0;
  switch (vt) {
    case VT_EMPTY:
      return S_OK;
    case VT_CY:
      hr = ToCurrency(v, result.cyVal.int64);
      break;
    case VT_DATE:
      if (v.vt == VT_BSTR) return DISP_E_BADVARTYPE;  // dates are not read from text here
      hr = ToReal(v, result.date);
      break;
    case VT_I1:
      hr = ToInteger(v, -128, 127, i), result.cVal = static_cast<CHAR>(i);
      break;
    case VT_UI1:
      hr = ToInteger(v, 0, 255, i), result.bVal = static_cast<BYTE>(i);
      break;
    case VT_I2:
      hr = ToInteger(v, -32768, 32767, i), result.iVal = static_cast<SHORT>(i);
      break;
    case VT_UI2:
      hr = ToInteger(v, 0, 65535, i), result.uiVal = static_cast<USHORT>(i);
      break;
    case VT_I4:
    case VT_INT:
      hr = ToInteger(v, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), i);
      result.lVal = static_cast<LONG>(i);
      break;
    case VT_UI4:
    case VT_UINT:
      hr = ToInteger(v, 0, std::numeric_limits<ULONG>::max(), i), result.ulVal = static_cast<ULONG>(i);
      break;
    case VT_I8:
      hr = ToInteger(v, std::numeric_limits<LONGLONG>::min(), std::numeric_limits<LONGLONG>::max(), i);
      result.llVal = static_cast<LONGLONG>(i);
      break;
    case VT_UI8:
      hr = ToInteger(v, 0, std::numeric_limits<ULONGLONG>::max(), i), result.ullVal = static_cast<ULONGLONG>(i);
      break;
    case VT_R4: {
      double d = 0;
      hr = ToReal(v, d);
      if (SUCCEEDED(hr) && std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) hr = DISP_E_OVERFLOW;
      result.fltVal = static_cast<float>(d);
      break;
    }
    case VT_R8:
      hr = ToReal(v, result.dblVal);
      break;
    case VT_BOOL:
      hr = ToBool(v, result.boolVal);
      break;
    case VT_BSTR:
      hr = ToText(v, flags, result.bstrVal);
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      hr = ToObject(v, vt, result);
      if (FAILED(hr)) result.vt = VT_EMPTY;
      return hr;
    default:
      if (v.vt == vt) return VariantCopy(&result, &v);
      return DISP_E_BADVARTYPE;
  }
  if (SUCCEEDED(hr)) result.vt = vt;
  return hr;
}

}  // namespace

extern "C" {

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg != nullptr) pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  if (!IsValidVariantType(pvarg->vt) && pvarg->vt != VT_EMPTY && pvarg->vt != VT_NULL) return DISP_E_BADVARTYPE;
  if (!IsOwnable(pvarg->vt)) return DISP_E_BADVARTYPE;
  switch (pvarg->vt) {
    case VT_BSTR:
      SysFreeString(pvarg->bstrVal);
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
      break;
    default:
      break;
  }
  pvarg->vt = VT_EMPTY;
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!IsValidVariantType(pvargSrc->vt) && pvargSrc->vt != VT_EMPTY && pvargSrc->vt != VT_NULL)
    return DISP_E_BADVARTYPE;
  if (!IsOwnable(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy = *pvargSrc;
  if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal != nullptr) {
    copy.punkVal->AddRef();
  }
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if ((pvargSrc->vt & VT_BYREF) == 0) return VariantCopy(pvarDest, pvargSrc);
  if (!IsValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  Source s;
  HRESULT hr = Dereference(pvargSrc, s);
  if (FAILED(hr)) return hr;
  // Copy into a temporary first: the destination may be the source itself.
  VARIANT copy;
  VariantInit(&copy);
  hr = VariantCopy(&copy, &s.v);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvarDest = copy;
  return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  try {
    if (!IsValidVariantType(pvarSrc->vt) && pvarSrc->vt != VT_EMPTY && pvarSrc->vt != VT_NULL) return DISP_E_BADVARTYPE;
    if (!IsKnownBase(vt & VT_TYPEMASK) || (vt & ~(VT_TYPEMASK | kExtendedBits)) != 0) return DISP_E_BADVARTYPE;
    if ((vt & kExtendedBits) != 0 || vt == VT_VARIANT || vt == VT_RECORD || vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
    Source s;
    HRESULT hr = Dereference(pvarSrc, s);
    if (FAILED(hr)) return hr;
    bool object = s.v.vt == VT_DISPATCH || s.v.vt == VT_UNKNOWN;
    if (object && vt != VT_DISPATCH && vt != VT_UNKNOWN) {
      hr = FetchValue(s, lcid, wFlags);
      if (FAILED(hr)) return hr;
    }
    VARIANT result;
    hr = Coerce(s.v, vt, wFlags, result);
    if (FAILED(hr)) return hr;
    // The source is no longer needed, so the destination may be the source.
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
      VariantClear(&result);
      return hr;
    }
    *pvargDest = result;
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, MAKELCID(0x0409, 0), wFlags, vt);
}

HRESULT VarUI4FromStr(const OLECHAR* strIn, LCID, ULONG, ULONG* pulOut) {
  if (strIn == nullptr || pulOut == nullptr) return E_INVALIDARG;
  try {
    Number n;
    HRESULT hr = ParseNumber(strIn, static_cast<size_t>(lstrlenW(strIn)), n);
    if (FAILED(hr)) return hr;
    Int i = 0;
    if (!RoundToInt(n, i) || i < 0 || i > std::numeric_limits<ULONG>::max()) return DISP_E_OVERFLOW;
    *pulOut = static_cast<ULONG>(i);
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

}  // extern "C"
