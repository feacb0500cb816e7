// The program: command-line options, then the shell on standard input, or on
// the script named by -f.
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "datafile/datafile.h"
#include "shell/shell.h"

namespace {

const char kUsage[] =
    "Usage: zor [-f script]\n"
    "       zor --help | --version\n"
    "\n"
    "ZOR reads Oracle datafiles without a running database and unloads table\n"
    "rows from them to text files; it never writes to the files it reads.\n"
    "\n"
    "Without options ZOR reads commands from standard input; type HELP at the\n"
    "ZOR> prompt.  It first runs init.sql from the current directory, and writes\n"
    "ZORDICT/, LOBDATA/ and the unloaded files there.\n"
    "\n"
    "  -f script      run the script's commands as if typed, then exit\n"
    "  -h, --help     show this text\n"
    "  -V, --version  show the release\n"
    "\n"
    "Exit status, with -f or when the commands come from a pipe or a file:\n"
    "  0  every command succeeded and every unload was complete\n"
    "  1  a command failed: a table that does not exist, a file that cannot be\n"
    "     opened or written, a bad command\n"
    "  2  a wrong option, or a script that cannot be read\n"
    "  3  every command ran, but some unload was incomplete\n"
    "\n"
    "The manual: man zor\n";

constexpr int kExitUsage = 2;

enum Action { kRunShell, kShowHelp, kShowVersion, kBadUsage };

Action parseArguments(int argc, char **argv, const char **script)
{
    *script = nullptr;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0)
            return kShowHelp;
        if (strcmp(arg, "-V") == 0 || strcmp(arg, "--version") == 0)
            return kShowVersion;
        if (strcmp(arg, "-f") == 0 && i + 1 < argc && *script == nullptr) {
            *script = argv[++i];
            continue;
        }
        if (strcmp(arg, "-f") == 0)
            fputs("zor: -f takes one script\n", stderr);
        else
            fprintf(stderr, "zor: unknown option %s\n", arg);
        return kBadUsage;
    }
    return kRunShell;
}

}  // namespace

int main(int argc, char **argv)
{
    const char *scriptName;
    switch (parseArguments(argc, argv, &scriptName)) {
    case kShowHelp: fputs(kUsage, stdout); return 0;
    case kShowVersion: printf("zor %s\n", kZorRelease); return 0;
    case kBadUsage: fputs("Try 'zor --help'.\n", stderr); return kExitUsage;
    case kRunShell: break;
    }
    FILE *in = stdin;
    if (scriptName != nullptr) {
        // The script is read exactly as standard input would be: `zor -f x` and `zor < x` print the same.
        in = fopen(scriptName, "r");
        if (in == nullptr) {
            reportFileError("open", "script", scriptName);
            return kExitUsage;
        }
    }
    // Both directories usually exist from an earlier run; that is fine.
    mkdir("ZORDICT", 0777);
    mkdir("LOBDATA", 0777);
    // At a terminal the person saw every message; a script or a pipe is
    // checked by the status alone.
    bool unattended = scriptName != nullptr || isatty(fileno(in)) == 0;
    int status = runZOR(in);
    if (in != stdin)
        fclose(in);
    if (status == 0 && unattended)
        return sessionExitStatus();
    return status;
}
