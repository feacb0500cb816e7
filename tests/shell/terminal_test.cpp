// The real program as a person meets it: through a pseudo-terminal (line
// editing, history, completion, the progress meter), with command-line
// options, and with the diagnostics it writes on standard error.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "forge/forge.h"
#include "forge/forge_test_util.h"
#include "shell/shell.h"

namespace {

constexpr int kWaitMillis = 30000;  // the machine may be busy; a healthy run takes milliseconds

struct PtySession {
    pid_t pid;
    int master;
    std::string output;
};

// Starts zor in `dir` on a new pseudo-terminal.  When stdinFile and
// stdoutFile are given, those two streams are redirected to the files and
// only standard error stays on the terminal.
bool startOnPty(PtySession *session, const std::string &dir, const char *stdinFile = nullptr,
                const char *stdoutFile = nullptr)
{
    session->output.clear();
    struct winsize size;
    memset(&size, 0, sizeof size);
    size.ws_row = 24;
    size.ws_col = 200;
    session->pid = forkpty(&session->master, nullptr, nullptr, &size);
    if (session->pid < 0)
        return false;
    if (session->pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        setenv("HOME", dir.c_str(), 1);
        setenv("TERM", "xterm", 1);
        if (stdinFile != nullptr) {
            int in = open(stdinFile, O_RDONLY);
            int out = open(stdoutFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0)
                _exit(126);
            dup2(in, STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
        }
        execl(ZOR_BINARY, "zor", static_cast<char *>(nullptr));
        _exit(127);
    }
    return true;
}

// Reads what the terminal shows; false at the end of output.
bool readSome(PtySession *session, int millis)
{
    struct pollfd fd = {session->master, POLLIN, 0};
    if (poll(&fd, 1, millis) <= 0)
        return false;
    char buffer[4096];
    ssize_t n = read(session->master, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    session->output.append(buffer, static_cast<size_t>(n));
    return true;
}

size_t countOf(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}

// Waits until `text` has appeared `times` times on the terminal.
bool waitFor(PtySession *session, const std::string &text, size_t times = 1)
{
    for (int waited = 0; waited < kWaitMillis; waited += 50) {
        if (countOf(session->output, text) >= times)
            return true;
        if (!readSome(session, 50))
            usleep(50000);
    }
    return countOf(session->output, text) >= times;
}

void type(PtySession *session, const char *keys)
{
    ssize_t n = write(session->master, keys, strlen(keys));
    ASSERT_EQ(n, static_cast<ssize_t>(strlen(keys)));
}

// Drains the terminal and returns the exit status (-1 when killed or stuck).
int finish(PtySession *session)
{
    int status = 0;
    for (int waited = 0; waited < kWaitMillis; waited += 50) {
        // Once the program has closed the terminal, reading fails at once.
        if (!readSome(session, 50))
            usleep(50000);
        pid_t done = waitpid(session->pid, &status, WNOHANG);
        if (done == session->pid) {
            while (readSome(session, 50)) {
            }
            close(session->master);
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    }
    kill(session->pid, SIGKILL);
    waitpid(session->pid, &status, 0);
    close(session->master);
    return -1;
}

struct RunResult {
    int status;
    std::string out;
    std::string err;
};

// zor with `arguments` in `dir`, standard input from `input` (a file name in
// dir, or /dev/null), both output streams captured.
RunResult runZor(const std::string &dir, const std::string &arguments, const std::string &input = "/dev/null")
{
    std::string command =
        "cd '" + dir + "' && '" ZOR_BINARY "' " + arguments + " <" + input + " >.out 2>.err";
    int status = system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = forgetest::readText(dir + "/.out");
    result.err = forgetest::readText(dir + "/.err");
    return result;
}

void writeFile(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    fputs(text.c_str(), f);
    fclose(f);
}

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = forgetest::makeScratchDir();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override
    {
        if (!HasFailure())
            forgetest::removeScratchDir(dir);
    }
    std::string dir;
};

}  // namespace

using Terminal = ScratchDir;

TEST_F(Terminal, HistoryRecallCompletionAndCtrlDEndsLikeExit)
{
    PtySession session;
    ASSERT_TRUE(startOnPty(&session, dir));
    ASSERT_TRUE(waitFor(&session, "ZOR> "));
    type(&session, "SET BLOCK_SIZE 4096\r");
    ASSERT_TRUE(waitFor(&session, "Current BLOCK_SIZE is : 4096"));
    type(&session, "SET BLOCK_SIZE 2048\r");
    ASSERT_TRUE(waitFor(&session, "Current BLOCK_SIZE is : 2048"));
    // Up arrow twice brings back the first command.
    type(&session, "\033[A\033[A\r");
    ASSERT_TRUE(waitFor(&session, "Current BLOCK_SIZE is : 4096", 2)) << session.output;
    // UNL and Tab complete the command word; the "." cancels the command.
    type(&session, "UNL\t");
    ASSERT_TRUE(waitFor(&session, "OAD")) << session.output;
    type(&session, ".\r");
    ASSERT_TRUE(waitFor(&session, "ZOR> ", 5));
    type(&session, "set verb\t1\r");
    ASSERT_TRUE(waitFor(&session, "Current VERBOSE is : 1")) << session.output;
    // Ctrl-D only once the editor reads again: typed while the terminal is
    // between two prompts, the editor's switch to raw mode may drop it.
    size_t answered = session.output.find("Current VERBOSE is : 1");
    for (int waited = 0; session.output.find("ZOR> ", answered) == std::string::npos && waited < kWaitMillis;
         waited += 50)
        readSome(&session, 50);
    usleep(200000);
    type(&session, "\004");
    EXPECT_EQ(finish(&session), 0) << session.output;

    std::string history = forgetest::readText(dir + "/.zor_history");
    EXPECT_NE(history.find("UNLOAD"), std::string::npos) << history;
    EXPECT_NE(history.find("verbose"), std::string::npos) << history;

    // The next session starts with the history of this one.
    ASSERT_TRUE(startOnPty(&session, dir));
    ASSERT_TRUE(waitFor(&session, "ZOR> "));
    // Newest first: the VERBOSE line, the cancelled UNLOAD, the recalled SET.
    type(&session, "\033[A\033[A\033[A\r");
    ASSERT_TRUE(waitFor(&session, "Current BLOCK_SIZE is : 4096")) << session.output;
    type(&session, "EXIT\r");
    EXPECT_EQ(finish(&session), 0) << session.output;
}

using CommandLineOptions = ScratchDir;

TEST_F(CommandLineOptions, HelpVersionAndBadOptions)
{
    RunResult help = runZor(dir, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: zor [-f script]\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("-f script"), std::string::npos);
    EXPECT_NE(help.out.find("  1  a command failed: a table that does not exist, a file that cannot be\n"),
              std::string::npos);
    EXPECT_NE(help.out.find("  3  every command ran, but some unload was incomplete\n"), std::string::npos);
    EXPECT_EQ(runZor(dir, "-h").out, help.out);

    RunResult version = runZor(dir, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("zor ") + kZorRelease + "\n");

    RunResult bad = runZor(dir, "--frobnicate");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "zor: unknown option --frobnicate\nTry 'zor --help'.\n");
    EXPECT_EQ(runZor(dir, "-f").status, 2);
    // None of these starts a session, so none creates the working directories.
    EXPECT_NE(access((dir + "/ZORDICT").c_str(), F_OK), 0);
}

TEST_F(CommandLineOptions, ScriptRunsAsStandardInputWould)
{
    writeFile(dir + "/good.zor", "SET BLOCK_SIZE 4096\nHELP\nSET FIELD_TAG \\t\n");
    RunResult script = runZor(dir, "-f good.zor");
    RunResult piped = runZor(dir, "", "good.zor");
    EXPECT_EQ(script.status, 0);
    EXPECT_EQ(script.err, "");
    EXPECT_EQ(script.out, piped.out);
    EXPECT_NE(script.out.find("Current BLOCK_SIZE is : 4096"), std::string::npos);

    writeFile(dir + "/bad.zor", "SET BLOCK_SIZE 4096\nFROBNICATE\nEXIT\n");
    RunResult failing = runZor(dir, "-f bad.zor");
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.out.find("  Unknown command!\n"), std::string::npos);
    EXPECT_EQ(runZor(dir, "", "bad.zor").status, 1) << "a piped session ends as the script would";

