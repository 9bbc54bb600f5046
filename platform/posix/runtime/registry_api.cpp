// The Reg*A functions over the registry store, with the Win32 result codes.
#include <algorithm>
#include <cstring>
#include <new>

#include "registry_store.h"

namespace albumrt::registry {
namespace {

constexpr LSTATUS kNoAccess = 998;     // ERROR_NOACCESS: a bad data pointer
constexpr LSTATUS kBadPathName = 161;  // ERROR_BAD_PATHNAME

// A sub key path may not start with a backslash.
bool BadStart(const char* subKey) { return subKey != nullptr && subKey[0] == '\\'; }

size_t Depth(const Key* key) {
  size_t depth = 0;
  for (; key != nullptr && key->parent != nullptr; key = key->parent) ++depth;
  return depth;
}

std::vector<std::string_view> SplitPath(const char* subKey) {
  std::vector<std::string_view> parts;
  if (subKey == nullptr) return parts;
  std::string_view path(subKey);
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool StorableName(std::string_view name) {
  // A line break cannot stand in a key's section line of the file.
  return name.find('\n') == std::string_view::npos && name.find('\r') == std::string_view::npos;
}

// Walks the existing keys of path under key; the deepest one found and how
// many parts matched.
size_t Walk(std::shared_ptr<Key>& key, const std::vector<std::string_view>& parts) {
  size_t i = 0;
  for (; i < parts.size(); ++i) {
    std::shared_ptr<Key> child = key->ChildPtr(parts[i]);
    if (!child) break;
    key = std::move(child);
  }
  return i;
}

template <class Op>
LSTATUS Guarded(bool write, Op&& op) {
  try {
    return Store::Instance().Run(write, std::forward<Op>(op));
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  } catch (...) {
    return ERROR_REGISTRY_IO_FAILED;
  }
}

void SetFileTime(PFILETIME out, uint64_t stamp) {
  if (out == nullptr) return;
  out->dwLowDateTime = static_cast<DWORD>(stamp);
  out->dwHighDateTime = static_cast<DWORD>(stamp >> 32);
}

// The key behind a handle, when the handle was opened with the rights an
// operation needs.
LSTATUS ResolveFor(HKEY handle, REGSAM required, std::shared_ptr<Key>& node) {
  REGSAM access = 0;
  const LSTATUS st = Store::Instance().Resolve(handle, node, access);
  if (st != ERROR_SUCCESS) return st;
  return (access & required) == 0 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

}  // namespace
}  // namespace albumrt::registry

using namespace albumrt::registry;

extern "C" {

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM access, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (BadStart(subKey)) return kBadPathName;
  Store& store = Store::Instance();
  return Guarded(false, [&](Roots&, bool&) -> LSTATUS {
    std::shared_ptr<Key> node;
    REGSAM parentAccess;
    LSTATUS st = store.Resolve(key, node, parentAccess);
    if (st != ERROR_SUCCESS) return st;
    auto parts = SplitPath(subKey);
    if (Walk(node, parts) != parts.size()) return ERROR_FILE_NOT_FOUND;
    HKEY handle = store.AddHandle(std::move(node), access);
    if (handle == nullptr) return ERROR_OUTOFMEMORY;
    *result = handle;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*cls*/, DWORD /*options*/, REGSAM access,
                        LPSECURITY_ATTRIBUTES /*security*/, PHKEY result, LPDWORD disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (BadStart(subKey)) return kBadPathName;
  Store& store = Store::Instance();
  HKEY made = nullptr;
  LSTATUS st = Guarded(true, [&](Roots&, bool& changed) -> LSTATUS {
    std::shared_ptr<Key> node;
    REGSAM parentAccess;
    LSTATUS rs = store.Resolve(key, node, parentAccess);
    if (rs != ERROR_SUCCESS) return rs;
    auto parts = SplitPath(subKey);
    size_t found = Walk(node, parts);
    bool created = false;
    if (found < parts.size()) {
      // Creating directly below the handle's key needs its create right.
      if (found == 0 && (parentAccess & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
      for (size_t i = found; i < parts.size(); ++i)
        if (!StorableName(parts[i])) return ERROR_INVALID_PARAMETER;
      if (Depth(node.get()) + (parts.size() - found) > kMaxDepth) return ERROR_INVALID_PARAMETER;
      uint64_t now = NowFileTime();
      for (size_t i = found; i < parts.size(); ++i) node = node->AddChild(parts[i], now);
      changed = true;
      created = true;
    }
    made = store.AddHandle(std::move(node), access);
    if (made == nullptr) return ERROR_OUTOFMEMORY;
    if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  });
  if (st != ERROR_SUCCESS) {
    // The change did not reach the file: the new handle is not handed out.
    if (made != nullptr) store.Close(made);
    return st;
  }
  *result = made;
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  try {
    return Store::Instance().Close(key);
  } catch (...) {
    return ERROR_INVALID_HANDLE;
  }
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  Store& store = Store::Instance();
  return Guarded(true, [&](Roots&, bool& changed) -> LSTATUS {
    std::shared_ptr<Key> node;
    REGSAM parentAccess;
    LSTATUS st = store.Resolve(key, node, parentAccess);
    if (st != ERROR_SUCCESS) return st;
    auto parts = SplitPath(subKey);
    if (Walk(node, parts) != parts.size()) return ERROR_FILE_NOT_FOUND;
    // A root cannot go, and neither can a key that still has sub keys.
    if (node->parent == nullptr || !node->children.empty()) return ERROR_ACCESS_DENIED;
    Key* parent = node->parent;
    parent->RemoveChild(node.get());
    parent->lastWrite = NowFileTime();
    node->deleted = true;
    node->parent = nullptr;
    node->values.clear();
    changed = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  std::string_view name = valueName ? valueName : "";
  return Guarded(true, [&](Roots&, bool& changed) -> LSTATUS {
    std::shared_ptr<Key> node;
    LSTATUS st = ResolveFor(key, KEY_SET_VALUE, node);
    if (st != ERROR_SUCCESS) return st;
    auto it = std::find_if(node->values.begin(), node->values.end(),
                           [&](const Value& v) { return FoldedEqual(v.name, name); });
    if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
    node->values.erase(it);
    node->lastWrite = NowFileTime();
    changed = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data, DWORD size) {
  if (data == nullptr && size != 0) return kNoAccess;
  std::string_view name = valueName ? valueName : "";
  return Guarded(true, [&](Roots&, bool& changed) -> LSTATUS {
    std::shared_ptr<Key> node;
    LSTATUS st = ResolveFor(key, KEY_SET_VALUE, node);
    if (st != ERROR_SUCCESS) return st;
    Value* v = node->FindValue(name);
    if (v == nullptr) {
      node->values.push_back(Value{std::string(name), type, {}});
      v = &node->values.back();
    }
    v->type = type;
    v->data.assign(data, data + size);
    node->lastWrite = NowFileTime();
    changed = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  std::string_view name = valueName ? valueName : "";
  return Guarded(false, [&](Roots&, bool&) -> LSTATUS {
    std::shared_ptr<Key> node;
    LSTATUS st = ResolveFor(key, KEY_QUERY_VALUE, node);
    if (st != ERROR_SUCCESS) return st;
    const Value* v = node->FindValue(name);
    if (v == nullptr) return ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = v->type;
    DWORD needed = static_cast<DWORD>(v->data.size());
    if (data != nullptr) {
      if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
      }
      if (needed != 0) std::memcpy(data, v->data.data(), needed);
    }
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR cls, LPDWORD clsSize,
                      PFILETIME lastWrite) {
  if (name == nullptr || nameSize == nullptr || reserved != nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded(false, [&](Roots&, bool&) -> LSTATUS {
    std::shared_ptr<Key> node;
    LSTATUS st = ResolveFor(key, KEY_ENUMERATE_SUB_KEYS, node);
    if (st != ERROR_SUCCESS) return st;
    if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    const Key& child = *node->children[index];
    if (child.name.size() + 1 > *nameSize) return ERROR_MORE_DATA;
    std::memcpy(name, child.name.c_str(), child.name.size() + 1);
    *nameSize = static_cast<DWORD>(child.name.size());
    if (cls != nullptr && clsSize != nullptr && *clsSize > 0) cls[0] = '\0';
    if (clsSize != nullptr) *clsSize = 0;
    SetFileTime(lastWrite, child.lastWrite);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
  if (name == nullptr || nameSize == nullptr || reserved != nullptr || (data != nullptr && dataSize == nullptr))
    return ERROR_INVALID_PARAMETER;
  return Guarded(false, [&](Roots&, bool&) -> LSTATUS {
    std::shared_ptr<Key> node;
    LSTATUS st = ResolveFor(key, KEY_QUERY_VALUE, node);
    if (st != ERROR_SUCCESS) return st;
    if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& v = node->values[index];
    if (v.name.size() + 1 > *nameSize) return ERROR_MORE_DATA;
    std::memcpy(name, v.name.c_str(), v.name.size() + 1);
    *nameSize = static_cast<DWORD>(v.name.size());
    if (type != nullptr) *type = v.type;
    DWORD needed = static_cast<DWORD>(v.data.size());
    if (data != nullptr) {
      if (*dataSize < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
      }
      if (needed != 0) std::memcpy(data, v.data.data(), needed);
    }
    if (dataSize != nullptr) *dataSize = needed;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR cls, LPDWORD clsSize, LPDWORD reserved, LPDWORD subKeys, LPDWORD maxSubKeyLen,
                         LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen, LPDWORD maxValueLen,
                         LPDWORD securityDescriptor, PFILETIME lastWrite) {
  if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded(false, [&](Roots&, bool&) -> LSTATUS {
    std::shared_ptr<Key> node;
    LSTATUS st = ResolveFor(key, KEY_QUERY_VALUE, node);
    if (st != ERROR_SUCCESS) return st;
    size_t longestKey = 0, longestName = 0, longestData = 0;
    for (const auto& child : node->children) longestKey = std::max(longestKey, child->name.size());
    for (const Value& v : node->values) {
      longestName = std::max(longestName, v.name.size());
      longestData = std::max(longestData, v.data.size());
    }
    if (cls != nullptr && clsSize != nullptr && *clsSize > 0) cls[0] = '\0';
    if (clsSize != nullptr) *clsSize = 0;
    if (subKeys != nullptr) *subKeys = static_cast<DWORD>(node->children.size());
    if (maxSubKeyLen != nullptr) *maxSubKeyLen = static_cast<DWORD>(longestKey);
    if (maxClassLen != nullptr) *maxClassLen = 0;
    if (values != nullptr) *values = static_cast<DWORD>(node->values.size());
    if (maxValueNameLen != nullptr) *maxValueNameLen = static_cast<DWORD>(longestName);
    if (maxValueLen != nullptr) *maxValueLen = static_cast<DWORD>(longestData);
    if (securityDescriptor != nullptr) *securityDescriptor = 0;
    SetFileTime(lastWrite, node->lastWrite);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegOverridePredefKey(HKEY key, HKEY newKey) {
  const int root = RootIndex(key);
  if (root < 0) return ERROR_INVALID_HANDLE;
  Store& store = Store::Instance();
  return Guarded(false,
                 [&](Roots&, bool&) -> LSTATUS { return store.OverrideRoot(static_cast<size_t>(root), newKey); });
}

}  // extern "C"
