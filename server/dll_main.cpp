// The module's entry point: module start-up at process attach, tear-down at
// process detach.
#include <windows.h>

#include "class_factory.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  using namespace albummaker::server;
  if (reason == DLL_PROCESS_ATTACH) {
    ModuleInit(AlbumObjectMap(), instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    ModuleTerm();
  }
  return TRUE;
}
