// Line editing, history and word completion when a person types at a
// terminal, through libedit's readline interface (BSD licence, in Debian as
// libedit-dev).  Pipes and files never come here: their lines are read as
// they come, so that what ZOR prints for them stays the same.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include <editline/readline.h>

#include "shell/shell.h"

namespace {

constexpr int kHistoryLines = 1000;
constexpr int kHistoryPathSize = 4096;

// Command words offered at the start of a line.
const char *const kCommandWords[] = {
    "ASM",  "BCHECK",  "CHECK",  "CORRUPT", "DESC",  "DESCRIBE", "EXIT", "HELP", "HOST", "LIST",
    "OPEN", "ORADUMP", "OSDUMP", "REM",     "ROWID", "SAMPLE",   "SCAN", "SET",  "SKIP", "UNLOAD",
};

bool g_started = false;
char g_historyPath[kHistoryPathSize];

// The words typed so far are in lower case: offer the word in lower case too.
char *matchInTypedCase(const char *word, const char *typed)
{
    char *copy = strdup(word);
    if (copy != nullptr && typed[0] >= 'a' && typed[0] <= 'z') {
        for (char *p = copy; *p != '\0'; p++)
            if (*p >= 'A' && *p <= 'Z')
                *p = static_cast<char>(*p - 'A' + 'a');
    }
    return copy;
}

// readline asks for the matches one at a time, state 0 starting a new word.
char *nextCommandWord(const char *text, int state)
{
    static size_t next;
    if (state == 0)
        next = 0;
    size_t length = strlen(text);
    while (next < sizeof kCommandWords / sizeof kCommandWords[0]) {
        const char *word = kCommandWords[next++];
        if (strncasecmp(word, text, length) == 0)
            return matchInTypedCase(word, text);
    }
    return nullptr;
}

char *nextSetOption(const char *text, int state)
{
    static int next;
    if (state == 0)
        next = 0;
    size_t length = strlen(text);
    for (const char *word = setOptionName(next); word != nullptr; word = setOptionName(next)) {
        next++;
        if (strncasecmp(word, text, length) == 0)
            return matchInTypedCase(word, text);
    }
    return nullptr;
}

// Index of the word that starts at `start` in the line being typed.
int wordIndexAt(const char *line, int start)
{
    int index = 0;
    bool inWord = false;
    for (int i = 0; i < start && line[i] != '\0'; i++) {
        bool blank = line[i] == ' ' || line[i] == '\t';
        if (!blank && !inWord)
            index++;
        inWord = !blank;
    }
    return index;
}

bool lineStartsWithSet(const char *line)
{
    while (*line == ' ' || *line == '\t')
        line++;
    return strncasecmp(line, "SET", 3) == 0 && (line[3] == ' ' || line[3] == '\t');
}

// Command words first on the line, option names after SET; elsewhere file
// names (scripts, configuration files, output files).
char **completeWord(const char *text, int start, int end)
{
    (void)end;
    int index = wordIndexAt(rl_line_buffer, start);
    if (index == 0) {
        rl_attempted_completion_over = 1;
        return rl_completion_matches(text, nextCommandWord);
    }
    if (index == 1 && lineStartsWithSet(rl_line_buffer)) {
        rl_attempted_completion_over = 1;
        return rl_completion_matches(text, nextSetOption);
    }
    return nullptr;
}

void startLineEditing()
{
    g_started = true;
    rl_readline_name = "zor";
    rl_attempted_completion_function = completeWord;
    using_history();
    stifle_history(kHistoryLines);
    const char *home = getenv("HOME");
    g_historyPath[0] = '\0';
    if (home != nullptr && home[0] != '\0') {
        snprintf(g_historyPath, sizeof g_historyPath, "%s/.zor_history", home);
        read_history(g_historyPath);
    }
}

void rememberLine(const char *line)
{
    const char *p = line;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == '\0')
        return;
    add_history(line);
    // Written at once, so that a session that ends abruptly keeps its commands.
    if (g_historyPath[0] != '\0')
        write_history(g_historyPath);
}

}  // namespace

bool lineEditingWanted(FILE *in)
{
    return in == stdin && isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
}

bool readEditedLine(const char *prompt, char *line, int size)
{
    if (!g_started)
        startLineEditing();
    fflush(stdout);
    char *typed = readline(prompt);
    if (typed == nullptr)
        return false;
    rememberLine(typed);
    // A physical line holds at most size - 1 characters, as fgets would give.
    snprintf(line, static_cast<size_t>(size), "%s", typed);
    free(typed);
    return true;
}
