// Modules and resources: loading a module runs its entry point with a handle
// that names the module; a data-file load reads only its resources.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "registry_test_env.h"
#include "test_server.h"

namespace {

template <class Fn>
Fn Export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::string Resource(HMODULE module, LPCSTR name, LPCSTR type) {
  HRSRC found = FindResourceA(module, name, type);
  if (found == nullptr) return "<error " + std::to_string(GetLastError()) + ">";
  HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr) return "<no data>";
  return std::string(static_cast<const char*>(bytes), SizeofResource(module, found));
}

const std::string kDataDir = TEST_DATA_DIR;

TEST(Modules, LoadingRunsTheEntryPointWithTheModulesOwnHandle) {
  HMODULE module = LoadLibraryA(TEST_SERVER);
  ASSERT_NE(module, nullptr) << GetLastError();
  auto instance = Export<testserver::InstanceFn>(module, "TestServerInstance");
  auto attachPath = Export<testserver::AttachPathFn>(module, "TestServerAttachPath");
  auto attachResource = Export<testserver::AttachResourceSizeFn>(module, "TestServerAttachResourceSize");
  ASSERT_NE(instance, nullptr);
  ASSERT_NE(attachPath, nullptr);
  ASSERT_NE(attachResource, nullptr);
  EXPECT_EQ(instance(), module);
  // Inside its entry point the module found its own file and resources.
  EXPECT_EQ(std::string(attachPath()), std::filesystem::canonical(TEST_SERVER).string());
  EXPECT_EQ(attachResource(), static_cast<long>(std::filesystem::file_size(kDataDir + "/test_server.rgs")));
  char path[4096];
  DWORD length = GetModuleFileNameA(module, path, sizeof path);
  EXPECT_EQ(std::string(path, length), std::string(attachPath()));
  EXPECT_EQ(Resource(module, MAKEINTRESOURCEA(101), "REGISTRY"), regtest::ReadFile(kDataDir + "/test_server.rgs"));
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(Modules, TheLastFreeLibraryUnloadsAndDetaches) {
  HMODULE first = LoadLibraryA(TEST_SERVER);
  HMODULE second = LoadLibraryA(TEST_SERVER);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  int detached = 0;
  Export<testserver::SetDetachFlagFn>(first, "TestServerSetDetachFlag")(&detached);
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(detached, 0);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(detached, 1);
  EXPECT_EQ(dlopen(TEST_SERVER, RTLD_NOW | RTLD_NOLOAD), nullptr);
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Modules, ModuleFileNamesTruncateAsWindowsDoes) {
  HMODULE module = LoadLibraryA(TEST_SERVER);
  ASSERT_NE(module, nullptr);
  const std::string full = std::filesystem::canonical(TEST_SERVER).string();
  char buf[4096];
  std::memset(buf, 'x', sizeof buf);
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(module, buf, 5), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(buf), full.substr(0, 4));
  // Room for the text but not its terminating zero is still too small.
  const DWORD exact = static_cast<DWORD>(full.size());
  EXPECT_EQ(GetModuleFileNameA(module, buf, exact), exact);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(GetModuleFileNameA(module, buf, exact + 1), exact);
  EXPECT_EQ(std::string(buf), full);
  FreeLibrary(module);

  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self);
  ASSERT_GT(n, 0);
  DWORD length = GetModuleFileNameA(nullptr, buf, sizeof buf);
  EXPECT_EQ(std::string(buf, length), std::string(self, static_cast<size_t>(n)));

  int local = 0;
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&local), buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, GetProcAddressFindsOnlyTheModulesOwnExports) {
  HMODULE module = LoadLibraryA(TEST_SERVER);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(GetProcAddress(module, "DllGetClassObject"), nullptr);
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  // Found through the module's dependencies, but not exported by it.
  EXPECT_EQ(GetProcAddress(module, "malloc"), nullptr);
  EXPECT_EQ(GetProcAddress(module, "RegOpenKeyExA"), nullptr);
  FreeLibrary(module);
}

TEST(Modules, PlatformLibraryNamesLoadTheRuntime) {
  HMODULE oleaut = LoadLibraryA("OLEAUT32.DLL");
  ASSERT_NE(oleaut, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLib")),
            reinterpret_cast<void*>(&UnRegisterTypeLib));
  EXPECT_TRUE(FreeLibrary(oleaut));
}

TEST(Modules, LoadFailuresCarryWin32Errors) {
  EXPECT_EQ(LoadLibraryA("/nonexistent/module.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  const std::string notAModule = kDataDir + "/test_server.rgs";
  EXPECT_EQ(LoadLibraryA(notAModule.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_EQ(LoadLibraryExA("/nonexistent/module.so", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(LoadLibraryExA(notAModule.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
}

TEST(Resources, ADataFileLoadReadsResourcesWithoutRunningTheModule) {
  ASSERT_EQ(dlopen(TEST_SERVER, RTLD_NOW | RTLD_NOLOAD), nullptr) << "loaded before the test";
  HMODULE module = LoadLibraryExA(TEST_SERVER, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(dlopen(TEST_SERVER, RTLD_NOW | RTLD_NOLOAD), nullptr);
  const std::string script = regtest::ReadFile(kDataDir + "/test_server.rgs");
  EXPECT_EQ(Resource(module, MAKEINTRESOURCEA(101), "REGISTRY"), script);
  EXPECT_EQ(Resource(module, MAKEINTRESOURCEA(101), "registry"), script);
  EXPECT_EQ(Resource(module, "#101", "REGISTRY"), script);
  const std::string data = regtest::ReadFile(kDataDir + "/test_data.bin");
  EXPECT_EQ(Resource(module, MAKEINTRESOURCEA(7), MAKEINTRESOURCEA(10)), data);
  EXPECT_EQ(Resource(module, MAKEINTRESOURCEA(7), "#10"), data);
  EXPECT_EQ(Resource(module, MAKEINTRESOURCEA(1), "TYPELIB"), regtest::ReadFile(kDataDir + "/test_server.typedesc"));

  EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(102), "REGISTRY"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(101), "NOTHING"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(module, "DllGetClassObject"), nullptr);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(FreeLibrary(module));
}

TEST(Resources, AModuleWithoutResourcesSaysSo) {
  HMODULE module = LoadLibraryExA(REGISTRY_WRITER, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(101), "REGISTRY"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  FreeLibrary(module);
}

TEST(Resources, DamagedFilesAreRefusedNotTrusted) {
  const std::string original = regtest::ReadFile(TEST_SERVER);
  const regtest::TempFolder folder;
  const std::string dir = folder.Path().string();
  ASSERT_FALSE(dir.empty());
  const size_t table = original.find("AMRSRC01");
  ASSERT_NE(table, std::string::npos);

  // An entry count far beyond the table, a size beyond the section, a cut file.
  std::string badCount = original;
  badCount[table + 8] = '\xff';
  badCount[table + 9] = '\xff';
  std::string badSize = original;
  badSize[table + 15] = '\x7f';
  std::string cut = original.substr(0, 200);
  for (const std::string& damaged : {badCount, badSize, cut}) {
    const std::string path = dir + "/damaged.so";
    regtest::WriteFile(path, damaged);
    EXPECT_EQ(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  }
}

}  // namespace
