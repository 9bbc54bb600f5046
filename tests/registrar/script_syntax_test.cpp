// How scripts are read: tokens, blocks, root names, limits.
#include <string>

#include "registrar_test_util.h"

namespace albummaker::testing {
namespace {

using ScriptSyntax = RegistrarTest;

TEST_F(ScriptSyntax, EmptyScriptSucceedsAndBlankScriptIsRefused) {
  const std::string before = registry.Dump();
  EXPECT_EQ(Register(""), S_OK);
  EXPECT_EQ(Unregister(""), S_OK);
  EXPECT_EQ(Register(" \t\r\n "), kSyntax);
  EXPECT_EQ(Unregister("\r\n"), kSyntax);
  EXPECT_EQ(registry.Dump(), before);
}

TEST_F(ScriptSyntax, OnlyTabLineFeedReturnAndSpaceSeparateTokens) {
  EXPECT_EQ(Register("HKCR\t{\r\nA\n}\r\n"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\A"));
  // Vertical tab and form feed are ordinary characters.
  EXPECT_EQ(Register("HKCR\v{ B }"), kSyntax);
  EXPECT_EQ(Register("HKCR { C\fD }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\C\fD"));
}

TEST_F(ScriptSyntax, RootNameNeedsABlankBeforeItsBrace) {
  EXPECT_EQ(Register("HKCR{ A }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\A"));
  EXPECT_EQ(Register("hkcr { A }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\A"));
}

TEST_F(ScriptSyntax, EveryRootNameReachesItsPredefinedKey) {
  const std::pair<const char*, const char*> roots[] = {
      {"HKCR", "HKCR"},
      {"HKCU", "HKCU"},
      {"HKLM", "HKLM"},
      {"HKU", "HKU"},
      {"HKPD", "HKPD"},
      {"HKDD", "HKDD"},
      {"HKCC", "HKCC"},
      {"HKEY_CLASSES_ROOT", "HKCR"},
      {"HKEY_CURRENT_USER", "HKCU"},
      {"HKEY_LOCAL_MACHINE", "HKLM"},
      {"HKEY_USERS", "HKU"},
      {"HKEY_PERFORMANCE_DATA", "HKPD"},
      {"hkey_dyn_data", "HKDD"},
      {"HKEY_CURRENT_CONFIG", "HKCC"},
  };
  for (const auto& [name, root] : roots) {
    const std::string key = std::string("K_") + name;
    ASSERT_EQ(Register(std::string(name) + " { " + key + " }"), S_OK) << name;
    EXPECT_TRUE(registry.HasKey(std::string(root) + "\\" + key)) << name;
  }
}

TEST_F(ScriptSyntax, BadRootAndBadBlockOpenerAreRefused) {
  EXPECT_EQ(Register("HKXX { A }"), kSyntax);
  EXPECT_EQ(Register("HKCR A }"), kSyntax);
  EXPECT_EQ(Register("HKCR"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\A"));
  // Unclosed blocks run into the end of the text.
  EXPECT_EQ(Register("HKCR { A { B }"), kSyntax);
  EXPECT_EQ(Register("HKCR { C = s"), kSyntax);
  EXPECT_EQ(Register("HKCR { D = s 'x'"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\A\\B"));
  EXPECT_FALSE(registry.HasKey("HKCR\\C"));
  EXPECT_FALSE(registry.HasKey("HKCR\\D"));
}

TEST_F(ScriptSyntax, KeyNamesWithBackslashAreRefusedInBothPasses) {
  EXPECT_EQ(Register("HKCR { A\\B }"), kSyntax);
  EXPECT_EQ(Register("HKCR { 'A\\B' }"), kSyntax);
  EXPECT_EQ(Register("HKCR { ForceRemove A\\B }"), kSyntax);
  EXPECT_EQ(Register("HKCR { Delete A\\B }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\A"));
  registry.AddKey("HKCR\\A\\B");
  EXPECT_EQ(Unregister("HKCR { A\\B }"), kSyntax);
  EXPECT_TRUE(registry.HasKey("HKCR\\A\\B"));
  // Value names may hold any character.
  EXPECT_EQ(Register("HKCR { K { val 'a\\b' = s 'v' } }"), S_OK);
  EXPECT_EQ(Text("HKCR\\K", "a\\b"), "v");
}

TEST_F(ScriptSyntax, EmptyKeyNamesAreRefusedInBothPasses) {
  // An empty name would stand for the parent key itself.
  registry.AddKey("HKCR\\CLSID\\Foreign\\Deep");
  registry.AddString("HKCR\\Lone", "keep", "k");
  const std::string before = registry.Dump();
  EXPECT_EQ(Register("HKCR { NoRemove CLSID { ForceRemove '' } }"), kSyntax);
  EXPECT_EQ(Register("HKCR { Delete '' }"), kSyntax);
  EXPECT_EQ(Register("HKCR { Lone { '' = s 'x' } }"), kSyntax);
  EXPECT_EQ(Unregister("HKCR { NoRemove Lone { '' } }"), kSyntax);
  EXPECT_EQ(registry.Dump(), before);
  // An empty value name is the default value.
  EXPECT_EQ(Register("HKCR { Lone { val '' = s 'x' } }"), S_OK);
  EXPECT_EQ(Text("HKCR\\Lone"), "x");
}

TEST_F(ScriptSyntax, QuotedTokensKeepBlanksBracesAndDoubledQuotes) {
  EXPECT_EQ(Register("HKCR { 'a b{=}' = s 'it''s' }"), S_OK);
  EXPECT_EQ(Text("HKCR\\a b{=}"), "it's");
  EXPECT_EQ(Register("HKCR { Q = s '''' }"), S_OK);
  EXPECT_EQ(Text("HKCR\\Q"), "'");
  EXPECT_EQ(Register("HKCR { E = s '' }"), S_OK);
  EXPECT_EQ(Text("HKCR\\E"), "");
  EXPECT_EQ(Register("HKCR { U = s 'open }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\U"));
}

TEST_F(ScriptSyntax, QuotesInsideUnquotedTokensAreOrdinary) {
  EXPECT_EQ(Register("HKCR { a'b = s x'y }"), S_OK);
  EXPECT_EQ(Text("HKCR\\a'b"), "x'y");
}

TEST_F(ScriptSyntax, KeywordsAndBracesAreRecognisedWhenQuoted) {
  EXPECT_EQ(Register("HKCR { K '{' 'Val' x = 'S' y '}' L }"), S_OK);
  EXPECT_EQ(Text("HKCR\\K", "x"), "y");
  EXPECT_TRUE(registry.HasKey("HKCR\\L"));
  EXPECT_FALSE(registry.HasKey("HKCR\\Val"));
}

TEST_F(ScriptSyntax, QuotedTokenLimitIs4094Bytes) {
  const std::string fits(4094, 'x');
  EXPECT_EQ(Register("HKCR { K = s '" + fits + "' }"), S_OK);
  EXPECT_EQ(Text("HKCR\\K"), fits);
  // Doubled quotes count once.
  const std::string quotes(2 * 4094, '\'');
  EXPECT_EQ(Register("HKCR { Q = s '" + quotes + "' }"), S_OK);
  EXPECT_EQ(Text("HKCR\\Q"), std::string(4094, '\''));
  EXPECT_EQ(Register("HKCR { L = s '" + fits + "x' }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\L"));
}

TEST_F(ScriptSyntax, UnquotedTokenLimitIsItsBuffer) {
  const std::string fits(4095, 'n');
  EXPECT_EQ(Register("HKCR { " + fits + " = s " + fits + " }"), S_OK);
  EXPECT_EQ(Text("HKCR\\" + fits), fits);
  EXPECT_EQ(Register("HKCR { " + fits + "n }"), kSyntax);
  EXPECT_EQ(Register("HKCR { K = s " + fits + "v }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\K"));
}

TEST_F(ScriptSyntax, ValueNameLimitIs259Bytes) {
  const std::string fits(259, 'v');
  EXPECT_EQ(Register("HKCR { K { val " + fits + " = s ok } }"), S_OK);
  EXPECT_EQ(Text("HKCR\\K", fits), "ok");
  EXPECT_EQ(Register("HKCR { M { val '" + fits + "w' = s no } }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\M"));
  EXPECT_EQ(Unregister("HKCR { K { val " + fits + "w = s ok } }"), kSyntax);
}

TEST_F(ScriptSyntax, ValNeedsAnEqualsSign) {
  EXPECT_EQ(Register("HKCR { K { val x s 'y' } }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\K"));
  EXPECT_EQ(Register("HKCR { K { val x = s 'y' } }"), S_OK);
  EXPECT_EQ(Text("HKCR\\K", "x"), "y");
  EXPECT_EQ(Text("HKCR\\K"), "<none>");
  // The rest of a token that begins with "=" is ignored.
  EXPECT_EQ(Register("HKCR { K { val z =junk s 'w' } }"), S_OK);
  EXPECT_EQ(Text("HKCR\\K", "z"), "w");
}

TEST_F(ScriptSyntax, UnknownValueTypeIsRefused) {
  EXPECT_EQ(Register("HKCR { K = q 'y' }"), kSyntax);
  EXPECT_EQ(Register("HKCR { K = 'sz' 'y' }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\K"));
}

TEST_F(ScriptSyntax, BlocksAfterValAndDeleteAreRefusedInBothPasses) {
  EXPECT_EQ(Register("HKCR { K1 { val x = s y { A } } }"), kSyntax);
  EXPECT_EQ(Register("HKCR { K2 Delete X { A } }"), kSyntax);
  EXPECT_EQ(Register("HKCR { K3 Delete X = s 'v' { A } }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\K2"));
  EXPECT_FALSE(registry.HasKey("HKCR\\K3"));
  EXPECT_FALSE(registry.HasKey("HKCR\\A"));
  EXPECT_FALSE(registry.HasKey("HKCR\\K1\\A"));
  registry.AddString("HKCR\\K", "x", "y");
  registry.AddKey("HKCR\\X\\A");
  EXPECT_EQ(Unregister("HKCR { NoRemove K { val x = s y { A } } }"), kSyntax);
  EXPECT_EQ(Unregister("HKCR { Delete X { A } }"), kSyntax);
  EXPECT_TRUE(registry.HasKey("HKCR\\X\\A"));
}

TEST_F(ScriptSyntax, OnlyALoneBraceOpensABlockInBothPasses) {
  // "{B}" after a key without a block is a sibling key, not a block.
  ASSERT_EQ(Register("HKCR { A {B} }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\A"));
  EXPECT_TRUE(registry.HasKey("HKCR\\{B}"));
  EXPECT_EQ(Unregister("HKCR { A {B} }"), S_OK);
  EXPECT_FALSE(registry.HasKey("HKCR\\A"));
  EXPECT_FALSE(registry.HasKey("HKCR\\{B}"));
}

TEST_F(ScriptSyntax, AnyTokenBeginningWithClosingBraceEndsABlock) {
  EXPECT_EQ(Register("HKCR { A { B }x C }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\A\\B"));
  EXPECT_TRUE(registry.HasKey("HKCR\\C"));
}

TEST_F(ScriptSyntax, SeveralRootBlocksApplyInOrder) {
  EXPECT_EQ(Register("HKCR { A }\r\nHKCU { B }\r\n\r\nHKLM { C }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\A"));
  EXPECT_TRUE(registry.HasKey("HKCU\\B"));
  EXPECT_TRUE(registry.HasKey("HKLM\\C"));
  // A bad root name after a good block fails the run; the good block stays.
  EXPECT_EQ(Register("HKCR { J } junk"), kSyntax);
  EXPECT_TRUE(registry.HasKey("HKCR\\J"));
}

std::string Nested(const std::string& name, int levels) {
  std::string script = "HKCR {";
  for (int i = 0; i < levels; ++i) script += " " + name + " {";
  for (int i = 0; i <= levels; ++i) script += " }";
  return script;
}

TEST_F(ScriptSyntax, DeepNestingWorksUpToTheRegistryDepth) {
  EXPECT_EQ(Register(Nested("N", 500)), S_OK);
  std::string path = "HKCR";
  for (int i = 0; i < 500; ++i) path += "\\N";
  EXPECT_TRUE(registry.HasKey(path));
  EXPECT_EQ(Unregister(Nested("N", 500)), S_OK);
  EXPECT_FALSE(registry.HasKey("HKCR\\N"));
}

TEST_F(ScriptSyntax, NestingBeyondTheRegistryDepthIsRefusedWithoutCrashing) {
  EXPECT_EQ(Register(Nested("D", 100000)), kSyntax);
  EXPECT_EQ(Unregister(Nested("E", 100000)), kSyntax);
}

TEST_F(ScriptSyntax, NullScriptIsRefused) { EXPECT_EQ(registrar.ApplyScript(nullptr, TRUE), E_POINTER); }

}  // namespace
}  // namespace albummaker::testing
