// albummaker.dll as a host sees it: loaded with LoadLibrary, objects from its
// class factory, dispatch through the system's type information, error
// information, the free-threaded marshaler, and its type library compared
// with the type description the Linux module carries.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "album_maker_interface.h"
#include "com_util.h"
#include "server_test_support.h"
#include "typedesc_reader.h"

namespace albummaker::server::testing {
namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

std::wstring UnixToWine(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p != '\0'; ++p) path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));
  return path;
}

class ModuleDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(L"albummaker.dll");
    ASSERT_NE(module_, nullptr) << "LoadLibrary failed: " << GetLastError();
    getClassObject_ = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<CanUnloadNowFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
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
    ComRef<IClassFactory> factory;
    HRESULT hr = getClassObject_(kClsidAlbumMaker, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, kIidAlbumMaker, reinterpret_cast<void**>(out));
  }

  HRESULT RegisterDllTypeLibrary() {
    ComRef<ITypeLib> library;
    HRESULT hr = LoadTypeLib(path_.c_str(), library.Put());
    if (FAILED(hr)) return hr;
    return RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(path_.c_str()), nullptr);
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
  ComRef<IClassFactory> factory;
  ASSERT_EQ(getClassObject_(kClsidAlbumMaker, IID_IClassFactory, factory.PutVoid()), S_OK);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  ComRef<IAlbumMaker> maker;
  ASSERT_EQ(factory->CreateInstance(nullptr, kIidAlbumMaker, maker.PutVoid()), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  maker.Reset();
  EXPECT_EQ(canUnloadNow_(), S_OK);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject_(kIidAlbumMaker, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ModuleDllTest, RendersAndReportsEngineErrorsThroughTheThreadErrorInformation) {
  Album album{"a.jpg", "b.jpg", "c.jpg"};
  ComRef<IAlbumMaker> maker;
  ASSERT_EQ(Create(maker.Put()), S_OK);
  Var folder = Var::Text(album.Folder()), templ = Var::Text(album.Template());
  ScopedBstr page;
  ASSERT_EQ(maker->getAlbumPage(*Var::Text(u"2"), *folder, *templ, page.Put()), S_OK);
  EXPECT_EQ(FromBstr(page.Get()), ExpectedPage(u"c.jpg", 3, 3));

  ScopedBstr huge(MakeBstr(MakeHugeTemplate(album.dir.Path()).u16string()));
  ASSERT_EQ(maker->put_PageTemplatePath(huge.Get()), S_OK);
  Var none1 = Var::Null(), none2 = Var::Null();
  EXPECT_EQ(maker->getAlbumPage(*Var::Empty(), *none1, *none2, page.Put()), DISP_E_EXCEPTION);
  ComRef<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
  ASSERT_TRUE(info);
  ScopedBstr description;
  ASSERT_EQ(info->GetDescription(description.Put()), S_OK);
  EXPECT_EQ(FromBstr(description.Get()), kHugeTemplateMessage);
  GUID guid;
  ASSERT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_TRUE(SameGuid(guid, GUID_NULL));
}

TEST_F(ModuleDllTest, InvokeThroughTheSystemTypeInformation) {
  ASSERT_EQ(RegisterDllTypeLibrary(), S_OK);
  Album album{"x.jpg", "y.jpg"};
  ComRef<IAlbumMaker> maker;
  ASSERT_EQ(Create(maker.Put()), S_OK);
  ComRef<IDispatch> dispatch;
  ASSERT_EQ(maker->QueryInterface(IID_IDispatch, dispatch.PutVoid()), S_OK);

  LPOLESTR names[] = {const_cast<LPOLESTR>(L"getalbumpage")};
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, 3);

  // A by-reference variant, as a script passes its variables.
  Var selector = Var::Text(u"y.jpg");
  VARIANT byRef;
  VariantInit(&byRef);
  V_VT(&byRef) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&byRef) = selector.Ptr();
  Var folder = Var::Text(album.Folder()), templ = Var::Text(album.Template());
  VARIANT args[3] = {*templ, *folder, byRef};
  DISPPARAMS params{args, nullptr, 3, 0};
  Var result;
  ASSERT_EQ(dispatch->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                             result.Ptr(), nullptr, nullptr),
            S_OK);
  ASSERT_EQ(V_VT(result.Ptr()), VT_BSTR);
  EXPECT_EQ(FromBstr(V_BSTR(result.Ptr())), ExpectedPage(u"y.jpg", 2, 2));

  // An engine error arrives in the exception information.
  Var huge = Var::Text(MakeHugeTemplate(album.dir.Path()).u16string());
  VARIANT failing[3] = {*huge, *folder, byRef};
  DISPPARAMS failingParams{failing, nullptr, 3, 0};
  EXCEPINFO exception{};
  Var nothing;
  EXPECT_EQ(dispatch->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &failingParams, nothing.Ptr(),
                             &exception, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(FromBstr(exception.bstrDescription), kHugeTemplateMessage);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrHelpFile);
}

