// Commands whose work belongs to subsystems not yet built: SAMPLE (column
// guessing) and ASM (disk groups).  They accept their arguments and print
// nothing until their subsystems arrive.
#include "shell/shell.h"

void runAsmCommand(ShellState *) {}
