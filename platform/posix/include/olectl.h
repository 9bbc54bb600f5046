// OLE control definitions for the Linux build: the self-registration results
// on top of OLE Automation (see albumrt/oleauto.h).
#pragma once
#include <windows.h>
#include "albumrt/oleauto.h"

#define SELFREG_E_FIRST MAKE_SCODE(SEVERITY_ERROR, FACILITY_ITF, 0x0200)
#define SELFREG_E_TYPELIB (SELFREG_E_FIRST + 0)
#define SELFREG_E_CLASS (SELFREG_E_FIRST + 1)
