// Windows-1252, the ANSI code page of the Linux build. Shared by the engine's
// file seam and the runtime's MultiByteToWideChar / WideCharToMultiByte.
#pragma once

#include <array>
#include <cstddef>

namespace albummaker::cp1252 {

// The UTF-16 unit of every byte, a table so that a decoding loop inlines it.
// 0x80..0x9F are the bytes that differ from Latin-1; the five the code page
// leaves undefined map to U+0081, U+008D, U+008F, U+0090, U+009D, as on
// Windows.
inline constexpr std::array<char16_t, 256> kUnits = [] {
  constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
  };
  std::array<char16_t, 256> units{};
  for (unsigned b = 0; b < 256; ++b) units[b] = b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : static_cast<char16_t>(b);
  return units;
}();

// The UTF-16 unit a byte stands for. Every byte maps.
constexpr char16_t Decode(unsigned char byte) noexcept { return kUnits[byte]; }

// The byte for a unit; false when the code page has no byte for it.
bool Encode(char16_t unit, unsigned char& byte) noexcept;

}  // namespace albummaker::cp1252
