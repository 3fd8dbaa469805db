// Starting the program that runs after the loader: the main application, or the platform
// shell when the service marker asks for it or the application cannot be found.
#pragma once

int LaunchMainApplication();

// The main application, the marker that asks for the shell instead, and the shell are in
// contract/DevicePaths.h.
#include "contract/DevicePaths.h"
