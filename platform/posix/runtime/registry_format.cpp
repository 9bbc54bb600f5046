// The key tree and its text form.
//
// The file is a .reg export in the REGEDIT4 form, whose text is ANSI bytes:
//
//   REGEDIT4
//
//   [HKEY_CLASSES_ROOT\Some.Key]
//   @="default value"
//   "Name"="text"
//   "Count"=dword:0000002a
//   "Blob"=hex:01,02,ff
//   "Path"=hex(2):25,00
//
// Names and string data are written as the bytes the registry holds (the
// runtime's ANSI code page), unchanged: a UTF-8 file path registered on Linux
// therefore reads as UTF-8 in the file. Inside quotes, \\ is a backslash, \"
// a quote, \n a line feed and \r a carriage return; no other escape exists.
// A REG_SZ value is written as "text" only when its data ends in its single
// zero byte; otherwise, and for every type but REG_SZ, REG_DWORD (4 bytes)
// and REG_BINARY, it is written as hex(type): with the raw bytes. Long hex
// lists continue on the next line after ",\". Every key has a section, so
// empty keys persist; a root appears only when it holds values. Blank lines
// and lines starting with ';' are ignored when reading; anything else that
// does not fit makes the whole file unreadable.
#include "registry_store.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace albumrt::registry {
namespace {

constexpr const char* kHeader = "REGEDIT4";
constexpr const char* kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",     "HKEY_LOCAL_MACHINE",
                                                "HKEY_USERS",        "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG",
                                                "HKEY_DYN_DATA"};

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  out += '"';
}

void AppendHex(std::string& out, const std::vector<BYTE>& data) {
  static const char digits[] = "0123456789abcdef";
  size_t column = out.size() - (out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) {
      out += ',';
      ++column;
      if (column > 76) {
        out += "\\\n  ";
        column = 2;
      }
    }
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0xF];
    column += 2;
  }
}

bool IsPlainString(const Value& v) {
  if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0) return false;
  return std::find(v.data.begin(), v.data.end() - 1, BYTE{0}) == v.data.end() - 1;
}

void AppendValue(std::string& out, const Value& v) {
  if (v.name.empty()) {
    out += '@';
  } else {
    AppendQuoted(out, v.name);
  }
  out += '=';
  if (IsPlainString(v)) {
    AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    uint32_t n = static_cast<uint32_t>(v.data[0]) | static_cast<uint32_t>(v.data[1]) << 8 |
                 static_cast<uint32_t>(v.data[2]) << 16 | static_cast<uint32_t>(v.data[3]) << 24;
    char buf[32];
    std::snprintf(buf, sizeof buf, "dword:%08x", n);
    out += buf;
  } else {
    if (v.type == REG_BINARY) {
      out += "hex:";
    } else {
      char buf[32];
      std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
      out += buf;
    }
    AppendHex(out, v.data);
  }
  out += '\n';
}

void AppendKey(std::string& out, const Key& key, const std::string& path, bool isRoot) {
  if (!isRoot || !key.values.empty()) {
    out += '\n';
    out += '[';
    out += path;
    out += "]\n";
    for (const Value& v : key.values) AppendValue(out, v);
  }
  for (const auto& child : key.children) AppendKey(out, *child, path + "\\" + child->name, false);
}

// ---- reading ----

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text at text[pos] (which must be '"'); pos ends after the
// closing quote.
bool ReadQuoted(std::string_view text, size_t& pos, std::string& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < text.size()) {
    char c = text[pos++];
    if (c == '"') return true;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (pos >= text.size()) return false;
    char e = text[pos++];
    switch (e) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        return false;
    }
  }
  return false;
}

bool ReadHexList(std::string_view text, std::vector<BYTE>& out) {
  out.clear();
  size_t pos = 0;
  auto skipBlanks = [&] {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  };
  skipBlanks();
  if (pos == text.size()) return true;
  for (;;) {
    skipBlanks();
    if (pos + 2 > text.size()) return false;
    int hi = HexDigit(text[pos]), lo = HexDigit(text[pos + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<BYTE>(hi << 4 | lo));
    pos += 2;
    skipBlanks();
    if (pos == text.size()) return true;
    if (text[pos] != ',') return false;
    ++pos;
  }
}

bool ReadNumber(std::string_view text, uint32_t& out) {
  if (text.empty() || text.size() > 8) return false;
  out = 0;
  for (char c : text) {
    int d = HexDigit(c);
    if (d < 0) return false;
    out = out << 4 | static_cast<uint32_t>(d);
  }
  return true;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool ParseValueData(std::string_view data, Value& v) {
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    std::string s;
    if (!ReadQuoted(data, pos, s) || !TrimRight(data.substr(pos)).empty()) return false;
    v.type = REG_SZ;
    v.data.assign(s.begin(), s.end());
    v.data.push_back(0);
    return true;
  }
  if (data.starts_with("dword:")) {
    uint32_t n;
    if (!ReadNumber(TrimRight(data.substr(6)), n)) return false;
    v.type = REG_DWORD;
    v.data = {static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), static_cast<BYTE>(n >> 16), static_cast<BYTE>(n >> 24)};
    return true;
  }
  if (data.starts_with("hex:")) {
    v.type = REG_BINARY;
    return ReadHexList(data.substr(4), v.data);
  }
  if (data.starts_with("hex(")) {
    size_t close = data.find("):");
    if (close == std::string_view::npos) return false;
    uint32_t type;
    if (!ReadNumber(data.substr(4, close - 4), type)) return false;
    v.type = type;
    return ReadHexList(data.substr(close + 2), v.data);
  }
  return false;
}

}  // namespace

