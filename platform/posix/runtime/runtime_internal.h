// Helpers shared by the runtime's own source files.
#pragma once

#include <ole2.h>

#include <string>

namespace albumrt {

// Text in the ANSI code page and back, for registry names and data and for
// paths that the ANSI functions take; empty when there is no conversion.
std::string Narrow(const OLECHAR* text);
std::u16string Widen(const std::string& text);

}  // namespace albumrt
