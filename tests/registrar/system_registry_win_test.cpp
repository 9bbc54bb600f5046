// Windows only: the interpreter against the real registry (in a scratch key
// of the current user), and in a double-byte code page.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "registrar_test_util.h"

namespace albummaker::testing {
namespace {

const char kTestRoot[] = "Software\\AlbumMakerTest";

// A key of its own under HKCU\Software\AlbumMakerTest, removed afterwards.
class ScratchKey : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "run" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount());
    path_ = std::string(kTestRoot) + "\\" + name_;
  }
  void TearDown() override {
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kTestRoot, 0, KEY_READ | KEY_WRITE, &root) == ERROR_SUCCESS) {
      DeleteKeyTree(SystemRegistry::Instance(), root, name_.c_str());
      RegCloseKey(root);
    }
    // The shared parent stays: another test process may be about to create
    // its own scratch key under it.
  }

  // The script body placed inside the scratch key.
  std::string Wrap(const std::string& body) const {
    return "HKCU { NoRemove Software { NoRemove AlbumMakerTest { '" + name_ + "' { " + body + " } } } }";
  }
  bool Exists(const std::string& sub) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (path_ + sub).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  // Type and bytes of a value, or type REG_NONE with "<none>".
  std::pair<DWORD, std::string> Query(const std::string& sub, const char* value) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (path_ + sub).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return {REG_NONE, "<no key>"};
    }
    char data[512] = {};
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    LONG result = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return {REG_NONE, "<none>"};
    return {type, std::string(data, size)};
  }

  std::string name_;
  std::string path_;
  ScriptRegistrar registrar;  // the system registry
};

using SystemRegistryScript = ScratchKey;

TEST_F(SystemRegistryScript, RegistersAllValueTypesAndRemovesThemAgain) {
  HKEY old = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path_ + "\\Forced\\Old").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &old, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(old);
  const std::string script = Wrap(
      "Top = s 'it''s' { val Number = d '4294967295' val Bytes = b '0aFF' val Empty = b '' Sub { Leaf } }"
      " ForceRemove Forced { Fresh } Delete Gone");
  ASSERT_EQ(registrar.ApplyScript(script.c_str(), TRUE), S_OK);
  EXPECT_EQ(Query("\\Top", nullptr), std::make_pair(static_cast<DWORD>(REG_SZ), std::string("it's\0", 5)));
  EXPECT_EQ(Query("\\Top", "Number"), std::make_pair(static_cast<DWORD>(REG_DWORD), std::string("\xFF\xFF\xFF\xFF")));
  EXPECT_EQ(Query("\\Top", "Bytes"), std::make_pair(static_cast<DWORD>(REG_BINARY), std::string("\x0A\xFF")));
  EXPECT_EQ(Query("\\Top", "Empty"), std::make_pair(static_cast<DWORD>(REG_BINARY), std::string()));
  EXPECT_TRUE(Exists("\\Top\\Sub\\Leaf"));
  EXPECT_TRUE(Exists("\\Forced\\Fresh"));
  EXPECT_FALSE(Exists("\\Forced\\Old"));

  ASSERT_EQ(registrar.ApplyScript(script.c_str(), FALSE), S_OK);
  EXPECT_FALSE(Exists("\\Top"));
  EXPECT_FALSE(Exists("\\Forced"));
  EXPECT_FALSE(Exists(""));
  ASSERT_EQ(registrar.ApplyScript(script.c_str(), FALSE), S_OK);
}

TEST_F(SystemRegistryScript, RemovalSparesForeignSubKeysAndNoRemoveValuesGo) {
  const std::string script = Wrap("A { B } NoRemove N { val V = s 'v' }");
  ASSERT_EQ(registrar.ApplyScript(script.c_str(), TRUE), S_OK);
  HKEY foreign = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path_ + "\\A\\Foreign").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &foreign, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(foreign);
  ASSERT_EQ(registrar.ApplyScript(script.c_str(), FALSE), S_OK);
  EXPECT_TRUE(Exists("\\A\\Foreign"));
  EXPECT_FALSE(Exists("\\A\\B"));
  EXPECT_TRUE(Exists("\\N"));
  EXPECT_EQ(Query("\\N", "V").second, "<none>");
}

TEST_F(SystemRegistryScript, FailingSecondBlockIsRolledBack) {
  const std::string script = Wrap("Kept") + "\r\n" + Wrap("Rolled { Inner = s 'x' } Bad = b 'abc'");
  EXPECT_EQ(registrar.ApplyScript(script.c_str(), TRUE), kEFail);
  EXPECT_TRUE(Exists("\\Kept"));
  EXPECT_FALSE(Exists("\\Rolled"));
  EXPECT_FALSE(Exists("\\Bad"));
}

// In code page 932 the character U+8868 is the bytes 0x95 0x5C and U+30DE
// is 0x83 0x7D: their trail bytes are "\" and "}".
using DoubleByteCodePage = ScratchKey;

TEST_F(DoubleByteCodePage, TrailBytesAreNeverDelimiters) {
  const char* expected = std::getenv("AM_EXPECT_CODE_PAGE");
  if (expected != nullptr && std::string(expected) == "932") {
    ASSERT_EQ(GetACP(), 932u);
  } else if (GetACP() != 932) {
    GTEST_SKIP() << "needs the code page 932 run";
  }
  ASSERT_EQ(registrar.DefineReplacement(L"Name", L"\x30DE\x8868"), S_OK);
  const std::string script = Wrap(
      "\x95\x5C = s '\x95\x5C' { val '\x83\x7D' = s '%Name%' }"
      " \x83\x7D { \x83\x7D\x95\x5C }");
  ASSERT_EQ(registrar.ApplyScript(script.c_str(), TRUE), S_OK);

  const std::wstring base = L"Software\\AlbumMakerTest\\" + std::wstring(name_.begin(), name_.end());
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (base + L"\\\x8868").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  WCHAR data[64] = {};
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(data), L"\x8868");
  size = sizeof data;
  EXPECT_EQ(RegQueryValueExW(key, L"\x30DE", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(data), L"\x30DE\x8868");
  RegCloseKey(key);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (base + L"\\\x30DE\\\x30DE\x8868").c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);

  // A real backslash is still refused.
  EXPECT_EQ(registrar.ApplyScript(Wrap("a\\b").c_str(), TRUE), kSyntax);

  ASSERT_EQ(registrar.ApplyScript(script.c_str(), FALSE), S_OK);
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, (base + L"\\\x8868").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
}

}  // namespace
}  // namespace albummaker::testing
