// Reading the resource section from a module file. The file may be anything
// a caller names, so every offset and size is checked before it is used.
#include "resource_table.h"

#include <albumrt/module.h>

#include <cerrno>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "owners.h"

namespace albumrt::resources {
namespace {

bool ReadAt(int fd, void* out, size_t size, uint64_t offset) {
  auto* p = static_cast<char*>(out);
  while (size > 0) {
    ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool InFile(uint64_t offset, uint64_t size, uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

uint32_t Le32(const BYTE* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool ParseTable(std::vector<BYTE> bytes, Table& out) {
  out.entries.clear();
  const size_t magicSize = sizeof(ALBUMRT_RESOURCE_MAGIC) - 1;
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes[pos] == 0) {  // padding between tables
      ++pos;
      continue;
    }
    if (bytes.size() - pos < 16 || std::memcmp(&bytes[pos], ALBUMRT_RESOURCE_MAGIC, magicSize) != 0) return false;
    uint32_t count = Le32(&bytes[pos + 8]);
    uint32_t total = Le32(&bytes[pos + 12]);
    if (total < 16 || total > bytes.size() - pos) return false;
    if (count > (total - 16) / 20) return false;
    for (uint32_t i = 0; i < count; ++i) {
      const BYTE* e = &bytes[pos + 16 + size_t{i} * 20];
      uint32_t typeOffset = Le32(e), typeLength = Le32(e + 4), id = Le32(e + 8);
      uint32_t dataOffset = Le32(e + 12), dataSize = Le32(e + 16);
      if (!InFile(typeOffset, typeLength, total) || !InFile(dataOffset, dataSize, total) || id == 0 || id > 0xFFFF ||
          typeLength == 0)
        return false;
      Entry entry;
      entry.type.assign(reinterpret_cast<const char*>(&bytes[pos + typeOffset]), typeLength);
      entry.id = static_cast<WORD>(id);
      entry.offset = static_cast<uint32_t>(pos + dataOffset);
      entry.size = dataSize;
      out.entries.push_back(std::move(entry));
    }
    pos += total;
  }
  out.bytes = std::move(bytes);
  return true;
}

DWORD ReadTable(const std::string& path, std::shared_ptr<Table>& out) {
  const am::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_BAD_EXE_FORMAT;
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);

  Elf64_Ehdr header{};
  if (!ReadAt(fd.get(), &header, sizeof header, 0) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB)
    return ERROR_BAD_EXE_FORMAT;

  auto table = std::make_shared<Table>();
  if (header.e_shoff == 0 || header.e_shnum == 0) {
    out = std::move(table);
    return ERROR_SUCCESS;
  }
  if (header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shstrndx >= header.e_shnum ||
      !InFile(header.e_shoff, uint64_t{header.e_shnum} * sizeof(Elf64_Shdr), fileSize))
    return ERROR_BAD_EXE_FORMAT;
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  if (!ReadAt(fd.get(), sections.data(), sections.size() * sizeof(Elf64_Shdr), header.e_shoff))
    return ERROR_BAD_EXE_FORMAT;
  const Elf64_Shdr& names = sections[header.e_shstrndx];
  if (names.sh_type != SHT_STRTAB || !InFile(names.sh_offset, names.sh_size, fileSize) || names.sh_size > (1u << 24))
    return ERROR_BAD_EXE_FORMAT;
  std::vector<char> nameBytes(names.sh_size);
  if (!nameBytes.empty() && !ReadAt(fd.get(), nameBytes.data(), nameBytes.size(), names.sh_offset))
    return ERROR_BAD_EXE_FORMAT;

  const char wanted[] = ALBUMRT_RESOURCE_SECTION;
  for (const Elf64_Shdr& section : sections) {
    if (section.sh_name >= nameBytes.size() || nameBytes.size() - section.sh_name < sizeof wanted ||
        std::memcmp(&nameBytes[section.sh_name], wanted, sizeof wanted) != 0)
      continue;
    if (section.sh_type != SHT_PROGBITS || !InFile(section.sh_offset, section.sh_size, fileSize))
      return ERROR_BAD_EXE_FORMAT;
    std::vector<BYTE> bytes(section.sh_size);
    if (!bytes.empty() && !ReadAt(fd.get(), bytes.data(), bytes.size(), section.sh_offset)) return ERROR_BAD_EXE_FORMAT;
    if (!ParseTable(std::move(bytes), *table)) return ERROR_BAD_EXE_FORMAT;
    break;
  }
  out = std::move(table);
  return ERROR_SUCCESS;
}

}  // namespace albumrt::resources
