// Commands whose work belongs to subsystems not yet built: SAMPLE (column
// guessing).  It accepts its arguments and prints nothing until its
// subsystem arrives.
#include "shell/shell.h"

void runSampleCommand(ShellState *) {}
