// LoadTypeLib of a module file: the type description it carries as its
// TYPELIB resource 1.
#include <albumrt/typedesc.h>
#include <ole2.h>

#include <string>

#include "caught_exception.h"
#include "owners.h"

namespace albumrt {

HRESULT LoadTypeLibFromModule(const char16_t* path, ITypeLib** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (path == nullptr) return E_INVALIDARG;
  try {
    // Module paths travel in the ANSI code page, as GetModuleFileNameA gives them.
    int bytes = WideCharToMultiByte(CP_ACP, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return TYPE_E_CANTLOADLIBRARY;
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, path, -1, narrow.data(), bytes, nullptr, nullptr);
    const am::UniqueModule module(LoadLibraryExA(narrow.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return TYPE_E_CANTLOADLIBRARY;
    HRESULT hr = TYPE_E_CANTLOADLIBRARY;
    HRSRC resource = FindResourceA(module.get(), MAKEINTRESOURCEA(1), "TYPELIB");
    HGLOBAL data = resource ? LoadResource(module.get(), resource) : nullptr;
    const void* bytesOf = data ? LockResource(data) : nullptr;
    if (bytesOf != nullptr)
      hr = LoadTypeLibFromDescription(static_cast<const char*>(bytesOf), SizeofResource(module.get(), resource), path,
                                      out);
    return hr;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

}  // namespace albumrt
