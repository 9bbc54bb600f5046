// Registration of the class and its type library. Not provided yet: the
// module answers that it cannot register itself.
#include <windows.h>
#include <ole2.h>

#include "class_factory.h"

namespace albummaker::server {

HRESULT RegisterAlbumMakerClass(BOOL) { return E_NOTIMPL; }

}  // namespace albummaker::server

STDAPI DllRegisterServer() { return E_NOTIMPL; }

STDAPI DllUnregisterServer() { return E_NOTIMPL; }
