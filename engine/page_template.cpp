#include "page_template.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace albummaker {
namespace {

std::u16string_view UpToNul(std::u16string_view s) {
  const std::size_t nul = s.find(u'\0');
  return nul == std::u16string_view::npos ? s : s.substr(0, nul);
}

void Assign(std::u16string& target, const OptionalMarker& given, const std::u16string& fallback) {
  if (given)
    target.assign(UpToNul(*given));
  else
    target = fallback;
}

// Tokens are short: an inline loop beats a library call per candidate.
inline bool SameUnits(const char16_t* a, const char16_t* b, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// Calls onHit(p) for each occurrence of token (not empty) in s[0, n), left
// to right without overlap: the search resumes after each occurrence. Where
// the processor allows, sixteen candidate positions are tested at once (first
// and last unit of the token); the fill of a large template is bound by this
// scan. onHit may rewrite text before p + token length.
template <typename OnHit>
void ForEachToken(char16_t* s, std::size_t n, const std::u16string& token, OnHit&& onHit) {
  const std::size_t t = token.size();
  if (t > n) return;
  const std::size_t last = n - t;  // the last position a match may start at
  const char16_t* tk = token.data();
  const auto matchesAt = [s, tk, t](std::size_t p) {
    return s[p] == tk[0] && s[p + t - 1] == tk[t - 1] && (t < 2 || SameUnits(s + p + 1, tk + 1, t - 2));
  };
  std::size_t next = 0;  // the first position a match may start at
  std::size_t block = 0;
#if defined(__SSE2__)
  const __m128i firstUnit = _mm_set1_epi16(static_cast<short>(tk[0]));
  const __m128i lastUnit = _mm_set1_epi16(static_cast<short>(tk[t - 1]));
  // A token of 8 to 16 units is compared as two overlapping blocks of eight,
  // without a loop whose exit the processor would mispredict at every hit.
  const bool twoBlocks = t >= 8 && t <= 16;
  const __m128i tokenHead = twoBlocks ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(tk)) : _mm_setzero_si128();
  const __m128i tokenTail =
      twoBlocks ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(tk + t - 8)) : _mm_setzero_si128();
  const auto sameToken = [&](std::size_t p) {
    if (twoBlocks) {
      const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p));
      const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p + t - 8));
      return _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(head, tokenHead), _mm_cmpeq_epi16(tail, tokenTail))) ==
             0xFFFF;
    }
    return t < 2 || SameUnits(s + p + 1, tk + 1, t - 2);
  };
  const auto candidates = [&](std::size_t at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at + t - 1));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(a, firstUnit), _mm_cmpeq_epi16(b, lastUnit))));
  };
  // Two mask bits per unit; one of each pair is kept.
  while (block + 16 <= last + 1) {
    std::uint32_t mask = candidates(block) | (candidates(block + 8) << 16);
    mask &= 0x55555555u;
    while (mask != 0) {
      const std::size_t p = block + static_cast<std::size_t>(__builtin_ctz(mask)) / 2;
      mask &= mask - 1;
      if (p >= next && sameToken(p)) {
        onHit(p);
        next = p + t;
      }
    }
    block = block + 16 > next ? block + 16 : next;
  }
#endif
  for (std::size_t p = block > next ? block : next; p <= last;) {
    if (matchesAt(p)) {
      onHit(p);
      p += t;
    } else {
      ++p;
    }
  }
}

}  // namespace

const MarkerSet& DefaultMarkers() noexcept {
  // Constant-initialised would need constexpr strings; a function-local static
  // is initialised once, thread-safely, and only read afterwards.
  static const MarkerSet defaults{u"^tq_", u"^", u"<!--tq_", u"Start-->", u"End-->"};
  return defaults;
}

PageTemplate::PageTemplate(std::u16string_view text, OptionalMarker placeholderPrefix,
                           OptionalMarker placeholderSuffix, OptionalMarker sectionPrefix,
                           OptionalMarker sectionStartSuffix, OptionalMarker sectionEndSuffix)
    : text_(UpToNul(text)) {
  SetMarkers(placeholderPrefix, placeholderSuffix, sectionPrefix, sectionStartSuffix, sectionEndSuffix);
}

