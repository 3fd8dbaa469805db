// The update plan: request bits, update kinds and the process-wide plan globals.
#pragma once

#include <string>

#include "platform/Win32.h"

inline constexpr DWORD UPDATE_APP = 0x02;
inline constexpr DWORD UPDATE_MCU = 0x04;
inline constexpr DWORD UPDATE_MPEG = 0x08;
inline constexpr DWORD UPDATE_NAVI = 0x40;

inline constexpr DWORD KIND_APP = 0;
inline constexpr DWORD KIND_MCU = 1;
inline constexpr DWORD KIND_MPEG = 2;
inline constexpr DWORD KIND_NAVI = 3;

// Set by the start-up sequence when the system-file check reports damage: the application
// is then restored from the backup package instead of installed from a medium.
extern bool g_systemFilesDamaged;

// The plan's fields; the update dialog carries them as its own members.
struct UpdatePlanFields {
    std::wstring m_appVersion;
    std::wstring m_mcuVersion;
    std::wstring m_mpegVersion;
    DWORD m_updateFlags = 0;
    DWORD m_updateKind = KIND_APP;
};

// Stores the start-up mode and picks the first kind: application, MPEG, MCU, navigation.
void SetUpdatePlan(UpdatePlanFields& dialog, DWORD mode);

// Whether a request asks for navigation data together with another kind (0x42, say). The
// dialog never chains a navigation stage to another one: such a boot carries out the other
// kinds alone, and only when a navigation folder is on a medium too, as discovery decides.
// SetUpdatePlan logs the dropped request.
bool NavigationRequestDropped(DWORD mode);

// Looks for the requested sources on the volumes. Returns 1 when they were found (and then
// rewrites m_updateFlags to the kinds found), 0 otherwise.
int DiscoverUpdateSources(UpdatePlanFields& dialog, DWORD flags);
