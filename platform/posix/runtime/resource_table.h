// Resource tables read from module files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace albumrt::resources {

struct Entry {
  std::string type;  // upper case, or "#<number>"
  WORD id = 0;
  uint32_t offset = 0;  // into Table::bytes
  uint32_t size = 0;
};

struct Table {
  std::vector<BYTE> bytes;  // the whole resource section
  std::vector<Entry> entries;
};

// Reads the resource section of an ELF file. Returns ERROR_SUCCESS with the
// table (possibly empty when the file has no resources), ERROR_FILE_NOT_FOUND
// or ERROR_ACCESS_DENIED when the file cannot be opened, ERROR_BAD_EXE_FORMAT
// when it is not an ELF file of this machine or its section is malformed.
DWORD ReadTable(const std::string& path, std::shared_ptr<Table>& out);

// Parses the section bytes into entries; false when malformed.
bool ParseTable(std::vector<BYTE> bytes, Table& out);

}  // namespace albumrt::resources
