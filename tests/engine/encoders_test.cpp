#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "album_engine.h"
#include "engine_test_hooks.h"

namespace albummaker {
namespace {

TEST(UrlEncode, LettersDigitsAndSpace) {
  EXPECT_EQ(UrlEncode(u"AZaz09"), u"AZaz09");
  EXPECT_EQ(UrlEncode(u"My photo.jpg"), u"My+photo%2Ejpg");
  EXPECT_EQ(UrlEncode(u"Salt & Pepper's.gif"), u"Salt+%26+Pepper%27s%2Egif");
  EXPECT_EQ(UrlEncode(u""), u"");
}

TEST(UrlEncode, EveryOtherUnitBelow0x100IsTwoHexDigits) {
  EXPECT_EQ(UrlEncode(u".-_~"), u"%2E%2D%5F%7E");
  EXPECT_EQ(UrlEncode(u"\t"), u"%09");
  EXPECT_EQ(UrlEncode(std::u16string(1, u'\0')), u"%00");
  EXPECT_EQ(UrlEncode(u"\u00e9\u00ff"), u"%E9%FF");
  EXPECT_EQ(UrlEncode(u"+%"), u"%2B%25");
}

TEST(UrlEncode, UnitsFrom0x100AreFourHexDigitsAfterU) {
  EXPECT_EQ(UrlEncode(u"\u0100"), u"%u0100");
  EXPECT_EQ(UrlEncode(u"\u0416"), u"%u0416");
  EXPECT_EQ(UrlEncode(u"\uffff"), u"%uFFFF");
  EXPECT_EQ(UrlEncode(u"\U0001F600"), u"%uD83D%uDE00");
  // Never a placeholder or section marker in the result.
  const std::u16string encoded = UrlEncode(u"^tq_N^<!--tq_LStart-->");
  EXPECT_EQ(encoded.find(u'^'), std::u16string::npos);
  EXPECT_EQ(encoded.find(u'<'), std::u16string::npos);
}

TEST(HtmlEscape, EntityTableAndPrintableAscii) {
  EXPECT_EQ(HtmlEscape(u"\"'<>&"), u"&quot;&#0039;&lt;&gt;&amp;");
  EXPECT_EQ(HtmlEscape(u"Salt & Pepper's.gif"), u"Salt &amp; Pepper&#0039;s.gif");
  EXPECT_EQ(HtmlEscape(u" ~^tq_x^"), u" ~^tq_x^");
}

TEST(HtmlEscape, OtherUnitsAreDecimalReferences) {
  EXPECT_EQ(HtmlEscape(u"\t"), u"&#0009;");
  EXPECT_EQ(HtmlEscape(u"\u007f"), u"&#0127;");
  EXPECT_EQ(HtmlEscape(u"\u00e9"), u"&#0233;");
  EXPECT_EQ(HtmlEscape(u"\u0416"), u"&#1046;");
  EXPECT_EQ(HtmlEscape(u"\uffff"), u"&#65535;");
  EXPECT_EQ(HtmlEscape(std::u16string(1, u'\0')), u"&#0000;");
}

TEST(HtmlEscape, SurrogatePairIsOneReferenceLoneSurrogatesStayUnitwise) {
  EXPECT_EQ(HtmlEscape(u"\U0001F600"), u"&#128512;");
  EXPECT_EQ(HtmlEscape(u"\U00010000"), u"&#65536;");
  EXPECT_EQ(HtmlEscape(u"\U0010FFFF"), u"&#1114111;");
  const char16_t loneHigh[] = {0xD83D, u'x', 0};
  EXPECT_EQ(HtmlEscape(loneHigh), u"&#55357;x");
  const char16_t loneLow[] = {0xDE00, 0xD83D, 0};  // low before high: no pair
  EXPECT_EQ(HtmlEscape(loneLow), u"&#56832;&#55357;");
  const char16_t highAtEnd[] = {u'a', 0xD800, 0};
  EXPECT_EQ(HtmlEscape(highAtEnd), u"a&#55296;");
}

TEST(AnsiToWide, DecodesUpToFirstNul) {
  const char bytes[] = "ab\0cd";  // 6 bytes with the final NUL
  std::optional<std::u16string> text = AnsiToWide(bytes, sizeof bytes);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"ab");
  const char empty[] = "";
  text = AnsiToWide(empty, 1);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"");
}

