// An in-memory registry for exercising the script interpreter, with faults
// that can be switched on per key: refused writes, failing closes, keys that
// will not open, refused deletions, failing creations.
//
// Keys are addressed by paths such as "HKCR\Some\Key" (names compared
// without regard to ASCII case). It is not thread-safe.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "registry.h"

namespace albummaker::testing {

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct StoredValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;

  std::string text() const;  // REG_SZ data without its zero
  bool operator==(const StoredValue&) const = default;
};

class MemoryRegistry final : public Registry {
 public:
  MemoryRegistry();

  // Registry
  LONG OpenKey(HKEY parent, LPCSTR name, REGSAM access, HKEY* result) override;
  LONG CreateKey(HKEY parent, LPCSTR name, HKEY* result) override;
  LONG CloseKey(HKEY key) override;
  LONG DeleteKey(HKEY parent, LPCSTR name) override;
  LONG DeleteValue(HKEY key, LPCSTR name) override;
  LONG SetValue(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size) override;
  LONG FirstSubKeyName(HKEY key, LPSTR name, DWORD* size) override;
  LONG FirstValueName(HKEY key, LPSTR name, DWORD* size) override;
  LONG QueryCounts(HKEY key, DWORD* subKeys, DWORD* values) override;

  // Seeding and inspection.
  void AddKey(const std::string& path);
  void AddValue(const std::string& path, const std::string& name, const StoredValue& value);
  void AddString(const std::string& path, const std::string& name, const std::string& text);
  bool HasKey(const std::string& path) const;
  std::optional<StoredValue> Value(const std::string& path, const std::string& name) const;
  std::vector<std::string> SubKeys(const std::string& path) const;
  std::size_t ValueCount(const std::string& path) const;
  // The whole tree as text, for comparing states.
  std::string Dump() const;

  std::size_t open_handles() const { return handles_.size(); }
  std::size_t writes() const { return writes_; }
  std::size_t deletions() const { return deletions_; }
  // Closes of handles that were not open (predefined keys among them).
  std::size_t bad_closes() const { return bad_closes_; }

  // Faults. Paths name keys as above; each fault stays until cleared.
  void RefuseWrites(bool on) { refuseAllWrites_ = on; }
  void RefuseWritesTo(const std::string& path) { refuseWrites_.insert(path); }
  void FailCloseOf(const std::string& path) { failClose_.insert(path); }
  void HideKey(const std::string& path) { hidden_.insert(path); }        // opens fail, creates fail
  void ReadOnlyKey(const std::string& path) { readOnly_.insert(path); }  // only read access; no deletion
  void RefuseDeleteOf(const std::string& path) { refuseDelete_.insert(path); }
  void FailCreateOf(const std::string& path) { failCreate_.insert(path); }

 private:
  struct Node {
    std::string path;
    bool deleted = false;
    std::map<std::string, std::shared_ptr<Node>, CaseInsensitiveLess> children;
    std::map<std::string, StoredValue, CaseInsensitiveLess> values;
  };
  struct Handle {
    std::shared_ptr<Node> node;
    REGSAM access;
  };

  std::shared_ptr<Node> Resolve(HKEY key, LONG* error) const;
  std::shared_ptr<Node> Find(const std::string& path) const;
  std::shared_ptr<Node> MakePath(const std::string& path);
  HKEY NewHandle(std::shared_ptr<Node> node, REGSAM access);
  void DumpNode(const Node& node, std::string& out) const;
  static bool Has(const std::set<std::string, CaseInsensitiveLess>& set, const std::string& path) {
    return set.count(path) != 0;
  }

  std::map<HKEY, std::shared_ptr<Node>> roots_;
  std::map<std::string, HKEY, CaseInsensitiveLess> rootNames_;
  std::map<std::uintptr_t, Handle> handles_;
  std::uintptr_t nextHandle_ = 0x1000;
  std::size_t writes_ = 0;
  std::size_t deletions_ = 0;
  std::size_t bad_closes_ = 0;

  bool refuseAllWrites_ = false;
  std::set<std::string, CaseInsensitiveLess> refuseWrites_, failClose_, hidden_, readOnly_, refuseDelete_, failCreate_;
};

}  // namespace albummaker::testing
