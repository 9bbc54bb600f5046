// Modules and their resources: LoadLibrary over dlopen, module handles that
// are mapping addresses, file names through dladdr, resources read from the
// module file's resource section.
#include <albumrt/module.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "resource_table.h"

namespace albumrt::modules {
namespace {

using resources::Entry;
using resources::Table;

struct DataFile {
  std::string path;
  std::shared_ptr<Table> table;
};

struct Loaded {
  void* dl = nullptr;
  long refs = 0;
};

struct Cached {
  std::string path;
  std::shared_ptr<Table> table;
};

struct State {
  std::mutex mutex;
  std::map<void*, Loaded> loaded;           // by mapping address
  std::unordered_set<DataFile*> dataFiles;  // handles are the pointer with bit 0 set
  std::map<void*, Cached> tables;           // resources of mapped modules
};

State& Modules() {
  // Never destroyed: module destructors at exit may still ask for resources.
  static State* state = new State();
  return *state;
}

bool IsDataFileHandle(HMODULE module) { return (reinterpret_cast<uintptr_t>(module) & 1u) != 0; }

DataFile* DataFileOf(State& s, HMODULE module) {
  if (!IsDataFileHandle(module)) return nullptr;
  auto* file = reinterpret_cast<DataFile*>(reinterpret_cast<uintptr_t>(module) & ~uintptr_t{1});
  return s.dataFiles.count(file) ? file : nullptr;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string OwnPath();

// A bare name of a platform library stands for this runtime.
bool IsPlatformLibrary(const std::string& name) {
  if (name.find('/') != std::string::npos) return false;
  std::string lower = Lower(name);
  for (const char* known : {"oleaut32", "ole32", "kernel32", "advapi32"}) {
    std::string k = known;
    if (lower == k || lower == k + ".dll") return true;
  }
  return false;
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/' || path.find('/') == std::string::npos) return path;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

// The path of the object mapped at base, or empty when base is not the
// start of a mapped object.
std::string PathOfBase(void* base) {
  Dl_info info{};
  if (base == nullptr || dladdr(base, &info) == 0 || info.dli_fbase != base) return {};
  std::string name = info.dli_fname ? info.dli_fname : "";
  // The main program reports the name it was started by (or nothing).
  Dl_info mainInfo{};
  void* mainHandle = dlopen(nullptr, RTLD_LAZY);
  bool isMain = false;
  if (mainHandle != nullptr) {
    struct link_map* map = nullptr;
    if (dlinfo(mainHandle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_ld != nullptr &&
        dladdr(map->l_ld, &mainInfo) != 0 && mainInfo.dli_fbase == base)
      isMain = true;
    dlclose(mainHandle);
  }
  if (isMain || name.empty()) {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return name;
    return std::string(buf, static_cast<size_t>(n));
  }
  if (name[0] != '/') {
    char resolved[PATH_MAX];
    if (realpath(name.c_str(), resolved) != nullptr) return resolved;
  }
  return name;
}

void* MainBase() {
  void* handle = dlopen(nullptr, RTLD_LAZY);
  if (handle == nullptr) return nullptr;
  void* base = nullptr;
  struct link_map* map = nullptr;
  Dl_info info{};
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_ld != nullptr &&
      dladdr(map->l_ld, &info) != 0)
    base = info.dli_fbase;
  dlclose(handle);
  return base;
}

std::string OwnPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnPath), &info) == 0) return {};
  return PathOfBase(info.dli_fbase);
}

// The resource table of a module handle (null: the main program).
DWORD TableFor(State& s, HMODULE module, std::shared_ptr<Table>& out) {
  if (IsDataFileHandle(module)) {
    DataFile* file = DataFileOf(s, module);
    if (file == nullptr) return ERROR_INVALID_HANDLE;
    out = file->table;
    return ERROR_SUCCESS;
  }
  void* base = module ? module : MainBase();
  std::string path = PathOfBase(base);
  if (path.empty()) return ERROR_MOD_NOT_FOUND;
  auto it = s.tables.find(base);
  if (it != s.tables.end() && it->second.path == path) {
    out = it->second.table;
    return ERROR_SUCCESS;
  }
  std::shared_ptr<Table> table;
  DWORD error = resources::ReadTable(path, table);
  if (error != ERROR_SUCCESS) return error;
  s.tables[base] = Cached{path, table};
  out = std::move(table);
  return ERROR_SUCCESS;
}

