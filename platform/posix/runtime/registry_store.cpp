// Keeping the key tree in step with its file.
//
// Every change rewrites the whole file: the new text goes to a temporary
// file beside it, is flushed to disk and renamed over the old one, so a
// reader (or a crash) sees the old or the new file whole, never a mix.
// Writers take an exclusive flock on "<file>.lock" and first re-read the file
// when another process changed it, so concurrent registrations all survive.
// The lock file also carries a generation number that each writer raises,
// which tells a change even when the file's inode number is reused.
// A file that does not parse is never written over: every call reports
// ERROR_REGISTRY_CORRUPT until someone repairs or removes it.
#include "registry_store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

namespace albumrt::registry {
namespace {

std::string Dir(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p for the folder of the default location.
void MakeDirs(const std::string& dir) {
  if (dir.empty()) return;
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) return;
  MakeDirs(Dir(dir));
  mkdir(dir.c_str(), 0700);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, std::string& out) {
  out.clear();
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
  }
}

FileIdentity IdentityOf(const struct stat& st, uint64_t generation) {
  FileIdentity id;
  id.exists = true;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.mtimeSec = st.st_mtim.tv_sec;
  id.mtimeNsec = st.st_mtim.tv_nsec;
  id.generation = generation;
  return id;
}

// Moves what `fresh` holds into the live tree so that open handles keep
// pointing at the same key objects; keys that vanished are marked deleted.
void MarkDeleted(Key& key) {
  key.deleted = true;
  key.parent = nullptr;
  for (auto& child : key.children) MarkDeleted(*child);
  key.children.clear();
  key.values.clear();
}

void Graft(Key& live, Key& fresh) {
  live.values = std::move(fresh.values);
  live.lastWrite = fresh.lastWrite;
  std::vector<std::shared_ptr<Key>> merged;
  merged.reserve(fresh.children.size());
  for (auto& child : fresh.children) {
    std::shared_ptr<Key> old = live.ChildPtr(child->name);
    if (old) {
      live.RemoveChild(old.get());
      old->name = child->name;
      Graft(*old, *child);
      merged.push_back(old);
    } else {
      child->parent = &live;
      merged.push_back(child);
    }
  }
  for (auto& gone : live.children) MarkDeleted(*gone);
  live.children = std::move(merged);
}

// Temporary files are only ever written under the exclusive lock, so one
// found while holding it was left by a writer that died.
void RemoveStaleTemporaries(const std::string& dir, const std::string& path) {
  size_t slash = path.rfind('/');
  std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp.";
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) return;
  while (dirent* entry = readdir(folder)) {
    if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) unlinkat(dirfd(folder), entry->d_name, 0);
  }
  closedir(folder);
}

}  // namespace

std::string StorePath() {
  const char* explicitPath = std::getenv("ALBUMMAKER_REGISTRY");
  if (explicitPath != nullptr && explicitPath[0] != '\0') return explicitPath;
  std::string base;
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
      struct passwd pw {};
      struct passwd* found = nullptr;
      char buf[4096];
      if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr) home = found->pw_dir;
    }
    base = std::string(home ? home : "") + "/.local/share";
  }
  return base + "/albummaker/registry.reg";
}

Store& Store::Instance() {
  // Never destroyed: module destructors may still use the registry at exit.
  static Store* store = new Store();
  return *store;
}

Store::Store() : roots_(MakeEmptyRoots(NowFileTime())) {}

Store::FileLock::~FileLock() {
  if (fd >= 0) close(fd);  // closing drops the flock
}

void Store::SwitchFile(const std::string& path) {
  for (auto& root : roots_) {
    for (auto& child : root->children) MarkDeleted(*child);
    root->children.clear();
    root->values.clear();
  }
  path_ = path;
  loaded_ = false;
  corrupt_ = false;
  identity_ = FileIdentity{};
}

uint64_t Store::ReadGeneration(const FileLock& lock) const {
  if (lock.fd < 0) return 0;
  char buf[32] = {};
  ssize_t n = pread(lock.fd, buf, sizeof buf - 1, 0);
  if (n <= 0) return 0;
  return std::strtoull(buf, nullptr, 10);
}

LSTATUS Store::Begin(bool write, FileLock& lock) {
  std::string path = StorePath();
  if (path != path_) SwitchFile(path);
  std::string lockPath = path + ".lock";
  if (write) MakeDirs(Dir(path));
  lock.fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lock.fd < 0 && !write) lock.fd = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (lock.fd < 0) {
    // Reading without a lock is still safe (the file is only ever replaced
    // whole); writing is not.
    if (write) return ERROR_REGISTRY_IO_FAILED;
  } else {
    int rc;
    do {
      rc = flock(lock.fd, write ? LOCK_EX : LOCK_SH);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return ERROR_REGISTRY_IO_FAILED;
  }
  return Refresh(lock, false);
}

