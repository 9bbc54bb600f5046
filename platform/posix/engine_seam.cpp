// The engine seam on POSIX: readdir for folders, open/read for the template,
// Windows-1252 for ANSI text. File names are UTF-8; bytes that are not valid
// UTF-8 travel as the units U+DC80..U+DCFF so that names round-trip.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "cp1252.h"
#include "utf8.h"
#include "platform_seam.h"

namespace albummaker::seam {
namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c; }

// True when the part of name after its last "." is ext, ASCII case ignored.
bool HasExtension(std::string_view name, std::size_t dot, std::u16string_view ext) {
  const std::string_view tail = name.substr(dot + 1);
  if (tail.size() != ext.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const char16_t e = ext[i];
    const char16_t el = (e >= u'A' && e <= u'Z') ? static_cast<char16_t>(e + 0x20) : e;
    if (static_cast<unsigned char>(AsciiLower(tail[i])) != el) return false;
  }
  return true;
}

struct DirCloser {
  void operator()(DIR* d) const noexcept { closedir(d); }
};

std::uint32_t Win32ErrorFromErrno(int e) {
  switch (e) {
    case ENOENT:
      return 2;  // ERROR_FILE_NOT_FOUND
    case EACCES:
    case EPERM:
      return 5;  // ERROR_ACCESS_DENIED
    case EBADF:
      return 6;  // ERROR_INVALID_HANDLE
    case ENOMEM:
      return 8;  // ERROR_NOT_ENOUGH_MEMORY
    case EIO:
      return 30;  // ERROR_READ_FAULT
    case EISDIR:
    case EINVAL:
      return 87;  // ERROR_INVALID_PARAMETER
    case EFAULT:
      return 998;  // ERROR_NOACCESS
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

}  // namespace

struct FolderListing::State {
  std::unique_ptr<DIR, DirCloser> dir;
  const std::u16string_view* extensions = nullptr;
  std::size_t extensionCount = 0;
  std::u16string name;
};

FolderListing::FolderListing(const std::u16string& folderPath, const std::u16string_view* extensions,
                             std::size_t extensionCount)
    : state_(std::make_unique<State>()) {
  if (folderPath.empty() || extensionCount == 0) return;
  state_->dir.reset(opendir(utf8::FromUtf16(folderPath).c_str()));
  state_->extensions = extensions;
  state_->extensionCount = extensionCount;
}

FolderListing::~FolderListing() = default;

bool FolderListing::Next(FolderEntry& entry) {
  State& s = *state_;
  if (!s.dir) return false;
  while (const dirent* found = readdir(s.dir.get())) {
    const std::string_view bytes(found->d_name);
    const std::size_t dot = bytes.rfind('.');
    if (dot == std::string_view::npos) continue;
    bool wanted = false;
    for (std::size_t i = 0; i < s.extensionCount && !wanted; ++i) wanted = HasExtension(bytes, dot, s.extensions[i]);
    if (!wanted) continue;

    bool skip = bytes.front() == '.';
    if (!skip) {
      unsigned char type = found->d_type;
      if (type == DT_UNKNOWN || type == DT_LNK) {
        struct stat st;
        // Links are followed; an entry that cannot be examined (a dangling
        // link) is no picture.
        if (fstatat(dirfd(s.dir.get()), found->d_name, &st, 0) != 0)
          skip = true;
        else
          type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
      }
      if (type == DT_DIR) skip = true;
    }
    s.name.clear();
    utf8::AppendAsUtf16(bytes, s.name, utf8::BadBytes::Escape);
    entry.name = s.name;
    entry.skip = skip;
    return true;
  }
  return false;
}

bool ReadOnlyFile::Open(const std::u16string& path) {
  Close();
  if (path.empty()) return false;
  const std::string bytes = utf8::FromUtf16(path);
  // A path with an embedded NUL would name another file.
  if (bytes.find('\0') != std::string::npos) return false;
  int fd;
  // Non-blocking, so that a path naming a FIFO without a writer cannot hang
  // a render in open(); reads of regular files are unaffected.
  do {
    fd = open(bytes.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return false;
  }
  handle_ = fd;
  // The one fstat serves Size too: a system call less per page.
  openedSize_ = static_cast<std::int64_t>(st.st_size);
  return true;
}

bool ReadOnlyFile::Size(std::uint64_t& size) const {
  if (!IsOpen() || openedSize_ < 0) return false;
  size = static_cast<std::uint64_t>(openedSize_);
  return true;
}

bool ReadOnlyFile::Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead, std::uint32_t& errorNumber) {
  bytesRead = 0;
  errorNumber = 0;
  if (!IsOpen()) {
    errorNumber = 6;  // ERROR_INVALID_HANDLE
    return false;
  }
  // read() moves at most about 2 GiB at a time: go on until the count is
  // read or the file ends, so that one call reads the file as one ReadFile
  // would.
  auto* to = static_cast<char*>(buffer);
  std::uint32_t total = 0;
  while (total < count) {
    const ssize_t n = read(static_cast<int>(handle_), to + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      // A pipe that has delivered some bytes and has no more yet: those are
      // the read.
      if (total > 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      errorNumber = Win32ErrorFromErrno(errno);
      return false;
    }
    if (n == 0) break;
    total += static_cast<std::uint32_t>(n);
  }
  bytesRead = total;
  return true;
}

void ReadOnlyFile::Close() {
  if (handle_ != kInvalid) {
    close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
}

std::size_t AnsiDecodedLength(const char*, std::size_t count) {
  // Every byte of the code page is one unit.
  return count;
}

std::size_t AnsiDecode(const char* bytes, std::size_t count, char16_t* out, std::size_t outCount) {
  if (count > outCount) return 0;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  // Only 0x80..0x9F stand for another unit than their own value: a block
  // without them is widened as it is, in a loop the compiler vectorises.
  constexpr std::size_t kBlock = 64;
  std::size_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    unsigned char remapped = 0;  // a byte-wide flag keeps the vectors byte-wide
    for (std::size_t j = 0; j < kBlock; ++j) remapped |= static_cast<unsigned char>((in[i + j] & 0xE0) == 0x80);
    if (remapped == 0) {
      for (std::size_t j = 0; j < kBlock; ++j) out[i + j] = in[i + j];
    } else {
      for (std::size_t j = 0; j < kBlock; ++j) out[i + j] = cp1252::Decode(in[i + j]);
    }
  }
  for (; i < count; ++i) out[i] = cp1252::Decode(in[i]);
  return count;
}

}  // namespace albummaker::seam
