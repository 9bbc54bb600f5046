// UTF-8 <-> UTF-16 for the host. A byte that is not part of valid UTF-8 becomes
// the unit U+DC80..U+DCFF and turns back into the same byte, so file names
// that are not UTF-8 survive the round trip.
#pragma once

#include <string>
#include <string_view>

namespace albummaker::host {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace albummaker::host
