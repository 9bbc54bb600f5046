// Parser of the type description text format documented in albumrt/typedesc.h.
#include "typelib_model.h"

#include "caught_exception.h"

#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "utf8.h"

namespace albumrt::tlb {
namespace {

// Thrown inside the parser only; Parse turns it into TYPE_E_INVDATAREAD.
struct SyntaxError {
  std::string message;
};

[[noreturn]] void Fail(size_t line, const std::string& what) {
  throw SyntaxError{"line " + std::to_string(line) + ": " + what};
}

struct Token {
  std::string text;
  bool quoted = false;
};

// Splits one line into words and quoted strings; stops at a comment.
std::vector<Token> Tokenize(std::string_view line, size_t lineNo) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      Token t{{}, true};
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\') {
          if (i >= line.size()) break;
          const char e = line[i++];
          if (e == '"' || e == '\\')
            t.text.push_back(e);
          else if (e == 'n')
            t.text.push_back('\n');
          else
            Fail(lineNo, "unknown escape in a string");
        } else {
          t.text.push_back(d);
        }
      }
      if (!closed) Fail(lineNo, "unterminated string");
      if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#')
        Fail(lineNo, "text directly after a string");
      tokens.push_back(std::move(t));
    } else {
      Token t;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') {
        if (line[i] == '"') Fail(lineNo, "quote inside a word");
        t.text.push_back(line[i++]);
      }
      tokens.push_back(std::move(t));
    }
  }
  return tokens;
}

bool IsName(std::string_view s) {
  if (s.empty()) return false;
  const auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(s[0])) return false;
  for (char c : s)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

std::u16string Widen(std::string_view s, size_t lineNo) {
  std::u16string out;
  if (!albummaker::utf8::AppendAsUtf16(s, out, albummaker::utf8::BadBytes::Refuse))
    Fail(lineNo, "text is not valid UTF-8");
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

GUID ParseGuid(std::string_view s, size_t lineNo) {
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) Fail(lineNo, "malformed GUID");
  uint8_t bytes[16];
  size_t n = 0;
  for (size_t i = 0; i < s.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (s[i] != '-') Fail(lineNo, "malformed GUID");
      ++i;
      continue;
    }
    const int hi = HexDigit(s[i]);
    const int lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) Fail(lineNo, "malformed GUID");
    bytes[n++] = static_cast<uint8_t>(hi * 16 + lo);
    i += 2;
  }
  GUID g{};
  g.Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
  g.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(g.Data4, bytes + 8, 8);
  return g;
}

// A decimal or 0x-hexadecimal number within [lo, hi].
int64_t ParseNumber(std::string_view s, int64_t lo, int64_t hi, size_t lineNo) {
  bool negative = false;
  if (!s.empty() && s[0] == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty() || s.size() > 15) Fail(lineNo, "malformed number");
  int64_t v = 0;
  for (char c : s) {
    const int d = HexDigit(c);
    if (d < 0 || d >= base) Fail(lineNo, "malformed number");
    v = v * base + d;
  }
  if (negative) v = -v;
  if (v < lo || v > hi) Fail(lineNo, "number out of range");
  return v;
}

struct NamedFlag {
  const char* name;
  unsigned value;
};

constexpr NamedFlag kLibFlags[] = {{"restricted", LIBFLAG_FRESTRICTED},
                                   {"control", LIBFLAG_FCONTROL},
                                   {"hidden", LIBFLAG_FHIDDEN},
                                   {"hasdiskimage", LIBFLAG_FHASDISKIMAGE}};
constexpr NamedFlag kInterfaceFlags[] = {{"dual", TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION},
                                         {"oleautomation", TYPEFLAG_FOLEAUTOMATION},
                                         {"dispatchable", TYPEFLAG_FDISPATCHABLE},
                                         {"hidden", TYPEFLAG_FHIDDEN},
                                         {"nonextensible", TYPEFLAG_FNONEXTENSIBLE},
                                         {"restricted", TYPEFLAG_FRESTRICTED}};
