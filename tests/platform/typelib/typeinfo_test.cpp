// ITypeLib and ITypeInfo over the sample description: attributes, member
// descriptions, names, the two views of a dual interface, reference counts.
#include <gtest/gtest.h>

#include <vector>

#include "owners.h"
#include "sample_object.h"

namespace typelib_test {
namespace {

class TypeInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_ = LoadSample();
    ASSERT_NE(lib_, nullptr);
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(kIidSample, info_.put()), S_OK);
  }
  void TearDown() override {
    info_.reset();
    // Whatever a test took, it gave back: this is the last reference.
    if (lib_) {
      EXPECT_EQ(lib_->Release(), 0u);
    }
  }
  // The vtable view of the dual interface.
  am::ComPtr<ITypeInfo> VtableView() {
    HREFTYPE ref = 0;
    EXPECT_EQ(info_->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    am::ComPtr<ITypeInfo> view;
    EXPECT_EQ(info_->GetRefTypeInfo(ref, view.put()), S_OK);
    return view;
  }
  MEMBERID Id(const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    MEMBERID id = 12345;
    EXPECT_EQ(info_->GetIDsOfNames(names, 1, &id), S_OK) << Narrow(name);
    return id;
  }
  ITypeLib* lib_ = nullptr;
  am::ComPtr<ITypeInfo> info_;
};

TEST_F(TypeInfoTest, DispatchViewAttributes) {
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info_->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == kIidSample);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->cFuncs, 11);
  EXPECT_EQ(attr->cVars, 0);
  EXPECT_EQ(attr->cImplTypes, 1);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION);
  EXPECT_EQ(attr->cbSizeVft, 7 * sizeof(void*));
  EXPECT_EQ(attr->lcid, 0x409u);
  EXPECT_EQ(attr->memidConstructor, MEMBERID_NIL);
  info_->ReleaseTypeAttr(attr);
  EXPECT_EQ(info_->GetTypeAttr(nullptr), E_INVALIDARG);
}

TEST_F(TypeInfoTest, UnknownGuidAndBadIndexes) {
  ITypeInfo* other = reinterpret_cast<ITypeInfo*>(&other);
  EXPECT_EQ(lib_->GetTypeInfoOfGuid(IID_IDispatch, &other), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(other, nullptr);
  other = reinterpret_cast<ITypeInfo*>(&other);
  EXPECT_EQ(lib_->GetTypeInfo(2, &other), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(other, nullptr);
  FUNCDESC* desc = reinterpret_cast<FUNCDESC*>(&desc);
  EXPECT_EQ(info_->GetFuncDesc(11, &desc), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(desc, nullptr);
  EXPECT_EQ(info_->GetFuncDesc(0, nullptr), E_INVALIDARG);
  VARDESC* var = nullptr;
  EXPECT_EQ(info_->GetVarDesc(0, &var), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(lib_->GetTypeInfoOfGuid(kIidSample, nullptr), E_INVALIDARG);
}

TEST_F(TypeInfoTest, SameTypeInfoByIndexAndByGuid) {
  am::ComPtr<ITypeInfo> byIndex;
  ASSERT_EQ(lib_->GetTypeInfo(0, byIndex.put()), S_OK);
  EXPECT_EQ(byIndex.get(), info_.get());
}

TEST_F(TypeInfoTest, DispatchViewTurnsTheRetvalIntoTheResult) {
  FUNCDESC* desc = nullptr;
  ASSERT_EQ(info_->GetFuncDesc(4, &desc), S_OK);  // Combine
  EXPECT_EQ(desc->memid, 3);
  EXPECT_EQ(desc->invkind, INVOKE_FUNC);
  EXPECT_EQ(desc->funckind, FUNC_DISPATCH);
  ASSERT_EQ(desc->cParams, 4);
  EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.vt, VT_VARIANT);
  EXPECT_EQ(desc->lprgelemdescParam[1].tdesc.vt, VT_I4);
  EXPECT_EQ(desc->lprgelemdescParam[2].tdesc.vt, VT_BSTR);
  EXPECT_EQ(desc->lprgelemdescParam[3].tdesc.vt, VT_R8);
  EXPECT_EQ(desc->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FIN);
  EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_BSTR);
  info_->ReleaseFuncDesc(desc);

  ASSERT_EQ(info_->GetFuncDesc(1, &desc), S_OK);  // Name put
  EXPECT_EQ(desc->memid, 1);
  EXPECT_EQ(desc->invkind, INVOKE_PROPERTYPUT);
  EXPECT_EQ(desc->cParams, 1);
  EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_VOID);
  info_->ReleaseFuncDesc(desc);

  ASSERT_EQ(info_->GetFuncDesc(7, &desc), S_OK);  // Optional
  EXPECT_EQ(desc->cParams, 2);
  EXPECT_EQ(desc->cParamsOpt, 1);
  EXPECT_EQ(desc->lprgelemdescParam[1].paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOPT);
  EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_VARIANT);
  info_->ReleaseFuncDesc(desc);
}