void PageTemplate::SetMarkers(OptionalMarker placeholderPrefix, OptionalMarker placeholderSuffix,
                              OptionalMarker sectionPrefix, OptionalMarker sectionStartSuffix,
                              OptionalMarker sectionEndSuffix) {
  const MarkerSet& d = DefaultMarkers();
  Assign(markers_.placeholderPrefix, placeholderPrefix, d.placeholderPrefix);
  Assign(markers_.placeholderSuffix, placeholderSuffix, d.placeholderSuffix);
  Assign(markers_.sectionPrefix, sectionPrefix, d.sectionPrefix);
  Assign(markers_.sectionStartSuffix, sectionStartSuffix, d.sectionStartSuffix);
  Assign(markers_.sectionEndSuffix, sectionEndSuffix, d.sectionEndSuffix);
}

void PageTemplate::SetText(std::u16string_view text) {
  text_.assign(UpToNul(text));
  cursor_ = kNone;
}

std::size_t PageTemplate::SetPlaceholder(std::u16string_view name, std::u16string_view value) {
  name = UpToNul(name);
  value = UpToNul(value);
  std::u16string token;
  token.reserve(markers_.placeholderPrefix.size() + name.size() + markers_.placeholderSuffix.size());
  token.append(markers_.placeholderPrefix).append(name).append(markers_.placeholderSuffix);
  const std::size_t t = token.size();
  if (t == 0) return 0;

  // The value may be a view into this very text; it must not change under us.
  std::u16string valueCopy;
  const std::less<const char16_t*> before;
  if (!value.empty() && !before(value.data(), text_.data()) && before(value.data(), text_.data() + text_.size() + 1)) {
    valueCopy.assign(value);
    value = valueCopy;
  }
  const std::size_t v = value.size();

  // Called at each replacement with p, where the token stands in the text as
  // it is at that replacement, so the cursor moves as with one replacement at
  // a time.
  const auto moveCursor = [this, t, v](std::size_t p) {
    if (cursor_ != kNone && cursor_ >= p) cursor_ = cursor_ < p + t ? p + v : cursor_ + v - t;
  };

  char16_t* s = text_.data();
  const std::size_t n = text_.size();
  std::size_t count = 0;
  std::size_t read = 0;  // text before this has been handled
  if (v <= t) {
    // The text only shrinks: build it in place, writing behind the search.
    std::size_t write = 0;
    ForEachToken(s, n, token, [&](std::size_t hit) {
      if (write != read) std::char_traits<char16_t>::move(s + write, s + read, hit - read);
      write += hit - read;
      moveCursor(write);
      for (std::size_t i = 0; i < v; ++i) s[write + i] = value[i];
      write += v;
      read = hit + t;
      ++count;
    });
    if (count == 0) return 0;
    if (write != read) std::char_traits<char16_t>::move(s + write, s + read, n - read);
    text_.resize(write + (n - read));
    return count;
  }

  std::u16string out;
  ForEachToken(s, n, token, [&](std::size_t hit) {
    if (count == 0) out.reserve(n + (v - t) * 16);
    out.append(s + read, hit - read);
    moveCursor(out.size());
    out.append(value);
    read = hit + t;
    ++count;
  });
  if (count == 0) return 0;
  out.append(s + read, n - read);
  text_ = std::move(out);
  return count;
}

std::u16string PageTemplate::ExtractSection(std::u16string_view name) {
  name = UpToNul(name);
  std::u16string start = markers_.sectionPrefix;
  start.append(name).append(markers_.sectionStartSuffix);
  const std::size_t s = text_.find(start);
  if (s == std::u16string::npos) return {};
  std::u16string end = markers_.sectionPrefix;
  end.append(name).append(markers_.sectionEndSuffix);
  const std::size_t bodyStart = s + start.size();
  const std::size_t e = text_.find(end, bodyStart);
  if (e == std::u16string::npos) return {};
  std::u16string body = text_.substr(bodyStart, e - bodyStart);
  text_.erase(s, e + end.size() - s);
  cursor_ = s;
  return body;
}

void PageTemplate::InsertAtCursor(std::u16string_view str) {
  if (cursor_ == kNone) return;
  str = UpToNul(str);
  text_.insert(cursor_, str);
  cursor_ += str.size();
}

void PageTemplate::ShowSection(std::u16string_view name, bool keep) {
  std::u16string body = ExtractSection(name);
  while (!body.empty()) {
    if (keep) InsertAtCursor(body);
    body = ExtractSection(name);
  }
}

}  // namespace albummaker
