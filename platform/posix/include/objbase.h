// COM for the Linux build (see albumrt/com.h).
#pragma once
#include <windows.h>
#include "albumrt/com.h"
