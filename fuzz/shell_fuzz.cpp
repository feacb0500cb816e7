// The whole command loop on arbitrary scripts, run in a scratch directory
// beside a small forged database and its dictionary.
//
// Scripts that could leave the scratch directory or the process are passed
// over: shell escapes (HOST, "!"), scripts read from disk ("@"), any "/" or
// ".." (every file a command names stays in the scratch directory), and the
// scans that fork workers (SCAN PARALLELEXT, SCAN DATABASE).  The
// datafiles live in a sibling directory no script can name, and the scratch
// directory is emptied and refilled before every run.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "forge/forge.h"
#include "fuzz_context.h"
#include "fuzz_fixture.h"
#include "shell/shell.h"

namespace {

std::string g_base;      // holds data/ and work/
std::string g_work;      // the current directory of every run
std::string g_config;    // db.cfg naming the datafiles by absolute path

bool containsNoCase(const uint8_t *data, size_t size, const char *word)
{
    size_t n = strlen(word);
    for (size_t i = 0; i + n <= size; i++)
        if (strncasecmp((const char *)data + i, word, n) == 0)
            return true;
    return false;
}

bool scriptAllowed(const uint8_t *data, size_t size)
{
    if (memchr(data, '!', size) || memchr(data, '@', size) || memchr(data, '/', size))
        return false;
    // strncasecmp stops at a NUL; a script with one is still checked whole.
    static const char *const kRefused[] = {"..", "HOST", "PARALLEL", "DATABASE"};
    for (const char *word : kRefused)
        if (containsNoCase(data, size, word))
            return false;
    return true;
}

void removeTree(const std::string &path)
{
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr)
        return;
    struct dirent *entry;
    while ((entry = readdir(dir)) != nullptr) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        std::string child = path + "/" + entry->d_name;
        struct stat st;
        if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            removeTree(child);
            rmdir(child.c_str());
        } else {
            unlink(child.c_str());
        }
    }
    closedir(dir);
}

void writeFile(const std::string &path, const char *text)
{
    FILE *f = fopen(path.c_str(), "w");
    if (f == nullptr)
        return;
    fputs(text, f);
    fclose(f);
}

// The scratch directory as every run starts: the configuration file and the
// dictionary, nothing else.
void resetWorkDirectory()
{
    removeTree(g_work);
    writeFile(g_work + "/db.cfg", g_config.c_str());
    mkdir((g_work + "/ZORDICT").c_str(), 0755);
    int count;
    const FixtureFile *files = fixtureDictionary(&count);
    for (int i = 0; i < count; i++)
        writeFile(g_work + "/" + files[i].name, files[i].text);
}

void removeBase()
{
    removeTree(g_base);
    rmdir(g_base.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    (void)argc;
    (void)argv;
    char base[] = "/tmp/zor-shell-fuzz-XXXXXX";
    if (mkdtemp(base) == nullptr) {
        perror("mkdtemp");
        abort();
    }
    g_base = base;
    atexit(removeBase);
    g_work = g_base + "/work";
    std::string data = g_base + "/data";
    mkdir(g_work.c_str(), 0755);
    char error[512] = "";
    if (!forge::forgeFromText(fixtureDescription(), data.c_str(), error, sizeof error)) {
        fprintf(stderr, "shell_fuzz: forge: %s\n", error);
        abort();
    }
    g_config = data + "/users01.dbf\n" + data + "/users02.dbf\n";
    if (chdir(g_work.c_str()) != 0) {
        perror("chdir");
        abort();
    }
    // The shell talks on standard output.
    silenceFuzzStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!scriptAllowed(data, size))
        return 0;
    resetWorkDirectory();
    FILE *script = fmemopen((void *)data, size, "r");
    if (script == nullptr)
        return 0;
    runZOR(script);
    fclose(script);
    return 0;
}
