#include "image_list.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform_seam.h"

namespace albummaker {
namespace {

constexpr std::u16string_view kExtensions[] = {u"jpg", u"jpeg", u"gif"};

constexpr unsigned Fold(char16_t unit) noexcept {
  return (unit >= u'A' && unit <= u'Z') ? static_cast<unsigned>(unit) + 0x20u : static_cast<unsigned>(unit);
}

}  // namespace

int CompareNames(std::u16string_view a, std::u16string_view b) noexcept {
  const std::size_t n = std::min(a.size(), b.size());
  const char16_t* x = a.data();
  const char16_t* y = b.data();
  // Names in one album mostly share long prefixes in the same case: equal
  // runs are skipped four units at a time, and only units that differ need
  // folding.
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    std::uint64_t wx, wy;
    std::memcpy(&wx, x + i, sizeof wx);
    std::memcpy(&wy, y + i, sizeof wy);
    if (wx != wy) break;
  }
  for (; i < n; ++i) {
    if (x[i] == y[i]) continue;
    const unsigned fx = Fold(x[i]);
    const unsigned fy = Fold(y[i]);
    if (fx != fy) return static_cast<int>(fx) - static_cast<int>(fy);
  }
  // The end of a name counts as 0.
  if (a.size() > n) return static_cast<int>(Fold(a[n]));
  if (b.size() > n) return -static_cast<int>(Fold(b[n]));
  return 0;
}

void ImageList::Sort() {
  const char16_t* units = units_.data();
  // Merging compares a quarter less often than introsort, and the compare is
  // what sorting names costs.
  std::stable_sort(entries_.data(), entries_.data() + entries_.size(), [units](const Entry& a, const Entry& b) {
    return CompareNames({units + a.start, a.length}, {units + b.start, b.length}) < 0;
  });
}

void ScanFolder(const std::u16string& folderPath, ImageList& list) {
  list.clear();
  // One listing serves all three extensions.
  seam::FolderListing listing(folderPath, kExtensions, std::size(kExtensions));
  for (seam::FolderEntry entry; listing.Next(entry);)
    if (!entry.skip) list.push_back(entry.name);
  list.Sort();
}

std::size_t FindName(const ImageList& list, std::u16string_view key) noexcept {
  std::size_t first = 0;
  std::size_t n = list.size();
  while (n > 0) {
    const std::size_t half = n / 2;
    if (CompareNames(list[first + half], key) < 0) {
      first += half + 1;
      n -= half + 1;
    } else {
      n = half;
    }
  }
  if (first == list.size() || CompareNames(key, list[first]) != 0) return kNoPosition;
  return first;
}

}  // namespace albummaker