const Entry* FindEntry(State& s, HRSRC resource, const Table** owner) {
  auto inTable = [&](const Table& t) -> const Entry* {
    if (t.entries.empty()) return nullptr;
    auto* e = reinterpret_cast<const Entry*>(resource);
    if (e >= t.entries.data() && e < t.entries.data() + t.entries.size()) {
      *owner = &t;
      return e;
    }
    return nullptr;
  };
  for (DataFile* f : s.dataFiles)
    if (const Entry* e = inTable(*f->table)) return e;
  for (auto& [base, cached] : s.tables)
    if (const Entry* e = inTable(*cached.table)) return e;
  return nullptr;
}

std::string TypeKey(LPCSTR type) {
  if (IS_INTRESOURCE(type)) return "#" + std::to_string(LOWORD(type));
  std::string t(type);
  if (!t.empty() && t[0] == '#') {
    // "#10" and the integer 10 are the same type.
    char* end = nullptr;
    unsigned long n = std::strtoul(t.c_str() + 1, &end, 10);
    if (end != t.c_str() + 1 && *end == '\0' && n <= 0xFFFF) return "#" + std::to_string(n);
  }
  for (char& c : t)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return t;
}

// The integer id a resource name stands for, or -1.
long NameId(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return LOWORD(name);
  if (name[0] != '#') return -1;
  char* end = nullptr;
  unsigned long n = std::strtoul(name + 1, &end, 10);
  if (end == name + 1 || *end != '\0' || n > 0xFFFF) return -1;
  return static_cast<long>(n);
}

HMODULE Fail(DWORD error) {
  SetLastError(error);
  return nullptr;
}

}  // namespace
}  // namespace albumrt::modules

using namespace albumrt::modules;

extern "C" {

HMODULE LoadLibraryA(LPCSTR fileName) { return LoadLibraryExA(fileName, nullptr, 0); }

HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE reserved, DWORD flags) {
  if (fileName == nullptr || fileName[0] == '\0' || reserved != nullptr) return Fail(ERROR_INVALID_PARAMETER);
  try {
    State& s = Modules();
    std::string path = IsPlatformLibrary(fileName) ? OwnPath() : Absolute(fileName);
    // LOAD_LIBRARY_AS_DATAFILE, its exclusive form (0x40) and
    // LOAD_LIBRARY_AS_IMAGE_RESOURCE (0x20) all read resources only.
    if ((flags & (LOAD_LIBRARY_AS_DATAFILE | 0x20u | 0x40u)) != 0) {
      std::shared_ptr<albumrt::resources::Table> table;
      DWORD error = albumrt::resources::ReadTable(path, table);
      if (error != ERROR_SUCCESS) return Fail(error);
      auto* file = new DataFile{path, std::move(table)};
      std::lock_guard<std::mutex> guard(s.mutex);
      s.dataFiles.insert(file);
      return reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(file) | 1u);
    }
    void* dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dl == nullptr) {
      struct stat st {};
      bool exists = path.find('/') != std::string::npos && stat(path.c_str(), &st) == 0;
      return Fail(exists ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
    }
    struct link_map* map = nullptr;
    Dl_info info{};
    if (dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_ld == nullptr ||
        dladdr(map->l_ld, &info) == 0 || info.dli_fbase == nullptr) {
      dlclose(dl);
      return Fail(ERROR_BAD_EXE_FORMAT);
    }
    std::lock_guard<std::mutex> guard(s.mutex);
    Loaded& entry = s.loaded[info.dli_fbase];
    if (entry.refs > 0) {
      dlclose(dl);  // the same object again: one dlopen reference per entry is enough
    } else {
      entry.dl = dl;
    }
    ++entry.refs;
    return static_cast<HMODULE>(info.dli_fbase);
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  } catch (...) {
    // A failing lock: no exception leaves an export.
    return Fail(ERROR_GEN_FAILURE);
  }
}

