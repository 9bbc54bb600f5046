// The runtime's binary layout: any C client must see the structures and the
// interface vtables exactly as the 64-bit Windows headers lay them out.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <ole2.h>

#include "owners.h"
#include "runtime_test_objects.h"

namespace {

TEST(RuntimeAbi, ScalarTypesHaveTheirWindowsSizes) {
  EXPECT_EQ(sizeof(HRESULT), 4u);
  EXPECT_EQ(sizeof(LONG), 4u);
  EXPECT_EQ(sizeof(ULONG), 4u);
  EXPECT_EQ(sizeof(DWORD), 4u);
  EXPECT_EQ(sizeof(OLECHAR), 2u);
  EXPECT_EQ(sizeof(VARIANT_BOOL), 2u);
  EXPECT_EQ(sizeof(VARTYPE), 2u);
  EXPECT_EQ(sizeof(DISPID), 4u);
  EXPECT_EQ(sizeof(GUID), 16u);
  EXPECT_EQ(sizeof(CY), 8u);
  EXPECT_EQ(sizeof(DECIMAL), 16u);
  EXPECT_EQ(sizeof(TYPEKIND), 4u);
  EXPECT_TRUE(std::is_signed_v<HRESULT>);
  EXPECT_EQ(VARIANT_TRUE, -1);
  EXPECT_EQ(DISPID_PROPERTYPUT, -3);
}

TEST(RuntimeAbi, GuidFieldsAreInOrder) {
  EXPECT_EQ(offsetof(GUID, Data1), 0u);
  EXPECT_EQ(offsetof(GUID, Data2), 4u);
  EXPECT_EQ(offsetof(GUID, Data3), 6u);
  EXPECT_EQ(offsetof(GUID, Data4), 8u);
}

TEST(RuntimeAbi, VariantIs24BytesWithTheValueAtOffset8) {
  EXPECT_EQ(sizeof(VARIANT), 24u);
  EXPECT_TRUE(std::is_trivially_copyable_v<VARIANT>);
  EXPECT_TRUE(std::is_standard_layout_v<VARIANT>);
  EXPECT_EQ(offsetof(VARIANT, vt), 0u);
  EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
  EXPECT_EQ(offsetof(VARIANT, dblVal), 8u);
  EXPECT_EQ(offsetof(VARIANT, bstrVal), 8u);
  EXPECT_EQ(offsetof(VARIANT, byref), 8u);
  EXPECT_EQ(offsetof(VARIANT, pRecInfo), 16u);
  EXPECT_EQ(offsetof(VARIANT, decVal), 0u);
  // DECIMAL overlays the whole variant, its reserved word on vt.
  EXPECT_EQ(offsetof(DECIMAL, wReserved), 0u);
  EXPECT_EQ(offsetof(DECIMAL, scale), 2u);
  EXPECT_EQ(offsetof(DECIMAL, sign), 3u);
  EXPECT_EQ(offsetof(DECIMAL, Hi32), 4u);
  EXPECT_EQ(offsetof(DECIMAL, Lo64), 8u);

  VARIANT v;
  VariantInit(&v);
  V_I4(&v) = 0x11223344;
  EXPECT_EQ(V_VT(&v), VT_EMPTY);
  unsigned char bytes[sizeof v];
  std::memcpy(bytes, &v, sizeof v);
  int32_t atEight = 0;
  std::memcpy(&atEight, bytes + 8, sizeof atEight);
  EXPECT_EQ(atEight, 0x11223344);
}

TEST(RuntimeAbi, DispatchRecordsHaveWindowsFieldOrder) {
  EXPECT_EQ(offsetof(DISPPARAMS, rgvarg), 0u);
  EXPECT_EQ(offsetof(DISPPARAMS, rgdispidNamedArgs), 8u);
  EXPECT_EQ(offsetof(DISPPARAMS, cArgs), 16u);
  EXPECT_EQ(offsetof(DISPPARAMS, cNamedArgs), 20u);
  EXPECT_EQ(sizeof(DISPPARAMS), 24u);

  EXPECT_EQ(offsetof(EXCEPINFO, wCode), 0u);
  EXPECT_EQ(offsetof(EXCEPINFO, wReserved), 2u);
  EXPECT_EQ(offsetof(EXCEPINFO, bstrSource), 8u);
  EXPECT_EQ(offsetof(EXCEPINFO, bstrDescription), 16u);
  EXPECT_EQ(offsetof(EXCEPINFO, bstrHelpFile), 24u);
  EXPECT_EQ(offsetof(EXCEPINFO, dwHelpContext), 32u);
  EXPECT_EQ(offsetof(EXCEPINFO, pvReserved), 40u);
  EXPECT_EQ(offsetof(EXCEPINFO, pfnDeferredFillIn), 48u);
  EXPECT_EQ(offsetof(EXCEPINFO, scode), 56u);
  EXPECT_EQ(sizeof(EXCEPINFO), 64u);
}

TEST(RuntimeAbi, TypeRecordsHaveWindowsFieldOrder) {
  EXPECT_EQ(sizeof(TYPEDESC), 16u);
  EXPECT_EQ(offsetof(TYPEDESC, vt), 8u);
  EXPECT_EQ(sizeof(IDLDESC), 16u);
  EXPECT_EQ(sizeof(PARAMDESC), 16u);
  EXPECT_EQ(sizeof(ELEMDESC), 32u);
  EXPECT_EQ(offsetof(ELEMDESC, paramdesc), 16u);
  EXPECT_EQ(offsetof(PARAMDESC, wParamFlags), 8u);

  EXPECT_EQ(offsetof(TYPEATTR, guid), 0u);
  EXPECT_EQ(offsetof(TYPEATTR, lcid), 16u);
  EXPECT_EQ(offsetof(TYPEATTR, memidConstructor), 24u);
  EXPECT_EQ(offsetof(TYPEATTR, lpstrSchema), 32u);
  EXPECT_EQ(offsetof(TYPEATTR, cbSizeInstance), 40u);
  EXPECT_EQ(offsetof(TYPEATTR, typekind), 44u);
  EXPECT_EQ(offsetof(TYPEATTR, cFuncs), 48u);
  EXPECT_EQ(offsetof(TYPEATTR, cVars), 50u);
  EXPECT_EQ(offsetof(TYPEATTR, cImplTypes), 52u);
  EXPECT_EQ(offsetof(TYPEATTR, cbSizeVft), 54u);
  EXPECT_EQ(offsetof(TYPEATTR, wTypeFlags), 58u);
  EXPECT_EQ(offsetof(TYPEATTR, wMajorVerNum), 60u);
  EXPECT_EQ(offsetof(TYPEATTR, wMinorVerNum), 62u);
  EXPECT_EQ(offsetof(TYPEATTR, tdescAlias), 64u);
  EXPECT_EQ(offsetof(TYPEATTR, idldescType), 80u);
  EXPECT_EQ(sizeof(TYPEATTR), 96u);

  EXPECT_EQ(offsetof(FUNCDESC, memid), 0u);
  EXPECT_EQ(offsetof(FUNCDESC, lprgscode), 8u);
  EXPECT_EQ(offsetof(FUNCDESC, lprgelemdescParam), 16u);
  EXPECT_EQ(offsetof(FUNCDESC, funckind), 24u);
  EXPECT_EQ(offsetof(FUNCDESC, invkind), 28u);
  EXPECT_EQ(offsetof(FUNCDESC, callconv), 32u);
  EXPECT_EQ(offsetof(FUNCDESC, cParams), 36u);
  EXPECT_EQ(offsetof(FUNCDESC, cParamsOpt), 38u);
  EXPECT_EQ(offsetof(FUNCDESC, oVft), 40u);
  EXPECT_EQ(offsetof(FUNCDESC, cScodes), 42u);
  EXPECT_EQ(offsetof(FUNCDESC, elemdescFunc), 48u);
  EXPECT_EQ(offsetof(FUNCDESC, wFuncFlags), 80u);
  EXPECT_EQ(sizeof(FUNCDESC), 88u);

  EXPECT_EQ(offsetof(TLIBATTR, lcid), 16u);
  EXPECT_EQ(offsetof(TLIBATTR, syskind), 20u);
  EXPECT_EQ(offsetof(TLIBATTR, wMajorVerNum), 24u);
  EXPECT_EQ(offsetof(TLIBATTR, wMinorVerNum), 26u);
  EXPECT_EQ(offsetof(TLIBATTR, wLibFlags), 28u);
  EXPECT_EQ(sizeof(TLIBATTR), 32u);
}

TEST(RuntimeAbi, BstrCarriesItsByteLengthBeforeTheTextAndANulAfter) {
  am::UniqueBstr owned(SysAllocStringLen(u"ab\0c", 4));
  BSTR s = owned.get();
  ASSERT_NE(s, nullptr);
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const unsigned char*>(s) - 4, sizeof prefix);
  EXPECT_EQ(prefix, 8u);
  EXPECT_EQ(s[2], 0);  // an embedded NUL is kept
  EXPECT_EQ(s[3], u'c');
  EXPECT_EQ(s[4], 0);
}

