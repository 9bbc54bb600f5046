// libFuzzer harness for the registry script interpreter. Every input is run
// as a script through registration, removal and a second removal over an
// in-memory registry, some runs with registry faults switched on. Beyond the
// sanitizers it checks that no key is left open, that only keys it opened
// are closed, that results are the interpreter's own codes, and that keys
// the script does not name survive.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "memory_registry.h"
#include "script_registrar.h"

namespace {

using albummaker::ScriptRegistrar;
using albummaker::WideString;
using albummaker::testing::MemoryRegistry;

WideString Wide(const char* ascii) {
  std::string s(ascii);
  return WideString(s.begin(), s.end());
}

bool Known(HRESULT hr) {
  return hr == S_OK || hr == static_cast<HRESULT>(0x80020009L) || hr == static_cast<HRESULT>(0x80004005L) ||
         hr == static_cast<HRESULT>(0x8007000EL);
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "registrar_fuzz: %s\n", what);
    std::abort();
  }
}

struct SeedKey {
  const char* path;
  std::vector<const char*> names;  // the key's and its parents' names, protected ones left out
};

const SeedKey kSeedKeys[] = {
    {"HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}\\InprocServer32",
     {"{00000000-0000-0000-0000-000000000001}", "InprocServer32"}},
    {"HKCU\\Software\\Foreign", {"Software", "Foreign"}},
};

bool Mentions(const std::string& script, const char* name) {
  auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  const std::string_view wanted(name);
  auto it = std::search(script.begin(), script.end(), wanted.begin(), wanted.end(),
                        [&](char a, char b) { return fold(a) == fold(b); });
  return it != script.end();
}

void Seed(MemoryRegistry& registry) {
  for (const auto& seed : kSeedKeys) registry.AddKey(seed.path);
  registry.AddString("HKCR\\Quorrel.AlbumMaker", "", "old");
  registry.AddString("HKCR\\A", "foreign", "f");
}

// Faults picked from the input so that a given input always runs the same.
unsigned FaultMode(const std::uint8_t* data, std::size_t size) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum += data[i];
  return sum % 8;
}

void Apply(MemoryRegistry& registry, unsigned mode) {
  switch (mode) {
    case 1:
      registry.RefuseWrites(true);
      break;
    case 2:
      registry.FailCloseOf("HKCR\\A");
      break;
    case 3:
      registry.HideKey("HKCR\\B");
      break;
    case 4:
      registry.ReadOnlyKey("HKCR\\Quorrel.AlbumMaker");
      break;
    case 5:
      registry.RefuseDeleteOf("HKCR\\A");
      registry.FailCreateOf("HKCR\\A\\B");
      break;
    default:
      break;  // no faults
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The script ends at its first zero byte, as a zero-terminated text does.
  const std::string script(reinterpret_cast<const char*>(data), size);
  const unsigned mode = FaultMode(data, size);

  MemoryRegistry registry;
  Seed(registry);
  Apply(registry, mode);
  ScriptRegistrar registrar(registry);
  Check(registrar.DefineReplacement(Wide("Module").c_str(), Wide("C:\\it''s\\module.dll").c_str()) == S_OK,
        "DefineReplacement failed");

  HRESULT registered = registrar.ApplyScript(script.c_str(), TRUE);
  Check(Known(registered), "unexpected result from registration");
  Check(registry.open_handles() == 0, "registration left a key open");

  HRESULT removed = registrar.ApplyScript(script.c_str(), FALSE);
  Check(Known(removed), "unexpected result from removal");
  Check(registry.open_handles() == 0, "removal left a key open");

  HRESULT again = registrar.ApplyScript(script.c_str(), FALSE);
  Check(Known(again), "unexpected result from the second removal");
  Check(registry.open_handles() == 0, "second removal left a key open");

  // Keys the script never names, nor any of their (unprotected) parents,
  // must survive every pass.
  const std::string text(script.c_str());
  for (const auto& seed : kSeedKeys) {
    bool named = false;
    for (const char* name : seed.names) named = named || Mentions(text, name);
    if (!named) Check(registry.HasKey(seed.path), "a key the script does not name was deleted");
  }
  Check(registry.bad_closes() == 0, "closed a key that was not open");
  registrar.ResetReplacements();
  return 0;
}
