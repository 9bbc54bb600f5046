// The album: the picture files of one folder, ordered by name with ASCII
// letter case ignored.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace albummaker {

// File names (name and extension, no folder), positions from 0.
using ImageList = std::vector<std::u16string>;

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