// Reads a function pointer from an object's vtable, as a C client would.
template <typename Fn>
Fn Slot(void* object, int index) {
  void** vtable = *static_cast<void***>(object);
  return reinterpret_cast<Fn>(vtable[index]);
}

TEST(RuntimeAbi, InterfaceMethodsSitInComSlotOrder) {
  am::ComPtr<runtime_test::CountingDispatch> owned(new runtime_test::CountingDispatch(42));
  auto* disp = owned.get();
  // Slot 1 is AddRef, 2 Release, 3 GetTypeInfoCount, 6 Invoke.
  EXPECT_EQ((Slot<ULONG (*)(void*)>(disp, 1))(disp), 2u);
  UINT count = 7;
  EXPECT_EQ((Slot<HRESULT (*)(void*, UINT*)>(disp, 3))(disp, &count), S_OK);
  EXPECT_EQ(count, 0u);
  using InvokeFn = HRESULT (*)(void*, DISPID, const IID&, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ((Slot<InvokeFn>(disp, 6))(disp, DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                                      nullptr),
            S_OK);
  EXPECT_EQ(result.lVal, 42);
  EXPECT_EQ((Slot<ULONG (*)(void*)>(disp, 2))(disp), 1u);
}

// The last method of each interface must sit in its Windows slot.
TEST(RuntimeAbi, InterfacesHaveTheirWindowsMethodCounts) {
  // Counting by the member-function pointer's vtable offset. The Itanium
  // ABI stores 1 + the byte offset of the slot; its Arm variant stores the
  // byte offset and marks a virtual function in the low bit of the
  // adjustment (2 * adjustment + 1).
  auto slotOf = [](auto memberFn) {
    static_assert(sizeof(memberFn) == 2 * sizeof(void*));
    uintptr_t raw[2];
    std::memcpy(raw, &memberFn, sizeof raw);
    const uintptr_t offset = (raw[1] & 1) ? raw[0] : raw[0] - 1;
    return static_cast<int>(offset / sizeof(void*));
  };
  EXPECT_EQ(slotOf(&IClassFactory::LockServer), 4);
  EXPECT_EQ(slotOf(&IDispatch::Invoke), 6);
  EXPECT_EQ(slotOf(&ISupportErrorInfo::InterfaceSupportsErrorInfo), 3);
  EXPECT_EQ(slotOf(&IErrorInfo::GetHelpContext), 7);
  EXPECT_EQ(slotOf(&ICreateErrorInfo::SetHelpContext), 7);
  EXPECT_EQ(slotOf(&IMarshal::DisconnectObject), 8);
  EXPECT_EQ(slotOf(&ITypeLib::ReleaseTLibAttr), 12);
  EXPECT_EQ(slotOf(&ITypeInfo::GetTypeAttr), 3);
  EXPECT_EQ(slotOf(&ITypeInfo::Invoke), 11);
  EXPECT_EQ(slotOf(&ITypeInfo::ReleaseVarDesc), 21);
  EXPECT_EQ(slotOf(&ITypeInfo2::GetTypeKind), 22);
  EXPECT_EQ(slotOf(&ITypeInfo2::GetAllImplTypeCustData), 36);
}

TEST(RuntimeAbi, WellKnownInterfaceIdsHaveTheirWindowsValues) {
  struct Known {
    const IID* iid;
    const char16_t* text;
  } known[] = {
      {&IID_IUnknown, u"{00000000-0000-0000-C000-000000000046}"},
      {&IID_IClassFactory, u"{00000001-0000-0000-C000-000000000046}"},
      {&IID_IMarshal, u"{00000003-0000-0000-C000-000000000046}"},
      {&IID_IDispatch, u"{00020400-0000-0000-C000-000000000046}"},
      {&IID_ITypeInfo, u"{00020401-0000-0000-C000-000000000046}"},
      {&IID_ITypeLib, u"{00020402-0000-0000-C000-000000000046}"},
      {&IID_ITypeInfo2, u"{00020412-0000-0000-C000-000000000046}"},
      {&IID_ISupportErrorInfo, u"{DF0B3D60-548F-101B-8E65-08002B2BD119}"},
      {&IID_IErrorInfo, u"{1CF2B120-547D-101B-8E65-08002B2BD119}"},
      {&IID_ICreateErrorInfo, u"{22F03340-547D-101B-8E65-08002B2BD119}"},
      {&GUID_NULL, u"{00000000-0000-0000-0000-000000000000}"},
  };
  for (const Known& k : known) {
    OLECHAR text[39];
    ASSERT_EQ(StringFromGUID2(*k.iid, text, 39), 39);
    EXPECT_EQ(std::u16string(text), std::u16string(k.text));
  }
  EXPECT_TRUE(IID_NULL == GUID_NULL);
  EXPECT_TRUE(IID_IUnknown != IID_IDispatch);
  EXPECT_TRUE(IsEqualIID(IID_IDispatch, IID_IDispatch));
  EXPECT_FALSE(IsEqualCLSID(IID_IDispatch, IID_ITypeInfo));
}

}  // namespace
