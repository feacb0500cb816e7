// ZOR never writes to a datafile: a full rescue session (OPEN, CHECK, the
// dictionary bootstrap, both extent scans, DESC and UNLOAD TABLE of every
// table, block dumps and checks) on the forge's sample database, whose
// datafiles are made read-only, leaves every datafile byte for byte as it
// was.  Mode 0444 does not stop root (CI runs as root), so the comparison of
// the bytes is what decides; the mode is there so that a write that root
// could not make shows up as a failed open for everyone else.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "forge/forge.h"
#include "shell/shell.h"

namespace {

bool readBytes(const std::string &path, std::vector<uint8_t> *out) {
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    out->clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->insert(out->end(), buffer, buffer + n);
    fclose(f);
    return true;
}

// FNV-1a over the whole file: a digest to print beside the byte comparison.
uint64_t digest(const std::vector<uint8_t> &bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

struct DatafileState {
    std::string name;
    std::vector<uint8_t> bytes;
    struct stat status;
};

class ReadOnlyDatafiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zor_read_only_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        char error[512] = "";
        ASSERT_TRUE(forge::forgeSample(dir_.c_str(), &manifest_, error, sizeof error)) << error;
    }
    void TearDown() override {
        std::string command = "chmod -R u+w '" + dir_ + "' && rm -rf '" + dir_ + "'";
        if (system(command.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir_;
    }
    std::string dir_;
    forge::Manifest manifest_;
};

TEST_F(ReadOnlyDatafiles, FullRescueSessionLeavesEveryDatafileUnchanged) {
    std::vector<DatafileState> files;
    for (const char *name : {"system01.dbf", "users01.dbf"}) {
        DatafileState f;
        f.name = name;
        std::string path = dir_ + "/" + name;
        ASSERT_EQ(chmod(path.c_str(), 0444), 0) << path;
        ASSERT_TRUE(readBytes(path, &f.bytes)) << path;
        ASSERT_EQ(stat(path.c_str(), &f.status), 0) << path;
        files.push_back(f);
    }

    std::string script = "OPEN zor.cfg\nCHECK\nSET BLOCK_CHECK 1\nUNLOAD TABLE DICT$;\nSET BLOCK_CHECK 0\n"
                         "SET ROW_ADDRESS 1\nSCAN EXTENT;\nSCAN PARALLELEXT;\nSCAN HEADER;\nSCAN DATA;\n"
                         "LIST USER\nLIST TABLE SCOTT\n";
    size_t unloads = 0;
    for (const forge::ManifestTable &t : manifest_.tables) {
        std::string name = t.owner + "." + t.name;
        script += "DESC " + name + "\n";
        script += "UNLOAD TABLE " + name;
        if (!t.partition.empty()) script += " PARTITION " + t.partition;
        script += " TO t" + std::to_string(unloads++) + ".txt;\n";
    }
    for (const char *block : {"0", "1", "2", "9", "130", "137", "255", "256"}) {
        for (const char *file : {"1", "4"}) {
            script += std::string("ORADUMP FILE ") + file + " BLOCK " + block + "\n";
            script += std::string("OSDUMP FILE ") + file + " BLOCK " + block + "\n";
            script += std::string("BCHECK FILE ") + file + " BLOCK " + block + "\n";
        }
    }
    script += "SET OUTPUT_STYLE DMP\nUNLOAD TABLE SCOTT.EMP TO emp.dmp;\nEXIT\n";

    // The session runs in a child process: ZOR works in its current
    // directory and the parallel scan forks workers of its own.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir_.c_str()) != 0) _exit(2);
        mkdir("ZORDICT", 0777);
        mkdir("LOBDATA", 0777);
        if (freopen("session.txt", "w", stdout) == nullptr) _exit(3);
        FILE *in = fmemopen(const_cast<char *>(script.data()), script.size(), "r");
        if (in == nullptr) _exit(4);
        int status = runZOR(in);
        fflush(stdout);
        _exit(status == 0 ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the session ended by signal " << WTERMSIG(status);
    ASSERT_EQ(WEXITSTATUS(status), 0);

    for (const DatafileState &f : files) {
        std::string path = dir_ + "/" + f.name;
        std::vector<uint8_t> after;
        ASSERT_TRUE(readBytes(path, &after)) << path;
        EXPECT_EQ(digest(after), digest(f.bytes)) << f.name;
        EXPECT_TRUE(after == f.bytes) << f.name << " changed: " << f.bytes.size() << " bytes before, "
                                      << after.size() << " after";
        struct stat now;
        ASSERT_EQ(stat(path.c_str(), &now), 0);
        EXPECT_EQ(now.st_mode & 07777, 0444u) << f.name;
        EXPECT_EQ(now.st_mtim.tv_sec, f.status.st_mtim.tv_sec) << f.name;
        EXPECT_EQ(now.st_mtim.tv_nsec, f.status.st_mtim.tv_nsec) << f.name;
    }

    // The session really read the files: EMP came out whole.
    std::vector<uint8_t> session;
    ASSERT_TRUE(readBytes(dir_ + "/session.txt", &session));
    std::string printed(session.begin(), session.end());
    EXPECT_NE(printed.find("Sucessfully unload 14 rows"), std::string::npos) << printed.substr(0, 2000);
    EXPECT_EQ(printed.find("Cannot open file"), std::string::npos);
}

}  // namespace
