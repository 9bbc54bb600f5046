// What the album engine needs of the platform. The engine declares it; each
// platform binds it (platform/win32 to kernel32, platform/posix to POSIX).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace albummaker::seam {

// One entry of a folder listing: its name as the platform gives it, and
// whether it is a directory, a hidden or a system entry.
struct FolderEntry {
  std::u16string_view name;
  bool skip = false;
};

// The entries of folderPath whose names end in "." followed by one of the
// extensions, letter case ignored, in the platform's order. A folder that
// cannot be listed lists nothing; nothing is raised.
class FolderListing {
 public:
  FolderListing(const std::u16string& folderPath, const std::u16string_view* extensions, std::size_t extensionCount);
  ~FolderListing();
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  // The next entry, whose name stays valid until the next call; false when
  // there is none.
  bool Next(FolderEntry& entry);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The listing as calls of onEntry(name, skip), one per entry.
template <typename OnEntry>
void ListFolder(const std::u16string& folderPath, const std::u16string_view* extensions, std::size_t extensionCount,
                OnEntry&& onEntry) {
  FolderListing listing(folderPath, extensions, extensionCount);
  for (FolderEntry entry; listing.Next(entry);) onEntry(entry.name, entry.skip);
}

// The template file: opened for reading only, sharing reads only (another
// opener may read it but not write or delete it). Closed by the destructor.
class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile() { Close(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // False when the file cannot be opened (missing, a folder, an empty path,
  // access denied, held open for writing elsewhere).
  bool Open(const std::u16string& path);
  bool IsOpen() const { return handle_ != kInvalid; }
  // The file's size in bytes; false when the platform cannot tell.
  bool Size(std::uint64_t& size) const;
  // One read of up to count bytes. On failure returns false with the
  // platform's error number (the Win32 numbering on both platforms).
  bool Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead, std::uint32_t& errorNumber);
  void Close();

 private:
  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t handle_ = kInvalid;
  std::int64_t openedSize_ = -1;  // the size, where the open learns it (POSIX)
};

// ANSI code page decoding of count bytes (count includes a final NUL when the
// caller passes one). Returns the number of UTF-16 units, or 0 on failure.
std::size_t AnsiDecodedLength(const char* bytes, std::size_t count);
// Decodes count bytes into out, which has room for outCount units. Returns the
// number of units written, or 0 on failure.
std::size_t AnsiDecode(const char* bytes, std::size_t count, char16_t* out, std::size_t outCount);

}  // namespace albummaker::seam
