// The album the memory binding of the engine seam serves.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace memory_seam {

inline const std::u16string kFolder = u"album";
inline const std::u16string kTemplate = u"template";

struct Entry {
  std::u16string name;
  bool skip = false;  // a directory, hidden or system entry
};

struct Album {
  std::vector<Entry> entries;  // in the "platform's" order
  bool templateExists = true;
  std::string templateBytes;
};

Album& Current();

// What the binding lists: names ending in "." and jpg, jpeg or gif, ASCII
// letter case ignored.
bool ListedAs(std::u16string_view name);

}  // namespace memory_seam
