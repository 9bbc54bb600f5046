// libFuzzer harness for the page template: a fuzzer-chosen text and sequence
// of operations, run on PageTemplate and on the plain stepwise model, with
// text, cursor and every result compared after each step.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_text.h"
#include "page_template.h"
#include "template_model.h"

namespace {

using albummaker::PageTemplate;
using albummaker::model::TemplateModel;

constexpr char kHarness[] = "template_fuzz";
// Replacements can multiply the text, and the model edits it one copy per
// replacement; past this a run proves nothing more, only slower.
constexpr std::size_t kMaxText = 1024;

void Check(bool ok, const char* what) {
  if (!ok) fuzz_text::Fail(kHarness, what);
}

std::optional<std::u16string> Marker(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) return std::nullopt;
  return fuzz_text::Text(in, 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::u16string initial = fuzz_text::Text(in, 40);
  PageTemplate real(initial);
  TemplateModel model;
  model.SetText(initial);

  for (int step = 0; step < 48 && in.remaining_bytes() > 0 && model.text.size() <= kMaxText; ++step) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0: {
        const std::u16string name = fuzz_text::Text(in, 2), value = fuzz_text::Text(in, 4);
        Check(real.SetPlaceholder(name, value) == model.SetPlaceholder(name, value), "SetPlaceholder count");
        break;
      }
      case 1: {
        const std::u16string name = fuzz_text::Text(in, 2);
        const bool keep = in.ConsumeBool();
        real.ShowSection(name, keep);
        model.ShowSection(name, keep);
        break;
      }
      case 2: {
        const std::u16string name = fuzz_text::Text(in, 2);
        Check(real.ExtractSection(name) == model.ExtractSection(name), "ExtractSection body");
        break;
      }
      case 3: {
        const std::u16string str = fuzz_text::Text(in, 4);
        real.InsertAtCursor(str);
        model.InsertAtCursor(str);
        break;
      }
      case 4: {
        const auto pp = Marker(in), ps = Marker(in), sp = Marker(in), ss = Marker(in), se = Marker(in);
        real.SetMarkers(pp, ps, sp, ss, se);
        model.SetMarkers(pp, ps, sp, ss, se);
        const auto& m = real.Markers();
        Check(m.placeholderPrefix == model.placeholderPrefix && m.placeholderSuffix == model.placeholderSuffix &&
                  m.sectionPrefix == model.sectionPrefix && m.sectionStartSuffix == model.sectionStartSuffix &&
                  m.sectionEndSuffix == model.sectionEndSuffix,
              "markers");
        break;
      }
      default: {
        const std::u16string text = fuzz_text::Text(in, 40);
        real.SetText(text);
        model.SetText(text);
        break;
      }
    }
    Check(real.GetText() == model.text, "text");
    Check(real.Cursor() == model.cursor, "cursor");
    Check(real.Cursor() == PageTemplate::kNone || real.Cursor() <= real.GetText().size(), "cursor past the text");
    Check(real.GetText().find(u'\0') == std::u16string::npos, "a NUL in the text");
  }
  return 0;
}
