// Registration of the class and its type library: DllRegisterServer and
// DllUnregisterServer for the machine, DllInstall also for one user.
#include "registration.h"

#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "caught_exception.h"
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
using RegisterTypeLibForUserFunction = HRESULT(STDAPICALLTYPE*)(ITypeLib*, OLECHAR*, OLECHAR*);

// A module loaded by name, freed at scope end.
am::UniqueModule LoadLibraryNamed(const char* name) { return am::UniqueModule(LoadLibraryA(name)); }

// An oleaut32 function looked up at run time (older systems lack the
// per-user ones); null when missing. `library` must outlive its use.
template <class Function>
Function OleAutomationFunction(const am::UniqueModule& library, const char* name) {
  if (library.get() == nullptr) return nullptr;
  const FARPROC found = GetProcAddress(library.get(), name);
  if (found == nullptr) return nullptr;
  Function function = nullptr;
  static_assert(sizeof function == sizeof found);
  std::memcpy(&function, &found, sizeof function);
  return function;
}

}  // namespace

UserClassesRedirect::UserClassesRedirect() {
  LSTATUS st = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, classes_.put(), nullptr);
  if (st != ERROR_SUCCESS) {
    classes_.reset();
    status_ = HRESULT_FROM_WIN32(st);
    return;
  }
  st = RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_.get());
  active_ = st == ERROR_SUCCESS;
  status_ = active_ ? S_OK : HRESULT_FROM_WIN32(st);
}

UserClassesRedirect::~UserClassesRedirect() {
  if (active_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
}

void RemoveEmptyUserContainers() {
  am::UniqueHkey classes;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, KEY_ALL_ACCESS, classes.put()) != ERROR_SUCCESS) return;
  for (const char* name : {"CLSID", "Interface", "TypeLib"}) {
    am::UniqueHkey container;
    if (RegOpenKeyExA(classes.get(), name, 0, KEY_READ, container.put()) != ERROR_SUCCESS) continue;
    DWORD subKeys = 1, values = 1;
    const LSTATUS st = RegQueryInfoKeyA(container.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                        nullptr, nullptr, nullptr, nullptr);
    container.reset();
    if (st == ERROR_SUCCESS && subKeys == 0 && values == 0) RegDeleteKeyA(classes.get(), name);
  }
}