    RunResult missing = runZor(dir, "-f nosuch.zor");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "zor: cannot open script nosuch.zor: No such file or directory\n");
}

using Diagnostics = ScratchDir;

// Each file that cannot be opened or created gets one line on standard
// error; standard output shows what it always showed.
TEST_F(Diagnostics, FilesThatCannotBeOpenedAreNamedWithTheReason)
{
    writeFile(dir + "/lost.cfg", "missing.dbf\n");
    writeFile(dir + "/in.zor",
              "OPEN nosuch.cfg\n"
              "OPEN lost.cfg\n"
              "@nosuch.zor\n"
              "CORRUPT LOAD nosuch.lst\n"
              "DESC SCOTT.EMP\n"
              "UNLOAD OBJECT 99 EXTENT nosuch.ext TO nodir/out.txt;\n"
              "EXIT\n");
    RunResult run = runZor(dir, "", "in.zor");
    EXPECT_EQ(run.status, 1);
    const char *expected[] = {
        "zor: cannot open configuration file nosuch.cfg: No such file or directory\n",
        "zor: cannot open datafile missing.dbf: No such file or directory\n",
        "zor: cannot open script nosuch.zor: No such file or directory\n",
        "zor: cannot open block list file nosuch.lst: No such file or directory\n",
        "zor: cannot open dictionary file ZORDICT/ZORUSR.TXT: No such file or directory; "
        "UNLOAD TABLE DICT$ rebuilds the dictionary\n",
        "zor: cannot create output file nodir/out.txt: No such file or directory; writing to standard "
        "output\n",
        "zor: cannot open extent file nosuch.ext: No such file or directory; "
        "finding the object's blocks without it\n",
    };
    for (const char *line : expected)
        EXPECT_NE(run.err.find(line), std::string::npos) << line << "in:\n" << run.err;
    EXPECT_EQ(run.out.find("zor: "), std::string::npos) << "diagnostics stay off standard output";
    EXPECT_NE(run.out.find("Cannot open file : missing.dbf \n"), std::string::npos);
}

