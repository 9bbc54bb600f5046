// Linux test helpers: temporary folders and files.
#pragma once

#include <fstream>
#include <string>

#include "read_file.h"
#include "temp_folder.h"

namespace regtest {

using albummaker::testing::ReadFile;
using albummaker::testing::TempFolder;

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace regtest
