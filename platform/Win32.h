// The device's operating-system interface, as the code above the platform layer sees it.
#pragma once

#ifdef _WIN32
// The Windows build compiles the same code against the real Windows API.
#include "platform/win32/WindowsApi.h"
#else
#include "platform/Win32Types.h"
#include "platform/api/CommApi.h"
#include "platform/api/FileApi.h"
#include "platform/api/GdiApi.h"
#include "platform/api/MemoryApi.h"
#include "platform/api/ModuleApi.h"
#include "platform/api/ProgressApi.h"
#include "platform/api/RegistryApi.h"
#include "platform/api/StorageApi.h"
#include "platform/api/StringApi.h"
#include "platform/api/ThreadApi.h"
#include "platform/api/TouchApi.h"
#include "platform/api/WindowApi.h"
#endif
