#include "app/StartupConfig.h"

int g_mcuComPort = 2;
int g_mpegComPort = 3;
bool g_calibrationEnabled = false;
