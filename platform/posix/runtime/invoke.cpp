// ITypeInfo::Invoke: picks the member, matches the DISPPARAMS arguments to
// its parameters, coerces them to the declared types, calls the member
// through its vtable slot and turns a failure into exception information.
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "invoke.h"
#include "owners.h"
#include "typelib_impl.h"

// Error information is another part of the runtime; without it a failing
// member is reported with no description.
#pragma weak GetErrorInfo

namespace albumrt::tlb {

namespace {

bool IsMissing(const VARIANT* v) { return v == nullptr || (v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND); }

uint64_t Signed(int64_t v) { return static_cast<uint64_t>(v); }

uint64_t Address(const void* p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); }

CallArg Scalar(CallArg::Type type, uint64_t bits) {
  CallArg a;
  a.type = type;
  a.bits = bits;
  return a;
}

// The value of v (whose vt is vt) as the argument of a by-value parameter.
CallArg ByValue(const VARIANT& v, VARTYPE vt) {
  using T = CallArg::Type;
  switch (vt) {
    case VT_R8:
    case VT_DATE:
      return Scalar(T::R8, std::bit_cast<uint64_t>(v.dblVal));
    case VT_R4:
      return Scalar(T::R4, std::bit_cast<uint32_t>(v.fltVal));
    case VT_I1:
      return Scalar(T::I1, Signed(v.cVal));
    case VT_I2:
      return Scalar(T::I2, Signed(v.iVal));
    case VT_BOOL:
      return Scalar(T::I2, Signed(v.boolVal));
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      return Scalar(T::I4, Signed(v.lVal));
    case VT_UI1:
      return Scalar(T::UI1, v.bVal);
    case VT_UI2:
      return Scalar(T::UI2, v.uiVal);
    case VT_UI4:
    case VT_UINT:
      return Scalar(T::UI4, v.ulVal);
    case VT_I8:
      return Scalar(T::I8, v.ullVal);
    case VT_CY:
      return Scalar(T::Currency, static_cast<uint64_t>(v.cyVal.int64));
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return Scalar(T::Pointer, Address(v.byref));
    default:
      return Scalar(T::UI8, v.ullVal);  // UI8
  }
}

CallArg Pointer(const void* p) { return Scalar(CallArg::Type::Pointer, Address(p)); }

CallArg ByValueVariant(const VARIANT* v) {
  CallArg a;
  a.type = CallArg::Type::Variant;
  a.value = v;
  return a;
}

// Coerces src into tmp as type vt. Any refusal is a type mismatch for the
// caller, except running out of memory.
HRESULT Coerce(VARIANT& tmp, const VARIANT* src, VARTYPE vt) {
  const HRESULT hr = VariantChangeType(&tmp, src, 0, vt);
  if (SUCCEEDED(hr)) return S_OK;
  return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
}

}  // namespace