bool FoldedEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

bool FoldedLess(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(Fold(a[i])), y = static_cast<unsigned char>(Fold(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

Key* Key::FindChild(std::string_view childName) const { return ChildPtr(childName).get(); }

std::shared_ptr<Key> Key::ChildPtr(std::string_view childName) const {
  auto it = std::lower_bound(children.begin(), children.end(), childName,
                             [](const std::shared_ptr<Key>& k, std::string_view n) { return FoldedLess(k->name, n); });
  if (it != children.end() && FoldedEqual((*it)->name, childName)) return *it;
  return nullptr;
}

std::shared_ptr<Key> Key::AddChild(std::string_view childName, uint64_t now) {
  auto child = std::make_shared<Key>();
  child->name = std::string(childName);
  child->parent = this;
  child->lastWrite = now;
  auto it = std::lower_bound(children.begin(), children.end(), childName,
                             [](const std::shared_ptr<Key>& k, std::string_view n) { return FoldedLess(k->name, n); });
  children.insert(it, child);
  lastWrite = now;
  return child;
}

void Key::RemoveChild(const Key* child) {
  auto it = std::find_if(children.begin(), children.end(), [&](const auto& k) { return k.get() == child; });
  if (it != children.end()) children.erase(it);
}

Value* Key::FindValue(std::string_view valueName) {
  for (Value& v : values)
    if (FoldedEqual(v.name, valueName)) return &v;
  return nullptr;
}

int RootIndex(HKEY key) {
  auto raw = reinterpret_cast<uintptr_t>(key);
  if (raw >= 0x80000000u && raw < 0x80000000u + kRootCount) return static_cast<int>(raw - 0x80000000u);
  return -1;
}

const char* RootName(size_t index) { return index < kRootCount ? kRootNames[index] : ""; }

uint64_t NowFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 10000000u + static_cast<uint64_t>(ts.tv_nsec) / 100u +
         116444736000000000ull;
}

Roots MakeEmptyRoots(uint64_t stamp) {
  Roots roots;
  for (size_t i = 0; i < kRootCount; ++i) {
    roots[i] = std::make_shared<Key>();
    roots[i]->name = kRootNames[i];
    roots[i]->lastWrite = stamp;
  }
  return roots;
}

std::string Serialize(const Roots& roots) {
  std::string out = kHeader;
  out += '\n';
  for (size_t i = 0; i < kRootCount; ++i) AppendKey(out, *roots[i], kRootNames[i], true);
  return out;
}

bool Parse(std::string_view text, Roots& roots, uint64_t stamp, std::string& error) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> lines;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.empty() || TrimRight(lines[0]) != kHeader) {
    error = "missing REGEDIT4 header";
    return false;
  }
  Key* current = nullptr;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view trimmed = TrimRight(line);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    const std::string where = "line " + std::to_string(i + 1);
    if (trimmed[0] == '[') {
      if (trimmed.back() != ']') {
        error = where + ": unterminated key";
        return false;
      }
      std::string_view path = trimmed.substr(1, trimmed.size() - 2);
      size_t slash = path.find('\\');
      std::string_view rootName = path.substr(0, slash);
      int root = -1;
      for (size_t r = 0; r < kRootCount; ++r)
        if (FoldedEqual(rootName, kRootNames[r])) root = static_cast<int>(r);
      if (root < 0) {
        error = where + ": unknown root";
        return false;
      }
      current = roots[static_cast<size_t>(root)].get();
      size_t depth = 0;
      while (slash != std::string_view::npos) {
        if (++depth > kMaxDepth) {
          error = where + ": key nested too deep";
          return false;
        }
        size_t next = path.find('\\', slash + 1);
        std::string_view part =
            path.substr(slash + 1, next == std::string_view::npos ? std::string_view::npos : next - slash - 1);
        if (part.empty()) {
          error = where + ": empty key name";
          return false;
        }
        Key* child = current->FindChild(part);
        current = child ? child : current->AddChild(part, stamp).get();
        slash = next;
      }
      continue;
    }
    if (current == nullptr) {
      error = where + ": value outside a key";
      return false;
    }
    Value v;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ReadQuoted(line, pos, v.name)) {
      error = where + ": bad value name";
      return false;
    }
    if (pos >= line.size() || line[pos] != '=') {
      error = where + ": bad value";
      return false;
    }
    std::string data(line.substr(pos + 1));
    // A hex list may continue on the following lines after a trailing "\".
    if (data.starts_with("hex")) {
      data = std::string(TrimRight(data));
      while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
        data.pop_back();
        std::string_view next = lines[++i];
        while (!next.empty() && (next.front() == ' ' || next.front() == '\t')) next.remove_prefix(1);
        data += TrimRight(next);
      }
    }
    if (!ParseValueData(data, v)) {
      error = where + ": bad value";
      return false;
    }
    if (Value* existing = current->FindValue(v.name)) {
      existing->type = v.type;
      existing->data = std::move(v.data);
    } else {
      current->values.push_back(std::move(v));
    }
  }
  return true;
}

}  // namespace albumrt::registry
