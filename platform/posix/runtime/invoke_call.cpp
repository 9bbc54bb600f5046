// The member call of ITypeInfo::Invoke, through libffi: the arguments are
// described by their C types and libffi places them as the processor's
// calling convention requires (registers, stack, a VARIANT copied and passed
// in memory or by reference).
#include <ffi.h>

#include <array>
#include <bit>
#include <cstring>

#include "invoke.h"

namespace albumrt::tlb {

namespace {

// VARIANT: four 16-bit words, then a union as large as two pointers (a
// record's data and its IRecordInfo) and aligned as a double.
static_assert(sizeof(void*) == 8 && sizeof(VARIANT) == 24 && alignof(VARIANT) == 8,
              "the VARIANT description below is for the LP64 data model");
ffi_type* variantElements[] = {&ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16,
                               &ffi_type_uint64, &ffi_type_uint64, nullptr};
// CY: one 64-bit integer in a union.
ffi_type* currencyElements[] = {&ffi_type_sint64, nullptr};

struct Aggregates {
  ffi_type variant{0, 0, FFI_TYPE_STRUCT, variantElements};
  ffi_type currency{0, 0, FFI_TYPE_STRUCT, currencyElements};
  bool ok = false;
};

// libffi fills in an aggregate's size and alignment on its first use; done
// once here, so that concurrent calls only read the descriptions.
Aggregates& TheAggregates() {
  static Aggregates aggregates = [] {
    Aggregates a;
    a.ok = ffi_get_struct_offsets(FFI_DEFAULT_ABI, &a.variant, nullptr) == FFI_OK &&
           ffi_get_struct_offsets(FFI_DEFAULT_ABI, &a.currency, nullptr) == FFI_OK &&
           a.variant.size == sizeof(VARIANT) && a.variant.alignment == alignof(VARIANT) &&
           a.currency.size == sizeof(CY) && a.currency.alignment == alignof(CY);
    return a;
  }();
  return aggregates;
}

// One argument's value in its own C type, where libffi reads it.
union Value {
  int8_t i1;
  uint8_t ui1;
  int16_t i2;
  uint16_t ui2;
  int32_t i4;
  uint32_t ui4;
  int64_t i8;
  uint64_t ui8;
  void* pointer;
  float r4;
  double r8;
  CY currency;
  VARIANT variant;
};

ffi_type* Describe(const CallArg& a, Value& v, Aggregates& aggregates) {
  switch (a.type) {
    case CallArg::Type::I1:
      v.i1 = static_cast<int8_t>(a.bits);
      return &ffi_type_sint8;
    case CallArg::Type::UI1:
      v.ui1 = static_cast<uint8_t>(a.bits);
      return &ffi_type_uint8;
    case CallArg::Type::I2:
      v.i2 = static_cast<int16_t>(a.bits);
      return &ffi_type_sint16;
    case CallArg::Type::UI2:
      v.ui2 = static_cast<uint16_t>(a.bits);
      return &ffi_type_uint16;
    case CallArg::Type::I4:
      v.i4 = static_cast<int32_t>(a.bits);
      return &ffi_type_sint32;
    case CallArg::Type::UI4:
      v.ui4 = static_cast<uint32_t>(a.bits);
      return &ffi_type_uint32;
    case CallArg::Type::I8:
      v.i8 = static_cast<int64_t>(a.bits);
      return &ffi_type_sint64;
    case CallArg::Type::UI8:
      v.ui8 = a.bits;
      return &ffi_type_uint64;
    case CallArg::Type::Pointer:
      v.pointer = reinterpret_cast<void*>(static_cast<uintptr_t>(a.bits));
      return &ffi_type_pointer;
    case CallArg::Type::R4:
      v.r4 = std::bit_cast<float>(static_cast<uint32_t>(a.bits));
      return &ffi_type_float;
    case CallArg::Type::R8:
      v.r8 = std::bit_cast<double>(a.bits);
      return &ffi_type_double;
    case CallArg::Type::Currency:
      v.currency.int64 = static_cast<int64_t>(a.bits);
      return &aggregates.currency;
    case CallArg::Type::Variant:
      // The member owns its by-value parameter and may change it; the
      // caller's variant stays as it was whatever libffi passes.
      if (a.value == nullptr) return nullptr;
      std::memcpy(static_cast<void*>(&v.variant), a.value, sizeof(VARIANT));
      return &aggregates.variant;
  }
  return nullptr;
}

}  // namespace

bool CallThroughSlot(void* instance, size_t slot, const CallArg* args, size_t count, HRESULT* result) {
  if (count > kMaxCallArgs) return false;
  Aggregates& aggregates = TheAggregates();
  if (!aggregates.ok) return false;
  // The interface pointer first, then the arguments.
  std::array<ffi_type*, kMaxCallArgs + 1> types{};
  std::array<void*, kMaxCallArgs + 1> addresses{};
  std::array<Value, kMaxCallArgs + 1> values{};
  values[0].pointer = instance;
  types[0] = &ffi_type_pointer;
  addresses[0] = &values[0];
  for (size_t i = 0; i < count; ++i) {
    types[i + 1] = Describe(args[i], values[i + 1], aggregates);
    if (types[i + 1] == nullptr) return false;
    addresses[i + 1] = &values[i + 1];
  }
  ffi_cif cif;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(count + 1), &ffi_type_sint32, types.data()) != FFI_OK)
    return false;
  void** vtable = *static_cast<void***>(instance);
  // A return value narrower than a register comes back widened to ffi_arg.
  ffi_arg returned = 0;
  ffi_call(&cif, reinterpret_cast<void (*)()>(vtable[slot]), &returned, addresses.data());
  *result = static_cast<HRESULT>(static_cast<int32_t>(returned));
  return true;
}

}  // namespace albumrt::tlb
