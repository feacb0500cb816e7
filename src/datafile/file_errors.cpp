// Diagnostics on standard error for files that cannot be opened or created.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "datafile/datafile.h"

namespace {

int g_commandFailures = 0;

}  // namespace

void reportFileError(const char *action, const char *kind, const char *path, const char *consequence)
{
    const char *reason = strerror(errno);
    // What stdout holds so far belongs before the message on a shared terminal.
    fflush(stdout);
    if (consequence != nullptr)
        fprintf(stderr, "zor: cannot %s %s %s: %s; %s\n", action, kind, path, reason, consequence);
    else
        fprintf(stderr, "zor: cannot %s %s %s: %s\n", action, kind, path, reason);
    noteCommandFailure();
}

void noteCommandFailure()
{
    g_commandFailures++;
}

int commandFailureCount()
{
    return g_commandFailures;
}
