// ITypeInfo over one type of a parsed type description. A dual interface has
// two views: the dispatch view (TKIND_DISPATCH, members as a late-bound
// caller sees them, the retval parameter turned into the result) and the
// vtable view (TKIND_INTERFACE, members returning HRESULT).
#include <cstdlib>
#include <cstring>
#include <new>

#include "caught_exception.h"
#include "typelib_impl.h"

// Activation may come from another part of the runtime; until it is linked
// in, a coclass cannot be created.
#pragma weak CoCreateInstance

namespace albumrt::tlb {

const Type& TypeInfo::type() const { return lib_.lib().types[index_]; }

size_t TypeInfo::VisibleParams(const Func& f) const {
  if (dispatchView_ && !f.params.empty() && (f.params.back().flags & PARAMFLAG_FRETVAL)) return f.params.size() - 1;
  return f.params.size();
}

const Func* TypeInfo::FindFunc(MEMBERID memid, unsigned kinds) const {
  for (const auto& f : type().funcs)
    if (f.dispid == memid && (static_cast<unsigned>(f.kind) & kinds) != 0) return &f;
  return nullptr;
}

STDMETHODIMP TypeInfo::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_ITypeInfo) return E_NOINTERFACE;
  *ppv = static_cast<ITypeInfo*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) TypeInfo::AddRef() { return lib_.AddRef(); }
STDMETHODIMP_(ULONG) TypeInfo::Release() { return lib_.Release(); }

STDMETHODIMP TypeInfo::GetTypeAttr(TYPEATTR** ppTypeAttr) {
  if (ppTypeAttr == nullptr) return E_INVALIDARG;
  auto* attr = static_cast<TYPEATTR*>(std::calloc(1, sizeof(TYPEATTR)));
  *ppTypeAttr = attr;
  if (attr == nullptr) return E_OUTOFMEMORY;
  const Type& t = type();
  attr->guid = t.guid;
  attr->lcid = lib_.lib().lcid;
  attr->memidConstructor = MEMBERID_NIL;
  attr->memidDestructor = MEMBERID_NIL;
  attr->typekind = t.kind == TKIND_COCLASS ? TKIND_COCLASS : dispatchView_ ? TKIND_DISPATCH : TKIND_INTERFACE;
  attr->cbSizeInstance = sizeof(void*);
  attr->cbAlignment = alignof(void*);
  attr->wTypeFlags = t.flags;
  if (t.kind == TKIND_COCLASS) {
    attr->cImplTypes = static_cast<WORD>(t.impl.size());
  } else {
    attr->cFuncs = static_cast<WORD>(t.funcs.size());
    attr->cImplTypes = 1;
    // A dispatch view is called through IDispatch alone.
    const size_t slots = dispatchView_ ? InheritedSlots(Base::IDispatch) : InheritedSlots(t.base) + t.funcs.size();
    attr->cbSizeVft = static_cast<WORD>(slots * sizeof(void*));
  }
  attr->tdescAlias.vt = VT_EMPTY;
  return S_OK;
}

STDMETHODIMP_(void) TypeInfo::ReleaseTypeAttr(TYPEATTR* pTypeAttr) { std::free(pTypeAttr); }

STDMETHODIMP TypeInfo::GetTypeComp(ITypeComp** ppTComp) {
  if (ppTComp != nullptr) *ppTComp = nullptr;
  return E_NOTIMPL;
}

namespace {

void DescribeType(VARTYPE vt, bool pointer, TYPEDESC& desc, TYPEDESC& pointee) {
  if (pointer) {
    pointee.vt = vt;
    desc.vt = VT_PTR;
    desc.lptdesc = &pointee;
  } else {
    desc.vt = vt;
  }
}

}  // namespace

