#include "page_template.h"

#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace albummaker {
namespace {

// Texts nearly never hold a U+0000: a pass without an early exit, which the
// compiler vectorises, tells whether to look for it.
std::u16string_view UpToNul(std::u16string_view s) {
  char16_t nul = 0;  // a flag as wide as a unit keeps the vectors narrow
  for (const char16_t u : s) nul |= static_cast<char16_t>(u == 0);
  return nul == 0 ? s : s.substr(0, s.find(u'\0'));
}

void Assign(std::u16string& target, const OptionalMarker& given, const std::u16string& fallback) {
  if (given)
    target.assign(UpToNul(*given));
  else
    target = fallback;
}

// Units that pages are full of: letters, digits and what tags are made of.
bool Frequent(char16_t u) {
  return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
         std::u16string_view(u"<>/=\" \n").find(u) != std::u16string_view::npos;
}

// Where pattern first stands in text at or after from, or npos; an empty
// pattern stands at from. Every search of the template is this one. memchr
// finds the candidates for one unit of the pattern by one of its bytes, many
// times faster than a loop over units; the unit is the first one that pages
// seldom hold, so that false candidates stay few ("<" opens every tag, "!"
// nearly only comments).
std::size_t Find(std::u16string_view text, std::u16string_view pattern, std::size_t from) {
  const std::size_t n = pattern.size();
  if (from > text.size() || text.size() - from < n) return std::u16string_view::npos;
  if (n == 0) return from;
  std::size_t k = 0;
  while (k + 1 < n && Frequent(pattern[k])) ++k;
  unsigned char byte;
  std::memcpy(&byte, &pattern[k], 1);  // the unit's first byte in memory, whatever the byte order
  const auto* bytes = reinterpret_cast<const char*>(text.data());
  std::size_t at = (from + k) * sizeof(char16_t);
  const std::size_t end = (text.size() - n + k + 1) * sizeof(char16_t);  // past the last candidate
  while (at < end) {
    const void* hit = std::memchr(bytes + at, byte, end - at);
    if (hit == nullptr) break;
    const auto offset = static_cast<std::size_t>(static_cast<const char*>(hit) - bytes);
    const std::size_t p = offset / sizeof(char16_t) - k;
    if (offset % sizeof(char16_t) == 0 && text.substr(p, n) == pattern) return p;
    at = offset + 1;
  }
  return std::u16string_view::npos;
}

// Where a section stands: the first start marker of name in the whole text,
// paired with the first end marker after it. end is past the end marker.
struct Section {
  std::size_t start, bodyStart, bodyEnd, end;
};

// marker is room for the markers, kept by the caller so that a page's
// searches share one allocation.
std::optional<Section> FindSection(std::u16string_view text, const MarkerSet& markers, std::u16string_view name,
                                   std::u16string& marker) {
  marker.assign(markers.sectionPrefix).append(name).append(markers.sectionStartSuffix);
  const std::size_t start = Find(text, marker, 0);
  if (start == std::u16string_view::npos) return std::nullopt;
  const std::size_t bodyStart = start + marker.size();
  marker.assign(markers.sectionPrefix).append(name).append(markers.sectionEndSuffix);
  const std::size_t bodyEnd = Find(text, marker, bodyStart);
  if (bodyEnd == std::u16string_view::npos) return std::nullopt;
  return Section{start, bodyStart, bodyEnd, bodyEnd + marker.size()};
}

}  // namespace

const MarkerSet& DefaultMarkers() noexcept {
  // Constant-initialised would need constexpr strings; a function-local static
  // is initialised once, thread-safely, and only read afterwards.
  static const MarkerSet defaults{u"^tq_", u"^", u"<!--tq_", u"Start-->", u"End-->"};
  return defaults;
}

PageTemplate::PageTemplate(std::u16string_view text, OptionalMarker placeholderPrefix, OptionalMarker placeholderSuffix,
                           OptionalMarker sectionPrefix, OptionalMarker sectionStartSuffix,
                           OptionalMarker sectionEndSuffix)
    : text_(UpToNul(text)) {
  SetMarkers(placeholderPrefix, placeholderSuffix, sectionPrefix, sectionStartSuffix, sectionEndSuffix);
}

void PageTemplate::SetMarkers(OptionalMarker placeholderPrefix, OptionalMarker placeholderSuffix,
                              OptionalMarker sectionPrefix, OptionalMarker sectionStartSuffix,
                              OptionalMarker sectionEndSuffix) {
  const MarkerSet& d = DefaultMarkers();
  Assign(markers_.placeholderPrefix, placeholderPrefix, d.placeholderPrefix);
  Assign(markers_.placeholderSuffix, placeholderSuffix, d.placeholderSuffix);
  Assign(markers_.sectionPrefix, sectionPrefix, d.sectionPrefix);
  Assign(markers_.sectionStartSuffix, sectionStartSuffix, d.sectionStartSuffix);
  Assign(markers_.sectionEndSuffix, sectionEndSuffix, d.sectionEndSuffix);
}

