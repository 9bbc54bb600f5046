// A registry file of the test's own in a fresh temporary folder.
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "registry_scratch.h"
#include "registry_test_env.h"

namespace regtest {

namespace {
std::unique_ptr<TempFolder> g_folder;
}

void UsePrivateRegistry() {
  g_folder = std::make_unique<TempFolder>();
  setenv("ALBUMMAKER_REGISTRY", (g_folder->Path() / "registry.reg").c_str(), 1);
}

void ReleasePrivateRegistry() {
  unsetenv("ALBUMMAKER_REGISTRY");
  g_folder.reset();
}

bool RunsOnWine() { return false; }

std::string UniqueSuffix() {
  static std::atomic<int> counter{0};
  return std::to_string(getpid()) + "_" + std::to_string(++counter);
}

}  // namespace regtest