LSTATUS Store::Refresh(const FileLock& lock, bool force) {
  uint64_t generation = ReadGeneration(lock);
  struct stat st {};
  FileIdentity now;
  if (stat(path_.c_str(), &st) == 0) {
    now = IdentityOf(st, generation);
  } else if (errno == ENOENT) {
    now.generation = generation;
  } else {
    return ERROR_REGISTRY_IO_FAILED;
  }
  if (!force && loaded_ && now == identity_) return corrupt_ ? ERROR_REGISTRY_CORRUPT : ERROR_SUCCESS;

  std::string text;
  uint64_t stamp = NowFileTime();
  if (now.exists) {
    int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) return ERROR_REGISTRY_IO_FAILED;
    if (fd >= 0) {
      struct stat opened {};
      bool ok = fstat(fd, &opened) == 0 && ReadAll(fd, text);
      close(fd);
      if (!ok) return ERROR_REGISTRY_IO_FAILED;
      now = IdentityOf(opened, generation);
      stamp = static_cast<uint64_t>(opened.st_mtim.tv_sec) * 10000000u +
              static_cast<uint64_t>(opened.st_mtim.tv_nsec) / 100u + 116444736000000000ull;
    } else {
      now = FileIdentity{};
      now.generation = generation;
    }
  }
  Roots fresh = MakeEmptyRoots(stamp);
  if (now.exists) {
    std::string error;
    if (!Parse(text, fresh, stamp, error)) {
      loaded_ = true;
      corrupt_ = true;
      identity_ = now;
      return ERROR_REGISTRY_CORRUPT;
    }
  }
  for (size_t i = 0; i < kRootCount; ++i) Graft(*roots_[i], *fresh[i]);
  loaded_ = true;
  corrupt_ = false;
  identity_ = now;
  return ERROR_SUCCESS;
}

LSTATUS Store::Persist(FileLock& lock) {
  std::string text;
  try {
    text = Serialize(roots_);
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
  std::string dir = Dir(path_);
  RemoveStaleTemporaries(dir, path_);
  std::string temp = path_ + ".tmp." + std::to_string(getpid()) + "." + std::to_string(++tempCounter_);
  mode_t mode = 0644;
  struct stat old {};
  if (stat(path_.c_str(), &old) == 0) mode = old.st_mode & 07777;
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return ERROR_REGISTRY_IO_FAILED;
  bool ok = WriteAll(fd, text) && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (!ok || rename(temp.c_str(), path_.c_str()) != 0) {
    unlink(temp.c_str());
    return ERROR_REGISTRY_IO_FAILED;
  }
  int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  uint64_t generation = ReadGeneration(lock) + 1;
  if (lock.fd >= 0) {
    std::string g = std::to_string(generation) + "\n";
    if (ftruncate(lock.fd, 0) != 0 || pwrite(lock.fd, g.data(), g.size(), 0) != static_cast<ssize_t>(g.size()))
      generation = 0;  // the stat fields still tell the next change
  }
  struct stat st {};
  if (stat(path_.c_str(), &st) == 0) {
    identity_ = IdentityOf(st, generation);
  } else {
    loaded_ = false;
  }
  return ERROR_SUCCESS;
}

void Store::Revert(const FileLock& lock) {
  // Put the tree back as the file holds it; a failure leaves it marked for
  // the next call to read again.
  if (Refresh(lock, true) != ERROR_SUCCESS) loaded_ = false;
}

HKEY Store::AddHandle(std::shared_ptr<Key> key, REGSAM access) {
  auto* open = new (std::nothrow) OpenKey{std::move(key), access};
  if (open == nullptr) return nullptr;
  try {
    handles_.insert(open);
  } catch (...) {
    delete open;
    return nullptr;
  }
  return reinterpret_cast<HKEY>(open);
}

LSTATUS Store::Resolve(HKEY handle, std::shared_ptr<Key>& key, REGSAM& access) const {
  int root = RootIndex(handle);
  if (root >= 0) {
    const OpenKey& instead = overrides_[static_cast<size_t>(root)];
    if (instead.key) {
      if (instead.key->deleted) return ERROR_KEY_DELETED;
      key = instead.key;
      access = instead.access;
      return ERROR_SUCCESS;
    }
    key = roots_[static_cast<size_t>(root)];
    access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  auto* open = reinterpret_cast<OpenKey*>(handle);
  if (handle == nullptr || handles_.find(open) == handles_.end()) return ERROR_INVALID_HANDLE;
  if (open->key->deleted) return ERROR_KEY_DELETED;
  key = open->key;
  access = open->access;
  return ERROR_SUCCESS;
}

LSTATUS Store::OverrideRoot(size_t index, HKEY with) {
  if (index >= kRootCount) return ERROR_INVALID_HANDLE;
  if (with == nullptr) {
    overrides_[index] = OpenKey{};
    return ERROR_SUCCESS;
  }
  // The key itself is kept, not the handle: the caller may close it.
  OpenKey instead;
  const LSTATUS st = Resolve(with, instead.key, instead.access);
  if (st != ERROR_SUCCESS) return st;
  overrides_[index] = std::move(instead);
  return ERROR_SUCCESS;
}

LSTATUS Store::Close(HKEY handle) {
  if (RootIndex(handle) >= 0) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> guard(mutex_);
  auto* open = reinterpret_cast<OpenKey*>(handle);
  auto it = handles_.find(open);
  if (handle == nullptr || it == handles_.end()) return ERROR_INVALID_HANDLE;
  handles_.erase(it);
  delete open;
  return ERROR_SUCCESS;
}

}  // namespace albumrt::registry
