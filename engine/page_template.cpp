#include "page_template.h"

namespace albummaker {
namespace {

std::u16string_view UpToNul(std::u16string_view s) {
  const std::size_t nul = s.find(u'\0');
  return nul == std::u16string_view::npos ? s : s.substr(0, nul);
}

void Assign(std::u16string& target, const OptionalMarker& given, const std::u16string& fallback) {
  if (given)
    target.assign(UpToNul(*given));
  else
    target = fallback;
}

}  // namespace

const MarkerSet& DefaultMarkers() noexcept {
  // Constant-initialised would need constexpr strings; a function-local static
  // is initialised once, thread-safely, and only read afterwards.
  static const MarkerSet defaults{u"^tq_", u"^", u"<!--tq_", u"Start-->", u"End-->"};
  return defaults;
}

PageTemplate::PageTemplate(std::u16string_view text, OptionalMarker placeholderPrefix,
                           OptionalMarker placeholderSuffix, OptionalMarker sectionPrefix,
                           OptionalMarker sectionStartSuffix, OptionalMarker sectionEndSuffix)
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

void PageTemplate::SetText(std::u16string_view text) {
  text_.assign(UpToNul(text));
  cursor_ = kNone;
}

std::size_t PageTemplate::SetPlaceholder(std::u16string_view name, std::u16string_view value) {
  name = UpToNul(name);
  value = UpToNul(value);
  std::u16string token;
  token.reserve(markers_.placeholderPrefix.size() + name.size() + markers_.placeholderSuffix.size());
  token.append(markers_.placeholderPrefix).append(name).append(markers_.placeholderSuffix);
  const std::size_t t = token.size();
  if (t == 0) return 0;

  const std::u16string_view src(text_);
  std::size_t hit = src.find(token);
  if (hit == std::u16string_view::npos) return 0;

  // Count first so the result is allocated once.
  std::size_t count = 0;
  for (std::size_t at = hit; at != std::u16string_view::npos; at = src.find(token, at + t)) ++count;

  const std::size_t v = value.size();
  std::u16string out;
  out.reserve(src.size() - count * t + count * v);
  std::size_t copied = 0;
  for (std::size_t at = hit; at != std::u16string_view::npos; at = src.find(token, at + t)) {
    out.append(src.substr(copied, at - copied));
    // p is where the token stands in the text as it is at this replacement,
    // so the cursor follows the same rule as one replacement at a time.
    const std::size_t p = out.size();
    if (cursor_ != kNone && cursor_ >= p) {
      if (cursor_ < p + t)
        cursor_ = p + v;
      else
        cursor_ = cursor_ + v - t;
    }
    out.append(value);
    copied = at + t;
  }
  out.append(src.substr(copied));
  text_ = std::move(out);
  return count;
}

std::u16string PageTemplate::ExtractSection(std::u16string_view name) {
  name = UpToNul(name);
  std::u16string start = markers_.sectionPrefix;
  start.append(name).append(markers_.sectionStartSuffix);
  const std::size_t s = text_.find(start);
  if (s == std::u16string::npos) return {};
  std::u16string end = markers_.sectionPrefix;
  end.append(name).append(markers_.sectionEndSuffix);
  const std::size_t bodyStart = s + start.size();
  const std::size_t e = text_.find(end, bodyStart);
  if (e == std::u16string::npos) return {};
  std::u16string body = text_.substr(bodyStart, e - bodyStart);
  text_.erase(s, e + end.size() - s);
  cursor_ = s;
  return body;
}

void PageTemplate::InsertAtCursor(std::u16string_view str) {
  if (cursor_ == kNone) return;
  str = UpToNul(str);
  text_.insert(cursor_, str);
  cursor_ += str.size();
}

void PageTemplate::ShowSection(std::u16string_view name, bool keep) {
  std::u16string body = ExtractSection(name);
  while (!body.empty()) {
    if (keep) InsertAtCursor(body);
    body = ExtractSection(name);
  }
}

}  // namespace albummaker
