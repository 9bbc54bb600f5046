// Type libraries in the registry: a module's TYPELIB resource loads,
// registers under the keys Windows writes, loads again from the registry and
// unregisters without touching what belongs to others.
#include <gtest/gtest.h>
#include <ole2.h>

#include <string>

#include "owners.h"
#include "registry_scratch.h"
#include "test_server.h"

namespace {

using testserver::kLibidText;

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// The default (or named) string value of HKCR\path, or "<missing>".
std::string Value(const std::string& path, const char* name = nullptr, HKEY root = HKEY_CLASSES_ROOT) {
  am::UniqueHkey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return "<missing>";
  char buf[1024] = "";
  DWORD size = sizeof buf, type = 0;
  LSTATUS st = RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  if (st != ERROR_SUCCESS) return "<no value>";
  return type == REG_SZ ? std::string(buf) : "<type " + std::to_string(type) + ">";
}

bool Exists(const std::string& path) { return Value(path) != "<missing>"; }

// The same below HKCU\Software\Classes.
std::string UserValue(const std::string& path) {
  return Value("Software\\Classes\\" + path, nullptr, HKEY_CURRENT_USER);
}

void SetDefault(const std::string& path, const std::string& value) {
  am::UniqueHkey key;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
      ERROR_SUCCESS);
  RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

class TypeLibRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(scratch_.key(), nullptr);
    ASSERT_EQ(LoadTypeLib(path_.c_str(), &lib_), S_OK);
    ASSERT_NE(lib_, nullptr);
  }

  regtest::ScratchKey scratch_;
  std::u16string path_ = Wide(TEST_SERVER);
  // The tests pass the plain pointer; the owner releases it.
  am::ComPtr<ITypeLib> libOwner_;
  ITypeLib*& lib_ = *libOwner_.put();
};

TEST_F(TypeLibRegistration, WritesTheKeysWindowsWrites) {
  ASSERT_EQ(RegisterTypeLib(lib_, path_.c_str(), u"/help/dir/"), S_OK);
  const std::string version = std::string("TypeLib\\") + kLibidText + "\\1.0";
  EXPECT_EQ(Value(version), "Test Server 1.0 Type Library");
  EXPECT_EQ(Value(version + "\\0\\win32"), TEST_SERVER);
  EXPECT_EQ(Value(version + "\\FLAGS"), "0");
  EXPECT_EQ(Value(version + "\\HELPDIR"), "/help/dir/");

  for (const char* iid : {testserver::kDualIidText, testserver::kAutomationIidText}) {
    const std::string key = std::string("Interface\\") + iid;
    EXPECT_EQ(Value(key + "\\ProxyStubClsid32"), "{00020424-0000-0000-C000-000000000046}") << iid;
    EXPECT_EQ(Value(key + "\\ProxyStubClsid"), "{00020424-0000-0000-C000-000000000046}") << iid;
    EXPECT_EQ(Value(key + "\\TypeLib"), kLibidText) << iid;
    EXPECT_EQ(Value(key + "\\TypeLib", "Version"), "1.0") << iid;
  }
  EXPECT_EQ(Value(std::string("Interface\\") + testserver::kDualIidText), "ITestDual");
  EXPECT_EQ(Value(std::string("Interface\\") + testserver::kAutomationIidText), "ITestValue");
  // An interface that is neither dual nor for automation is not registered.
  EXPECT_FALSE(Exists(std::string("Interface\\") + testserver::kPlainIidText));
}

