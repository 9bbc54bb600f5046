#include "serve_pictures.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace albummaker::host {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view Extension(std::string_view name) {
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
}

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
        if (name == entry->d_name) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsPictureFileName(std::string_view name) {
    if (!IsSingleComponent(name) || name.front() == '.') return false;
    const std::string_view ext = Extension(name);
    return EqualsIgnoringAsciiCase(ext, "jpg") || EqualsIgnoringAsciiCase(ext, "jpeg") ||
           EqualsIgnoringAsciiCase(ext, "gif");
}

const char* PictureContentType(std::string_view name) {
    return EqualsIgnoringAsciiCase(Extension(name), "gif") ? "image/gif" : "image/jpeg";
}

std::optional<OpenedPicture> OpenAlbumPicture(const std::string& folder, std::string_view name) {
    if (folder.empty() || !IsPictureFileName(name)) return std::nullopt;
    UniqueFd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.Valid()) return std::nullopt;

    if (!FolderLists(dirFd.Get(), name)) return std::nullopt;

    const std::string entry(name);
    struct stat linkInfo {};
    if (::fstatat(dirFd.Get(), entry.c_str(), &linkInfo, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;

    std::string target = entry;
    if (S_ISLNK(linkInfo.st_mode)) {
        // Only a link to a sibling in the same folder is served; its target
        // is read from the link itself, so nothing outside is looked at.
        char buffer[256];
        const ssize_t n = ::readlinkat(dirFd.Get(), entry.c_str(), buffer, sizeof buffer);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return std::nullopt;
        target.assign(buffer, static_cast<size_t>(n));
        if (!IsSingleComponent(target) || target.front() == '.') return std::nullopt;
    }

    OpenedPicture picture;
    picture.fd = UniqueFd(::openat(dirFd.Get(), target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!picture.fd.Valid()) return std::nullopt;
    if (::fstat(picture.fd.Get(), &picture.info) != 0 || !S_ISREG(picture.info.st_mode)) return std::nullopt;
    picture.contentType = PictureContentType(name);
    return picture;
}

}  // namespace albummaker::host
