// Calls an interface member through its vtable slot. Each argument carries
// its C type, so the call follows the processor's own calling convention.
#pragma once

#include <ole2.h>

#include <cstddef>
#include <cstdint>

namespace albumrt::tlb {

struct CallArg {
  enum class Type {
    I1,
    UI1,
    I2,
    UI2,
    I4,
    UI4,
    I8,
    UI8,       // integers, BOOL (I2), SCODE (I4)
    Pointer,   // pointers, BSTR, interfaces
    R4,        // FLOAT
    R8,        // DOUBLE, DATE
    Currency,  // CY by value
    Variant,   // a VARIANT by value
  };
  Type type = Type::Pointer;
  uint64_t bits = 0;               // scalars: the value in the low bits of its width
  const VARIANT* value = nullptr;  // Variant: what the member receives a copy of
};

// The most arguments one call may take after the interface pointer.
inline constexpr size_t kMaxCallArgs = 64;

// Calls slot `slot` of the interface `instance` with `args` after the
// interface pointer. Returns false, calling nothing, when there are more
// than kMaxCallArgs arguments or the call cannot be described; *result gets
// the member's HRESULT.
bool CallThroughSlot(void* instance, size_t slot, const CallArg* args, size_t count, HRESULT* result);

}  // namespace albumrt::tlb
