// Several processes sharing one store file: concurrent writers lose nothing,
// and a writer killed at any moment leaves the old or the new file whole.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "registry_test_env.h"
#include "store_file_test.h"
#include "writer_launch.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t StartWriter(const std::string& prefix, long count) {
  std::string countText = std::to_string(count);
  // The emulator's words, if any, then the writer and its arguments.
  std::vector<char*> argv;
  for (const char* word : {REGISTRY_WRITER_LAUNCH REGISTRY_WRITER}) argv.push_back(const_cast<char*>(word));
  argv.insert(argv.end(), {const_cast<char*>(prefix.c_str()), countText.data(), nullptr});
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Waits for pid at most `limit`; kills it when it overruns. The exit status,
// or -1 after a kill.
int WaitBounded(pid_t pid, std::chrono::seconds limit) {
  auto deadline = Clock::now() + limit;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// The keys below HKCU\Race and whether each holds its "n".
struct Survey {
  LSTATUS status = ERROR_SUCCESS;
  std::vector<std::string> names;
  std::vector<bool> hasValue;
};

Survey Look() {
  Survey s;
  HKEY race = nullptr;
  s.status = RegOpenKeyExA(HKEY_CURRENT_USER, "Race", 0, KEY_READ, &race);
  if (s.status == ERROR_FILE_NOT_FOUND) s.status = ERROR_SUCCESS;
  if (race == nullptr) return s;
  char name[128];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(race, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    s.names.push_back(name);
    HKEY key = nullptr;
    DWORD n = 0, nSize = sizeof n;
    bool has = RegOpenKeyExA(race, name, 0, KEY_READ, &key) == ERROR_SUCCESS &&
               RegQueryValueExA(key, "n", nullptr, nullptr, reinterpret_cast<BYTE*>(&n), &nSize) == ERROR_SUCCESS &&
               std::to_string(n) == std::string(name).substr(std::string(name).find('_') + 1);
    if (key) RegCloseKey(key);
    s.hasValue.push_back(has);
  }
  RegCloseKey(race);
  return s;
}

using RegistryProcesses = regtest::StoreFileTest;

TEST_F(RegistryProcesses, TwoWritersAtOnceLoseNothing) {
  constexpr long kEach = 40;
  pid_t a = StartWriter("a", kEach);
  pid_t b = StartWriter("b", kEach);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_EQ(WaitBounded(a, std::chrono::seconds(120)), 0);
  EXPECT_EQ(WaitBounded(b, std::chrono::seconds(120)), 0);
  Survey s = Look();
  ASSERT_EQ(s.status, ERROR_SUCCESS);
  EXPECT_EQ(s.names.size(), static_cast<size_t>(2 * kEach));
  for (size_t i = 0; i < s.names.size(); ++i) {
    EXPECT_TRUE(s.hasValue[i]) << s.names[i];
  }
}

TEST_F(RegistryProcesses, AWriterKilledMidwayLeavesAWholeFile) {
  // Kill a writer at several moments; each time the file must read whole and
  // hold a prefix of what the writer wrote, in order.
  for (int round = 0; round < 3; ++round) {
    std::filesystem::remove(file_);
    pid_t pid = StartWriter("k", 100000);
    ASSERT_GT(pid, 0);
    auto deadline = Clock::now() + std::chrono::seconds(30);
    const size_t wanted = 5 + 10 * static_cast<size_t>(round);
    while (Clock::now() < deadline) {
      std::string text = regtest::ReadFile(file_);
      size_t sections = 0;
      for (size_t p = text.find("[HKEY_CURRENT_USER\\Race\\"); p != std::string::npos;
           p = text.find("[HKEY_CURRENT_USER\\Race\\", p + 1))
        ++sections;
      if (sections >= wanted) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);

    Survey s = Look();
    ASSERT_EQ(s.status, ERROR_SUCCESS) << "round " << round;
    ASSERT_GE(s.names.size(), wanted) << "round " << round;
    std::vector<bool> present(s.names.size(), false);
    for (const std::string& name : s.names) {
      size_t i = std::stoul(name.substr(2));
      ASSERT_LT(i, present.size()) << "a gap before " << name;
      present[i] = true;
    }
    // Only the newest key may still be waiting for its value.
    for (size_t i = 0; i < s.names.size(); ++i) {
      size_t index = std::stoul(s.names[i].substr(2));
      if (index + 1 < s.names.size()) {
        EXPECT_TRUE(s.hasValue[i]) << s.names[i];
      }
    }
  }
  // The next writer clears what the killed ones left half-written.
  regtest::WriteFile(file_ + ".tmp.1.1", "REGEDIT4\n[HKEY_CURRENT_USER\\Half");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "After", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock") << name;
  }
}

}  // namespace
