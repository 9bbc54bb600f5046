// Album pictures on Windows: names are UTF-16, matched exactly against the
// folder's listing (never against short 8.3 aliases), opened through "\\?\"
// paths so that the name is taken as written.
#include <windows.h>

#include "owners.h"
#include "serve_pictures.h"
#include "text.h"

namespace albummaker::host {
namespace {

class Win32Picture final : public PictureFile {
 public:
  explicit Win32Picture(HANDLE h) : file_(h) {}
  std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t n) override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    if (!ReadFile(file_.get(), buffer, want, &got, &at)) {
      return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(got);
  }

 private:
  am::UniqueFileHandle file_;
};

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// "\\?\C:\folder\" for a folder path; relative paths are made absolute first,
// since the prefix turns off every other interpretation.
std::wstring FolderPrefix(const std::string& folder) {
  std::wstring path = Wide(Utf8ToUtf16(folder));
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (!path.starts_with(L"\\\\?\\")) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) return {};
    full.resize(written);
    path = full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
  }
  if (!path.ends_with(L'\\')) path += L'\\';
  return path;
}

// The folder's entry called exactly `name` right now, if any.
bool FolderLists(const std::wstring& folder, const std::wstring& name, WIN32_FIND_DATAW& found) {
  const am::UniqueFindHandle find(FindFirstFileW((folder + L"*").c_str(), &found));
  if (!find) return false;
  do {
    if (name == found.cFileName) return true;
  } while (FindNextFileW(find.get(), &found));
  return false;
}

}  // namespace

std::unique_ptr<PictureFile> OpenAlbumPicture(const std::string& folder, std::u16string_view name) {
  // ":" would name a stream of a file.
  if (folder.empty() || !IsPictureFileName(name) || name.find(u':') != std::u16string_view::npos) return nullptr;
  const std::wstring prefix = FolderPrefix(folder);
  const std::wstring entry = Wide(name);
  WIN32_FIND_DATAW found{};
  if (prefix.empty() || !FolderLists(prefix, entry, found)) return nullptr;
  // Links and junctions could lead out of the folder; hidden and system
  // files are not pictures of the album.
  if (found.dwFileAttributes &
      (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
    return nullptr;
  }
  am::UniqueFileHandle file(CreateFileW((prefix + entry).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    return nullptr;
  }
  const std::uint64_t written =
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
  // 100 ns units since 1601 to seconds since 1970.
  constexpr std::uint64_t kEpochDifference = 116444736000000000ULL;
  auto picture = std::make_unique<Win32Picture>(file.release());
  picture->size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  picture->modifiedVersion = written;
  picture->modifiedSeconds =
      written >= kEpochDifference ? static_cast<std::int64_t>((written - kEpochDifference) / 10000000ULL) : 0;
  picture->contentType = PictureContentType(name);
  return picture;
}

}  // namespace albummaker::host
