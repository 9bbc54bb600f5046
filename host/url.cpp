#include "url.h"

namespace albummaker::host {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads `count` hex digits at `pos`; -1 when they are not all there.
long HexRun(std::string_view s, size_t pos, size_t count) {
  if (pos + count > s.size()) return -1;
  long value = 0;
  for (size_t i = 0; i < count; ++i) {
    const int digit = HexValue(s[pos + i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

std::optional<std::u16string> DecodeAlbumLinkValue(std::string_view encoded) {
  std::u16string out;
  out.reserve(encoded.size());
  for (size_t i = 0; i < encoded.size();) {
    const char c = encoded[i];
    if (c == '+') {
      out.push_back(u' ');
      ++i;
    } else if (c == '%') {
      long unit;
      if (i + 1 < encoded.size() && (encoded[i + 1] == 'u' || encoded[i + 1] == 'U')) {
        unit = HexRun(encoded, i + 2, 4);
        i += 6;
      } else {
        unit = HexRun(encoded, i + 1, 2);
        i += 3;
      }
      if (unit <= 0) return std::nullopt;  // malformed, or an encoded NUL
      out.push_back(static_cast<char16_t>(unit));
    } else {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x21 || byte > 0x7E) return std::nullopt;
      out.push_back(static_cast<char16_t>(byte));
      ++i;
    }
  }
  return out;
}

std::optional<std::string> PercentDecodeBytes(std::string_view encoded) {
  std::string out;
  out.reserve(encoded.size());
  for (size_t i = 0; i < encoded.size();) {
    if (encoded[i] == '%') {
      const long byte = HexRun(encoded, i + 1, 2);
      if (byte < 0) return std::nullopt;
      out.push_back(static_cast<char>(byte));
      i += 3;
    } else {
      out.push_back(encoded[i]);
      ++i;
    }
  }
  return out;
}

std::string_view TargetPath(std::string_view target) {
  const size_t end = target.find_first_of("?#");
  return end == std::string_view::npos ? target : target.substr(0, end);
}

std::optional<std::string_view> FindQueryValue(std::string_view target, std::string_view key) {
  const size_t q = target.find('?');
  if (q == std::string_view::npos) return std::nullopt;
  std::string_view query = target.substr(q + 1);
  if (const size_t hash = query.find('#'); hash != std::string_view::npos) query = query.substr(0, hash);
  while (true) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const size_t eq = pair.find('=');
    const std::string_view name = pair.substr(0, eq);
    if (name == key) {
      return eq == std::string_view::npos ? std::string_view{} : pair.substr(eq + 1);
    }
    if (amp == std::string_view::npos) return std::nullopt;
    query = query.substr(amp + 1);
  }
}

}  // namespace albummaker::host