TEST_F(Diagnostics, UsualMissingFilesStayQuiet)
{
    // No init.sql, no extent file and no LOB map before the first SCAN: normal.
    writeFile(dir + "/in.zor", "SET BLOCK_SIZE 8192\nUNLOAD OBJECT 99;\nEXIT\n");
    RunResult run = runZor(dir, "", "in.zor");
    EXPECT_EQ(run.err, "");
}

using Progress = ScratchDir;

TEST_F(Progress, ShownOnATerminalAbsentOnAPipeStandardOutputUnchanged)
{
    char error[256] = "";
    forge::Manifest manifest;
    ASSERT_TRUE(forge::forgeSample(dir.c_str(), &manifest, error, sizeof error)) << error;
    writeFile(dir + "/in.zor", "OPEN zor.cfg\nUNLOAD TABLE DICT$;\nSCAN EXTENT\nEXIT\n");
    writeFile(dir + "/forced.zor", "SET PROGRESS ON\nOPEN zor.cfg\nUNLOAD TABLE DICT$;\nSCAN EXTENT\nEXIT\n");

    RunResult piped = runZor(dir, "", "in.zor");
    EXPECT_EQ(piped.err, "") << "no meter when standard error is not a terminal";

    PtySession session;
    ASSERT_TRUE(startOnPty(&session, dir, (dir + "/forced.zor").c_str(), (dir + "/pty.out").c_str()));
    EXPECT_EQ(finish(&session), 0);
    EXPECT_NE(session.output.find("  UNLOAD  "), std::string::npos) << session.output;
    EXPECT_NE(session.output.find(" rows  "), std::string::npos) << session.output;
    EXPECT_NE(session.output.find("  SCAN  "), std::string::npos) << session.output;
    EXPECT_NE(session.output.find(" MB/s"), std::string::npos) << session.output;
    // Erased at the end of each command.
    EXPECT_NE(session.output.find("\r\033[K"), std::string::npos);

    RunResult forcedPiped = runZor(dir, "", "forced.zor");
    std::string ptyOut = forgetest::readText(dir + "/pty.out");
    // Only the two date lines of each command may differ between runs.
    auto withoutDates = [](std::string text) {
        std::string kept;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            if (!(line.size() >= 19 && line[line.size() - 3] == ':' && line[line.size() - 6] == ':'))
                kept += line + "\n";
            start = end + 1;
        }
        return kept;
    };
    EXPECT_EQ(withoutDates(ptyOut), withoutDates(forcedPiped.out));
    EXPECT_NE(forcedPiped.err.find("  UNLOAD  "), std::string::npos) << "ON shows it on a pipe too";
}

TEST(ProgressMode, AutoFollowsWhetherStandardErrorIsATerminal)
{
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    int savedErr = dup(STDERR_FILENO);
    ASSERT_GE(savedErr, 0);
    uint64_t rows = 0;

    setProgressMode(kProgressAuto);
    dup2(slave, STDERR_FILENO);
    beginProgress("UNLOAD", 10, 8192, &rows);
    bool onTerminal = progressShowing();
    endProgress();

    int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDERR_FILENO);
    beginProgress("UNLOAD", 10, 8192, &rows);
    bool onFile = progressShowing();
    endProgress();
    setProgressMode(kProgressOn);
    beginProgress("UNLOAD", 10, 8192, &rows);
    bool forced = progressShowing();
    endProgress();
    setProgressMode(kProgressAuto);

    dup2(savedErr, STDERR_FILENO);
    close(savedErr);
    close(devNull);
    close(slave);
    close(master);
    EXPECT_TRUE(onTerminal);
    EXPECT_FALSE(onFile);
    EXPECT_TRUE(forced);
}
