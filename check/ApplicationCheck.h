// The application update as the worker would run it: the leftover folders, the decompression
// library, the package read through with the installer's reader, room, backup, touch keys.
#pragma once

#include "check/CheckEnvironment.h"
#include "check/CheckReport.h"

// Completes `report` (kind KIND_APP, source already located) with its verdict.
void CheckApplication(KindReport& report, bool restore, const CheckEnvironment& environment);
