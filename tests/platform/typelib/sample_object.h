// A small dual interface implemented by the tests and described in
// sample.typedesc; its IDispatch is served by the runtime's type information.
#pragma once

#include <ole2.h>

#include <albumrt/typedesc.h>

#include <atomic>
#include <string>

namespace typelib_test {

// {6B1E4C2A-3F0D-4E8B-9A21-0C5D7E3F1A01} and the two that follow.
inline constexpr GUID kLibid = {0x6B1E4C2A, 0x3F0D, 0x4E8B, {0x9A, 0x21, 0x0C, 0x5D, 0x7E, 0x3F, 0x1A, 0x01}};
inline constexpr GUID kIidSample = {0x6B1E4C2A, 0x3F0D, 0x4E8B, {0x9A, 0x21, 0x0C, 0x5D, 0x7E, 0x3F, 0x1A, 0x02}};
inline constexpr GUID kClsidSample = {0x6B1E4C2A, 0x3F0D, 0x4E8B, {0x9A, 0x21, 0x0C, 0x5D, 0x7E, 0x3F, 0x1A, 0x03}};

struct ISample : public IDispatch {
  STDMETHOD(get_Name)(BSTR* pVal) PURE;
  STDMETHOD(put_Name)(BSTR value) PURE;
  STDMETHOD(get_Count)(LONG* pVal) PURE;
  STDMETHOD(put_Count)(LONG value) PURE;
  STDMETHOD(Combine)(VARIANT value, LONG number, BSTR text, DOUBLE scale, BSTR* result) PURE;
  STDMETHOD(Swap)(BSTR* left, LONG* right) PURE;
  STDMETHOD(Fail)(LONG code) PURE;
  STDMETHOD(Optional)(LONG first, VARIANT second, VARIANT* result) PURE;
  STDMETHOD(Many)
  (SHORT a, FLOAT b, VARIANT c, BYTE d, VARIANT_BOOL e, LONG f, LONG g, DOUBLE h1, DOUBLE h2, DOUBLE h3, DOUBLE h4,
   DOUBLE h5, DOUBLE h6, DOUBLE h7, DOUBLE h8, FLOAT h9, LONG last, BSTR* result) PURE;
  STDMETHOD(Touch)(VARIANT* target) PURE;
  STDMETHOD(Produce)(BSTR* text, VARIANT* value) PURE;
};

// Reads sample.typedesc; the library is loaded once per test.
std::string SampleText();
// Loads sample.typedesc by path; fails the calling test when it cannot.
ITypeLib* LoadSample();

// A live object: counts its references and keeps what it was given.
class SampleObject final : public ISample, public ISupportErrorInfo {
 public:
  // errorInfo: whether ISupportErrorInfo is answered at all.
  SampleObject(ITypeInfo* info, bool errorInfo);
  ~SampleObject();
  SampleObject(const SampleObject&) = delete;
  SampleObject& operator=(const SampleObject&) = delete;

  ULONG refs() const { return refs_.load(); }
  // The last variant Combine, Optional or Touch received, as it arrived.
  VARTYPE lastVariantType() const { return lastVt_.load(); }
  const VARIANT* lastByref() const { return lastByref_.load(); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IDispatch, through the type information
  STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
  STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
  STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                      VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
  // ISample
  STDMETHODIMP get_Name(BSTR* pVal) override;
  STDMETHODIMP put_Name(BSTR value) override;
  STDMETHODIMP get_Count(LONG* pVal) override;
  STDMETHODIMP put_Count(LONG value) override;
  STDMETHODIMP Combine(VARIANT value, LONG number, BSTR text, DOUBLE scale, BSTR* result) override;
  STDMETHODIMP Swap(BSTR* left, LONG* right) override;
  STDMETHODIMP Fail(LONG code) override;
  STDMETHODIMP Optional(LONG first, VARIANT second, VARIANT* result) override;
  STDMETHODIMP Many(SHORT a, FLOAT b, VARIANT c, BYTE d, VARIANT_BOOL e, LONG f, LONG g, DOUBLE h1, DOUBLE h2,
                    DOUBLE h3, DOUBLE h4, DOUBLE h5, DOUBLE h6, DOUBLE h7, DOUBLE h8, FLOAT h9, LONG last,
                    BSTR* result) override;
  STDMETHODIMP Touch(VARIANT* target) override;
  STDMETHODIMP Produce(BSTR* text, VARIANT* value) override;
  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

 private:
  std::atomic<ULONG> refs_{1};
  ITypeInfo* info_;
  bool errorInfo_;
  std::u16string name_;
  LONG count_ = 0;
  // Written by calls that may run on several threads at once.
  std::atomic<VARTYPE> lastVt_{VT_EMPTY};
  std::atomic<const VARIANT*> lastByref_{nullptr};
};

// Text of a BSTR (null reads as empty).
std::u16string Text(BSTR s);
// UTF-8 for readable failure messages.
std::string Narrow(const std::u16string& s);

}  // namespace typelib_test
