#include "text.h"

#include "utf8.h"

namespace albummaker::host {

std::u16string Utf8ToUtf16(std::string_view utf8) { return utf8::ToUtf16(utf8); }

std::string Utf16ToUtf8(std::u16string_view s) { return utf8::FromUtf16(s); }

}  // namespace albummaker::host
