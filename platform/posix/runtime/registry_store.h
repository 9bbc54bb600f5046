// The registry store: one key tree per predefined root, kept in a .reg text
// file that every process using the runtime shares.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_set>
#include <vector>

namespace albumrt::registry {

inline constexpr size_t kRootCount = 7;
// Levels below a root, as Windows allows; it also bounds the recursion over
// the tree.
inline constexpr size_t kMaxDepth = 512;

struct Value {
  std::string name;  // ANSI bytes; empty for the default value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::string name;       // ANSI bytes, one level
  Key* parent = nullptr;  // null for a root and for a deleted key
  bool deleted = false;
  uint64_t lastWrite = 0;                      // FILETIME units
  std::vector<Value> values;                   // in the order they were first set
  std::vector<std::shared_ptr<Key>> children;  // sorted by FoldedLess

  Key* FindChild(std::string_view childName) const;
  std::shared_ptr<Key> ChildPtr(std::string_view childName) const;
  // Inserts a new child in order and returns it.
  std::shared_ptr<Key> AddChild(std::string_view childName, uint64_t now);
  void RemoveChild(const Key* child);
  Value* FindValue(std::string_view valueName);
};

using Roots = std::array<std::shared_ptr<Key>, kRootCount>;

// ASCII-only case folding, as the key and value names of the registry compare.
bool FoldedEqual(std::string_view a, std::string_view b);
bool FoldedLess(std::string_view a, std::string_view b);

// Root index of a predefined key, or -1.
int RootIndex(HKEY key);
const char* RootName(size_t index);

// The text form of the tree (see registry_format.cpp for the rules).
std::string Serialize(const Roots& roots);
// Fills roots (fresh, empty trees) from text; false with a reason on a
// malformed file.
bool Parse(std::string_view text, Roots& roots, uint64_t stamp, std::string& error);

Roots MakeEmptyRoots(uint64_t stamp);

uint64_t NowFileTime();

// An open key handle: what an HKEY other than a predefined one points at.
struct OpenKey {
  std::shared_ptr<Key> key;
  REGSAM access = 0;
};

// Identity of the file version loaded last: a change in any field means
// another process (or a person) replaced the file.
struct FileIdentity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t mtimeSec = 0;
  int64_t mtimeNsec = 0;
  uint64_t generation = 0;
  bool operator==(const FileIdentity&) const = default;
};

class Store {
 public:
  static Store& Instance();

  // Runs op(roots, changed) with the tree brought up to date with the file,
  // under the process lock and the file lock (exclusive for a write). When a
  // write op sets changed, the tree is written out before the call returns;
  // if that fails the tree is put back as the file holds it and the failure
  // is returned instead of op's result.
  template <class Op>
  LSTATUS Run(bool write, Op&& op) {
    std::lock_guard<std::mutex> guard(mutex_);
    FileLock lock;
    LSTATUS status = Begin(write, lock);
    if (status != ERROR_SUCCESS) return status;
    bool changed = false;
    LSTATUS result;
    try {
      result = op(roots_, changed);
    } catch (...) {
      // A change cut short (out of memory) must not linger in the tree.
      if (write) Revert(lock);
      return ERROR_OUTOFMEMORY;
    }
    if (write && changed) {
      status = Persist(lock);
      if (status != ERROR_SUCCESS) {
        Revert(lock);
        return status;
      }
    }
    return result;
  }

  // Handle bookkeeping; call only from inside Run (the process lock is held).
  HKEY AddHandle(std::shared_ptr<Key> key, REGSAM access);
  // The key behind a handle: ERROR_INVALID_HANDLE, ERROR_KEY_DELETED or success.
  LSTATUS Resolve(HKEY handle, std::shared_ptr<Key>& key, REGSAM& access) const;

  LSTATUS Close(HKEY handle);

  // RegOverridePredefKey: the predefined root at index answers as the key
  // behind `with` (with that handle's rights) until `with` is null. Call
  // only from inside Run.
  LSTATUS OverrideRoot(size_t index, HKEY with);

 private:
  struct FileLock {
    int fd = -1;
    ~FileLock();
  };

  Store();
  LSTATUS Begin(bool write, FileLock& lock);
  LSTATUS Refresh(const FileLock& lock, bool force);
  LSTATUS Persist(FileLock& lock);
  void Revert(const FileLock& lock);
  void SwitchFile(const std::string& path);
  uint64_t ReadGeneration(const FileLock& lock) const;

  mutable std::mutex mutex_;
  std::string path_;
  Roots roots_;
  bool loaded_ = false;
  bool corrupt_ = false;
  FileIdentity identity_;
  std::unordered_set<OpenKey*> handles_;
  std::array<OpenKey, kRootCount> overrides_{};  // a null key: not overridden
  uint64_t tempCounter_ = 0;
};

// Where the store lives: $ALBUMMAKER_REGISTRY, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/albummaker/registry.reg.
std::string StorePath();

}  // namespace albumrt::registry
