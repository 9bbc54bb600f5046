// LoadTypeLib of a module file: the type description it carries as its
// TYPELIB resource 1.
#include <albumrt/typedesc.h>
#include <ole2.h>

#include <string>

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
    HMODULE module = LoadLibraryExA(narrow.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return TYPE_E_CANTLOADLIBRARY;
    HRESULT hr = TYPE_E_CANTLOADLIBRARY;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB");
    HGLOBAL data = resource ? LoadResource(module, resource) : nullptr;
    const void* bytesOf = data ? LockResource(data) : nullptr;
    if (bytesOf != nullptr)
      hr = LoadTypeLibFromDescription(static_cast<const char*>(bytesOf), SizeofResource(module, resource), path, out);
    FreeLibrary(module);
    return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace albumrt
