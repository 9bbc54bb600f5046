// The whole content of a file, for tests that compare what was written.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace albummaker::testing {

// Empty when the file cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace albummaker::testing
