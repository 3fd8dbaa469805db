// The loader's process-wide state, put back as a fresh process has it: each test's fixture
// starts from the same ground whatever the test before it left behind.
#pragma once

namespace testsupport {

// The dialog's latches and globals, the firmware stages' state, the update sources, the
// parsers' post budgets, the start-up settings and the tree walk's lists and counters.
void ResetProcessState();

}  // namespace testsupport
