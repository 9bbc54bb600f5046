#include "registry.h"

namespace albummaker {

LONG SystemRegistry::OpenKey(HKEY parent, LPCSTR name, REGSAM access, HKEY* result) {
  return RegOpenKeyExA(parent, name, 0, access, result);
}

LONG SystemRegistry::CreateKey(HKEY parent, LPCSTR name, HKEY* result) {
  DWORD disposition = 0;
  return RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, result,
                         &disposition);
}

LONG SystemRegistry::CloseKey(HKEY key) { return RegCloseKey(key); }

LONG SystemRegistry::DeleteKey(HKEY parent, LPCSTR name) { return RegDeleteKeyA(parent, name); }

LONG SystemRegistry::DeleteValue(HKEY key, LPCSTR name) { return RegDeleteValueA(key, name); }

LONG SystemRegistry::SetValue(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size) {
  return RegSetValueExA(key, name, 0, type, data, size);
}

LONG SystemRegistry::FirstSubKeyName(HKEY key, LPSTR name, DWORD* size) {
  return RegEnumKeyExA(key, 0, name, size, nullptr, nullptr, nullptr, nullptr);
}

LONG SystemRegistry::FirstValueName(HKEY key, LPSTR name, DWORD* size) {
  return RegEnumValueA(key, 0, name, size, nullptr, nullptr, nullptr, nullptr);
}

LONG SystemRegistry::QueryCounts(HKEY key, DWORD* subKeys, DWORD* values) {
  DWORD keys = 0;
  DWORD vals = 0;
  LONG result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &vals, nullptr, nullptr,
                                 nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    keys = 0;
    vals = 0;
  }
  *subKeys = keys;
  *values = vals;
  return result;
}

SystemRegistry& SystemRegistry::Instance() {
  static SystemRegistry instance;
  return instance;
}

}  // namespace albummaker
