// The picture files of an album folder, as the album server hands them out.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>

namespace albummaker::host {

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

// True when `name` could be a picture of an album: a single, non-hidden path
// component without "\" or NUL whose extension is jpg, jpeg or gif in any
// ASCII case.
bool IsPictureFileName(std::string_view name);

// "image/jpeg" or "image/gif" for a picture file name.
const char* PictureContentType(std::string_view name);

struct OpenedPicture {
    UniqueFd fd;
    struct stat info {};
    const char* contentType = "";
};

// Opens the picture `name` (raw file-name bytes) of `folder` when, at this
// moment, the folder lists a regular file of exactly that name that passes
// IsPictureFileName. A symbolic link is followed only when it names another
// entry of the same folder; nothing outside the folder is ever opened or
// examined. Nothing when any of this does not hold.
std::optional<OpenedPicture> OpenAlbumPicture(const std::string& folder, std::string_view name);

}  // namespace albummaker::host
