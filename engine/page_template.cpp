#include "page_template.h"
#include "engine_test_hooks.h"

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#endif
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

// Tokens are short: an inline compare beats a library call per candidate.
#if defined(__SSE2__)
inline __m128i Load8(const char16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
#endif

inline bool SameUnits(const char16_t* a, const char16_t* b, std::size_t count) {
#if defined(__SSE2__)
  if (count >= 8) {
    // Blocks of eight; the last one overlaps the one before it.
    __m128i same = _mm_cmpeq_epi16(Load8(a + count - 8), Load8(b + count - 8));
    for (std::size_t i = 0; i + 8 < count; i += 8)
      same = _mm_and_si128(same, _mm_cmpeq_epi16(Load8(a + i), Load8(b + i)));
    return _mm_movemask_epi8(same) == 0xFFFF;
  }
#endif
  for (std::size_t i = 0; i < count; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// to and from do not overlap. Values are short: in the fill, this inline
// copy measured about a third faster overall than a library call per value.
inline void CopyUnits(char16_t* to, const char16_t* from, std::size_t count) {
#if defined(__SSE2__)
  if (count >= 8) {
    // Blocks of eight; the last one overlaps the one before it and stays
    // within to[0, count).
    const __m128i tail = Load8(from + count - 8);
    for (std::size_t i = 0; i + 8 < count; i += 8)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), Load8(from + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + count - 8), tail);
    return;
  }
#endif
  for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
}

// The token is found in two steps per stretch of text: a scan lists every
// candidate, a position p where the token's first and last units stand
// (s[p] == first, s[p + span] == final), then each candidate is compared
// whole. The scan has no branch that depends on where candidates fall, and
// with real markers nearly every candidate is a token, so a token costs no
// mispredicted branch; a scan that stopped at each one would pay one each.
constexpr std::size_t kStretch = 2048;
// The scans write a few entries past the candidates they report.
constexpr std::size_t kListSlack = 64;

// Writes base + the offset from `from` of each candidate in [from, end) to
// out and returns their number; out holds end - from + kListSlack entries.
using ListCandidatesFn = std::size_t (*)(const char16_t* s, std::size_t from, std::size_t end, char16_t first,
                                         char16_t final, std::size_t span, std::uint32_t* out, std::uint32_t base);

std::size_t ListCandidatesPlain(const char16_t* s, std::size_t from, std::size_t end, char16_t first, char16_t final,
                                std::size_t span, std::uint32_t* out, std::uint32_t base) {
  std::size_t count = 0;
  for (std::size_t p = from; p < end; ++p) {
    out[count] = base + static_cast<std::uint32_t>(p - from);
    count += (s[p] == first) & (s[p + span] == final);
  }
  return count;
}

#if defined(__SSE2__)
// Appends the positions of the set bits of a 64-unit block's mask, plus base,
// to out[count...] and returns the new count. Four are written whatever the
// mask holds; more only when a block has more candidates, which real
// templates rarely have. Nothing here may branch on the mask or call the
// library (the baseline instruction set has no bit count): either would cost
// more than the scan. The top bit keeps the bit search from seeing zero, where
// it is undefined; it changes no position that is used.
inline std::size_t AppendBits(std::uint64_t mask, std::uint32_t base, std::uint32_t* out, std::size_t count) {
  std::uint64_t c = mask - ((mask >> 1) & 0x5555555555555555u);
  c = (c & 0x3333333333333333u) + ((c >> 2) & 0x3333333333333333u);
  const auto found = static_cast<std::size_t>((((c + (c >> 4)) & 0x0F0F0F0F0F0F0F0Fu) * 0x0101010101010101u) >> 56);
  constexpr std::uint64_t kTop = std::uint64_t{1} << 63;
  std::uint32_t* at = out + count;
  for (int i = 0; i < 4; ++i) {
    at[i] = base + static_cast<std::uint32_t>(__builtin_ctzll(mask | kTop));
    mask &= mask - 1;
  }
  for (std::size_t i = 4; i < found; ++i) {
    at[i] = base + static_cast<std::uint32_t>(__builtin_ctzll(mask | kTop));
    mask &= mask - 1;
  }
  return count + found;
}

// Sixty-four positions per step, one mask bit each.
std::size_t ListCandidatesSse2(const char16_t* s, std::size_t from, std::size_t end, char16_t first, char16_t final,
                               std::size_t span, std::uint32_t* out, std::uint32_t base) {
  const __m128i f = _mm_set1_epi16(static_cast<short>(first));
  const __m128i l = _mm_set1_epi16(static_cast<short>(final));
  const auto test = [s, span, f, l](std::size_t p) {
    return _mm_and_si128(_mm_cmpeq_epi16(Load8(s + p), f), _mm_cmpeq_epi16(Load8(s + p + span), l));
  };
  const auto bits16 = [&test](std::size_t p) {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(test(p), test(p + 8)))));
  };
  std::size_t count = 0;
  std::size_t p = from;
  for (; p + 64 <= end; p += 64) {
    const std::uint64_t mask = bits16(p) | bits16(p + 16) << 16 | bits16(p + 32) << 32 | bits16(p + 48) << 48;
    count = AppendBits(mask, base + static_cast<std::uint32_t>(p - from), out, count);
  }
  return count + ListCandidatesPlain(s, p, end, first, final, span, out + count,
                                     base + static_cast<std::uint32_t>(p - from));
}
#endif

