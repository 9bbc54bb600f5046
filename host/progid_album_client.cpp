// Creation by ProgID (CLSIDFromProgID, CoCreateInstance) and calls by name
// through IDispatch.
#include "progid_album_client.h"

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <exception>

#include "com_util.h"
#include "commands.h"
#include "variant_album_client.h"

namespace albummaker::host {
namespace {

using server::AsOle;
using server::AsU16;
using server::ComPtr;
using server::UniqueBstr;
using server::UniqueVariant;

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string CodeText(HRESULT hr) { return Ascii("Failure " + DescribeResult(static_cast<long>(hr)) + "."); }

class ProgIdAlbumClient final : public VariantAlbumClient {
 public:
  HRESULT Create(const std::u16string& progId) {
    if (FAILED(apartment_.result())) return apartment_.result();
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(AsOle(progId.c_str()), &clsid);
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch_.put_void());
    if (FAILED(hr)) return hr;
    const char16_t* names[] = {u"FolderPath", u"PageTemplatePath", u"getAlbumPage"};
    DISPID* ids[] = {&folderPath_, &pageTemplatePath_, &getAlbumPage_};
    for (int i = 0; i < 3; ++i) {
      LPOLESTR name = const_cast<LPOLESTR>(AsOle(names[i]));
      hr = dispatch_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, ids[i]);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  void SetFolderPath(const std::u16string& path) override { Put(folderPath_, path); }
  void SetPageTemplatePath(const std::u16string& path) override { Put(pageTemplatePath_, path); }

 private:
  void Put(DISPID id, const std::u16string& text) {
    UniqueVariant value;
    V_BSTR(value.get()) = NewBstr(text);
    if (V_BSTR(value.get()) == nullptr) return;
    V_VT(value.get()) = VT_BSTR;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{value.get(), &named, 1, 1};
    dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
  }

  PageResult Render(const VARIANT& selector) override {
    // Arguments go last to first; Null paths keep the object's paths.
    VARIANT args[3];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    V_VT(&args[0]) = VT_NULL;
    V_VT(&args[1]) = VT_NULL;
    args[2] = selector;
    DISPPARAMS params{args, nullptr, 3, 0};
    UniqueVariant page;
    am::UniqueExcepInfo exception;
    UINT argError = 0;
    const HRESULT hr = dispatch_->Invoke(getAlbumPage_, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                         page.get(), exception.put(), &argError);
    PageResult result;
    if (hr == S_OK && V_VT(page.get()) == VT_BSTR) {
      result.ok = true;
      BSTR text = V_BSTR(page.get());
      if (text != nullptr) result.page.assign(AsU16(text), SysStringLen(text));
    } else if (hr == DISP_E_EXCEPTION && exception->bstrDescription != nullptr) {
      BSTR text = exception->bstrDescription;
      result.error.assign(AsU16(text), SysStringLen(text));
    } else {
      result.error = CodeText(hr == S_OK ? E_FAIL : hr);
    }
    return result;
  }

  // Declared first: the object is released before the apartment is left.
  am::Apartment apartment_;
  ComPtr<IDispatch> dispatch_;
  DISPID folderPath_ = 0;
  DISPID pageTemplatePath_ = 0;
  DISPID getAlbumPage_ = 0;
};

}  // namespace

std::unique_ptr<AlbumClient> CreateProgIdAlbumClient(const std::u16string& progId, std::u16string& error) {
  try {
    auto client = std::make_unique<ProgIdAlbumClient>();
    const HRESULT hr = client->Create(progId);
    if (hr != S_OK) {
      error = Ascii("Cannot create " + std::string(progId.begin(), progId.end()) + ": ") +
              Ascii(DescribeResult(static_cast<long>(hr)));
      return nullptr;
    }
    return client;
  } catch (const std::exception&) {
    error = u"Out of memory.";
    return nullptr;
  }
}

}  // namespace albummaker::host
