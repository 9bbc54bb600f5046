// The album: the picture files of one folder, ordered by name with ASCII
// letter case ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace albummaker {

// File names (name and extension, no folder), positions from 0. The names
// stand one after another in one buffer, so that a list costs a few
// allocations whatever its length, not one for each name.
class ImageList {
 public:
  ImageList() = default;
  ImageList(std::initializer_list<std::u16string_view> names) {
    for (const std::u16string_view name : names) push_back(name);
  }

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  std::u16string_view operator[](std::size_t i) const noexcept {
    return std::u16string_view(units_).substr(entries_[i].start, entries_[i].length);
  }
  // Past 4 Gi units of names, which no folder comes near, the list is out
  // of room as when memory runs out.
  void push_back(std::u16string_view name) {
    if (name.size() > kMaxUnits - units_.size()) throw std::bad_alloc();
    entries_.push_back({static_cast<std::uint32_t>(units_.size()), static_cast<std::uint32_t>(name.size())});
    units_.append(name);
  }
  void clear() noexcept {
    units_.clear();
    entries_.clear();
  }
  // Orders the names by CompareNames.
  void Sort();

  friend bool operator==(const ImageList& a, const ImageList& b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (a[i] != b[i]) return false;
    return true;
  }

 private:
  // Eight bytes, so that sorting a large album moves half as much.
  struct Entry {
    std::uint32_t start;
    std::uint32_t length;
  };
  static constexpr std::size_t kMaxUnits = 0xFFFFFFFFu;
  std::u16string units_;
  std::vector<Entry> entries_;
};

inline constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);

// Replaces list with the folder's .jpg, .jpeg and .gif files (directories,
// hidden and system entries left out), sorted by CompareNames. A folder that
// cannot be listed gives an empty list; nothing is raised.
void ScanFolder(const std::u16string& folderPath, ImageList& list);

// Negative, 0 or positive as a sorts before, equal to or after b; only 'A'..'Z'
// are folded, units compare as unsigned 16-bit values, a prefix sorts first.
int CompareNames(std::u16string_view a, std::u16string_view b) noexcept;

// The first position whose entry equals key under CompareNames, or
// kNoPosition. list must be sorted by CompareNames.
std::size_t FindName(const ImageList& list, std::u16string_view key) noexcept;

}  // namespace albummaker