HRESULT TypeInfo::DoInvoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* dp, VARIANT* result,
                           EXCEPINFO* excep, UINT* argErr) const {
  if (instance == nullptr || dp == nullptr) return E_INVALIDARG;
  const Type& t = type();
  if (!HasVtable()) return DISP_E_MEMBERNOTFOUND;
  const unsigned kinds =
      flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  const Func* f = FindFunc(memid, kinds);
  if (f == nullptr) return DISP_E_MEMBERNOTFOUND;
  if (dp->cArgs != 0 && dp->rgvarg == nullptr) return E_INVALIDARG;
  if (dp->cNamedArgs > dp->cArgs || (dp->cNamedArgs != 0 && dp->rgdispidNamedArgs == nullptr)) return E_INVALIDARG;
  const bool put = f->kind == INVOKE_PROPERTYPUT || f->kind == INVOKE_PROPERTYPUTREF;

  // The parameters a caller supplies: all but the retval and the lcid.
  std::vector<size_t> inputs;
  size_t required = 0;
  for (size_t k = 0; k < f->params.size(); ++k) {
    const USHORT pf = f->params[k].flags;
    if (pf & (PARAMFLAG_FRETVAL | PARAMFLAG_FLCID)) continue;
    inputs.push_back(k);
    if (!(pf & PARAMFLAG_FOPT)) ++required;
  }
  const size_t n = inputs.size();
  if (dp->cArgs > n || dp->cArgs < required) return DISP_E_BADPARAMCOUNT;

  // Arguments arrive last first: rgvarg[cArgs - 1] is the first positional
  // one; the named ones occupy rgvarg[0 .. cNamedArgs - 1].
  std::vector<const VARIANT*> source(n, nullptr);
  std::vector<UINT> sourceIndex(n, 0);
  const UINT positional = dp->cArgs - dp->cNamedArgs;
  for (UINT k = 0; k < positional; ++k) {
    source[k] = &dp->rgvarg[dp->cArgs - 1 - k];
    sourceIndex[k] = dp->cArgs - 1 - k;
  }
  for (UINT j = 0; j < dp->cNamedArgs; ++j) {
    const DISPID id = dp->rgdispidNamedArgs[j];
    size_t target = n;
    if (id == DISPID_PROPERTYPUT && put) {
      target = n - 1;
    } else if (id >= 0) {
      for (size_t x = 0; x < n; ++x)
        if (inputs[x] == static_cast<size_t>(id)) target = x;
    }
    if (target == n || source[target] != nullptr) {
      if (argErr) *argErr = j;
      return DISP_E_PARAMNOTFOUND;
    }
    source[target] = &dp->rgvarg[j];
    sourceIndex[target] = j;
  }
  for (size_t x = 0; x < n; ++x) {
    if (IsMissing(source[x]) && !(f->params[inputs[x]].flags & PARAMFLAG_FOPT)) {
      if (source[x] != nullptr && argErr) *argErr = sourceIndex[x];
      return DISP_E_PARAMNOTOPTIONAL;
    }
  }

  // One temporary per input parameter, and one for the retval.
  // Cleared on every way out.
  const auto temps = std::make_unique<am::UniqueVariant[]>(n + 1);
  VARIANT& ret = *temps[n];
  const Param* retParam = nullptr;
  std::vector<CallArg> args;
  args.reserve(f->params.size());
  size_t x = 0;
  for (const Param& p : f->params) {
    if (p.flags & PARAMFLAG_FLCID) {
      args.push_back(Scalar(CallArg::Type::UI4, LOCALE_USER_DEFAULT));
      continue;
    }
    if (p.flags & PARAMFLAG_FRETVAL) {
      retParam = &p;
      args.push_back(Pointer(p.vt == VT_VARIANT ? static_cast<void*>(&ret) : static_cast<void*>(&ret.llVal)));
      continue;
    }
    const VARIANT* src = source[x];
    const UINT index = sourceIndex[x];
    VARIANT& tmp = *temps[x];
    ++x;
    if (IsMissing(src)) {
      // An omitted optional argument: a VARIANT gets the "missing" marker,
      // anything else its zero value.
      if (p.vt == VT_VARIANT) {
        tmp.vt = VT_ERROR;
        tmp.scode = DISP_E_PARAMNOTFOUND;
      } else if (p.pointer) {
        tmp.vt = p.vt;  // so that what the member stores there is freed
      }
      if (p.pointer)
        args.push_back(Pointer(p.vt == VT_VARIANT ? static_cast<void*>(&tmp) : static_cast<void*>(&tmp.llVal)));
      else if (p.vt == VT_VARIANT)
        args.push_back(ByValueVariant(&tmp));
      else
        args.push_back(ByValue(tmp, p.vt));
      continue;
    }
    if (!p.pointer) {
      if (p.vt == VT_VARIANT) {
        // Passed as it came, by-reference variants included; the member
        // borrows it.
        args.push_back(ByValueVariant(src));
      } else if (src->vt == p.vt) {
        args.push_back(ByValue(*src, p.vt));
      } else {
        const HRESULT hr = Coerce(tmp, src, p.vt);
        if (FAILED(hr)) {
          if (argErr) *argErr = index;
          return hr;
        }
        args.push_back(ByValue(tmp, p.vt));
      }
      continue;
    }
    // Pointer parameters. The caller's own storage is passed when the
    // argument refers to a value of the declared type; otherwise a temporary.
    if (p.vt == VT_VARIANT) {
      if (src->vt == (VT_BYREF | VT_VARIANT)) {
        args.push_back(Pointer(src->pvarVal));
      } else if (!(p.flags & PARAMFLAG_FIN)) {
        args.push_back(Pointer(&tmp));  // an empty variant for the member to fill
      } else {
        const HRESULT hr = VariantCopy(&tmp, src);
        if (FAILED(hr)) return hr;
        args.push_back(Pointer(&tmp));
      }
    } else if (src->vt == (VT_BYREF | p.vt)) {
      args.push_back(Pointer(src->byref));
    } else if (src->vt == (VT_BYREF | VT_VARIANT) && src->pvarVal != nullptr && src->pvarVal->vt == p.vt) {
      args.push_back(Pointer(&src->pvarVal->llVal));
    } else if (!(p.flags & PARAMFLAG_FIN)) {
      // Nothing goes in; what comes out is freed with the temporary.
      tmp.vt = p.vt;
      args.push_back(Pointer(&tmp.llVal));
    } else {
      const HRESULT hr = Coerce(tmp, src, p.vt);
      if (FAILED(hr)) {
        if (argErr) *argErr = index;
        return hr;
      }
      args.push_back(Pointer(&tmp.llVal));
    }
  }

  HRESULT hr = S_OK;
  const size_t slot = InheritedSlots(t.base) + static_cast<size_t>(f - t.funcs.data());
  if (!CallThroughSlot(instance, slot, args.data(), args.size(), &hr)) return DISP_E_BADCALLEE;
  // What the member stored through the retval pointer is ours from now on.
  if (retParam != nullptr && retParam->vt != VT_VARIANT) ret.vt = retParam->vt;

  if (SUCCEEDED(hr)) {
    // A put has no result; its result variant is not touched.
    if (result != nullptr && !put) {
      VariantInit(result);
      if (retParam != nullptr) {
        std::memcpy(static_cast<void*>(result), &ret, sizeof(VARIANT));
        VariantInit(&ret);
      }
    }
    return S_OK;
  }

  // A member whose interface reports error information fails with
  // DISP_E_EXCEPTION and that information; otherwise, or when the caller
  // takes no exception information, with its own code.
  if (excep == nullptr) return hr;
  auto* object = static_cast<IUnknown*>(instance);
  ISupportErrorInfo* support = nullptr;
  bool supported = false;
  if (SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) &&
      support != nullptr) {
    supported = support->InterfaceSupportsErrorInfo(t.guid) == S_OK;
    support->Release();
  }
  if (!supported) return hr;
  std::memset(static_cast<void*>(excep), 0, sizeof *excep);
  excep->scode = hr;
  IErrorInfo* info = nullptr;
  if (&GetErrorInfo != nullptr && GetErrorInfo(0, &info) == S_OK && info != nullptr) {
    info->GetSource(&excep->bstrSource);
    info->GetDescription(&excep->bstrDescription);
    info->GetHelpFile(&excep->bstrHelpFile);
    info->GetHelpContext(&excep->dwHelpContext);
    info->Release();
  }
  return DISP_E_EXCEPTION;
}

}  // namespace albumrt::tlb