constexpr NamedFlag kCoclassFlags[] = {{"cancreate", TYPEFLAG_FCANCREATE},  {"appobject", TYPEFLAG_FAPPOBJECT},
                                       {"control", TYPEFLAG_FCONTROL},      {"hidden", TYPEFLAG_FHIDDEN},
                                       {"licensed", TYPEFLAG_FLICENSED},    {"aggregatable", TYPEFLAG_FAGGREGATABLE},
                                       {"restricted", TYPEFLAG_FRESTRICTED}};
constexpr NamedFlag kParamFlags[] = {{"in", PARAMFLAG_FIN},
                                     {"out", PARAMFLAG_FOUT},
                                     {"retval", PARAMFLAG_FRETVAL},
                                     {"opt", PARAMFLAG_FOPT},
                                     {"lcid", PARAMFLAG_FLCID}};

template <size_t N>
std::optional<unsigned> LookUpFlag(const NamedFlag (&table)[N], std::string_view word) {
  for (const auto& f : table)
    if (word == f.name) return f.value;
  return std::nullopt;
}

struct TypeName {
  const char* name;
  VARTYPE vt;
};

constexpr TypeName kTypes[] = {{"I1", VT_I1},           {"I2", VT_I2},           {"I4", VT_I4},
                               {"I8", VT_I8},           {"UI1", VT_UI1},         {"UI2", VT_UI2},
                               {"UI4", VT_UI4},         {"UI8", VT_UI8},         {"INT", VT_INT},
                               {"UINT", VT_UINT},       {"R4", VT_R4},           {"R8", VT_R8},
                               {"CY", VT_CY},           {"DATE", VT_DATE},       {"BSTR", VT_BSTR},
                               {"BOOL", VT_BOOL},       {"VARIANT", VT_VARIANT}, {"DISPATCH", VT_DISPATCH},
                               {"UNKNOWN", VT_UNKNOWN}, {"ERROR", VT_ERROR}};

class Parser {
 public:
  explicit Parser(Library& lib) : lib_(lib) {}

  void Line(std::vector<Token>& t, size_t lineNo) {
    line_ = lineNo;
    if (t.empty()) return;
    if (t[0].quoted) Fail(line_, "a line must start with a keyword");
    const std::string& kw = t[0].text;
    if (!sawLibrary_) {
      if (kw != "library") Fail(line_, "the description must start with 'library'");
      Expect(t, 2);
      lib_.name = Name(t[1]);
      sawLibrary_ = true;
      return;
    }
    if (kw == "interface" || kw == "coclass") {
      if (current_) Fail(line_, "'" + kw + "' inside a block: missing 'end'");
      Expect(t, 2);
      Type type;
      type.kind = kw == "interface" ? TKIND_INTERFACE : TKIND_COCLASS;
      if (type.kind == TKIND_COCLASS) type.flags = TYPEFLAG_FCANCREATE;
      type.name = Name(t[1]);
      for (const auto& other : lib_.types)
        if (other.name == type.name) Fail(line_, "type '" + t[1].text + "' defined twice");
      lib_.types.push_back(std::move(type));
      current_ = &lib_.types.back();
      haveGuid_ = false;
      return;
    }
    if (kw == "end") {
      Expect(t, 1);
      if (!current_) Fail(line_, "'end' outside a block");
      FinishType();
      current_ = nullptr;
      return;
    }
    if (!current_)
      LibraryLine(t);
    else
      TypeLine(t);
  }

  void Finish() {
    if (!sawLibrary_) Fail(line_, "no 'library' statement");
    if (current_) Fail(line_, "missing 'end' at the end of the text");
    if (!libGuid_) Fail(line_, "the library has no uuid");
    if (!libVersion_) Fail(line_, "the library has no version");
    for (auto& type : lib_.types) {
      if (type.kind != TKIND_COCLASS) continue;
      for (size_t k = 0; k < pendingImpl_.size(); ++k) {
        auto& p = pendingImpl_[k];
        if (p.owner != &type - lib_.types.data()) continue;
        size_t found = lib_.types.size();
        for (size_t i = 0; i < lib_.types.size(); ++i)
          if (lib_.types[i].kind != TKIND_COCLASS && lib_.types[i].name == p.name) found = i;
        if (found == lib_.types.size()) Fail(p.line, "unknown interface in 'implements'");
        type.impl.push_back({found, p.flags});
      }
    }
    // Interfaces that share a GUID would make GetTypeInfoOfGuid ambiguous.
    for (size_t i = 0; i < lib_.types.size(); ++i)
      for (size_t j = i + 1; j < lib_.types.size(); ++j)
        if (lib_.types[i].guid == lib_.types[j].guid) Fail(line_, "two types share one uuid");
  }