TEST(AnsiToWide, ByteOrderMarkIsDecodedAsText) {
  const char bytes[] = "\xEF\xBB\xBFx";
  std::optional<std::u16string> text = AnsiToWide(bytes, sizeof bytes);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"\u00ef\u00bb\u00bfx");
}

TEST(AnsiToWide, WindowsCodePageHighBytes) {
  const char bytes[] = "\x80\xe9\x81";
  std::optional<std::u16string> text = AnsiToWide(bytes, sizeof bytes);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, u"\u20ac\u00e9\u0081");
}

// Long texts are decoded in blocks; a remapped byte (0x80..0x9F) or a Latin-1
// one (0xA0..0xFF) must decode alike wherever it falls among plain ones.
TEST(AnsiToWide, HighBytesAtEveryOffsetOfALongText) {
  const std::pair<char, char16_t> cases[] = {{'\x80', u'\u20ac'}, {'\x9f', u'\u0178'}, {'\x8d', u'\u008d'},
                                             {'\xa0', u'\u00a0'}, {'\xff', u'\u00ff'}, {'\x7f', u'\u007f'}};
  for (const auto& [byte, unit] : cases) {
    for (std::size_t at = 0; at < 100; ++at) {
      std::string bytes(100, 'a');
      bytes[at] = byte;
      std::u16string expected(100, u'a');
      expected[at] = unit;
      const std::optional<std::u16string> text = AnsiToWide(bytes.c_str(), bytes.size() + 1);
      ASSERT_TRUE(text);
      ASSERT_EQ(*text, expected) << "byte " << static_cast<int>(static_cast<unsigned char>(byte)) << " at " << at;
    }
  }
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::optional<std::u16string> text = AnsiToWide(all.c_str(), all.size() + 1);
  ASSERT_TRUE(text);
  ASSERT_EQ(text->size(), 255u);
  EXPECT_EQ((*text)[0x41 - 1], u'A');
  EXPECT_EQ((*text)[0x80 - 1], u'\u20ac');
  EXPECT_EQ((*text)[0x99 - 1], u'\u2122');
  EXPECT_EQ((*text)[0xe9 - 1], u'\u00e9');
}

TEST(AnsiToWide, FailedAllocationGivesNothing) {
  const std::string bytes(100, 'x');
  test_hooks::SetAllocationLimit(150);  // below 101 units of two bytes
  const std::optional<std::u16string> text = AnsiToWide(bytes.c_str(), bytes.size() + 1);
  test_hooks::Reset();
  EXPECT_FALSE(text);
  EXPECT_TRUE(AnsiToWide(bytes.c_str(), bytes.size() + 1));
}

TEST(RaiseEngineError, MessageWithAndWithoutNumber) {
  try {
    RaiseEngineError("No memory available to serve the request.", 0x8007000E);
    FAIL() << "did not raise";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "No memory available to serve the request. Error number: 2147942414 (0x8007000E)");
  }
  try {
    RaiseEngineError("Error while reading from file.", 30);
    FAIL() << "did not raise";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Error while reading from file. Error number: 30 (0x1E)");
  }
  try {
    RaiseEngineError("Plain.", 0);
    FAIL() << "did not raise";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Plain.");
  }
  EXPECT_THROW(RaiseEngineError("x", 0xFFFFFFFFu), std::runtime_error);
  try {
    RaiseEngineError("x", 0xFFFFFFFFu);
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "x Error number: 4294967295 (0xFFFFFFFF)");
  }
}

}  // namespace
}  // namespace albummaker
