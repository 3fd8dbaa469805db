// The Windows build: the real <windows.h> supplies the types, constants, error codes and
// functions that the device's API shares with desktop Windows. Included instead of the
// stand-in declarations of Win32Types.h.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>

#include <cstddef>
#include <cstdint>