TEST_F(TypeLibRegistration, LoadRegTypeLibFindsTheRegisteredFile) {
  am::ComPtr<ITypeLib> foundOwner;
  ITypeLib*& found = *foundOwner.put();
  EXPECT_EQ(LoadRegTypeLib(testserver::kLibid, 1, 0, 0, &found), TYPE_E_LIBNOTREGISTERED);
  ASSERT_EQ(RegisterTypeLib(lib_, path_.c_str(), nullptr), S_OK);
  ASSERT_EQ(LoadRegTypeLib(testserver::kLibid, 1, 0, 0, &found), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(found->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, testserver::kLibid));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  found->ReleaseTLibAttr(attr);
  foundOwner.reset();
  // A locale not registered falls back to the neutral one.
  ASSERT_EQ(LoadRegTypeLib(testserver::kLibid, 1, 0, 0x0409, &found), S_OK);
  foundOwner.reset();
  EXPECT_EQ(LoadRegTypeLib(testserver::kLibid, 2, 0, 0, &found), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(LoadRegTypeLib(testserver::kLibid, 1, 1, 0, &found), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(found, nullptr);
}

TEST_F(TypeLibRegistration, UnregisteringRemovesOnlyWhatIsItsOwn) {
  ASSERT_EQ(RegisterTypeLib(lib_, path_.c_str(), nullptr), S_OK);
  // Another version of the library, and an interface that another library
  // has registered since.
  SetDefault(std::string("TypeLib\\") + kLibidText + "\\2.0\\0\\win32", "/elsewhere/other.so");
  SetDefault(std::string("Interface\\") + testserver::kAutomationIidText + "\\TypeLib",
             "{11111111-2222-3333-4444-555555555555}");

  // Through the runtime's stand-in for oleaut32, as self-registration finds it.
  HMODULE oleaut = LoadLibraryA("oleaut32.dll");
  ASSERT_NE(oleaut, nullptr);
  using Unregister = HRESULT (*)(REFGUID, WORD, WORD, LCID, SYSKIND);
  auto unregister = reinterpret_cast<Unregister>(reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLib")));
  ASSERT_NE(unregister, nullptr);
  EXPECT_EQ(unregister(testserver::kLibid, 1, 0, 0, SYS_WIN32), S_OK);
  FreeLibrary(oleaut);

  EXPECT_FALSE(Exists(std::string("TypeLib\\") + kLibidText + "\\1.0"));
  EXPECT_EQ(Value(std::string("TypeLib\\") + kLibidText + "\\2.0\\0\\win32"), "/elsewhere/other.so");
  EXPECT_FALSE(Exists(std::string("Interface\\") + testserver::kDualIidText));
  EXPECT_TRUE(Exists(std::string("Interface\\") + testserver::kAutomationIidText));

  // Once the last version goes, the library's key goes with it.
  SetDefault(std::string("TypeLib\\") + kLibidText + "\\2.0\\0\\win32", TEST_SERVER);
  EXPECT_EQ(UnRegisterTypeLib(testserver::kLibid, 2, 0, 0, SYS_WIN32), S_OK);
  EXPECT_FALSE(Exists(std::string("TypeLib\\") + kLibidText));
  EXPECT_EQ(UnRegisterTypeLib(testserver::kLibid, 2, 0, 0, SYS_WIN32), TYPE_E_REGISTRYACCESS);
}

TEST_F(TypeLibRegistration, ModulesWithoutATypeLibraryDoNotLoad) {
  ITypeLib* other = nullptr;
  EXPECT_EQ(LoadTypeLib(Wide(REGISTRY_WRITER).c_str(), &other), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(u"/nonexistent/module.so", &other), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(RegisterTypeLib(nullptr, path_.c_str(), nullptr), E_INVALIDARG);
  EXPECT_EQ(RegisterTypeLib(lib_, nullptr, nullptr), E_INVALIDARG);
}

TEST_F(TypeLibRegistration, PerUserFormsUseOnlyTheUsersClasses) {
  ASSERT_EQ(RegisterTypeLibForUser(lib_, path_.data(), nullptr), S_OK);
  const std::string version = std::string("TypeLib\\") + kLibidText + "\\1.0";
  EXPECT_EQ(UserValue(version), "Test Server 1.0 Type Library");
  EXPECT_EQ(UserValue(version + "\\0\\win32"), TEST_SERVER);
  EXPECT_EQ(UserValue(std::string("Interface\\") + testserver::kDualIidText + "\\TypeLib"), kLibidText);
  EXPECT_FALSE(Exists(std::string("TypeLib\\") + kLibidText));
  EXPECT_FALSE(Exists(std::string("Interface\\") + testserver::kDualIidText));

  // Found by name, as self-registration finds it.
  HMODULE oleaut = LoadLibraryA("oleaut32.dll");
  ASSERT_NE(oleaut, nullptr);
  using Unregister = HRESULT (*)(REFGUID, WORD, WORD, LCID, SYSKIND);
  auto unregister =
      reinterpret_cast<Unregister>(reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLibForUser")));
  ASSERT_NE(unregister, nullptr);
  // A machine registration beside it stays.
  ASSERT_EQ(RegisterTypeLib(lib_, path_.c_str(), nullptr), S_OK);
  EXPECT_EQ(unregister(testserver::kLibid, 1, 0, 0, SYS_WIN32), S_OK);
  FreeLibrary(oleaut);
  EXPECT_EQ(UserValue(std::string("TypeLib\\") + kLibidText), "<missing>");
  EXPECT_EQ(UserValue(std::string("Interface\\") + testserver::kDualIidText), "<missing>");
  EXPECT_EQ(Value(version + "\\0\\win32"), TEST_SERVER);
  EXPECT_EQ(UnRegisterTypeLibForUser(testserver::kLibid, 1, 0, 0, SYS_WIN32), TYPE_E_REGISTRYACCESS);
  EXPECT_EQ(RegisterTypeLibForUser(lib_, nullptr, nullptr), E_INVALIDARG);
}

}  // namespace
