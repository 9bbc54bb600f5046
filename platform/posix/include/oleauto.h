// OLE Automation for the Linux build (see albumrt/oleauto.h).
#pragma once
#include <windows.h>
#include "albumrt/oleauto.h"
