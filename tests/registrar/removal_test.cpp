// ForceRemove and Delete in registration, and the removal pass.
#include <string>

#include "registrar_test_util.h"

namespace albummaker::testing {
namespace {

using ForceRemoveAndDelete = RegistrarTest;
using Removal = RegistrarTest;

TEST_F(ForceRemoveAndDelete, ForceRemoveLeavesExactlyWhatTheScriptGives) {
  registry.AddString("HKCR\\X", "stale", "s");
  registry.AddKey("HKCR\\X\\Old\\Deeper\\Deepest");
  registry.AddKey("HKCR\\Y");
  ASSERT_EQ(Register("HKCR { ForceRemove X = s 'new' { Sub } }"), S_OK);
  EXPECT_EQ(Text("HKCR\\X"), "new");
  EXPECT_EQ(registry.ValueCount("HKCR\\X"), 1u);
  EXPECT_EQ(registry.SubKeys("HKCR\\X"), std::vector<std::string>{"Sub"});
  EXPECT_TRUE(registry.HasKey("HKCR\\Y"));
}

TEST_F(ForceRemoveAndDelete, ProtectedNamesAreNeverDeleted) {
  registry.AddKey("HKCR\\CLSID\\Foreign");
  registry.AddKey("HKCR\\TypeLib\\Foreign");
  ASSERT_EQ(Register("HKCR { ForceRemove clsid { Mine } Delete TYPELIB }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\CLSID\\Foreign"));
  EXPECT_TRUE(registry.HasKey("HKCR\\CLSID\\Mine"));
  EXPECT_TRUE(registry.HasKey("HKCR\\TypeLib\\Foreign"));
}

TEST_F(ForceRemoveAndDelete, DeleteTakesAwayAWholeTreeAndWritesNothing) {
  registry.AddString("HKCR\\Gone\\A\\B", "v", "x");
  registry.AddKey("HKCR\\Gone\\C");
  ASSERT_EQ(Register("HKCR { Delete Gone = s 'ignored' Delete Missing Kept }"), S_OK);
  EXPECT_FALSE(registry.HasKey("HKCR\\Gone"));
  EXPECT_FALSE(registry.HasKey("HKCR\\Missing"));
  EXPECT_TRUE(registry.HasKey("HKCR\\Kept"));
}

TEST_F(ForceRemoveAndDelete, DeleteKeyTreeStopsAtARefusedDeletion) {
  registry.AddKey("HKCR\\T\\Stuck\\Leaf");
  registry.AddKey("HKCR\\T\\Other");
  registry.RefuseDeleteOf("HKCR\\T\\Stuck");
  EXPECT_EQ(DeleteKeyTree(registry, HKEY_CLASSES_ROOT, "T"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(registry.HasKey("HKCR\\T\\Stuck"));
  EXPECT_FALSE(registry.HasKey("HKCR\\T\\Stuck\\Leaf"));
  // A refused tree deletion does not fail a registration.
  ASSERT_EQ(Register("HKCR { ForceRemove T = s 'v' }"), S_OK);
  EXPECT_EQ(Text("HKCR\\T"), "v");
  EXPECT_EQ(DeleteKeyTree(registry, HKEY_CLASSES_ROOT, "Absent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(ForceRemoveAndDelete, DeleteKeyTreeReturnsASubTreesFailureWithoutDeletingItsKey) {
  registry.AddKey("HKCR\\T\\Unopenable");
  registry.HideKey("HKCR\\T\\Unopenable");
  // The sub tree's own code comes back, not that of a deletion of T that
  // could only fail.
  EXPECT_EQ(DeleteKeyTree(registry, HKEY_CLASSES_ROOT, "T"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry.deletions(), 0u);
  EXPECT_TRUE(registry.HasKey("HKCR\\T\\Unopenable"));
}

TEST_F(Removal, RemovalLeavesKeysWithForeignSubKeys) {
  const std::string script = "HKCR { A = s 'a' { B = s 'b' } C }";
  ASSERT_EQ(Register(script), S_OK);
  registry.AddKey("HKCR\\A\\Foreign");
  ASSERT_EQ(Unregister(script), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\A\\Foreign"));
  EXPECT_FALSE(registry.HasKey("HKCR\\A\\B"));
  EXPECT_FALSE(registry.HasKey("HKCR\\C"));
}

TEST_F(Removal, NoRemoveKeepsItsKeyButRemovesItsEntries) {
  const std::string script = "HKCR { NoRemove A { B val x = s 'y' } C }";
  ASSERT_EQ(Register(script), S_OK);
  registry.AddString("HKCR\\A", "foreign", "f");
  ASSERT_EQ(Unregister(script), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\A"));
  EXPECT_FALSE(registry.HasKey("HKCR\\A\\B"));
  EXPECT_FALSE(registry.Value("HKCR\\A", "x"));
  EXPECT_EQ(Text("HKCR\\A", "foreign"), "f");
  // NoRemove applies to its own entry only.
  EXPECT_FALSE(registry.HasKey("HKCR\\C"));
}

TEST_F(Removal, NoRemoveKeyStaysEvenWhenItEndsEmpty) {
  const std::string script = "HKCR { NoRemove A { B } }";
  ASSERT_EQ(Register(script), S_OK);
  ASSERT_EQ(Unregister(script), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\A"));
  EXPECT_TRUE(registry.SubKeys("HKCR\\A").empty());
}

TEST_F(Removal, KeyGoesWithValuesTheScriptDoesNotName) {
  const std::string script = "HKCR { A { val x = s 'y' } }";
  ASSERT_EQ(Register(script), S_OK);
  registry.AddString("HKCR\\A", "foreign", "f");
  ASSERT_EQ(Unregister(script), S_OK);
  EXPECT_FALSE(registry.HasKey("HKCR\\A"));
}

TEST_F(Removal, KeyWhoseOnlyValueIsTheDefaultGoesAtOnce) {
  registry.AddString("HKCR\\A", "", "default");
  ASSERT_EQ(Unregister("HKCR { A = s 'default' { NoRemove B } }"), S_OK);
  EXPECT_FALSE(registry.HasKey("HKCR\\A"));
  // With a named value it is not empty: the block runs and the key stays
  // only while a sub key remains.
  registry.AddString("HKCR\\P", "named", "n");
  registry.AddKey("HKCR\\P\\B");
  ASSERT_EQ(Unregister("HKCR { P { NoRemove B } }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\P\\B"));
}

TEST_F(Removal, KeysTheScriptNamesButThatAreMissingArePassedOver) {
  registry.AddKey("HKCR\\Other\\Sub");
  registry.AddString("HKCU\\Keep", "v", "1");
  const std::string before = registry.Dump();
  ASSERT_EQ(Unregister("HKCR { Missing = s 'x' { Sub { val v = s 1 } } Other2 } HKCU { Absent { Keep } }"), S_OK);
  EXPECT_EQ(registry.Dump(), before);
}

TEST_F(Removal, SkippedBlocksChangeNothingEvenUnderAKeyStillOpen) {
  // A stays open as the block's current key (it keeps a foreign sub key)
  // while the block of the missing key after it is only read.
  registry.AddString("HKCR\\A", "x", "keep");
  registry.AddKey("HKCR\\A\\Foreign");
  const std::string before = registry.Dump();
  ASSERT_EQ(Unregister("HKCR { A { Sub } Missing { val x = s 'y' Foreign } }"), S_OK);
  EXPECT_EQ(registry.Dump(), before);
}

TEST_F(Removal, RemovingTwiceChangesNothingTheSecondTime) {
  const std::string script = "HKCR { NoRemove N { A = s 'a' { val v = d 1 } } B { C { D } } }";
  registry.AddKey("HKCR\\B\\Foreign");
  ASSERT_EQ(Register(script), S_OK);
  ASSERT_EQ(Unregister(script), S_OK);
  const std::string once = registry.Dump();
  EXPECT_TRUE(registry.HasKey("HKCR\\B\\Foreign"));
  EXPECT_FALSE(registry.HasKey("HKCR\\B\\C"));
  ASSERT_EQ(Unregister(script), S_OK);
  EXPECT_EQ(registry.Dump(), once);
}

TEST_F(Removal, LongKeyNamesAreRemovedWholeNeverByAPrefix) {
  const std::string longName(300, 'L');
  const std::string prefix(259, 'L');
  registry.AddKey("HKCR\\" + prefix);
  ASSERT_EQ(Register("HKCR { " + longName + " }"), S_OK);
  ASSERT_EQ(Unregister("HKCR { " + longName + " }"), S_OK);
  EXPECT_FALSE(registry.HasKey("HKCR\\" + longName));
  EXPECT_TRUE(registry.HasKey("HKCR\\" + prefix));
}

TEST_F(Removal, ForceRemoveAndDeleteReadAsKeyEntries) {
  ASSERT_EQ(Register("HKCR { ForceRemove A { val v = s 1 } }"), S_OK);
  registry.AddKey("HKCR\\D");
  ASSERT_EQ(Unregister("HKCR { ForceRemove A { val v = s 1 } Delete D = s 'x' }"), S_OK);
  EXPECT_FALSE(registry.HasKey("HKCR\\A"));
  EXPECT_FALSE(registry.HasKey("HKCR\\D"));
}

TEST(ContentTests, NamedValuesIgnoreTheDefaultValueAlone) {
  MemoryRegistry registry;
  registry.AddKey("HKCR\\Empty");
  registry.AddString("HKCR\\Default", "", "d");
  registry.AddString("HKCR\\Named", "n", "v");
  registry.AddString("HKCR\\Both", "", "d");
  registry.AddString("HKCR\\Both", "n", "v");
  registry.AddString("HKCR\\LongName", std::string(5000, 'v'), "v");
  registry.AddKey("HKCR\\Parent\\Child");
  auto check = [&](const char* name, bool named, bool subKeys) {
    HKEY key = nullptr;
    ASSERT_EQ(registry.OpenKey(HKEY_CLASSES_ROOT, name, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(KeyHasNamedValues(registry, key), named) << name;
    EXPECT_EQ(KeyHasSubKeys(registry, key), subKeys) << name;
    registry.CloseKey(key);
  };
  check("Empty", false, false);
  check("Default", false, false);
  check("Named", true, false);
  check("Both", true, false);
  check("LongName", true, false);
  check("Parent", false, true);
}

}  // namespace
}  // namespace albummaker::testing
