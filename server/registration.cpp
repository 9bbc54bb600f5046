// Registration of the class and its type library: DllRegisterServer and
// DllUnregisterServer.
#include "registration.h"

#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "class_factory.h"
#include "com_util.h"
#include "script_registrar.h"

namespace albummaker::server {
namespace {

using Wide = std::basic_string<WCHAR>;

constexpr DWORD kPathBufferSize = 260;

HRESULT LastErrorResult() {
  const DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

HRESULT AnsiToWide(const std::string& text, Wide& wide) {
  const int units = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (units <= 0) return LastErrorResult();
  wide.assign(static_cast<std::size_t>(units), WCHAR{0});
  if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), units) != units) return LastErrorResult();
  wide.resize(static_cast<std::size_t>(units - 1));  // the terminating zero
  return S_OK;
}

// The module's path as wide text.
HRESULT ModuleWidePath(HMODULE module, Wide& wide) {
  std::string ansi;
  const HRESULT hr = ModuleFilePath(module, ansi);
  if (FAILED(hr)) return hr;
  return AnsiToWide(ansi, wide);
}

// Every single quote doubled, so the path survives inside '...' in the script.
Wide QuotedForScript(const Wide& path) {
  Wide quoted;
  quoted.reserve(path.size() + 8);
  for (WCHAR c : path) {
    quoted.push_back(c);
    if (c == WCHAR{'\''}) quoted.push_back(c);
  }
  return quoted;
}

bool TakesPart(const ObjectMapEntry& entry) {
  if (entry.description == nullptr) return true;
  const OLECHAR* description = entry.description();
  return description == nullptr || description[0] == 0;
}

using UnRegisterTypeLibFunction = HRESULT(STDAPICALLTYPE*)(REFGUID, WORD, WORD, LCID, SYSKIND);

class Library {
 public:
  explicit Library(const char* name) : module_(LoadLibraryA(name)) {}
  ~Library() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  HMODULE Get() const { return module_; }

 private:
  HMODULE module_;
};

}  // namespace

HRESULT ModuleFilePath(HMODULE module, std::string& path) {
  char buffer[kPathBufferSize] = {};
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetModuleFileNameA(module, buffer, kPathBufferSize);
  if (length == 0) return LastErrorResult();
  // A full buffer holds a cut-off path.
  if (length >= kPathBufferSize || GetLastError() == ERROR_INSUFFICIENT_BUFFER)
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  path.assign(buffer, length);
  // Characters the ANSI code page lacks come back replaced ("?" or a look-
  // alike), and such a path names another file or none. Loading the module
  // by its own path must give this very module.
  if (module != nullptr) {
    Library self(path.c_str());
    if (self.Get() != module) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
  }
  return S_OK;
}