 private:
  struct PendingImpl {
    ptrdiff_t owner;
    std::u16string name;
    INT flags;
    size_t line;
  };

  void Expect(const std::vector<Token>& t, size_t n) {
    if (t.size() != n) Fail(line_, "'" + t[0].text + "' takes " + std::to_string(n - 1) + " argument(s)");
  }
  std::u16string Name(const Token& t) {
    if (t.quoted || !IsName(t.text)) Fail(line_, "'" + t.text + "' is not a name");
    return Widen(t.text, line_);
  }
  std::u16string Text(const Token& t) {
    if (!t.quoted) Fail(line_, "expected a quoted string");
    return Widen(t.text, line_);
  }
  template <size_t N>
  unsigned Flags(const std::vector<Token>& t, const NamedFlag (&table)[N]) {
    unsigned flags = 0;
    for (size_t i = 1; i < t.size(); ++i) {
      const auto f = LookUpFlag(table, t[i].text);
      if (t[i].quoted || !f) Fail(line_, "unknown flag '" + t[i].text + "'");
      flags |= *f;
    }
    return flags;
  }

  void LibraryLine(const std::vector<Token>& t) {
    const std::string& kw = t[0].text;
    if (kw == "uuid") {
      Expect(t, 2);
      if (libGuid_) Fail(line_, "second uuid");
      lib_.guid = ParseGuid(t[1].text, line_);
      libGuid_ = true;
    } else if (kw == "version") {
      Expect(t, 2);
      const std::string& v = t[1].text;
      const size_t dot = v.find('.');
      if (dot == std::string::npos) Fail(line_, "version must be <major>.<minor>");
      lib_.major = static_cast<WORD>(ParseNumber(std::string_view(v).substr(0, dot), 0, 0xFFFF, line_));
      lib_.minor = static_cast<WORD>(ParseNumber(std::string_view(v).substr(dot + 1), 0, 0xFFFF, line_));
      libVersion_ = true;
    } else if (kw == "lcid") {
      Expect(t, 2);
      lib_.lcid = static_cast<LCID>(ParseNumber(t[1].text, 0, 0xFFFFFFFF, line_));
    } else if (kw == "helpstring") {
      Expect(t, 2);
      lib_.help = Text(t[1]);
    } else if (kw == "helpfile") {
      Expect(t, 2);
      lib_.helpFile = Text(t[1]);
    } else if (kw == "helpcontext") {
      Expect(t, 2);
      lib_.helpContext = static_cast<DWORD>(ParseNumber(t[1].text, 0, 0xFFFFFFFF, line_));
    } else if (kw == "flags") {
      lib_.flags = static_cast<WORD>(Flags(t, kLibFlags));
    } else if (kw == "importlib") {
      Expect(t, 2);
      lib_.imports.push_back(Text(t[1]));
    } else {
      Fail(line_, "unknown library statement '" + kw + "'");
    }
  }

