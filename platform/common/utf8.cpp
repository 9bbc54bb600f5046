#include "utf8.h"

#include <cstdint>

namespace albummaker::utf8 {

bool AppendAsUtf16(std::string_view bytes, std::u16string& out, BadBytes policy) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      // Names and texts are mostly ASCII: a run of it is widened at once.
      std::size_t end = i + 1;
      while (end < n && s[end] < 0x80) ++end;
      const std::size_t at = out.size();
      out.resize(at + (end - i));
      for (char16_t* to = out.data() + at; i < end; ++i) *to++ = s[i];
      continue;
    }
    // The range of the second byte excludes overlong forms, surrogates and
    // values past U+10FFFF; the later ones are plain continuation bytes.
    std::size_t len = 0;
    std::uint32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2, cp = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, cp = b & 0x0Fu;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, cp = b & 0x07u;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    }
    // j ends at len for a whole sequence, otherwise at the end of the
    // maximal ill-formed part (a lone byte, or a valid start cut short).
    std::size_t j = 1;
    for (; j < len && i + j < n; ++j) {
      const unsigned char c = s[i + j];
      if (j == 1 ? (c < lo || c > hi) : (c & 0xC0) != 0x80) break;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    if (len == 0 || j != len) {
      switch (policy) {
        case BadBytes::Escape:
          for (std::size_t k = 0; k < j; ++k) out.push_back(static_cast<char16_t>(0xDC00u + s[i + k]));
          break;
        case BadBytes::Replace:
          out.push_back(u'\uFFFD');
          break;
        case BadBytes::Refuse:
          return false;
      }
      i += j;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800u + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00u + (cp & 0x3FFu)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return true;
}

std::u16string ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  AppendAsUtf16(bytes, out, BadBytes::Escape);
  return out;
}

std::string FromUtf16(std::u16string_view s, bool escapedBytes) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint32_t cp = s[i];
    if (escapedBytes && cp >= 0xDC80 && cp <= 0xDCFF) {
      out.push_back(static_cast<char>(cp - 0xDC00));
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace albummaker::utf8
