// Type libraries in the registry: RegisterTypeLib, UnRegisterTypeLib and
// LoadRegTypeLib over the keys Windows uses:
//
//   HKCR\TypeLib\{LIBID}\<major>.<minor>           default: the help string
//   HKCR\TypeLib\{LIBID}\<major>.<minor>\<lcid>\win32  default: the file path
//   HKCR\TypeLib\{LIBID}\<major>.<minor>\FLAGS      default: the library flags
//   HKCR\TypeLib\{LIBID}\<major>.<minor>\HELPDIR    default: the help folder
//   HKCR\Interface\{IID}                           default: the interface name
//   HKCR\Interface\{IID}\ProxyStubClsid, ProxyStubClsid32: the marshaler
//   HKCR\Interface\{IID}\TypeLib                   default: {LIBID}, Version
//
// Versions and locales are written in hexadecimal, as Windows does. The
// ForUser forms write and remove the same keys under
// HKCU\Software\Classes instead of HKCR.
#include <ole2.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "caught_exception.h"
#include "owners.h"
#include "runtime_internal.h"

namespace {

using albumrt::Narrow;
using albumrt::Widen;

// Interfaces marshalled from their type information, and pure dispinterfaces.
constexpr const char* kOleAutomationMarshaler = "{00020424-0000-0000-C000-000000000046}";
constexpr const char* kDispatchMarshaler = "{00020420-0000-0000-C000-000000000046}";

std::string GuidText(REFGUID guid) {
  OLECHAR buf[39];
  if (StringFromGUID2(guid, buf, 39) == 0) return {};
  return Narrow(buf);
}

std::string Hex(unsigned long n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%lx", n);
  return buf;
}

// Creates HKCR\path and sets its default value (and optionally one named
// value); false when the registry refuses.
bool WriteKey(HKEY root, const std::string& path, const std::string* defaultValue, const char* name = nullptr,
              const std::string* named = nullptr) {
  am::UniqueHkey key;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  auto set = [&](const char* valueName, const std::string& text) {
    return RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
  };
  if (defaultValue != nullptr && !set(nullptr, *defaultValue)) return false;
  if (name != nullptr && named != nullptr && !set(name, *named)) return false;
  return true;
}

bool ReadDefault(HKEY parent, const std::string& path, std::string& out) {
  am::UniqueHkey key;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key.get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  std::vector<BYTE> data(size + 1, 0);
  if (RegQueryValueExA(key.get(), nullptr, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return false;
  out.assign(reinterpret_cast<const char*>(data.data()));
  return true;
}

bool HasSubKeys(HKEY parent, const std::string& path, DWORD* values = nullptr) {
  am::UniqueHkey key;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  DWORD subKeys = 0;
  if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  return subKeys > 0;
}

void DeleteTree(HKEY parent, const std::string& path) {
  {
    am::UniqueHkey key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ | KEY_WRITE, key.put()) != ERROR_SUCCESS) return;
    char name[256];
    for (;;) {
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      DWORD count = 0;
      RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr);
      const DWORD before = count;
      DeleteTree(key.get(), name);
      RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr);
      if (count >= before) break;  // could not delete it: stop rather than loop
    }
  }
  RegDeleteKeyA(parent, path.c_str());
}

// Interfaces a type library registers: dispinterfaces, and interfaces marked
// dual or oleautomation.
const char* MarshalerFor(const TYPEATTR& attr) {
  if (attr.typekind == TKIND_DISPATCH)
    return (attr.wTypeFlags & TYPEFLAG_FDUAL) ? kOleAutomationMarshaler : kDispatchMarshaler;
  if (attr.typekind == TKIND_INTERFACE && (attr.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)))
    return kOleAutomationMarshaler;
  return nullptr;
}

// Calls fn(iid text, name, marshaler) for each interface the library registers.
template <class Fn>
void ForEachInterface(ITypeLib* lib, Fn&& fn) {
  UINT count = lib->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    am::ComPtr<ITypeInfo> info;
    if (FAILED(lib->GetTypeInfo(i, info.put())) || !info) continue;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)) || attr == nullptr) continue;
    const char* marshaler = MarshalerFor(*attr);
    std::string iid = GuidText(attr->guid);
    info->ReleaseTypeAttr(attr);
    if (marshaler == nullptr) continue;
    am::UniqueBstr name;
    lib->GetDocumentation(static_cast<INT>(i), name.put(), nullptr, nullptr, nullptr);
    fn(iid, Narrow(name.get()), marshaler);
  }
}

const char* PlatformName(SYSKIND kind) {
  switch (kind) {
    case SYS_WIN16:
      return "win16";
    case SYS_MAC:
      return "mac";
    case SYS_WIN64:
      return "win64";
    default:
      return "win32";
  }
}

