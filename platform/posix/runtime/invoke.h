// Calls an interface member through its vtable slot with arguments laid out
// as the x86-64 System V calling convention places them.
#pragma once

#include <ole2.h>

#include <cstddef>
#include <cstdint>

namespace albumrt::tlb {

struct CallArg {
  enum class Class {
    Integer,  // integers, BOOL, pointers, BSTR: a general register or a stack word
    Double,   // R8, DATE: an SSE register or a stack word
    Float,    // R4: the low half of an SSE register or of a stack word
    Memory,   // a VARIANT by value: 24 bytes copied onto the stack
  };
  Class cls = Class::Integer;
  uint64_t bits = 0;              // Integer, Double, Float: the value's bits
  const VARIANT* value = nullptr;  // Memory
};

// The most stack words one call may take (a VARIANT takes three).
inline constexpr size_t kMaxStackWords = 64;

// Calls slot `slot` of the interface `instance` with `args` after the
// interface pointer. Returns false, calling nothing, when the arguments need
// more than kMaxStackWords stack words; *result gets the member's HRESULT.
bool CallThroughSlot(void* instance, size_t slot, const CallArg* args, size_t count, HRESULT* result);

}  // namespace albumrt::tlb
