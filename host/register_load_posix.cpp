// Linux file names are bytes: the runtime's LoadLibraryA takes them as given.
#include <windows.h>

#include "commands.h"
#include "register_load.h"

namespace albummaker::host {

HMODULE LoadModuleUtf8(const std::string& path) { return LoadLibraryA(path.c_str()); }

}  // namespace albummaker::host
