// libFuzzer harness for the renderer: a page from fuzzer-chosen template
// bytes, folder entries and selector, served from memory through a test
// binding of the engine seam, compared with a plain model of the fill (the
// album's order, the fixed fill order, both encoders written out from their
// rules) over the stepwise template model. Also checks what the encoders
// must never write.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "album_engine.h"
#include "fuzz_text.h"
#include "memory_seam.h"
#include "template_model.h"

namespace {

constexpr char kHarness[] = "render_fuzz";

void Check(bool ok, const char* what) {
  if (!ok) fuzz_text::Fail(kHarness, what);
}

bool IsAlnum(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string ModelUrlEncode(const std::u16string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::u16string out;
  for (const char16_t c : name) {
    if (IsAlnum(c)) {
      out += c;
    } else if (c == u' ') {
      out += u'+';
    } else {
      // "%XX" below U+0100, "%uXXXX" from there on, so that no decoder can
      // take the first two digits of a longer form for "%XX".
      const int digits = c < 0x100 ? 2 : 4;
      out += c < 0x100 ? u"%" : u"%u";
      for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += static_cast<char16_t>(kHex[(c >> shift) & 15]);
    }
  }
  return out;
}

std::u16string Reference(unsigned value) {
  std::string digits = std::to_string(value);
  while (digits.size() < 4) digits.insert(digits.begin(), '0');
  return u"&#" + Ascii(digits) + u";";
}

std::u16string ModelHtmlEscape(const std::u16string& name) {
  std::u16string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
      out += Reference(0x10000 + ((c - 0xD800u) << 10) + (name[i + 1] - 0xDC00u));
      ++i;
    } else if (c < 0x20 || c > 0x7E) {
      out += Reference(c);
    } else if (c == u'"') {
      out += u"&quot;";
    } else if (c == u'\'') {
      out += u"&#0039;";
    } else if (c == u'<') {
      out += u"&lt;";
    } else if (c == u'>') {
      out += u"&gt;";
    } else if (c == u'&') {
      out += u"&amp;";
    } else {
      out += c;
    }
  }
  return out;
}

// Only ASCII letters fold; units compare unsigned; a prefix sorts first.
bool ModelLess(const std::u16string& a, const std::u16string& b) {
  auto fold = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c; };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char16_t x, char16_t y) { return fold(x) < fold(y); });
}
bool ModelSame(const std::u16string& a, const std::u16string& b) { return !ModelLess(a, b) && !ModelLess(b, a); }

std::u16string ModelPage(const std::vector<std::u16string>& album, std::size_t p, const std::string& bytes,
                         bool templateExists) {
  albummaker::model::TemplateModel page;
  if (templateExists) {
    std::u16string text;
    for (const char b : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(b));
    page.SetText(text);
  }
  const std::size_t count = album.size();
  page.SetPlaceholder(u"UrlEncodedCurrentFileName", ModelUrlEncode(album[p]));
  page.ShowSection(u"LinkToPrevious", p > 0);
  if (p > 0) page.SetPlaceholder(u"UrlEncodedPreviousFileName", ModelUrlEncode(album[p - 1]));
  page.ShowSection(u"LinkToNext", p + 1 < count);
  if (p + 1 < count) page.SetPlaceholder(u"UrlEncodedNextFileName", ModelUrlEncode(album[p + 1]));
  const std::size_t dot = album[p].rfind(u'.');
  page.SetPlaceholder(u"CurrentFileNameWithoutExtension",
                      ModelHtmlEscape(dot == std::u16string::npos ? album[p] : album[p].substr(0, dot)));
  page.SetPlaceholder(u"CurrentFileName", ModelHtmlEscape(album[p]));
  page.SetPlaceholder(u"FileOrdinalNumber", Ascii(std::to_string(p + 1)));
  page.SetPlaceholder(u"TotalFilesCount", Ascii(std::to_string(count)));
  return page.text;
}

// No "<", ">", quote or apostrophe, and every "&" opens a reference.
bool SafeText(const std::u16string& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c == u'<' || c == u'>' || c == u'"' || c == u'\'') return false;
    if (c != u'&') continue;
    const std::u16string_view rest = std::u16string_view(s).substr(i + 1);
    bool named = false;
    for (const std::u16string_view entity : {u"amp;", u"lt;", u"gt;", u"quot;"})
      named = named || rest.substr(0, entity.size()) == entity;
    std::size_t digits = 1;
    while (!named && digits < rest.size() && rest[digits] >= u'0' && rest[digits] <= u'9') ++digits;
    if (!named && !(rest.size() > digits && rest[0] == u'#' && digits > 1 && rest[digits] == u';')) return false;
  }
  return true;
}

