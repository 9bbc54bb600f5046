#include "album_engine.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine_test_hooks.h"
#include "platform_seam.h"

namespace albummaker {

#if defined(AM_ENGINE_FAULTS)
namespace test_hooks {
namespace {
std::atomic<std::size_t> g_allocationLimit{static_cast<std::size_t>(-1)};
std::atomic<std::uint32_t> g_readFailure{0};
}  // namespace

void SetAllocationLimit(std::size_t bytes) noexcept { g_allocationLimit.store(bytes, std::memory_order_relaxed); }
std::size_t AllocationLimit() noexcept { return g_allocationLimit.load(std::memory_order_relaxed); }
void SetReadFailure(std::uint32_t errorNumber) noexcept { g_readFailure.store(errorNumber, std::memory_order_relaxed); }
std::uint32_t ReadFailure() noexcept { return g_readFailure.load(std::memory_order_relaxed); }
void Reset() noexcept {
  SetAllocationLimit(static_cast<std::size_t>(-1));
  SetReadFailure(0);
}
}  // namespace test_hooks
#endif

namespace {

std::u16string CopyUpToNul(const char16_t* text) {
  if (text == nullptr) return {};
  return std::u16string(text);  // stops at the first NUL
}

// Decimal digits of an unsigned number, without sign or leading zeros.
std::u16string Decimal(std::uint64_t n) {
  char16_t buf[24];
  char16_t* end = buf + 24;
  char16_t* p = end;
  do {
    *--p = static_cast<char16_t>(u'0' + n % 10);
    n /= 10;
  } while (n != 0);
  return std::u16string(p, end);
}

// A byte buffer of count bytes, or null when it cannot be had.
std::unique_ptr<char[]> AllocateBytes(std::uint64_t count) {
  if (count > test_hooks::AllocationLimit() || count > static_cast<std::uint64_t>(SIZE_MAX)) return nullptr;
  return std::unique_ptr<char[]>(new (std::nothrow) char[static_cast<std::size_t>(count)]);
}

}  // namespace

void AlbumEngine::SetPageTemplatePath(const char16_t* path) { pageTemplatePath_ = CopyUpToNul(path); }
void AlbumEngine::SetFolderPath(const char16_t* path) { folderPath_ = CopyUpToNul(path); }

std::u16string AlbumEngine::RenderPageByName(std::u16string_view name) const {
  ImageList list;
  ScanFolder(folderPath_, list);
  if (list.empty()) return {};
  std::size_t position = FindName(list, name);
  if (position == kNoPosition) position = 0;
  return RenderPage(list, position);
}

std::u16string AlbumEngine::RenderPageByIndex(std::int32_t index) const {
  ImageList list;
  ScanFolder(folderPath_, list);
  if (list.empty()) return {};
  std::size_t position = 0;
  if (index >= 0 && static_cast<std::size_t>(index) < list.size()) position = static_cast<std::size_t>(index);
  return RenderPage(list, position);
}

std::u16string AlbumEngine::RenderPage(const ImageList& list, std::size_t p) const {
  PageTemplate page;
  {
    seam::ReadOnlyFile file;
    if (file.Open(pageTemplatePath_)) {
      std::uint64_t size = 0;
      if (!file.Size(size)) {
        file.Close();
        RaiseEngineError(kReadErrorMessage, 0);
      }
      // The whole file goes through one 32-bit read; a larger one is refused
      // rather than silently cut.
      if (size >= 0x100000000ull) {
        file.Close();
        RaiseEngineError(kNoMemoryMessage, kErrorOutOfMemory);
      }
      std::unique_ptr<char[]> bytes = AllocateBytes(size + 1);
      if (!bytes) {
        file.Close();
        RaiseEngineError(kNoMemoryMessage, kErrorOutOfMemory);
      }
      std::uint32_t bytesRead = 0;
      std::uint32_t errorNumber = 0;
      bool ok;
      if (const std::uint32_t injected = test_hooks::ReadFailure(); injected != 0) {
        ok = false;
        errorNumber = injected;
      } else {
        ok = file.Read(bytes.get(), static_cast<std::uint32_t>(size), bytesRead, errorNumber);
      }
      if (!ok) {
        file.Close();
        bytes.reset();
        RaiseEngineError(kReadErrorMessage, errorNumber);
      }
      file.Close();
      // A file that shrank meanwhile: only what was delivered is text.
      if (bytesRead > size) bytesRead = static_cast<std::uint32_t>(size);
      bytes[bytesRead] = '\0';
      std::optional<std::u16string> text = AnsiToWide(bytes.get(), std::size_t{bytesRead} + 1);
      bytes.reset();
      if (!text) RaiseEngineError(kNoMemoryMessage, kErrorOutOfMemory);
      page.AdoptText(std::move(*text));
    }
  }

  const std::size_t count = list.size();
  // Filled before all others, so no value filled later is searched for it and
  // a template without it renders exactly as before. Its value (letters,
  // digits, "+", "%", "u") holds no token or section marker of its own.
  page.SetPlaceholder(u"UrlEncodedCurrentFileName", UrlEncode(list[p]));
  if (p == 0) {
    page.ShowSection(u"LinkToPrevious", false);
  } else {
    page.ShowSection(u"LinkToPrevious", true);
    page.SetPlaceholder(u"UrlEncodedPreviousFileName", UrlEncode(list[p - 1]));
  }
  if (p + 1 >= count) {
    page.ShowSection(u"LinkToNext", false);
  } else {
    page.ShowSection(u"LinkToNext", true);
    page.SetPlaceholder(u"UrlEncodedNextFileName", UrlEncode(list[p + 1]));
  }
  const std::u16string_view name = list[p];
  const std::size_t dot = name.rfind(u'.');
  const std::u16string_view base =
      dot == std::u16string::npos ? std::u16string_view(name) : std::u16string_view(name).substr(0, dot);
  page.SetPlaceholder(u"CurrentFileNameWithoutExtension", HtmlEscape(base));
  page.SetPlaceholder(u"CurrentFileName", HtmlEscape(name));
  page.SetPlaceholder(u"FileOrdinalNumber", Decimal(p + 1));
  page.SetPlaceholder(u"TotalFilesCount", Decimal(count));
  return page.TakeText();
}

std::u16string UrlEncode(std::u16string_view text) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out;
  out.reserve(text.size() * 3);
  for (const char16_t u : text) {
    if ((u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9')) {
      out.push_back(u);
    } else if (u == u' ') {
      out.push_back(u'+');
    } else if (u < 0x100) {
      out.push_back(u'%');
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 0xF]);
    } else {
      out.append(u"%u");
      out.push_back(kHex[(u >> 12) & 0xF]);
      out.push_back(kHex[(u >> 8) & 0xF]);
      out.push_back(kHex[(u >> 4) & 0xF]);
      out.push_back(kHex[u & 0xF]);
    }
  }
  return out;
}

