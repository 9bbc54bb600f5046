// Applies registry scripts: the text language in which the component states
// the registry entries it needs, carried in its module as a resource.
//
//   HKCR
//   {
//       Some.Name = s 'Text'
//       {
//           val Named = d '42'
//       }
//   }
//
// Registration opens or creates the keys named and writes the values given;
// removal takes away what the script names, from the leaves up, sparing keys
// that still hold foreign sub keys and keys marked NoRemove.
#pragma once

#include <windows.h>

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "registry.h"

namespace albummaker {

using WideString = std::basic_string<WCHAR>;

// Result codes of the interpreter, fixed whatever the platform headers say.
inline constexpr HRESULT kSyntaxError = static_cast<HRESULT>(0x80020009L);  // DISP_E_EXCEPTION
inline constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005L);         // E_FAIL
inline constexpr HRESULT kOutOfMemory = static_cast<HRESULT>(0x8007000EL);  // E_OUTOFMEMORY

// Fixed sizes of the language.
inline constexpr std::size_t kTokenBufferSize = 4096;      // with its zero
inline constexpr std::size_t kQuotedTokenLimit = 4094;     // bytes a quoted token may hold
inline constexpr std::size_t kValueNameBufferSize = 260;   // with its zero
inline constexpr std::size_t kReplacementNameLimit = 31;   // bytes of a %NAME%
inline constexpr std::size_t kSubKeyNameBufferSize = 256;  // while deleting a tree
inline constexpr std::size_t kValueNameQuerySize = 4096;   // KeyHasNamedValues
// Blocks nest no deeper than the system registry lets keys nest.
inline constexpr int kMaxBlockDepth = 512;

// Ordered (name, value) pairs for %NAME% references; later duplicates never
// shadow earlier ones.
class ReplacementTable {
 public:
  static constexpr std::size_t kInitialRoom = 10;

  HRESULT Add(LPCWSTR name, LPCWSTR value) noexcept;
  void Clear() noexcept;
  // Value of the first pair whose name equals `name` (ANSI) without regard
  // to case, or null.
  const WideString* FindReplacement(const char* name) const;

  std::size_t size() const { return pairs_.size(); }
  std::size_t room() const { return pairs_.capacity(); }

 private:
  struct Pair {
    WideString name;
    WideString value;
  };
  std::vector<Pair> pairs_;
};

// Expands %NAME% references and %% in `script` into `out` (zero-terminated).
// `maxRoom` caps how far the output may grow; beyond it the expansion fails
// as if memory had run out.
HRESULT ExpandScript(const char* script, const ReplacementTable& table, std::string& out,
                     std::size_t maxRoom = std::numeric_limits<std::size_t>::max()) noexcept;

// Deletes `name` under `parent` with its whole tree; a Win32 code.
LONG DeleteKeyTree(Registry& registry, HKEY parent, const char* name);
bool KeyHasSubKeys(Registry& registry, HKEY key);
// True when the key holds a value other than its default one.
bool KeyHasNamedValues(Registry& registry, HKEY key);

// One run over an expanded script: position, token buffer, registry.
class ScriptReader {
 public:
  ScriptReader(const char* text, Registry& registry);

  void SkipBlanks();
  HRESULT ReadToken();
  const char* token() const { return token_.data(); }
  std::size_t tokenLength() const { return tokenLength_; }
  const char* position() const { return pos_; }
  void set_position(const char* pos) { pos_ = pos; }

  HRESULT ApplyRootBlocks(bool registerPass);

 private:
  HRESULT RegisterBlock(HKEY parent, int depth);
  HRESULT RemoveBlock(HKEY parent, bool skipMode, int depth);
  HRESULT SkipValueClause();
  HRESULT StoreValue(HKEY key, const char* valueName);
  HRESULT ReadValueName(std::string& name);
  HRESULT ReadBlockEnd();

  const char* pos_;
  Registry& registry_;
  std::vector<char> token_;
  std::size_t tokenLength_ = 0;
};

class ScriptRegistrar {
 public:
  // Works on the system's registry.
  ScriptRegistrar();
  explicit ScriptRegistrar(Registry& registry);

  HRESULT DefineReplacement(LPCWSTR name, LPCWSTR value) noexcept;
  HRESULT ResetReplacements() noexcept;
  // Reads the script from resource `resourceId` of type `typeName` in the
  // module file `modulePath` and applies it.
  HRESULT ApplyScriptResource(LPCWSTR modulePath, WORD resourceId, LPCWSTR typeName, BOOL registerFlag) noexcept;
  // A non-zero flag registers, zero removes.
  HRESULT ApplyScript(const char* script, BOOL registerFlag) noexcept;

  const ReplacementTable& replacements() const { return table_; }

 private:
  Registry& registry_;
  ReplacementTable table_;
};

}  // namespace albummaker
