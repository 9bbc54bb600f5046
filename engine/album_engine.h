// Renders one album page: the picture chosen by name or position, the
// template file read and filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image_list.h"
#include "page_template.h"

namespace albummaker {

class AlbumEngine {
 public:
  AlbumEngine() = default;
  virtual ~AlbumEngine() = default;

  // Each setter takes the text up to its first NUL (a null pointer is the
  // empty text).
  void SetPageTemplatePath(const char16_t* path);
  std::u16string GetPageTemplatePath() const { return pageTemplatePath_; }
  void SetFolderPath(const char16_t* path);
  std::u16string GetFolderPath() const { return folderPath_; }

  // Empty page for an empty album; a name or index that selects nothing
  // selects the first picture. Engine errors are std::runtime_error.
  std::u16string RenderPageByName(std::u16string_view name) const;
  std::u16string RenderPageByIndex(std::int32_t index) const;
  // list is not empty and position < list.size().
  std::u16string RenderPage(const ImageList& list, std::size_t position) const;

 private:
  std::u16string pageTemplatePath_;
  std::u16string folderPath_;
};

// Letters and digits stay, a space becomes "+", a unit below 0x100 becomes
// "%XX", any other unit "%uXXXX" (so decoders never misread it as "%XX").
std::u16string UrlEncode(std::u16string_view text);

// The five characters of the entity table by their references, units outside
// U+0020..U+007E as "&#NNNN;" (a valid surrogate pair as one reference of its
// code point).
std::u16string HtmlEscape(std::u16string_view text);

// Decodes byteCount ANSI bytes (the last one a NUL) up to their first NUL;
// nothing when the text cannot be allocated. No code page turns another byte
// into U+0000, so the text holds none.
std::optional<std::u16string> AnsiToWide(const char* bytes, std::size_t byteCount);

// Raises std::runtime_error with message, followed by
// " Error number: <decimal> (0x<HEX>)" when code (a Win32 error code or an
// HRESULT) is not 0.
[[noreturn]] void RaiseEngineError(std::string_view message, std::uint32_t code);

inline constexpr std::uint32_t kErrorOutOfMemory = 0x8007000Eu;
inline constexpr char kNoMemoryMessage[] = "No memory available to serve the request.";
inline constexpr char kReadErrorMessage[] = "Error while reading from file.";

}  // namespace albummaker
