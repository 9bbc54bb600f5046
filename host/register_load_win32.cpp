// Windows file names are UTF-16: the UTF-8 argument goes through LoadLibraryW,
// so a name outside the ANSI code page still loads.
#include <windows.h>

#include <string>

#include "commands.h"
#include "register_load.h"

namespace albummaker::host {

HMODULE LoadModuleUtf8(const std::string& path) {
  const int units = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  if (units <= 0) return nullptr;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), units) != units) return nullptr;
  return LoadLibraryW(wide.c_str());
}

}  // namespace albummaker::host
