// Scripts read from a module's resources: this executable carries
// resource_script.rgs as REGISTRY 101.
#include <string>

#include "registrar_test_util.h"

namespace albummaker::testing {
namespace {

class ScriptResource : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    path_ = path;
    WCHAR wide[MAX_PATH + 1] = {};
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH + 1), 0);
    widePath_ = wide;
  }
  void TearDown() override { EXPECT_EQ(registry.open_handles(), 0u); }

  std::string path_;
  WideString widePath_;
  MemoryRegistry registry;
  ScriptRegistrar registrar{registry};
};

TEST_F(ScriptResource, AppliesTheScriptCarriedByAModule) {
  ASSERT_EQ(registrar.DefineReplacement(Wide("Module").c_str(), widePath_.c_str()), S_OK);
  ASSERT_EQ(registrar.ApplyScriptResource(widePath_.c_str(), 101, Wide("REGISTRY").c_str(), TRUE), S_OK);
  auto value = registry.Value("HKCR\\ResourceKey", "");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->text(), path_);
  ASSERT_EQ(registrar.ApplyScriptResource(widePath_.c_str(), 101, Wide("registry").c_str(), FALSE), S_OK);
  EXPECT_FALSE(registry.HasKey("HKCR\\ResourceKey"));
}

TEST_F(ScriptResource, ScriptFailuresComeBackUnchanged) {
  // No Module pair: the expansion fails.
  EXPECT_EQ(registrar.ApplyScriptResource(widePath_.c_str(), 101, Wide("REGISTRY").c_str(), TRUE), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\ResourceKey"));
}

TEST_F(ScriptResource, MissingModuleOrResourceGivesTheWin32Error) {
  const std::string before = registry.Dump();
  EXPECT_EQ(registrar.ApplyScriptResource(widePath_.c_str(), 102, Wide("REGISTRY").c_str(), TRUE),
            HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(registrar.ApplyScriptResource(widePath_.c_str(), 101, Wide("NOSUCHTYPE").c_str(), TRUE),
            HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND));
  const std::string missingPath = path_ + ".missing";
  HRESULT missing = registrar.ApplyScriptResource(Wide(missingPath).c_str(), 101, Wide("REGISTRY").c_str(), TRUE);
  EXPECT_TRUE(FAILED(missing));
  EXPECT_EQ(HRESULT_FACILITY(missing), FACILITY_WIN32);
  EXPECT_TRUE(HRESULT_CODE(missing) == ERROR_MOD_NOT_FOUND || HRESULT_CODE(missing) == ERROR_FILE_NOT_FOUND ||
              HRESULT_CODE(missing) == ERROR_PATH_NOT_FOUND)
      << std::hex << missing;
  EXPECT_EQ(registry.Dump(), before);
}

}  // namespace
}  // namespace albummaker::testing
