// Owners of what the Win32, COM and OLE Automation functions hand out: one
// template over a handle type and the function that closes it, a counted
// reference, a variant, the strings of an EXCEPINFO and the calling thread's
// apartment. Every owner moves and never copies; put() and reset() let go of
// what is held first, release() (detach() for a reference, to keep it apart
// from IUnknown::Release) gives the value up without closing it.
#pragma once

#include <windows.h>
#include <ole2.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstring>
#include <utility>

namespace am {

// Close is a function object: Close::Invalid() is the value that holds
// nothing and close(h) closes a handle that is not that value. A closer may
// carry state (the registry that opened a key, say).
template <typename Handle, typename Close>
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle h, Close close = Close{}) noexcept : h_(h), close_(std::move(close)) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()), close_(std::move(other.close_)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset(other.release());
      close_ = std::move(other.close_);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Close::Invalid(); }

  // For an out parameter: what was held is closed first.
  Handle* put() noexcept {
    reset();
    return &h_;
  }
  void reset(Handle h = Close::Invalid()) noexcept {
    const Handle old = h_;
    h_ = h;
    if (old != Close::Invalid()) close_(old);
  }
  [[nodiscard]] Handle release() noexcept {
    const Handle h = h_;
    h_ = Close::Invalid();
    return h;
  }

 private:
  Handle h_ = Close::Invalid();
  [[no_unique_address]] Close close_;
};

struct FreeBstr {
  static BSTR Invalid() noexcept { return nullptr; }
  void operator()(BSTR s) const noexcept { SysFreeString(s); }
};
using UniqueBstr = UniqueHandle<BSTR, FreeBstr>;

struct CloseRegistryKey {
  static HKEY Invalid() noexcept { return nullptr; }
  void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
using UniqueHkey = UniqueHandle<HKEY, CloseRegistryKey>;

struct FreeModule {
  static HMODULE Invalid() noexcept { return nullptr; }
  void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using UniqueModule = UniqueHandle<HMODULE, FreeModule>;

// Memory from CoTaskMemAlloc, as ProgIDFromCLSID and StringFromCLSID return it.
template <typename T>
struct FreeTaskMemory {
  static T* Invalid() noexcept { return nullptr; }
  void operator()(T* p) const noexcept { CoTaskMemFree(p); }
};
template <typename T>
using UniqueTaskMemory = UniqueHandle<T*, FreeTaskMemory<T>>;

#ifdef _WIN32
struct CloseFind {
  static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  void operator()(HANDLE find) const noexcept { FindClose(find); }
};
using UniqueFindHandle = UniqueHandle<HANDLE, CloseFind>;

// A kernel object handle as CreateFileW returns it (failure is
// INVALID_HANDLE_VALUE).
struct CloseKernelHandle {
  static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  void operator()(HANDLE h) const noexcept {
    if (h != nullptr) CloseHandle(h);
  }
};
using UniqueFileHandle = UniqueHandle<HANDLE, CloseKernelHandle>;
#else
struct CloseFd {
  static int Invalid() noexcept { return -1; }
  void operator()(int fd) const noexcept { ::close(fd); }
};
using UniqueFd = UniqueHandle<int, CloseFd>;
#endif

// One counted reference. The constructor and reset() take over a reference
// the caller already holds; they never add one.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  explicit ComPtr(T* p) noexcept : p_(p) {}
  ~ComPtr() { reset(); }
  ComPtr(ComPtr&& other) noexcept : p_(other.detach()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) reset(other.detach());
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // For an out parameter: the reference held is released first.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  void reset(T* p = nullptr) noexcept {
    T* old = p_;
    p_ = p;
    if (old != nullptr) old->Release();
  }
  [[nodiscard]] T* detach() noexcept {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};

// A variant, cleared when dropped or replaced. Moving takes the value and
// leaves VT_EMPTY behind.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { VariantInit(&v_); }
  ~UniqueVariant() { VariantClear(&v_); }
  UniqueVariant(UniqueVariant&& other) noexcept : v_(other.release()) {}
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  VARIANT* get() noexcept { return &v_; }
  const VARIANT* get() const noexcept { return &v_; }
  VARIANT& operator*() noexcept { return v_; }
  const VARIANT& operator*() const noexcept { return v_; }

  // For an out parameter: the value held is cleared first.
  VARIANT* put() noexcept {
    reset();
    return &v_;
  }
  // Takes over value, which the caller no longer clears.
  void reset(const VARIANT& value) noexcept {
    VariantClear(&v_);
    v_ = value;
  }
  void reset() noexcept { VariantClear(&v_); }
  [[nodiscard]] VARIANT release() noexcept {
    const VARIANT v = v_;
    v_ = VARIANT{};
    VariantInit(&v_);
    return v;
  }

 private:
  // Zeroed whole: code that fills the value before the type (a retval
  // written through &v.llVal, say) must not find stale bits.
  VARIANT v_{};
};

// The strings an EXCEPINFO carries back from IDispatch::Invoke.
class UniqueExcepInfo {
 public:
  UniqueExcepInfo() noexcept { std::memset(&info_, 0, sizeof info_); }
  ~UniqueExcepInfo() { reset(); }
  UniqueExcepInfo(UniqueExcepInfo&& other) noexcept : info_(other.info_) { std::memset(&other.info_, 0, sizeof info_); }
  UniqueExcepInfo& operator=(UniqueExcepInfo&& other) noexcept {
    if (this != &other) {
      reset();
      info_ = other.info_;
      std::memset(&other.info_, 0, sizeof info_);
    }
    return *this;
  }
  UniqueExcepInfo(const UniqueExcepInfo&) = delete;
  UniqueExcepInfo& operator=(const UniqueExcepInfo&) = delete;

  const EXCEPINFO* get() const noexcept { return &info_; }
  const EXCEPINFO* operator->() const noexcept { return &info_; }
  // For an out parameter: what was held is freed first.
  EXCEPINFO* put() noexcept {
    reset();
    return &info_;
  }
  void reset() noexcept {
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
    std::memset(&info_, 0, sizeof info_);
  }

 private:
  EXCEPINFO info_;
};

// The calling thread's membership of an apartment: joined on construction,
// left on destruction when the join succeeded. Moving hands the leave on, on
// the same thread.
class Apartment {
 public:
  explicit Apartment(DWORD model = COINIT_MULTITHREADED) noexcept : hr_(CoInitializeEx(nullptr, model)) {}
  ~Apartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  Apartment(Apartment&& other) noexcept : hr_(std::exchange(other.hr_, E_FAIL)) {}
  Apartment& operator=(Apartment&&) = delete;
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  HRESULT result() const noexcept { return hr_; }

 private:
  HRESULT hr_;
};

}  // namespace am
