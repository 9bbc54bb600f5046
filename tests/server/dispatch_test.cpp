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
  ComRef<ITypeLib> library;
  HRESULT hr = LoadTypeLib(AsOle(path.c_str()), library.Put());
  if (FAILED(hr)) return hr;
  return RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(AsOle(path.c_str())), nullptr);
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
    ASSERT_EQ(CreateMaker(maker_.Put()), S_OK);
    ASSERT_EQ(maker_->QueryInterface(IID_IDispatch, dispatch_.PutVoid()), S_OK);
  }
  void TearDown() override {
    dispatch_.Reset();
    maker_.Reset();
    ServerTest::TearDown();
  }

  DISPID IdOf(const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(AsOle(name))};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << "name lookup failed";
    return id;
  }

  HRESULT PutFolder(const std::u16string& text) {
    Var value = Var::Text(text);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{value.Ptr(), &named, 1, 1};
    return dispatch_->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
  }

  ComRef<IAlbumMaker> maker_;
  ComRef<IDispatch> dispatch_;
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
  ComRef<ITypeInfo> first, fifth;
  ASSERT_EQ(dispatch_->GetTypeInfo(0, 0, first.Put()), S_OK);
  ASSERT_EQ(dispatch_->GetTypeInfo(5, 0, fifth.Put()), S_OK);
  EXPECT_EQ(first.Get(), fifth.Get());
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(first->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(SameGuid(attr->guid, kIidAlbumMaker));
  first->ReleaseTypeAttr(attr);
}

TEST_F(DispatchTest, InvokeReachesTheSlots) {
  ASSERT_EQ(PutFolder(u"C:\\album"), S_OK);
  EXPECT_EQ(GetFolder(maker_.Get()), u"C:\\album");

  Var result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(dispatch_->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, result.Ptr(),
                              nullptr, nullptr),
            S_OK);
  ASSERT_EQ(V_VT(result.Ptr()), VT_BSTR);
  EXPECT_EQ(FromBstr(V_BSTR(result.Ptr())), u"C:\\album");

  Album album{"one.jpg", "two.jpg", "three.jpg"};
  // Arguments in reverse order: template, folder, selector.
  Var args[3] = {Var::Text(album.Template()), Var::Text(album.Folder()), Var::Text(u"1")};
  VARIANT raw[3] = {*args[0], *args[1], *args[2]};
  DISPPARAMS params{raw, nullptr, 3, 0};
  Var page;
  ASSERT_EQ(dispatch_->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, page.Ptr(), nullptr, nullptr), S_OK);
  ASSERT_EQ(V_VT(page.Ptr()), VT_BSTR);
  // Sorted: one, three, two; "1" selects by position.
  EXPECT_EQ(FromBstr(V_BSTR(page.Ptr())), ExpectedPage(u"three.jpg", 2, 3));
  EXPECT_EQ(GetTemplate(maker_.Get()), album.Template());

  // All three arguments are required.
  DISPPARAMS two{raw, nullptr, 2, 0};
  Var nothing;
  EXPECT_EQ(dispatch_->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &two, nothing.Ptr(), nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
}

TEST_F(DispatchTest, EngineErrorFillsTheExceptionInformation) {
  Album album{"a.jpg"};
  const std::u16string huge = MakeHugeTemplate(album.dir.Path()).u16string();
  Var args[3] = {Var::Text(huge), Var::Text(album.Folder()), Var::Empty()};
  VARIANT raw[3] = {*args[0], *args[1], *args[2]};
  DISPPARAMS params{raw, nullptr, 3, 0};
  Var page;
  EXCEPINFO exception{};
  const HRESULT hr = dispatch_->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, page.Ptr(), &exception, nullptr);
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  EXPECT_EQ(FromBstr(exception.bstrDescription), kHugeTemplateMessage);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrHelpFile);
}

TEST_F(DispatchTest, UnregisteredLibraryFailsDispatchButNotSlotsAndRegistersOneCleanup) {
  dispatch_.Reset();
  maker_.Reset();
  UnregisterTypeLibrary();
  RestartModule();
  ASSERT_EQ(CreateMaker(maker_.Put()), S_OK);
  ASSERT_EQ(maker_->QueryInterface(IID_IDispatch, dispatch_.PutVoid()), S_OK);

  for (int i = 0; i < 5; ++i) {
    const HRESULT hr = PutFolder(u"X");
    EXPECT_TRUE(FAILED(hr));
    ComRef<ITypeInfo> info;
    EXPECT_TRUE(FAILED(dispatch_->GetTypeInfo(0, 0, info.Put())));
    EXPECT_EQ(info.Get(), nullptr);
  }
  // Failed loads register nothing to clean up.
  EXPECT_EQ(CleanupCount(Module()), 0);
  ScopedBstr viaSlot(MakeBstr(u"Y"));
  EXPECT_EQ(maker_->put_FolderPath(viaSlot.Get()), S_OK);
  EXPECT_EQ(GetFolder(maker_.Get()), u"Y");

  ASSERT_EQ(RegisterTypeLibrary(), S_OK);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(PutFolder(u"Z"), S_OK);
  EXPECT_EQ(GetFolder(maker_.Get()), u"Z");
  EXPECT_EQ(CleanupCount(Module()), 1);
}

}  // namespace
}  // namespace albummaker::server::testing
