// Loads a component module named by a UTF-8 path, as the platform names files.
#pragma once

#include <windows.h>

#include <string>

namespace albummaker::host {

HMODULE LoadModuleUtf8(const std::string& path);

}  // namespace albummaker::host