bool ParseInstallScope(const WCHAR* commandLine, Scope& scope) {
  if (commandLine == nullptr || commandLine[0] == 0) {
    scope = Scope::kMachine;
    return true;
  }
  static constexpr char kUser[] = "user";
  std::size_t i = 0;
  for (; kUser[i] != '\0'; ++i) {
    unsigned c = static_cast<unsigned>(commandLine[i]);
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    if (c != static_cast<unsigned>(kUser[i])) return false;
  }
  if (commandLine[i] != 0) return false;
  scope = Scope::kUser;
  return true;
}

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
    const am::UniqueModule self = LoadLibraryNamed(path.c_str());
    if (self.get() != module) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
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
    const HRESULT hr = registrar.ApplyScriptResource(path.c_str(), kRegistryScriptId, AsOle(u"REGISTRY"), doRegister);
    registrar.ResetReplacements();
    return hr;
  } catch (...) {
    return am::ResultFromCaughtException();
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
    ComPtr<ITypeLib> loaded;
    hr = LoadTypeLib(wide.c_str(), loaded.put());
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
      hr = LoadTypeLib(wide.c_str(), loaded.put());
      if (FAILED(hr)) return hr;
    }
    BSTR path = SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
    if (path == nullptr) return E_OUTOFMEMORY;
    *loadedPath = path;
    *library = loaded.detach();
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT RegisterModuleTypeLibrary(ModuleState& state, Scope scope) {
  try {
    ComPtr<ITypeLib> library;
    UniqueBstr path;
    HRESULT hr = LoadModuleTypeLibrary(state, library.put(), path.put());
    if (FAILED(hr)) return hr;
    // Help lives in the library's folder: the path up to its last separator.
    Wide fullPath(path.get(), SysStringLen(path.get()));
    std::size_t cut = 0;
    for (std::size_t i = 0; i < fullPath.size(); ++i) {
      const WCHAR c = fullPath[i];
      if (c == WCHAR{'\\'} || c == WCHAR{'/'} || c == WCHAR{':'}) cut = i + 1;
    }
    Wide helpDirectory = fullPath.substr(0, cut);
    if (scope == Scope::kUser) {
      const am::UniqueModule oleaut = LoadLibraryNamed("oleaut32.dll");
      const auto forUser = OleAutomationFunction<RegisterTypeLibForUserFunction>(oleaut, "RegisterTypeLibForUser");
      if (forUser != nullptr) return forUser(library.get(), fullPath.data(), helpDirectory.data());
      // Without it, the redirected HKEY_CLASSES_ROOT takes the entries.
    }
    return RegisterTypeLib(library.get(), fullPath.data(), helpDirectory.data());
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT UnregisterModuleTypeLibrary(ModuleState& state, Scope scope) {
  ComPtr<ITypeLib> library;
  UniqueBstr path;
  const HRESULT hr = LoadModuleTypeLibrary(state, library.put(), path.put());
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  if (SUCCEEDED(library->GetLibAttr(&attributes)) && attributes != nullptr) {
    // Looked up at run time: older systems lack the functions. Without the
    // per-user one the redirected HKEY_CLASSES_ROOT is where the keys are.
    const am::UniqueModule oleaut = LoadLibraryNamed("oleaut32.dll");
    UnRegisterTypeLibFunction unregister = nullptr;
    if (scope == Scope::kUser)
      unregister = OleAutomationFunction<UnRegisterTypeLibFunction>(oleaut, "UnRegisterTypeLibForUser");
    if (unregister == nullptr)
      unregister = OleAutomationFunction<UnRegisterTypeLibFunction>(oleaut, "UnRegisterTypeLib");
    if (unregister != nullptr)
      unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                 attributes->syskind);
    library->ReleaseTLibAttr(attributes);
  }
  return hr;
}

HRESULT RegisterModule(ModuleState& state, bool registerTypeLibrary, Scope scope) {
  HRESULT hr = S_OK;
  for (ObjectMapEntry* entry = state.objectMap; entry != nullptr && entry->clsid != nullptr; ++entry) {
    if (!TakesPart(*entry) || entry->registration == nullptr) continue;
    hr = entry->registration(TRUE);
    if (FAILED(hr)) return hr;
  }
  // The class declares no component categories.
  if (registerTypeLibrary) return RegisterModuleTypeLibrary(state, scope);
  return hr;
}

HRESULT UnregisterModule(ModuleState& state, bool unregisterTypeLibrary, Scope scope) {
  for (ObjectMapEntry* entry = state.objectMap; entry != nullptr && entry->clsid != nullptr; ++entry) {
    if (!TakesPart(*entry) || entry->registration == nullptr) continue;
    entry->registration(FALSE);
  }
  if (unregisterTypeLibrary) UnregisterModuleTypeLibrary(state, scope);
  return S_OK;
}

}  // namespace albummaker::server

STDAPI DllRegisterServer() {
  try {
    return albummaker::server::RegisterModule(albummaker::server::Module(), true);
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

STDAPI DllUnregisterServer() {
  try {
    albummaker::server::UnregisterModule(albummaker::server::Module(), true);
  } catch (...) {
    // Removal reports success whatever went wrong on the way.
  }
  return S_OK;
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  using namespace albummaker::server;
  try {
    Scope scope = Scope::kMachine;
    if (!ParseInstallScope(commandLine, scope)) return E_INVALIDARG;
    if (scope == Scope::kMachine) return install ? DllRegisterServer() : DllUnregisterServer();
    if (install) {
      const UserClassesRedirect redirect;
      if (FAILED(redirect.Status())) return redirect.Status();
      return RegisterModule(Module(), true, Scope::kUser);
    }
    {
      const UserClassesRedirect redirect;
      if (FAILED(redirect.Status())) return redirect.Status();
      UnregisterModule(Module(), true, Scope::kUser);
    }
    RemoveEmptyUserContainers();
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}
