// The runtime's ITypeLib and ITypeInfo, served from a parsed type description.
// A library and all its type infos are one object: they share one reference
// count, so a type info keeps its library alive and no cycle can leak.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "typelib_model.h"

namespace albumrt::tlb {

class TypeLib;

// Hypothetical references of GetRefTypeOfImplType: a type's index, or one of
// these ranges for the second view of a dual interface and for the bases.
inline constexpr HREFTYPE kRefInterfaceView = 0x10000;
inline constexpr HREFTYPE kRefIDispatch = 0x20000;
inline constexpr HREFTYPE kRefIUnknown = 0x20001;

inline constexpr HRESULT kTypeEBadModuleKind = static_cast<HRESULT>(0x800288BD);
inline constexpr HRESULT kTypeEWrongTypeKind = static_cast<HRESULT>(0x8002802A);

// Case-insensitive comparison of names: ASCII and Latin-1 letters fold.
bool SameNameIgnoringCase(const OLECHAR* a, const std::u16string& b);

class TypeInfo final : public ITypeInfo {
 public:
  // dispatchView: for a dual interface, whether this is its dispatch view
  // (members without their retval parameter) or its vtable view.
  TypeInfo(TypeLib& lib, size_t index, bool dispatchView) : lib_(lib), index_(index), dispatchView_(dispatchView) {}

  const Type& type() const;
  bool dispatchView() const { return dispatchView_; }
  size_t index() const { return index_; }

  // A member's parameters as this view shows them: without the trailing
  // retval in the dispatch view.
  size_t VisibleParams(const Func& f) const;
  // The first member with this DISPID whose kind is in kinds (a mask of
  // INVOKEKIND values), or null.
  const Func* FindFunc(MEMBERID memid, unsigned kinds) const;
  // Invoke's body (in invoke.cpp).
  HRESULT DoInvoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* argErr) const;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // ITypeInfo
  STDMETHODIMP GetTypeAttr(TYPEATTR** ppTypeAttr) override;
  STDMETHODIMP GetTypeComp(ITypeComp** ppTComp) override;
  STDMETHODIMP GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
  STDMETHODIMP GetVarDesc(UINT index, VARDESC** ppVarDesc) override;
  STDMETHODIMP GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override;
  STDMETHODIMP GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
  STDMETHODIMP GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
  STDMETHODIMP GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
  STDMETHODIMP Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                      EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
  STDMETHODIMP GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                BSTR* pBstrHelpFile) override;
  STDMETHODIMP GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                           WORD* pwOrdinal) override;
  STDMETHODIMP GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
  STDMETHODIMP AddressOfMember(MEMBERID memid, INVOKEKIND invKind, void** ppv) override;
  STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObj) override;
  STDMETHODIMP GetMops(MEMBERID memid, BSTR* pBstrMops) override;
  STDMETHODIMP GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
  STDMETHODIMP_(void) ReleaseTypeAttr(TYPEATTR* pTypeAttr) override;
  STDMETHODIMP_(void) ReleaseFuncDesc(FUNCDESC* pFuncDesc) override;
  STDMETHODIMP_(void) ReleaseVarDesc(VARDESC* pVarDesc) override;

 private:
  bool HasVtable() const { return type().kind != TKIND_COCLASS; }
  TypeLib& lib_;
  size_t index_;
  bool dispatchView_;
};

class TypeLib final : public ITypeLib {
 public:
  explicit TypeLib(Library lib);

  const Library& lib() const { return lib_; }
  // The type info GetTypeInfo(index) returns; for a dual interface its
  // dispatch view.
  TypeInfo* Primary(size_t index) { return primary_[index].get(); }
  // The vtable view of a dual interface, or null for other types.
  TypeInfo* InterfaceView(size_t index) { return interfaceView_[index].get(); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // ITypeLib
  STDMETHODIMP_(UINT) GetTypeInfoCount() override;
  STDMETHODIMP GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override;
  STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND* pTKind) override;
  STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override;
  STDMETHODIMP GetLibAttr(TLIBATTR** ppTLibAttr) override;
  STDMETHODIMP GetTypeComp(ITypeComp** ppTComp) override;
  STDMETHODIMP GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                BSTR* pBstrHelpFile) override;
  STDMETHODIMP IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) override;
  STDMETHODIMP FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                        USHORT* pcFound) override;
  STDMETHODIMP_(void) ReleaseTLibAttr(TLIBATTR* pTLibAttr) override;

 private:
  std::atomic<ULONG> refs_{1};
  Library lib_;
  std::vector<std::unique_ptr<TypeInfo>> primary_;
  std::vector<std::unique_ptr<TypeInfo>> interfaceView_;
};

// Stores a copy of text as a new BSTR through out (when out is not null).
// Returns false when the string cannot be allocated.
bool StoreBstr(BSTR* out, const std::u16string& text);

}  // namespace albumrt::tlb