std::u16string HtmlEscape(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + 16);
  const auto numeric = [&out](std::uint32_t value) {
    out.append(u"&#");
    std::u16string digits = Decimal(value);
    if (digits.size() < 4) out.append(4 - digits.size(), u'0');
    out.append(digits);
    out.push_back(u';');
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    switch (u) {
      case u'"':
        out.append(u"&quot;");
        continue;
      case u'\'':
        out.append(u"&#0039;");
        continue;
      case u'<':
        out.append(u"&lt;");
        continue;
      case u'>':
        out.append(u"&gt;");
        continue;
      case u'&':
        out.append(u"&amp;");
        continue;
      default:
        break;
    }
    if (u >= 0x20 && u <= 0x7E) {
      out.push_back(u);
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      // A browser shows a reference to a lone surrogate as U+FFFD, so a pair
      // is written as its code point.
      numeric(0x10000u + ((static_cast<std::uint32_t>(u) - 0xD800u) << 10) +
              (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00u));
      ++i;
    } else {
      numeric(u);
    }
  }
  return out;
}

std::optional<std::u16string> AnsiToWide(const char* bytes, std::size_t byteCount) {
  if (bytes == nullptr || byteCount == 0) return std::u16string();
  const std::size_t n = seam::AnsiDecodedLength(bytes, byteCount);
  if (n == 0) return std::u16string();
  const void* nul = std::memchr(bytes, 0, byteCount);
  const std::size_t textBytes = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : byteCount;
  // Every byte of the code page gives at most one unit before the first NUL.
  const std::size_t units = std::min(textBytes, n - 1);
  if ((units + 1) > test_hooks::AllocationLimit() / sizeof(char16_t)) return std::nullopt;
  std::u16string text;
  try {
    text.resize(units + 1);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  } catch (const std::length_error&) {
    return std::nullopt;
  }
  const std::size_t written = units == 0 ? 0 : seam::AnsiDecode(bytes, textBytes, text.data(), units + 1);
  text.resize(std::min(written, units));
  return text;
}

void RaiseEngineError(std::string_view message, std::uint32_t code) {
  std::string text(message);
  if (code != 0) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string hex;
    for (std::uint32_t n = code; n != 0; n >>= 4) hex.insert(hex.begin(), kHex[n & 0xF]);
    text += " Error number: " + std::to_string(code) + " (0x" + hex + ")";
  }
  throw std::runtime_error(text);
}

}  // namespace albummaker