HRESULT RegisterUnder(HKEY root, ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir) {
  if (lib == nullptr || fullPath == nullptr) return E_INVALIDARG;
  try {
    TLIBATTR* attr = nullptr;
    HRESULT hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    if (attr == nullptr) return E_UNEXPECTED;
    const std::string libid = GuidText(attr->guid);
    const std::string version = Hex(attr->wMajorVerNum) + "." + Hex(attr->wMinorVerNum);
    const std::string lcid = Hex(attr->lcid);
    const std::string flags = std::to_string(attr->wLibFlags);
    lib->ReleaseTLibAttr(attr);

    am::UniqueBstr doc;
    lib->GetDocumentation(-1, nullptr, doc.put(), nullptr, nullptr);
    const std::string base = "TypeLib\\" + libid + "\\" + version;
    const std::string help = Narrow(doc.get());
    const std::string path = Narrow(fullPath);
    const std::string dir = Narrow(helpDir);
    // The library's own platform key is win32 here as on a 32-bit Windows,
    // where this component lives.
    bool ok = WriteKey(root, base, doc.get() ? &help : nullptr) &&
              WriteKey(root, base + "\\" + lcid + "\\win32", &path) && WriteKey(root, base + "\\FLAGS", &flags) &&
              WriteKey(root, base + "\\HELPDIR", &dir);
    ForEachInterface(lib, [&](const std::string& iid, const std::string& name, const char* marshaler) {
      const std::string key = "Interface\\" + iid;
      const std::string m = marshaler;
      ok = ok && WriteKey(root, key, &name) && WriteKey(root, key + "\\ProxyStubClsid", &m) &&
           WriteKey(root, key + "\\ProxyStubClsid32", &m) &&
           WriteKey(root, key + "\\TypeLib", &libid, "Version", &version);
    });
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT UnregisterUnder(HKEY root, REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
  try {
    const std::string libid = GuidText(libId);
    const std::string libKey = "TypeLib\\" + libid;
    const std::string version = Hex(major) + "." + Hex(minor);
    const std::string versionKey = libKey + "\\" + version;
    const std::string lcidKey = versionKey + "\\" + Hex(lcid);
    std::string platformKey = lcidKey + "\\" + PlatformName(syskind);
    std::string path;
    if (!ReadDefault(root, platformKey, path)) {
      platformKey = lcidKey + "\\win32";
      if (!ReadDefault(root, platformKey, path)) return TYPE_E_REGISTRYACCESS;
    }

    // The interfaces go when they still belong to this library.
    am::ComPtr<ITypeLib> lib;
    std::u16string widePath = Widen(path);
    if (SUCCEEDED(LoadTypeLib(widePath.c_str(), lib.put())) && lib) {
      ForEachInterface(lib.get(), [&](const std::string& iid, const std::string&, const char*) {
        const std::string key = "Interface\\" + iid;
        std::string owner;
        if (ReadDefault(root, key + "\\TypeLib", owner) && owner == libid) DeleteTree(root, key);
      });
    }

    DeleteTree(root, platformKey);
    if (!HasSubKeys(root, lcidKey)) DeleteTree(root, lcidKey);
    // The version goes with its FLAGS and HELPDIR unless another locale is left.
    bool otherLocale = false;
    {
      am::UniqueHkey key;
      if (RegOpenKeyExA(root, versionKey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
        char name[256];
        for (DWORD i = 0;; ++i) {
          DWORD size = sizeof name;
          if (RegEnumKeyExA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
          std::string n = name;
          if (n != "FLAGS" && n != "HELPDIR") otherLocale = true;
        }
      }
    }
    if (!otherLocale) DeleteTree(root, versionKey);
    if (!HasSubKeys(root, libKey)) DeleteTree(root, libKey);
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

// HKEY_CURRENT_USER\Software\Classes, opened (made when missing) for the
// per-user forms.
struct UserClasses {
  am::UniqueHkey key;
  LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
};

}  // namespace

extern "C" {

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir) {
  return RegisterUnder(HKEY_CLASSES_ROOT, lib, fullPath, helpDir);
}

HRESULT UnRegisterTypeLib(REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
  return UnregisterUnder(HKEY_CLASSES_ROOT, libId, major, minor, lcid, syskind);
}

HRESULT RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* fullPath, OLECHAR* helpDir) {
  if (lib == nullptr || fullPath == nullptr) return E_INVALIDARG;
  UserClasses classes;
  if (classes.status != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
  return RegisterUnder(classes.key.get(), lib, fullPath, helpDir);
}

HRESULT UnRegisterTypeLibForUser(REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
  UserClasses classes;
  if (classes.status != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
  return UnregisterUnder(classes.key.get(), libId, major, minor, lcid, syskind);
}

HRESULT LoadRegTypeLib(REFGUID libId, WORD major, WORD minor, LCID lcid, ITypeLib** out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = nullptr;
  try {
    const std::string libKey = "TypeLib\\" + GuidText(libId);
    // The highest minor version of the same major that is at least the one asked for.
    am::UniqueHkey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, libKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
      return TYPE_E_LIBNOTREGISTERED;
    std::string best;
    long bestMinor = -1;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      unsigned long maj = 0, min = 0;
      char dot = 0, extra = 0;
      if (std::sscanf(name, "%lx%c%lx%c", &maj, &dot, &min, &extra) != 3 || dot != '.') continue;
      if (maj == major && min >= minor && static_cast<long>(min) > bestMinor) {
        bestMinor = static_cast<long>(min);
        best = name;
      }
    }
    if (best.empty()) return TYPE_E_LIBNOTREGISTERED;
    const std::string versionKey = libKey + "\\" + best;
    // The locale asked for, then its primary language, then neutral.
    std::string path;
    bool found = false;
    for (LCID candidate : {lcid, static_cast<LCID>(lcid & 0x3FF), static_cast<LCID>(0)}) {
      for (const char* platform : {"win32", "win64"}) {
        if (ReadDefault(HKEY_CLASSES_ROOT, versionKey + "\\" + Hex(candidate) + "\\" + platform, path)) {
          found = true;
          break;
        }
      }
      if (found) break;
    }
    if (!found) return TYPE_E_LIBNOTREGISTERED;
    std::u16string wide = Widen(path);
    return LoadTypeLib(wide.c_str(), out);
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

}  // extern "C"
