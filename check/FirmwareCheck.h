// The firmware stages as the dialog would start them: the image files by the rules of image
// loading, and what the co-processor would receive.
#pragma once

#include "check/CheckReport.h"

// Complete `report` (kind KIND_MCU or KIND_MPEG, source already located).
void CheckMcuImage(KindReport& report);
void CheckMpegImage(KindReport& report);
