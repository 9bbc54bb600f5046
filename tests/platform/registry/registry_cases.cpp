// Key and value semantics of the registry functions. The same cases run
// against the Linux store and, built for Windows, against the real registry
// under Wine, so the store keeps to what Windows does.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "registry_scratch.h"

namespace {

using regtest::ScratchKey;

class RegistryCases : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(scratch_.key(), nullptr); }

  HKEY Create(const char* name, DWORD* disposition = nullptr, HKEY parent = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent ? parent : scratch_.key(), name, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, disposition),
              ERROR_SUCCESS)
        << name;
    return key;
  }

  LSTATUS Open(const char* name, REGSAM access, HKEY* out) {
    return RegOpenKeyExA(scratch_.key(), name, 0, access, out);
  }

  static LSTATUS SetString(HKEY key, const char* name, const char* text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(std::strlen(text) + 1));
  }

  static LSTATUS SetDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }

  static std::string GetString(HKEY key, const char* name) {
    char buf[512] = {};
    DWORD size = sizeof buf, type = 0;
    LSTATUS st = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    if (st != ERROR_SUCCESS) return "<error " + std::to_string(st) + ">";
    if (type != REG_SZ) return "<type " + std::to_string(type) + ">";
    return std::string(buf);
  }

  ScratchKey scratch_;
};

