// Rollback of a failing registration, and a registry that refuses or fails.
#include <functional>
#include <new>
#include <stdexcept>
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

// Passes every call to an in-memory registry; SetValue first runs raise.
class ThrowingRegistry final : public Registry {
 public:
  explicit ThrowingRegistry(MemoryRegistry& inner) : inner_(inner) {}
  LONG OpenKey(HKEY parent, LPCSTR name, REGSAM access, HKEY* result) override {
    return inner_.OpenKey(parent, name, access, result);
  }
  LONG CreateKey(HKEY parent, LPCSTR name, HKEY* result) override { return inner_.CreateKey(parent, name, result); }
  LONG CloseKey(HKEY key) override { return inner_.CloseKey(key); }
  LONG DeleteKey(HKEY parent, LPCSTR name) override { return inner_.DeleteKey(parent, name); }
  LONG DeleteValue(HKEY key, LPCSTR name) override { return inner_.DeleteValue(key, name); }
  LONG SetValue(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size) override {
    if (raise) raise();
    return inner_.SetValue(key, name, type, data, size);
  }
  LONG FirstSubKeyName(HKEY key, LPSTR name, DWORD* size) override { return inner_.FirstSubKeyName(key, name, size); }
  LONG FirstValueName(HKEY key, LPSTR name, DWORD* size) override { return inner_.FirstValueName(key, name, size); }
  LONG QueryCounts(HKEY key, DWORD* subKeys, DWORD* values) override {
    return inner_.QueryCounts(key, subKeys, values);
  }

  std::function<void()> raise;

 private:
  MemoryRegistry& inner_;
};

// The keys open at the throw (A and A\B) are closed on the way out, which
// the fixture checks.
TEST_F(RegistryFaults, ExceptionFromTheRegistryBecomesAResultCode) {
  ThrowingRegistry throwing(registry);
  ScriptRegistrar over(throwing);
  throwing.raise = [] { throw std::bad_alloc(); };
  EXPECT_EQ(over.ApplyScript("HKCR { A { B = s 'x' } }", TRUE), kNoMemory);
  throwing.raise = [] { throw std::logic_error("not a registry failure"); };
  EXPECT_EQ(over.ApplyScript("HKCR { A { B = s 'x' } }", TRUE), kEFail);
  throwing.raise = nullptr;
  EXPECT_EQ(over.ApplyScript("HKCR { A { B = s 'x' } }", TRUE), S_OK);
  EXPECT_EQ(Text("HKCR\\A\\B"), "x");
}

}  // namespace
}  // namespace albummaker::testing
