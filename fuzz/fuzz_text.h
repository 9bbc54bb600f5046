// Text for the engine harnesses, drawn from the fuzzer's bytes: mostly pieces
// of markup (marker parts, short names, a NUL, surrogates), so that markers
// meet, overlap and nest far more often than in random units.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_text {

inline const char16_t* const kPieces[] = {
    u"^tq_", u"^",  u"<!--tq_", u"Start-->", u"End-->",       u"N", u"M", u"NM", u"a", u" ",    u"-->", u"<!--",
    u"tq_",  u"\0", u"\xD83D",  u"\xDE00",   u"\xD83D\xDE00", u"&", u"<", u"%",  u"+", u"\xE9",
};

inline std::u16string Text(FuzzedDataProvider& in, std::size_t maxPieces) {
  std::u16string out;
  const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, maxPieces);
  for (std::size_t i = 0; i < n && in.remaining_bytes() > 0; ++i) {
    const std::uint8_t pick = in.ConsumeIntegral<std::uint8_t>();
    if (pick < 200) {
      const char16_t* piece = kPieces[pick % std::size(kPieces)];
      // u"\0" is one NUL unit; every other piece ends at its terminator.
      if (piece[0] == u'\0')
        out += u'\0';
      else
        out += piece;
    } else {
      out += static_cast<char16_t>(in.ConsumeIntegral<std::uint16_t>());
    }
  }
  return out;
}

[[noreturn]] inline void Fail(const char* harness, const char* what) {
  std::fprintf(stderr, "%s: %s\n", harness, what);
  std::abort();
}

}  // namespace fuzz_text
