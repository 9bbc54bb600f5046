// COM object interfaces for the Linux build (see albumrt/com.h).
#pragma once
#include "albumrt/com.h"
