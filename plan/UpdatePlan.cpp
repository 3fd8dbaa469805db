#include "plan/UpdatePlan.h"

bool g_systemFilesDamaged = false;
