// `quarrin check ...`: runs the read-only check and prints its report. `arguments` are those
// after "check". Returns the exit status: 0 when every update found would succeed, 1 when one
// would fail, 2 on a bad command line.
#pragma once

#include <string>
#include <vector>

int RunCheckCommand(const std::vector<std::string>& arguments);