  void TypeLine(const std::vector<Token>& t) {
    Type& type = *current_;
    const std::string& kw = t[0].text;
    const bool isInterface = type.kind != TKIND_COCLASS;
    if (kw == "uuid") {
      Expect(t, 2);
      if (haveGuid_) Fail(line_, "second uuid");
      type.guid = ParseGuid(t[1].text, line_);
      haveGuid_ = true;
    } else if (kw == "helpstring") {
      Expect(t, 2);
      type.help = Text(t[1]);
    } else if (kw == "helpcontext") {
      Expect(t, 2);
      type.helpContext = static_cast<DWORD>(ParseNumber(t[1].text, 0, 0xFFFFFFFF, line_));
    } else if (kw == "flags") {
      if (isInterface) {
        type.flags = static_cast<WORD>(Flags(t, kInterfaceFlags));
      } else {
        bool noncreatable = false;
        std::vector<Token> rest;
        for (const auto& tok : t)
          if (!tok.quoted && tok.text == "noncreatable")
            noncreatable = true;
          else
            rest.push_back(tok);
        type.flags = static_cast<WORD>(Flags(rest, kCoclassFlags));
        if (!noncreatable) type.flags |= TYPEFLAG_FCANCREATE;
      }
    } else if (isInterface && kw == "base") {
      Expect(t, 2);
      if (type.base != Base::None) Fail(line_, "second base");
      if (t[1].text == "IDispatch")
        type.base = Base::IDispatch;
      else if (t[1].text == "IUnknown")
        type.base = Base::IUnknown;
      else
        Fail(line_, "the base must be IDispatch or IUnknown");
    } else if (isInterface && (kw == "method" || kw == "propget" || kw == "propput" || kw == "propputref")) {
      Member(t);
    } else if (isInterface && kw == "param") {
      ParamLine(t);
    } else if (!isInterface && kw == "implements") {
      if (t.size() < 2) Fail(line_, "'implements' needs an interface");
      INT flags = 0;
      for (size_t i = 2; i < t.size(); ++i) {
        if (t[i].text == "default")
          flags |= IMPLTYPEFLAG_FDEFAULT;
        else if (t[i].text == "source")
          flags |= IMPLTYPEFLAG_FSOURCE;
        else if (t[i].text == "restricted")
          flags |= IMPLTYPEFLAG_FRESTRICTED;
        else
          Fail(line_, "unknown flag '" + t[i].text + "'");
      }
      pendingImpl_.push_back({current_ - lib_.types.data(), Name(t[1]), flags, line_});
    } else {
      Fail(line_, "unknown statement '" + kw + "' in " + (isInterface ? "an interface" : "a coclass"));
    }
  }

  void Member(const std::vector<Token>& t) {
    Type& type = *current_;
    if (t.size() != 3 && t.size() != 4) Fail(line_, "a member is <kind> <dispid> <name> [\"help\"]");
    CheckLastMember();
    Func f;
    const std::string& kw = t[0].text;
    f.kind = kw == "method"    ? INVOKE_FUNC
             : kw == "propget" ? INVOKE_PROPERTYGET
             : kw == "propput" ? INVOKE_PROPERTYPUT
                               : INVOKE_PROPERTYPUTREF;
    f.dispid = static_cast<MEMBERID>(ParseNumber(t[1].text, INT32_MIN, INT32_MAX, line_));
    f.name = Name(t[2]);
    if (t.size() == 4) f.help = Text(t[3]);
    for (const auto& other : type.funcs) {
      if (other.dispid == f.dispid && other.kind == f.kind) Fail(line_, "a member with this DISPID and kind exists");
      if (other.dispid == f.dispid && other.name != f.name) Fail(line_, "one DISPID with two names");
      if (other.dispid != f.dispid && other.name == f.name) Fail(line_, "one name with two DISPIDs");
    }
    type.funcs.push_back(std::move(f));
    memberLine_ = line_;
  }

