// The conversion between OLECHAR text and the engine's char16_t text, and the
// owners (platform/common/owners.h) under the component's namespace.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <string>

#include "owners.h"

namespace albummaker::server {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "OLECHAR must be a 16-bit unit");

inline const char16_t* AsU16(const OLECHAR* text) { return reinterpret_cast<const char16_t*>(text); }
inline const OLECHAR* AsOle(const char16_t* text) { return reinterpret_cast<const OLECHAR*>(text); }

inline bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// The owners the component, its hosts and tests use.
using am::ComPtr;
using am::UniqueBstr;
using am::UniqueVariant;

// A BSTR's text up to its first NUL; a null BSTR reads as the empty text.
inline const char16_t* TextOf(BSTR s) { return s == nullptr ? u"" : AsU16(s); }

}  // namespace albummaker::server
