// How host commands reach an album. The commands only see this interface, so
// the object behind it can change without touching them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace albummaker::host {

struct PageResult {
  bool ok = false;
  std::u16string page;
  std::u16string error;
};

class AlbumClient {
 public:
  virtual ~AlbumClient() = default;
  virtual void SetFolderPath(const std::u16string& path) = 0;
  virtual void SetPageTemplatePath(const std::u16string& path) = 0;
  // The Page* functions may be called from many threads at once.
  virtual PageResult PageByIndex(int32_t index) = 0;  // by position
  // A picture's name or any other text, handed to the component as a string:
  // a text with a 32-bit integer reading (such as "2") selects by position,
  // anything else by name, exactly as for any late-bound caller.
  virtual PageResult PageByText(const std::u16string& text) = 0;
};

}  // namespace albummaker::host
