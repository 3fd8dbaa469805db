// The stages of this build, wired to the update dialog: the workers of the file-system
// updates and the firmware stages over the co-processor links.
#pragma once

#include "dialog/UpdateDialog.h"

// The table of this build's stages.
StageStarters DefaultStages();
// The table the program hands each update dialog; tests may put fakes in it and restore
// DefaultStages() after.
StageStarters& Stages();
