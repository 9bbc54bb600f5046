// The registration routines in-process, over object maps and modules of the
// test's own: the order and results of the steps, and where the type
// library is taken from.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "class_factory.h"
#include "owners.h"
#include "registration.h"
#include "temp_folder.h"

namespace albummaker {
namespace {

namespace fs = std::filesystem;
using server::ModuleState;
using server::ObjectMapEntry;
using testing::TempFolder;

const CLSID kSomeClsid = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};

// What the registration functions of a map were called with, in order.
std::vector<std::string> g_calls;
HRESULT g_secondResult = S_OK;

HRESULT First(BOOL doRegister) {
  g_calls.push_back(doRegister ? "first+" : "first-");
  return S_OK;
}
HRESULT Second(BOOL doRegister) {
  g_calls.push_back(doRegister ? "second+" : "second-");
  return g_secondResult;
}
HRESULT Third(BOOL doRegister) {
  g_calls.push_back(doRegister ? "third+" : "third-");
  return S_OK;
}
HRESULT Described(BOOL) {
  g_calls.push_back("described");
  return S_OK;
}
const OLECHAR* SomeDescription() { return reinterpret_cast<const OLECHAR*>(u"Described class"); }
const OLECHAR* NoDescription() { return nullptr; }

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    g_secondResult = S_OK;
    store_ = dir_ / "registry.reg";
    ASSERT_EQ(setenv("ALBUMMAKER_REGISTRY", store_.c_str(), 1), 0);
    state_.module = nullptr;
    state_.objectMap = map_;
  }
  void TearDown() override { unsetenv("ALBUMMAKER_REGISTRY"); }

  // Three taking part, one skipped for its description, the end row.
  ObjectMapEntry map_[5] = {
      {&kSomeClsid, &First, nullptr, nullptr, {nullptr}, &NoDescription, nullptr, nullptr},
      {&kSomeClsid, &Described, nullptr, nullptr, {nullptr}, &SomeDescription, nullptr, nullptr},
      {&kSomeClsid, &Second, nullptr, nullptr, {nullptr}, nullptr, nullptr, nullptr},
      {&kSomeClsid, &Third, nullptr, nullptr, {nullptr}, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, {nullptr}, nullptr, nullptr, nullptr},
  };
  ModuleState state_{};
  TempFolder dir_;
  fs::path store_;
};

TEST_F(Registration, RegistersEveryEntryWithoutDescriptionInOrder) {
  EXPECT_EQ(server::RegisterModule(state_, false), S_OK);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"first+", "second+", "third+"}));
}

TEST_F(Registration, FirstFailureStopsRegistration) {
  g_secondResult = E_ACCESSDENIED;
  // The type library would be registered after the entries: it is not
  // reached, so the module-less state does not matter.
  EXPECT_EQ(server::RegisterModule(state_, true), E_ACCESSDENIED);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"first+", "second+"}));
}

TEST_F(Registration, UnregistrationVisitsAllAndAlwaysSucceeds) {
  g_secondResult = E_ACCESSDENIED;
  EXPECT_EQ(server::UnregisterModule(state_, false), S_OK);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"first-", "second-", "third-"}));
  // A type library that cannot be found is no failure either.
  g_calls.clear();
  EXPECT_EQ(server::UnregisterModule(state_, true), S_OK);
  EXPECT_EQ(g_calls.size(), 3u);
}

// A module without a type library of its own, loaded from `folder`.
class LoadedCopy {
 public:
  explicit LoadedCopy(const fs::path& path) : path_(path) {
    fs::create_directories(path.parent_path());
    fs::copy_file(AM_NO_ENTRY_MODULE, path);
    module_ = LoadLibraryA(path.c_str());
  }
  ~LoadedCopy() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  LoadedCopy(const LoadedCopy&) = delete;
  LoadedCopy& operator=(const LoadedCopy&) = delete;
  HMODULE Get() const { return module_; }

 private:
  fs::path path_;
  HMODULE module_ = nullptr;
};

// The default value of a key under HKEY_CLASSES_ROOT, or "<none>".
std::string DefaultValue(const std::string& path) {
  am::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return "<none>";
  char value[1024] = {};
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  return status == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "<none>";
}

std::string Narrow(BSTR text) { return std::string(text, text + SysStringLen(text)); }

TEST_F(Registration, TypeLibraryFromTheModuleItself) {
  state_.module = LoadLibraryA(AM_TEST_MODULE);
  ASSERT_NE(state_.module, nullptr);
  // The outputs land in the owners' own slots.
  am::ComPtr<ITypeLib> libraryOwner;
  ITypeLib*& library = *libraryOwner.put();
  am::UniqueBstr pathOwner;
  BSTR& path = *pathOwner.put();
  ASSERT_EQ(server::LoadModuleTypeLibrary(state_, &library, &path), S_OK);
  EXPECT_EQ(Narrow(path), fs::path(AM_TEST_MODULE).string());
  libraryOwner.reset();
  pathOwner.reset();
  FreeLibrary(static_cast<HMODULE>(state_.module));
}

TEST_F(Registration, TypeLibraryFromTheTlbBesideTheModule) {
  // The folder's dot must not be taken for the extension's.
  const fs::path folder = dir_ / "lib.d";
  LoadedCopy copy(folder / "plugin.so");
  ASSERT_NE(copy.Get(), nullptr);
  state_.module = copy.Get();
  // The outputs land in the owners' own slots.
  am::ComPtr<ITypeLib> libraryOwner;
  ITypeLib*& library = *libraryOwner.put();
  am::UniqueBstr pathOwner;
  BSTR& path = *pathOwner.put();
  EXPECT_TRUE(FAILED(server::LoadModuleTypeLibrary(state_, &library, &path)));
  EXPECT_EQ(library, nullptr);
  EXPECT_EQ(path, nullptr);
  EXPECT_TRUE(FAILED(server::RegisterModuleTypeLibrary(state_)));

  fs::copy_file(AM_TYPEDESC, dir_ / "lib.tlb");  // the wrong place
  EXPECT_TRUE(FAILED(server::LoadModuleTypeLibrary(state_, &library, &path)));
  fs::copy_file(AM_TYPEDESC, folder / "plugin.tlb");
  ASSERT_EQ(server::LoadModuleTypeLibrary(state_, &library, &path), S_OK);
  EXPECT_EQ(Narrow(path), (folder / "plugin.tlb").string());
  libraryOwner.reset();
  pathOwner.reset();

  // Registered from there, with its folder as the help folder.
  ASSERT_EQ(server::RegisterModuleTypeLibrary(state_), S_OK);
  const std::string base = "TypeLib\\{B4AF5139-BD8D-402B-939D-65FC70002BA6}\\1.0";
  EXPECT_EQ(DefaultValue(base + "\\0\\win32"), (folder / "plugin.tlb").string());
  EXPECT_EQ(DefaultValue(base + "\\HELPDIR"), folder.string() + "/");

  // And unregistered again through the function looked up at run time.
  EXPECT_EQ(server::UnregisterModuleTypeLibrary(state_), S_OK);
  am::UniqueHkey keyOwner;
  HKEY& key = *keyOwner.put();
  EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, base.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST_F(Registration, ModulePathIsTheLoadedFile) {
  LoadedCopy copy(dir_ / "it's" / "plugin.so");
  ASSERT_NE(copy.Get(), nullptr);
  std::string path;
  ASSERT_EQ(server::ModuleFilePath(copy.Get(), path), S_OK);
  EXPECT_EQ(path, (dir_ / "it's" / "plugin.so").string());
}

}  // namespace
}  // namespace albummaker
