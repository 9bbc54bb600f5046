// The one UTF-8 decoder under each of its policies for bad bytes.
#include "utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using albummaker::utf8::AppendAsUtf16;
using albummaker::utf8::BadBytes;
using albummaker::utf8::FromUtf16;
using namespace std::string_view_literals;

struct Case {
  std::string_view bytes;
  std::u16string_view escaped;
  std::u16string_view replaced;  // also what Refuse leaves before failing
};

// Each ill-formed part: a stray or invalid byte, overlong forms, a surrogate,
// a value past U+10FFFF, valid starts cut short in the middle and at the end.
const Case kBad[] = {
    {"\x80", u"\xDC80", u"\xFFFD"},
    {"a\xFF"
     "b",
     u"a\xDCFF"
     "b",
     u"a\xFFFD"
     "b"},
    {"\xC0\x80", u"\xDCC0\xDC80", u"\xFFFD\xFFFD"},
    {"\xE0\x80\x80", u"\xDCE0\xDC80\xDC80", u"\xFFFD\xFFFD\xFFFD"},
    {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80", u"\xFFFD\xFFFD\xFFFD"},
    {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
    {"\xE2\x82"
     "A",
     u"\xDCE2\xDC82"
     "A",
     u"\xFFFD"
     "A"},
    {"x\xF0\x9F\x98", u"x\xDCF0\xDC9F\xDC98", u"x\xFFFD"},
    {"\xF0\x9F\x98\xE2\x82\xAC", u"\xDCF0\xDC9F\xDC98\x20AC", u"\xFFFD\x20AC"},
};

std::u16string Decode(std::string_view bytes, BadBytes policy, bool* ok = nullptr) {
  std::u16string out = u"<";
  const bool result = AppendAsUtf16(bytes, out, policy);
  if (ok != nullptr) *ok = result;
  return out;
}

TEST(Utf8Decoder, WellFormedTextIsTheSameUnderEveryPolicy) {
  const std::string_view bytes =
      "a\0\x7F\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"
      "\xED\x9F\xBF\xEE\x80\x80"sv;
  const std::u16string_view expected = u"<a\0\x7F\xE9\x20AC\xFFFF\xD83D\xDE00\xDBFF\xDFFF\xD7FF\xE000"sv;
  for (BadBytes policy : {BadBytes::Escape, BadBytes::Replace, BadBytes::Refuse}) {
    bool ok = false;
    EXPECT_EQ(Decode(bytes, policy, &ok), expected) << static_cast<int>(policy);
    EXPECT_TRUE(ok);
  }
}

TEST(Utf8Decoder, BadBytesUnderEachPolicy) {
  for (const Case& c : kBad) {
    const std::u16string escaped = u"<" + std::u16string(c.escaped);
    const std::u16string replaced = u"<" + std::u16string(c.replaced);
    bool ok = false;
    EXPECT_EQ(Decode(c.bytes, BadBytes::Escape, &ok), escaped);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Decode(c.bytes, BadBytes::Replace, &ok), replaced);
    EXPECT_TRUE(ok);
    // Refuse keeps what came before the first bad byte and stops there.
    const std::u16string refused = Decode(c.bytes, BadBytes::Refuse, &ok);
    EXPECT_FALSE(ok) << refused.size();
    EXPECT_EQ(refused, replaced.substr(0, replaced.find(u'\xFFFD')));
    // Escaped bytes turn back into the same bytes.
    EXPECT_EQ(FromUtf16(c.escaped), c.bytes);
  }
}

}  // namespace
