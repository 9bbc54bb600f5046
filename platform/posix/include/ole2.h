// COM and OLE Automation for the Linux build.
#pragma once
#include <windows.h>
#include "albumrt/com.h"
#include "albumrt/oleauto.h"
