// The check's report for people (a table per kind, the course of each boot, a summary line)
// and for scripts (JSON; the schema is in docs/DEVICE.md).
#pragma once

#include <string>

#include "check/CheckReport.h"

std::string ReportText(const CheckReport& report);
std::string ReportJson(const CheckReport& report);
// The one-line summary that ends both.
std::wstring Summary(const CheckReport& report);