  void ParamLine(const std::vector<Token>& t) {
    Type& type = *current_;
    if (type.funcs.empty()) Fail(line_, "'param' before any member");
    if (t.size() < 3) Fail(line_, "a parameter is param <name> <type> [flags]");
    Func& f = type.funcs.back();
    if (!f.params.empty() && (f.params.back().flags & PARAMFLAG_FRETVAL))
      Fail(line_, "only the last parameter may be retval");
    Param p;
    if (t[1].text == "-" && !t[1].quoted) {
      unnamedLine_ = line_;  // allowed only for the last parameter of a put; checked at the member's end
    } else {
      p.name = Name(t[1]);
      for (const auto& other : f.params)
        if (other.name == p.name) Fail(line_, "two parameters share a name");
    }
    std::string_view typeName = t[2].text;
    if (!typeName.empty() && typeName.back() == '*') {
      p.pointer = true;
      typeName.remove_suffix(1);
    }
    bool known = false;
    for (const auto& tn : kTypes)
      if (typeName == tn.name) {
        p.vt = tn.vt;
        known = true;
      }
    if (!known || t[2].quoted) Fail(line_, "unknown type '" + t[2].text + "'");
    for (size_t i = 3; i < t.size(); ++i) {
      const auto flag = LookUpFlag(kParamFlags, t[i].text);
      if (!flag || t[i].quoted) Fail(line_, "unknown parameter flag '" + t[i].text + "'");
      p.flags = static_cast<USHORT>(p.flags | *flag);
    }
    if ((p.flags & PARAMFLAG_FOUT) && !p.pointer) Fail(line_, "an out parameter must be a pointer");
    if ((p.flags & PARAMFLAG_FRETVAL) && !(p.flags & PARAMFLAG_FOUT)) Fail(line_, "retval needs out");
    if ((p.flags & PARAMFLAG_FRETVAL) && (p.flags & PARAMFLAG_FOPT)) Fail(line_, "retval cannot be optional");
    if (!(p.flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT))) p.flags |= PARAMFLAG_FIN;
    if (!f.params.empty() && f.params.back().name.empty())
      Fail(line_, "only the last parameter of a property put may be unnamed");
    f.params.push_back(std::move(p));
  }

  // Rules that need all of a member's parameters.
  void CheckLastMember() {
    if (!current_ || current_->funcs.empty()) return;
    const Func& f = current_->funcs.back();
    const bool put = f.kind == INVOKE_PROPERTYPUT || f.kind == INVOKE_PROPERTYPUTREF;
    if (!f.params.empty() && f.params.back().name.empty() && !put)
      Fail(unnamedLine_, "only the value parameter of a property put may be unnamed");
    if (put) {
      if (f.params.empty() || (f.params.back().flags & PARAMFLAG_FOUT))
        Fail(memberLine_, "a property put needs an input value parameter");
    }
    bool optional = false;
    for (const auto& p : f.params) {
      if (p.flags & PARAMFLAG_FRETVAL) continue;
      if (p.flags & PARAMFLAG_FOPT)
        optional = true;
      else if (optional && !(put && &p == &f.params.back()))
        Fail(memberLine_, "a required parameter follows an optional one");
    }
  }

  void FinishType() {
    CheckLastMember();
    Type& type = *current_;
    if (!haveGuid_) Fail(line_, "the type has no uuid");
    if (type.kind != TKIND_COCLASS) {
      if (type.base == Base::None) Fail(line_, "the interface has no base");
      if ((type.flags & TYPEFLAG_FDUAL) && type.base != Base::IDispatch)
        Fail(line_, "a dual interface needs IDispatch");
      // A dual interface is seen first as its dispatch view.
      if (type.flags & TYPEFLAG_FDUAL) type.kind = TKIND_DISPATCH;
    }
  }

  Library& lib_;
  Type* current_ = nullptr;
  std::vector<PendingImpl> pendingImpl_;
  size_t line_ = 0;
  size_t memberLine_ = 0;
  size_t unnamedLine_ = 0;
  bool sawLibrary_ = false;
  bool libGuid_ = false;
  bool libVersion_ = false;
  bool haveGuid_ = false;
};

}  // namespace

HRESULT Parse(const char* text, size_t size, Library& lib, std::string& message) {
  try {
    Library parsed;
    if (text == nullptr && size != 0) throw SyntaxError{"no text"};
    if (text != nullptr && std::memchr(text, 0, size) != nullptr) throw SyntaxError{"the text holds a NUL byte"};
    std::string_view all(text ? text : "", size);
    // A UTF-8 byte order mark is tolerated.
    if (all.starts_with("\xEF\xBB\xBF")) all.remove_prefix(3);
    Parser parser(parsed);
    size_t lineNo = 0;
    while (!all.empty() || lineNo == 0) {
      ++lineNo;
      const size_t end = all.find('\n');
      const std::string_view line = all.substr(0, end);
      all = end == std::string_view::npos ? std::string_view() : all.substr(end + 1);
      auto tokens = Tokenize(line, lineNo);
      parser.Line(tokens, lineNo);
    }
    parser.Finish();
    lib = std::move(parsed);
    message.clear();
    return S_OK;
  } catch (const SyntaxError& e) {
    message = e.message;
    return TYPE_E_INVDATAREAD;
  } catch (...) {
    const HRESULT hr = am::ResultFromCaughtException();
    message = hr == E_OUTOFMEMORY ? "out of memory" : "unexpected failure";
    return hr;
  }
}

}  // namespace albumrt::tlb
