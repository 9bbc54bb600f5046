#include "serve_http.h"

#include <chrono>
#include <cstdio>

namespace albummaker::host {
namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A decimal number of digits only; one beyond every file size when it is too
// long to hold.
std::optional<std::uint64_t> Decimal(std::string_view s) {
  if (s.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (UINT64_MAX - 9) / 10) return UINT64_MAX;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

int Digits(std::string_view s, size_t at, size_t count) {
  if (at + count > s.size()) return -1;
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    value = value * 10 + (s[i] - '0');
  }
  return value;
}

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = static_cast<char>(a[i] | 0x20), y = static_cast<char>(b[i] | 0x20);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string HttpDate(std::int64_t unixSeconds) {
  using namespace std::chrono;
  const sys_seconds when{seconds(unixSeconds)};
  const sys_days day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss time{when - day};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT", kDays[weekday(day).c_encoding()],
                static_cast<unsigned>(date.day()), kMonths[static_cast<unsigned>(date.month()) - 1],
                static_cast<int>(date.year()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
  return text;
}

std::optional<std::int64_t> ParseHttpDate(std::string_view s) {
  using namespace std::chrono;
  // "Sun, 06 Nov 1994 08:49:37 GMT"
  if (s.size() != 29 || s.substr(3, 2) != ", " || s[7] != ' ' || s[11] != ' ' || s[16] != ' ' || s[19] != ':' ||
      s[22] != ':' || s.substr(25) != " GMT") {
    return std::nullopt;
  }
  int month = -1;
  for (int m = 0; m < 12; ++m) {
    if (s.substr(8, 3) == kMonths[m]) month = m + 1;
  }
  const int d = Digits(s, 5, 2), y = Digits(s, 12, 4);
  const int h = Digits(s, 17, 2), mi = Digits(s, 20, 2), sec = Digits(s, 23, 2);
  if (month < 0 || d < 0 || y < 0 || h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 60) {
    return std::nullopt;
  }
  const year_month_day date{year(y), std::chrono::month(static_cast<unsigned>(month)), day(static_cast<unsigned>(d))};
  if (!date.ok()) return std::nullopt;
  return (sys_days(date).time_since_epoch() + hours(h) + minutes(mi) + seconds(sec)) / seconds(1);
}

bool EtagListMatches(std::string_view list, std::string_view etag) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    std::string_view item = Trim(list.substr(0, comma));
    if (item.starts_with("W/")) item.remove_prefix(2);
    if (item == "*" || item == etag) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

RangeChoice ChooseRange(std::string_view header, std::uint64_t size) {
  RangeChoice whole;
  header = Trim(header);
  const size_t eq = header.find('=');
  if (eq == std::string_view::npos || !IEquals(Trim(header.substr(0, eq)), "bytes")) return whole;
  const std::string_view range = Trim(header.substr(eq + 1));
  if (range.find(',') != std::string_view::npos) return whole;
  const size_t dash = range.find('-');
  if (dash == std::string_view::npos) return whole;
  const std::string_view from = range.substr(0, dash), to = range.substr(dash + 1);
  RangeChoice part;
  part.kind = RangeChoice::kPart;
  if (from.empty()) {
    // The last N bytes.
    const auto n = Decimal(to);
    if (!n) return whole;
    if (*n == 0 || size == 0) return {RangeChoice::kUnsatisfiable};
    part.first = *n >= size ? 0 : size - *n;
    part.last = size - 1;
    return part;
  }
  const auto first = Decimal(from);
  if (!first) return whole;
  std::optional<std::uint64_t> last = size == 0 ? 0 : size - 1;
  if (!to.empty()) {
    last = Decimal(to);
    if (!last || *last < *first) return whole;
  }
  if (*first >= size) return {RangeChoice::kUnsatisfiable};
  part.first = *first;
  part.last = *last >= size ? size - 1 : *last;
  return part;
}

bool HasFoldedField(std::string_view head) {
  // A line that begins with a space or tab continues the one before it.
  for (size_t at = head.find("\r\n"); at != std::string_view::npos; at = head.find("\r\n", at + 2)) {
    if (at + 2 < head.size() && (head[at + 2] == ' ' || head[at + 2] == '\t')) return true;
  }
  return false;
}

std::optional<std::string_view> OriginForm(std::string_view target) {
  if (target.starts_with('/')) return target;
  const size_t scheme = target.find("://");
  if (scheme == std::string_view::npos ||
      !(IEquals(target.substr(0, scheme), "http") || IEquals(target.substr(0, scheme), "https"))) {
    return std::nullopt;
  }
  const std::string_view rest = target.substr(scheme + 3);
  const size_t path = rest.find_first_of("/?");
  if (path == 0) return std::nullopt;  // no authority
  if (path == std::string_view::npos) return std::string_view("/");
  if (rest[path] == '?') return std::nullopt;  // "/" is missing; not worth a copy
  return rest.substr(path);
}

std::string LogText(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, 512)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  if (text.size() > 512) out += "...";
  return out;
}

}  // namespace albummaker::host
