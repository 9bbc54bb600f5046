// albummaker.dll as a host sees it: loaded with LoadLibrary, objects from its
// class factory, dispatch through the system's type information, error
// information and the free-threaded marshaler.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "album_maker_interface.h"
#include "com_util.h"
#include "server_test_support.h"

namespace albummaker::server::testing {
namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

class ModuleDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(L"albummaker.dll");
    ASSERT_NE(module_, nullptr) << "LoadLibrary failed: " << GetLastError();
    getClassObject_ =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ =
        reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_NE(canUnloadNow_, nullptr);
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(module_, path, MAX_PATH), 0u);
    path_ = path;
  }
  void TearDown() override {
    if (canUnloadNow_ != nullptr) {
      EXPECT_EQ(canUnloadNow_(), S_OK) << "the test left the module locked";
    }
    if (module_ != nullptr) FreeLibrary(module_);
  }

  HRESULT Create(IAlbumMaker** out) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject_(kClsidAlbumMaker, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, kIidAlbumMaker, reinterpret_cast<void**>(out));
  }

  HRESULT RegisterDllTypeLibrary() {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLib(path_.c_str(), library.put());
    if (FAILED(hr)) return hr;
    return RegisterTypeLib(library.get(), const_cast<LPOLESTR>(path_.c_str()), nullptr);
  }

  HMODULE module_ = nullptr;
  GetClassObjectFn getClassObject_ = nullptr;
  CanUnloadNowFn canUnloadNow_ = nullptr;
  std::wstring path_;
};

TEST_F(ModuleDllTest, ExportsTheFiveEntryPointsAndCountsLocks) {
  EXPECT_NE(GetProcAddress(module_, "DllRegisterServer"), nullptr);
  EXPECT_NE(GetProcAddress(module_, "DllUnregisterServer"), nullptr);
  EXPECT_NE(GetProcAddress(module_, "DllInstall"), nullptr);
  EXPECT_EQ(canUnloadNow_(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject_(kClsidAlbumMaker, IID_IClassFactory, factory.put_void()), S_OK);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(factory->CreateInstance(nullptr, kIidAlbumMaker, maker.put_void()), S_OK);
  factory.reset();
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  maker.reset();
  EXPECT_EQ(canUnloadNow_(), S_OK);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject_(kIidAlbumMaker, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ModuleDllTest, RendersAndReportsEngineErrorsThroughTheThreadErrorInformation) {
  Album album{"a.jpg", "b.jpg", "c.jpg"};
  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(Create(maker.put()), S_OK);
  UniqueVariant folder = TextVariant(album.Folder()), templ = TextVariant(album.Template());
  UniqueBstr page;
  ASSERT_EQ(maker->getAlbumPage(*TextVariant(u"2"), *folder, *templ, page.put()), S_OK);
  EXPECT_EQ(FromBstr(page.get()), ExpectedPage(u"c.jpg", 3, 3));

  UniqueBstr huge(MakeBstr(MakeHugeTemplate(album.dir.Path()).u16string()));
  ASSERT_EQ(maker->put_PageTemplatePath(huge.get()), S_OK);
  UniqueVariant none1 = NullVariant(), none2 = NullVariant();
  EXPECT_EQ(maker->getAlbumPage(*UniqueVariant(), *none1, *none2, page.put()), DISP_E_EXCEPTION);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  ASSERT_TRUE(info);
  UniqueBstr description;
  ASSERT_EQ(info->GetDescription(description.put()), S_OK);
  EXPECT_EQ(FromBstr(description.get()), kHugeTemplateMessage);
  GUID guid;
  ASSERT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_TRUE(SameGuid(guid, GUID_NULL));
}

TEST_F(ModuleDllTest, InvokeThroughTheSystemTypeInformation) {
  ASSERT_EQ(RegisterDllTypeLibrary(), S_OK);
  Album album{"x.jpg", "y.jpg"};
  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(Create(maker.put()), S_OK);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(maker->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);

  LPOLESTR names[] = {const_cast<LPOLESTR>(L"getalbumpage")};
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, 3);

  // A by-reference variant, as a script passes its variables.
  UniqueVariant selector = TextVariant(u"y.jpg");
  VARIANT byRef;
  VariantInit(&byRef);
  V_VT(&byRef) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&byRef) = selector.get();
  UniqueVariant folder = TextVariant(album.Folder()), templ = TextVariant(album.Template());
  VARIANT args[3] = {*templ, *folder, byRef};
  DISPPARAMS params{args, nullptr, 3, 0};
  UniqueVariant result;
  ASSERT_EQ(dispatch->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                             result.get(), nullptr, nullptr),
            S_OK);
  ASSERT_EQ(V_VT(result.get()), VT_BSTR);
  EXPECT_EQ(FromBstr(V_BSTR(result.get())), ExpectedPage(u"y.jpg", 2, 2));

  // An engine error arrives in the exception information.
  UniqueVariant huge = TextVariant(MakeHugeTemplate(album.dir.Path()).u16string());
  VARIANT failing[3] = {*huge, *folder, byRef};
  DISPPARAMS failingParams{failing, nullptr, 3, 0};
  am::UniqueExcepInfo exception;
  UniqueVariant nothing;
  EXPECT_EQ(dispatch->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &failingParams, nothing.get(),
                             exception.put(), nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(FromBstr(exception->bstrDescription), kHugeTemplateMessage);
}

TEST_F(ModuleDllTest, FreeThreadedMarshalerPassesTheRawPointerBetweenApartments) {
  ComPtr<IAlbumMaker> original;
  IStream* stream = nullptr;
  ComPtr<IAlbumMaker> received;
  std::thread owner([&] {
    const am::Apartment apartment(COINIT_APARTMENTTHREADED);
    if (Create(original.put()) == S_OK) {
      ComPtr<IMarshal> marshal;
      EXPECT_EQ(original->QueryInterface(IID_IMarshal, marshal.put_void()), S_OK);
      EXPECT_TRUE(marshal);
      EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(kIidAlbumMaker, original.get(), &stream), S_OK);
    }
  });
  owner.join();
  ASSERT_NE(original.get(), nullptr);
  ASSERT_NE(stream, nullptr);
  std::thread other([&] {
    const am::Apartment apartment(COINIT_APARTMENTTHREADED);
    EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, kIidAlbumMaker, received.put_void()), S_OK);
  });
  other.join();
  EXPECT_EQ(received.get(), original.get());
}

}  // namespace
}  // namespace albummaker::server::testing
