// Windows-1252, the ANSI code page of the Linux build. Shared by the engine's
// file seam and the runtime's MultiByteToWideChar / WideCharToMultiByte.
#pragma once

#include <cstddef>

namespace albummaker::cp1252 {

// The UTF-16 unit a byte stands for. Every byte maps (the five bytes the code
// page leaves undefined map to U+0081, U+008D, U+008F, U+0090, U+009D, as on Windows).
char16_t Decode(unsigned char byte) noexcept;

// The byte for a unit; false when the code page has no byte for it.
bool Encode(char16_t unit, unsigned char& byte) noexcept;

}  // namespace albummaker::cp1252
