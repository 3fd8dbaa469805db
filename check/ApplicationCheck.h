// The application update as the worker would run it: the leftover folders, the decompression
// library, the package read through with the installer's reader, room, backup, touch keys.
#pragma once

#include <memory>

#include "check/CheckEnvironment.h"
#include "check/CheckReport.h"

class PackageReadAhead;

// Starts reading the package of `report` (kind KIND_APP, source located) on a thread of its
// own; null when there is none to read.
std::unique_ptr<PackageReadAhead> ReadPackageAhead(const KindReport& report,
                                                   const CheckEnvironment& environment);

// Completes `report` (kind KIND_APP, source already located) with its verdict. A read begun
// with ReadPackageAhead is taken when it read the package the unit would unpack.
void CheckApplication(KindReport& report, bool restore, const CheckEnvironment& environment,
                      PackageReadAhead* readAhead = nullptr);
