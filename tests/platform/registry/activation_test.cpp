// Activation through the registry: a ProgID leads to the class, the class to
// its InprocServer32 module, the module to its class object.
#include <gtest/gtest.h>
#include <ole2.h>

#include <cstring>
#include <string>
#include <thread>

#include "owners.h"
#include "registry_scratch.h"
#include "test_server.h"

namespace {

const char* kClsidText = "{6E1B8A52-3C4D-4F5E-9A0B-1C2D3E4F5A6B}";

void SetDefault(const std::string& path, const std::string& value) {
  am::UniqueHkey key;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
      ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
}

std::string RuntimePath() {
  HMODULE runtime = LoadLibraryA("ole32.dll");
  char path[4096] = "";
  GetModuleFileNameA(runtime, path, sizeof path);
  FreeLibrary(runtime);
  return path;
}

class Activation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(scratch_.key(), nullptr);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  }
  void TearDown() override { CoUninitialize(); }

  void Register(const std::string& server) {
    SetDefault("Test.Server.1\\CLSID", kClsidText);
    SetDefault(std::string("CLSID\\") + kClsidText, "TestServer Class");
    SetDefault(std::string("CLSID\\") + kClsidText + "\\ProgID", "Test.Server.1");
    SetDefault(std::string("CLSID\\") + kClsidText + "\\InprocServer32", server);
  }

  regtest::ScratchKey scratch_;  // gives the test a private registry file
};

TEST_F(Activation, AProgIdCreatesTheRegisteredClass) {
  Register(TEST_SERVER);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"test.server.1", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, testserver::kClsid));
  am::UniqueTaskMemory<OLECHAR> progId;
  ASSERT_EQ(ProgIDFromCLSID(clsid, progId.put()), S_OK);
  EXPECT_EQ(std::u16string(progId.get()), u"Test.Server.1");

  testserver::ITestValue* value = nullptr;
  ASSERT_EQ(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, testserver::kIidValue, reinterpret_cast<void**>(&value)),
      S_OK);
  ASSERT_NE(value, nullptr);
  LONG n = 0;
  EXPECT_EQ(value->GetValue(&n), S_OK);
  EXPECT_EQ(n, 42);
  EXPECT_EQ(value->Release(), 0u);

  am::ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_ALL, nullptr, IID_IClassFactory, factory.put_void()), S_OK);
  IUnknown* outer = factory.get();  // any object will do as a would-be outer
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
}

TEST_F(Activation, MissingRegistrationsGiveTheWindowsCodes) {
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.Thing", &clsid), CO_E_CLASSSTRING);
  LPOLESTR progId = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(ProgIDFromCLSID(testserver::kClsid, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(testserver::kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);
  // A ProgID whose CLSID is not a GUID.
  SetDefault("Broken.Thing\\CLSID", "not a guid");
  EXPECT_EQ(CLSIDFromProgID(u"Broken.Thing", &clsid), CO_E_CLASSSTRING);
}

TEST_F(Activation, ServerModulesThatCannotServeAreReported) {
  Register("/nonexistent/server.so");
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(testserver::kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), CO_E_DLLNOTFOUND);
  // A real module without DllGetClassObject.
  Register(RuntimePath());
  EXPECT_EQ(CoCreateInstance(testserver::kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), CO_E_ERRORINDLL);
  // Only in-process servers exist.
  Register(TEST_SERVER);
  EXPECT_EQ(CoCreateInstance(testserver::kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &out),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(testserver::kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
}

TEST(ComInitialisation, CountsPerThreadAndRefusesAModelChange) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    // Fully uninitialised: a new model is accepted.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(reinterpret_cast<void*>(1), COINIT_MULTITHREADED), E_INVALIDARG);
  }).join();
}

TEST(ComInitialisation, ActivationNeedsAnInitialisedThreadOrAMultithreadedProcess) {
  regtest::ScratchKey scratch;
  void* out = reinterpret_cast<void*>(1);
  std::thread([&] {
    EXPECT_EQ(CoGetClassObject(testserver::kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &out),
              CO_E_NOTINITIALIZED);
  }).join();
  EXPECT_EQ(out, nullptr);
  // Another thread in the multithreaded apartment lets uninitialised threads in.
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  std::thread([&] {
    EXPECT_EQ(CoGetClassObject(testserver::kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &out),
              REGDB_E_CLASSNOTREG);
  }).join();
  CoUninitialize();
}

}  // namespace
