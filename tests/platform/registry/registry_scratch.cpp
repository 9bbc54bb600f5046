#include "registry_scratch.h"

namespace regtest {

LSTATUS DeleteTree(HKEY parent, const char* name) {
  HKEY key = nullptr;
  LSTATUS st = RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, &key);
  if (st != ERROR_SUCCESS) return st;
  char child[256];
  for (;;) {
    DWORD size = sizeof child;
    if (RegEnumKeyExA(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    st = DeleteTree(key, child);
    if (st != ERROR_SUCCESS) {
      RegCloseKey(key);
      return st;
    }
  }
  RegCloseKey(key);
  return RegDeleteKeyA(parent, name);
}

ScratchKey::ScratchKey() {
  UsePrivateRegistry();
  path_ = "Software\\AlbumMakerTest\\" + UniqueSuffix();
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      &key_, nullptr) != ERROR_SUCCESS)
    key_ = nullptr;
}

ScratchKey::~ScratchKey() {
  if (key_ != nullptr) RegCloseKey(key_);
  DeleteTree(HKEY_CURRENT_USER, path_.c_str());
  // The shared parent goes too once no other run uses it.
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\AlbumMakerTest");
  ReleasePrivateRegistry();
}

}  // namespace regtest