// Printable ASCII as it is, every other unit as \uXXXX.
void Dump(const char* what, const std::u16string& s) {
  std::fprintf(stderr, "%s: \"", what);
  for (const char16_t c : s) {
    if (c >= 0x20 && c < 0x7F)
      std::fputc(static_cast<int>(c), stderr);
    else
      std::fprintf(stderr, "\\u%04X", static_cast<unsigned>(c));
  }
  std::fprintf(stderr, "\"\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  memory_seam::Album& folder = memory_seam::Current();
  folder = {};

  // Names unique under the album's order, so the model's order is the only one.
  std::vector<std::u16string> album;
  const std::size_t entryCount = in.ConsumeIntegralInRange<std::size_t>(0, 12);
  for (std::size_t i = 0; i < entryCount; ++i) {
    std::u16string name = albummaker::model::UpToNul(fuzz_text::Text(in, 4));
    static const char16_t* const kEndings[] = {u".jpg", u".JPEG", u".gif", u".Gif", u".txt", u"", u".jpg.x"};
    name += kEndings[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kEndings) - 1)];
    const bool skip = in.ConsumeIntegralInRange(0, 7) == 0;
    if (std::any_of(folder.entries.begin(), folder.entries.end(),
                    [&](const memory_seam::Entry& e) { return ModelSame(e.name, name); }))
      continue;
    folder.entries.push_back({name, skip});
    if (!skip && memory_seam::ListedAs(name)) album.push_back(name);
  }
  std::sort(album.begin(), album.end(), ModelLess);

  const bool byIndex = in.ConsumeBool();
  const std::int32_t index = in.ConsumeIntegralInRange<std::int32_t>(-2, 14);
  std::u16string name = fuzz_text::Text(in, 3);
  if (!album.empty() && in.ConsumeBool()) name = album[in.ConsumeIntegralInRange<std::size_t>(0, album.size() - 1)];
  folder.templateExists = in.ConsumeIntegralInRange(0, 15) != 0;
  // The template's bytes: markup pieces as Latin-1, with whatever else the
  // fuzzer adds.
  for (const char16_t unit : fuzz_text::Text(in, 60)) folder.templateBytes += static_cast<char>(unit & 0xFF);
  folder.templateBytes += in.ConsumeRemainingBytesAsString();

  albummaker::AlbumEngine engine;
  engine.SetFolderPath(memory_seam::kFolder.c_str());
  engine.SetPageTemplatePath(memory_seam::kTemplate.c_str());
  std::u16string page;
  try {
    page = byIndex ? engine.RenderPageByIndex(index) : engine.RenderPageByName(name);
  } catch (...) {
    Check(false, "the render raised an error");
  }

  std::u16string expected;
  if (!album.empty()) {
    std::size_t p = 0;
    if (byIndex) {
      if (index >= 0 && static_cast<std::size_t>(index) < album.size()) p = static_cast<std::size_t>(index);
    } else {
      const std::u16string& key = name;
      for (std::size_t i = 0; i < album.size(); ++i)
        if (ModelSame(album[i], key)) {
          p = i;
          break;
        }
    }
    std::string bytes = folder.templateBytes;
    bytes = bytes.substr(0, bytes.find('\0'));
    expected = ModelPage(album, p, bytes, folder.templateExists);
  }
  if (page != expected) {
    Dump("page", page);
    Dump("model", expected);
    Dump("selector", byIndex ? Ascii(std::to_string(index)) : name);
    for (const auto& e : folder.entries) Dump(e.skip ? "entry (skipped)" : "entry", e.name);
    Check(false, "the page differs from the model's");
  }

  for (const std::u16string& n : album) {
    Check(albummaker::UrlEncode(n) == ModelUrlEncode(n), "UrlEncode differs from its rule");
    const std::u16string escaped = albummaker::HtmlEscape(n);
    Check(SafeText(escaped), "HtmlEscape left markup characters or a bare ampersand");
    Check(escaped == ModelHtmlEscape(n), "HtmlEscape differs from its rule");
  }
  return 0;
}