TEST_F(RegistryCases, CreateReportsNewThenExistingAndOpenFindsIt) {
  DWORD disposition = 0;
  HKEY first = Create("Alpha", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  HKEY second = Create("Alpha", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  HKEY opened = nullptr;
  EXPECT_EQ(Open("Alpha", KEY_READ, &opened), ERROR_SUCCESS);
  EXPECT_NE(opened, nullptr);
  // Handles to one key see each other's values.
  EXPECT_EQ(SetString(first, "v", "one"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(opened, "v"), "one");
  RegCloseKey(first);
  RegCloseKey(second);
  RegCloseKey(opened);
}

TEST_F(RegistryCases, OpeningAMissingKeyFailsWithFileNotFound) {
  HKEY key = nullptr;
  EXPECT_EQ(Open("Missing", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open("Missing\\Deeper", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryCases, CreatingAPathMakesEveryLevel) {
  DWORD disposition = 0;
  HKEY deep = Create("A\\B\\C", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(deep);
  HKEY middle = nullptr;
  ASSERT_EQ(Open("A\\B", KEY_READ, &middle), ERROR_SUCCESS);
  DWORD subKeys = 99, values = 99;
  EXPECT_EQ(RegQueryInfoKeyA(middle, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 1u);
  EXPECT_EQ(values, 0u);
  RegCloseKey(middle);
}

TEST_F(RegistryCases, NamesCompareWithoutRegardToCaseAndKeepTheirSpelling) {
  HKEY key = Create("MixedCase");
  ASSERT_EQ(SetString(key, "ValueName", "x"), ERROR_SUCCESS);
  HKEY other = nullptr;
  ASSERT_EQ(Open("MIXEDcase", KEY_READ, &other), ERROR_SUCCESS);
  EXPECT_EQ(GetString(other, "VALUENAME"), "x");
  // Setting through another spelling replaces the value, it adds none.
  ASSERT_EQ(SetString(key, "valuename", "y"), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(GetString(other, "ValueName"), "y");
  char name[64];
  DWORD size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(scratch_.key(), 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "MixedCase");
  EXPECT_EQ(size, 9u);
  RegCloseKey(key);
  RegCloseKey(other);
}

TEST_F(RegistryCases, ValuesKeepTheirTypeAndBytes) {
  HKEY key = Create("Values");
  const BYTE binary[] = {0x00, 0xFF, 0x10, 0x0A, 0x0D};
  const char multi[] = "one\0two\0";
  ASSERT_EQ(SetDword(key, "Number", 0xDEADBEEF), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Bytes", 0, REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi),
            ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "Text", "quote\" back\\slash"), ERROR_SUCCESS);

  DWORD type = 0, number = 0, size = sizeof number;
  ASSERT_EQ(RegQueryValueExA(key, "Number", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number, 0xDEADBEEFu);
  EXPECT_EQ(size, 4u);

  BYTE buf[64] = {};
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key, "Bytes", nullptr, &type, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  ASSERT_EQ(size, sizeof binary);
  EXPECT_EQ(std::memcmp(buf, binary, sizeof binary), 0);

  size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key, "Empty", nullptr, &type, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);

  size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key, "Multi", nullptr, &type, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  ASSERT_EQ(size, sizeof multi);
  EXPECT_EQ(std::memcmp(buf, multi, sizeof multi), 0);

  EXPECT_EQ(GetString(key, "Text"), "quote\" back\\slash");
  RegCloseKey(key);
}

TEST_F(RegistryCases, ANewValueReplacesTypeAndData) {
  HKEY key = Create("Replace");
  ASSERT_EQ(SetString(key, "v", "a long text value"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "v", 7), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size, 4u);
  RegCloseKey(key);
}

TEST_F(RegistryCases, TheDefaultValueHasTheEmptyName) {
  HKEY key = Create("Default");
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(SetString(key, nullptr, "by null"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, ""), "by null");
  ASSERT_EQ(SetString(key, "", "by empty"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, nullptr), "by empty");
  char name[16] = "x";
  DWORD nameSize = sizeof name;
  ASSERT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(nameSize, 0u);
  RegCloseKey(key);
}

TEST_F(RegistryCases, QueryMeasuresAndReportsShortBuffers) {
  HKEY key = Create("Sizes");
  ASSERT_EQ(SetString(key, "s", "0123456789"), ERROR_SUCCESS);
  DWORD size = 0, type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "s", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 11u);
  char small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "s", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(RegQueryValueExA(key, "absent", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryCases, SubKeysEnumerateInNameOrderWithoutRegardToCase) {
  for (const char* name : {"delta", "Bravo", "alpha", "Charlie"}) RegCloseKey(Create(name));
  std::vector<std::string> seen;
  char name[64];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    LSTATUS st = RegEnumKeyExA(scratch_.key(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (st == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(st, ERROR_SUCCESS);
    EXPECT_EQ(size, std::strlen(name));
    seen.push_back(name);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta"}));
  DWORD tiny = 3;
  EXPECT_EQ(RegEnumKeyExA(scratch_.key(), 0, name, &tiny, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  // Exactly the name's length leaves no room for its terminating zero.
  DWORD exact = 5;
  EXPECT_EQ(RegEnumKeyExA(scratch_.key(), 0, name, &exact, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
}

TEST_F(RegistryCases, ValuesEnumerateOnceEachWithNameTypeAndData) {
  HKEY key = Create("EnumValues");
  ASSERT_EQ(SetString(key, "zeta", "last"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "alpha", 5), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, nullptr, "default"), ERROR_SUCCESS);
  std::set<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[64];
    BYTE data[64];
    DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
    LSTATUS st = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize);
    if (st == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(st, ERROR_SUCCESS);
    names.insert(name);
    if (std::string(name) == "alpha") {
      EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
      EXPECT_EQ(dataSize, 4u);
    } else if (std::string(name) == "zeta") {
      EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
      EXPECT_STREQ(reinterpret_cast<char*>(data), "last");
    }
  }
  EXPECT_EQ(names, (std::set<std::string>{"", "alpha", "zeta"}));

  // A short data buffer: the size needed comes back with ERROR_MORE_DATA.
  for (DWORD i = 0; i < 3; ++i) {
    char name[64];
    BYTE data[2];
    DWORD nameSize = sizeof name, dataSize = sizeof data;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    if (std::string(name) != "zeta") continue;
    nameSize = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, data, &dataSize), ERROR_MORE_DATA);
    EXPECT_EQ(dataSize, 5u);
  }
  RegCloseKey(key);
}

TEST_F(RegistryCases, QueryInfoCountsAndMeasures) {
  HKEY key = Create("Info");
  RegCloseKey(Create("short", nullptr, key));
  RegCloseKey(Create("a-longer-name", nullptr, key));
  ASSERT_EQ(SetString(key, "n", "0123456789"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "longest-value-name", 1), ERROR_SUCCESS);
  DWORD subKeys = 0, maxSubKey = 0, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values, &maxName, &maxData,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 2u);
  EXPECT_EQ(maxSubKey, 13u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 18u);
  // A bound for a data buffer: Windows counts its UTF-16 form of text (22
  // here), the Linux store the ANSI bytes it keeps (11).
  EXPECT_GE(maxData, 11u);
  EXPECT_LE(maxData, 22u);
  RegCloseKey(key);
}

TEST_F(RegistryCases, AKeyWithSubKeysCannotBeDeleted) {
  RegCloseKey(Create("Parent\\Child"));
  EXPECT_EQ(RegDeleteKeyA(scratch_.key(), "Parent"), ERROR_ACCESS_DENIED);
  HKEY still = nullptr;
  EXPECT_EQ(Open("Parent\\Child", KEY_READ, &still), ERROR_SUCCESS);
  RegCloseKey(still);
  EXPECT_EQ(RegDeleteKeyA(scratch_.key(), "Parent\\Child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(scratch_.key(), "Parent"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(scratch_.key(), "Parent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryCases, AKeyDeletedThroughAnotherHandleReportsKeyDeleted) {
  HKEY key = Create("Doomed");
  ASSERT_EQ(SetString(key, "v", "x"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(scratch_.key(), "Doomed"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(SetString(key, "w", "y"), ERROR_KEY_DELETED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(key, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  // A key made again under the old name starts empty.
  HKEY again = Create("Doomed");
  EXPECT_EQ(RegQueryValueExA(again, "v", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(again);
}

TEST_F(RegistryCases, DeletingValues) {
  HKEY key = Create("DeleteValue");
  ASSERT_EQ(SetString(key, "v", "x"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "V"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_FILE_NOT_FOUND);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryCases, AReadOnlyHandleRefusesWrites) {
  HKEY writable = Create("ReadOnly");
  ASSERT_EQ(SetString(writable, "v", "x"), ERROR_SUCCESS);
  RegCloseKey(writable);
  HKEY key = nullptr;
  ASSERT_EQ(Open("ReadOnly", KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, "w", "y"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  LSTATUS created = RegCreateKeyExA(key, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr);
  // Windows documents KEY_CREATE_SUB_KEY on the handle as required; Wine
  // does not check it.
  if (!regtest::RunsOnWine()) {
    EXPECT_EQ(created, ERROR_ACCESS_DENIED);
  } else if (created == ERROR_SUCCESS) {
    RegCloseKey(child);
  }
  EXPECT_EQ(GetString(key, "v"), "x");
  RegCloseKey(key);
  // A handle for writing only cannot read.
  ASSERT_EQ(Open("ReadOnly", KEY_SET_VALUE, &key), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetString(key, "w", "y"), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryCases, ClosedAndNullHandlesAreInvalid) {
  HKEY key = Create("Closing");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  HKEY out = nullptr;
  EXPECT_EQ(RegOpenKeyExA(nullptr, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(nullptr, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryCases, OpeningWithAnEmptyNameGivesANewHandleToTheSameKey) {
  HKEY key = Create("Same");
  HKEY again = nullptr;
  ASSERT_EQ(RegOpenKeyExA(key, "", 0, KEY_ALL_ACCESS, &again), ERROR_SUCCESS);
  ASSERT_EQ(SetString(again, "v", "x"), ERROR_SUCCESS);
  RegCloseKey(again);
  EXPECT_EQ(GetString(key, "v"), "x");
  RegCloseKey(key);
}

}  // namespace

namespace {

TEST_F(RegistryCases, CreatingWithNoNameOpensTheKeyItselfAndDeletingNeedsAName) {
  HKEY key = Create("Itself");
  HKEY same = nullptr;
  ASSERT_EQ(RegCreateKeyExA(key, nullptr, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &same, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(SetString(same, "v", "x"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, "v"), "x");
  RegCloseKey(same);
  EXPECT_EQ(RegDeleteKeyA(scratch_.key(), nullptr), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistryCases, DeletingThroughAReadOnlyParentIsAllowed) {
  RegCloseKey(Create("Parent\\Leaf"));
  HKEY parent = nullptr;
  ASSERT_EQ(Open("Parent", KEY_READ, &parent), ERROR_SUCCESS);
  // The right to delete belongs to the key deleted, not to its parent's handle.
  EXPECT_EQ(RegDeleteKeyA(parent, "Leaf"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(Open("Parent\\Leaf", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  RegCloseKey(parent);
}

}  // namespace

namespace {

TEST_F(RegistryCases, PathsMayNotStartWithABackslash) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(scratch_.key(), "\\Lead", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 161);
  EXPECT_EQ(RegOpenKeyExA(scratch_.key(), "\\Lead", 0, KEY_READ, &key), 161);
  // A trailing one is ignored.
  RegCloseKey(Create("Trail"));
  ASSERT_EQ(Open("Trail\\", KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

// Per-user registration redirects HKEY_CLASSES_ROOT for a while: every
// write through it lands under the key given, and afterwards the real root
// answers again.
TEST_F(RegistryCases, OverridingClassesRootRedirectsItUntilRestored) {
  struct Restore {
    ~Restore() { RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr); }
  } restore;
  HKEY classes = Create("Classes");
  ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes), ERROR_SUCCESS);
  // The handle given may be closed: the redirection keeps its key.
  RegCloseKey(classes);
  const std::string probe = "AmOverrideProbe" + regtest::UniqueSuffix();
  HKEY made = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (probe + "\\Sub").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made,
                            nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(SetString(made, nullptr, "redirected"), ERROR_SUCCESS);
  RegCloseKey(made);
  HKEY seen = nullptr;
  ASSERT_EQ(Open(("Classes\\" + probe + "\\Sub").c_str(), KEY_READ, &seen), ERROR_SUCCESS);
  EXPECT_EQ(GetString(seen, nullptr), "redirected");
  RegCloseKey(seen);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, (probe + "\\Sub").c_str(), 0, KEY_READ, &seen), ERROR_SUCCESS);
  RegCloseKey(seen);

  ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr), ERROR_SUCCESS);
  seen = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, probe.c_str(), 0, KEY_READ, &seen), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(seen, nullptr);
  ASSERT_EQ(Open(("Classes\\" + probe + "\\Sub").c_str(), KEY_READ, &seen), ERROR_SUCCESS);
  RegCloseKey(seen);
}

}  // namespace
