// Self-registration: the class's registry script, carried by the module as
// resource "REGISTRY" 101, and the module's type library.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>

#include "module_state.h"
#include "owners.h"

namespace albummaker::server {

inline constexpr WORD kRegistryScriptId = 101;

// Where the entries go: HKEY_CLASSES_ROOT, or for one user (HKEY_CLASSES_ROOT
// redirected to HKCU\Software\Classes by the caller, see
// UserClassesRedirect, and the type library registered for the user).
enum class Scope { kMachine, kUser };

// Runs the registration function of every object-map entry that takes part,
// then (when asked) registers the type library. The first failure is
// returned.
HRESULT RegisterModule(ModuleState& state, bool registerTypeLibrary, Scope scope = Scope::kMachine);
// The same in the removal direction; failures are ignored: always S_OK.
HRESULT UnregisterModule(ModuleState& state, bool unregisterTypeLibrary, Scope scope = Scope::kMachine);

// HKEY_CLASSES_ROOT stands for HKEY_CURRENT_USER\Software\Classes in this
// process while the object lives; the destructor undoes it on every path.
// The redirection is the whole process's: registration is not expected to
// run beside other registry work.
class UserClassesRedirect {
 public:
  UserClassesRedirect();
  ~UserClassesRedirect();
  UserClassesRedirect(const UserClassesRedirect&) = delete;
  UserClassesRedirect& operator=(const UserClassesRedirect&) = delete;
  // S_OK when the redirection is in place.
  HRESULT Status() const { return status_; }

 private:
  am::UniqueHkey classes_;
  bool active_ = false;
  HRESULT status_ = E_FAIL;
};

// After a per-user removal: the containers that registration made under
// HKCU\Software\Classes (CLSID, Interface, TypeLib) go when nothing is left in
// them, so that a user's classes are as they were before.
void RemoveEmptyUserContainers();

// The scope a DllInstall command line names: null or empty for the machine,
// "user" (ASCII letter case ignored) for the user; false for anything else.
bool ParseInstallScope(const WCHAR* commandLine, Scope& scope);

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
HRESULT RegisterModuleTypeLibrary(ModuleState& state, Scope scope = Scope::kMachine);
HRESULT UnregisterModuleTypeLibrary(ModuleState& state, Scope scope = Scope::kMachine);

}  // namespace albummaker::server
