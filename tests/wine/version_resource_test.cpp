// The version resource of the shipped images, read back the way Windows
// itself and installers read it: GetFileVersionInfoW and VerQueryValueW.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The images sit beside the test executable in the build tree.
std::wstring BesideThisProgram(const wchar_t* name) {
  std::vector<wchar_t> path(MAX_PATH * 4);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  std::wstring folder(path.data(), length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1) + name;
}

std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }

class VersionResource : public testing::TestWithParam<const wchar_t*> {
 protected:
  void SetUp() override {
    const std::wstring path = BesideThisProgram(GetParam());
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(size, 0u) << "no version resource, error " << GetLastError();
    data_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data_.data())) << GetLastError();
  }

  std::wstring String(const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(data_.data(), query.c_str(), &value, &length) || length == 0) return L"<missing>";
    return std::wstring(static_cast<const wchar_t*>(value));
  }

  std::vector<BYTE> data_;
};

TEST_P(VersionResource, NamesTheProductTheFileAndTheBuildVersion) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD ms = (AM_EXPECT_VERSION_MAJOR << 16) | AM_EXPECT_VERSION_MINOR;
  const DWORD ls = AM_EXPECT_VERSION_PATCH << 16;
  EXPECT_EQ(fixed->dwFileVersionMS, ms);
  EXPECT_EQ(fixed->dwFileVersionLS, ls);
  EXPECT_EQ(fixed->dwProductVersionMS, ms);
  EXPECT_EQ(fixed->dwProductVersionLS, ls);

  EXPECT_EQ(String(L"ProductName"), L"albummaker");
  EXPECT_EQ(String(L"FileVersion"), Widen(AM_EXPECT_VERSION_STRING));
  EXPECT_EQ(String(L"ProductVersion"), Widen(AM_EXPECT_VERSION_STRING));
  EXPECT_EQ(String(L"OriginalFilename"), GetParam());
  EXPECT_NE(String(L"FileDescription"), L"<missing>");
}

INSTANTIATE_TEST_SUITE_P(Images, VersionResource, testing::Values(L"albummaker.dll", L"albummaker.exe"));

}  // namespace
