// libFuzzer harness for the Linux registry store's file parser: any bytes
// parse or are refused without a crash, and a parsed store written back and
// parsed again is the same store, key for key and value for value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_text.h"
#include "registry_store.h"

namespace {

using namespace albumrt::registry;

constexpr char kHarness[] = "registry_file_fuzz";

void Check(bool ok, const char* what) {
  if (!ok) fuzz_text::Fail(kHarness, what);
}

bool SameValue(const Value& a, const Value& b) { return a.name == b.name && a.type == b.type && a.data == b.data; }

bool SameKey(const Key& a, const Key& b) {
  if (a.name != b.name || a.values.size() != b.values.size() || a.children.size() != b.children.size()) return false;
  for (std::size_t i = 0; i < a.values.size(); ++i)
    if (!SameValue(a.values[i], b.values[i])) return false;
  for (std::size_t i = 0; i < a.children.size(); ++i)
    if (!SameKey(*a.children[i], *b.children[i])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Roots first = MakeEmptyRoots(1);
  std::string error;
  if (!Parse(text, first, 1, error)) {
    Check(!error.empty(), "a refused file gives no reason");
    return 0;
  }
  const std::string written = Serialize(first);
  Roots second = MakeEmptyRoots(2);
  Check(Parse(written, second, 2, error), "the store's own file does not parse");
  for (std::size_t r = 0; r < kRootCount; ++r) Check(SameKey(*first[r], *second[r]), "written back, the store changed");
  Check(Serialize(second) == written, "writing is not stable");
  return 0;
}
