#include <gtest/gtest.h>

#include "text.h"

namespace albummaker::host {
namespace {

TEST(HostText, ValidUtf8BothWays) {
  const std::string utf8 = "a\xc3\xa9\xd0\x96\xe2\x82\xac\xf0\x9f\x98\x80";
  const std::u16string utf16 = u"a\u00e9\u0416\u20ac\U0001F600";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  EXPECT_EQ(Utf8ToUtf16(""), u"");
  EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(HostText, InvalidBytesRoundTripAsLowSurrogates) {
  const std::string cases[] = {
      "\xff",              // never valid
      "\x80",              // lone continuation
      "\xc3",              // truncated sequence at the end
      "\xc3(",             // lead byte followed by a non-continuation
      "\xc0\xaf",          // overlong "/"
      "\xed\xa0\x80",      // an encoded surrogate
      "\xf4\x90\x80\x80",  // beyond U+10FFFF
      "\xe2\x82",          // truncated three-byte sequence
  };
  for (const std::string& bytes : cases) {
    const std::u16string wide = Utf8ToUtf16(bytes);
    for (char16_t u : wide) {
      if (u >= 0x80) {
        EXPECT_TRUE(u >= 0xDC80 && u <= 0xDCFF) << static_cast<unsigned>(u);
      }
    }
    EXPECT_EQ(Utf16ToUtf8(wide), bytes);
  }
  EXPECT_EQ(Utf8ToUtf16("\xc3("), u"\xDCC3(");
}

TEST(HostText, LoneSurrogatesOutsideTheEscapeRangeBecomeReplacement) {
  const char16_t lone[] = {0xD800, u'x', 0xDBFF, 0};
  EXPECT_EQ(Utf16ToUtf8(lone), "\xef\xbf\xbdx\xef\xbf\xbd");
}

}  // namespace
}  // namespace albummaker::host
