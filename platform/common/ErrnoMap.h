// The one table that turns host errno values into Win32 error codes.
#pragma once

#include "platform/Win32Types.h"

namespace quarrin::platform {
DWORD Win32ErrorFromErrno(int error);
}
