// The template text being filled: placeholders replaced by values, sections
// kept or removed. Markers are plain text found by exact search.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace albummaker {

// The five marker strings. An absent marker (nullopt) takes its default; an
// empty string that is given counts as given.
struct MarkerSet {
  std::u16string placeholderPrefix;
  std::u16string placeholderSuffix;
  std::u16string sectionPrefix;
  std::u16string sectionStartSuffix;
  std::u16string sectionEndSuffix;
};

using OptionalMarker = std::optional<std::u16string_view>;

// The defaults are constant, never written after start-up; every template
// copies them.
const MarkerSet& DefaultMarkers() noexcept;

class PageTemplate {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  explicit PageTemplate(std::u16string_view text = {}, OptionalMarker placeholderPrefix = std::nullopt,
                        OptionalMarker placeholderSuffix = std::nullopt, OptionalMarker sectionPrefix = std::nullopt,
                        OptionalMarker sectionStartSuffix = std::nullopt,
                        OptionalMarker sectionEndSuffix = std::nullopt);
  virtual ~PageTemplate() = default;

  void SetMarkers(OptionalMarker placeholderPrefix = std::nullopt, OptionalMarker placeholderSuffix = std::nullopt,
                  OptionalMarker sectionPrefix = std::nullopt, OptionalMarker sectionStartSuffix = std::nullopt,
                  OptionalMarker sectionEndSuffix = std::nullopt);
  const MarkerSet& Markers() const noexcept { return markers_; }

  // Replaces the whole text (taken up to its first U+0000); the cursor is
  // then none.
  void SetText(std::u16string text);
  // As SetText, for a text its caller knows to hold no U+0000 (decoded from
  // bytes cut at their first NUL): taken as it is, without a search for one.
  void AdoptText(std::u16string text) noexcept;
  std::u16string_view GetText() const noexcept { return std::u16string_view(text_).substr(front_); }
  // Moves the text out; the template is left empty, the cursor none.
  std::u16string TakeText();

  // Replaces every token of name by value, left to right without overlap.
  // Returns the number of replacements. An empty token replaces nothing.
  std::size_t SetPlaceholder(std::u16string_view name, std::u16string_view value);

  // Cuts the first section of name out of the text and leaves the cursor where
  // it began; returns its body, or an empty string (text unchanged) when the
  // section is missing or unterminated.
  std::u16string ExtractSection(std::u16string_view name);

  // Inserts at the cursor and moves the cursor past the insertion; nothing
  // when the cursor is none.
  void InsertAtCursor(std::u16string_view str);

  // keep: each section of name is replaced by its body; otherwise removed
  // whole. Stops at the first extraction that yields an empty body.
  void ShowSection(std::u16string_view name, bool keep);

  std::size_t Cursor() const noexcept { return cursor_; }

 private:
  // Replaces the length units at p by value, which is not part of the text.
  void Splice(std::size_t p, std::size_t length, std::u16string_view value);

  // The text is text_ from front_ on. Edits near the start of a long text
  // shift what stands before them and leave the room at the front, instead
  // of moving all that follows.
  std::u16string text_;
  std::size_t front_ = 0;
  std::size_t cursor_ = kNone;
  MarkerSet markers_;
  std::u16string marker_;  // room for the token or section marker searched for
};

}  // namespace albummaker
