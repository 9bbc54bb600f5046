// The registry as the script interpreter sees it: the few operations it needs,
// each returning 0 or a Win32 error code, over HKEY handles. The interpreter
// is handed one of these, so it can run against the system's registry or
// against a stand-in.
#pragma once

#include <windows.h>

#include "owners.h"

namespace albummaker {

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens an existing sub key; fails when it is missing or access is refused.
  virtual LONG OpenKey(HKEY parent, LPCSTR name, REGSAM access, HKEY* result) = 0;
  // Creates a missing sub key (non-volatile, full access) or opens it.
  virtual LONG CreateKey(HKEY parent, LPCSTR name, HKEY* result) = 0;
  // The handle is gone afterwards whatever the result.
  virtual LONG CloseKey(HKEY key) = 0;
  // Deletes a sub key that has no sub keys of its own; its values go with it.
  virtual LONG DeleteKey(HKEY parent, LPCSTR name) = 0;
  virtual LONG DeleteValue(HKEY key, LPCSTR name) = 0;
  // A null name writes the key's default value.
  virtual LONG SetValue(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size) = 0;
  // Name of sub key number 0; *size is the buffer size in, the name length out.
  virtual LONG FirstSubKeyName(HKEY key, LPSTR name, DWORD* size) = 0;
  // Name of value number 0 (empty for the default value).
  virtual LONG FirstValueName(HKEY key, LPSTR name, DWORD* size) = 0;
  // Numbers of sub keys and values; both stay 0 when the query fails.
  virtual LONG QueryCounts(HKEY key, DWORD* subKeys, DWORD* values) = 0;
};

// The platform's own registry, through the Reg*A functions.
class SystemRegistry final : public Registry {
 public:
  LONG OpenKey(HKEY parent, LPCSTR name, REGSAM access, HKEY* result) override;
  LONG CreateKey(HKEY parent, LPCSTR name, HKEY* result) override;
  LONG CloseKey(HKEY key) override;
  LONG DeleteKey(HKEY parent, LPCSTR name) override;
  LONG DeleteValue(HKEY key, LPCSTR name) override;
  LONG SetValue(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size) override;
  LONG FirstSubKeyName(HKEY key, LPSTR name, DWORD* size) override;
  LONG FirstValueName(HKEY key, LPSTR name, DWORD* size) override;
  LONG QueryCounts(HKEY key, DWORD* subKeys, DWORD* values) override;

  // The one shared instance; it holds no state.
  static SystemRegistry& Instance();
};

// Closes a key through the Registry that opened it.
struct CloseKeyThrough {
  Registry* registry = nullptr;
  static HKEY Invalid() noexcept { return nullptr; }
  void operator()(HKEY key) const noexcept { registry->CloseKey(key); }
};
// One key handle opened through a Registry.
using RegistryKey = am::UniqueHandle<HKEY, CloseKeyThrough>;

// Closes the held key now (if any) and reports how the close went, for the
// callers that act on it.
inline LONG CloseNow(Registry& registry, RegistryKey& key) {
  return key ? registry.CloseKey(key.release()) : ERROR_SUCCESS;
}

}  // namespace albummaker