// One block holds the FUNCDESC, its ELEMDESC array and the TYPEDESCs that
// pointer types point at, so ReleaseFuncDesc is a single free.
STDMETHODIMP TypeInfo::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
  if (ppFuncDesc == nullptr) return E_INVALIDARG;
  *ppFuncDesc = nullptr;
  const Type& t = type();
  if (index >= t.funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
  const Func& f = t.funcs[index];
  const size_t shown = VisibleParams(f);
  const size_t bytes = sizeof(FUNCDESC) + shown * sizeof(ELEMDESC) + (shown + 1) * sizeof(TYPEDESC);
  auto* block = static_cast<unsigned char*>(std::calloc(1, bytes));
  if (block == nullptr) return E_OUTOFMEMORY;
  auto* desc = reinterpret_cast<FUNCDESC*>(block);
  auto* elems = reinterpret_cast<ELEMDESC*>(block + sizeof(FUNCDESC));
  auto* pointees = reinterpret_cast<TYPEDESC*>(block + sizeof(FUNCDESC) + shown * sizeof(ELEMDESC));
  desc->memid = f.dispid;
  desc->lprgelemdescParam = shown ? elems : nullptr;
  desc->funckind = dispatchView_ ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
  desc->invkind = f.kind;
  desc->callconv = CC_STDCALL;
  desc->cParams = static_cast<SHORT>(shown);
  desc->oVft = static_cast<SHORT>((InheritedSlots(t.base) + index) * sizeof(void*));
  for (size_t i = 0; i < shown; ++i) {
    const Param& p = f.params[i];
    DescribeType(p.vt, p.pointer, elems[i].tdesc, pointees[i]);
    elems[i].paramdesc.wParamFlags = p.flags;
    if (p.flags & PARAMFLAG_FOPT) ++desc->cParamsOpt;
  }
  if (dispatchView_ && shown < f.params.size()) {
    // The retval's pointee becomes the result.
    const Param& r = f.params.back();
    desc->elemdescFunc.tdesc.vt = r.vt;
  } else {
    desc->elemdescFunc.tdesc.vt = dispatchView_ ? VT_VOID : VT_HRESULT;
  }
  *ppFuncDesc = desc;
  return S_OK;
}

STDMETHODIMP_(void) TypeInfo::ReleaseFuncDesc(FUNCDESC* pFuncDesc) { std::free(pFuncDesc); }

