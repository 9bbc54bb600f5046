// libFuzzer harness for the registry script interpreter. Every input is run
// as a script through registration, removal and a second removal over an
// in-memory registry, some runs with registry faults switched on. Beyond the
// sanitizers it checks that no key is left open, that only keys it opened
// are closed, that results are the interpreter's own codes, and that a
// second removal changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

void Seed(MemoryRegistry& registry) {
  registry.AddKey("HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}\\InprocServer32");
  registry.AddString("HKCR\\Quorrel.AlbumMaker", "", "old");
  registry.AddString("HKCR\\A", "foreign", "f");
  registry.AddKey("HKCU\\Software\\Foreign");
}

// Faults picked from the input so that a given input always runs the same.
unsigned FaultMode(const std::uint8_t* data, std::size_t size) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum += data[i];
  return sum % 8;
}

void Apply(MemoryRegistry& registry, unsigned mode) {
  switch (mode) {
    case 1: registry.RefuseWrites(true); break;
    case 2: registry.FailCloseOf("HKCR\\A"); break;
    case 3: registry.HideKey("HKCR\\B"); break;
    case 4: registry.ReadOnlyKey("HKCR\\Quorrel.AlbumMaker"); break;
    case 5: registry.RefuseDeleteOf("HKCR\\A"); registry.FailCreateOf("HKCR\\A\\B"); break;
    default: break;  // no faults
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

  const std::string afterFirst = registry.Dump();
  HRESULT again = registrar.ApplyScript(script.c_str(), FALSE);
  Check(Known(again), "unexpected result from the second removal");
  Check(registry.open_handles() == 0, "second removal left a key open");
  if (mode == 0 && removed == S_OK) {
    Check(again == S_OK, "second removal failed where the first succeeded");
    Check(registry.Dump() == afterFirst, "second removal changed the registry");
  }
  Check(registry.bad_closes() == 0, "closed a key that was not open");
  registrar.ResetReplacements();
  return 0;
}
