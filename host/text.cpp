#include "text.h"

#include "utf8.h"

namespace albummaker::host {

std::u16string Utf8ToUtf16(std::string_view utf8) { return utf8::ToUtf16(utf8); }

std::string Utf16ToUtf8(std::u16string_view s) {
  // Pages are mostly ASCII (names come HTML-escaped): that stretch is copied
  // unit by unit, and only what follows it goes through the full conversion.
  std::size_t ascii = 0;
  while (ascii < s.size() && s[ascii] < 0x80) ++ascii;
  std::string out(ascii, '\0');
  for (std::size_t i = 0; i < ascii; ++i) out[i] = static_cast<char>(s[i]);
  if (ascii < s.size()) out += utf8::FromUtf16(s.substr(ascii));
  return out;
}

}  // namespace albummaker::host
