#include "serve_pictures.h"

namespace albummaker::host {
namespace {

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

std::u16string_view Extension(std::u16string_view name) {
  const size_t dot = name.rfind(u'.');
  return dot == std::u16string_view::npos ? std::u16string_view{} : name.substr(dot + 1);
}

}  // namespace

bool IsPictureFileName(std::u16string_view name) {
  if (name.empty() || name.front() == u'.' ||
      name.find_first_of(std::u16string_view(u"/\\\0", 3)) != std::u16string_view::npos) {
    return false;
  }
  const std::u16string_view ext = Extension(name);
  return EqualsIgnoringAsciiCase(ext, u"jpg") || EqualsIgnoringAsciiCase(ext, u"jpeg") ||
         EqualsIgnoringAsciiCase(ext, u"gif");
}

const char* PictureContentType(std::u16string_view name) {
  return EqualsIgnoringAsciiCase(Extension(name), u"gif") ? "image/gif" : "image/jpeg";
}

}  // namespace albummaker::host
