// Where the unit looks for its update sources and how it tells that one is there. Discovery
// follows these rules; so does everything that must say in advance what discovery will find.
#pragma once

#include <string>

#include "contract/DevicePaths.h"
#include "contract/FirmwareGeometry.h"
#include "platform/Win32.h"

// The 8-bit version fields of the firmware images are in contract/FirmwareGeometry.h.

// A source file is present when it opens for reading without sharing.
bool ProbeSourceFile(const std::wstring& path);

// A navigation folder is present when a search for "*.*" in it finds an entry.
bool NaviFolderHasEntries(const std::wstring& folder);