HRESULT RunClassScript(BOOL doRegister) {
  try {
    ScriptRegistrar registrar;
    Wide path;
    const HRESULT pathResult = ModuleWidePath(static_cast<HMODULE>(Module().module), path);
    if (FAILED(pathResult)) return pathResult;
    const Wide quoted = QuotedForScript(path);
    registrar.DefineReplacement(AsOle(u"Module"), quoted.c_str());
    const HRESULT hr =
        registrar.ApplyScriptResource(path.c_str(), kRegistryScriptId, AsOle(u"REGISTRY"), doRegister);
    registrar.ResetReplacements();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// The map's registration function.
HRESULT RegisterAlbumMakerClass(BOOL doRegister) { return RunClassScript(doRegister); }

HRESULT LoadModuleTypeLibrary(ModuleState& state, ITypeLib** library, BSTR* loadedPath) {
  if (library == nullptr || loadedPath == nullptr) return E_POINTER;
  *library = nullptr;
  *loadedPath = nullptr;
  try {
    std::string ansi;
    HRESULT hr = ModuleFilePath(static_cast<HMODULE>(state.module), ansi);
    if (FAILED(hr)) return hr;
    Wide wide;
    hr = AnsiToWide(ansi, wide);
    if (FAILED(hr)) return hr;
    ComRef<ITypeLib> loaded;
    hr = LoadTypeLib(wide.c_str(), loaded.Put());
    if (FAILED(hr)) {
      // The library beside the module: its name with the extension ".tlb".
      // Only a dot in the file name starts the extension; one in a folder
      // name would point at another folder's file.
      std::size_t dot = std::string::npos;
      for (const char* p = ansi.c_str(); *p != '\0'; p = CharNextA(p)) {
        if (*p == '.') dot = static_cast<std::size_t>(p - ansi.c_str());
        if (*p == '\\' || *p == '/') dot = std::string::npos;
      }
      if (dot != std::string::npos) ansi.resize(dot);
      ansi += ".tlb";
      hr = AnsiToWide(ansi, wide);
      if (FAILED(hr)) return hr;
      hr = LoadTypeLib(wide.c_str(), loaded.Put());
      if (FAILED(hr)) return hr;
    }
    BSTR path = SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
    if (path == nullptr) return E_OUTOFMEMORY;
    *loadedPath = path;
    *library = loaded.Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT RegisterModuleTypeLibrary(ModuleState& state) {
  try {
    ComRef<ITypeLib> library;
    ScopedBstr path;
    HRESULT hr = LoadModuleTypeLibrary(state, library.Put(), path.Put());
    if (FAILED(hr)) return hr;
    // Help lives in the library's folder: the path up to its last separator.
    Wide fullPath(path.Get(), SysStringLen(path.Get()));
    std::size_t cut = 0;
    for (std::size_t i = 0; i < fullPath.size(); ++i) {
      const WCHAR c = fullPath[i];
      if (c == WCHAR{'\\'} || c == WCHAR{'/'} || c == WCHAR{':'}) cut = i + 1;
    }
    Wide helpDirectory = fullPath.substr(0, cut);
    return RegisterTypeLib(library.Get(), fullPath.data(), helpDirectory.data());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT UnregisterModuleTypeLibrary(ModuleState& state) {
  ComRef<ITypeLib> library;
  ScopedBstr path;
  const HRESULT hr = LoadModuleTypeLibrary(state, library.Put(), path.Put());
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  if (SUCCEEDED(library->GetLibAttr(&attributes)) && attributes != nullptr) {
    // Looked up at run time: older systems lack the function.
    Library oleaut("oleaut32.dll");
    if (oleaut.Get() != nullptr) {
      const FARPROC found = GetProcAddress(oleaut.Get(), "UnRegisterTypeLib");
      if (found != nullptr) {
        UnRegisterTypeLibFunction unregister = nullptr;
        static_assert(sizeof unregister == sizeof found);
        std::memcpy(&unregister, &found, sizeof unregister);
        unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                   attributes->syskind);
      }
    }
    library->ReleaseTLibAttr(attributes);
  }
  return hr;
}

HRESULT RegisterModule(ModuleState& state, bool registerTypeLibrary) {
  HRESULT hr = S_OK;
  for (ObjectMapEntry* entry = state.objectMap; entry != nullptr && entry->clsid != nullptr; ++entry) {
    if (!TakesPart(*entry) || entry->registration == nullptr) continue;
    hr = entry->registration(TRUE);
    if (FAILED(hr)) return hr;
  }
  // The class declares no component categories.
  if (registerTypeLibrary) return RegisterModuleTypeLibrary(state);
  return hr;
}

HRESULT UnregisterModule(ModuleState& state, bool unregisterTypeLibrary) {
  for (ObjectMapEntry* entry = state.objectMap; entry != nullptr && entry->clsid != nullptr; ++entry) {
    if (!TakesPart(*entry) || entry->registration == nullptr) continue;
    entry->registration(FALSE);
  }
  if (unregisterTypeLibrary) UnregisterModuleTypeLibrary(state);
  return S_OK;
}

}  // namespace albummaker::server

STDAPI DllRegisterServer() {
  try {
    return albummaker::server::RegisterModule(albummaker::server::Module(), true);
  } catch (...) {
    return E_FAIL;
  }
}

STDAPI DllUnregisterServer() {
  try {
    albummaker::server::UnregisterModule(albummaker::server::Module(), true);
  } catch (...) {
  }
  return S_OK;
}
