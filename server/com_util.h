// Small ownership helpers for COM references, BSTRs and VARIANTs, and the
// conversion between OLECHAR text and the engine's char16_t text.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <string>

namespace albummaker::server {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "OLECHAR must be a 16-bit unit");

inline const char16_t* AsU16(const OLECHAR* text) { return reinterpret_cast<const char16_t*>(text); }
inline const OLECHAR* AsOle(const char16_t* text) { return reinterpret_cast<const OLECHAR*>(text); }

inline bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// One counted reference.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out parameters: drops what is held first.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  T* Detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void Reset() {
    if (p_ != nullptr) {
      T* p = p_;
      p_ = nullptr;
      p->Release();
    }
  }

 private:
  T* p_ = nullptr;
};

class ScopedBstr {
 public:
  ScopedBstr() = default;
  explicit ScopedBstr(BSTR s) : s_(s) {}
  ~ScopedBstr() { SysFreeString(s_); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR Get() const { return s_; }
  BSTR* Put() {
    SysFreeString(s_);
    s_ = nullptr;
    return &s_;
  }
  BSTR Detach() {
    BSTR s = s_;
    s_ = nullptr;
    return s;
  }

 private:
  BSTR s_ = nullptr;
};

// A variant that is cleared on every path out of its scope.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&v_); }
  ~ScopedVariant() { VariantClear(&v_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* Get() { return &v_; }

 private:
  VARIANT v_;
};

// A BSTR's text up to its first NUL; a null BSTR reads as the empty text.
inline const char16_t* TextOf(BSTR s) { return s == nullptr ? u"" : AsU16(s); }

}  // namespace albummaker::server
