// Picking a page through getAlbumPage's first argument, shared by the client
// that loads the component in-process and the one that creates it by ProgID:
// a position travels as VT_I4, any text as VT_BSTR (the component itself tries
// the text's integer reading first).
#pragma once

#include <windows.h>
#include <ole2.h>

#include "album_client.h"
#include "com_util.h"

namespace albummaker::host {

inline BSTR NewBstr(const std::u16string& text) {
  return SysAllocStringLen(server::AsOle(text.c_str()), static_cast<UINT>(text.size()));
}

class VariantAlbumClient : public AlbumClient {
 public:
  PageResult PageByIndex(int32_t index) final {
    server::UniqueVariant selector;
    V_VT(selector.get()) = VT_I4;
    V_I4(selector.get()) = index;
    return Render(*selector.get());
  }
  PageResult PageByText(const std::u16string& text) final {
    server::UniqueVariant selector;
    BSTR value = NewBstr(text);
    if (value == nullptr) return PageResult{false, {}, u"Out of memory."};
    V_VT(selector.get()) = VT_BSTR;
    V_BSTR(selector.get()) = value;
    return Render(*selector.get());
  }

 protected:
  // getAlbumPage with this first argument; the object's paths stay as they are.
  virtual PageResult Render(const VARIANT& selector) = 0;
};

}  // namespace albummaker::host
