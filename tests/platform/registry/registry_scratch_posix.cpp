// A registry file of the test's own in a fresh temporary folder.
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "registry_scratch.h"
#include "registry_test_env.h"

namespace regtest {

namespace {
std::string g_dir;
}

void UsePrivateRegistry() {
  g_dir = MakeTempDir();
  setenv("ALBUMMAKER_REGISTRY", (g_dir + "/registry.reg").c_str(), 1);
}

void ReleasePrivateRegistry() {
  unsetenv("ALBUMMAKER_REGISTRY");
  std::error_code ignored;
  std::filesystem::remove_all(g_dir, ignored);
  g_dir.clear();
}

bool RunsOnWine() { return false; }

std::string UniqueSuffix() {
  static std::atomic<int> counter{0};
  return std::to_string(getpid()) + "_" + std::to_string(++counter);
}

}  // namespace regtest
