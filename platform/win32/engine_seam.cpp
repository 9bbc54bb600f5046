// The engine seam bound to kernel32: folder listing with FindFirstFileW,
// the template file with CreateFileW/ReadFile, ANSI decoding with
// MultiByteToWideChar in the active code page.
#include "platform_seam.h"

#include <windows.h>

#include <climits>

namespace albummaker::seam {
namespace {

static_assert(sizeof(WCHAR) == sizeof(char16_t), "WCHAR must be 16-bit");

const WCHAR* Wide(const std::u16string& text) { return reinterpret_cast<const WCHAR*>(text.c_str()); }

// Directory, hidden and system entries are not pictures.
constexpr DWORD kSkipMask = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
static_assert(kSkipMask == 0x16);

class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  ~FindHandle() {
    if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

void ListFolder(const std::u16string& folderPath, const std::u16string_view* extensions,
                std::size_t extensionCount, const EntrySink& onEntry) {
  // The "\\?\" prefix lifts the path length limit; behind it Windows does no
  // normalisation, so only an absolute backslash path can be listed.
  std::u16string base = u"\\\\?\\";
  base += folderPath;
  if (base.back() != u'\\') base += u'\\';

  for (std::size_t i = 0; i < extensionCount; ++i) {
    std::u16string pattern = base;
    pattern += u"*.";
    pattern += extensions[i];

    WIN32_FIND_DATAW record{};
    FindHandle find(FindFirstFileW(Wide(pattern), &record));
    if (!find.valid()) continue;  // no folder, no match, rejected path: nothing from this one
    do {
      const auto* name = reinterpret_cast<const char16_t*>(record.cFileName);
      onEntry(std::u16string_view(name), (record.dwFileAttributes & kSkipMask) != 0);
    } while (FindNextFileW(find.get(), &record));
  }
}

bool ReadOnlyFile::Open(const std::u16string& path) {
  Close();
  HANDLE h = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

bool ReadOnlyFile::Size(std::uint64_t& size) const {
  if (!IsOpen()) return false;
  // A size whose low part is 0xFFFFFFFF is only a failure when the last
  // error says so, and a success does not reset it.
  SetLastError(NO_ERROR);
  DWORD high = 0;
  const DWORD low = GetFileSize(AsHandle(handle_), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  size = (static_cast<std::uint64_t>(high) << 32) | low;
  return true;
}

bool ReadOnlyFile::Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead, std::uint32_t& errorNumber) {
  bytesRead = 0;
  errorNumber = 0;
  if (!IsOpen()) {
    errorNumber = ERROR_INVALID_HANDLE;
    return false;
  }
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle_), buffer, count, &got, nullptr)) {
    errorNumber = GetLastError();
    return false;
  }
  bytesRead = got;
  return true;
}

void ReadOnlyFile::Close() {
  if (IsOpen()) {
    CloseHandle(AsHandle(handle_));
    handle_ = kInvalid;
  }
}

std::size_t AnsiDecodedLength(const char* bytes, std::size_t count) {
  // MultiByteToWideChar counts in int: a longer input cannot be decoded.
  if (bytes == nullptr || count == 0 || count > static_cast<std::size_t>(INT_MAX)) return 0;
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), nullptr, 0);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::size_t AnsiDecode(const char* bytes, std::size_t count, char16_t* out, std::size_t outCount) {
  if (bytes == nullptr || out == nullptr || count == 0 || outCount == 0 ||
      count > static_cast<std::size_t>(INT_MAX))
    return 0;
  // The output never needs more units than there are bytes, so a larger
  // buffer can safely be described as INT_MAX units.
  const int room = outCount > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(outCount);
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), reinterpret_cast<WCHAR*>(out), room);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

}  // namespace albummaker::seam
