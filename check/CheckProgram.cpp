// The check's own program: `quarrin check ARGS` starts it as `quarrin check ARGS`, and it can
// be run directly as `quarrin-check ARGS` too.
#include <string>
#include <vector>

#include "check/CheckMain.h"

int main(int argc, char** argv) {
    return RunCheckCommand(std::vector<std::string>(argv + 1, argv + argc));
}
