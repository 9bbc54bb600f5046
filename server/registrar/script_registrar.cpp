#include "script_registrar.h"

#include <oleauto.h>

#include <new>

#include "caught_exception.h"

namespace albummaker {

namespace {

struct RootKeyEntry {
  const char* name;
  HKEY key;
};

const RootKeyEntry RootKeyTable[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

enum class ValueType { String, Number, Binary };

struct ValueTypeEntry {
  const char* name;
  ValueType type;
};

const ValueTypeEntry ValueTypeTable[] = {
    {"S", ValueType::String},
    {"D", ValueType::Number},
    {"B", ValueType::Binary},
};

const char* const kForceRemove = "ForceRemove";
const char* const kNoRemove = "NoRemove";
const char* const kDelete = "Delete";
const char* const kVal = "Val";

const char* const ProtectedKeyNames[] = {"CLSID", "TYPELIB"};

bool IsBlank(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

// Next character in the ANSI code page, never stepping over the end.
const char* NextChar(const char* p) {
  if (*p == '\0') return p;
  const char* next = CharNextA(p);
  if (next <= p) return p + 1;
  for (const char* q = p + 1; q < next; ++q) {
    if (*q == '\0') return q;
  }
  return next;
}

bool Same(const char* a, const char* b) { return lstrcmpiA(a, b) == 0; }

const RootKeyEntry* FindRootKey(const char* name) {
  for (const auto& entry : RootKeyTable) {
    if (Same(entry.name, name)) return &entry;
  }
  return nullptr;
}

const ValueTypeEntry* FindValueType(const char* name) {
  for (const auto& entry : ValueTypeTable) {
    if (Same(entry.name, name)) return &entry;
  }
  return nullptr;
}

bool IsProtected(const char* name) {
  for (const char* protectedName : ProtectedKeyNames) {
    if (Same(protectedName, name)) return true;
  }
  return false;
}

// A key name names exactly one level: not none (an empty name would stand
// for the parent itself, so deleting it would take the parent's whole tree)
// and not several. The scan steps whole characters so a trail byte equal to
// '\' is not mistaken for a separator.
bool IsBadKeyName(const char* name) {
  if (*name == '\0') return true;
  for (const char* p = name; *p != '\0'; p = NextChar(p)) {
    if (*p == '\\') return true;
  }
  return false;
}

bool IsBlockOpen(const char* token) { return token[0] == '{' && token[1] == '\0'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

// Wide to ANSI; false when the text cannot be converted or stored.
bool ToAnsi(LPCWSTR text, std::string& out) {
  int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  out.assign(static_cast<std::size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), bytes, nullptr, nullptr) != bytes) return false;
  out.resize(static_cast<std::size_t>(bytes) - 1);
  return true;
}

// Appends to the expansion output with its room doubling as needed.
class GrowingText {
 public:
  GrowingText(std::string& out, std::size_t room, std::size_t maxRoom)
      : out_(out), room_(room == 0 ? 1 : room), maxRoom_(maxRoom) {}

  bool Start() {
    if (room_ > maxRoom_) return false;
    out_.clear();
    out_.reserve(room_);
    return true;
  }
  bool Append(const char* data, std::size_t n) {
    while (out_.size() + n > room_) {
      if (room_ > maxRoom_ / 2) return false;
      room_ *= 2;
      out_.reserve(room_);
    }
    out_.append(data, n);
    return true;
  }

 private:
  std::string& out_;
  std::size_t room_;
  std::size_t maxRoom_;
};

HRESULT LastErrorResult() {
  DWORD code = GetLastError();
  // A failure must never come back as success, even when no code was left.
  if (code == 0) return kFail;
  return HRESULT_FROM_WIN32(code);
}

}  // namespace

// ---------------------------------------------------------------------------
// Replacements

HRESULT ReplacementTable::Add(LPCWSTR name, LPCWSTR value) noexcept {
  if (name == nullptr || value == nullptr) return E_POINTER;
  try {
    Pair pair{WideString(name), WideString(value)};
    if (pairs_.size() == pairs_.capacity()) {
      pairs_.reserve(pairs_.capacity() == 0 ? kInitialRoom : pairs_.capacity() * 2);
    }
    pairs_.push_back(std::move(pair));
    return S_OK;
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

void ReplacementTable::Clear() noexcept {
  pairs_.clear();
  pairs_.shrink_to_fit();
}

const WideString* ReplacementTable::FindReplacement(const char* name) const {
  std::string ansi;
  for (const auto& pair : pairs_) {
    if (ToAnsi(pair.name.c_str(), ansi) && Same(ansi.c_str(), name)) return &pair.value;
  }
  return nullptr;
}

namespace {

HRESULT Expand(const char* script, const ReplacementTable& table, std::string& out, std::size_t maxRoom) {
  std::string_view source(script);
  if (source.size() > maxRoom / 2) return kOutOfMemory;
  GrowingText text(out, source.size() * 2, maxRoom);
  if (!text.Start()) return kOutOfMemory;
  std::string value;
  const char* p = script;
  while (*p != '\0') {
    if (*p != '%') {
      const char* next = NextChar(p);
      if (!text.Append(p, static_cast<std::size_t>(next - p))) return kOutOfMemory;
      p = next;
      continue;
    }
    if (p[1] == '%') {
      if (!text.Append("%", 1)) return kOutOfMemory;
      p += 2;
      continue;
    }
    const char* nameStart = p + 1;
    const char* nameEnd = nameStart;
    while (*nameEnd != '\0' && *nameEnd != '%') nameEnd = NextChar(nameEnd);
    if (*nameEnd == '\0') return kSyntaxError;
    std::size_t nameLength = static_cast<std::size_t>(nameEnd - nameStart);
    if (nameLength > kReplacementNameLimit) return kFail;
    std::string name(nameStart, nameLength);
    const WideString* replacement = table.FindReplacement(name.c_str());
    if (replacement == nullptr) return kSyntaxError;
    if (!ToAnsi(replacement->c_str(), value)) return kSyntaxError;
    if (!text.Append(value.data(), value.size())) return kOutOfMemory;
    p = nameEnd + 1;
  }
  return S_OK;
}

}  // namespace

HRESULT ExpandScript(const char* script, const ReplacementTable& table, std::string& out,
                     std::size_t maxRoom) noexcept {
  HRESULT hr;
  try {
    hr = Expand(script, table, out, maxRoom);
  } catch (...) {
    hr = am::ResultFromCaughtException();
  }
  // A failed expansion leaves nothing behind.
  if (FAILED(hr)) out.clear();
  return hr;
}

// ---------------------------------------------------------------------------
// Key trees

LONG DeleteKeyTree(Registry& registry, HKEY parent, const char* name) {
  HKEY opened = nullptr;
  LONG result = registry.OpenKey(parent, name, KEY_READ | KEY_WRITE, &opened);
  if (result != ERROR_SUCCESS) return result;
  RegistryKey key(opened, CloseKeyThrough{&registry});
  char subKey[kSubKeyNameBufferSize];
  for (;;) {
    DWORD size = sizeof subKey;
    if (registry.FirstSubKeyName(key.get(), subKey, &size) != ERROR_SUCCESS) break;
    subKey[sizeof subKey - 1] = '\0';
    result = DeleteKeyTree(registry, key.get(), subKey);
    if (result != ERROR_SUCCESS) return result;
  }
  key.reset();
  return registry.DeleteKey(parent, name);
}

bool KeyHasSubKeys(Registry& registry, HKEY key) {
  DWORD subKeys = 0;
  DWORD values = 0;
  if (registry.QueryCounts(key, &subKeys, &values) != ERROR_SUCCESS) return false;
  return subKeys > 0;
}

bool KeyHasNamedValues(Registry& registry, HKEY key) {
  DWORD subKeys = 0;
  DWORD values = 0;
  if (registry.QueryCounts(key, &subKeys, &values) != ERROR_SUCCESS) return false;
  if (values >= 2) return true;
  if (values == 0) return false;
  std::vector<char> name(kValueNameQuerySize, '\0');
  DWORD size = static_cast<DWORD>(name.size());
  LONG result = registry.FirstValueName(key, name.data(), &size);
  // A name too long for the buffer is certainly not the empty default name.
  if (result == ERROR_MORE_DATA) return true;
  if (result != ERROR_SUCCESS) return false;
  return name[0] != '\0';
}

// ---------------------------------------------------------------------------
// Reading

ScriptReader::ScriptReader(const char* text, Registry& registry)
    : pos_(text), registry_(registry), token_(kTokenBufferSize, '\0') {}

void ScriptReader::SkipBlanks() {
  while (IsBlank(*pos_)) ++pos_;
}

HRESULT ScriptReader::ReadToken() {
  SkipBlanks();
  tokenLength_ = 0;
  token_[0] = '\0';
  if (*pos_ == '\0') return kSyntaxError;

  if (*pos_ == '\'') {
    const char* p = pos_ + 1;
    for (;;) {
      if (*p == '\0') return kSyntaxError;
      const char* next;
      std::size_t n;
      if (*p == '\'') {
        if (p[1] != '\'') {
          pos_ = p + 1;
          break;
        }
        next = p + 2;  // the pair stands for one quote
        n = 1;
      } else {
        next = NextChar(p);
        n = static_cast<std::size_t>(next - p);
      }
      if (tokenLength_ >= kQuotedTokenLimit) return kSyntaxError;
      for (std::size_t i = 0; i < n; ++i) token_[tokenLength_++] = p[i];
      p = next;
    }
  } else {
    const char* p = pos_;
    while (*p != '\0' && !IsBlank(*p)) {
      const char* next = NextChar(p);
      std::size_t n = static_cast<std::size_t>(next - p);
      if (tokenLength_ + n >= kTokenBufferSize) return kSyntaxError;
      for (std::size_t i = 0; i < n; ++i) token_[tokenLength_++] = p[i];
      p = next;
    }
    pos_ = p;
  }
  token_[tokenLength_] = '\0';
  return S_OK;
}

HRESULT ScriptReader::SkipValueClause() {
  if (token_[0] != '=') return S_OK;
  HRESULT hr = ReadToken();  // the type, not looked up
  if (FAILED(hr)) return hr;
  SkipBlanks();
  hr = ReadToken();  // the value
  if (FAILED(hr)) return hr;
  return ReadToken();
}

HRESULT ScriptReader::ReadValueName(std::string& name) {
  HRESULT hr = ReadToken();
  if (FAILED(hr)) return hr;
  if (tokenLength_ >= kValueNameBufferSize) return kSyntaxError;
  name.assign(token_.data(), tokenLength_);
  return S_OK;
}

// The token in hand closes a nested block; read the one after it.
HRESULT ScriptReader::ReadBlockEnd() { return ReadToken(); }

HRESULT ScriptReader::StoreValue(HKEY key, const char* valueName) {
  HRESULT hr = ReadToken();
  if (FAILED(hr)) return hr;
  const ValueTypeEntry* type = FindValueType(token_.data());
  if (type == nullptr) return kSyntaxError;
  SkipBlanks();
  hr = ReadToken();
  if (FAILED(hr)) return hr;
  const char* value = token_.data();
  const std::size_t length = tokenLength_;

  switch (type->type) {
    case ValueType::String:
      registry_.SetValue(key, valueName, REG_SZ, reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(length + 1));
      break;
    case ValueType::Number: {
      int units = MultiByteToWideChar(CP_ACP, 0, value, -1, nullptr, 0);
      if (units <= 0) return kSyntaxError;
      std::vector<WCHAR> wide(static_cast<std::size_t>(units), 0);
      if (MultiByteToWideChar(CP_ACP, 0, value, -1, wide.data(), units) != units) return kSyntaxError;
      ULONG number = 0;
      if (FAILED(VarUI4FromStr(wide.data(), 0, 0, &number))) return kSyntaxError;
      DWORD data = static_cast<DWORD>(number);
      registry_.SetValue(key, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
      break;
    }
    case ValueType::Binary: {
      if (length % 2 != 0) return kFail;
      std::vector<BYTE> bytes(length / 2);
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<BYTE>(HexDigit(value[2 * i]) << 4 | HexDigit(value[2 * i + 1]));
      }
      registry_.SetValue(key, valueName, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
      break;
    }
  }
  return ReadToken();
}

// ---------------------------------------------------------------------------
// Registration pass

HRESULT ScriptReader::RegisterBlock(HKEY parent, int depth) {
  if (depth > kMaxBlockDepth) return kSyntaxError;
  RegistryKey current(nullptr, CloseKeyThrough{&registry_});
  HRESULT hr = ReadToken();
  if (FAILED(hr)) return hr;

  while (token_[0] != '}') {
    if (Same(token_.data(), kForceRemove) || Same(token_.data(), kDelete)) {
      const bool isDelete = Same(token_.data(), kDelete);
      hr = ReadToken();
      if (FAILED(hr)) return hr;
      if (IsBadKeyName(token_.data())) return kSyntaxError;
      if (!IsProtected(token_.data())) DeleteKeyTree(registry_, parent, token_.data());
      if (isDelete) {
        hr = ReadToken();
        if (FAILED(hr)) return hr;
        hr = SkipValueClause();
        if (FAILED(hr)) return hr;
        if (IsBlockOpen(token_.data())) return kSyntaxError;
        continue;
      }
    }
    if (Same(token_.data(), kNoRemove)) {
      hr = ReadToken();
      if (FAILED(hr)) return hr;
    }
    if (Same(token_.data(), kVal)) {
      std::string valueName;
      hr = ReadValueName(valueName);
      if (FAILED(hr)) return hr;
      hr = ReadToken();
      if (FAILED(hr)) return hr;
      if (token_[0] != '=') return kSyntaxError;
      hr = StoreValue(parent, valueName.c_str());
      if (FAILED(hr)) return hr;
      if (IsBlockOpen(token_.data())) return kSyntaxError;
      continue;
    }

    // A key entry.
    if (IsBadKeyName(token_.data())) return kSyntaxError;
    HKEY opened = nullptr;
    bool created = false;
    if (registry_.OpenKey(parent, token_.data(), KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS &&
        registry_.OpenKey(parent, token_.data(), KEY_READ, &opened) != ERROR_SUCCESS) {
      if (registry_.CreateKey(parent, token_.data(), &opened) != ERROR_SUCCESS) return kSyntaxError;
      created = true;
    }
    const LONG closed = CloseNow(registry_, current);
    current.reset(opened);
    if (created && closed != ERROR_SUCCESS) return kSyntaxError;

    hr = ReadToken();
    if (FAILED(hr)) return hr;
    if (token_[0] == '=') {
      hr = StoreValue(current.get(), nullptr);
      if (FAILED(hr)) return hr;
    }
    if (IsBlockOpen(token_.data())) {
      hr = RegisterBlock(current.get(), depth + 1);
      if (FAILED(hr)) return hr;
      hr = ReadBlockEnd();
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// Removal pass

HRESULT ScriptReader::RemoveBlock(HKEY parent, bool skipMode, int depth) {
  if (depth > kMaxBlockDepth) return kSyntaxError;
  RegistryKey current(nullptr, CloseKeyThrough{&registry_});
  const bool ownSkipMode = skipMode;
  std::string name;
  HRESULT hr = ReadToken();
  if (FAILED(hr)) return hr;

  while (token_[0] != '}') {
    // NoRemove spares its own entry only.
    bool deleteKey = true;
    bool isDelete = false;
    if (Same(token_.data(), kForceRemove) || Same(token_.data(), kDelete)) {
      isDelete = Same(token_.data(), kDelete);
      hr = ReadToken();
      if (FAILED(hr)) return hr;
    }
    if (Same(token_.data(), kNoRemove)) {
      deleteKey = false;
      hr = ReadToken();
      if (FAILED(hr)) return hr;
    }
    if (Same(token_.data(), kVal)) {
      std::string valueName;
      hr = ReadValueName(valueName);
      if (FAILED(hr)) return hr;
      hr = ReadToken();
      if (FAILED(hr)) return hr;
      if (token_[0] != '=') return kSyntaxError;
      if (!skipMode) registry_.DeleteValue(parent, valueName.c_str());
      hr = SkipValueClause();
      if (FAILED(hr)) return hr;
      if (IsBlockOpen(token_.data())) return kSyntaxError;
      continue;
    }

    // A key entry.
    if (IsBadKeyName(token_.data())) return kSyntaxError;
    name.assign(token_.data(), tokenLength_);
    if (!skipMode) {
      // Write access lets the entries of a NoRemove key take their values
      // away; a key that allows only reading is still walked.
      HKEY opened = nullptr;
      if (registry_.OpenKey(parent, name.c_str(), KEY_READ | KEY_WRITE, &opened) == ERROR_SUCCESS ||
          registry_.OpenKey(parent, name.c_str(), KEY_READ, &opened) == ERROR_SUCCESS) {
        current.reset(opened);
      } else {
        skipMode = true;
      }
    }

    if (!skipMode && !KeyHasSubKeys(registry_, current.get()) && !KeyHasNamedValues(registry_, current.get())) {
      if (CloseNow(registry_, current) != ERROR_SUCCESS) return kSyntaxError;
      if (deleteKey) registry_.DeleteKey(parent, name.c_str());
      hr = ReadToken();
      if (FAILED(hr)) return hr;
      hr = SkipValueClause();
      if (FAILED(hr)) return hr;
      if (IsBlockOpen(token_.data())) {
        if (isDelete) return kSyntaxError;
        hr = RemoveBlock(nullptr, true, depth + 1);
        if (FAILED(hr)) return hr;
        hr = ReadBlockEnd();
        if (FAILED(hr)) return hr;
      }
      continue;
    }

    hr = ReadToken();
    if (FAILED(hr)) return hr;
    hr = SkipValueClause();
    if (FAILED(hr)) return hr;
    if (IsBlockOpen(token_.data())) {
      if (isDelete) return kSyntaxError;
      hr = RemoveBlock(current.get(), skipMode, depth + 1);
      if (FAILED(hr)) return hr;
      hr = ReadBlockEnd();
      if (FAILED(hr)) return hr;
    }
    if (skipMode) {
      skipMode = ownSkipMode;
      continue;
    }
    if (KeyHasSubKeys(registry_, current.get())) continue;
    if (CloseNow(registry_, current) != ERROR_SUCCESS) return kSyntaxError;
    if (deleteKey) registry_.DeleteKey(parent, name.c_str());
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// Root blocks

HRESULT ScriptReader::ApplyRootBlocks(bool registerPass) {
  while (*pos_ != '\0') {
    HRESULT hr = ReadToken();
    if (FAILED(hr)) return hr;
    const RootKeyEntry* root = FindRootKey(token_.data());
    if (root == nullptr) return kSyntaxError;
    hr = ReadToken();
    if (FAILED(hr)) return hr;
    if (token_[0] != '{') return kSyntaxError;
    if (registerPass) {
      const char* blockStart = pos_;
      hr = RegisterBlock(root->key, 1);
      if (FAILED(hr)) {
        // Take away what this block managed to register before it failed.
        pos_ = blockStart;
        RemoveBlock(root->key, false, 1);
        return hr;
      }
    } else {
      hr = RemoveBlock(root->key, false, 1);
      if (FAILED(hr)) return hr;
    }
    SkipBlanks();
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// The registrar

ScriptRegistrar::ScriptRegistrar() : registry_(SystemRegistry::Instance()) {}

ScriptRegistrar::ScriptRegistrar(Registry& registry) : registry_(registry) {}

HRESULT ScriptRegistrar::DefineReplacement(LPCWSTR name, LPCWSTR value) noexcept { return table_.Add(name, value); }

HRESULT ScriptRegistrar::ResetReplacements() noexcept {
  table_.Clear();
  return S_OK;
}

HRESULT ScriptRegistrar::ApplyScript(const char* script, BOOL registerFlag) noexcept {
  if (script == nullptr) return E_POINTER;
  try {
    std::string expanded;
    HRESULT hr = ExpandScript(script, table_, expanded);
    if (FAILED(hr)) return hr;
    ScriptReader reader(expanded.c_str(), registry_);
    return reader.ApplyRootBlocks(registerFlag != FALSE);
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

HRESULT ScriptRegistrar::ApplyScriptResource(LPCWSTR modulePath, WORD resourceId, LPCWSTR typeName,
                                             BOOL registerFlag) noexcept {
  if (modulePath == nullptr || typeName == nullptr) return E_POINTER;
  try {
    std::string path;
    std::string type;
    if (!ToAnsi(modulePath, path) || !ToAnsi(typeName, type)) return LastErrorResult();

    // Loaded for its resources only, until the scope ends.
    const am::UniqueModule module(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (module.get() == nullptr) return LastErrorResult();
    HRSRC resource = FindResourceA(module.get(), MAKEINTRESOURCEA(resourceId), type.c_str());
    if (resource == nullptr) return LastErrorResult();
    HGLOBAL loaded = LoadResource(module.get(), resource);
    if (loaded == nullptr) return LastErrorResult();
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    DWORD size = SizeofResource(module.get(), resource);
    if (bytes == nullptr && size != 0) return LastErrorResult();

    std::string script(bytes == nullptr ? "" : std::string(bytes, size));
    return ApplyScript(script.c_str(), registerFlag);
  } catch (...) {
    return am::ResultFromCaughtException();
  }
}

}  // namespace albummaker