TEST_F(ModuleDllTest, FreeThreadedMarshalerPassesTheRawPointerBetweenApartments) {
  IAlbumMaker* original = nullptr;
  IStream* stream = nullptr;
  IAlbumMaker* received = nullptr;
  std::thread owner([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (Create(&original) == S_OK) {
      ComRef<IMarshal> marshal;
      EXPECT_EQ(original->QueryInterface(IID_IMarshal, marshal.PutVoid()), S_OK);
      EXPECT_TRUE(marshal);
      EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(kIidAlbumMaker, original, &stream), S_OK);
    }
    CoUninitialize();
  });
  owner.join();
  ASSERT_NE(original, nullptr);
  ASSERT_NE(stream, nullptr);
  std::thread other([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, kIidAlbumMaker, reinterpret_cast<void**>(&received)), S_OK);
    CoUninitialize();
  });
  other.join();
  EXPECT_EQ(received, original);
  if (received != nullptr) received->Release();
  original->Release();
}

// The type library ------------------------------------------------------------

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (const wchar_t* p = text; p != nullptr && *p != 0; ++p) out.push_back(static_cast<char>(*p));
  return out;
}

std::string GuidText(const GUID& guid) {
  wchar_t buffer[40] = {};
  StringFromGUID2(guid, buffer, 40);
  std::string text = Narrow(buffer);
  return text.substr(1, 36);
}

