// IDispatch served from the registered type library, and the type
// information cache's load, retry and clean-up registration.
#include "server_test_support.h"

namespace albummaker::server::testing {
namespace {

std::u16string TypeLibraryPath() {
#ifdef _WIN32
  // The build names it as a Unix path; Wine sees the Unix root as Z:.
  std::u16string path = u"Z:" + std::filesystem::path(AM_TEST_TYPELIB).u16string();
  for (auto& c : path) {
    if (c == u'/') c = u'\\';
  }
  return path;
#else
  return std::filesystem::path(AM_TEST_TYPELIB).u16string();
#endif
}

HRESULT RegisterTypeLibrary() {
  const std::u16string path = TypeLibraryPath();
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadTypeLib(AsOle(path.c_str()), library.put());
  if (FAILED(hr)) return hr;
  return RegisterTypeLib(library.get(), const_cast<LPOLESTR>(AsOle(path.c_str())), nullptr);
}

// A library is registered under the platform key of the process that
// registers it: win64 in a 64-bit Windows process, win32 in a 32-bit one and
// in the Linux runtime.
#if defined(_WIN64)
constexpr SYSKIND kProcessSysKind = SYS_WIN64;
#else
constexpr SYSKIND kProcessSysKind = SYS_WIN32;
#endif

void UnregisterTypeLibrary() { UnRegisterTypeLib(kLibidQuorrel, 1, 0, 0, kProcessSysKind); }

// Restarts the module, which empties the type information cache.
void RestartModule() {
  ModuleTerm();
  ModuleInit(AlbumObjectMap(), nullptr);
}

class DispatchTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_EQ(RegisterTypeLibrary(), S_OK);
    ASSERT_EQ(CreateMaker(maker_.put()), S_OK);
    ASSERT_EQ(maker_->QueryInterface(IID_IDispatch, dispatch_.put_void()), S_OK);
  }
  void TearDown() override {
    dispatch_.reset();
    maker_.reset();
    ServerTest::TearDown();
  }

  DISPID IdOf(const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(AsOle(name))};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << "name lookup failed";
    return id;
  }

  HRESULT PutFolder(const std::u16string& text) {
    UniqueVariant value = TextVariant(text);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{value.get(), &named, 1, 1};
    return dispatch_->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
  }

  ComPtr<IAlbumMaker> maker_;
  ComPtr<IDispatch> dispatch_;
};

TEST_F(DispatchTest, NamesResolveExactlyFromTheCacheAndOtherwiseThroughTheTypeInfo) {
  EXPECT_EQ(IdOf(u"FolderPath"), 1);
  EXPECT_EQ(IdOf(u"PageTemplatePath"), 2);
  EXPECT_EQ(IdOf(u"getAlbumPage"), 3);
  EXPECT_EQ(IdOf(u"folderpath"), 1);
  EXPECT_EQ(IdOf(u"GETALBUMPAGE"), 3);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(AsOle(u"NoSuchMember"))};
  DISPID id = 0;
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
  // A member with its parameter names.
  LPOLESTR withParams[] = {const_cast<LPOLESTR>(AsOle(u"getAlbumPage")),
                           const_cast<LPOLESTR>(AsOle(u"PageTemplatePath"))};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, withParams, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 3);
  EXPECT_EQ(ids[1], 2);  // the parameter's position
}

TEST_F(DispatchTest, EveryIndexYieldsTheInterfaceTypeInfo) {
  ComPtr<ITypeInfo> first, fifth;
  ASSERT_EQ(dispatch_->GetTypeInfo(0, 0, first.put()), S_OK);
  ASSERT_EQ(dispatch_->GetTypeInfo(5, 0, fifth.put()), S_OK);
  EXPECT_EQ(first.get(), fifth.get());
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(first->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(SameGuid(attr->guid, kIidAlbumMaker));
  first->ReleaseTypeAttr(attr);
}

TEST_F(DispatchTest, InvokeReachesTheSlots) {
  ASSERT_EQ(PutFolder(u"C:\\album"), S_OK);
  EXPECT_EQ(GetFolder(maker_.get()), u"C:\\album");

  UniqueVariant result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(
      dispatch_->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, result.get(), nullptr, nullptr),
      S_OK);
  ASSERT_EQ(V_VT(result.get()), VT_BSTR);
  EXPECT_EQ(FromBstr(V_BSTR(result.get())), u"C:\\album");

  Album album{"one.jpg", "two.jpg", "three.jpg"};
  // Arguments in reverse order: template, folder, selector.
  UniqueVariant args[3] = {TextVariant(album.Template()), TextVariant(album.Folder()), TextVariant(u"1")};
  VARIANT raw[3] = {*args[0], *args[1], *args[2]};
  DISPPARAMS params{raw, nullptr, 3, 0};
  UniqueVariant page;
  ASSERT_EQ(dispatch_->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, page.get(), nullptr, nullptr), S_OK);
  ASSERT_EQ(V_VT(page.get()), VT_BSTR);
  // Sorted: one, three, two; "1" selects by position.
  EXPECT_EQ(FromBstr(V_BSTR(page.get())), ExpectedPage(u"three.jpg", 2, 3));
  EXPECT_EQ(GetTemplate(maker_.get()), album.Template());

  // All three arguments are required.
  DISPPARAMS two{raw, nullptr, 2, 0};
  UniqueVariant nothing;
  EXPECT_EQ(dispatch_->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &two, nothing.get(), nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
}

TEST_F(DispatchTest, EngineErrorFillsTheExceptionInformation) {
  Album album{"a.jpg"};
  const std::u16string huge = MakeHugeTemplate(album.dir.Path()).u16string();
  UniqueVariant args[3] = {TextVariant(huge), TextVariant(album.Folder()), UniqueVariant()};
  VARIANT raw[3] = {*args[0], *args[1], *args[2]};
  DISPPARAMS params{raw, nullptr, 3, 0};
  UniqueVariant page;
  am::UniqueExcepInfo exception;
  const HRESULT hr = dispatch_->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, page.get(), exception.put(), nullptr);
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  EXPECT_EQ(FromBstr(exception->bstrDescription), kHugeTemplateMessage);
}

TEST_F(DispatchTest, UnregisteredLibraryFailsDispatchButNotSlotsAndRegistersOneCleanup) {
  dispatch_.reset();
  maker_.reset();
  UnregisterTypeLibrary();
  RestartModule();
  ASSERT_EQ(CreateMaker(maker_.put()), S_OK);
  ASSERT_EQ(maker_->QueryInterface(IID_IDispatch, dispatch_.put_void()), S_OK);

  for (int i = 0; i < 5; ++i) {
    const HRESULT hr = PutFolder(u"X");
    EXPECT_TRUE(FAILED(hr));
    ComPtr<ITypeInfo> info;
    EXPECT_TRUE(FAILED(dispatch_->GetTypeInfo(0, 0, info.put())));
    EXPECT_EQ(info.get(), nullptr);
  }
  // Failed loads register nothing to clean up.
  EXPECT_EQ(CleanupCount(Module()), 0);
  UniqueBstr viaSlot(MakeBstr(u"Y"));
  EXPECT_EQ(maker_->put_FolderPath(viaSlot.get()), S_OK);
  EXPECT_EQ(GetFolder(maker_.get()), u"Y");

  ASSERT_EQ(RegisterTypeLibrary(), S_OK);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(PutFolder(u"Z"), S_OK);
  EXPECT_EQ(GetFolder(maker_.get()), u"Z");
  EXPECT_EQ(CleanupCount(Module()), 1);
}

}  // namespace
}  // namespace albummaker::server::testing
