// A folder of its own under the Windows temp folder, made and removed with
// the Win32 calls themselves (attributes such as read-only, hidden or system
// would stop a portable removal), addressed by an absolute drive-letter path.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

namespace albummaker::wintest {

inline std::wstring AsW(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string AsU16(std::wstring_view s) { return std::u16string(s.begin(), s.end()); }

// Removes a tree, clearing attributes first; "\\?\" so deep trees go too.
inline void RemoveTree(const std::wstring& path) {
  const std::wstring longPath = L"\\\\?\\" + path;
  WIN32_FIND_DATAW record;
  HANDLE find = FindFirstFileW((longPath + L"\\*").c_str(), &record);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = record.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      SetFileAttributesW((L"\\\\?\\" + child).c_str(), FILE_ATTRIBUTE_NORMAL);
      if (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(child);
      else
        DeleteFileW((L"\\\\?\\" + child).c_str());
    } while (FindNextFileW(find, &record));
    FindClose(find);
  }
  SetFileAttributesW(longPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(longPath.c_str());
}

class WinTempFolder {
 public:
  WinTempFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    path_.assign(temp, n);
    if (!path_.empty() && path_.back() == L'\\') path_.pop_back();
    path_ += L"\\am-wine-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount()) + L"-" +
             std::to_wstring(counter.fetch_add(1));
    created_ = CreateDirectoryW(path_.c_str(), nullptr) != 0;
  }
  ~WinTempFolder() { RemoveTree(path_); }
  WinTempFolder(const WinTempFolder&) = delete;
  WinTempFolder& operator=(const WinTempFolder&) = delete;

  bool Created() const { return created_; }
  // Absolute, drive letter, backslashes, no trailing separator.
  const std::wstring& Path() const { return path_; }
  std::u16string U16() const { return AsU16(path_); }
  std::wstring operator/(std::wstring_view leaf) const { return path_ + L"\\" + std::wstring(leaf); }

  // Creates (or replaces) a file with the given bytes; true on success.
  static bool WriteFile(const std::wstring& path, std::string_view bytes = {}) {
    HANDLE h = CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
  }
  bool Write(std::wstring_view leaf, std::string_view bytes = {}) const { return WriteFile(*this / leaf, bytes); }
  bool MakeFolder(std::wstring_view leaf) const { return CreateDirectoryW((*this / leaf).c_str(), nullptr) != 0; }

 private:
  std::wstring path_;
  bool created_ = false;
};

// Closes a kernel handle at scope end.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() {
    if (valid()) CloseHandle(h_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

}  // namespace albummaker::wintest
