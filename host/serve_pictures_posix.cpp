// Album pictures on POSIX: names are bytes (the UTF-16 name turns back into
// them, escaped bytes included), opened relative to the folder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "owners.h"
#include "serve_pictures.h"
#include "text.h"

namespace albummaker::host {
namespace {

class PosixPicture final : public PictureFile {
 public:
  explicit PosixPicture(int fd) : fd_(fd) {}
  std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t n) override {
    while (true) {
      const ssize_t got = ::pread(fd_.get(), buffer, n, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      return got;
    }
  }

 private:
  am::UniqueFd fd_;
};

bool IsSingleComponent(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

// Whether `dirFd` lists an entry called exactly `name` right now.
bool FolderLists(int dirFd, std::string_view name) {
  const int listFd = ::dup(dirFd);
  if (listFd < 0) return false;
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(listFd));
  if (!dir) {
    ::close(listFd);
    return false;
  }
  ::rewinddir(dir.get());
  while (const dirent* entry = ::readdir(dir.get())) {
    if (name == entry->d_name) return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<PictureFile> OpenAlbumPicture(const std::string& folder, std::u16string_view name) {
  if (folder.empty() || !IsPictureFileName(name)) return nullptr;
  const std::string entry = Utf16ToUtf8(name);
  am::UniqueFd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd || !FolderLists(dirFd.get(), entry)) return nullptr;

  struct stat linkInfo {};
  if (::fstatat(dirFd.get(), entry.c_str(), &linkInfo, AT_SYMLINK_NOFOLLOW) != 0) return nullptr;
  std::string target = entry;
  if (S_ISLNK(linkInfo.st_mode)) {
    // Only a link to a sibling in the same folder is served; its target
    // is read from the link itself, so nothing outside is looked at.
    char buffer[256];
    const ssize_t n = ::readlinkat(dirFd.get(), entry.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return nullptr;
    target.assign(buffer, static_cast<size_t>(n));
    if (!IsSingleComponent(target) || target.front() == '.') return nullptr;
  }

  am::UniqueFd fd(::openat(dirFd.get(), target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  auto picture = std::make_unique<PosixPicture>(fd.release());
  picture->size = static_cast<std::uint64_t>(info.st_size);
  picture->modifiedSeconds = info.st_mtim.tv_sec;
  picture->modifiedVersion = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000ULL +
                             static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
  picture->contentType = PictureContentType(name);
  return picture;
}

}  // namespace albummaker::host
