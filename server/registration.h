// Self-registration: the class's registry script, carried by the module as
// resource "REGISTRY" 101, and the module's type library.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>

#include "module_state.h"

namespace albummaker::server {

inline constexpr WORD kRegistryScriptId = 101;

// Runs the registration function of every object-map entry that takes part,
// then (when asked) registers the type library. The first failure is
// returned.
HRESULT RegisterModule(ModuleState& state, bool registerTypeLibrary);
// The same in the removal direction; failures are ignored: always S_OK.
HRESULT UnregisterModule(ModuleState& state, bool unregisterTypeLibrary);

// AlbumMaker's registration function: applies the registry script with
// %MODULE% standing for the module's path.
HRESULT RunClassScript(BOOL doRegister);

// The module's file path in the ANSI code page. Fails, rather than giving a
// path that does not name the module, when the path does not fit in 260
// bytes (ERROR_FILENAME_EXCED_RANGE) or when the ANSI code page cannot
// represent it (ERROR_NO_UNICODE_TRANSLATION).
HRESULT ModuleFilePath(HMODULE module, std::string& path);

// The type library carried by the module, else the one in the ".tlb" file
// beside it; `path` receives the path that loaded (the caller frees it).
HRESULT LoadModuleTypeLibrary(ModuleState& state, ITypeLib** library, BSTR* path);
HRESULT RegisterModuleTypeLibrary(ModuleState& state);
HRESULT UnregisterModuleTypeLibrary(ModuleState& state);

}  // namespace albummaker::server
