#include "dialog/DialogGlobals.h"

HWND g_notifyWindow = nullptr;
int g_updateErrorCode = 0;
BYTE g_mpegUpdateActive = 0;
