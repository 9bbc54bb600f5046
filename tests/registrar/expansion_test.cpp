// %NAME% references, %% and the replacement table.
#include <string>

#include "registrar_test_util.h"

namespace albummaker::testing {
namespace {

using Expansion = RegistrarTest;

TEST_F(Expansion, ReferencesExpandInsideQuotesWithoutRegardToCase) {
  ASSERT_EQ(registrar.DefineReplacement(Wide("Module").c_str(), Wide("C:\\dir\\it''s.dll").c_str()), S_OK);
  EXPECT_EQ(Register("HKCR { K = s '%MODULE%' { val p = s 'x%module%y' } }"), S_OK);
  EXPECT_EQ(Text("HKCR\\K"), "C:\\dir\\it's.dll");
  EXPECT_EQ(Text("HKCR\\K", "p"), "xC:\\dir\\it's.dlly");
}

TEST_F(Expansion, ReferencesExpandInNamesToo) {
  ASSERT_EQ(registrar.DefineReplacement(Wide("Name").c_str(), Wide("Expanded").c_str()), S_OK);
  ASSERT_EQ(registrar.DefineReplacement(Wide("Root").c_str(), Wide("HKCU").c_str()), S_OK);
  EXPECT_EQ(Register("%ROOT% { %Name%Key }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCU\\ExpandedKey"));
}

TEST_F(Expansion, DoublePercentGivesOnePercent) {
  EXPECT_EQ(Register("HKCR { 'a%%b' = s '100%%' }"), S_OK);
  EXPECT_EQ(Text("HKCR\\a%b"), "100%");
}

TEST_F(Expansion, UnclosedOrUnknownReferenceIsASyntaxError) {
  ASSERT_EQ(registrar.DefineReplacement(Wide("Module").c_str(), Wide("m").c_str()), S_OK);
  const std::string before = registry.Dump();
  EXPECT_EQ(Register("HKCR { K = s '%Module' }"), kSyntax);
  EXPECT_EQ(Register("HKCR { K = s '%Other%' }"), kSyntax);
  EXPECT_EQ(Register("HKCR { K = s '%%%Module' }"), kSyntax);
  // Expansion comes before anything is applied.
  EXPECT_EQ(registry.Dump(), before);
}

TEST_F(Expansion, NamesUpTo31BytesAreLookedUp) {
  const std::string name31(31, 'n');
  const std::string name32(32, 'n');
  ASSERT_EQ(registrar.DefineReplacement(Wide(name31).c_str(), Wide("short").c_str()), S_OK);
  ASSERT_EQ(registrar.DefineReplacement(Wide(name32).c_str(), Wide("long").c_str()), S_OK);
  EXPECT_EQ(Register("HKCR { K = s '%" + name31 + "%' }"), S_OK);
  EXPECT_EQ(Text("HKCR\\K"), "short");
  EXPECT_EQ(Register("HKCR { L = s '%" + name32 + "%' }"), kEFail);
  EXPECT_FALSE(registry.HasKey("HKCR\\L"));
  // A missing closing "%" is found before the length is judged.
  EXPECT_EQ(Register("HKCR { L = s '%" + name32), kSyntax);
}

TEST_F(Expansion, TheFirstPairOfANameWins) {
  ASSERT_EQ(registrar.DefineReplacement(Wide("X").c_str(), Wide("first").c_str()), S_OK);
  ASSERT_EQ(registrar.DefineReplacement(Wide("x").c_str(), Wide("second").c_str()), S_OK);
  EXPECT_EQ(registrar.replacements().size(), 2u);
  EXPECT_EQ(Register("HKCR { K = s '%X%' }"), S_OK);
  EXPECT_EQ(Text("HKCR\\K"), "first");
}

TEST_F(Expansion, ValuesMayBringSyntaxIntoTheScript) {
  ASSERT_EQ(registrar.DefineReplacement(Wide("Body").c_str(), Wide("A = s 'x' B").c_str()), S_OK);
  EXPECT_EQ(Register("HKCR { %Body% }"), S_OK);
  EXPECT_EQ(Text("HKCR\\A"), "x");
  EXPECT_TRUE(registry.HasKey("HKCR\\B"));
}

std::string Numbered(const char* prefix, int i) {
  std::string text(prefix);
  text += std::to_string(i);
  return text;
}

TEST_F(Expansion, TableStartsWithRoomForTenAndDoubles) {
  ReplacementTable table;
  for (int i = 0; i < 25; ++i) {
    ASSERT_EQ(table.Add(Wide(Numbered("n", i)).c_str(), Wide(Numbered("v", i)).c_str()), S_OK);
    const std::size_t expected = i < 10 ? 10 : i < 20 ? 20 : 40;
    EXPECT_EQ(table.room(), expected) << i;
  }
  for (int i = 0; i < 25; ++i) {
    const WideString* value = table.FindReplacement((Numbered("N", i)).c_str());
    ASSERT_NE(value, nullptr) << i;
    EXPECT_EQ(*value, Wide(Numbered("v", i)));
  }
  EXPECT_EQ(table.FindReplacement("n25"), nullptr);
  EXPECT_EQ(table.Add(nullptr, Wide("v").c_str()), E_POINTER);
  EXPECT_EQ(table.size(), 25u);
}

TEST_F(Expansion, ResetForgetsEveryPair) {
  ASSERT_EQ(registrar.DefineReplacement(Wide("Module").c_str(), Wide("m").c_str()), S_OK);
  EXPECT_EQ(registrar.ResetReplacements(), S_OK);
  EXPECT_EQ(registrar.replacements().size(), 0u);
  EXPECT_EQ(Register("HKCR { K = s '%Module%' }"), kSyntax);
  ASSERT_EQ(registrar.DefineReplacement(Wide("Module").c_str(), Wide("again").c_str()), S_OK);
  EXPECT_EQ(Register("HKCR { K = s '%Module%' }"), S_OK);
  EXPECT_EQ(Text("HKCR\\K"), "again");
}

TEST(ExpandScript, OutputGrowsPastTwiceTheScript) {
  ReplacementTable table;
  const std::string big(1000, 'b');
  ASSERT_EQ(table.Add(Wide("B").c_str(), Wide(big).c_str()), S_OK);
  std::string out;
  ASSERT_EQ(ExpandScript("<%B%|%%|%b%>", table, out), S_OK);
  std::string expected = "<";
  expected += big;
  expected += "|%|";
  expected += big;
  expected += ">";
  EXPECT_EQ(out, expected);
}

TEST(ExpandScript, OutputThatCannotGrowIsOutOfMemory) {
  ReplacementTable table;
  ASSERT_EQ(table.Add(Wide("B").c_str(), Wide(std::string(100, 'b')).c_str()), S_OK);
  std::string out;
  EXPECT_EQ(ExpandScript("x%B%", table, out, 64), kNoMemory);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(ExpandScript("x%B%", table, out, 128), S_OK);
  EXPECT_EQ(out.size(), 101u);
  EXPECT_EQ(ExpandScript(std::string(40, 'y').c_str(), table, out, 64), kNoMemory);
}

}  // namespace
}  // namespace albummaker::testing
