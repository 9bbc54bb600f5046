// Helper process for the registry tests: writes keys into the store named by
// ALBUMMAKER_REGISTRY.
//   registry_writer <prefix> <count>
// creates HKCU\Race\<prefix>_<i> for i below count, each with the DWORD
// value "n" = i, one key and one value after the other. Exits 0 when every
// write succeeded.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string prefix = argv[1];
  const long count = std::strtol(argv[2], nullptr, 10);
  int failures = 0;
  for (long i = 0; i < count; ++i) {
    std::string path = "Race\\" + prefix + "_" + std::to_string(i);
    HKEY key = nullptr;
    LSTATUS st =
        RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (st != ERROR_SUCCESS) {
      std::fprintf(stderr, "create %s: %ld\n", path.c_str(), static_cast<long>(st));
      ++failures;
      continue;
    }
    DWORD n = static_cast<DWORD>(i);
    st = RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
    if (st != ERROR_SUCCESS) {
      std::fprintf(stderr, "set %s: %ld\n", path.c_str(), static_cast<long>(st));
      ++failures;
    }
    RegCloseKey(key);
  }
  return failures == 0 ? 0 : 1;
}
