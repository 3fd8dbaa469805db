// The navigation update as the worker would run it: the tree counted with the worker's own
// count, the walk of its copy, what the card cannot take, room on the card.
#pragma once

#include "check/CheckEnvironment.h"
#include "check/CheckReport.h"

// Completes `report` (kind KIND_NAVI, source already located) with its verdict.
void CheckNavigation(KindReport& report, const CheckEnvironment& environment);

// Whether the card's formatter library would load; without it the card is emptied and
// mounted again, but not formatted.
bool FormatterPresent();
