// Rollback of a failing registration, and a registry that refuses or fails.
#include <string>

#include "registrar_test_util.h"

namespace albummaker::testing {
namespace {

using Rollback = RegistrarTest;
using RegistryFaults = RegistrarTest;

TEST_F(Rollback, FailureInSecondRootBlockKeepsTheFirstAndRemovesTheSecond) {
  registry.AddKey("HKCU\\Shared\\Foreign");
  const std::string script =
      "HKCR { First = s '1' { Inner } }\r\n"
      "HKCU { Second = s '2' { Inner { val v = s 'x' } } Shared { Mine } Bad = s 'x' { val n = b 'abc' } }";
  EXPECT_EQ(Register(script), kEFail);
  EXPECT_EQ(Text("HKCR\\First"), "1");
  EXPECT_TRUE(registry.HasKey("HKCR\\First\\Inner"));
  EXPECT_FALSE(registry.HasKey("HKCU\\Second"));
  EXPECT_FALSE(registry.HasKey("HKCU\\Bad"));
  EXPECT_FALSE(registry.HasKey("HKCU\\Shared\\Mine"));
  EXPECT_TRUE(registry.HasKey("HKCU\\Shared\\Foreign"));
}

TEST_F(Rollback, KeyThatCannotBeCreatedFailsAndIsRolledBack) {
  registry.FailCreateOf("HKCR\\A\\B\\C");
  EXPECT_EQ(Register("HKCR { A = s 'a' { B { C } } }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\A"));
}

TEST_F(Rollback, RemovalPassFailuresAreNotUndone) {
  ASSERT_EQ(Register("HKCR { A B }"), S_OK);
  EXPECT_EQ(Unregister("HKCR { A B 'open }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\A"));
  EXPECT_FALSE(registry.HasKey("HKCR\\B"));
}

TEST_F(RegistryFaults, RefusedWritesDoNotFailTheRun) {
  registry.RefuseWrites(true);
  ASSERT_EQ(Register("HKCR { K = s 'v' { val n = d 1 val b = b '00' } }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\K"));
  EXPECT_EQ(registry.ValueCount("HKCR\\K"), 0u);
  EXPECT_EQ(registry.writes(), 3u);
}

TEST_F(RegistryFaults, KeyThatOpensOnlyForReadingIsStillUsed) {
  registry.AddKey("HKCR\\RO");
  registry.ReadOnlyKey("HKCR\\RO");
  ASSERT_EQ(Register("HKCR { RO = s 'v' Next }"), S_OK);
  EXPECT_EQ(registry.ValueCount("HKCR\\RO"), 0u);
  EXPECT_TRUE(registry.HasKey("HKCR\\Next"));
  // A sub key cannot be created through it.
  EXPECT_EQ(Register("HKCR { RO { Sub } }"), kSyntax);
  EXPECT_TRUE(registry.HasKey("HKCR\\RO"));
}

TEST_F(RegistryFaults, HiddenKeyThatCanBeNeitherOpenedNorCreatedFails) {
  registry.HideKey("HKCR\\H");
  EXPECT_EQ(Register("HKCR { Before H }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\Before"));
}

TEST_F(RegistryFaults, FailingCloseOfThePreviousKeyMattersOnlyAfterACreate) {
  registry.AddKey("HKCR\\Existing");
  registry.FailCloseOf("HKCR\\A");
  EXPECT_EQ(Register("HKCR { A Existing }"), S_OK);
  EXPECT_EQ(Register("HKCR { A New }"), kSyntax);
  // The failing close also ends the rollback's walk over A.
  EXPECT_TRUE(registry.HasKey("HKCR\\A"));
}

TEST_F(RegistryFaults, FailingCloseBeforeADeletionFailsTheRemoval) {
  ASSERT_EQ(Register("HKCR { A B }"), S_OK);
  registry.FailCloseOf("HKCR\\A");
  EXPECT_EQ(Unregister("HKCR { A B }"), kSyntax);
  EXPECT_TRUE(registry.HasKey("HKCR\\A"));
  EXPECT_TRUE(registry.HasKey("HKCR\\B"));
  // The same for a key closed after its block.
  ASSERT_EQ(Register("HKCR { C { val x = s 1 } }"), S_OK);
  registry.FailCloseOf("HKCR\\C");
  EXPECT_EQ(Unregister("HKCR { C { val x = s 1 } }"), kSyntax);
  EXPECT_TRUE(registry.HasKey("HKCR\\C"));
}

TEST_F(RegistryFaults, KeyKeptForItsSubKeysIsNeitherClosedEarlyNorDeleted) {
  ASSERT_EQ(Register("HKCR { A { B } }"), S_OK);
  registry.AddKey("HKCR\\A\\Foreign");
  registry.FailCloseOf("HKCR\\A");
  const std::size_t deletionsBefore = registry.deletions();
  // A stays open until its block ends, where a failing close is not examined.
  ASSERT_EQ(Unregister("HKCR { A { B } }"), S_OK);
  EXPECT_EQ(registry.deletions(), deletionsBefore + 1);  // B only
  EXPECT_FALSE(registry.HasKey("HKCR\\A\\B"));
  EXPECT_TRUE(registry.HasKey("HKCR\\A\\Foreign"));
}

TEST_F(RegistryFaults, RefusedDeletionsDoNotFailTheRemoval) {
  ASSERT_EQ(Register("HKCR { A { B } C }"), S_OK);
  registry.RefuseDeleteOf("HKCR\\A\\B");
  ASSERT_EQ(Unregister("HKCR { A { B } C }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\A\\B"));
  EXPECT_FALSE(registry.HasKey("HKCR\\C"));
}

TEST_F(RegistryFaults, KeyThatWillNotOpenIsPassedOverByRemoval) {
  ASSERT_EQ(Register("HKCR { A { B } C }"), S_OK);
  registry.HideKey("HKCR\\A");
  ASSERT_EQ(Unregister("HKCR { A { B } C }"), S_OK);
  EXPECT_TRUE(registry.HasKey("HKCR\\A\\B"));
  EXPECT_FALSE(registry.HasKey("HKCR\\C"));
}

}  // namespace
}  // namespace albummaker::testing
