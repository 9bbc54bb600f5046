// Shared helpers of the interpreter tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "memory_registry.h"
#include "script_registrar.h"

namespace albummaker::testing {

inline WideString Wide(const std::string& ascii) { return WideString(ascii.begin(), ascii.end()); }

inline constexpr HRESULT kSyntax = static_cast<HRESULT>(0x80020009L);
inline constexpr HRESULT kEFail = static_cast<HRESULT>(0x80004005L);
inline constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8007000EL);

// A registrar over a fresh in-memory registry. Every test ends with no key
// left open and no predefined or unknown key closed.
class RegistrarTest : public ::testing::Test {
 protected:
  HRESULT Register(const std::string& script) { return registrar.ApplyScript(script.c_str(), TRUE); }
  HRESULT Unregister(const std::string& script) { return registrar.ApplyScript(script.c_str(), FALSE); }

  std::string Text(const std::string& path, const std::string& name = "") const {
    auto value = registry.Value(path, name);
    if (!value) return "<none>";
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ)) << path << " " << name;
    return value->text();
  }

  void TearDown() override {
    EXPECT_EQ(registry.open_handles(), 0u);
    EXPECT_EQ(registry.bad_closes(), 0u);
  }

  MemoryRegistry registry;
  ScriptRegistrar registrar{registry};
};

}  // namespace albummaker::testing
