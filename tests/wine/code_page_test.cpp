// ANSI decoding in the process's active code page. The 1252 cases run in the
// default environment; the 932 cases run in a separate process started with
// LC_ALL=ja_JP.UTF-8, which makes Wine choose the Japanese code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>

#include "album_engine.h"
#include "platform_seam.h"
#include "win_temp.h"

namespace albummaker {
namespace {

using wintest::WinTempFolder;

std::u16string Decode(std::string_view bytes) {
  const std::size_t n = seam::AnsiDecodedLength(bytes.data(), bytes.size());
  std::u16string out(n, u'\xFFFF');
  const std::size_t written = seam::AnsiDecode(bytes.data(), bytes.size(), out.data(), out.size());
  EXPECT_EQ(written, n);
  out.resize(written);
  return out;
}

std::u16string RenderTemplate(std::string_view bytes) {
  WinTempFolder dir;
  EXPECT_TRUE(dir.Created());
  EXPECT_TRUE(dir.Write(L"a.jpg"));
  EXPECT_TRUE(dir.Write(L"page.html", bytes));
  AlbumEngine engine;
  engine.SetFolderPath(dir.U16().c_str());
  engine.SetPageTemplatePath(wintest::AsU16(dir / L"page.html").c_str());
  return engine.RenderPageByIndex(0);
}

class AnsiCodePage1252 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(GetACP(), 1252u) << "the default Wine environment should use code page 1252"; }
};

TEST_F(AnsiCodePage1252, DecodesEveryByteIncludingTheUndefinedOnes) {
  using namespace std::string_view_literals;
  EXPECT_EQ(Decode("\x80\xE9\x9F\x81\x8D\x8F\x90\x9D\xFF"
                   "A\0"sv),
            (std::u16string{u'\u20AC', u'\u00E9', u'\u0178', u'\u0081', u'\u008D', u'\u008F', u'\u0090', u'\u009D',
                            u'\u00FF', u'A', u'\0'}));
}

TEST_F(AnsiCodePage1252, TemplateIsDecodedFromTheCodePage) {
  EXPECT_EQ(RenderTemplate("caf\xE9 \x80 ^tq_CurrentFileName^"), u"caf\u00E9 \u20AC a.jpg");
}

TEST_F(AnsiCodePage1252, TemplateEndsAtItsFirstNulByte) {
  using namespace std::string_view_literals;
  EXPECT_EQ(RenderTemplate("kept\0lost ^tq_CurrentFileName^"sv), u"kept");
}

TEST_F(AnsiCodePage1252, LengthsBeyondIntAreRefusedNotTruncated) {
  // Only the first three bytes exist: a length that wrapped to a small or a
  // negative int would be decoded from them instead of being refused.
  const char bytes[] = "ab";
  EXPECT_EQ(seam::AnsiDecodedLength(bytes, static_cast<std::size_t>(INT_MAX) + 1), 0u);
  char16_t out[8] = {};
  EXPECT_EQ(seam::AnsiDecode(bytes, static_cast<std::size_t>(INT_MAX) + 1, out, 8), 0u);
  if constexpr (sizeof(std::size_t) > 4) {
    EXPECT_EQ(seam::AnsiDecodedLength(bytes, (std::size_t{1} << 32) + 3), 0u);
  }
  EXPECT_EQ(out[0], u'\0') << "nothing may be written";
}

TEST_F(AnsiCodePage1252, TooSmallOutputFailsWithoutOverflow) {
  char16_t out[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(seam::AnsiDecode("abcdef", 7, out, 2), 0u);
  EXPECT_EQ(out[2], u'x');
  EXPECT_EQ(out[3], u'x');
  EXPECT_EQ(seam::AnsiDecode("abc", 4, out, 4), 4u);
  EXPECT_EQ(std::u16string_view(out, 3), u"abc");
}

class AnsiCodePage932 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 932u) << "these cases need LC_ALL=ja_JP.UTF-8 (see the wine_platform_tests_cp932 test)";
  }
};

TEST_F(AnsiCodePage932, DecodesDoubleByteCharacters) {
  using namespace std::string_view_literals;
  // Hiragana A, the kanji whose trail byte is a backslash, a half-width katakana.
  EXPECT_EQ(Decode("\x82\xA0\x95\x5C\xB1"
                   "A\0"sv),
            (std::u16string{u'\u3042', u'\u8868', u'\uFF71', u'A', u'\0'}));
  EXPECT_EQ(seam::AnsiDecodedLength("\x82\xA0\x82\xA2", 5), 3u);
}

TEST_F(AnsiCodePage932, TemplateIsDecodedFromTheCodePage) {
  EXPECT_EQ(RenderTemplate("\x93\xFA\x96\x7B ^tq_CurrentFileName^ \x95\x5C"), u"\u65E5\u672C a.jpg \u8868");
}

TEST_F(AnsiCodePage932, TextFunctionsStepOverDoubleBytes) {
  // What the registry script reader relies on in a double-byte code page: a
  // trail byte 0x5C is part of its character, not a backslash.
  EXPECT_TRUE(IsDBCSLeadByte(0x95));
  EXPECT_FALSE(IsDBCSLeadByte(0x5C));
  EXPECT_FALSE(IsDBCSLeadByte('A'));
  const char text[] =
      "\x95\x5C"
      "x";
  EXPECT_EQ(CharNextA(text), text + 2);
  EXPECT_EQ(CharNextA(text + 2), text + 3);
  EXPECT_EQ(lstrcmpiA("\x82\xA0"
                      "Key",
                      "\x82\xA0"
                      "KEY"),
            0);
  EXPECT_NE(lstrcmpiA("\x82\xA0", "\x82\xA2"), 0);
}

}  // namespace
}  // namespace albummaker
