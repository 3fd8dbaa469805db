#include "app/QuarrinApp.h"

// The update dialog takes this place once it exists; until then an update request goes
// straight on to showing the task bar and launching the main application.
void RunUpdateCourse(CWinApp&, DWORD) {}
