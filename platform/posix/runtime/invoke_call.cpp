// The member call of ITypeInfo::Invoke. Every call goes through one function
// type that fills all six integer and eight SSE argument registers and then
// passes a block of stack words; a callee reads only the registers and stack
// words its own parameters occupy, so the same shape reaches every member.
#include "invoke.h"

#include <bit>
#include <cstring>

#if !defined(__x86_64__) || defined(_WIN32)
#error "the member call is written for the x86-64 System V calling convention"
#endif

namespace albumrt::tlb {

namespace {

// Larger than two words, so it is passed in memory: copied to the bottom of
// the outgoing argument area, exactly where the first stack argument goes.
struct StackWords {
  uint64_t words[kMaxStackWords];
};

using Member = HRESULT (*)(void* self, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, double, double, double,
                           double, double, double, double, double, StackWords);

constexpr size_t kIntegerRegisters = 5;  // after the interface pointer
constexpr size_t kSseRegisters = 8;

}  // namespace

bool CallThroughSlot(void* instance, size_t slot, const CallArg* args, size_t count, HRESULT* result) {
  uint64_t integers[kIntegerRegisters] = {};
  double sse[kSseRegisters] = {};
  StackWords stack{};
  size_t ni = 0;
  size_t nd = 0;
  size_t ns = 0;
  const auto push = [&](uint64_t word) {
    if (ns == kMaxStackWords) return false;
    stack.words[ns++] = word;
    return true;
  };
  for (size_t i = 0; i < count; ++i) {
    const CallArg& a = args[i];
    switch (a.cls) {
      case CallArg::Class::Integer:
        if (ni < kIntegerRegisters)
          integers[ni++] = a.bits;
        else if (!push(a.bits))
          return false;
        break;
      case CallArg::Class::Double:
      case CallArg::Class::Float:
        // A float travels in the low 32 bits; the upper bits are not read.
        if (nd < kSseRegisters)
          sse[nd++] = std::bit_cast<double>(a.bits);
        else if (!push(a.bits))
          return false;
        break;
      case CallArg::Class::Memory: {
        static_assert(sizeof(VARIANT) == 3 * sizeof(uint64_t));
        uint64_t words[3];
        std::memcpy(words, a.value, sizeof words);
        for (uint64_t w : words)
          if (!push(w)) return false;
        break;
      }
    }
  }
  void** vtable = *static_cast<void***>(instance);
  const auto member = reinterpret_cast<Member>(vtable[slot]);
  *result = member(instance, integers[0], integers[1], integers[2], integers[3], integers[4], sse[0], sse[1], sse[2],
                   sse[3], sse[4], sse[5], sse[6], sse[7], stack);
  return true;
}

}  // namespace albumrt::tlb
