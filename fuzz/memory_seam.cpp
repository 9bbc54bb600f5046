// The engine seam bound to memory, for the renderer harness: one folder of
// fuzzer-chosen names and one template file of fuzzer-chosen bytes, decoded
// one byte to one unit.
#include "memory_seam.h"

#include <cstring>

#include "platform_seam.h"

namespace memory_seam {

Album& Current() {
  static Album album;
  return album;
}

bool ListedAs(std::u16string_view name) {
  static constexpr std::u16string_view kExtensions[] = {u"jpg", u"jpeg", u"gif"};
  for (const std::u16string_view ext : kExtensions) {
    if (name.size() <= ext.size() || name[name.size() - ext.size() - 1] != u'.') continue;
    bool same = true;
    for (std::size_t i = 0; i < ext.size(); ++i) {
      char16_t c = name[name.size() - ext.size() + i];
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 0x20);
      same = same && c == ext[i];
    }
    if (same) return true;
  }
  return false;
}

}  // namespace memory_seam

namespace albummaker::seam {

struct FolderListing::State {
  std::size_t next = 0;
};

FolderListing::FolderListing(const std::u16string& folderPath, const std::u16string_view*, std::size_t)
    : state_(std::make_unique<State>()) {
  if (folderPath != memory_seam::kFolder) state_->next = memory_seam::Current().entries.size();
}

FolderListing::~FolderListing() = default;

bool FolderListing::Next(FolderEntry& entry) {
  const auto& entries = memory_seam::Current().entries;
  while (state_->next < entries.size()) {
    const auto& e = entries[state_->next++];
    if (!memory_seam::ListedAs(e.name)) continue;
    entry.name = e.name;
    entry.skip = e.skip;
    return true;
  }
  return false;
}

bool ReadOnlyFile::Open(const std::u16string& path) {
  if (path != memory_seam::kTemplate || !memory_seam::Current().templateExists) return false;
  handle_ = 0;
  openedSize_ = static_cast<std::int64_t>(memory_seam::Current().templateBytes.size());
  return true;
}

bool ReadOnlyFile::Size(std::uint64_t& size) const {
  size = static_cast<std::uint64_t>(openedSize_);
  return IsOpen();
}

bool ReadOnlyFile::Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead, std::uint32_t&) {
  const std::string& bytes = memory_seam::Current().templateBytes;
  bytesRead = static_cast<std::uint32_t>(count < bytes.size() ? count : bytes.size());
  std::memcpy(buffer, bytes.data(), bytesRead);
  return true;
}

void ReadOnlyFile::Close() { handle_ = kInvalid; }

std::size_t AnsiDecodedLength(const char*, std::size_t count) { return count; }

std::size_t AnsiDecode(const char* bytes, std::size_t count, char16_t* out, std::size_t outCount) {
  if (outCount < count) return 0;
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(bytes[i]);
  return count;
}

}  // namespace albummaker::seam
