// The exit status of a script or a piped session: whether every command ran
// and every unload brought back all it found.
#include "datafile/datafile.h"
#include "shell/shell.h"

namespace {

int g_incompleteUnloads = 0;

}  // namespace

void noteIncompleteUnload()
{
    g_incompleteUnloads++;
}

int sessionExitStatus()
{
    if (commandFailureCount() > 0)
        return kExitCommandFailed;
    if (g_incompleteUnloads > 0)
        return kExitUnloadIncomplete;
    return 0;
}
