// The parsed form of a type description (see albumrt/typedesc.h): plain
// values, owned by the library object and never changed after parsing.
#pragma once

#include <ole2.h>

#include <cstdint>
#include <string>
#include <vector>

namespace albumrt::tlb {

struct Param {
  std::u16string name;    // empty for an unnamed property value
  VARTYPE vt = VT_EMPTY;  // the base type
  bool pointer = false;   // declared as a pointer to vt
  USHORT flags = 0;       // PARAMFLAG_*
};

struct Func {
  MEMBERID dispid = 0;
  INVOKEKIND kind = INVOKE_FUNC;
  std::u16string name;
  std::u16string help;
  std::vector<Param> params;
};

struct ImplType {
  size_t type = 0;  // index of the interface among the library's types
  INT flags = 0;    // IMPLTYPEFLAG_*
};

enum class Base { None, IUnknown, IDispatch };

struct Type {
  TYPEKIND kind = TKIND_INTERFACE;  // TKIND_INTERFACE (dual shows as TKIND_DISPATCH) or TKIND_COCLASS
  std::u16string name;
  std::u16string help;
  DWORD helpContext = 0;
  GUID guid{};
  WORD flags = 0;  // TYPEFLAG_*
  Base base = Base::None;
  std::vector<Func> funcs;     // interfaces
  std::vector<ImplType> impl;  // coclasses
};

struct Library {
  std::u16string name;
  std::u16string help;
  std::u16string helpFile;
  DWORD helpContext = 0;
  GUID guid{};
  WORD major = 0;
  WORD minor = 0;
  LCID lcid = 0;
  WORD flags = 0;  // LIBFLAG_*
  std::vector<std::u16string> imports;
  std::vector<Type> types;
};

// Parses description text. Returns S_OK with *lib filled, E_OUTOFMEMORY, or
// TYPE_E_INVDATAREAD with a message that names the line.
HRESULT Parse(const char* text, size_t size, Library& lib, std::string& message);

// The number of vtable slots that come before an interface's own members.
inline unsigned InheritedSlots(Base base) { return base == Base::IDispatch ? 7 : base == Base::IUnknown ? 3 : 0; }

}  // namespace albumrt::tlb
