#include "sample_object.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace typelib_test {

std::u16string Text(BSTR s) { return s ? std::u16string(s, SysStringLen(s)) : std::u16string(); }

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

namespace {

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

BSTR NewBstr(const std::u16string& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

std::string Number(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

}  // namespace

std::string SampleText() {
  std::ifstream in(AM_SAMPLE_TYPEDESC, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

ITypeLib* LoadSample() {
  const std::string path = AM_SAMPLE_TYPEDESC;
  const std::u16string wide = Widen(path);
  ITypeLib* lib = nullptr;
  const HRESULT hr = LoadTypeLib(wide.c_str(), &lib);
  EXPECT_EQ(hr, S_OK);
  return lib;
}

SampleObject::SampleObject(ITypeInfo* info, bool errorInfo) : info_(info), errorInfo_(errorInfo) { info_->AddRef(); }

SampleObject::~SampleObject() { info_->Release(); }

STDMETHODIMP SampleObject::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIidSample)
    *ppv = static_cast<ISample*>(this);
  else if (riid == IID_ISupportErrorInfo && errorInfo_)
    *ppv = static_cast<ISupportErrorInfo*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) SampleObject::AddRef() { return ++refs_; }

// The tests own their objects on the stack; the count only has to balance.
STDMETHODIMP_(ULONG) SampleObject::Release() { return --refs_; }

STDMETHODIMP SampleObject::GetTypeInfoCount(UINT* pctinfo) {
  *pctinfo = 1;
  return S_OK;
}

STDMETHODIMP SampleObject::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  info_->AddRef();
  *ppTInfo = info_;
  return S_OK;
}

STDMETHODIMP SampleObject::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
  return info_->GetIDsOfNames(rgszNames, cNames, rgDispId);
}

STDMETHODIMP SampleObject::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                                  VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  return info_->Invoke(static_cast<ISample*>(this), dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo,
                       puArgErr);
}

STDMETHODIMP SampleObject::get_Name(BSTR* pVal) {
  *pVal = NewBstr(name_);
  return S_OK;
}

STDMETHODIMP SampleObject::put_Name(BSTR value) {
  name_ = Text(value);
  return S_OK;
}

STDMETHODIMP SampleObject::get_Count(LONG* pVal) {
  *pVal = count_;
  return S_OK;
}

STDMETHODIMP SampleObject::put_Count(LONG value) {
  count_ = value;
  return S_OK;
}

STDMETHODIMP SampleObject::Combine(VARIANT value, LONG number, BSTR text, DOUBLE scale, BSTR* result) {
  lastVt_ = value.vt;
  lastByref_ = (value.vt & VT_BYREF) ? static_cast<const VARIANT*>(value.byref) : nullptr;
  std::string v = std::to_string(value.vt);
  if (value.vt == VT_I4) v += ":" + std::to_string(value.lVal);
  if (value.vt == VT_BSTR) v += ":" + Narrow(Text(value.bstrVal));
  const std::string out =
      "v=" + v + " n=" + std::to_string(number) + " t=" + Narrow(Text(text)) + " s=" + Number(scale);
  *result = NewBstr(Widen(out));
  return S_OK;
}

STDMETHODIMP SampleObject::Swap(BSTR* left, LONG* right) {
  const std::u16string grown = Text(*left) + u"!";
  SysFreeString(*left);
  *left = NewBstr(grown);
  *right *= 2;
  return S_OK;
}

STDMETHODIMP SampleObject::Fail(LONG code) {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetSource(const_cast<LPOLESTR>(u"Sample.Source"));
    create->SetDescription(const_cast<LPOLESTR>(u"it failed"));
    create->SetHelpFile(const_cast<LPOLESTR>(u"sample.hlp"));
    create->SetHelpContext(42);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return code;
}

STDMETHODIMP SampleObject::Optional(LONG first, VARIANT second, VARIANT* result) {
  lastVt_ = second.vt;
  if (second.vt == VT_ERROR && second.scode == DISP_E_PARAMNOTFOUND) {
    VariantInit(result);
    result->vt = VT_I4;
    result->lVal = first;
    return S_OK;
  }
  return VariantCopy(result, &second);
}

STDMETHODIMP SampleObject::Many(SHORT a, FLOAT b, VARIANT c, BYTE d, VARIANT_BOOL e, LONG f, LONG g, DOUBLE h1,
                                DOUBLE h2, DOUBLE h3, DOUBLE h4, DOUBLE h5, DOUBLE h6, DOUBLE h7, DOUBLE h8, FLOAT h9,
                                LONG last, BSTR* result) {
  std::string out = std::to_string(a) + "," + Number(b) + "," + std::to_string(c.vt) + ":" + std::to_string(c.lVal) +
                    "," + std::to_string(d) + "," + std::to_string(e) + "," + std::to_string(f) + "," +
                    std::to_string(g);
  for (double h : {h1, h2, h3, h4, h5, h6, h7, h8}) out += "," + Number(h);
  out += "," + Number(h9) + "," + std::to_string(last);
  *result = NewBstr(Widen(out));
  return S_OK;
}

STDMETHODIMP SampleObject::Touch(VARIANT* target) {
  lastByref_ = target;
  lastVt_ = target->vt;
  if (target->vt == VT_I4) {
    target->lVal += 1;
  } else if (target->vt == VT_BSTR) {
    SysFreeString(target->bstrVal);
    target->bstrVal = NewBstr(u"touched");
  }
  return S_OK;
}

// Pure outputs: whatever the pointers held is overwritten, as [out] allows.
STDMETHODIMP SampleObject::Produce(BSTR* text, VARIANT* value) {
  *text = NewBstr(u"made");
  VariantInit(value);
  value->vt = VT_BSTR;
  value->bstrVal = NewBstr(u"made too");
  return S_OK;
}

STDMETHODIMP SampleObject::InterfaceSupportsErrorInfo(REFIID riid) { return riid == kIidSample ? S_OK : S_FALSE; }

}  // namespace typelib_test