void PageTemplate::SetText(std::u16string text) {
  text.resize(UpToNul(text).size());
  AdoptText(std::move(text));
}

void PageTemplate::AdoptText(std::u16string text) noexcept {
  text_ = std::move(text);
  front_ = 0;
  cursor_ = kNone;
}

std::u16string PageTemplate::TakeText() {
  text_.erase(0, front_);
  std::u16string text = std::move(text_);
  text_.clear();
  front_ = 0;
  cursor_ = kNone;
  return text;
}

void PageTemplate::Splice(std::size_t p, std::size_t length, std::u16string_view value) {
  const std::size_t v = value.size();
  if (v <= length && p < text_.size() - front_ - p - length) {
    // The text shrinks, and less of it stands before than after.
    char16_t* s = text_.data() + front_;
    std::char_traits<char16_t>::move(s + length - v, s, p);
    std::char_traits<char16_t>::copy(s + length - v + p, value.data(), v);
    front_ += length - v;
  } else {
    text_.replace(front_ + p, length, value);
  }
}

std::size_t PageTemplate::SetPlaceholder(std::u16string_view name, std::u16string_view value) {
  name = UpToNul(name);
  value = UpToNul(value);
  std::u16string& token = marker_;
  token.assign(markers_.placeholderPrefix).append(name).append(markers_.placeholderSuffix);
  const std::size_t t = token.size();
  if (t == 0) return 0;

  // The value may be a view into this very text; it must not change under us.
  std::u16string valueCopy;
  const std::less<const char16_t*> before;
  if (!value.empty() && !before(value.data(), text_.data()) && before(value.data(), text_.data() + text_.size() + 1)) {
    valueCopy.assign(value);
    value = valueCopy;
  }
  const std::size_t v = value.size();

  // Called at each replacement with p, where the token stands in the text as
  // it is at that replacement, so the cursor moves as with one replacement at
  // a time.
  const auto moveCursor = [this, t, v](std::size_t p) {
    if (cursor_ != kNone && cursor_ >= p) cursor_ = cursor_ < p + t ? p + v : cursor_ + v - t;
  };

  std::size_t hit = Find(GetText(), token, 0);
  if (hit == std::u16string::npos) return 0;
  if (Find(GetText(), token, hit + t) == std::u16string::npos) {
    // One token, as in most pages.
    Splice(hit, t, value);
    moveCursor(hit);
    return 1;
  }

  std::size_t count = 0;
  std::size_t read = 0;  // the text before this has been handled
  const std::u16string_view text = GetText();
  if (v <= t) {
    // The text only shrinks: build it in place, writing behind the search.
    char16_t* s = text_.data() + front_;
    std::size_t write = 0;
    for (; hit != std::u16string::npos; hit = Find(text, token, read)) {
      std::char_traits<char16_t>::move(s + write, s + read, hit - read);
      write += hit - read;
      moveCursor(write);
      std::char_traits<char16_t>::copy(s + write, value.data(), v);
      write += v;
      read = hit + t;
      ++count;
    }
    std::char_traits<char16_t>::move(s + write, s + read, text.size() - read);
    text_.resize(front_ + write + (text.size() - read));
    return count;
  }

  std::u16string out;
  // Room for a few more replacements of a short value; a long one gets room
  // for itself only, so a large value never asks for many times its size.
  out.reserve(text.size() + (v - t) * (v - t <= 4096 ? 16 : 1));
  for (; hit != std::u16string::npos; hit = Find(text, token, read)) {
    out.append(text, read, hit - read);
    moveCursor(out.size());
    out.append(value);
    read = hit + t;
    ++count;
  }
  out.append(text.substr(read));
  text_ = std::move(out);
  front_ = 0;
  return count;
}

std::u16string PageTemplate::ExtractSection(std::u16string_view name) {
  const std::optional<Section> section = FindSection(GetText(), markers_, UpToNul(name), marker_);
  if (!section) return {};
  std::u16string body(GetText().substr(section->bodyStart, section->bodyEnd - section->bodyStart));
  Splice(section->start, section->end - section->start, {});
  cursor_ = section->start;
  return body;
}

void PageTemplate::InsertAtCursor(std::u16string_view str) {
  if (cursor_ == kNone) return;
  str = UpToNul(str);
  text_.insert(front_ + cursor_, str.data(), str.size());
  cursor_ += str.size();
}

void PageTemplate::ShowSection(std::u16string_view name, bool keep) {
  name = UpToNul(name);
  // ExtractSection, and InsertAtCursor of a kept body, until an extraction
  // yields an empty body. A kept body stays where it stands and only its
  // markers go.
  for (std::optional<Section> section; (section = FindSection(GetText(), markers_, name, marker_));) {
    const std::size_t length = section->bodyEnd - section->bodyStart;
    if (keep && length > 0) {
      Splice(section->start, section->bodyStart - section->start, {});
      Splice(section->start + length, section->end - section->bodyEnd, {});
      cursor_ = section->start + length;
    } else {
      Splice(section->start, section->end - section->start, {});
      cursor_ = section->start;
    }
    if (length == 0) return;
  }
}

}  // namespace albummaker
