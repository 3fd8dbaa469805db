#include "app/StartupConfig.h"

bool g_calibrationEnabled = false;
