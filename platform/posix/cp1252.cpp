#include "cp1252.h"

namespace albummaker::cp1252 {

bool Encode(char16_t unit, unsigned char& byte) noexcept {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
    byte = static_cast<unsigned char>(unit);
    return true;
  }
  for (unsigned b = 0x80; b < 0xA0; ++b) {
    if (kUnits[b] == unit) {
      byte = static_cast<unsigned char>(b);
      return true;
    }
  }
  return false;
}

}  // namespace albummaker::cp1252
