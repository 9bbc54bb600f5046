// Helpers shared by the runtime's own source files.
#pragma once

#include <ole2.h>

#include <string>

namespace albumrt {

// Releases a COM reference at scope end.
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T *p) : p_(p) {}
  ~Ref() {
    if (p_ != nullptr) p_->Release();
  }
  Ref(const Ref &) = delete;
  Ref &operator=(const Ref &) = delete;
  T *get() const { return p_; }
  T **put() { return &p_; }
  T *operator->() const { return p_; }
  T *detach() {
    T *p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T *p_ = nullptr;
};

// Text in the ANSI code page and back, for registry names and data and for
// paths that the ANSI functions take; empty when there is no conversion.
std::string Narrow(const OLECHAR *text);
std::u16string Widen(const std::string &text);

}  // namespace albumrt