std::string Upper(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

struct Documentation {
  std::string name, help, helpFile;
  DWORD context = 0;
};

Documentation Document(ITypeLib* library, INT index) {
  ScopedBstr name, help, file;
  Documentation doc;
  EXPECT_EQ(library->GetDocumentation(index, name.Put(), help.Put(), &doc.context, file.Put()), S_OK);
  doc.name = Narrow(name.Get());
  doc.help = Narrow(help.Get());
  doc.helpFile = Narrow(file.Get());
  return doc;
}

Documentation Document(ITypeInfo* info, MEMBERID member) {
  ScopedBstr name, help, file;
  Documentation doc;
  EXPECT_EQ(info->GetDocumentation(member, name.Put(), help.Put(), &doc.context, file.Put()), S_OK);
  doc.name = Narrow(name.Get());
  doc.help = Narrow(help.Get());
  doc.helpFile = Narrow(file.Get());
  return doc;
}

bool Has(const std::vector<std::string>& flags, const char* flag) {
  for (const auto& f : flags) {
    if (f == flag) return true;
  }
  return false;
}

std::string TypeText(const TYPEDESC& type) {
  static const std::map<VARTYPE, std::string> names = {
      {VT_I1, "I1"},     {VT_I2, "I2"},     {VT_I4, "I4"},       {VT_I8, "I8"},         {VT_UI1, "UI1"},
      {VT_UI2, "UI2"},   {VT_UI4, "UI4"},   {VT_UI8, "UI8"},     {VT_INT, "INT"},       {VT_UINT, "UINT"},
      {VT_R4, "R4"},     {VT_R8, "R8"},     {VT_CY, "CY"},       {VT_DATE, "DATE"},     {VT_BSTR, "BSTR"},
      {VT_BOOL, "BOOL"}, {VT_VARIANT, "VARIANT"}, {VT_DISPATCH, "DISPATCH"}, {VT_UNKNOWN, "UNKNOWN"},
      {VT_ERROR, "ERROR"}};
  if (type.vt == VT_PTR) return TypeText(*type.lptdesc) + "*";
  const auto found = names.find(type.vt);
  return found == names.end() ? "vt" + std::to_string(type.vt) : found->second;
}

USHORT ParamFlags(const std::vector<std::string>& flags) {
  USHORT bits = 0;
  if (Has(flags, "in")) bits |= PARAMFLAG_FIN;
  if (Has(flags, "out")) bits |= PARAMFLAG_FOUT;
  if (Has(flags, "lcid")) bits |= PARAMFLAG_FLCID;
  if (Has(flags, "retval")) bits |= PARAMFLAG_FRETVAL;
  if (Has(flags, "opt")) bits |= PARAMFLAG_FOPT;
  return bits;
}

INVOKEKIND InvokeKind(const std::string& kind) {
  if (kind == "propget") return INVOKE_PROPERTYGET;
  if (kind == "propput") return INVOKE_PROPERTYPUT;
  if (kind == "propputref") return INVOKE_PROPERTYPUTREF;
  return INVOKE_FUNC;
}

void CompareInterface(ITypeInfo* dispatchInfo, const DescType& expected) {
  SCOPED_TRACE("interface " + expected.name);
  // A dual interface appears as a dispatch type; its vtable side holds the
  // slots.
  ComRef<ITypeInfo> info;
  HREFTYPE vtableRef = 0;
  ASSERT_EQ(dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef), S_OK);
  ASSERT_EQ(dispatchInfo->GetRefTypeInfo(vtableRef, info.Put()), S_OK);

  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(Upper(GuidText(attr->guid)), Upper(expected.uuid));
  WORD flags = 0;
  if (Has(expected.flags, "dual")) flags |= TYPEFLAG_FDUAL;
  if (Has(expected.flags, "oleautomation")) flags |= TYPEFLAG_FOLEAUTOMATION;
  if (Has(expected.flags, "dispatchable")) flags |= TYPEFLAG_FDISPATCHABLE;
  if (Has(expected.flags, "hidden")) flags |= TYPEFLAG_FHIDDEN;
  if (Has(expected.flags, "nonextensible")) flags |= TYPEFLAG_FNONEXTENSIBLE;
  if (Has(expected.flags, "restricted")) flags |= TYPEFLAG_FRESTRICTED;
  EXPECT_EQ(attr->wTypeFlags, flags);
  EXPECT_EQ(attr->cImplTypes, 1);
  const UINT funcCount = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  ASSERT_EQ(funcCount, expected.members.size());

  const Documentation doc = Document(info.Get(), MEMBERID_NIL);
  EXPECT_EQ(doc.name, expected.name);
  EXPECT_EQ(doc.help, expected.help);

  HREFTYPE baseRef = 0;
  ASSERT_EQ(info->GetRefTypeOfImplType(0, &baseRef), S_OK);
  ComRef<ITypeInfo> base;
  ASSERT_EQ(info->GetRefTypeInfo(baseRef, base.Put()), S_OK);
  EXPECT_EQ(Document(base.Get(), MEMBERID_NIL).name, expected.base);

  for (UINT i = 0; i < funcCount; ++i) {
    const DescMember& member = expected.members[i];
    SCOPED_TRACE("member " + std::to_string(i) + " " + member.kind + " " + member.name);
    FUNCDESC* func = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
    EXPECT_EQ(func->memid, member.dispid);
    EXPECT_EQ(func->invkind, InvokeKind(member.kind));
    EXPECT_EQ(func->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
    EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
    EXPECT_EQ(func->cParamsOpt, 0);
    EXPECT_EQ(func->wFuncFlags, 0);
    ASSERT_EQ(static_cast<size_t>(func->cParams), member.params.size());
    for (SHORT p = 0; p < func->cParams; ++p) {
      const DescParam& param = member.params[static_cast<size_t>(p)];
      EXPECT_EQ(TypeText(func->lprgelemdescParam[p].tdesc), param.type) << "parameter " << p;
      EXPECT_EQ(func->lprgelemdescParam[p].paramdesc.wParamFlags, ParamFlags(param.flags)) << "parameter " << p;
    }
    const Documentation memberDoc = Document(info.Get(), func->memid);
    EXPECT_EQ(memberDoc.name, member.name);
    EXPECT_EQ(memberDoc.help, member.help);
    EXPECT_EQ(memberDoc.context, 0u);
    // Names by DISPID come from the first member with it, so the put's
    // unnamed value is checked through the count of names.
    BSTR names[8] = {};
    UINT got = 0;
    ASSERT_EQ(info->GetNames(func->memid, names, 8, &got), S_OK);
    const bool firstWithId = i == 0 || expected.members[i - 1].dispid != member.dispid;
    if (firstWithId) {
      std::vector<std::string> want{member.name};
      for (const auto& param : member.params) {
        if (param.name != "-") want.push_back(param.name);
      }
      std::vector<std::string> have;
      for (UINT n = 0; n < got; ++n) have.push_back(Narrow(names[n]));
      EXPECT_EQ(have, want);
    }
    for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
    info->ReleaseFuncDesc(func);
  }
}

void CompareCoclass(ITypeInfo* info, const DescType& expected) {
  SCOPED_TRACE("coclass " + expected.name);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(Upper(GuidText(attr->guid)), Upper(expected.uuid));
  WORD flags = Has(expected.flags, "noncreatable") ? 0 : TYPEFLAG_FCANCREATE;
  if (Has(expected.flags, "appobject")) flags |= TYPEFLAG_FAPPOBJECT;
  if (Has(expected.flags, "control")) flags |= TYPEFLAG_FCONTROL;
  if (Has(expected.flags, "hidden")) flags |= TYPEFLAG_FHIDDEN;
  if (Has(expected.flags, "aggregatable")) flags |= TYPEFLAG_FAGGREGATABLE;
  EXPECT_EQ(attr->wTypeFlags, flags);
  const UINT implCount = attr->cImplTypes;
  info->ReleaseTypeAttr(attr);
  ASSERT_EQ(implCount, expected.implements.size());
  const Documentation doc = Document(info, MEMBERID_NIL);
  EXPECT_EQ(doc.name, expected.name);
  EXPECT_EQ(doc.help, expected.help);
  for (UINT i = 0; i < implCount; ++i) {
    const auto& implements = expected.implements[i];
    HREFTYPE ref = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(i, &ref), S_OK);
    ComRef<ITypeInfo> implemented;
    ASSERT_EQ(info->GetRefTypeInfo(ref, implemented.Put()), S_OK);
    EXPECT_EQ(Document(implemented.Get(), MEMBERID_NIL).name, implements[0]);
    INT implFlags = 0;
    ASSERT_EQ(info->GetImplTypeFlags(i, &implFlags), S_OK);
    INT want = 0;
    if (Has(implements, "default")) want |= IMPLTYPEFLAG_FDEFAULT;
    if (Has(implements, "source")) want |= IMPLTYPEFLAG_FSOURCE;
    if (Has(implements, "restricted")) want |= IMPLTYPEFLAG_FRESTRICTED;
    EXPECT_EQ(implFlags, want);
  }
}

