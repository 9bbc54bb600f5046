// libFuzzer harness for the decoding of request targets: any bytes decode
// without a crash into text or into nothing, and the album's link encoding
// decodes back to the very units it encoded, lone surrogates included.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "album_engine.h"
#include "fuzz_text.h"
#include "url.h"

namespace {

using albummaker::UrlEncode;
using albummaker::host::DecodeAlbumLinkValue;

constexpr char kHarness[] = "url_fuzz";

void Check(bool ok, const char* what) {
  if (!ok) fuzz_text::Fail(kHarness, what);
}

bool IsHex(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'); }
bool IsAlnum(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// Letters, digits, "+", "%XX" and "%uXXXX" only.
bool OnlyLinkAlphabet(const std::u16string& s) {
  for (std::size_t i = 0; i < s.size();) {
    if (IsAlnum(s[i]) || s[i] == u'+') {
      ++i;
      continue;
    }
    if (s[i] != u'%') return false;
    const std::size_t digits = (i + 1 < s.size() && s[i + 1] == u'u') ? 4 : 2;
    const std::size_t first = i + 1 + (digits == 4);
    if (first + digits > s.size()) return false;
    for (std::size_t k = first; k < first + digits; ++k)
      if (!IsHex(s[k])) return false;
    i = first + digits;
  }
  return true;
}

std::string Ascii(const std::u16string& s) { return std::string(s.begin(), s.end()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Whatever a browser or an attacker sends.
  if (const auto decoded = DecodeAlbumLinkValue(bytes)) {
    Check(decoded->find(u'\0') == std::u16string::npos, "decoded text holds a NUL");
    // Any text that decodes is a name some link can reach, the encoder's included.
    Check(DecodeAlbumLinkValue(Ascii(UrlEncode(*decoded))) == decoded, "re-encoded text decodes differently");
  }
  albummaker::host::PercentDecodeBytes(bytes);
  const std::string_view target = albummaker::host::TargetPath(bytes);
  Check(target.size() <= bytes.size(), "the path is longer than the target");
  // A value is a piece of the target ("file" without "=" is the empty value).
  if (const auto value = albummaker::host::FindQueryValue(bytes, "file"); value && !value->empty())
    Check(value->data() >= bytes.data() && value->data() + value->size() <= bytes.data() + bytes.size(),
          "the query value lies outside the target");

  // The same bytes as UTF-16 units: a name (taken up to a NUL, as every name
  // is) survives encoding and decoding unchanged.
  std::u16string name;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == u'\0') break;
    name += unit;
  }
  const std::u16string encoded = UrlEncode(name);
  Check(OnlyLinkAlphabet(encoded), "UrlEncode wrote a character outside its alphabet");
  const auto back = DecodeAlbumLinkValue(Ascii(encoded));
  Check(back.has_value() && *back == name, "decode(UrlEncode(name)) is not the name");
  return 0;
}
