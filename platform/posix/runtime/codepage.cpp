// Code-page services. The ANSI code page is Windows-1252; UTF-8 is also
// accepted. Results, counts and error numbers follow the Win32 functions:
// a length of -1 counts the terminating NUL, a destination size of 0 only
// measures, and a destination that is too small fails the whole call.
#include "utf8.h"
#include <cstring>
#include <string>

#include <windows.h>

#include "cp1252.h"
#include "runtime_internal.h"

namespace {

constexpr DWORD kErrorInvalidFlags = 1004;
constexpr UINT kThreadAcp = 3;
constexpr UINT kCp1252 = 1252;

enum class Page { Ansi, Utf8, Unknown };

Page PageOf(UINT codePage) {
  if (codePage == CP_ACP || codePage == kThreadAcp || codePage == kCp1252) return Page::Ansi;
  if (codePage == CP_UTF8) return Page::Utf8;
  return Page::Unknown;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// Folds a Windows-1252 byte to its lower-case letter where the code page has
// one (ASCII, the accented Latin letters, S/Z with caron, OE, Y with
// diaeresis). Lower case, like Windows, puts "_" and "[" before letters.
char16_t Fold(unsigned char byte) {
  char16_t u = albummaker::cp1252::Decode(byte);
  if (u >= u'A' && u <= u'Z') return static_cast<char16_t>(u + 0x20);
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char16_t>(u + 0x20);
  switch (u) {
    case 0x0160:
      return 0x0161;
    case 0x0152:
      return 0x0153;
    case 0x017D:
      return 0x017E;
    case 0x0178:
      return 0x00FF;
    default:
      return u;
  }
}

}  // namespace

extern "C" {

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR dest, int destUnits) {
  if (source == nullptr || sourceBytes == 0 || sourceBytes < -1 || destUnits < 0 || (dest == nullptr && destUnits != 0))
    return Fail(ERROR_INVALID_PARAMETER);
  Page page = PageOf(codePage);
  if (page == Page::Unknown) return Fail(ERROR_INVALID_PARAMETER);
  if (page == Page::Utf8 && (flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) return Fail(kErrorInvalidFlags);
  size_t n = sourceBytes == -1 ? std::strlen(source) + 1 : static_cast<size_t>(sourceBytes);
  const auto* bytes = reinterpret_cast<const unsigned char*>(source);

  std::u16string text;
  try {
    if (page == Page::Ansi) {
      text.reserve(n);
      for (size_t i = 0; i < n; ++i) text.push_back(albummaker::cp1252::Decode(bytes[i]));
    } else {
      // Each maximal ill-formed part becomes one U+FFFD, or fails the call.
      using albummaker::utf8::BadBytes;
      const BadBytes policy = (flags & MB_ERR_INVALID_CHARS) != 0 ? BadBytes::Refuse : BadBytes::Replace;
      if (!albummaker::utf8::AppendAsUtf16(std::string_view(source, n), text, policy))
        return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
  } catch (...) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (text.size() > 0x7FFFFFFF) return Fail(ERROR_INVALID_PARAMETER);
  if (destUnits == 0) return static_cast<int>(text.size());
  if (text.size() > static_cast<size_t>(destUnits)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(dest, text.data(), text.size() * sizeof(char16_t));
  return static_cast<int>(text.size());
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceUnits, LPSTR dest, int destBytes,
                        LPCSTR defaultChar, LPBOOL usedDefault) {
  if (source == nullptr || sourceUnits == 0 || sourceUnits < -1 || destBytes < 0 || (dest == nullptr && destBytes != 0))
    return Fail(ERROR_INVALID_PARAMETER);
  Page page = PageOf(codePage);
  if (page == Page::Unknown) return Fail(ERROR_INVALID_PARAMETER);
  if (page == Page::Utf8) {
    // UTF-8 maps everything; a default character makes no sense for it.
    if (defaultChar != nullptr || usedDefault != nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (flags != 0) return Fail(kErrorInvalidFlags);
  }
  size_t n = sourceUnits == -1 ? static_cast<size_t>(lstrlenW(source)) + 1 : static_cast<size_t>(sourceUnits);

  std::string text;
  bool defaulted = false;
  try {
    if (page == Page::Ansi) {
      text.reserve(n);
      char fallback = defaultChar != nullptr ? *defaultChar : '?';
      for (size_t i = 0; i < n; ++i) {
        unsigned char byte = 0;
        if (albummaker::cp1252::Encode(source[i], byte)) {
          text.push_back(static_cast<char>(byte));
        } else {
          text.push_back(fallback);
          defaulted = true;
        }
      }
    } else {
      // Windows writes U+FFFD for an unpaired surrogate; no escaped bytes here.
      text = albummaker::utf8::FromUtf16(std::u16string_view(source, n), false);
    }
  } catch (...) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (text.size() > 0x7FFFFFFF) return Fail(ERROR_INVALID_PARAMETER);
  if (destBytes != 0) {
    if (text.size() > static_cast<size_t>(destBytes)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(dest, text.data(), text.size());
  }
  if (usedDefault != nullptr) *usedDefault = defaulted ? TRUE : FALSE;
  return static_cast<int>(text.size());
}

LPSTR CharNextA(LPCSTR p) {
  if (p == nullptr) return nullptr;
  return const_cast<LPSTR>(*p != '\0' ? p + 1 : p);
}

BOOL IsDBCSLeadByte(BYTE) { return FALSE; }

// Equal exactly when the texts differ only in letter case. The order is that
// of the folded UTF-16 units; Windows orders linguistically, which callers
// here never rely on.
int lstrcmpiA(LPCSTR a, LPCSTR b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    char16_t fx = *x == 0 ? 0 : Fold(*x);
    char16_t fy = *y == 0 ? 0 : Fold(*y);
    if (fx != fy) return fx < fy ? -1 : 1;
    if (fx == 0) return 0;
  }
}

int lstrlenA(LPCSTR s) { return s == nullptr ? 0 : static_cast<int>(std::strlen(s)); }

int lstrlenW(LPCWSTR s) {
  if (s == nullptr) return 0;
  const WCHAR* p = s;
  while (*p != 0) ++p;
  return static_cast<int>(p - s);
}

UINT GetACP(void) { return kCp1252; }

}  // extern "C"

namespace albumrt {

std::string Narrow(const OLECHAR* text) {
  if (text == nullptr) return {};
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.resize(static_cast<size_t>(bytes) - 1);
  return out;
}

std::u16string Widen(const std::string& text) {
  const int units = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (units <= 0) return {};
  std::u16string out(static_cast<size_t>(units), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), units);
  out.resize(static_cast<size_t>(units) - 1);
  return out;
}

}  // namespace albumrt
