// The album client over the component: one AlbumMaker object made by the
// module's class factory in this process, driven through IAlbumMaker as any
// host of the component drives it.
#include "linked_album_client.h"

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <exception>
#include <mutex>

#include "album_maker_interface.h"
#include "class_factory.h"
#include "com_util.h"
#include "variant_album_client.h"

namespace albummaker::host {
namespace {

using server::AsOle;
using server::AsU16;
using server::ComPtr;
using server::UniqueBstr;
using server::UniqueVariant;

// The component is linked into the host, so the host starts and stops the
// module as loading and unloading it would.
class LinkedModule {
 public:
  static void Start() { static LinkedModule module; }

 private:
  LinkedModule() { server::ModuleInit(server::AlbumObjectMap(), nullptr); }
  ~LinkedModule() { server::ModuleTerm(); }
};

std::u16string CodeText(HRESULT hr) {
  char code[40];
  std::snprintf(code, sizeof code, "Failure 0x%08lX.", static_cast<unsigned long>(hr));
  return std::u16string(code, code + std::char_traits<char>::length(code));
}

// The description the object left for this thread, else the code.
std::u16string ErrorText(HRESULT hr) {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) == S_OK && info) {
    UniqueBstr description;
    if (SUCCEEDED(info->GetDescription(description.put())) && description.get() != nullptr) {
      return std::u16string(AsU16(description.get()), SysStringLen(description.get()));
    }
  }
  return CodeText(hr);
}

class LinkedAlbumClient final : public VariantAlbumClient {
 public:
  HRESULT Create() {
    ComPtr<IClassFactory> factory;
    const HRESULT hr = DllGetClassObject(server::kClsidAlbumMaker, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, server::kIidAlbumMaker, maker_.put_void());
  }

  void SetFolderPath(const std::u16string& path) override {
    UniqueBstr value(NewBstr(path));
    maker_->put_FolderPath(value.get());
  }
  void SetPageTemplatePath(const std::u16string& path) override {
    UniqueBstr value(NewBstr(path));
    maker_->put_PageTemplatePath(value.get());
  }

 private:
  PageResult Render(const VARIANT& selector) override {
    PageResult result;
    // Null path arguments leave the object's paths as they are.
    VARIANT keep;
    VariantInit(&keep);
    V_VT(&keep) = VT_NULL;
    UniqueBstr page;
    const HRESULT hr = maker_->getAlbumPage(selector, keep, keep, page.put());
    if (hr == S_OK) {
      result.ok = true;
      if (page.get() != nullptr) result.page.assign(AsU16(page.get()), SysStringLen(page.get()));
    } else if (hr == DISP_E_EXCEPTION) {
      result.error = ErrorText(hr);
    } else {
      result.error = CodeText(hr);
    }
    return result;
  }

  ComPtr<IAlbumMaker> maker_;
};

}  // namespace

std::unique_ptr<AlbumClient> CreateLinkedAlbumClient(std::u16string& error) {
  try {
    LinkedModule::Start();
    auto client = std::make_unique<LinkedAlbumClient>();
    const HRESULT hr = client->Create();
    if (hr != S_OK) {
      error = CodeText(hr);
      return nullptr;
    }
    return client;
  } catch (const std::exception&) {
    error = u"Out of memory.";
    return nullptr;
  }
}

}  // namespace albummaker::host