TEST_F(ModuleDllTest, TypeLibraryMatchesTheTypeDescription) {
  std::ifstream file(std::filesystem::path(UnixToWine(AM_TEST_TYPEDESC)), std::ios::binary);
  ASSERT_TRUE(file.good()) << AM_TEST_TYPEDESC;
  std::stringstream text;
  text << file.rdbuf();
  DescLibrary expected;
  std::string error;
  ASSERT_TRUE(ReadTypeDescription(text.str(), expected, error)) << error;

  ComRef<ITypeLib> library;
  ASSERT_EQ(LoadTypeLibEx(path_.c_str(), REGKIND_NONE, library.Put()), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(Upper(GuidText(attr->guid)), Upper(expected.uuid));
  EXPECT_EQ(attr->wMajorVerNum, expected.major);
  EXPECT_EQ(attr->wMinorVerNum, expected.minor);
  EXPECT_EQ(static_cast<long>(attr->lcid), expected.lcid);
  WORD libFlags = 0;
  if (Has(expected.flags, "restricted")) libFlags |= LIBFLAG_FRESTRICTED;
  if (Has(expected.flags, "control")) libFlags |= LIBFLAG_FCONTROL;
  if (Has(expected.flags, "hidden")) libFlags |= LIBFLAG_FHIDDEN;
  if (Has(expected.flags, "hasdiskimage")) libFlags |= LIBFLAG_FHASDISKIMAGE;
  EXPECT_EQ(attr->wLibFlags, libFlags);
  library->ReleaseTLibAttr(attr);
  const Documentation doc = Document(library.Get(), -1);
  EXPECT_EQ(doc.name, expected.name);
  EXPECT_EQ(doc.help, expected.help);
  EXPECT_EQ(doc.helpFile, "");
  EXPECT_EQ(doc.context, 0u);

  ASSERT_EQ(library->GetTypeInfoCount(), expected.types.size());
  for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
    ComRef<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfo(i, info.Put()), S_OK);
    const DescType& type = expected.types[i];
    EXPECT_EQ(Document(library.Get(), static_cast<INT>(i)).name, type.name);
    if (type.keyword == "interface") {
      CompareInterface(info.Get(), type);
    } else {
      CompareCoclass(info.Get(), type);
    }
  }
}

}  // namespace
}  // namespace albummaker::server::testing