TEST_F(TypeInfoTest, VtableViewKeepsHresultAndPointers) {
  const am::ComPtr<ITypeInfo> view = VtableView();
  ASSERT_NE(view.get(), nullptr);
  ASSERT_NE(view.get(), info_.get());
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(view->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(attr->cFuncs, 11);
  EXPECT_EQ(attr->cbSizeVft, (7 + 11) * sizeof(void*));
  view->ReleaseTypeAttr(attr);

  FUNCDESC* desc = nullptr;
  ASSERT_EQ(view->GetFuncDesc(0, &desc), S_OK);  // Name get
  EXPECT_EQ(desc->funckind, FUNC_PUREVIRTUAL);
  EXPECT_EQ(desc->invkind, INVOKE_PROPERTYGET);
  EXPECT_EQ(desc->oVft, 7 * static_cast<SHORT>(sizeof(void*)));
  ASSERT_EQ(desc->cParams, 1);
  EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.vt, VT_PTR);
  ASSERT_NE(desc->lprgelemdescParam[0].tdesc.lptdesc, nullptr);
  EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_BSTR);
  EXPECT_EQ(desc->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_HRESULT);
  view->ReleaseFuncDesc(desc);

  ASSERT_EQ(view->GetFuncDesc(10, &desc), S_OK);  // Produce, the last slot
  EXPECT_EQ(desc->oVft, (7 + 10) * static_cast<SHORT>(sizeof(void*)));
  view->ReleaseFuncDesc(desc);

  // The vtable view leads back to IDispatch, kept in the standard library.
  HREFTYPE base = 0;
  EXPECT_EQ(view->GetRefTypeOfImplType(0, &base), S_OK);
  am::ComPtr<ITypeInfo> dispatch;
  EXPECT_TRUE(FAILED(view->GetRefTypeInfo(base, dispatch.put())));
  EXPECT_EQ(dispatch.get(), nullptr);
}

TEST_F(TypeInfoTest, Documentation) {
  am::UniqueBstr name, doc, file;
  DWORD context = 99;
  ASSERT_EQ(info_->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), &context, file.put()), S_OK);
  EXPECT_EQ(Text(name.get()), u"ISample");
  EXPECT_EQ(Text(doc.get()), u"ISample Interface");
  EXPECT_EQ(Text(file.get()), u"sample.hlp");
  EXPECT_EQ(context, 0u);
  ASSERT_EQ(info_->GetDocumentation(3, name.put(), doc.put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name.get()), u"Combine");
  EXPECT_EQ(Text(doc.get()), u"method Combine");
  // A member without a help string has none.
  BSTR none = reinterpret_cast<BSTR>(&none);
  ASSERT_EQ(info_->GetDocumentation(4, nullptr, &none, nullptr, nullptr), S_OK);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(info_->GetDocumentation(99, name.put(), nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(TypeInfoTest, NamesOfMembersAndParameters) {
  BSTR names[8] = {};
  UINT count = 0;
  // Each call's names are owned as soon as they arrive.
  const auto own = [&] {
    std::vector<am::UniqueBstr> owned;
    for (UINT i = 0; i < count; ++i) owned.emplace_back(names[i]);
    return owned;
  };
  ASSERT_EQ(info_->GetNames(3, names, 8, &count), S_OK);
  const auto combine = own();
  ASSERT_EQ(count, 5u);  // the retval is not shown in the dispatch view
  EXPECT_EQ(Text(names[0]), u"Combine");
  EXPECT_EQ(Text(names[1]), u"Value");
  EXPECT_EQ(Text(names[4]), u"Scale");

  ASSERT_EQ(info_->GetNames(3, names, 2, &count), S_OK);
  const auto firstTwo = own();
  ASSERT_EQ(count, 2u);

  // A property: the get comes first; its put's value has no name.
  ASSERT_EQ(info_->GetNames(1, names, 8, &count), S_OK);
  const auto property = own();
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(Text(names[0]), u"Name");
  EXPECT_EQ(info_->GetNames(77, names, 8, &count), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(TypeInfoTest, IDsOfNamesIgnoreCase) {
  EXPECT_EQ(Id(u"Combine"), 3);
  EXPECT_EQ(Id(u"cOMBINE"), 3);
  EXPECT_EQ(Id(u"NAME"), 1);
  EXPECT_EQ(Id(u"count"), 2);
  EXPECT_EQ(Id(u"MANY"), 7);
}

TEST_F(TypeInfoTest, ParameterNamesResolveRelativeToTheMember) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"combine"), const_cast<LPOLESTR>(u"TEXT"), const_cast<LPOLESTR>(u"value"),
                      const_cast<LPOLESTR>(u"Scale")};
  MEMBERID ids[4] = {};
  ASSERT_EQ(info_->GetIDsOfNames(names, 4, ids), S_OK);
  EXPECT_EQ(ids[0], 3);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], 0);
  EXPECT_EQ(ids[3], 3);

  // A parameter of another member is not one of this member's.
  LPOLESTR other[] = {const_cast<LPOLESTR>(u"Swap"), const_cast<LPOLESTR>(u"Right"), const_cast<LPOLESTR>(u"Number")};
  MEMBERID otherIds[3] = {};
  EXPECT_EQ(info_->GetIDsOfNames(other, 3, otherIds), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(otherIds[0], 4);
  EXPECT_EQ(otherIds[1], 1);
  EXPECT_EQ(otherIds[2], DISPID_UNKNOWN);
}

