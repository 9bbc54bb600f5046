// Compiled into a component module on Linux: runs the module's DllMain when
// the shared object is loaded and unloaded, as the Windows loader does.
//
// The handle passed is the module's mapping address, the same one that
// LoadLibraryA returns for it and that GetModuleFileNameA and FindResourceA
// accept. Attach runs from a constructor of default priority, so the module's
// C++ statics in other files may not be built yet: what DllMain touches at
// attach should be constant-initialised or reached through a function.
#include <windows.h>

#include <dlfcn.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

bool g_attached = false;

HINSTANCE OwnModule() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnModule), &info) == 0) return nullptr;
  return static_cast<HINSTANCE>(info.dli_fbase);
}

__attribute__((constructor)) void ProcessAttach() {
  // A refused attach cannot fail dlopen here; the module is then simply
  // never detached, as Windows does not detach a module that refused.
  g_attached = DllMain(OwnModule(), DLL_PROCESS_ATTACH, nullptr) != FALSE;
}

__attribute__((destructor)) void ProcessDetach() {
  if (g_attached) DllMain(OwnModule(), DLL_PROCESS_DETACH, nullptr);
  g_attached = false;
}

}  // namespace
