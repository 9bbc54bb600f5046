// Activation of in-process servers through the registry: ProgID and CLSID
// lookups, class objects from InprocServer32 modules, and the per-thread
// initialisation counts they require.
#include <ole2.h>

#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "caught_exception.h"
#include "owners.h"
#include "runtime_internal.h"

namespace {

using albumrt::Narrow;
using albumrt::Widen;

struct ThreadCom {
  ULONG count = 0;
  bool multithreaded = false;
};
thread_local ThreadCom t_com;
// Threads in the multithreaded apartment, for the implicit apartment of
// threads that never initialised.
std::atomic<long> g_multithreaded{0};

bool ThreadMayActivate() { return t_com.count > 0 || g_multithreaded.load() > 0; }

// The default string value of HKCR\<path>; false when the key or the value
// is missing or is not a string.
LSTATUS ReadDefault(const std::string& path, std::string& out) {
  am::UniqueHkey key;
  LSTATUS st = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, key.put());
  if (st != ERROR_SUCCESS) return st;
  DWORD type = 0, size = 0;
  st = RegQueryValueExA(key.get(), nullptr, nullptr, &type, nullptr, &size);
  if (st == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) st = ERROR_FILE_NOT_FOUND;
  std::vector<BYTE> data(size + 1, 0);
  while (st == ERROR_SUCCESS) {
    DWORD room = size;
    st = RegQueryValueExA(key.get(), nullptr, nullptr, &type, data.data(), &room);
    if (st == ERROR_MORE_DATA) {
      size = room;
      data.assign(size + 1, 0);
      st = ERROR_SUCCESS;
      continue;
    }
    if (st == ERROR_SUCCESS) out.assign(reinterpret_cast<const char*>(data.data()));
    break;
  }
  return st;
}

std::string GuidText(REFGUID guid) {
  OLECHAR buf[39];
  if (StringFromGUID2(guid, buf, 39) == 0) return {};
  return Narrow(buf);
}

// Servers stay loaded for the life of the process, as they would until the
// process ends on Windows unless someone frees unused libraries.
std::mutex g_serversMutex;
std::map<std::string, HMODULE>* g_servers = new std::map<std::string, HMODULE>();

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);

HRESULT LoadServer(const std::string& path, GetClassObjectFn& entry) {
  std::lock_guard<std::mutex> guard(g_serversMutex);
  HMODULE module = nullptr;
  auto it = g_servers->find(path);
  if (it != g_servers->end()) {
    module = it->second;
  } else {
    module = LoadLibraryExA(path.c_str(), nullptr, 0);
    if (module == nullptr) return CO_E_DLLNOTFOUND;
    (*g_servers)[path] = module;
  }
  FARPROC proc = GetProcAddress(module, "DllGetClassObject");
  // FARPROC is the generic form of an export; the real signature is restored here.
  entry = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(proc));
  return entry ? S_OK : CO_E_ERRORINDLL;
}

}  // namespace

extern "C" {

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
  if (reserved != nullptr) return E_INVALIDARG;
  bool multithreaded = (coInit & COINIT_APARTMENTTHREADED) == 0;
  if (t_com.count > 0) {
    if (t_com.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
    ++t_com.count;
    return S_FALSE;
  }
  t_com.count = 1;
  t_com.multithreaded = multithreaded;
  if (multithreaded) ++g_multithreaded;
  return S_OK;
}

void CoUninitialize(void) {
  if (t_com.count == 0) return;
  if (--t_com.count == 0 && t_com.multithreaded) --g_multithreaded;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
  if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
  try {
    std::string text;
    std::string name = Narrow(progId);
    if (name.empty() || ReadDefault(name + "\\CLSID", text) != ERROR_SUCCESS) return CO_E_CLASSSTRING;
    std::u16string wide = Widen(text);
    CLSID found;
    if (FAILED(CLSIDFromString(wide.c_str(), &found))) return CO_E_CLASSSTRING;
    *clsid = found;
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (progId == nullptr) return E_INVALIDARG;
  *progId = nullptr;
  try {
    std::string classKey = "CLSID\\" + GuidText(clsid);
    am::UniqueHkey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, classKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
      return REGDB_E_CLASSNOTREG;
    key.reset();
    std::string text;
    if (ReadDefault(classKey + "\\ProgID", text) != ERROR_SUCCESS || text.empty()) return REGDB_E_CLASSNOTREG;
    std::u16string wide = Widen(text);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (out == nullptr) return E_OUTOFMEMORY;
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, out);
    *progId = out;
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, COSERVERINFO* /*serverInfo*/, REFIID iid, LPVOID* out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = nullptr;
  if (!ThreadMayActivate()) return CO_E_NOTINITIALIZED;
  // Only in-process servers exist here.
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  try {
    std::string path;
    if (ReadDefault("CLSID\\" + GuidText(clsid) + "\\InprocServer32", path) != ERROR_SUCCESS || path.empty())
      return REGDB_E_CLASSNOTREG;
    GetClassObjectFn entry = nullptr;
    HRESULT hr = LoadServer(path, entry);
    if (FAILED(hr)) return hr;
    return entry(clsid, iid, out);
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (factory == nullptr) return E_UNEXPECTED;
  hr = factory->CreateInstance(outer, iid, out);
  factory->Release();
  return hr;
}

}  // extern "C"
