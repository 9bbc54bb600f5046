// libalbummaker.so as a Linux host sees it: loaded through the runtime's
// LoadLibraryA, its five entry points, an object from its class factory, and
// the type library it carries as its TYPELIB resource serving IDispatch.
#include "server_test_support.h"

namespace albummaker::server::testing {
namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using NoArgumentFn = HRESULT (*)();

class ModuleSoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(AM_TEST_MODULE);
    ASSERT_NE(module_, nullptr) << "cannot load " << AM_TEST_MODULE;
    getClassObject_ =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<NoArgumentFn>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_NE(canUnloadNow_, nullptr);
  }
  void TearDown() override {
    if (canUnloadNow_ != nullptr) {
      EXPECT_EQ(canUnloadNow_(), S_OK);
    }
    if (module_ != nullptr) FreeLibrary(module_);
  }

  HRESULT Create(IAlbumMaker** out) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject_(kClsidAlbumMaker, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, kIidAlbumMaker, reinterpret_cast<void**>(out));
  }

  HMODULE module_ = nullptr;
  GetClassObjectFn getClassObject_ = nullptr;
  NoArgumentFn canUnloadNow_ = nullptr;
};

TEST_F(ModuleSoTest, ExportsTheEntryPointsAndRenders) {
  EXPECT_NE(GetProcAddress(module_, "DllRegisterServer"), nullptr);
  EXPECT_NE(GetProcAddress(module_, "DllUnregisterServer"), nullptr);
  EXPECT_NE(GetProcAddress(module_, "DllInstall"), nullptr);
  // Nothing else of the component leaves the module.
  EXPECT_EQ(GetProcAddress(module_, "DllMain"), nullptr);
  EXPECT_EQ(canUnloadNow_(), S_OK);
  Album album{"a.jpg", "b.jpg"};
  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(Create(maker.put()), S_OK);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  UniqueVariant folder = TextVariant(album.Folder()), templ = TextVariant(album.Template());
  UniqueBstr page;
  ASSERT_EQ(maker->getAlbumPage(*TextVariant(u"b.jpg"), *folder, *templ, page.put()), S_OK);
  EXPECT_EQ(FromBstr(page.get()), ExpectedPage(u"b.jpg", 2, 2));
}

TEST_F(ModuleSoTest, CarriedTypeLibraryServesDispatch) {
  const std::u16string path = std::filesystem::path(AM_TEST_MODULE).u16string();
  ComPtr<ITypeLib> library;
  ASSERT_EQ(LoadTypeLib(AsOle(path.c_str()), library.put()), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(SameGuid(attr->guid, kLibidQuorrel));
  library->ReleaseTLibAttr(attr);
  ASSERT_EQ(RegisterTypeLib(library.get(), const_cast<LPOLESTR>(AsOle(path.c_str())), nullptr), S_OK);

  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(Create(maker.put()), S_OK);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(maker->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
  LPOLESTR names[] = {const_cast<LPOLESTR>(AsOle(u"PageTemplatePath"))};
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 2);
  UniqueVariant value = TextVariant(u"page.html");
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{value.get(), &named, 1, 1};
  ASSERT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(GetTemplate(maker.get()), u"page.html");
}

}  // namespace
}  // namespace albummaker::server::testing
