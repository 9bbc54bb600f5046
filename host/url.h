// Decoding of the pieces of a request target that the album server reads.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace albummaker::host {

// Inverse of the album's link encoding: "+" is a space, "%XX" one 16-bit
// unit below 0x100, "%uXXXX" one unit; letters, digits and the other
// printable ASCII characters stand for themselves. Anything else (a stray
// "%", a short escape, a control byte, a byte above 0x7E, an encoded NUL)
// yields nothing, because no link the album writes looks like that.
std::optional<std::u16string> DecodeAlbumLinkValue(std::string_view encoded);

// Plain percent-decoding of a path segment into bytes ("%XX" one byte, every
// other byte itself, "+" stays "+"). Nothing for a malformed escape.
std::optional<std::string> PercentDecodeBytes(std::string_view encoded);

// The raw (still encoded) value of the first parameter called `key` in the
// query of `target` ("path?query"); nothing when the parameter is absent.
std::optional<std::string_view> FindQueryValue(std::string_view target, std::string_view key);

// The path part of a request target (before "?" or "#").
std::string_view TargetPath(std::string_view target);

}  // namespace albummaker::host