#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define AM_HAVE_AVX2_SCAN 1
// As above for a block of 64, where the processor counts and finds bits.
__attribute__((target("avx2,bmi,popcnt"))) inline std::size_t AppendBits64(std::uint64_t mask, std::uint32_t base,
                                                                            std::uint32_t* out, std::size_t count) {
  const auto found = static_cast<std::size_t>(std::popcount(mask));
  std::uint32_t* at = out + count;
  for (int i = 0; i < 4; ++i) {
    at[i] = base + static_cast<std::uint32_t>(std::countr_zero(mask));
    mask &= mask - 1;
  }
  for (std::size_t i = 4; i < found; ++i) {
    at[i] = base + static_cast<std::uint32_t>(std::countr_zero(mask));
    mask &= mask - 1;
  }
  return count + found;
}

// Sixty-four positions per step, taken only where the processor has AVX2.
// (A lambda would not inherit this function's target, hence no helpers.)
__attribute__((target("avx2,bmi,popcnt"))) std::size_t ListCandidatesAvx2(const char16_t* s, std::size_t from,
                                                                          std::size_t end, char16_t first,
                                                                          char16_t final, std::size_t span,
                                                                          std::uint32_t* out, std::uint32_t base) {
  const __m256i f = _mm256_set1_epi16(static_cast<short>(first));
  const __m256i l = _mm256_set1_epi16(static_cast<short>(final));
  std::size_t count = 0;
  std::size_t p = from;
  for (; p + 64 <= end; p += 64) {
    const auto* a = reinterpret_cast<const __m256i*>(s + p);
    const auto* b = reinterpret_cast<const __m256i*>(s + p + span);
    __m256i m[4];
    for (int i = 0; i < 4; ++i)
      m[i] = _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_loadu_si256(a + i), f),
                              _mm256_cmpeq_epi16(_mm256_loadu_si256(b + i), l));
    // packs works per 128-bit lane; the permute puts the bytes back in order.
    const auto low = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(m[0], m[1]), 0xD8)));
    const auto high = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(m[2], m[3]), 0xD8)));
    count = AppendBits64(low | std::uint64_t{high} << 32, base + static_cast<std::uint32_t>(p - from), out, count);
  }
  return count + ListCandidatesSse2(s, p, end, first, final, span, out + count,
                                    base + static_cast<std::uint32_t>(p - from));
}
#endif

ListCandidatesFn ChooseListCandidates() noexcept {
#if defined(AM_HAVE_AVX2_SCAN)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt"))
    return ListCandidatesAvx2;
#endif
#if defined(__SSE2__)
  return ListCandidatesSse2;
#else
  return ListCandidatesPlain;
#endif
}

// Null unless a test forced a scan; read once per fill.
std::atomic<ListCandidatesFn> g_forcedScan{nullptr};

ListCandidatesFn CurrentListCandidates() noexcept {
  // Chosen once, thread-safely; only read afterwards.
  static const ListCandidatesFn best = ChooseListCandidates();
  const ListCandidatesFn forced = g_forcedScan.load(std::memory_order_relaxed);
  return forced != nullptr ? forced : best;
}

// Calls onHit(p) for each occurrence of token (not empty) in s[0, n), left
// to right without overlap: the search resumes after each occurrence. onHit
// may rewrite text before p + token length.
template <typename OnHit>
void ForEachToken(char16_t* s, std::size_t n, std::u16string_view token, OnHit&& onHit) {
  const std::size_t t = token.size();
  if (t > n) return;
  const std::size_t last = n - t;  // the last position a match may start at
  const char16_t* tk = token.data();
  const ListCandidatesFn listCandidates = CurrentListCandidates();
  std::uint32_t found[kStretch + kListSlack];
  std::size_t next = 0;  // the first position a match may start at
  for (std::size_t from = 0; from <= last; from += kStretch) {
    // The list stays valid while hits are filled in: onHit writes only
    // before next, and candidates before next are skipped.
    const std::size_t end = last + 1 - from < kStretch ? last + 1 : from + kStretch;
    const std::size_t count = listCandidates(s, from, end, tk[0], tk[t - 1], t - 1, found, 0);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t p = from + found[i];
      if (p >= next && SameUnits(s + p, tk, t)) {
        onHit(p);
        next = p + t;
      }
    }
  }
}

}  // namespace

namespace test_hooks {
bool SelectTokenScan(TokenScan scan) noexcept {
  ListCandidatesFn chosen = nullptr;
  switch (scan) {
    case TokenScan::kAuto: break;
    case TokenScan::kPlain: chosen = ListCandidatesPlain; break;
    case TokenScan::kSse2:
#if defined(__SSE2__)
      chosen = ListCandidatesSse2;
      break;
#else
      return false;
#endif
    case TokenScan::kAvx2:
#if defined(AM_HAVE_AVX2_SCAN)
      if (ChooseListCandidates() != ListCandidatesAvx2) return false;
      chosen = ListCandidatesAvx2;
      break;
#else
      return false;
#endif
  }
  g_forcedScan.store(chosen, std::memory_order_relaxed);
  return true;
}
}  // namespace test_hooks

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
      CopyUnits(s + write, value.data(), v);
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
    // Room for a few more replacements of a short value; a long one gets room
    // for itself only, so a large value never asks for many times its size.
    if (count == 0) out.reserve(n + (v - t) * (v - t <= 4096 ? 16 : 1));
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
