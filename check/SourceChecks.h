// Where the unit would take each update source from: every place in its search order, with
// the decoys its probes pass over, and the version text discovery reads.
#pragma once

#include "check/CheckReport.h"

// Fills `report.search`, `found`, `source` and `version` for `report.kind` by the rules of
// discovery (`restore`: the application comes from the backup package).
void LocateSource(KindReport& report, bool restore);

// The text of a Win32 error code as this check reports it.
std::wstring ErrorText(DWORD error);

// The update record's request bit of a kind (KIND_APP -> UPDATE_APP, ...).
DWORD RequestBit(DWORD kind);
