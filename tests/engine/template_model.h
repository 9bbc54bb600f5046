// A plain, stepwise model of the page template's operations: every search is
// a unit-by-unit comparison at each position in turn, every edit one string
// operation, written to be read against the rules rather than to be fast.
// Tests and fuzzers compare PageTemplate with it after every step.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace albummaker::model {

inline constexpr std::size_t kNone = static_cast<std::size_t>(-1);

inline std::u16string UpToNul(std::u16string_view s) {
  std::u16string out;
  for (char16_t c : s) {
    if (c == u'\0') break;
    out += c;
  }
  return out;
}

// The first position at or after from where the whole pattern stands in text.
inline std::size_t Find(const std::u16string& text, const std::u16string& pattern, std::size_t from) {
  for (std::size_t p = from; p + pattern.size() <= text.size(); ++p) {
    std::size_t i = 0;
    while (i < pattern.size() && text[p + i] == pattern[i]) ++i;
    if (i == pattern.size()) return p;
  }
  return kNone;
}

struct TemplateModel {
  std::u16string text;
  std::size_t cursor = kNone;
  std::u16string placeholderPrefix = u"^tq_", placeholderSuffix = u"^", sectionPrefix = u"<!--tq_",
                 sectionStartSuffix = u"Start-->", sectionEndSuffix = u"End-->";

  void SetMarkers(std::optional<std::u16string_view> pp, std::optional<std::u16string_view> ps,
                  std::optional<std::u16string_view> sp, std::optional<std::u16string_view> ss,
                  std::optional<std::u16string_view> se) {
    placeholderPrefix = pp ? UpToNul(*pp) : u"^tq_";
    placeholderSuffix = ps ? UpToNul(*ps) : u"^";
    sectionPrefix = sp ? UpToNul(*sp) : u"<!--tq_";
    sectionStartSuffix = ss ? UpToNul(*ss) : u"Start-->";
    sectionEndSuffix = se ? UpToNul(*se) : u"End-->";
  }

  void SetText(std::u16string_view t) {
    text = UpToNul(t);
    cursor = kNone;
  }

  std::size_t SetPlaceholder(std::u16string_view name, std::u16string_view rawValue) {
    const std::u16string token = placeholderPrefix + UpToNul(name) + placeholderSuffix;
    const std::u16string value = UpToNul(rawValue);
    if (token.empty()) return 0;  // no caller makes one; nothing to replace
    std::size_t count = 0;
    std::size_t from = 0;
    for (std::size_t p; (p = Find(text, token, from)) != kNone;) {
      text = text.substr(0, p) + value + text.substr(p + token.size());
      if (cursor != kNone && cursor >= p) {
        if (cursor < p + token.size())
          cursor = p + value.size();
        else
          cursor = cursor + value.size() - token.size();
      }
      ++count;
      from = p + value.size();
    }
    return count;
  }

  std::u16string ExtractSection(std::u16string_view rawName) {
    const std::u16string name = UpToNul(rawName);
    const std::u16string start = sectionPrefix + name + sectionStartSuffix;
    const std::u16string end = sectionPrefix + name + sectionEndSuffix;
    const std::size_t s = Find(text, start, 0);
    if (s == kNone) return {};
    const std::size_t e = Find(text, end, s + start.size());
    if (e == kNone) return {};
    std::u16string body = text.substr(s + start.size(), e - (s + start.size()));
    text = text.substr(0, s) + text.substr(e + end.size());
    cursor = s;
    return body;
  }

  void InsertAtCursor(std::u16string_view raw) {
    if (cursor == kNone) return;
    const std::u16string str = UpToNul(raw);
    text = text.substr(0, cursor) + str + text.substr(cursor);
    cursor += str.size();
  }

  void ShowSection(std::u16string_view name, bool keep) {
    for (std::u16string body = ExtractSection(name); !body.empty(); body = ExtractSection(name)) {
      if (keep) InsertAtCursor(body);
    }
  }
};

}  // namespace albummaker::model
