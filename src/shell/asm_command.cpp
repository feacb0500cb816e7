// ASM: hands the rest of the line to the ASM sub-shell, which runs it
// against the process's disk group.
#include "asm/asm_shell.h"
#include "shell/shell.h"

void runAsmCommand(ShellState *shell)
{
    CommandLine *cmd = shell->command;
    uint32_t rest = cmd->end < cmd->length ? cmd->end : cmd->length;
    asmExecuteCommand(stdout, shell->ctx->asmGroup, shell->ctx, cmd->text + rest);
    fflush(stdout);
}
