// IUnknown and IClassFactory for the Linux build (see albumrt/com.h).
#pragma once
#include "albumrt/com.h"
