// The album: the picture files of one folder, ordered by name with ASCII
// letter case ignored.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace albummaker {

// A growing array of trivially copyable T in memory from malloc, grown with
// realloc: a large block then grows by remapping rather than by copying into
// fresh memory, so that the list of a big album costs the allocator what a
// plain C listing costs, not twice that, page after page.
template <typename T>
class ReallocArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  ReallocArray() = default;
  ReallocArray(ReallocArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  ReallocArray& operator=(ReallocArray other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ReallocArray(const ReallocArray& other) { append(other.data_, other.size_); }
  ~ReallocArray() { std::free(data_); }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  void clear() noexcept { size_ = 0; }
  // Throws std::bad_alloc when there is no room, the array unchanged.
  void append(const T* items, std::size_t count) {
    if (count == 0) return;
    if (count > capacity_ - size_) Grow(count);
    std::memcpy(data_ + size_, items, count * sizeof(T));
    size_ += count;
  }

 private:
  void Grow(std::size_t count) {
    constexpr std::size_t kMax = static_cast<std::size_t>(-1) / sizeof(T);
    if (count > kMax - size_) throw std::bad_alloc();
    const std::size_t doubled = capacity_ > kMax / 2 ? kMax : capacity_ * 2;
    const std::size_t capacity = std::max({size_ + count, doubled, std::size_t{64}});
    void* grown = std::realloc(data_, capacity * sizeof(T));
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(grown);
    capacity_ = capacity;
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

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
  bool empty() const noexcept { return entries_.size() == 0; }
  std::u16string_view operator[](std::size_t i) const noexcept {
    const Entry& entry = entries_.data()[i];
    return std::u16string_view(units_.data() + entry.start, entry.length);
  }
  // Past 4 Gi units of names, which no folder comes near, the list is out
  // of room as when memory runs out.
  void push_back(std::u16string_view name) {
    if (name.size() > kMaxUnits - units_.size()) throw std::bad_alloc();
    const Entry entry{static_cast<std::uint32_t>(units_.size()), static_cast<std::uint32_t>(name.size())};
    units_.append(name.data(), name.size());
    entries_.append(&entry, 1);
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
  ReallocArray<char16_t> units_;
  ReallocArray<Entry> entries_;
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
