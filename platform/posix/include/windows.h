// Linux stand-in for the Windows headers: the kernel, code-page and registry
// part of the runtime. COM and OLE Automation come with <ole2.h>.
#pragma once

#include "albumrt/wintypes.h"
#include "albumrt/winbase.h"
#include "albumrt/winreg.h"