TEST_F(TypeInfoTest, UnknownMemberNameMarksEveryName) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"Combined"), const_cast<LPOLESTR>(u"Text")};
  MEMBERID ids[2] = {7, 7};
  EXPECT_EQ(info_->GetIDsOfNames(names, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(info_->GetIDsOfNames(nullptr, 1, ids), E_INVALIDARG);
}

TEST_F(TypeInfoTest, CoclassLeadsToItsDefaultInterface) {
  am::ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(lib_->GetTypeInfoOfGuid(kClsidSample, coclass.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->cImplTypes, 1);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE);
  coclass->ReleaseTypeAttr(attr);
  INT flags = 0;
  EXPECT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
  EXPECT_EQ(coclass->GetImplTypeFlags(1, &flags), TYPE_E_ELEMENTNOTFOUND);
  HREFTYPE ref = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
  am::ComPtr<ITypeInfo> iface;
  ASSERT_EQ(coclass->GetRefTypeInfo(ref, iface.put()), S_OK);
  EXPECT_EQ(iface.get(), info_.get());
  EXPECT_EQ(coclass->GetRefTypeInfo(0xBAD, iface.put()), TYPE_E_ELEMENTNOTFOUND);

  am::ComPtr<ITypeLib> container;
  UINT index = 0;
  ASSERT_EQ(coclass->GetContainingTypeLib(container.put(), &index), S_OK);
  EXPECT_EQ(container.get(), lib_);
  EXPECT_EQ(index, 1u);
}

TEST_F(TypeInfoTest, IsNameAndFindNameReportTheStoredSpelling) {
  char16_t buffer[] = u"sCALE";
  BOOL found = FALSE;
  ASSERT_EQ(lib_->IsName(buffer, 0, &found), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(std::u16string(buffer), u"Scale");
  char16_t absent[] = u"Nothing";
  ASSERT_EQ(lib_->IsName(absent, 0, &found), S_OK);
  EXPECT_FALSE(found);

  char16_t member[] = u"touch";
  ITypeInfo* infos[2] = {};
  MEMBERID ids[2] = {};
  USHORT count = 2;
  ASSERT_EQ(lib_->FindName(member, 0, infos, ids, &count), S_OK);
  const am::ComPtr<ITypeInfo> foundInfo(infos[0]);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(infos[0], info_.get());
  EXPECT_EQ(ids[0], 8);
  EXPECT_EQ(std::u16string(member), u"Touch");
}

TEST_F(TypeInfoTest, TypeInfoKeepsItsLibraryAlive) {
  // Take the library's last reference away while the type info is held.
  ITypeLib* lib = lib_;
  lib_ = nullptr;
  EXPECT_EQ(lib->Release(), 1u);  // the type info's reference remains
  {
    am::UniqueBstr name;
    ASSERT_EQ(info_->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(name.get()), u"ISample");
  }
  EXPECT_EQ(info_.detach()->Release(), 0u);
}

TEST_F(TypeInfoTest, QueryInterfaceAndUnsupportedCalls) {
  am::ComPtr<ITypeInfo> sameInfo;
  EXPECT_EQ(info_->QueryInterface(IID_ITypeInfo, sameInfo.put_void()), S_OK);
  EXPECT_EQ(sameInfo.get(), info_.get());
  am::ComPtr<ITypeLib> notLib;
  EXPECT_EQ(info_->QueryInterface(IID_ITypeLib, notLib.put_void()), E_NOINTERFACE);
  EXPECT_EQ(notLib.get(), nullptr);
  am::ComPtr<ITypeLib> sameLib;
  EXPECT_EQ(lib_->QueryInterface(IID_ITypeLib, sameLib.put_void()), S_OK);
  EXPECT_EQ(sameLib.get(), lib_);
  ITypeComp* comp = reinterpret_cast<ITypeComp*>(&comp);
  EXPECT_EQ(info_->GetTypeComp(&comp), E_NOTIMPL);
  EXPECT_EQ(comp, nullptr);
  void* address = &address;
  EXPECT_TRUE(FAILED(info_->AddressOfMember(3, INVOKE_FUNC, &address)));
  EXPECT_EQ(address, nullptr);
  void* object = &object;
  EXPECT_TRUE(FAILED(info_->CreateInstance(nullptr, IID_IUnknown, &object)));  // not a coclass
  EXPECT_EQ(object, nullptr);
}

}  // namespace
}  // namespace typelib_test
