#include "contract/UpdateContract.h"

HWND g_notifyWindow = nullptr;
int g_updateErrorCode = 0;
BYTE g_mpegUpdateActive = 0;

int g_mcuComPort = 2;
int g_mpegComPort = 3;
