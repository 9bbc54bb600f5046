// The pieces of HTTP the album server reads and writes itself, apart from
// the connection handling: dates, entity tags, byte ranges, request heads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace albummaker::host {

// "Sun, 06 Nov 1994 08:49:37 GMT" for a Unix time.
std::string HttpDate(std::int64_t unixSeconds);
// The Unix time of the preferred HTTP date form; nothing for anything else.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// Whether an If-None-Match list names `etag` (weakly) or is "*".
bool EtagListMatches(std::string_view list, std::string_view etag);

// What a Range header asks of a file of `size` bytes. Only one range is
// answered; a header of another unit, malformed, or asking for several
// ranges is ignored (the whole file), as HTTP allows.
struct RangeChoice {
  enum Kind { kWhole, kPart, kUnsatisfiable } kind = kWhole;
  std::uint64_t first = 0;  // kPart: the bytes first..last
  std::uint64_t last = 0;
};
RangeChoice ChooseRange(std::string_view header, std::uint64_t size);

// Whether a request head (request line, fields and the blank line) folds a
// field over several lines, which HTTP/1.1 no longer allows in requests.
bool HasFoldedField(std::string_view head);

// The origin form ("/path?query") of a request target, also of an absolute
// one ("http://host/path?query"); nothing for any other form.
std::optional<std::string_view> OriginForm(std::string_view target);

// Printable form of request text for the log: control and non-ASCII bytes
// escaped, long values cut.
std::string LogText(std::string_view text);

}  // namespace albummaker::host
