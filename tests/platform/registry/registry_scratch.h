// A scratch key for registry tests: HKCU\Software\AlbumMakerTest\<unique>,
// removed with everything below it afterwards. On Linux the registry is a
// store file of its own in a temporary folder, never the user's.
#pragma once

#include <windows.h>

#include <string>

namespace regtest {

class ScratchKey {
 public:
  ScratchKey();
  ~ScratchKey();
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  // The scratch key, opened with full access; null when it could not be made.
  HKEY key() const { return key_; }
  // Its path below HKEY_CURRENT_USER.
  const std::string& path() const { return path_; }

 private:
  HKEY key_ = nullptr;
  std::string path_;
};

// Deletes parent\name with all its sub keys; the result of the last deletion.
LSTATUS DeleteTree(HKEY parent, const char* name);

// What the platform part provides: a private registry for the test (Linux)
// or nothing (Windows), and a unique text for key names.
void UsePrivateRegistry();
void ReleasePrivateRegistry();
std::string UniqueSuffix();
// True when the registry under test is Wine's.
bool RunsOnWine();

}  // namespace regtest
