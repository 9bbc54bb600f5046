// The picture files of an album folder, as the album server hands them out.
// Opening and reading are platform code (serve_pictures_posix.cpp,
// serve_pictures_win32.cpp); the name rules are shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace albummaker::host {

// True when `name` could be a picture of an album: a single, non-hidden path
// component without "/", "\" or NUL whose extension is jpg, jpeg or gif
// in any ASCII case.
bool IsPictureFileName(std::u16string_view name);

// "image/jpeg" or "image/gif" for a picture file name.
const char* PictureContentType(std::u16string_view name);

// An open picture, with its size and modification time as they were when it
// was opened.
class PictureFile {
 public:
  virtual ~PictureFile() = default;
  // Up to `size` bytes from `offset`; the count read, 0 at the end, -1 on
  // an error.
  virtual std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) = 0;

  std::uint64_t size = 0;
  std::int64_t modifiedSeconds = 0;   // Unix time
  std::uint64_t modifiedVersion = 0;  // the modification time in the platform's finest unit
  const char* contentType = "";
};

// Opens the picture `name` of `folder` (a UTF-8 path) when, at this moment,
// the folder lists a regular file of exactly that name that passes
// IsPictureFileName. A link is followed only when it names another entry of
// the same folder; nothing outside the folder is ever opened or examined.
// Null when any of this does not hold.
std::unique_ptr<PictureFile> OpenAlbumPicture(const std::string& folder, std::u16string_view name);

}  // namespace albummaker::host