STDMETHODIMP TypeInfo::GetVarDesc(UINT, VARDESC** ppVarDesc) {
  if (ppVarDesc == nullptr) return E_INVALIDARG;
  *ppVarDesc = nullptr;
  return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP_(void) TypeInfo::ReleaseVarDesc(VARDESC* pVarDesc) { std::free(pVarDesc); }

STDMETHODIMP TypeInfo::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
  if (rgBstrNames == nullptr || pcNames == nullptr) return E_INVALIDARG;
  *pcNames = 0;
  const Func* f = FindFunc(memid, ~0u);
  if (f == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  // The member's name, then the names of the parameters that have one.
  UINT n = 0;
  const auto store = [&](const std::u16string& name) {
    if (n == cMaxNames) return true;
    if (!StoreBstr(&rgBstrNames[n], name)) return false;
    ++n;
    return true;
  };
  bool ok = store(f->name);
  const size_t shown = VisibleParams(*f);
  for (size_t i = 0; i < shown && ok; ++i)
    if (!f->params[i].name.empty()) ok = store(f->params[i].name);
  if (!ok) {
    while (n > 0) SysFreeString(rgBstrNames[--n]);
    return E_OUTOFMEMORY;
  }
  *pcNames = n;
  return S_OK;
}

STDMETHODIMP TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
  if (pRefType == nullptr) return E_INVALIDARG;
  const Type& t = type();
  if (t.kind == TKIND_COCLASS) {
    if (index >= t.impl.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = static_cast<HREFTYPE>(t.impl[index].type);
    return S_OK;
  }
  // -1 on the dispatch view of a dual interface asks for its vtable view.
  if (index == static_cast<UINT>(-1) && dispatchView_) {
    *pRefType = kRefInterfaceView + static_cast<HREFTYPE>(index_);
    return S_OK;
  }
  if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
  *pRefType = dispatchView_ || t.base == Base::IDispatch ? kRefIDispatch : kRefIUnknown;
  return S_OK;
}

STDMETHODIMP TypeInfo::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
  if (pImplTypeFlags == nullptr) return E_INVALIDARG;
  const Type& t = type();
  if (t.kind == TKIND_COCLASS) {
    if (index >= t.impl.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = t.impl[index].flags;
    return S_OK;
  }
  if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
  *pImplTypeFlags = 0;
  return S_OK;
}

STDMETHODIMP TypeInfo::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
  if (rgszNames == nullptr || pMemId == nullptr) return E_INVALIDARG;
  if (cNames == 0) return E_INVALIDARG;
  for (UINT i = 0; i < cNames; ++i) pMemId[i] = DISPID_UNKNOWN;
  const Type& t = type();
  const Func* member = nullptr;
  if (rgszNames[0] != nullptr) {
    for (const auto& f : t.funcs) {
      if (SameNameIgnoringCase(rgszNames[0], f.name)) {
        member = &f;
        break;
      }
    }
  }
  if (member == nullptr) return DISP_E_UNKNOWNNAME;
  pMemId[0] = member->dispid;
  HRESULT hr = S_OK;
  // Further names are parameters of the member, numbered by position; every
  // member sharing the DISPID (a property's get and put) is searched.
  for (UINT i = 1; i < cNames; ++i) {
    bool found = false;
    for (const auto& f : t.funcs) {
      if (f.dispid != member->dispid || rgszNames[i] == nullptr) continue;
      const size_t shown = VisibleParams(f);
      for (size_t k = 0; k < shown && !found; ++k) {
        if (!f.params[k].name.empty() && SameNameIgnoringCase(rgszNames[i], f.params[k].name)) {
          pMemId[i] = static_cast<MEMBERID>(k);
          found = true;
        }
      }
      if (found) break;
    }
    if (!found) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

STDMETHODIMP TypeInfo::Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                              VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  try {
    return DoInvoke(pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

STDMETHODIMP TypeInfo::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                        BSTR* pBstrHelpFile) {
  const Type& t = type();
  const std::u16string* name;
  const std::u16string* help;
  DWORD context = 0;
  if (memid == MEMBERID_NIL) {
    name = &t.name;
    help = &t.help;
    context = t.helpContext;
  } else {
    const Func* f = FindFunc(memid, ~0u);
    if (f == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    name = &f->name;
    help = &f->help;
  }
  const std::u16string& helpFile = lib_.lib().helpFile;
  BSTR strings[3] = {};
  const bool ok = (pBstrName == nullptr || StoreBstr(&strings[0], *name)) &&
                  (pBstrDocString == nullptr || help->empty() || StoreBstr(&strings[1], *help)) &&
                  (pBstrHelpFile == nullptr || helpFile.empty() || StoreBstr(&strings[2], helpFile));
  if (!ok) {
    for (BSTR b : strings) SysFreeString(b);
    return E_OUTOFMEMORY;
  }
  if (pBstrName) *pBstrName = strings[0];
  if (pBstrDocString) *pBstrDocString = strings[1];
  if (pBstrHelpFile) *pBstrHelpFile = strings[2];
  if (pdwHelpContext) *pdwHelpContext = context;
  return S_OK;
}

STDMETHODIMP TypeInfo::GetDllEntry(MEMBERID, INVOKEKIND, BSTR* pBstrDllName, BSTR* pBstrName, WORD* pwOrdinal) {
  if (pBstrDllName) *pBstrDllName = nullptr;
  if (pBstrName) *pBstrName = nullptr;
  if (pwOrdinal) *pwOrdinal = 0;
  // Only module types have entry points, and descriptions have none.
  return kTypeEBadModuleKind;
}

STDMETHODIMP TypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  TypeInfo* info = nullptr;
  const size_t count = lib_.lib().types.size();
  if (hRefType < count) {
    info = lib_.Primary(hRefType);
  } else if (hRefType >= kRefInterfaceView && hRefType - kRefInterfaceView < count) {
    info = lib_.InterfaceView(hRefType - kRefInterfaceView);
  } else if (hRefType == kRefIDispatch || hRefType == kRefIUnknown) {
    // IDispatch and IUnknown live in the standard library, which is not kept.
    return TYPE_E_CANTLOADLIBRARY;
  }
  if (info == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  info->AddRef();
  *ppTInfo = info;
  return S_OK;
}

STDMETHODIMP TypeInfo::AddressOfMember(MEMBERID, INVOKEKIND, void** ppv) {
  if (ppv) *ppv = nullptr;
  return kTypeEBadModuleKind;
}

STDMETHODIMP TypeInfo::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObj) {
  if (ppvObj == nullptr) return E_INVALIDARG;
  *ppvObj = nullptr;
  if (type().kind != TKIND_COCLASS) return kTypeEWrongTypeKind;
  if (&CoCreateInstance == nullptr) return REGDB_E_CLASSNOTREG;
  return CoCreateInstance(type().guid, pUnkOuter, CLSCTX_INPROC_SERVER, riid, ppvObj);
}

STDMETHODIMP TypeInfo::GetMops(MEMBERID, BSTR* pBstrMops) {
  if (pBstrMops == nullptr) return E_INVALIDARG;
  *pBstrMops = nullptr;
  return S_OK;
}

STDMETHODIMP TypeInfo::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
  if (ppTLib == nullptr && pIndex == nullptr) return E_INVALIDARG;
  if (ppTLib) {
    lib_.AddRef();
    *ppTLib = &lib_;
  }
  if (pIndex) *pIndex = static_cast<UINT>(index_);
  return S_OK;
}

}  // namespace albumrt::tlb
