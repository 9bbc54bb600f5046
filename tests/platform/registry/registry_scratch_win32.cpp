// The real registry: only a unique name is needed.
#include <cstdio>

#include "registry_scratch.h"

namespace regtest {

void UsePrivateRegistry() {}
void ReleasePrivateRegistry() {}

bool RunsOnWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string UniqueSuffix() {
  static LONG counter = 0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%lu_%lu_%ld", static_cast<unsigned long>(GetCurrentProcessId()),
                static_cast<unsigned long>(GetTickCount()), static_cast<long>(InterlockedIncrement(&counter)));
  return buf;
}

}  // namespace regtest
