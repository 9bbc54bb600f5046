// UTF-8 <-> UTF-16, shared by the host, the POSIX engine seam and the Linux
// runtime. File names on Linux are bytes, usually UTF-8: a byte that is not
// part of valid UTF-8 becomes the unit U+DC80..U+DCFF ("escaped byte") and
// turns back into the same byte, so any name survives the round trip. Other
// callers want what Windows does with such bytes, or no text at all.
#pragma once

#include <string>
#include <string_view>

namespace albummaker::utf8 {

// What becomes of bytes that are not UTF-8 (overlong forms, surrogates,
// values past U+10FFFF, stray or missing continuation bytes).
enum class BadBytes {
  Escape,   // each such byte becomes its escaped byte
  Replace,  // each maximal ill-formed part becomes one U+FFFD, as on Windows
  Refuse,   // the decoding fails
};

// Appends the UTF-16 form of bytes. False only when policy is Refuse and the
// bytes are not UTF-8; out then holds the part before the fault.
bool AppendAsUtf16(std::string_view bytes, std::u16string& out, BadBytes policy);
// The UTF-16 form of bytes, with escaped bytes.
std::u16string ToUtf16(std::string_view bytes);

// The UTF-8 form of text. With escapedBytes, U+DC80..U+DCFF standing alone
// turn back into their byte; any other unpaired surrogate becomes U+FFFD,
// which is what it has in UTF-8 (nothing).
std::string FromUtf16(std::u16string_view text, bool escapedBytes = true);

}  // namespace albummaker::utf8
