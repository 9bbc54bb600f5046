// Type descriptions: the text form in which the Linux runtime keeps a type
// library. LoadTypeLib reads a file in this form; a module carries the same
// text as its TYPELIB resource.
//
// The format
// ----------
// UTF-8 text, one statement per line. A statement is a keyword followed by
// arguments separated by blanks (spaces or tabs). '#' starts a comment that
// runs to the end of the line (outside a quoted string). Blank lines are
// ignored. Keywords and type names are case-sensitive.
//
// A quoted string is written "like this"; inside it \" stands for a quote,
// \\ for a backslash and \n for a line feed; nothing else may follow a
// backslash.
// A GUID is written 8-4-4-4-12 hexadecimal digits, with or without braces.
// A number is decimal, or hexadecimal after 0x; a DISPID may be negative.
// A name is a letter or '_' followed by letters, digits and '_'.
//
// The file starts with the library statement and its attributes:
//
//   library <name>
//     uuid <guid>                      LIBID (required)
//     version <major>.<minor>          (required)
//     lcid <number>                    default 0
//     helpstring "<text>"              default none
//     helpfile "<text>"                default none
//     helpcontext <number>             default 0
//     flags <flag>...                  restricted control hidden hasdiskimage
//     importlib "<file>"               recorded only (IDispatch and IUnknown
//                                      are known without it)
//
// Then the types, each a block closed by "end", in type-index order:
//
//   interface <name>
//     uuid <guid>                      IID (required)
//     helpstring "<text>"
//     helpcontext <number>
//     flags <flag>...                  dual oleautomation dispatchable hidden
//                                      nonextensible restricted (dual implies
//                                      oleautomation and dispatchable)
//     base IDispatch | IUnknown        (required; dual needs IDispatch)
//     <kind> <dispid> <name> ["<help string>"]
//       param <name> <type> [<param flag>...]
//       ...
//   end
//
//   coclass <name>
//     uuid <guid>                      CLSID (required)
//     helpstring "<text>"
//     helpcontext <number>
//     flags <flag>...                  cancreate appobject control hidden
//                                      licensed aggregatable restricted
//                                      noncreatable (clears cancreate, which
//                                      is otherwise set)
//     implements <interface> [default] [source] [restricted]
//   end
//
// A member's <kind> is method, propget, propput or propputref; its position
// among the members of the block is its vtable order (after the IUnknown
// and, for IDispatch, IDispatch slots). Every member returns HRESULT. The
// param lines after a member are its parameters, in order. A parameter's
// <type> is one of I1 I2 I4 I8 UI1 UI2 UI4 UI8 INT UINT R4 R8 CY DATE BSTR
// BOOL VARIANT DISPATCH UNKNOWN ERROR, optionally followed by '*' for a
// pointer to it (BSTR* is a BSTR pointer, VARIANT* a variant pointer). Its
// flags are in out retval opt lcid; a parameter without in or out is an
// input. retval needs out and a pointer type, and only the last parameter
// may have it. The value parameter of a propput or propputref (its last
// one) may be left unnamed by writing - for its name.
//
// Example:
//
//   library SAMPLELib
//     uuid 00000000-1111-2222-3333-444444444444
//     version 1.0
//     helpstring "Sample 1.0 Type Library"
//   interface ISample
//     uuid 00000000-1111-2222-3333-555555555555
//     flags dual oleautomation
//     base IDispatch
//     propget 1 Name "property Name"
//       param pVal BSTR* out retval
//     propput 1 Name "property Name"
//       param - BSTR in
//   end
//
// A description that breaks any rule above is refused as a whole
// (TYPE_E_INVDATAREAD) and nothing of it is kept.
//
// What the library serves: GetTypeInfo and GetTypeInfoOfGuid give a dual
// interface as its dispatch view (TKIND_DISPATCH: parameters without the
// retval, whose type becomes the result); GetRefTypeOfImplType(-1) on it
// leads to the vtable view (TKIND_INTERFACE: every member returns HRESULT).
// Both views list the interface's own members only. ITypeInfo::Invoke calls
// a member through its vtable slot (after the 7 IUnknown and IDispatch
// slots, or the 3 IUnknown ones).
#pragma once

#include "albumrt/wintypes.h"

#ifdef __cplusplus
#include <string>

struct ITypeLib;

namespace albumrt {

// Builds a type library from description text (size bytes, not necessarily
// NUL-terminated). path names where the text came from (a file or a module;
// may be null); it is kept for diagnostics only. *out receives the library
// with one reference, or null on failure.
// Results: S_OK; E_POINTER for a null out; E_OUTOFMEMORY; TYPE_E_INVDATAREAD
// for a description that does not follow the format.
__attribute__((visibility("default"))) HRESULT LoadTypeLibFromDescription(const char* text, size_t size,
                                                                          const char16_t* path, ITypeLib** out);

// The same check without building anything: S_OK, or TYPE_E_INVDATAREAD
// with a message naming the line at fault in *message (when not null).
__attribute__((visibility("default"))) HRESULT CheckTypeDescription(const char* text, size_t size,
                                                                    std::string* message);

// Loads the type library that a module file carries (its TYPELIB resource).
// Provided by the module loader; the default answers TYPE_E_CANTLOADLIBRARY.
// LoadTypeLib calls it for a file that is not a type description.
HRESULT LoadTypeLibFromModule(const char16_t* path, ITypeLib** out);

}  // namespace albumrt
#endif
