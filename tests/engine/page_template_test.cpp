#include <gtest/gtest.h>

#include <iterator>
#include <random>

#include "page_template.h"

namespace albummaker {
namespace {

constexpr std::size_t kNone = PageTemplate::kNone;

TEST(PageTemplateMarkers, DefaultsAndOverrides) {
  PageTemplate t;
  EXPECT_EQ(t.Markers().placeholderPrefix, u"^tq_");
  EXPECT_EQ(t.Markers().placeholderSuffix, u"^");
  EXPECT_EQ(t.Markers().sectionPrefix, u"<!--tq_");
  EXPECT_EQ(t.Markers().sectionStartSuffix, u"Start-->");
  EXPECT_EQ(t.Markers().sectionEndSuffix, u"End-->");

  // An empty suffix is a given marker: the token becomes prefix + name.
  t.SetText(u"x ^tq_A^ y ^tq_A z");
  t.SetMarkers(std::nullopt, u"");
  EXPECT_EQ(t.SetPlaceholder(u"A", u"V"), 2u);
  EXPECT_EQ(t.GetText(), u"x V^ y V z");
  // Giving nothing restores the default.
  t.SetMarkers();
  EXPECT_EQ(t.Markers().placeholderSuffix, u"^");

  PageTemplate custom(u"{{N}} [[S:]]body[[:S]]", u"{{", u"}}", u"[[", u":]]", std::nullopt);
  custom.SetMarkers(u"{{", u"}}", u"[[", u":]]", u"@@");
  custom.SetText(u"{{N}} [[S:]]body[[S@@");
  EXPECT_EQ(custom.SetPlaceholder(u"N", u"v"), 1u);
  custom.ShowSection(u"S", true);
  EXPECT_EQ(custom.GetText(), u"v body");

  // A copy of the defaults in one template never changes another.
  PageTemplate other;
  EXPECT_EQ(other.Markers().placeholderSuffix, u"^");
}

TEST(PageTemplateText, TextIsTakenUpToFirstNul) {
  const std::u16string withNul(u"ab\0cd", 5);
  PageTemplate t(withNul);
  EXPECT_EQ(t.GetText(), u"ab");
  t.SetText(withNul);
  EXPECT_EQ(t.GetText(), u"ab");
  EXPECT_EQ(t.Cursor(), kNone);
  t.SetPlaceholder(u"x", std::u16string(u"q\0r", 3));
  EXPECT_EQ(t.GetText().find(u'\0'), std::u16string::npos);
}

TEST(PageTemplatePlaceholder, ReplacesEveryExactOccurrence) {
  PageTemplate t(u"P^tq_CurrentFileName^Q^tq_CurrentFileName^");
  EXPECT_EQ(t.SetPlaceholder(u"CurrentFileName", u"V"), 2u);
  EXPECT_EQ(t.GetText(), u"PVQV");

  PageTemplate cased(u"^tq_currentfilename^ ^TQ_CurrentFileName^");
  EXPECT_EQ(cased.SetPlaceholder(u"CurrentFileName", u"V"), 0u);
  EXPECT_EQ(cased.GetText(), u"^tq_currentfilename^ ^TQ_CurrentFileName^");

  PageTemplate empty(u"a^tq_N^b^tq_N^^tq_N^c");
  EXPECT_EQ(empty.SetPlaceholder(u"N", u""), 3u);
  EXPECT_EQ(empty.GetText(), u"abc");
}

TEST(PageTemplatePlaceholder, ValueHoldingTheTokenIsInsertedOnce) {
  PageTemplate t(u"^tq_N^-^tq_N^");
  EXPECT_EQ(t.SetPlaceholder(u"N", u"<^tq_N^>"), 2u);
  EXPECT_EQ(t.GetText(), u"<^tq_N^>-<^tq_N^>");
  // Inserted text is ordinary text for the next call.
  EXPECT_EQ(t.SetPlaceholder(u"N", u"z"), 2u);
  EXPECT_EQ(t.GetText(), u"<z>-<z>");
}

TEST(PageTemplatePlaceholder, NoOverlapAndMatchesAcrossValueBoundary) {
  // "^tq_A^tq_A^": the first token ends where a second would begin.
  PageTemplate t(u"^tq_A^tq_A^");
  EXPECT_EQ(t.SetPlaceholder(u"A", u"x"), 1u);
  EXPECT_EQ(t.GetText(), u"xtq_A^");
  // A value ending in part of a token does not complete a token with the
  // text after it within the same call.
  PageTemplate u(u"^tq_B^tq_A^");
  EXPECT_EQ(u.SetPlaceholder(u"B", u"^"), 1u);
  EXPECT_EQ(u.GetText(), u"^tq_A^");
  EXPECT_EQ(u.SetPlaceholder(u"A", u"!"), 1u);
  EXPECT_EQ(u.GetText(), u"!");
}

TEST(PageTemplatePlaceholder, SingleUnitTokensAndLongTexts) {
  // Empty markers make the token the bare name: every unit can be a match.
  std::u16string text;
  std::u16string expected;
  for (int i = 0; i < 1000; ++i) {
    text += (i % 3 == 0) ? u"x" : u"ab";
    expected += (i % 3 == 0) ? u"[]" : u"ab";
  }
  PageTemplate t(text, u"", u"");
  EXPECT_EQ(t.SetPlaceholder(u"x", u"[]"), 334u);
  EXPECT_EQ(t.GetText(), expected);
  EXPECT_EQ(t.SetPlaceholder(u"[", u""), 334u);
  EXPECT_EQ(t.SetPlaceholder(u"]", u""), 334u);
  EXPECT_EQ(t.GetText().find_first_of(u"[]x"), std::u16string::npos);
}

TEST(PageTemplatePlaceholder, ValueMayBeTheTemplatesOwnText) {
  PageTemplate shrink(u"^tq_N^abc^tq_N^");
  const std::u16string_view inside = std::u16string_view(shrink.GetText()).substr(6, 3);
  EXPECT_EQ(shrink.SetPlaceholder(u"N", inside), 2u);
  EXPECT_EQ(shrink.GetText(), u"abcabcabc");
  PageTemplate grow(u"^tq_N^x");
  EXPECT_EQ(grow.SetPlaceholder(u"N", grow.GetText()), 1u);
  EXPECT_EQ(grow.GetText(), u"^tq_N^xx");
}

TEST(PageTemplatePlaceholder, VeryLongValueNeedsNoMoreThanTheResult) {
  // 80 MiB of value: the result fits a 32-bit process easily, room for many
  // copies of the value does not.
  const std::u16string value(std::size_t{40} << 20, u'v');
  PageTemplate t(u"a^tq_N^b");
  EXPECT_EQ(t.SetPlaceholder(u"N", value), 1u);
  ASSERT_EQ(t.GetText().size(), value.size() + 2);
  EXPECT_EQ(t.GetText().front(), u'a');
  EXPECT_EQ(t.GetText().back(), u'b');
}

TEST(PageTemplatePlaceholder, EmptyTokenChangesNothing) {
  PageTemplate t(u"abc", u"", u"");
  EXPECT_EQ(t.SetPlaceholder(u"", u"X"), 0u);
  EXPECT_EQ(t.GetText(), u"abc");
}

// Positions the cursor with an extraction: "<S>" section markers around
// nothing but one unit so the cursor lands at a known place.
PageTemplate WithCursorAt(std::u16string_view before, std::u16string_view after) {
  std::u16string text(before);
  text += u"<!--tq_C-->k<!--tq_CEnd-->";
  text += after;
  PageTemplate t(text, std::nullopt, std::nullopt, u"<!--tq_", u"-->", u"End-->");
  EXPECT_EQ(t.ExtractSection(u"C"), u"k");
  EXPECT_EQ(t.Cursor(), before.size());
  EXPECT_EQ(t.GetText(), std::u16string(before) + std::u16string(after));
  return t;
}

TEST(PageTemplateCursor, BeforeTokenStays) {
  PageTemplate t = WithCursorAt(u"ab", u"cd^tq_N^ef");
  t.SetPlaceholder(u"N", u"LONGVALUE");
  EXPECT_EQ(t.Cursor(), 2u);
}

TEST(PageTemplateCursor, AtOrInsideTokenMovesPastValue) {
  // At the token's first unit.
  PageTemplate at = WithCursorAt(u"ab", u"^tq_N^ef");
  at.SetPlaceholder(u"N", u"VVV");
  EXPECT_EQ(at.Cursor(), 5u);
  at.InsertAtCursor(u"|");
  EXPECT_EQ(at.GetText(), u"abVVV|ef");

  // Inside the token.
  PageTemplate inside = WithCursorAt(u"ab^tq", u"_N^ef");
  inside.SetPlaceholder(u"N", u"V");
  EXPECT_EQ(inside.Cursor(), 3u);
  inside.InsertAtCursor(u"|");
  EXPECT_EQ(inside.GetText(), u"abV|ef");

  // At the last unit of the token.
  PageTemplate last = WithCursorAt(u"^tq_N", u"^");
  last.SetPlaceholder(u"N", u"");
  EXPECT_EQ(last.Cursor(), 0u);
}

TEST(PageTemplateCursor, AfterTokensShiftsByEachDifference) {
  // Two tokens of length 6 before the cursor: shorter value moves it back.
  PageTemplate t = WithCursorAt(u"^tq_N^x^tq_N^y", u"z");
  EXPECT_EQ(t.Cursor(), 14u);
  t.SetPlaceholder(u"N", u"v");
  EXPECT_EQ(t.GetText(), u"vxvyz");
  EXPECT_EQ(t.Cursor(), 4u);
  t.InsertAtCursor(u"|");
  EXPECT_EQ(t.GetText(), u"vxvy|z");

  // Longer value moves it forward; a cursor at the end stays at the end.
  PageTemplate grow = WithCursorAt(u"^tq_N^", u"");
  grow.SetPlaceholder(u"N", u"0123456789");
  EXPECT_EQ(grow.Cursor(), 10u);
}

TEST(PageTemplateCursor, AdjacentTokensCarryTheCursorAlong) {
  // Replaced one at a time, the cursor set just after the first value sits
  // at the first unit of the adjacent second token and moves again.
  PageTemplate t = WithCursorAt(u"", u"^tq_N^^tq_N^!");
  t.SetPlaceholder(u"N", u"ab");
  EXPECT_EQ(t.GetText(), u"abab!");
  EXPECT_EQ(t.Cursor(), 4u);
}

TEST(PageTemplateCursor, NoneStaysNone) {
  PageTemplate t(u"^tq_N^");
  t.SetPlaceholder(u"N", u"v");
  EXPECT_EQ(t.Cursor(), kNone);
  t.InsertAtCursor(u"x");
  EXPECT_EQ(t.GetText(), u"v");
}

TEST(PageTemplateSection, ExtractReturnsBodyAndLeavesCursor) {
  PageTemplate t(u"P<!--tq_LStart-->Q<!--tq_LEnd-->R");
  EXPECT_EQ(t.ExtractSection(u"L"), u"Q");
  EXPECT_EQ(t.GetText(), u"PR");
  EXPECT_EQ(t.Cursor(), 1u);
  // Missing now: nothing changes, the cursor included.
  EXPECT_EQ(t.ExtractSection(u"L"), u"");
  EXPECT_EQ(t.Cursor(), 1u);
}

TEST(PageTemplateSection, UnterminatedAndMisspelledMarkersStay) {
  const std::u16string open = u"P<!--tq_LStart-->Q";
  for (bool keep : {true, false}) {
    PageTemplate t(open);
    EXPECT_EQ(t.ExtractSection(u"L"), u"");
    t.ShowSection(u"L", keep);
    EXPECT_EQ(t.GetText(), open);
    EXPECT_EQ(t.Cursor(), kNone);
  }
  const std::u16string spaced = u"<!--tq_LinkToNext Start-->Q<!--tq_LinkToNextEnd-->";
  PageTemplate s(spaced);
  s.ShowSection(u"LinkToNext", false);
  EXPECT_EQ(s.GetText(), spaced);
}

TEST(PageTemplateSection, EndBeforeStartIsNotPaired) {
  PageTemplate t(u"<!--tq_LEnd-->a<!--tq_LStart-->b<!--tq_LEnd-->c");
  t.ShowSection(u"L", true);
  EXPECT_EQ(t.GetText(), u"<!--tq_LEnd-->abc");
}

TEST(PageTemplateSection, ShowAndHideEverySection) {
  const std::u16string text =
      u"P<!--tq_LinkToNextStart-->Q<!--tq_LinkToNextEnd-->R<!--tq_LinkToNextStart-->S<!--tq_LinkToNextEnd-->T";
  PageTemplate shown(text);
  shown.ShowSection(u"LinkToNext", true);
  EXPECT_EQ(shown.GetText(), u"PQRST");
  EXPECT_EQ(shown.Cursor(), 4u);  // after the last body inserted
  PageTemplate hidden(text);
  hidden.ShowSection(u"LinkToNext", false);
  EXPECT_EQ(hidden.GetText(), u"PRT");
  EXPECT_EQ(hidden.Cursor(), 2u);  // where the last removed section began
}

TEST(PageTemplateSection, EmptyBodyStopsTheLoop) {
  const std::u16string text = u"a<!--tq_LStart--><!--tq_LEnd-->b<!--tq_LStart-->x<!--tq_LEnd-->c";
  for (bool keep : {true, false}) {
    PageTemplate t(text);
    t.ShowSection(u"L", keep);
    EXPECT_EQ(t.GetText(), u"ab<!--tq_LStart-->x<!--tq_LEnd-->c") << keep;
    EXPECT_EQ(t.Cursor(), 1u);
  }
}

TEST(PageTemplateSection, NestedSectionsOfOneName) {
  const std::u16string text = u"<!--tq_LStart-->P<!--tq_LStart-->Q<!--tq_LEnd-->R<!--tq_LEnd-->";
  PageTemplate keep(text);
  keep.ShowSection(u"L", true);
  EXPECT_EQ(keep.GetText(), u"PQR");
  PageTemplate drop(text);
  drop.ShowSection(u"L", false);
  EXPECT_EQ(drop.GetText(), u"R<!--tq_LEnd-->");
}

TEST(PageTemplateSection, OtherNamesInsideBodiesSurvive) {
  PageTemplate t(u"<!--tq_AStart-->x^tq_N^<!--tq_BStart-->y<!--tq_BEnd--><!--tq_AEnd-->");
  t.ShowSection(u"A", true);
  EXPECT_EQ(t.GetText(), u"x^tq_N^<!--tq_BStart-->y<!--tq_BEnd-->");
  t.ShowSection(u"B", false);
  EXPECT_EQ(t.SetPlaceholder(u"N", u"1"), 1u);
  EXPECT_EQ(t.GetText(), u"x1");
}

TEST(PageTemplateSection, MarkerInsertedByAValueIsActedOn) {
  PageTemplate t(u"^tq_N^");
  t.SetPlaceholder(u"N", u"<!--tq_LStart-->gone<!--tq_LEnd-->^tq_M^");
  t.ShowSection(u"L", false);
  t.SetPlaceholder(u"M", u"m");
  EXPECT_EQ(t.GetText(), u"m");
}

TEST(PageTemplateInsert, InsertsAtCursorAndAdvances) {
  PageTemplate t = WithCursorAt(u"ab", u"cd");
  t.InsertAtCursor(u"12");
  t.InsertAtCursor(u"3");
  EXPECT_EQ(t.GetText(), u"ab123cd");
  EXPECT_EQ(t.Cursor(), 5u);
  t.SetText(u"new");
  EXPECT_EQ(t.Cursor(), kNone);
}

// One replacement at a time, searching on after each inserted value, with the
// cursor rule applied at each step: the behaviour the one-pass fill must keep.
std::size_t StepwiseFill(std::u16string& text, std::size_t& cursor, const std::u16string& token,
                         const std::u16string& value) {
  std::size_t count = 0;
  std::size_t from = 0;
  for (std::size_t p; (p = text.find(token, from)) != std::u16string::npos;) {
    text.replace(p, token.size(), value);
    if (cursor != kNone && cursor >= p)
      cursor = cursor < p + token.size() ? p + value.size() : cursor + value.size() - token.size();
    ++count;
    from = p + value.size();
  }
  return count;
}

TEST(PageTemplatePlaceholder, OnePassEqualsStepwiseReplacement) {
  std::mt19937 rng(12345);
  // Names giving tokens shorter than 8 units, of 8 to 16, and longer.
  const std::u16string names[] = {u"N", u"LongName1", u"ANameLongerThanSixteenUnits"};
  const std::u16string values[] = {u"", u"v", u"^tq_N^", u"longer value than any token here", u"^", u"N^"};
  for (int round = 0; round < 6000; ++round) {
    const std::u16string& name = names[round % 3];
    const std::u16string token = u"^tq_" + name + u"^";
    const std::u16string pieces[] = {token,
                                     u"^tq_",
                                     name + u"^",
                                     u"^",
                                     u"a",
                                     u"bc",
                                     u"^tq_" + name,
                                     u"q",
                                     token.substr(0, token.size() / 2),
                                     token.substr(token.size() / 2)};
    std::u16string text;
    const int n = static_cast<int>(rng() % (round % 10 == 0 ? 200 : 14));
    for (int i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
    std::u16string value = values[rng() % std::size(values)];
    if (rng() % 5 == 0) value = token;
    const std::size_t cursorAt = rng() % (text.size() + 1);

    // Place the cursor through an extraction of a one-unit section.
    std::u16string withSection = text.substr(0, cursorAt) + u"[[S]]k[[S/]]" + text.substr(cursorAt);
    PageTemplate t(withSection, std::nullopt, std::nullopt, u"[[", u"]]", u"/]]");
    ASSERT_EQ(t.ExtractSection(u"S"), u"k");
    ASSERT_EQ(t.GetText(), text);

    std::u16string expected = text;
    std::size_t expectedCursor = cursorAt;
    const std::size_t expectedCount = StepwiseFill(expected, expectedCursor, token, value);
    EXPECT_EQ(t.SetPlaceholder(name, value), expectedCount);
    EXPECT_EQ(t.GetText(), expected);
    EXPECT_EQ(t.Cursor(), expectedCursor);
    if (HasFailure()) break;
  }
}

// The token of length `length` with empty markers: the name itself, its first
// and last unit alike so that the scan's first-and-last test lets through
// many near misses.
std::u16string EdgeToken(std::size_t length) {
  std::u16string token(length, u'b');
  token.front() = u'A';
  token.back() = u'A';
  return token;
}

// The fill works through long texts in stretches and blocks of many units;
// a token straddling any such boundary, or ending the text, is still one.
void CheckTokensAtEveryOffset() {
  for (const std::size_t length : {1u, 2u, 7u, 8u, 9u, 16u, 17u, 33u, 65u}) {
    const std::u16string token = EdgeToken(length);
    for (std::size_t at = 0; at < 4200; at += (at + 80 < 2048 || (at > 2100 && at + 80 < 4096)) ? 61 : 1) {
      std::u16string text(at, u'z');
      text += token;
      text.append(at % 3 == 0 ? 0 : 100, u'z');
      PageTemplate t(text, u"", u"");
      ASSERT_EQ(t.SetPlaceholder(token, u"<>"), 1u) << "length " << length << " at " << at;
      ASSERT_EQ(t.GetText(), std::u16string(at, u'z') + u"<>" + text.substr(at + length));
    }
  }
}

void CheckLongTextsAgainstStepwise() {
  std::mt19937 rng(2718);
  for (const std::size_t length : {1u, 3u, 8u, 10u, 17u, 40u}) {
    const std::u16string token = EdgeToken(length);
    // Near misses: first and last unit right, middle wrong; runs of the
    // first unit, many candidates close together; overlapping tokens.
    std::u16string nearMiss = token;
    if (length > 2) nearMiss[length / 2] = u'c';
    const std::u16string pieces[] = {
        token, nearMiss, u"A", u"AAAAAAAA", u"zz", std::u16string(97, u'z'), token + token.substr(1), u"b"};
    const std::u16string values[] = {u"", u"v", token, std::u16string(length, u'q'), std::u16string(length + 5, u'w')};
    for (int round = 0; round < 12; ++round) {
      std::u16string text;
      const std::size_t size = 2048 * (1 + round % 3) + rng() % 300;
      while (text.size() < size) text += pieces[rng() % std::size(pieces)];
      const std::u16string& value = values[rng() % std::size(values)];
      const std::size_t cursorAt = rng() % (text.size() + 1);

      PageTemplate t(text.substr(0, cursorAt) + u"[[S]]k[[S/]]" + text.substr(cursorAt), u"", u"", u"[[", u"]]",
                     u"/]]");
      ASSERT_EQ(t.ExtractSection(u"S"), u"k");
      std::u16string expected = text;
      std::size_t expectedCursor = cursorAt;
      const std::size_t expectedCount = StepwiseFill(expected, expectedCursor, token, value);
      ASSERT_EQ(t.SetPlaceholder(token, value), expectedCount) << "length " << length << " round " << round;
      ASSERT_EQ(t.GetText(), expected) << "length " << length << " round " << round;
      ASSERT_EQ(t.Cursor(), expectedCursor) << "length " << length << " round " << round;
    }
  }
}

TEST(PageTemplatePlaceholder, TokensAtEveryOffsetAroundLongTextBoundaries) {
  ASSERT_NO_FATAL_FAILURE(CheckTokensAtEveryOffset());
}

TEST(PageTemplatePlaceholder, LongTextsMatchStepwiseReplacement) {
  ASSERT_NO_FATAL_FAILURE(CheckLongTextsAgainstStepwise());
}

// The fill once picked a candidate scan by processor; its one search now
// must fill exactly as the others did.
TEST(PageTemplateScan, EveryAvailableScanFillsAlike) {
  ASSERT_NO_FATAL_FAILURE(CheckTokensAtEveryOffset());
  ASSERT_NO_FATAL_FAILURE(CheckLongTextsAgainstStepwise());
}

// Every section of the markers removed as the extraction loop does it, with
// the library's search: the reference for the template's own search.
std::u16string RemovedStepwise(std::u16string text, const std::u16string& start, const std::u16string& end) {
  for (std::size_t s; (s = text.find(start)) != std::u16string::npos;) {
    const std::size_t e = text.find(end, s + start.size());
    if (e == std::u16string::npos) break;
    const bool emptyBody = e == s + start.size();
    text.erase(s, e + end.size() - s);
    if (emptyBody) break;
  }
  return text;
}

// The search finds candidates for one unit of a pattern by one of its bytes
// ("^" of a placeholder, "!" of a section marker): units holding that byte
// (U+5E5E, U+015E, U+5E00, U+2121, U+0121), the unit itself without the rest
// of the marker, and markers at the very start or end of the text must not
// mislead it. Sections nest and go unterminated here too.
TEST(PageTemplateSearch, UnitsSharingAByteWithTheMarkersAreNoMatch) {
  const std::u16string token = u"^tq_N^";
  const std::u16string start = u"<!--tq_SStart-->";
  const std::u16string end = u"<!--tq_SEnd-->";
  const std::u16string pieces[] = {
      token, start, end,   u"\u5e5e",          u"\u015e", u"\u5e00", u"\u2121", u"\u0121",
      u"^",  u"!",  u"<!", u"!--tq_SStart-->", u"^tq_N",  u"tq_N^",  u"body",   u"\u5e5e^tq_N^\u5e5e"};
  std::mt19937 rng(4242);
  for (int round = 0; round < 3000; ++round) {
    std::u16string text;
    const int n = static_cast<int>(rng() % 24);
    for (int i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];

    PageTemplate filled(text);
    std::u16string expected = text;
    std::size_t cursor = kNone;
    const std::size_t count = StepwiseFill(expected, cursor, token, u"\u5e5e");
    ASSERT_EQ(filled.SetPlaceholder(u"N", u"\u5e5e"), count) << round;
    ASSERT_EQ(filled.GetText(), expected) << round;

    PageTemplate hidden(text);
    hidden.ShowSection(u"S", false);
    ASSERT_EQ(hidden.GetText(), RemovedStepwise(text, start, end)) << round;

    // Kept sections: as the operations it is made of, the cursor included.
    PageTemplate shown(text);
    PageTemplate stepwise(text);
    shown.ShowSection(u"S", true);
    for (std::u16string body = stepwise.ExtractSection(u"S"); !body.empty(); body = stepwise.ExtractSection(u"S"))
      stepwise.InsertAtCursor(body);
    ASSERT_EQ(shown.GetText(), stepwise.GetText()) << round;
    ASSERT_EQ(shown.Cursor(), stepwise.Cursor()) << round;
  }
}

}  // namespace
}  // namespace albummaker
