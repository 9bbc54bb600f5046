// Linux only: the interpreter against the runtime's registry store, kept in
// a file of the test's own.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "registrar_test_util.h"
#include "temp_folder.h"

namespace albummaker::testing {
namespace {

class RuntimeRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::is_directory(folder_.Path()));
    file_ = (folder_.Path() / "registry.reg").string();
    ASSERT_EQ(setenv("ALBUMMAKER_REGISTRY", file_.c_str(), 1), 0);
  }
  void TearDown() override { unsetenv("ALBUMMAKER_REGISTRY"); }

  std::string Query(const char* path, const char* value) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    char data[256] = {};
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    LONG result = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) return "<none>";
    return data;
  }

  TempFolder folder_;
  std::string file_;
};

TEST_F(RuntimeRegistry, RegistersAndRemovesThroughTheWin32Functions) {
  ScriptRegistrar registrar;  // the system registry
  ASSERT_EQ(registrar.DefineReplacement(Wide("Module").c_str(), Wide("/opt/it''s/libx.so").c_str()), S_OK);
  const char script[] =
      "HKCR { Sample.Key = s 'Sample' { Sub { val Mode = s 'Free' } }"
      " NoRemove CLSID { ForceRemove {0A0B} = s '%Module%' { Old } } }";
  ASSERT_EQ(registrar.ApplyScript(script, TRUE), S_OK);
  EXPECT_EQ(Query("Sample.Key", nullptr), "Sample");
  EXPECT_EQ(Query("Sample.Key\\Sub", "Mode"), "Free");
  EXPECT_EQ(Query("CLSID\\{0A0B}", nullptr), "/opt/it's/libx.so");

  ASSERT_EQ(registrar.ApplyScript(script, FALSE), S_OK);
  EXPECT_EQ(Query("Sample.Key", nullptr), "<no key>");
  EXPECT_EQ(Query("CLSID\\{0A0B}", nullptr), "<no key>");
  EXPECT_EQ(Query("CLSID", nullptr), "<none>");
  EXPECT_EQ(registrar.ApplyScript(script, FALSE), S_OK);
}

}  // namespace
}  // namespace albummaker::testing
