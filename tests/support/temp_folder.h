// A folder of its own under the system temp directory, removed with its
// content when the test ends.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace albummaker::testing {

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string leaf =
        "am-test-" + std::to_string(rd()) + "-" + std::to_string(stamp) + "-" + std::to_string(counter.fetch_add(1));
    path_ = std::filesystem::temp_directory_path() / leaf;
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::u16string Wide() const { return path_.u16string(); }
  std::filesystem::path operator/(const std::filesystem::path& leaf) const { return path_ / leaf; }

  // Creates (or replaces) a file with the given bytes; returns its path.
  std::filesystem::path Write(const std::filesystem::path& leaf, std::string_view bytes = {}) const {
    const std::filesystem::path p = path_ / leaf;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace albummaker::testing
