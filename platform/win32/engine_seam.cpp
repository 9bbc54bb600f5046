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

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

// One FindFirstFileW pass per extension, in the order given.
struct FolderListing::State {
  std::u16string base;
  const std::u16string_view* extensions = nullptr;
  std::size_t extensionCount = 0;
  std::size_t next = 0;  // the extension of the next pass
  HANDLE find = INVALID_HANDLE_VALUE;
  bool pending = false;  // the record holds an entry not yet delivered
  WIN32_FIND_DATAW record{};

  void Close() {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    find = INVALID_HANDLE_VALUE;
  }
};

FolderListing::FolderListing(const std::u16string& folderPath, const std::u16string_view* extensions,
                             std::size_t extensionCount)
    : state_(std::make_unique<State>()) {
  // The "\\?\" prefix lifts the path length limit; behind it Windows does no
  // normalisation, so only an absolute backslash path can be listed.
  State& s = *state_;
  s.base = u"\\\\?\\";
  s.base += folderPath;
  if (s.base.back() != u'\\') s.base += u'\\';
  s.extensions = extensions;
  s.extensionCount = extensionCount;
}

FolderListing::~FolderListing() { state_->Close(); }

bool FolderListing::Next(FolderEntry& entry) {
  State& s = *state_;
  for (;;) {
    if (s.find != INVALID_HANDLE_VALUE) {
      if (s.pending || FindNextFileW(s.find, &s.record)) {
        s.pending = false;
        entry.name = reinterpret_cast<const char16_t*>(s.record.cFileName);
        entry.skip = (s.record.dwFileAttributes & kSkipMask) != 0;
        return true;
      }
      s.Close();
    }
    if (s.next == s.extensionCount) return false;
    std::u16string pattern = s.base;
    pattern += u"*.";
    pattern += s.extensions[s.next++];
    // No folder, no match, a rejected path: nothing from this pass.
    s.find = FindFirstFileW(Wide(pattern), &s.record);
    s.pending = s.find != INVALID_HANDLE_VALUE;
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
  if (bytes == nullptr || out == nullptr || count == 0 || outCount == 0 || count > static_cast<std::size_t>(INT_MAX))
    return 0;
  // The output never needs more units than there are bytes, so a larger
  // buffer can safely be described as INT_MAX units.
  const int room = outCount > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(outCount);
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count), reinterpret_cast<WCHAR*>(out), room);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

}  // namespace albummaker::seam