BOOL FreeLibrary(HMODULE module) {
  State& s = Modules();
  void* toClose = nullptr;
  {
    std::lock_guard<std::mutex> guard(s.mutex);
    if (DataFile* file = DataFileOf(s, module)) {
      s.dataFiles.erase(file);
      delete file;
      return TRUE;
    }
    auto it = s.loaded.find(module);
    if (module == nullptr || it == s.loaded.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second.refs == 0) {
      toClose = it->second.dl;
      s.loaded.erase(it);
      s.tables.erase(module);
    }
  }
  // Outside the lock: the module's destructors may call back into us.
  if (toClose != nullptr) dlclose(toClose);
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (name == nullptr || IS_INTRESOURCE(name)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (IsDataFileHandle(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  try {
    void* base = module ? module : MainBase();
    void* dl = nullptr;
    bool borrowed = false;
    {
      State& s = Modules();
      std::lock_guard<std::mutex> guard(s.mutex);
      auto it = s.loaded.find(base);
      if (it != s.loaded.end()) dl = it->second.dl;
    }
    if (dl == nullptr) {
      std::string path = PathOfBase(base);
      if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
      }
      dl = module ? dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD) : dlopen(nullptr, RTLD_LAZY);
      if (dl == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
      }
      borrowed = true;
    }
    void* symbol = dlsym(dl, name);
    if (borrowed) dlclose(dl);
    // Only what the module itself exports, not what it links against.
    Dl_info info{};
    if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fbase != base) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  } catch (...) {
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  try {
    if (IsDataFileHandle(module)) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    std::string path = PathOfBase(module ? module : MainBase());
    if (path.empty()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    if (fileName == nullptr && size != 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if (path.size() < size) {
      std::memcpy(fileName, path.c_str(), path.size() + 1);
      return static_cast<DWORD>(path.size());
    }
    // Too small: as much as fits with its terminating zero, the buffer's
    // size as the result.
    if (size > 0) {
      std::memcpy(fileName, path.data(), size - 1);
      fileName[size - 1] = '\0';
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  } catch (...) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
  // Threads never notify modules here; the call only checks its handle.
  if (module == nullptr || IsDataFileHandle(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  if (name == nullptr || type == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  try {
    State& s = Modules();
    std::lock_guard<std::mutex> guard(s.mutex);
    std::shared_ptr<albumrt::resources::Table> table;
    DWORD error = TableFor(s, module, table);
    if (error != ERROR_SUCCESS) {
      SetLastError(error);
      return nullptr;
    }
    if (table->entries.empty()) {
      SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
      return nullptr;
    }
    std::string typeKey = TypeKey(type);
    long id = NameId(name);
    bool typeSeen = false;
    for (const auto& entry : table->entries) {
      if (entry.type != typeKey) continue;
      typeSeen = true;
      if (id >= 0 && entry.id == id) return reinterpret_cast<HRSRC>(const_cast<albumrt::resources::Entry*>(&entry));
    }
    SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  } catch (...) {
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
}

HGLOBAL LoadResource(HMODULE /*module*/, HRSRC resource) {
  State& s = Modules();
  std::lock_guard<std::mutex> guard(s.mutex);
  const albumrt::resources::Table* owner = nullptr;
  const albumrt::resources::Entry* entry = resource ? FindEntry(s, resource, &owner) : nullptr;
  if (entry == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // An empty resource still gets a non-null handle.
  return const_cast<BYTE*>(owner->bytes.data() + std::min<size_t>(entry->offset, owner->bytes.size()));
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE /*module*/, HRSRC resource) {
  State& s = Modules();
  std::lock_guard<std::mutex> guard(s.mutex);
  const albumrt::resources::Table* owner = nullptr;
  const albumrt::resources::Entry* entry = resource ? FindEntry(s, resource, &owner) : nullptr;
  if (entry == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return entry->size;
}

}  // extern "C"
