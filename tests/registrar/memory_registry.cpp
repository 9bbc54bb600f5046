#include "memory_registry.h"

#include <algorithm>
#include <cstring>

namespace albummaker::testing {

namespace {

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Fold(x) < Fold(y); });
}

std::string StoredValue::text() const {
  std::string s(data.begin(), data.end());
  if (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

MemoryRegistry::MemoryRegistry() {
  const std::pair<const char*, HKEY> roots[] = {
      {"HKCR", HKEY_CLASSES_ROOT},     {"HKCU", HKEY_CURRENT_USER}, {"HKLM", HKEY_LOCAL_MACHINE},  {"HKU", HKEY_USERS},
      {"HKPD", HKEY_PERFORMANCE_DATA}, {"HKDD", HKEY_DYN_DATA},     {"HKCC", HKEY_CURRENT_CONFIG},
  };
  for (const auto& [name, key] : roots) {
    auto node = std::make_shared<Node>();
    node->path = name;
    roots_[key] = node;
    rootNames_[name] = key;
  }
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::Resolve(HKEY key, LONG* error) const {
  auto root = roots_.find(key);
  if (root != roots_.end()) return root->second;
  auto handle = handles_.find(reinterpret_cast<std::uintptr_t>(key));
  if (handle == handles_.end()) {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (handle->second.node->deleted) {
    *error = ERROR_KEY_DELETED;
    return nullptr;
  }
  return handle->second.node;
}

HKEY MemoryRegistry::NewHandle(std::shared_ptr<Node> node, REGSAM access) {
  std::uintptr_t id = nextHandle_;
  nextHandle_ += 4;
  handles_[id] = Handle{std::move(node), access};
  return reinterpret_cast<HKEY>(id);
}

LONG MemoryRegistry::OpenKey(HKEY parent, LPCSTR name, REGSAM access, HKEY* result) {
  *result = nullptr;
  LONG error = ERROR_SUCCESS;
  auto node = Resolve(parent, &error);
  if (!node) return error;
  if (name != nullptr && *name != '\0') {
    for (const auto& part : Split(name)) {
      auto child = node->children.find(part);
      if (child == node->children.end()) return ERROR_FILE_NOT_FOUND;
      node = child->second;
    }
  }
  if (Has(hidden_, node->path)) return ERROR_FILE_NOT_FOUND;
  if ((access & kWriteAccess) != 0 && Has(readOnly_, node->path)) return ERROR_ACCESS_DENIED;
  *result = NewHandle(node, access);
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::CreateKey(HKEY parent, LPCSTR name, HKEY* result) {
  *result = nullptr;
  LONG error = ERROR_SUCCESS;
  auto node = Resolve(parent, &error);
  if (!node) return error;
  if (name == nullptr) return ERROR_INVALID_PARAMETER;
  if (*name == '\0') return OpenKey(parent, name, KEY_ALL_ACCESS, result);  // the key itself, as Windows does
  auto handle = handles_.find(reinterpret_cast<std::uintptr_t>(parent));
  if (handle != handles_.end() && (handle->second.access & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
  for (const auto& part : Split(name)) {
    if (part.empty()) return ERROR_INVALID_PARAMETER;
    auto child = node->children.find(part);
    if (child != node->children.end()) {
      node = child->second;
      continue;
    }
    std::string path = node->path + "\\" + part;
    if (Has(failCreate_, path) || Has(hidden_, path)) return ERROR_ACCESS_DENIED;
    auto created = std::make_shared<Node>();
    created->path = path;
    node->children[part] = created;
    node = created;
  }
  if (Has(hidden_, node->path) || Has(readOnly_, node->path)) return ERROR_ACCESS_DENIED;
  *result = NewHandle(node, KEY_ALL_ACCESS);
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::CloseKey(HKEY key) {
  auto handle = handles_.find(reinterpret_cast<std::uintptr_t>(key));
  if (handle == handles_.end()) {
    ++bad_closes_;
    return ERROR_INVALID_HANDLE;
  }
  std::string path = handle->second.node->path;
  handles_.erase(handle);
  return Has(failClose_, path) ? ERROR_BADKEY : ERROR_SUCCESS;
}

LONG MemoryRegistry::DeleteKey(HKEY parent, LPCSTR name) {
  ++deletions_;
  LONG error = ERROR_SUCCESS;
  auto node = Resolve(parent, &error);
  if (!node) return error;
  if (name == nullptr) return ERROR_INVALID_PARAMETER;
  if (*name == '\0') {
    // As on Windows, an empty name deletes the key itself.
    if (roots_.count(parent) != 0) return ERROR_ACCESS_DENIED;
    if (Has(refuseDelete_, node->path) || Has(readOnly_, node->path) || !node->children.empty()) {
      return ERROR_ACCESS_DENIED;
    }
    auto owner = Find(node->path.substr(0, node->path.rfind('\\')));
    node->deleted = true;
    if (owner) owner->children.erase(node->path.substr(node->path.rfind('\\') + 1));
    return ERROR_SUCCESS;
  }
  auto parts = Split(name);
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    auto child = node->children.find(parts[i]);
    if (child == node->children.end()) return ERROR_FILE_NOT_FOUND;
    node = child->second;
  }
  auto target = node->children.find(parts.back());
  if (target == node->children.end()) return ERROR_FILE_NOT_FOUND;
  if (Has(refuseDelete_, target->second->path) || Has(readOnly_, target->second->path)) return ERROR_ACCESS_DENIED;
  if (!target->second->children.empty()) return ERROR_ACCESS_DENIED;
  target->second->deleted = true;
  node->children.erase(target);
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::DeleteValue(HKEY key, LPCSTR name) {
  LONG error = ERROR_SUCCESS;
  auto node = Resolve(key, &error);
  if (!node) return error;
  auto handle = handles_.find(reinterpret_cast<std::uintptr_t>(key));
  if (handle != handles_.end() && (handle->second.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (refuseAllWrites_ || Has(refuseWrites_, node->path)) return ERROR_ACCESS_DENIED;
  return node->values.erase(name == nullptr ? "" : name) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG MemoryRegistry::SetValue(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size) {
  ++writes_;
  LONG error = ERROR_SUCCESS;
  auto node = Resolve(key, &error);
  if (!node) return error;
  auto handle = handles_.find(reinterpret_cast<std::uintptr_t>(key));
  if (handle != handles_.end() && (handle->second.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (refuseAllWrites_ || Has(refuseWrites_, node->path)) return ERROR_ACCESS_DENIED;
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  StoredValue value;
  value.type = type;
  if (size != 0) value.data.assign(data, data + size);
  node->values[name == nullptr ? "" : name] = std::move(value);
  return ERROR_SUCCESS;
}

namespace {

LONG CopyName(const std::string& source, LPSTR name, DWORD* size) {
  if (source.size() + 1 > *size) return ERROR_MORE_DATA;
  std::memcpy(name, source.c_str(), source.size() + 1);
  *size = static_cast<DWORD>(source.size());
  return ERROR_SUCCESS;
}

}  // namespace

LONG MemoryRegistry::FirstSubKeyName(HKEY key, LPSTR name, DWORD* size) {
  LONG error = ERROR_SUCCESS;
  auto node = Resolve(key, &error);
  if (!node) return error;
  if (node->children.empty()) return ERROR_NO_MORE_ITEMS;
  return CopyName(node->children.begin()->first, name, size);
}

LONG MemoryRegistry::FirstValueName(HKEY key, LPSTR name, DWORD* size) {
  LONG error = ERROR_SUCCESS;
  auto node = Resolve(key, &error);
  if (!node) return error;
  if (node->values.empty()) return ERROR_NO_MORE_ITEMS;
  return CopyName(node->values.begin()->first, name, size);
}

LONG MemoryRegistry::QueryCounts(HKEY key, DWORD* subKeys, DWORD* values) {
  *subKeys = 0;
  *values = 0;
  LONG error = ERROR_SUCCESS;
  auto node = Resolve(key, &error);
  if (!node) return error;
  *subKeys = static_cast<DWORD>(node->children.size());
  *values = static_cast<DWORD>(node->values.size());
  return ERROR_SUCCESS;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::Find(const std::string& path) const {
  auto parts = Split(path);
  auto root = rootNames_.find(parts[0]);
  if (root == rootNames_.end()) return nullptr;
  auto node = roots_.at(root->second);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    auto child = node->children.find(parts[i]);
    if (child == node->children.end()) return nullptr;
    node = child->second;
  }
  return node;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::MakePath(const std::string& path) {
  auto parts = Split(path);
  auto node = roots_.at(rootNames_.at(parts[0]));
  for (std::size_t i = 1; i < parts.size(); ++i) {
    auto& child = node->children[parts[i]];
    if (!child) {
      child = std::make_shared<Node>();
      child->path = node->path + "\\" + parts[i];
    }
    node = child;
  }
  return node;
}

void MemoryRegistry::AddKey(const std::string& path) { MakePath(path); }

void MemoryRegistry::AddValue(const std::string& path, const std::string& name, const StoredValue& value) {
  MakePath(path)->values[name] = value;
}

void MemoryRegistry::AddString(const std::string& path, const std::string& name, const std::string& text) {
  StoredValue value;
  value.type = REG_SZ;
  value.data.assign(text.begin(), text.end());
  value.data.push_back(0);
  AddValue(path, name, value);
}

bool MemoryRegistry::HasKey(const std::string& path) const { return Find(path) != nullptr; }

std::optional<StoredValue> MemoryRegistry::Value(const std::string& path, const std::string& name) const {
  auto node = Find(path);
  if (!node) return std::nullopt;
  auto value = node->values.find(name);
  if (value == node->values.end()) return std::nullopt;
  return value->second;
}

std::vector<std::string> MemoryRegistry::SubKeys(const std::string& path) const {
  std::vector<std::string> names;
  if (auto node = Find(path)) {
    for (const auto& child : node->children) names.push_back(child.first);
  }
  return names;
}

std::size_t MemoryRegistry::ValueCount(const std::string& path) const {
  auto node = Find(path);
  return node ? node->values.size() : 0;
}

void MemoryRegistry::DumpNode(const Node& node, std::string& out) const {
  out += "[" + node.path + "]\n";
  static const char digits[] = "0123456789abcdef";
  for (const auto& [name, value] : node.values) {
    out += "  \"" + name + "\" type " + std::to_string(value.type) + " ";
    for (BYTE b : value.data) {
      out += digits[b >> 4];
      out += digits[b & 15];
    }
    out += "\n";
  }
  for (const auto& child : node.children) DumpNode(*child.second, out);
}

std::string MemoryRegistry::Dump() const {
  std::string out;
  for (const auto& [name, key] : rootNames_) DumpNode(*roots_.at(key), out);
  return out;
}

}  // namespace albummaker::testing
