// The link decoder must undo the album's link encoding exactly, or a "next"
// link would lead to the wrong picture.
#include <gtest/gtest.h>

#include <random>

#include "album_engine.h"
#include "url.h"

namespace albummaker::host {
namespace {

TEST(AlbumLinkDecode, UndoesTheEncodingOfAwkwardNames) {
  const std::u16string names[] = {
      u"My photo.jpg",
      u"Salt & Pepper's.gif",
      u"caf\u00e9.jpg",
      u"\u0416\u0443\u043a.jpeg",
      u"smile \U0001F600.jpg",
      u"100%.jpg",
      u"a+b=c?d#e/f\\g.jpg",
      u"tab\there.jpg",
      u"\u00ff\u0100\uffff.gif",
      u"",
      u"7",
  };
  for (const auto& name : names) {
    const std::u16string encoded16 = UrlEncode(name);
    const std::string encoded(encoded16.begin(), encoded16.end());  // the encoding is ASCII
    const auto decoded = DecodeAlbumLinkValue(encoded);
    ASSERT_TRUE(decoded.has_value()) << encoded;
    EXPECT_EQ(*decoded, name) << encoded;
  }
}

TEST(AlbumLinkDecode, UndoesTheEncodingOfRandomUnits) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> unit(1, 0xFFFF);
  for (int round = 0; round < 2000; ++round) {
    std::u16string name;
    const int length = round % 12;
    for (int i = 0; i < length; ++i) name.push_back(static_cast<char16_t>(unit(rng)));
    const std::u16string encoded16 = UrlEncode(name);
    const auto decoded = DecodeAlbumLinkValue(std::string(encoded16.begin(), encoded16.end()));
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(*decoded, name);
  }
}

TEST(AlbumLinkDecode, ReadsEachEscapeAsOneUnit) {
  EXPECT_EQ(DecodeAlbumLinkValue("a+b"), std::u16string(u"a b"));
  EXPECT_EQ(DecodeAlbumLinkValue("%E9"), std::u16string(u"\u00e9"));
  EXPECT_EQ(DecodeAlbumLinkValue("%e9"), std::u16string(u"\u00e9"));
  EXPECT_EQ(DecodeAlbumLinkValue("%u0416"), std::u16string(u"\u0416"));
  EXPECT_EQ(DecodeAlbumLinkValue("%uD83D%uDE00"), std::u16string(u"\U0001F600"));
  // Two escapes are two units, not one UTF-8 sequence.
  EXPECT_EQ(DecodeAlbumLinkValue("%C3%A9"), std::u16string(u"\u00c3\u00a9"));
  EXPECT_EQ(DecodeAlbumLinkValue("%2B"), std::u16string(u"+"));
  EXPECT_EQ(DecodeAlbumLinkValue("x.y-z_~"), std::u16string(u"x.y-z_~"));
}

TEST(AlbumLinkDecode, RefusesWhatNoLinkLooksLike) {
  for (const char* bad :
       {"%", "%4", "%G1", "%u", "%u041", "%u04G6", "a%", "%00", "%u0000", "a b", "\x01", "caf\xc3\xa9", "\x7f"}) {
    EXPECT_FALSE(DecodeAlbumLinkValue(bad).has_value()) << bad;
  }
}

TEST(PercentDecodeBytes, DecodesBytesAndRefusesBrokenEscapes) {
  EXPECT_EQ(PercentDecodeBytes("caf%C3%A9.jpg"), std::string("caf\xc3\xa9.jpg"));
  EXPECT_EQ(PercentDecodeBytes("a+b%20c"), std::string("a+b c"));
  EXPECT_EQ(PercentDecodeBytes("%2e%2E%2f"), std::string("../"));
  EXPECT_EQ(PercentDecodeBytes("%00"), std::string(1, '\0'));
  EXPECT_FALSE(PercentDecodeBytes("%2").has_value());
  EXPECT_FALSE(PercentDecodeBytes("%zz").has_value());
  EXPECT_FALSE(PercentDecodeBytes("%u0041").has_value());
}

TEST(RequestTarget, FindsTheFirstValueOfAParameter) {
  EXPECT_EQ(FindQueryValue("/?file=a%2Ejpg", "file"), std::string_view("a%2Ejpg"));
  EXPECT_EQ(FindQueryValue("/?x=1&file=b&file=c", "file"), std::string_view("b"));
  EXPECT_EQ(FindQueryValue("/?file", "file"), std::string_view(""));
  EXPECT_EQ(FindQueryValue("/?file=a#frag", "file"), std::string_view("a"));
  EXPECT_FALSE(FindQueryValue("/?files=a&xfile=b", "file").has_value());
  EXPECT_FALSE(FindQueryValue("/file=a", "file").has_value());
  EXPECT_EQ(TargetPath("/pictures/a.jpg?x=1"), std::string_view("/pictures/a.jpg"));
  EXPECT_EQ(TargetPath("/"), std::string_view("/"));
}

}  // namespace
}  // namespace albummaker::host
